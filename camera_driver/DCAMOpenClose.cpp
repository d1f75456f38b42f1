// Opening and closing a camera: finding its unit or device by id, the bus
// objects, the I/O thread and the receive memory.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "camera_driver/DCAMInternal.h"
#include "platform/coreservices/CoreServices.h"

namespace {

constexpr size_t kSegmentSpacing = 0x438000;  // 270 packet slots of 16384 bytes
constexpr size_t kReceiveBytes = 0xCA8000;    // three segments

bool NumberProperty(io_registry_entry_t entry, const char* key, UInt64* value) {
  CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
  CFTypeRef v = IORegistryEntryCreateCFProperty(entry, k, kCFAllocatorDefault, 0);
  CFRelease(k);
  if (!v) return false;
  SInt64 n = 0;
  bool ok = CFGetTypeID(v) == CFNumberGetTypeID() && CFNumberGetValue(CFNumberRef(v), kCFNumberSInt64Type, &n);
  CFRelease(v);
  *value = UInt64(n);
  return ok;
}

void ProcessorFlags(MyDCAMCameraStruct* camera) {
  SInt32 response = 0;
  if (Gestalt(FOUR_CHAR_CODE("ppcf"), &response) != noErr || !(response & 0x10)) return;
  camera->mHasVectorUnit = 1;
  host_basic_info_data_t info = {};
  mach_msg_type_number_t count = HOST_BASIC_INFO_COUNT;
  if (host_info(mach_host_self(), HOST_BASIC_INFO, reinterpret_cast<host_info_t>(&info), &count) == KERN_SUCCESS &&
      info.cpu_type == CPU_TYPE_POWERPC && info.cpu_subtype == CPU_SUBTYPE_POWERPC_970)
    camera->mIsPPC970 = 1;
}

// The IIDC unit whose GUID low word is the id; false when none is.
bool FindFireWireUnit(MyDCAMCameraStruct* camera, UInt32 cameraID) {
  camera->mMasterPort = kIOMasterPortDefault;
  if (IOServiceGetMatchingServices(kIOMasterPortDefault, myCreateMatchingDictionary(0xA02D),
                                   &camera->mFWIterator) != noErr)
    return false;
  io_service_t unit;
  while ((unit = IOIteratorNext(camera->mFWIterator)) != IO_OBJECT_NULL) {
    UInt64 guid;
    if (!NumberProperty(unit, "GUID", &guid)) {
      IOObjectRelease(unit);
      break;
    }
    if (UInt32(guid) != cameraID) {
      IOObjectRelease(unit);
      continue;
    }
    camera->mFWUnit = unit;
    camera->mVendor = UInt32(guid >> 32);
    camera->mGUIDLow = UInt32(guid);
    UInt64 version;
    camera->mIIDCVersion = NumberProperty(unit, "Unit_SW_Version", &version) ? UInt32(version) : 0x100;
    return true;
  }
  IOObjectRelease(camera->mFWIterator);
  camera->mFWIterator = IO_OBJECT_NULL;
  return false;
}

OSStatus MapReceiveMemory(MyDCAMCameraStruct* camera) {
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  const size_t size = 5 * page + kReceiveBytes;
  void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) return memFullErr;
  std::memset(region, 0xFF, size);
  camera->mRecvRegion = region;
  camera->mRecvRegionSize = size;
  UInt8* base = static_cast<UInt8*>(region);  // mmap gives a page boundary
  for (int s = 0; s < 3; s++) camera->mSegmentBase[s] = base + s * kSegmentSpacing;
  UInt8* lastPage = base + size - page;
  for (int s = 0; s < 3; s++) camera->mSegmentTimeStamp[s] = reinterpret_cast<UInt32*>(lastPage + 16 * s);
  return noErr;
}

