// IOUSBLib stand-in: the USB device interface (open, descriptors, string
// requests, configurations, interface iteration) and the interface interface
// (open, alternate settings, pipe properties, control requests on pipe 0,
// stall clearing) over the back ends of IOKitBackend.h.
//
// Pipe 0 is the default control pipe; pipes 1..n are the endpoints of the
// interface's current alternate setting, in descriptor order.
#pragma once
#include "platform/iokit/IOKitLib.h"

enum : UInt8 { kUSBOut = 0, kUSBIn = 1, kUSBNone = 2, kUSBAnyDirn = 3 };
enum : UInt8 { kUSBControl = 0, kUSBIsoc = 1, kUSBBulk = 2, kUSBInterrupt = 3, kUSBAnyType = 0xFF };
enum : UInt8 { kUSBDeviceDesc = 1, kUSBConfDesc = 2, kUSBStringDesc = 3, kUSBInterfaceDesc = 4, kUSBEndpointDesc = 5 };
enum : UInt8 { kUSBRqGetDescriptor = 6, kUSBRqSetConfig = 9 };
enum : UInt16 { kIOUSBFindInterfaceDontCare = 0xFFFF };

struct IOUSBDevRequest {
  UInt8 bmRequestType;
  UInt8 bRequest;
  UInt16 wValue;
  UInt16 wIndex;
  UInt16 wLength;
  void* pData;
  UInt32 wLenDone;
};

struct IOUSBDevRequestTO {
  UInt8 bmRequestType;
  UInt8 bRequest;
  UInt16 wValue;
  UInt16 wIndex;
  UInt16 wLength;
  void* pData;
  UInt32 wLenDone;
  UInt32 noDataTimeout;
  UInt32 completionTimeout;
};

struct IOUSBFindInterfaceRequest {
  UInt16 bInterfaceClass;
  UInt16 bInterfaceSubClass;
  UInt16 bInterfaceProtocol;
  UInt16 bAlternateSetting;
};

// The configuration descriptor header as the device sent it (little-endian
// wTotalLength); the whole descriptor follows it in memory.
struct IOUSBConfigurationDescriptor {
  UInt8 bLength;
  UInt8 bDescriptorType;
  UInt8 wTotalLength[2];
  UInt8 bNumInterfaces;
  UInt8 bConfigurationValue;
  UInt8 iConfiguration;
  UInt8 bmAttributes;
  UInt8 MaxPower;
};
typedef IOUSBConfigurationDescriptor* IOUSBConfigurationDescriptorPtr;

// Completion of an asynchronous request: arg0 carries the bytes moved.
typedef void (*IOAsyncCallback1)(void* refcon, IOReturn result, void* arg0);

struct IOUSBDeviceInterface;
typedef IOUSBDeviceInterface** IOUSBDeviceRef;
struct IOUSBInterfaceInterface;
typedef IOUSBInterfaceInterface** IOUSBInterfaceRef;

struct IOUSBDeviceInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  // Open answers kIOReturnExclusiveAccess while another client holds the device.
  IOReturn (*USBDeviceOpen)(IOUSBDeviceRef self);
  IOReturn (*USBDeviceClose)(IOUSBDeviceRef self);
  IOReturn (*GetDeviceVendor)(IOUSBDeviceRef self, UInt16* vendor);
  IOReturn (*GetDeviceProduct)(IOUSBDeviceRef self, UInt16* product);
  IOReturn (*USBGetManufacturerStringIndex)(IOUSBDeviceRef self, UInt8* index);
  IOReturn (*USBGetProductStringIndex)(IOUSBDeviceRef self, UInt8* index);
  IOReturn (*USBGetSerialNumberStringIndex)(IOUSBDeviceRef self, UInt8* index);
  IOReturn (*GetNumberOfConfigurations)(IOUSBDeviceRef self, UInt8* count);
  IOReturn (*GetConfigurationDescriptorPtr)(IOUSBDeviceRef self, UInt8 index,
                                            IOUSBConfigurationDescriptorPtr* descriptor);
  // Needs the device open.
  IOReturn (*SetConfiguration)(IOUSBDeviceRef self, UInt8 configValue);
  IOReturn (*GetConfiguration)(IOUSBDeviceRef self, UInt8* configValue);
  IOReturn (*DeviceRequest)(IOUSBDeviceRef self, IOUSBDevRequest* request);
  IOReturn (*DeviceRequestTO)(IOUSBDeviceRef self, IOUSBDevRequestTO* request);
  // The interfaces of the current configuration (empty before one is set).
  IOReturn (*CreateInterfaceIterator)(IOUSBDeviceRef self, IOUSBFindInterfaceRequest* request,
                                      io_iterator_t* iterator);
  IOReturn (*GetDeviceService)(IOUSBDeviceRef self, io_service_t* service);
};

struct IOUSBInterfaceInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  IOReturn (*USBInterfaceOpen)(IOUSBInterfaceRef self);
  IOReturn (*USBInterfaceClose)(IOUSBInterfaceRef self);
  IOReturn (*GetInterfaceNumber)(IOUSBInterfaceRef self, UInt8* number);
  IOReturn (*GetAlternateSetting)(IOUSBInterfaceRef self, UInt8* setting);
  IOReturn (*GetNumEndpoints)(IOUSBInterfaceRef self, UInt8* count);
  // Needs the interface open.
  IOReturn (*SetAlternateInterface)(IOUSBInterfaceRef self, UInt8 alternateSetting);
  IOReturn (*GetPipeProperties)(IOUSBInterfaceRef self, UInt8 pipeRef, UInt8* direction,
                                UInt8* number, UInt8* transferType, UInt16* maxPacketSize,
                                UInt8* interval);
  IOReturn (*ControlRequest)(IOUSBInterfaceRef self, UInt8 pipeRef, IOUSBDevRequest* request);
  IOReturn (*ControlRequestTO)(IOUSBInterfaceRef self, UInt8 pipeRef, IOUSBDevRequestTO* request);
  IOReturn (*ClearPipeStallBothEnds)(IOUSBInterfaceRef self, UInt8 pipeRef);
  IOReturn (*GetDevice)(IOUSBInterfaceRef self, io_service_t* device);
  // Asynchronous requests complete through the interface's event source, on
  // the run loop it has been added to (one source per interface).
  IOReturn (*CreateInterfaceAsyncEventSource)(IOUSBInterfaceRef self, CFRunLoopSourceRef* source);
  CFRunLoopSourceRef (*GetInterfaceAsyncEventSource)(IOUSBInterfaceRef self);
  // One bulk IN transfer of up to `size` bytes into `buffer`; the callback
  // gets the status and the byte count. Needs the event source.
  IOReturn (*ReadPipeAsync)(IOUSBInterfaceRef self, UInt8 pipeRef, void* buffer, UInt32 size,
                            IOAsyncCallback1 callback, void* refcon);
  // 0, or kIOUSBPipeStalled while the endpoint is halted.
  IOReturn (*GetPipeStatus)(IOUSBInterfaceRef self, UInt8 pipeRef);
  // Outstanding transfers complete with kIOReturnAborted.
  IOReturn (*AbortPipe)(IOUSBInterfaceRef self, UInt8 pipeRef);
};
