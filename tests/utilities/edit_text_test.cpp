// Numeric edit-text validation.
#include "utilities/EditText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"
#include "utilities/Controls.h"

using namespace skyloom::ui;

namespace {

constexpr OSType kField = FOUR_CHAR_CODE("FELD");

class EditTextTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteNib("Test", "window \"Form\"\n  control 'FELD' 0 edit-text\n  control 'PUSH' 0 push-button\nend\n");
    w_ = MakeWindow("Test", "Form");
    ASSERT_NE(w_, nullptr);
  }
  void Set(const std::string& text) { ASSERT_EQ(myChangeControlTxt(w_, kField, 0, text.c_str()), noErr); }
  std::string Field() { return ControlText(FindControl(w_, kField, 0)); }
  WindowRef w_ = nullptr;
};

TEST_F(EditTextTest, FloatTesterTable) {
  struct Case {
    const char* text;
    SInt32 checkRange;
    float min, max;
    UInt32 decimals;
    OSStatus result;
    float value;        // after (the value starts at 99)
    const char* field;  // after
  };
  const Case cases[] = {
      {"7", 1, 1, 5, 2, -50, 5.0f, "5.00"},
      {"-3", 1, 1, 5, 2, -50, 1.0f, "1.00"},
      {"abc", 1, 1, 5, 2, -50, 1.0f, "1.00"},   // no number reads as 0, not above 1
      {"abc", 1, -5, 5, 2, -50, 5.0f, "5.00"},  // 0 is above -5
      {"12abc", 0, 0, 0, 2, 0, 12.0f, "12abc"},
      {"12abc", 1, 1, 20, 2, 0, 12.0f, "12abc"},
      {"3.25", 1, 1, 5, 2, 0, 3.25f, "3.25"},
      {"1e999", 0, 0, 0, 2, -50, 99.0f, "1e999"},   // overflow, no range: all left alone
      {"-1e999", 1, 1, 5, 1, -50, 1.0f, "1.0"},
      {"0", 1, -1, 1, 2, 0, 0.0f, "0"},
      {"0x", 0, 0, 0, 2, -50, 99.0f, "0x"},
      {"", 0, 0, 0, 2, -50, 99.0f, ""},
      {"nan", 0, 0, 0, 2, -50, 99.0f, "nan"},         // NaN is no number
      {"-nan(0x1)", 1, 1, 5, 1, -50, 1.0f, "1.0"},
      {"1e300", 0, 0, 0, 2, -50, 99.0f, "1e300"},     // beyond a float: an overflow
      {"9", 1, 1, 5.75f, 0, -50, 5.75f, "5"},         // "%d" of the truncated limit
      {"9", 1, 1, 5, 7, -50, 5.0f, "5.000000"},       // "%f" above 6 decimals
      {"9", 1, 1, 5, 6, -50, 5.0f, "5.000000"},
      {"9", 1, 1, 5, 3, -50, 5.0f, "5.000"},
      {"9", 2, 1, 5, 1, 0, 9.0f, "9"},                // only 1 asks for the range test
      {"abc", 2, 1, 5, 1, -50, 1.0f, "1.0"},          // ...but any non-zero rewrites a refusal
      {" +2.5", 1, 1, 5, 1, 0, 2.5f, " +2.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\" range " + std::to_string(c.checkRange));
    Set(c.text);
    float v = 99.0f;
    long beeps = SkyloomBeepCount();
    EXPECT_EQ(myTestFloatEditTxt(w_, kField, 0, c.decimals, c.checkRange, c.min, c.max, &v), c.result);
    EXPECT_EQ(v, c.value);
    EXPECT_EQ(Field(), c.field);
    EXPECT_EQ(SkyloomBeepCount() - beeps, c.result == 0 ? 0 : 1);
  }
  float v = 0;
  EXPECT_EQ(myTestFloatEditTxt(w_, FOUR_CHAR_CODE("NONE"), 0, 1, 1, 0, 1, &v), errUnknownControl);
}