OSStatus OpenFireWireCamera(MyDCAMCameraStruct* camera) {
  SInt32 score = 0;
  OSStatus err = IOCreatePlugInInterfaceForService(camera->mFWUnit, kIOFireWireLibTypeID, kIOCFPlugInInterfaceID,
                                                   &camera->mFWPlugIn, &score);
  if (err != noErr) return err;
  if (!camera->mFWPlugIn) return kIOReturnError;
  IOCFPlugInInterface** plugIn = camera->mFWPlugIn;
  (*plugIn)->QueryInterface(plugIn, kIOFireWireDeviceInterfaceID_v3, (LPVOID*)&camera->mFWDevice);
  camera->mFWInterfaceGeneration = 3;
  if (!camera->mFWDevice) {
    (*plugIn)->QueryInterface(plugIn, kIOFireWireDeviceInterfaceID_v2, (LPVOID*)&camera->mFWDevice);
    camera->mFWInterfaceGeneration = 2;
  }
  if (!camera->mFWDevice) {
    camera->mFWInterfaceGeneration = 0;
    return kIOReturnError;
  }
  IOFireWireLibDeviceRef dev = camera->mFWDevice;

  CFBundleRef bundle = CFBundleGetBundleWithIdentifier(CFSTR("com.apple.IOFireWireLib"));
  camera->mFWLibVersion = bundle ? CFBundleGetVersionNumber(bundle) : 0;

  if ((err = myStartIOThread(camera)) != noErr) return err;
  if (!(*dev)->AddIsochCallbackDispatcherToRunLoop(dev, camera->mIORunLoop)) return kIOReturnError;
  camera->mIsochDispatcherAdded = 1;
  if ((err = (*dev)->AddCallbackDispatcherToRunLoop(dev, CFRunLoopGetCurrent())) != noErr) return err;
  camera->mFWCallbackDispatcherAdded = 1;

  if ((err = MapReceiveMemory(camera)) != noErr) return err;

  if ((err = (*dev)->Open(dev)) != noErr) return err;
  IOFireWireLibConfigDirectoryRef unitDir = (*dev)->GetConfigDirectory(dev, kIOFireWireConfigDirectoryInterfaceID);
  IOFireWireLibConfigDirectoryRef depDir = nullptr;
  if (unitDir) {
    (*unitDir)->GetKeyValue_ConfigDirectory(unitDir, kConfigUnitDependentInfoKey, &depDir,
                                            kIOFireWireConfigDirectoryInterfaceID);
    (*unitDir)->Release(unitDir);
  }
  if (!depDir) return kIOReturnNoMemory;
  // The command registers: the offset entry with key 0, else the first entry.
  int count = 0, index = 0;
  (*depDir)->GetNumEntries(depDir, &count);
  for (int i = 0; i < count; i++) {
    int key = -1;
    if ((*depDir)->GetIndexKey(depDir, i, &key) == noErr && key == 0) {
      index = i;
      break;
    }
  }
  FWAddress base = {0, 0, 0};
  (*depDir)->GetIndexOffset_FWAddress(depDir, index, &base);
  camera->mCommandBase = base.addressLo <= 0xFFFE ? base.addressLo << 16 : base.addressLo;
  myExtractIIDCProductName(depDir, camera->mName);
  (*depDir)->Release(depDir);

  myExtractDCAMProperties(camera);

  UInt32 generation = 0;
  IOFWSpeed speed = kFWSpeed400MBit;
  if ((*dev)->GetBusGeneration(dev, &generation) != noErr || (*dev)->GetSpeedToNode(dev, generation, &speed) != noErr)
    speed = kFWSpeed400MBit;
  camera->mBusSpeed = speed;
  // At S1600 the bus would carry 0x61A0 bytes, more than a receive slot
  // holds beside the packet's header: the largest packet must fit its slot.
  camera->mMaxPacketBytes =
      speed >= 5 ? kDCAMLargestIsochPayload : std::min<UInt32>(0x61Au << speed, kDCAMLargestIsochPayload);
  return noErr;
}

