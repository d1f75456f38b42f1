// Register access over FireWire (quadlet transactions) and USB (vendor
// control requests on pipe 0, data little-endian on the wire).
#include "camera_driver/DCAMInternal.h"
#include "platform/coreservices/CoreServices.h"

namespace {

// One busy count per kind of access, shared by every open camera. Taking one
// is a compare-and-swap from 0 to 1, so of two racing callers exactly one wins.
SInt32 gOffsetReadBusy = 0;
SInt32 gAbsoluteReadBusy = 0;
SInt32 gOffsetWriteBusy = 0;
SInt32 gAbsoluteWriteBusy = 0;

class BusyCount {
 public:
  explicit BusyCount(SInt32* count) : count_(count), owned_(CompareAndSwap(0, 1, count)) {}
  ~BusyCount() {
    if (owned_) DecrementAtomic(count_);
  }
  bool Owned() const { return owned_; }

 private:
  SInt32* count_;
  bool owned_;
};

bool IsUSB(const MyDCAMCameraStruct* camera) { return camera->mVendor == kDCAMUSBVendor; }

OSStatus FireWireRead(MyDCAMCameraStruct* camera, UInt16 hi, UInt32 lo, UInt32* value) {
  IOFireWireLibDeviceRef dev = camera->mFWDevice;
  if (!dev) return kIOReturnNoDevice;
  FWAddress address = {0, hi, lo};
  return (*dev)->ReadQuadlet(dev, (*dev)->GetDevice(dev), &address, value, false, 0);
}

OSStatus FireWireWrite(MyDCAMCameraStruct* camera, UInt16 hi, UInt32 lo, UInt32 value) {
  IOFireWireLibDeviceRef dev = camera->mFWDevice;
  if (!dev) return kIOReturnNoDevice;
  FWAddress address = {0, hi, lo};
  return (*dev)->WriteQuadlet(dev, (*dev)->GetDevice(dev), &address, value, false, 0);
}

// USB readers: overrun counts as success and leaves the value alone; a short
// transfer (-1) has stored what came; any other failure stores 0.
OSStatus USBRead(MyDCAMCameraStruct* camera, UInt32 offset, UInt32* value) {
  OSStatus err = myUSBReadControlPipeQuadlet(camera, offset, value);
  if (err != noErr && err != -1) *value = 0;
  return err;
}

}  // namespace

OSStatus myUSBReadControlPipeQuadlet(MyDCAMCameraStruct* camera, UInt32 offset, UInt32* value) {
  if (!camera || !camera->mUSBInterface) return -1;
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  UInt8 data[4] = {0, 0, 0, 0};
  IOUSBDevRequestTO request = {0xC0, 0x7F, UInt16(offset & 0xFFFF), 0xF0F0, 4, data, 0, 5000, 5000};
  OSStatus err = (*intf)->ControlRequestTO(intf, 0, &request);
  if (err == kIOReturnOverrun) return noErr;
  if (err != noErr) return err;
  *value = UInt32(data[0]) | UInt32(data[1]) << 8 | UInt32(data[2]) << 16 | UInt32(data[3]) << 24;
  return request.wLenDone == 4 ? noErr : -1;
}

OSStatus myUSBWriteControlPipeQuadlet(MyDCAMCameraStruct* camera, UInt32 offset, UInt32 value) {
  if (!camera || !camera->mUSBInterface) return -1;
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  UInt8 data[4] = {UInt8(value), UInt8(value >> 8), UInt8(value >> 16), UInt8(value >> 24)};
  IOUSBDevRequestTO request = {0x40, 0x7F, UInt16(offset & 0xFFFF), 0xF0F0, 4, data, 0, 5000, 0};
  OSStatus err = (*intf)->ControlRequestTO(intf, 0, &request);
  if (err == noErr || err == kIOReturnOverrun) return err;
  (*intf)->ClearPipeStallBothEnds(intf, 0);
  return err;
}

OSStatus myGetRegisterQuadlet(MyDCAMCameraStruct* camera, UInt32 offset, UInt32* value) {
  if (!camera || !value) return kIOReturnNoDevice;
  BusyCount busy(&gOffsetReadBusy);
  if (!busy.Owned()) return kDCAMBusyErr;
  if (IsUSB(camera)) return USBRead(camera, offset, value);
  OSStatus err = FireWireRead(camera, 0xFFFF, camera->mCommandBase + offset, value);
  if (err != noErr) *value = 0;
  return err;
}

OSStatus myGetAddressQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, UInt32* value) {
  if (!camera || !value) return kIOReturnNoDevice;
  BusyCount busy(&gAbsoluteReadBusy);
  if (!busy.Owned()) return kDCAMBusyErr;
  if (IsUSB(camera)) return USBRead(camera, addressLo, value);
  OSStatus err = FireWireRead(camera, UInt16(addressHi), addressLo, value);
  if (err != noErr) *value = 0;
  return err;
}

OSStatus mySetRegisterQuadlet(MyDCAMCameraStruct* camera, UInt32 offset, UInt32 value) {
  if (!camera) return kIOReturnNoDevice;
  BusyCount busy(&gOffsetWriteBusy);
  if (!busy.Owned()) return kDCAMBusyErr;
  if (IsUSB(camera)) return myUSBWriteControlPipeQuadlet(camera, offset, value);
  return FireWireWrite(camera, 0xFFFF, camera->mCommandBase + offset, value);
}

OSStatus mySetAddressQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, UInt32 value) {
  if (!camera) return kIOReturnNoDevice;
  BusyCount busy(&gAbsoluteWriteBusy);
  if (!busy.Owned()) return kDCAMBusyErr;
  if (IsUSB(camera)) return myUSBWriteControlPipeQuadlet(camera, addressLo, value);
  return FireWireWrite(camera, UInt16(addressHi), addressLo, value);
}

OSStatus ORX_DCAM_ReadQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, SInt32 absolute,
                              UInt32* value) {
  if (!camera) return kIOReturnNoDevice;
  if (absolute == 1) return myGetAddressQuadlet(camera, addressHi, addressLo, value);
  return myGetRegisterQuadlet(camera, addressLo, value);
}

OSStatus ORX_DCAM_WriteQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, SInt32 absolute,
                               UInt32 value) {
  if (!camera) return kIOReturnNoDevice;
  if (absolute == 1) return mySetAddressQuadlet(camera, addressHi, addressLo, value);
  return mySetRegisterQuadlet(camera, addressLo, value);
}
