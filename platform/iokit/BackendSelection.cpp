// Which back ends the layer asks when nobody installed any: real cameras when
// the host has some, else the simulated rig. The choice is made once, at the
// first enumeration; a rig that tests install pins the simulator whatever
// hardware is plugged in.
#include <vector>

#include "platform/iokit/FireWireCdevBackend.h"
#include "platform/iokit/IOKitBackend.h"
#include "platform/iokit/LibUSBBackend.h"
#include "platform/simcamera/SimBus.h"

std::vector<IOKitBackend*> IOKitDefaultBackends() {
  if (SimRigPinned()) return {SimCameraBackend()};
  static const std::vector<IOKitBackend*> chosen = [] {
    std::vector<IOKitBackend*> real;
    if (FireWireCdevCamerasPresent()) real.push_back(FireWireCdevBackend());
    if (LibUSBCamerasPresent()) real.push_back(LibUSBCameraBackend());
    if (real.empty()) real.push_back(SimCameraBackend());
    return real;
  }();
  return chosen;
}