// One USB device as the camera: plug-ins, open, strings, configuration and
// the first interface that opens with its pipes. Statuses -10, -20, -30,
// -100, -200 name the step that found nothing.
OSStatus OpenUSBCandidate(MyDCAMCameraStruct* camera) {
  IOCFPlugInInterface** plugIn = nullptr;
  SInt32 score = 0;
  IOCreatePlugInInterfaceForService(camera->mUSBDeviceService, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID,
                                    &plugIn, &score);
  if (!plugIn) return -10;
  (*plugIn)->QueryInterface(plugIn, kIOUSBDeviceInterfaceID, (LPVOID*)&camera->mUSBDevice);
  IODestroyPlugInInterface(plugIn);
  if (!camera->mUSBDevice) return -20;
  IOUSBDeviceRef dev = camera->mUSBDevice;

  OSStatus err = (*dev)->USBDeviceOpen(dev);
  if (err != noErr) {
    (*dev)->Release(dev);  // never opened: nothing to close
    camera->mUSBDevice = nullptr;
    return err;
  }
  UInt8 index = 0;
  if ((*dev)->USBGetProductStringIndex(dev, &index) == noErr && index &&
      (err = myGetUSBStringDescriptor(dev, index, camera->mName, 80, 0)) != noErr)
    return err;
  if ((*dev)->USBGetSerialNumberStringIndex(dev, &index) == noErr && index) {
    char serial[31];
    if ((err = myGetUSBStringDescriptor(dev, index, serial, sizeof serial, 0)) != noErr) return err;
    camera->mGUIDLow = myParseUSBSerial(serial);
  }
  UInt8 configurations = 0;
  (*dev)->GetNumberOfConfigurations(dev, &configurations);
  camera->mUSBNumConfigurations = configurations;
  if (configurations == 0) return -30;
  IOUSBConfigurationDescriptorPtr config = nullptr;
  if ((err = (*dev)->GetConfigurationDescriptorPtr(dev, 0, &config)) != noErr) return err;
  if ((err = (*dev)->SetConfiguration(dev, config->bConfigurationValue)) != noErr) return err;

  IOUSBFindInterfaceRequest request = {kIOUSBFindInterfaceDontCare, kIOUSBFindInterfaceDontCare,
                                       kIOUSBFindInterfaceDontCare, kIOUSBFindInterfaceDontCare};
  io_iterator_t interfaces = IO_OBJECT_NULL;
  if ((err = (*dev)->CreateInterfaceIterator(dev, &request, &interfaces)) != noErr) return err;
  err = -100;
  io_service_t service;
  while ((service = IOIteratorNext(interfaces)) != IO_OBJECT_NULL) {
    camera->mUSBInterfaceService = service;
    IOCFPlugInInterface** intfPlugIn = nullptr;
    IOCreatePlugInInterfaceForService(service, kIOUSBInterfaceUserClientTypeID, kIOCFPlugInInterfaceID, &intfPlugIn,
                                      &score);
    if (!intfPlugIn) {
      err = -100;
    } else {
      (*intfPlugIn)->QueryInterface(intfPlugIn, kIOUSBInterfaceInterfaceID, (LPVOID*)&camera->mUSBInterface);
      IODestroyPlugInInterface(intfPlugIn);
      err = camera->mUSBInterface ? noErr : -200;
    }
    IOUSBInterfaceRef intf = camera->mUSBInterface;
    bool opened = false;
    if (err == noErr) opened = (err = (*intf)->USBInterfaceOpen(intf)) == noErr;
    if (err == noErr) {
      UInt8 endpoints = 0;
      (*intf)->GetNumEndpoints(intf, &endpoints);
      if (endpoints == 0) {
        err = (*intf)->SetAlternateInterface(intf, 1);
        if (err == noErr) (*intf)->GetNumEndpoints(intf, &endpoints);
      }
      camera->mUSBNumEndpoints = endpoints;
      for (UInt8 pipe = 1; err == noErr && pipe <= endpoints; pipe++) {
        err = (*intf)->GetPipeProperties(intf, pipe, &camera->mUSBPipeDirection, &camera->mUSBPipeNumber,
                                         &camera->mUSBPipeTransferType, &camera->mUSBPipeMaxPacketSize,
                                         &camera->mUSBPipeInterval);
        if (err == noErr) camera->mUSBPipeIndex = pipe;
      }
    }
    if (err == noErr) break;
    // This interface does not serve: release it and try the next one.
    if (intf) {
      if (opened) (*intf)->USBInterfaceClose(intf);
      (*intf)->Release(intf);
      camera->mUSBInterface = nullptr;
    }
    IOObjectRelease(service);
    camera->mUSBInterfaceService = IO_OBJECT_NULL;
  }
  IOObjectRelease(interfaces);
  return err;
}

