// The sensor temperature on simulated cameras: reading it in both modes,
// holding a set point, the once-a-second slot display and the set-point
// dialog driven by a scripted user.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/HistogramViews.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/simcamera/SimCamera.h"
#include "tests/support/CameraHarness.h"
#include "utilities/Controls.h"

namespace {

class Temperature : public CameraHarness {
 protected:
  void OpenCooled() {
    Rig({SimCooledPersonality()});
    ASSERT_EQ(OpenCamera(), noErr);
    ASSERT_EQ(record_->mTemperatureMode, 1u);
    ASSERT_EQ(record_->mTemperatureSettable, 1u);
  }
  UInt32 Selector(SInt32 selector) {
    UInt32 v = 0;
    EXPECT_EQ(ORXDCAMGetPropertyValue(record_->mCameraHandle, 0x52C, selector, &v), noErr);
    return v;
  }
  static bool Checked(MenuItemIndex item) {
    CharParameter mark = 0;
    GetItemMark(GetMenuRef(kMyTemperatureMenuID), item, &mark);
    return mark != 0;
  }
  template <typename F>
  std::vector<SkyloomCGCall> Recorded(F fn) {
    SkyloomCGSetRecording(true);
    fn();
    std::vector<SkyloomCGCall> calls = SkyloomCGRecordedCalls();
    SkyloomCGSetRecording(false);
    return calls;
  }
  static std::vector<SkyloomCGCall> Named(const std::vector<SkyloomCGCall>& calls, const std::string& name) {
    std::vector<SkyloomCGCall> out;
    for (const SkyloomCGCall& c : calls)
      if (c.name == name) out.push_back(c);
    return out;
  }
};

TEST_F(Temperature, ModesReadRegisterOrAbsoluteValue) {
  Rig({SimDefaultColourPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  EXPECT_EQ(record_->mTemperatureMode, 2u);
  float k = 0;
  ASSERT_EQ(myGetCurrentTemperature(record_->mCameraHandle, 2, &k), noErr);
  EXPECT_FLOAT_EQ(k, 293.15f);
  k = -1;
  EXPECT_EQ(myGetCurrentTemperature(record_->mCameraHandle, 0, &k), -2201);
  EXPECT_EQ(k, -1);
  CloseCamera();

  OpenCooled();
  ASSERT_EQ(myGetCurrentTemperature(record_->mCameraHandle, 1, &k), noErr);
  EXPECT_FLOAT_EQ(k, 293.1f);
  EXPECT_NE(myGetCurrentTemperature(record_->mCameraHandle, 2, &k), noErr);  // no absolute control
}

TEST_F(Temperature, SetPointIsClampedInTenthsAndAutomaticOnlyWhenAsked) {
  OpenCooled();
  const struct {
    double kelvin;
    UInt8 on;
    UInt32 written, automatic;
  } cases[] = {{500.0, 0, 4095, 0}, {253.15, 1, 2531, 1}, {-40.0, 1, 0, 1}, {1e12, 0, 4095, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(mySetMaintainTemperature(record_->mCameraHandle, 1, c.kelvin, c.on), noErr) << c.kelvin;
    EXPECT_EQ(Selector(6), c.written) << c.kelvin;
    EXPECT_EQ(Selector(1), c.automatic) << c.kelvin;
    EXPECT_EQ(Checked(2), c.on != 0);
  }
  EXPECT_EQ(mySetMaintainTemperature(record_->mCameraHandle, 0, 250.0, 1), -2201);
  EXPECT_EQ(Selector(1), 0u);  // a failed set leaves the automatic mode off
}

TEST(TemperatureUnits, CelsiusAndFahrenheitGiveOneKelvin) {
  EXPECT_EQ(myCelsiusToKelvin(-20.0f), myFahrenheitToKelvin(-4.0f));
  EXPECT_FLOAT_EQ(myCelsiusToKelvin(-20.0f), 253.14999f);
}

TEST_F(Temperature, TimerKeepsTheDisplayWithinATenthAndDrawsTheSlot) {
  OpenCooled();
  MyCameraWindowDataStruct* r = record_;
  r->mHistogramShown = 1;
  r->mHistogramOption = 0;
  ASSERT_EQ(myInstallTemperatureTimer(r), noErr);
  EXPECT_TRUE(Checked(3));
  EXPECT_EQ(r->mShowTemperature, 1u);
  EventLoopTimerRef timer = r->mTemperatureTimer;
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(myInstallTemperatureTimer(r), noErr);
  EXPECT_EQ(r->mTemperatureTimer, timer);  // one timer, fired again
  myPostTemperatureTimer(nullptr, r);
  EXPECT_FLOAT_EQ(r->mShownTemperatureK, 293.1f);
  r->mShownTemperatureK = 293.05f;
  myPostTemperatureTimer(nullptr, r);
  EXPECT_FLOAT_EQ(r->mShownTemperatureK, 293.05f);
  r->mShownTemperatureK = 292.9f;
  myPostTemperatureTimer(nullptr, r);
  EXPECT_FLOAT_EQ(r->mShownTemperatureK, 293.1f);

  // No temperature: no reading, yet the slot is blanked and redrawn.
  r->mTemperatureMode = 0;
  r->mLastTemperatureK = 1.0f;
  const auto calls = Recorded([&] { myPostTemperatureTimer(nullptr, r); });
  EXPECT_EQ(r->mLastTemperatureK, 1.0f);
  EXPECT_EQ(Named(calls, "CGContextFillRect").size(), 1u);
  EXPECT_EQ(Named(calls, "CGContextShowTextAtPoint").size(), 1u);

  myRemoveTemperatureTimer(r);
  EXPECT_FALSE(Checked(3));
  EXPECT_EQ(r->mTemperatureTimer, nullptr);
  const auto blank = Recorded([&] { myDrawTemperatureInHistogramSlot(r); });
  EXPECT_EQ(Named(blank, "CGContextFillRect").size(), 1u);
  EXPECT_TRUE(Named(blank, "CGContextShowTextAtPoint").empty());
}

TEST_F(Temperature, SlotTextAndItsRender) {
  Rig({SimDefaultColourPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  MyCameraWindowDataStruct* r = record_;
  r->mHistogramShown = 1;
  r->mHistogramOption = 0;
  r->mShowTemperature = 1;
  r->mShownTemperatureK = 293.15f;
  const auto calls = Recorded([&] { myDrawTemperatureInHistogramSlot(r); });
  const auto text = Named(calls, "CGContextShowTextAtPoint");
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(text[0].text, "Camera Temp: 20.0 C / 68.0 F ");
  Rect port{};
  GetPortBounds(GetWindowPort(r->mControlWindow), &port);
  const Rect& s = r->mHistogramRect;
  EXPECT_DOUBLE_EQ(text[0].args[0], s.left + 3 + 20);
  EXPECT_DOUBLE_EQ(text[0].args[1], (port.bottom - port.top) - s.bottom + 3 + 30);
  const auto fill = Named(calls, "CGContextFillRect");
  ASSERT_EQ(fill.size(), 1u);
  EXPECT_EQ(fill[0].args, (std::vector<double>{double(s.left + 3), double(port.bottom - port.top - s.bottom + 3),
                                               double(s.right - s.left - 6), double(s.bottom - s.top - 6)}));
  const std::string png = std::string(SKYLOOM_BINARY_DIR) + "/temperature_slot.png";
  ASSERT_EQ(SkyloomWritePortPNG(GetWindowPort(r->mControlWindow), png.c_str()), noErr);
  EXPECT_GT(std::filesystem::file_size(png), 0u);
  // The slot is white inside its inset edge, and the text is red.
  CGrafPtr cport = GetWindowPort(r->mControlWindow);
  EXPECT_EQ(SkyloomPortPixel(cport, s.left + 5, s.top + 5), 0xFFFFFFFFu);
  EXPECT_EQ(SkyloomPortPixel(cport, s.right - 5, s.bottom - 5), 0xFFFFFFFFu);
  int red = 0;
  for (SInt32 y = s.bottom - 48; y < s.bottom - 30; ++y)
    for (SInt32 x = s.left + 23; x < s.left + 200; ++x) {
      const UInt32 p = SkyloomPortPixel(cport, x, y);
      const int R = int((p >> 16) & 0xFF), G = int((p >> 8) & 0xFF);
      red += R > 150 && G < 120;
    }
  EXPECT_GT(red, 20);

  // With the histogram on, the slot is the histogram's.
  r->mHistogramOption = 1;
  EXPECT_TRUE(Recorded([&] { myDrawTemperatureInHistogramSlot(r); }).empty());
}

TEST_F(Temperature, DialogSwitchesUnitsRefusesOutOfRangeAndSendsTheSetPoint) {
  OpenCooled();
  MyCameraWindowDataStruct* r = record_;
  skyloom::ui::ScriptedUser user;
  user.Do([&] {
        char text[255] = {};
        WindowRef w = FrontWindow();
        myGetControlTextCString(w, FOUR_CHAR_CODE("MIMX"), 0, text);
        EXPECT_STREQ(text, "(Min:-273.150 C Max:136.350 C)");
        myGetControlTextCString(w, FOUR_CHAR_CODE("VALU"), 0, text);
        EXPECT_STREQ(text, "19.950");
      })
      .Click(FOUR_CHAR_CODE("METR"), 0)
      .Do([&] {
        char text[255] = {};
        myGetControlTextCString(FrontWindow(), FOUR_CHAR_CODE("MIMX"), 0, text);
        EXPECT_STREQ(text, "(Min:-459.670 F Max:277.430 F)");
      })
      .Type(FOUR_CHAR_CODE("VALU"), 0, "300")
      .ClickOK()
      .AnswerAlert()
      .Type(FOUR_CHAR_CODE("VALU"), 0, "-4")
      .ClickOK();
  EXPECT_EQ(myGetMaintainTemperatureGUI(r), noErr);
  EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
  EXPECT_EQ(r->mMaintainTemperature, 1u);
  EXPECT_FLOAT_EQ(r->mTargetTemperature, 253.15f);
  EXPECT_EQ(Selector(6), 2531u);
  EXPECT_EQ(Selector(1), 1u);
  EXPECT_TRUE(Checked(2));
}

TEST_F(Temperature, DialogCancelSendsNothing) {
  OpenCooled();
  const UInt32 before = Selector(6);
  skyloom::ui::ScriptedUser user;
  user.Type(FOUR_CHAR_CODE("VALU"), 0, "-10").ClickCancel();
  EXPECT_EQ(myGetMaintainTemperatureGUI(record_), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(Selector(6), before);
  EXPECT_EQ(record_->mMaintainTemperature, 0u);
  EXPECT_FALSE(Checked(2));
}

TEST_F(Temperature, HistogramViewSitsInTheSlot) {
  Rig({SimDefaultColourPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  ASSERT_NE(record_->mHistogramView, nullptr);
  HIRect view{}, slot{};
  HIViewGetFrame(record_->mHistogramView, &view);
  HIViewGetFrame(Control(FOUR_CHAR_CODE("HIST")), &slot);
  EXPECT_EQ(view.origin.x, slot.origin.x);
  EXPECT_EQ(view.origin.y, slot.origin.y);
  EXPECT_EQ(view.size.width, slot.size.width);
  EXPECT_TRUE(HIViewIsVisible(record_->mHistogramView));
}

}  // namespace
