// The RA/Dec fields of a coordinate-entry sheet: filled from a position,
// tested on Return, read at OK.
#include "photometry/SkyPositionFields.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/hitoolbox/UIModel.h"
#include "utilities/Controls.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

constexpr OSType Sig(const char (&s)[5]) { return FOUR_CHAR_CODE(s); }
const MySkyPositionFields kFields = {Sig("RAHH"), Sig("RAMM"), Sig("RASS"), Sig("DENS"),
                                     Sig("DEDD"), Sig("DEMM"), Sig("DESS")};

class SkyPositionFields : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteNib("Test",
             "window \"Sheet\" class=sheet bounds=0,0,100,400\n"
             "  control 'RAHH' 0 edit-text bounds=0,0,16,40 text=\"\"\n"
             "  control 'RAMM' 0 edit-text bounds=0,50,16,90 text=\"\"\n"
             "  control 'RASS' 0 edit-text bounds=0,100,16,140 text=\"\"\n"
             "  control 'DENS' 0 edit-text bounds=20,0,36,40 text=\"\"\n"
             "  control 'DEDD' 0 edit-text bounds=20,50,36,90 text=\"\"\n"
             "  control 'DEMM' 0 edit-text bounds=20,100,36,140 text=\"\"\n"
             "  control 'DESS' 0 edit-text bounds=20,150,36,190 text=\"\"\n"
             "  control 'OTHR' 0 edit-text bounds=40,0,56,40 text=\"\"\n"
             "end\n");
    window_ = MakeWindow("Test", "Sheet");
    ASSERT_NE(window_, nullptr);
  }
  void Set(const char* const (&texts)[7]) {
    const OSType sigs[7] = {kFields.hours,   kFields.minutes,    kFields.seconds,   kFields.hemisphere,
                            kFields.degrees, kFields.arcMinutes, kFields.arcSeconds};
    for (int i = 0; i < 7; ++i) myChangeControlTxt(window_, sigs[i], 0, texts[i]);
  }
  std::string Text(OSType sig) { return ControlText(FindControl(window_, sig, 0)); }
  WindowRef window_ = nullptr;
};

TEST_F(SkyPositionFields, FilledFromAPosition) {
  // 5 h 30 m 15.5 s, 12° 5' 30" south; whole seconds print without decimals.
  myFillSkyPositionFields(window_, kFields, 297232.5f, -43530.0f, nullptr, 0);
  EXPECT_EQ(Text(kFields.hours), "5");
  EXPECT_EQ(Text(kFields.minutes), "30");
  EXPECT_EQ(Text(kFields.seconds), "15.50");
  EXPECT_EQ(Text(kFields.hemisphere), "S");
  EXPECT_EQ(Text(kFields.degrees), "12");
  EXPECT_EQ(Text(kFields.arcMinutes), "5");
  EXPECT_EQ(Text(kFields.arcSeconds), "30");
}

TEST_F(SkyPositionFields, ReadAtOK) {
  const struct {
    const char* texts[7];
    OSStatus result;
    float ra, dec;
  } kCases[] = {
      {{"5", "30", "15.5", "S", "12", "5", "30"}, noErr, 297232.5f, -43530.0f},
      {{"5", "30", "15.5", "s", "12", "5", "30"}, noErr, 297232.5f, -43530.0f},
      {{"5", "30", "15.5", "south", "12", "5", "30"}, noErr, 297232.5f, 43530.0f},  // only "S" or "s" is south
      {{"23", "59", "59.9999", "N", "90", "0", "0"}, noErr, 1295999.95f, 324000.0f},
      {{"23", "59.5", "59", "N", "0", "0", "0"}, paramErr, 0, 0},   // past a full turn
      {{"24", "0", "0", "N", "0", "0", "0"}, paramErr, 0, 0},       // hours clamped to 23
      {{"1", "0", "0", "N", "90", "0", "0.5"}, paramErr, 0, 0},     // past the pole
      {{"1", "0", "0", "N", "10", "60", "0"}, paramErr, 0, 0},      // minutes of arc clamped
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.texts[0]) + " " + c.texts[1] + " " + c.texts[3] + " " + c.texts[4]);
    Set(c.texts);
    float ra = -1, dec = -1;
    ASSERT_EQ(myReadSkyPositionFields(window_, kFields, &ra, &dec), c.result);
    if (c.result == noErr) {
      EXPECT_NEAR(ra, c.ra, 0.02f);
      EXPECT_EQ(dec, c.dec);
    } else {
      EXPECT_EQ(ra, -1.0f);
      EXPECT_EQ(dec, -1.0f);
    }
  }
  EXPECT_EQ(Text(kFields.arcMinutes), "59.999");  // the refused field rewritten
}

TEST_F(SkyPositionFields, TestedOnReturn) {
  const long beeps = SkyloomBeepCount();
  myChangeControlTxt(window_, kFields.hemisphere, 0, "q");
  EXPECT_TRUE(myTestSkyPositionFieldOnKey(window_, kFields, kFields.hemisphere, 0));
  EXPECT_EQ(Text(kFields.hemisphere), "N");
  myChangeControlTxt(window_, kFields.hemisphere, 0, "s");
  EXPECT_TRUE(myTestSkyPositionFieldOnKey(window_, kFields, kFields.hemisphere, 0));
  EXPECT_EQ(Text(kFields.hemisphere), "s");
  myChangeControlTxt(window_, kFields.hours, 0, "30");
  EXPECT_TRUE(myTestSkyPositionFieldOnKey(window_, kFields, kFields.hours, 0));
  EXPECT_EQ(Text(kFields.hours), "23");
  myChangeControlTxt(window_, kFields.seconds, 0, "59.99");  // wider than at OK
  EXPECT_TRUE(myTestSkyPositionFieldOnKey(window_, kFields, kFields.seconds, 0));
  EXPECT_EQ(Text(kFields.seconds), "59.99");
  myChangeControlTxt(window_, kFields.degrees, 0, "95");
  EXPECT_TRUE(myTestSkyPositionFieldOnKey(window_, kFields, kFields.degrees, 0));
  EXPECT_EQ(Text(kFields.degrees), "90.000");
  EXPECT_EQ(SkyloomBeepCount(), beeps + 3);
  EXPECT_FALSE(myTestSkyPositionFieldOnKey(window_, kFields, Sig("OTHR"), 0));
}

}  // namespace