// The USB camera whose serial is the id. Statuses as OpenUSBCandidate.
OSStatus OpenUSBCamera(MyDCAMCameraStruct* camera, UInt32 cameraID) {
  io_iterator_t devices = IO_OBJECT_NULL;
  OSStatus err = IOServiceGetMatchingServices(kIOMasterPortDefault, IOServiceMatching("IOUSBDevice"), &devices);
  if (err != noErr) return err;
  err = kIOReturnNoDevice;
  io_service_t device;
  while ((device = IOIteratorNext(devices)) != IO_OBJECT_NULL) {
    UInt64 vendor = 0;
    if (!NumberProperty(device, "idVendor", &vendor) || vendor != kDCAMUSBVendor) {
      IOObjectRelease(device);
      continue;
    }
    camera->mVendor = kDCAMUSBVendor;
    camera->mIIDCVersion = 0x103;
    camera->mGUIDLow = 0;
    camera->mUSBDeviceService = device;
    err = OpenUSBCandidate(camera);
    if (err == noErr && camera->mGUIDLow == cameraID) break;
    myFinalizeUSBDevice(camera);
    if (err == noErr || err == kIOReturnExclusiveAccess) {
      err = kIOReturnNoDevice;
      continue;
    }
    break;
  }
  IOObjectRelease(devices);
  if (err != noErr) return err;
  camera->mCameraID = camera->mGUIDLow;
  camera->mBusSpeed = kFWSpeed400MBit;
  camera->mMaxPacketBytes = 0x1000;
  myExtractDCAMProperties(camera);
  return noErr;
}

}  // namespace

// ------------------------------------------------------------ the I/O thread

SInt32 gDCAMTestHoldIOThreadExit = 0;

void* myISOCHThreadLoop(void* arg) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(arg);
  pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
  pthread_mutex_lock(&camera->mIOMutex);
  myAtomicStore(&camera->mIORun, 1);
  myAtomicStore(&camera->mIOAlive, 1);
  camera->mIORunLoop = CFRunLoopGetCurrent();
  pthread_cond_broadcast(&camera->mIOCond);
  pthread_mutex_unlock(&camera->mIOMutex);
  while (myAtomicLoad(&camera->mIORun)) {
    // With no source on the loop yet the run returns at once; do not spin.
    if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1.0, false) == kCFRunLoopRunFinished) usleep(1000);
  }
  while (myAtomicLoad(&gDCAMTestHoldIOThreadExit)) usleep(1000);
  myAtomicStore(&camera->mIOAlive, 0);
  return nullptr;
}

OSStatus myStartIOThread(MyDCAMCameraStruct* camera) {
  pthread_mutex_init(&camera->mIOMutex, nullptr);
  pthread_cond_init(&camera->mIOCond, nullptr);
  pthread_attr_init(&camera->mIOThreadAttr);
  camera->mIOThreadObjectsMade = 1;
  int err = pthread_create(&camera->mIOThread, &camera->mIOThreadAttr, myISOCHThreadLoop, camera);
  if (err != 0) {
    std::fprintf(stderr, "myStartIOThread pthread_create failed Err = 0x%x %d\n", err, err);
    return memFullErr;
  }
  pthread_detach(camera->mIOThread);
  pthread_mutex_lock(&camera->mIOMutex);
  while (!myAtomicLoad(&camera->mIOAlive)) pthread_cond_wait(&camera->mIOCond, &camera->mIOMutex);
  pthread_mutex_unlock(&camera->mIOMutex);
  usleep(10000);
  return noErr;
}

bool myStopIOThread(MyDCAMCameraStruct* camera) {
  if (!camera->mIOThreadObjectsMade) return true;
  if (myAtomicLoad(&camera->mIOAlive)) {
    myAtomicStore(&camera->mIORun, 0);
    CFRunLoopStop(camera->mIORunLoop);
    int polls = 0;
    while (myAtomicLoad(&camera->mIOAlive) && polls < 1000) {
      usleep(1000);
      polls++;
    }
    if (myAtomicLoad(&camera->mIOAlive)) {
      std::fprintf(stderr, "myStopIOThread I/O thread did not leave Err = 0x%x %d\n", kDCAMBusyErr, kDCAMBusyErr);
      return false;
    }
  }
  pthread_attr_destroy(&camera->mIOThreadAttr);
  pthread_cond_destroy(&camera->mIOCond);
  pthread_mutex_destroy(&camera->mIOMutex);
  camera->mIOThreadObjectsMade = 0;
  camera->mIORunLoop = nullptr;
  return true;
}

// ------------------------------------------------------------ bus objects

