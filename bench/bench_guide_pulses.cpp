// Stop error of one-axis guide pulses on the simulated mount's serial line:
// |measured - requested| between the start and the stop command as the
// mount's end of the line stamps them. The pulse thread sleeps 2 ms near
// short deadlines (pulses up to 25 ms) and 20 ms otherwise.
#include <benchmark/benchmark.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/Guiding.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/simmount/SimMount.h"

namespace {

constexpr int kPulses = 25;

MountCntlDevice* OpenPort(const std::string& path) {
  auto* device = static_cast<MountCntlDevice*>(calloc(1, sizeof(MountCntlDevice)));
  int fd = -1;
  if (myOpenSerialPortByName(path.c_str(), &fd, &device->mSavedPortSettings) != 0) {
    free(device);
    return nullptr;
  }
  termios t;
  memset(&t, 0, sizeof t);
  cfmakeraw(&t);
  t.c_cflag = CS8 | CREAD | CLOCAL;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 10;
  tcsetattr(fd, TCSANOW, &t);
  device->mFileDescriptor = fd;
  device->mKind = kMountCntlLX200;
  device->mRAAxisState = device->mDecAxisState = kMountAxisStopped;
  myInitMountCntlThreadObjects(device);
  device->mOpen = 1;
  return device;
}

void BM_OneAxisPulseStopError(benchmark::State& state) {
  const double ms = double(state.range(0));
  SimMountPort port;
  port.SetProtocol(SimMountProtocol::LX200);
  MountCntlDevice* device = OpenPort(port.SlavePath());
  if (!device) {
    state.SkipWithError("the simulated port does not open");
    return;
  }
  auto* record = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
  record->mScopeControlActive = 1;
  record->mGuidingOn = 1;
  record->mMountCntlDeviceKind = kMountCntlLX200;
  record->mpMountCntlDevicePtr = device;
  std::vector<double> errors;
  for (auto _ : state) {
    for (int i = 0; i < kPulses; i++) {
      port.ClearReceived();
      if (myKickOffSerialTimer(record, kMountRAWest, ms, kMountDecNorth, -1.0) != noErr) {
        state.SkipWithError("the pulse does not start");
        break;
      }
      while (std::atomic_ref<SInt32>(device->mPulseThreadRunning).load() != 0) SkyloomSleepMicroseconds(5000);
      auto commands = port.Commands();
      if (commands.size() != 2) {
        state.SkipWithError("the mount did not see one start and one stop");
        break;
      }
      double measured = double(commands[1].micros - commands[0].micros) / 1000.0;
      errors.push_back(std::fabs(measured - ms));
    }
  }
  if (!errors.empty()) {
    std::sort(errors.begin(), errors.end());
    auto at = [&](double q) { return errors[std::min(errors.size() - 1, size_t(q * double(errors.size())))]; };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = errors.back();
  }
  free(record);
  myCloseMountCntlDevice(device);
}
BENCHMARK(BM_OneAxisPulseStopError)->Arg(10)->Arg(25)->Arg(120)->Arg(300)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
