// The mount-control device: the choice among adapter, camera GPIO and serial
// ports, and opening and closing the chosen one.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "guiding/Guiding.h"
#include "platform/iokit/IOKitLib.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

namespace {

constexpr OSType kInterfacePopUp = FOUR_CHAR_CODE("INRF");
constexpr MenuItemIndex kGPUSBItem = 1;
constexpr MenuItemIndex kGPIOItem = 2;
constexpr MenuItemIndex kFirstSerialItem = 3;
const char kGPUSBName[] = "GPUSB";
const char kGPIOName[] = "PGR GPIO to ST4";

int (*gTcsetattr)(int, int, const struct termios*) = tcsetattr;

// A pseudo-terminal keeps the exclusive flag after the last close of its
// slave while the master stays open, so the port is handed back the way it
// was found, or the next open (the chosen port's, or another program's)
// would be refused.
void releaseExclusiveAndClose(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);
}

void failOpen(MountCntlDevice* device) {
  free(device);
  myPostAlertByKeyString("USRER", "NOSERUSBDEVERR");
}

// Ports whose names say they are not a mount's line.
bool isExcludedPortName(const char* path) {
  char upper[256];
  size_t i = 0;
  for (; path[i] && i < sizeof upper - 1; i++) upper[i] = char(toupper((unsigned char)path[i]));
  upper[i] = '\0';
  return strstr(upper, "IRDA") || strstr(upper, "MODEM") || strstr(upper, "BLUETOOTH") || strstr(upper, "PHONE");
}

// Appends every usable serial port to the menu. Each appended port becomes
// the selection: counting on from an earlier selection would land on the
// GPIO item when only the adapter came before.
void myBuildMenuOfSerialPortDevices(MenuRef menu, UInt32* count, SInt32* selection) {
  mach_port_t master = 0;
  kern_return_t kr = IOMasterPort(0, &master);
  if (kr != KERN_SUCCESS) {
    fprintf(stderr, "IOMasterPort returned %d\n", int(kr));
    return;
  }
  CFMutableDictionaryRef matching = IOServiceMatching("IOSerialBSDClient");
  if (!matching) {
    fprintf(stderr, "IOServiceMatching returned NULL\n");
    return;
  }
  CFDictionarySetValue(matching, CFSTR("IOSerialBSDClientType"), CFSTR("IORS232SerialStream"));
  io_iterator_t iterator = IO_OBJECT_NULL;
  kr = IOServiceGetMatchingServices(master, matching, &iterator);
  if (kr != KERN_SUCCESS) {
    fprintf(stderr, "IOServiceGetMatchingServices returned %d\n", int(kr));
    return;
  }
  while (io_object_t service = IOIteratorNext(iterator)) {
    CFTypeRef property = IORegistryEntryCreateCFProperty(service, CFSTR("IODialinDevice"), kCFAllocatorDefault, 0);
    IOObjectRelease(service);
    if (!property) continue;
    char path[256];
    Boolean got = CFGetTypeID(property) == CFStringGetTypeID() &&
                  CFStringGetCString(CFStringRef(property), path, sizeof path, kCFStringEncodingASCII);
    CFRelease(property);
    if (!got || isExcludedPortName(path)) continue;
    int fd = -1;
    struct termios saved;
    if (myOpenSerialPortByName(path, &fd, &saved) != 0) continue;
    releaseExclusiveAndClose(fd);
    if (myAppendMenuCString(menu, path) != noErr) continue;
    (*count)++;
    *selection = SInt32(CountMenuItems(menu));
  }
  IOObjectRelease(iterator);
}

void nameFromSelection(MountCntlDevice* device, MenuRef menu, SInt32 selection) {
  if (selection == kGPUSBItem) {
    strcpy(device->mDeviceName, kGPUSBName);
  } else if (selection == kGPIOItem) {
    strcpy(device->mDeviceName, kGPIOName);
  } else if (selection >= kFirstSerialItem) {
    CFStringRef text = nullptr;
    if (CopyMenuItemTextAsCFString(menu, MenuItemIndex(selection), &text) != noErr || !text) {
      fprintf(stderr, "CopyMenuItemTextAsCFString for Serial failed!\n");
      return;
    }
    if (!CFStringGetCString(text, device->mDeviceName, sizeof device->mDeviceName, kCFStringEncodingASCII))
      device->mDeviceName[0] = '\0';
    CFRelease(text);
  }
}