TEST_F(EditTextTest, IntegerTestersHoldToTheirTypeBeforeTheRangeTest) {
  struct U32Case {
    const char* text;
    SInt32 checkRange;
    UInt32 min, max;
    OSStatus result;
    UInt32 value;
    const char* field;
  };
  const U32Case u32[] = {
      {"3.9", 1, 0, 10, 0, 3, "3.9"},
      {"-3.9", 1, 0, 10, 0, 0, "-3.9"},  // held to 0, inside the range
      {"10.5", 1, 0, 10, -50, 10, "10"},
      {"5e9", 0, 0, 0, 0, 4294967295u, "5e9"},
      {"5e9", 1, 0, 4000000000u, -50, 4000000000u, "4000000000"},  // written unsigned
      {"abc", 1, 3, 9, -50, 3, "3"},
  };
  for (const U32Case& c : u32) {
    SCOPED_TRACE(c.text);
    Set(c.text);
    UInt32 v = 77;
    EXPECT_EQ(myTestU32EditTxt(w_, kField, 0, c.checkRange, c.min, c.max, &v), c.result);
    EXPECT_EQ(v, c.value);
    EXPECT_EQ(Field(), c.field);
  }
  struct S32Case {
    const char* text;
    SInt32 checkRange;
    SInt32 min, max;
    OSStatus result;
    SInt32 value;
    const char* field;
  };
  const S32Case s32[] = {
      {"-3.9", 1, -10, 10, 0, -3, "-3.9"},
      {"3.9", 0, 0, 0, 0, 3, "3.9"},
      {"5e9", 0, 0, 0, 0, 2147483647, "5e9"},
      {"-5e9", 0, 0, 0, 0, -2147483647 - 1, "-5e9"},
      {"5e9", 1, -100, 100, -50, 100, "100"},
      {"-20", 1, -10, 10, -50, -10, "-10"},
      {"", 0, -10, 10, -50, 77, ""},
  };
  for (const S32Case& c : s32) {
    SCOPED_TRACE(c.text);
    Set(c.text);
    SInt32 v = 77;
    EXPECT_EQ(myTestS32EditTxt(w_, kField, 0, c.checkRange, c.min, c.max, &v), c.result);
    EXPECT_EQ(v, c.value);
    EXPECT_EQ(Field(), c.field);
  }
}

TEST_F(EditTextTest, IsStringOkayWritesOutOfRangeValuesAndReleasesItsCopy) {
  ControlRef field = FindControl(w_, kField, 0);
  Set("12");
  double v = 0;
  long live = SkyloomCFLiveObjectCount();
  EXPECT_EQ(myIsStringOkay(field, 1, 0, 10, &v), 0);
  EXPECT_EQ(v, 12.0);  // written all the same
  EXPECT_EQ(myIsStringOkay(field, 0, 0, 10, &v), 1);
  v = 5;
  Set("inf");
  EXPECT_EQ(myIsStringOkay(field, 0, 0, 10, &v), 0);
  EXPECT_EQ(v, 5.0);
  EXPECT_EQ(SkyloomCFLiveObjectCount(), live);
  EXPECT_EQ(myIsStringOkay(FindControl(w_, FOUR_CHAR_CODE("PUSH"), 0), 0, 0, 1, &v), 0);  // no text at all
}

TEST_F(EditTextTest, NumbersReadAndWrittenInTheCLocaleWhateverTheUsersLocale) {
  const char* saved = setlocale(LC_NUMERIC, nullptr);
  std::string keep = saved ? saved : "C";
  ASSERT_TRUE(setlocale(LC_NUMERIC, "de_DE.UTF-8") || setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
      << "no decimal-comma locale installed: scripts/deps generates de_DE.UTF-8";
  Set("2.5");
  float v = 0;
  EXPECT_EQ(myTestFloatEditTxt(w_, kField, 0, 2, 1, 0, 2, &v), -50);
  EXPECT_EQ(Field(), "2.00");
  setlocale(LC_NUMERIC, keep.c_str());
}

}  // namespace
