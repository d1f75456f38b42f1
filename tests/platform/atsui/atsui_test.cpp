#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/atsui/ATSUnicode.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "tests/support/UiFixture.h"

namespace {

struct Colour {
  UInt16 red, green, blue;
};

class ATSUText : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    live = SkyloomATSULiveObjectCount();
  }
  void TearDown() override {
    SkyloomCGSetRecording(false);
    EXPECT_EQ(SkyloomATSULiveObjectCount(), live);
    UiTest::TearDown();
  }
  WindowRef makeWindow(short width, short height) {
    const Rect content{40, 40, short(40 + height), short(40 + width)};
    WindowRef w = nullptr;
    EXPECT_EQ(CreateNewWindow(kDocumentWindowClass, kWindowNoAttributes, &content, &w), noErr);
    return w;
  }
  // A style with the font, size and colour, bold or not.
  ATSUStyle makeStyle(ATSUFontID font, SInt32 size, Colour colour, bool bold) {
    ATSUStyle s = nullptr;
    EXPECT_EQ(ATSUCreateStyle(&s), noErr);
    Fixed fixedSize = size << 16;
    Boolean b = bold ? 1 : 0;
    const ATSUAttributeTag tags[] = {kATSUFontTag, kATSUSizeTag, kATSUColorTag, kATSUQDBoldfaceTag};
    const ByteCount sizes[] = {sizeof font, sizeof fixedSize, sizeof colour, sizeof b};
    const ATSUAttributeValuePtr values[] = {&font, &fixedSize, &colour, &b};
    EXPECT_EQ(ATSUSetAttributes(s, 4, tags, sizes, values), noErr);
    return s;
  }
  // Draws UTF-16 text with the style at (x, y) of the context.
  OSStatus draw(CGContextRef c, ATSUStyle style, const std::vector<UniChar>& text, double x, double y) {
    ATSUTextLayout layout = nullptr;
    EXPECT_EQ(ATSUCreateTextLayout(&layout), noErr);
    const UniCharCount n = UniCharCount(text.size());
    EXPECT_EQ(ATSUSetTextPointerLocation(layout, text.data(), 0, n, n), noErr);
    EXPECT_EQ(ATSUSetRunStyle(layout, style, 0, n), noErr);
    const ATSUAttributeTag tags[] = {kATSUCGContextTag};
    const ByteCount sizes[] = {sizeof c};
    const ATSUAttributeValuePtr values[] = {&c};
    EXPECT_EQ(ATSUSetLayoutControls(layout, 1, tags, sizes, values), noErr);
    const OSStatus err = ATSUDrawText(layout, kATSUFromTextBeginning, kATSUToTextEnd, Fixed(x * 65536), Fixed(y * 65536));
    EXPECT_EQ(ATSUDisposeTextLayout(layout), noErr);
    return err;
  }
  static ATSUFontID find(const char* name) {
    ATSUFontID id = kATSUInvalidFontID;
    ATSUFindFontFromName(name, strlen(name), kFontFullName, kFontNoPlatformCode, kFontNoScriptCode,
                         kFontNoLanguageCode, &id);
    return id;
  }
  long live = 0;
};

TEST_F(ATSUText, FontsAreFoundByNameWithSubstitutes) {
  const ATSUFontID lucida = find("Lucida Grande");
  ASSERT_NE(lucida, kATSUInvalidFontID);
  EXPECT_STREQ(SkyloomATSUFontFamily(lucida), "DejaVu Sans");
  EXPECT_EQ(find("DejaVu Sans"), lucida);  // one id a family
  ATSUFontID id = 99;
  EXPECT_EQ(ATSUFindFontFromName("No Such Font Anywhere", 21, kFontFullName, kFontNoPlatformCode, kFontNoScriptCode,
                                 kFontNoLanguageCode, &id),
            kATSUInvalidFontErr);
  EXPECT_EQ(id, kATSUInvalidFontID);
  EXPECT_EQ(ATSUFindFontFromName("", 0, kFontFullName, 0, 0, 0, &id), kATSUInvalidFontErr);
  EXPECT_EQ(SkyloomATSUFontFamily(kATSUInvalidFontID), nullptr);
}

TEST_F(ATSUText, AttributesAreCheckedBeforeAnyIsSet) {
  ATSUStyle s = nullptr;
  ASSERT_EQ(ATSUCreateStyle(&s), noErr);
  ATSUFontID bad = 4000000;
  Fixed size = 12 << 16;
  const ATSUAttributeTag tags[] = {kATSUSizeTag, kATSUFontTag};
  const ByteCount sizes[] = {sizeof size, sizeof bad};
  const ATSUAttributeValuePtr values[] = {&size, &bad};
  EXPECT_EQ(ATSUSetAttributes(s, 2, tags, sizes, values), kATSUInvalidFontErr);
  const ByteCount wrongSize[] = {2, sizeof bad};
  EXPECT_EQ(ATSUSetAttributes(s, 1, tags, wrongSize, values), kATSUInvalidAttributeSizeErr);
  Fixed zero = 0;
  const ATSUAttributeValuePtr zeroSize[] = {&zero};
  EXPECT_EQ(ATSUSetAttributes(s, 1, tags, sizes, zeroSize), kATSUInvalidAttributeValueErr);
  const ATSUAttributeTag unknown[] = {12345};
  EXPECT_EQ(ATSUSetAttributes(s, 1, unknown, sizes, values), kATSUInvalidAttributeTagErr);
  EXPECT_EQ(ATSUSetAttributes(nullptr, 1, tags, sizes, values), kATSUInvalidStyleErr);
  EXPECT_EQ(ATSUDisposeStyle(s), noErr);
  EXPECT_EQ(ATSUDisposeStyle(nullptr), kATSUInvalidStyleErr);

  SkyloomATSUFailStyleCreation(2);
  ATSUStyle a = nullptr, b = nullptr;
  EXPECT_EQ(ATSUCreateStyle(&a), noErr);
  EXPECT_EQ(ATSUCreateStyle(&b), memFullErr);
  EXPECT_EQ(b, nullptr);
  ATSUDisposeStyle(a);
}