// Builds the list, lets the user choose when there is a choice, and names the
// device. False when nothing can be chosen (the caller fails).
bool chooseDevice(MountCntlDevice* device, MountCntlDialogState* state, UInt32 cameraHasGPIO) {
  IBNibRef nib = nullptr;
  if (CreateNibReference(CFSTR("ORX_DCAM"), &nib) != noErr) return false;
  WindowRef window = nullptr;
  OSStatus err = CreateWindowFromNib(nib, CFSTR("SelectSerialInterface"), &window);
  DisposeNibReference(nib);
  if (err != noErr || !window) return false;
  state->mWindow = window;
  SetWRefCon(window, 0);
  ControlID id = {kInterfacePopUp, 0};
  ControlRef popUp = nullptr;
  MenuRef menu = nullptr;
  if (GetControlByID(window, &id, &popUp) != noErr || !(menu = GetControlPopupMenuHandle(popUp))) {
    DisposeWindow(window);
    return false;
  }
  DisableMenuItem(menu, kGPUSBItem);
  DisableMenuItem(menu, kGPIOItem);
  UInt32 count = 0;
  SInt32 selection = 0;
  if (GPUSBDevice* adapter = myOpenGPUSBDevice()) {
    myCloseGPUSB(adapter);
    EnableMenuItem(menu, kGPUSBItem);
    selection = kGPUSBItem;
    count = 1;
  }
  if (cameraHasGPIO) {
    EnableMenuItem(menu, kGPIOItem);
    selection = kGPIOItem;
    count++;
  }
  myBuildMenuOfSerialPortDevices(menu, &count, &selection);
  if (selection == 0) {
    fprintf(stderr, "No Devices Found in myBuildMenuOfSerialPortDevices\n");
    DisposeWindow(window);
    return false;
  }
  if (count == 1) {
    nameFromSelection(device, menu, selection);
  } else {
    state->mSelection = selection;
    state->mResult = userCanceledErr;
    SetControl32BitMaximum(popUp, SInt32(CountMenuItems(menu)));
    SetControl32BitValue(popUp, selection);
    EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
    EventHandlerUPP upp = NewEventHandlerUPP(mySelectControllerDevice);
    EventHandlerRef handler = nullptr;
    if (InstallWindowEventHandler(window, upp, 1, &commandEvent, state, &handler) == noErr) {
      ShowWindow(window);
      RunAppModalLoopForWindow(window);
      if (state->mResult == noErr) nameFromSelection(device, menu, state->mSelection);
      HideWindow(window);
      RemoveEventHandler(handler);
    }
    DisposeEventHandlerUPP(upp);
  }
  DisposeWindow(window);
  return true;
}

}  // namespace

void mySetMountTcsetattrForTesting(int (*fn)(int, int, const struct termios*)) {
  gTcsetattr = fn ? fn : tcsetattr;
}

SInt32 myOpenSerialPortByName(const char* path, int* fileDescriptor, struct termios* saved) {
  // Descriptor 0 is a valid port when standard input was closed.
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (ioctl(fd, TIOCEXCL) == -1) {
    close(fd);
    return -2;
  }
  if (fcntl(fd, F_SETFL, 0) == -1) {
    close(fd);
    return -3;
  }
  if (tcgetattr(fd, saved) == -1) {
    close(fd);
    return -4;
  }
  *fileDescriptor = fd;
  return 0;
}

OSStatus mySelectControllerDevice(EventHandlerCallRef, EventRef event, void* userData) {
  auto* state = static_cast<MountCntlDialogState*>(userData);
  HICommand command;
  OSStatus err =
      GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
  if (err != noErr) return err;
  switch (command.commandID) {
    case kHICommandOK:
      state->mResult = noErr;
      QuitAppModalLoopForWindow(state->mWindow);
      return noErr;
    case kHICommandCancel:
      state->mResult = userCanceledErr;
      QuitAppModalLoopForWindow(state->mWindow);
      return noErr;
    case kInterfacePopUp: {
      ControlID id = {kInterfacePopUp, 0};
      ControlRef popUp = nullptr;
      err = GetControlByID(state->mWindow, &id, &popUp);
      if (err == noErr) state->mSelection = GetControl32BitValue(popUp);
      return err;
    }
    default:
      return eventNotHandledErr;
  }
}