bool myFinalizeFWInterface(MyDCAMCameraStruct* camera) {
  IOFireWireLibDeviceRef dev = camera->mFWDevice;
  myFinalizeISOCHChanel(camera);
  if (!myDeallocateWFFSThread(camera)) return false;
  if (dev && camera->mFWCallbackDispatcherAdded) (*dev)->RemoveCallbackDispatcherFromRunLoop(dev);
  camera->mFWCallbackDispatcherAdded = 0;
  if (dev && camera->mIsochDispatcherAdded && camera->mFWInterfaceGeneration > 2)
    (*dev)->RemoveIsochCallbackDispatcherFromRunLoop(dev);
  camera->mIsochDispatcherAdded = 0;
  if (!myStopIOThread(camera)) return false;
  if (camera->mRecvRegion) munmap(camera->mRecvRegion, camera->mRecvRegionSize);
  camera->mRecvRegion = nullptr;
  if (dev) {
    (*dev)->Close(dev);
    (*dev)->Release(dev);
    camera->mFWDevice = nullptr;
  }
  if (camera->mFWPlugIn) IODestroyPlugInInterface(camera->mFWPlugIn);
  camera->mFWPlugIn = nullptr;
  if (camera->mFWUnit) IOObjectRelease(camera->mFWUnit);
  if (camera->mFWIterator) IOObjectRelease(camera->mFWIterator);
  camera->mFWUnit = camera->mFWIterator = IO_OBJECT_NULL;
  camera->mMasterPort = 0;
  return true;
}

void myFinalizeUSBDevice(MyDCAMCameraStruct* camera) {
  if (IOUSBInterfaceRef intf = camera->mUSBInterface) {
    (*intf)->USBInterfaceClose(intf);
    (*intf)->Release(intf);
    camera->mUSBInterface = nullptr;
  }
  if (camera->mUSBInterfaceService) IOObjectRelease(camera->mUSBInterfaceService);
  camera->mUSBInterfaceService = IO_OBJECT_NULL;
  if (IOUSBDeviceRef dev = camera->mUSBDevice) {
    (*dev)->USBDeviceClose(dev);
    (*dev)->Release(dev);
    camera->mUSBDevice = nullptr;
  }
  if (camera->mUSBDeviceService) IOObjectRelease(camera->mUSBDeviceService);
  camera->mUSBDeviceService = IO_OBJECT_NULL;
}

// ------------------------------------------------------------ open and close

MyDCAMCameraStruct* ORX_DCAM_OpenACamera(UInt32 cameraID) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
  if (!camera) return nullptr;
  camera->mDeliveredSlot = 0xFF;
  camera->mWaitForFrameStart = 1;
  camera->mDeliveryEnabled = 1;
  camera->mFormat = 9;
  camera->mMode = 32;
  camera->mRate = 9;
  camera->mUSBStreamPipe = 1;
  ProcessorFlags(camera);
  camera->mCameraID = cameraID;

  OSStatus err;
  const bool fireWire = FindFireWireUnit(camera, cameraID);
  if (fireWire) {
    err = OpenFireWireCamera(camera);
  } else {
    err = OpenUSBCamera(camera, cameraID);
  }
  if (err == noErr) {
    camera->mVendorCopy = camera->mVendor;
    camera->mProperties.mCameraID = camera->mCameraID;
    camera->mProperties.mVendor = camera->mVendor;
    std::memcpy(camera->mProperties.mName, camera->mName, sizeof camera->mName);
    return camera;
  }
  if (fireWire) {
    // When the I/O thread did not leave, the handle it still uses is kept.
    if (myFinalizeFWInterface(camera)) std::free(camera);
  } else {
    myFinalizeUSBDevice(camera);
    std::free(camera);
  }
  return nullptr;
}

OSStatus ORX_DCAM_CloseACamera(MyDCAMCameraStruct* camera) {
  if (!camera) return kIOReturnNoDevice;
  if (camera->mVendor == kDCAMUSBVendor) {
    // A USB camera may still be streaming when its caller forgot to stop it:
    // stop delivery and the bulk reads before the objects go.
    // The bulk reads go first, so no completion signals a leaving thread.
    if (!myStopQuedAsynchBulkReadsUSB(camera)) return kDCAMBusyErr;
    if (!myDeallocateWFFSThread(camera)) return kDCAMBusyErr;
    myFinalizeUSBDevice(camera);
  } else if (!myFinalizeFWInterface(camera)) {
    return kDCAMBusyErr;
  }
  myDestroyWFFSObjects(camera);
  std::free(camera->mRingBlock);
  std::free(camera);
  return noErr;
}
