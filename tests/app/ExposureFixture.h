// An open simulated camera for the exposure, rate and slider tests: settle
// waits skipped, the real strings table, and helpers that read labels, menu
// items and the camera's register writes.
#pragma once
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/ExposureControls.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/CameraHarness.h"

class ExposureTest : public CameraHarness {
 protected:
  void SetUp() override {
    CameraHarness::SetUp();
    std::string from = std::string(SKYLOOM_SOURCE_DIR) + "/resources/Localizable.strings";
    ASSERT_EQ(symlink(from.c_str(), (dir_ + "/Localizable.strings").c_str()), 0);
    savedSleep_ = gMyCameraSettleSleep;
    gMyCameraSettleSleep = [](UInt64) {};
  }
  void TearDown() override {
    gMyCameraSettleSleep = savedSleep_;
    CameraHarness::TearDown();
  }

  // Opens the only camera of a one-camera rig.
  MyCameraWindowDataStruct* Open(const SimCameraPersonality& p) {
    Rig({p});
    testing::internal::CaptureStderr();
    OSStatus err = OpenCamera();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, noErr);
    return record_;
  }
  SimCamera& Camera() { return *cameras_[0]; }

  std::string Label(OSType signature) { return skyloom::ui::ControlText(Control(signature, 1)); }
  MenuRef Menu(OSType signature) { return GetControlPopupMenuHandle(Control(signature)); }
  std::string ItemText(OSType signature, int item) { return skyloom::ui::MenuItemText(Menu(signature), item); }
  bool ItemEnabled(OSType signature, int item) { return IsMenuItemEnabled(Menu(signature), item); }
  bool Enabled(OSType signature, SInt32 id = 0) { return IsControlEnabled(Control(signature, id)); }

  // A register write on FireWire or, as a vendor request, on USB.
  static bool IsWrite(const SimLogEntry& e) {
    if (e.kind == SimLogKind::FWWrite) return true;
    return e.kind == SimLogKind::USBControl && e.setup.bmRequestType == 0x40 && e.setup.bRequest == 0x7F;
  }

  // The register writes (offset, value) since the last ClearLog, in order,
  // of the offsets the filter keeps.
  template <typename Keep>
  std::vector<std::pair<UInt32, UInt32>> Writes(Keep keep) {
    std::vector<std::pair<UInt32, UInt32>> out;
    for (const SimLogEntry& e : Camera().Log())
      if (IsWrite(e) && e.status == 0 && keep(e.offset)) out.push_back({e.offset, e.value});
    return out;
  }
  std::vector<std::pair<UInt32, UInt32>> Writes() {
    return Writes([](UInt32) { return true; });
  }

  // The absolute value of a feature (its block's value quadlet) as a float.
  float AbsoluteValue(UInt32 inquiry) {
    UInt32 bits = Camera().Peek(kSimAbsoluteBlockBase + 0x10 * ((inquiry - 0x500) / 4) + 8);
    float f;
    memcpy(&f, &bits, 4);
    return f;
  }

 private:
  void (*savedSleep_)(UInt64) = nullptr;
};