MountCntlDevice* myOpenMountCntlDevice(UInt32 kind, UInt32 cameraHasGPIO) {
  auto* device = static_cast<MountCntlDevice*>(calloc(1, sizeof(MountCntlDevice)));
  if (!device) {
    myPostAlert("", "Not enough memory Allocating Serial Ports");
    return nullptr;
  }
  device->mFileDescriptor = -1;
  device->mKind = kind;
  device->mRAAxisState = kMountAxisStopped;
  device->mDecAxisState = kMountAxisStopped;
  auto* state = static_cast<MountCntlDialogState*>(calloc(1, sizeof(MountCntlDialogState)));
  if (!state) {
    failOpen(device);
    return nullptr;
  }
  bool chosen = chooseDevice(device, state, cameraHasGPIO);
  free(state);
  if (!chosen || device->mDeviceName[0] == '\0') {
    failOpen(device);
    return nullptr;
  }

  if (strcmp(device->mDeviceName, kGPUSBName) == 0) {
    GPUSBDevice* adapter = myOpenGPUSBDevice();
    if (!adapter) {
      fprintf(stderr, "myOpenMountCntlDevice : GPUSB failed to open\n");
      failOpen(device);
      return nullptr;
    }
    device->mAdapterHandle = adapter;
    device->mKind = kMountCntlGPUSB;
    if (myInitMountCntlThreadObjects(device) != noErr) {
      myCloseGPUSB(adapter);
      failOpen(device);
      return nullptr;
    }
    device->mOpen = 1;
    return device;
  }
  if (strcmp(device->mDeviceName, kGPIOName) == 0) {
    device->mKind = kMountCntlCameraGPIO;
    device->mAdapterHandle = nullptr;
    if (myInitMountCntlThreadObjects(device) != noErr) {
      failOpen(device);
      return nullptr;
    }
    device->mOpen = 1;
    return device;
  }
  int fd = -1;
  if (myOpenSerialPortByName(device->mDeviceName, &fd, &device->mSavedPortSettings) != 0) {
    failOpen(device);
    return nullptr;
  }
  device->mFileDescriptor = fd;
  device->mKind = kMountCntlLX200;
  struct termios* t = &device->mPortSettings;
  memset(t, 0, sizeof *t);
  cfmakeraw(t);
  // Linux keeps the baud rate inside c_cflag: the control flags go first, so
  // that the speed set after them stays (a line left at 0 baud hangs up).
  t->c_cflag = CS8 | CREAD | CLOCAL;
  cfsetispeed(t, B9600);
  cfsetospeed(t, B9600);
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 10;
  if (gTcsetattr(fd, TCSANOW, t) == -1) {
    releaseExclusiveAndClose(fd);
    myPostAlert("", "tcsetattr failed -1");
    failOpen(device);
    return nullptr;
  }
  if (myInitMountCntlThreadObjects(device) != noErr) {
    tcsetattr(fd, TCSANOW, &device->mSavedPortSettings);
    releaseExclusiveAndClose(fd);
    failOpen(device);
    return nullptr;
  }
  device->mOpen = 1;
  return device;
}

OSStatus myCloseMountCntlDevice(MountCntlDevice* device) {
  if (!device) return noErr;
  if (device->mOpen == 1) {
    if (device->mKind == kMountCntlGPUSB) {
      myCloseGPUSB(static_cast<GPUSBDevice*>(device->mAdapterHandle));
      device->mAdapterHandle = nullptr;
    } else if (device->mKind == kMountCntlCameraGPIO) {
      device->mAdapterHandle = nullptr;  // the camera stays open
    } else {
      // A reply reader still reading (one whose writer gave up on it runs
      // to its deadline) is stopped before the port goes back.
      myCancelReadThread(device);
      if (tcdrain(device->mFileDescriptor) == -1)
        fprintf(stderr, "Error waiting for drain - %s(%d).\n", strerror(errno), errno);
      if (tcsetattr(device->mFileDescriptor, TCSANOW, &device->mSavedPortSettings) == -1)
        fprintf(stderr, "Error resetting tty attributes - %s(%d).\n", strerror(errno), errno);
      releaseExclusiveAndClose(device->mFileDescriptor);
    }
    pthread_mutex_destroy(&device->mReplyMutex);
    pthread_cond_destroy(&device->mReplyCondition);
    pthread_mutex_destroy(&device->mPulseMutex);
    pthread_cond_destroy(&device->mPulseCondition);
  }
  free(device);
  return noErr;
}