TEST_F(ATSUText, DrawingIsRecordedAndPaintsInTheStyleColour) {
  WindowRef w = makeWindow(200, 60);
  CGrafPtr port = GetWindowPort(w);
  CGContextRef c = nullptr;
  ASSERT_EQ(CreateCGContextForPort(port, &c), noErr);
  ATSUStyle red = makeStyle(find("Lucida Grande"), 40, {65535, 0, 0}, true);
  // The context's own colours do not matter.
  CGContextSetRGBFillColor(c, 0, 0, 1, 1);
  CGContextSetRGBStrokeColor(c, 0, 0, 1, 1);
  SkyloomCGSetRecording(true);
  // "H" and an e acute from UTF-16.
  ASSERT_EQ(draw(c, red, {u'H', 0x00E9}, 10.5, 12.25), noErr);
  const std::vector<SkyloomCGCall> calls = SkyloomCGRecordedCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "ATSUDrawText");
  EXPECT_EQ(calls[0].text, "H\xC3\xA9");
  EXPECT_EQ(calls[0].args, (std::vector<double>{10.5, 12.25, 40, 1, 1, 0, 0}));
  CGContextRelease(c);
  // The H's left stem: red pixels just right of x = 10.5, above the baseline
  // (local row 60 - 12.25 = 47.75) and below the cap height.
  int redPixels = 0, bluePixels = 0;
  for (SInt32 y = 0; y < 60; ++y)
    for (SInt32 x = 0; x < 200; ++x) {
      const UInt32 p = SkyloomPortPixel(port, x, y);
      if (p == 0xFFFF0000u) {
        ++redPixels;
        EXPECT_LT(y, 48);
        EXPECT_GE(x, 10);
      }
      bluePixels += (p & 0xFF) == 0xFF && ((p >> 16) & 0xFF) < 0x80;
    }
  EXPECT_GT(redPixels, 50);
  EXPECT_EQ(bluePixels, 0);
  ATSUDisposeStyle(red);
}

TEST_F(ATSUText, LayoutErrors) {
  ATSUTextLayout layout = nullptr;
  ASSERT_EQ(ATSUCreateTextLayout(&layout), noErr);
  const UniChar text[] = {u'a', u'b'};
  EXPECT_EQ(ATSUSetTextPointerLocation(layout, text, 1, 2, 2), kATSUInvalidTextRangeErr);
  EXPECT_EQ(ATSUSetTextPointerLocation(layout, text, 0, 2, 2), noErr);
  EXPECT_EQ(ATSUDrawText(layout, kATSUFromTextBeginning, kATSUToTextEnd, 0, 0), kATSUNotSetErr);
  WindowRef w = makeWindow(20, 20);
  CGContextRef c = nullptr;
  ASSERT_EQ(CreateCGContextForPort(GetWindowPort(w), &c), noErr);
  const ATSUAttributeTag tags[] = {kATSUCGContextTag};
  const ByteCount sizes[] = {sizeof c};
  const ATSUAttributeValuePtr values[] = {&c};
  EXPECT_EQ(ATSUSetLayoutControls(layout, 1, tags, sizes, values), noErr);
  EXPECT_EQ(ATSUDrawText(layout, kATSUFromTextBeginning, kATSUToTextEnd, 0, 0), kATSUNoStyleRunsAssignedErr);
  ATSUStyle s = makeStyle(find("Lucida Grande"), 12, {0, 0, 0}, false);
  EXPECT_EQ(ATSUSetRunStyle(layout, s, 0, 2), noErr);
  EXPECT_EQ(ATSUDrawText(layout, 1, 5, 0, 0), kATSUInvalidTextRangeErr);
  EXPECT_EQ(ATSUDrawText(layout, 1, 1, 0, 0), noErr);
  EXPECT_EQ(ATSUSetRunStyle(layout, nullptr, 0, 2), kATSUInvalidStyleErr);
  EXPECT_EQ(ATSUDisposeTextLayout(layout), noErr);
  EXPECT_EQ(ATSUDisposeTextLayout(nullptr), kATSUInvalidTextLayoutErr);
  ATSUDisposeStyle(s);
  CGContextRelease(c);
}

}  // namespace
