// Which back ends the layer asks when nobody installed any: real cameras when
// the host has some, else the simulated rig. The choice is made once, at the
// first enumeration; a rig that tests install pins the simulator whatever
// hardware is plugged in.
//
// Serial ports and HID adapters follow: the host's serial ports always; the
// simulated mount's port and adapter beside the simulated camera, so that a
// run without hardware can guide. A mount set that tests install replaces
// them all.
#include <vector>

#include "platform/iokit/FireWireCdevBackend.h"
#include "platform/iokit/IOKitBackend.h"
#include "platform/iokit/LibUSBBackend.h"
#include "platform/iokit/SerialPorts.h"
#include "platform/simcamera/SimBus.h"
#include "platform/simmount/SimMount.h"

std::vector<IOKitBackend*> IOKitDefaultBackends() {
  std::vector<IOKitBackend*> backends;
  if (SimRigPinned()) {
    backends = {SimCameraBackend()};
  } else {
    static const std::vector<IOKitBackend*> chosen = [] {
      std::vector<IOKitBackend*> real;
      if (FireWireCdevCamerasPresent()) real.push_back(FireWireCdevBackend());
      if (LibUSBCamerasPresent()) real.push_back(LibUSBCameraBackend());
      if (real.empty()) real.push_back(SimCameraBackend());
      return real;
    }();
    backends = chosen;
  }
  if (SimMountPinned()) {
    backends.push_back(SimMountBackend());
  } else {
    backends.push_back(SysfsSerialBackend());
    bool simulated = false;
    for (IOKitBackend* b : backends) simulated = simulated || b == SimCameraBackend();
    if (simulated) backends.push_back(SimMountBackend());
  }
  return backends;
}
