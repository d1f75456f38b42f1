// ATSUI stand-in: styled Unicode text drawn into CoreGraphics contexts with
// pango. A style holds a font (found by name; the old desktop's names map to
// installed substitutes, "Lucida Grande" to DejaVu Sans), a size, a colour and
// the bold flag; a layout holds UTF-16 text, its style runs and the context
// it draws into. Every ATSUDrawText is recorded in the CoreGraphics call log
// as "ATSUDrawText" with x, y, size, bold, red, green, blue (0..1) and the
// text. Main thread only, like the contexts.
#pragma once
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coreservices/MacTypes.h"

typedef struct OpaqueATSUStyle* ATSUStyle;
typedef struct OpaqueATSUTextLayout* ATSUTextLayout;
typedef UInt32 ATSUFontID;
typedef UInt32 ATSUAttributeTag;
typedef void* ATSUAttributeValuePtr;
typedef Fixed ATSUTextMeasurement;
typedef UInt32 UniCharArrayOffset;
typedef const UniChar* ConstUniCharArrayPtr;
typedef UInt32 FontNameCode;
typedef UInt32 FontPlatformCode;
typedef UInt32 FontScriptCode;
typedef UInt32 FontLanguageCode;

enum : FontNameCode { kFontFamilyName = 1, kFontStyleName = 2, kFontFullName = 4 };
enum : UInt32 {
  kFontNoPlatformCode = 0xFFFFFFFFu,
  kFontNoScriptCode = 0xFFFFFFFFu,
  kFontNoLanguageCode = 0xFFFFFFFFu,
};
constexpr ATSUFontID kATSUInvalidFontID = 0;
constexpr UniCharArrayOffset kATSUFromTextBeginning = 0xFFFFFFFFu;
constexpr UniCharCount kATSUToTextEnd = 0xFFFFFFFFu;

// Style attributes (value sizes: ATSUFontID, Fixed, RGBColor of three 16-bit
// components, Boolean) and the layout's context control (CGContextRef).
enum : ATSUAttributeTag {
  kATSUQDBoldfaceTag = 256,
  kATSUFontTag = 261,
  kATSUSizeTag = 262,
  kATSUColorTag = 263,
  kATSUCGContextTag = 32767,
};

enum : OSStatus {
  kATSUInvalidTextLayoutErr = -8790,
  kATSUInvalidStyleErr = -8791,
  kATSUInvalidTextRangeErr = -8792,
  kATSUInvalidFontErr = -8796,
  kATSUInvalidAttributeValueErr = -8797,
  kATSUInvalidAttributeSizeErr = -8798,
  kATSUInvalidAttributeTagErr = -8799,
  kATSUNotSetErr = -8801,
  kATSUNoStyleRunsAssignedErr = -8802,
};

OSStatus ATSUCreateStyle(ATSUStyle* oStyle);
OSStatus ATSUDisposeStyle(ATSUStyle iStyle);
// Finds a font by name (UTF-8 or ASCII bytes). Platform, script and language
// codes are accepted and not used.
OSStatus ATSUFindFontFromName(const void* iName, ByteCount iNameLength, FontNameCode iFontNameCode,
                              FontPlatformCode iFontNamePlatform, FontScriptCode iFontNameScript,
                              FontLanguageCode iFontNameLanguage, ATSUFontID* oFontID);
OSStatus ATSUSetAttributes(ATSUStyle iStyle, ItemCount iAttributeCount, const ATSUAttributeTag iTag[],
                           const ByteCount iValueSize[], const ATSUAttributeValuePtr iValue[]);
// The family name the font draws with; null for an unknown id.
const char* SkyloomATSUFontFamily(ATSUFontID font);

OSStatus ATSUCreateTextLayout(ATSUTextLayout* oTextLayout);
OSStatus ATSUDisposeTextLayout(ATSUTextLayout iTextLayout);
// The layout reads the caller's text (not copied) while it draws.
OSStatus ATSUSetTextPointerLocation(ATSUTextLayout iTextLayout, ConstUniCharArrayPtr iText,
                                    UniCharArrayOffset iTextOffset, UniCharCount iTextLength,
                                    UniCharCount iTextTotalLength);
OSStatus ATSUSetRunStyle(ATSUTextLayout iTextLayout, ATSUStyle iStyle, UniCharArrayOffset iRunStart,
                         UniCharCount iRunLength);
OSStatus ATSUSetLayoutControls(ATSUTextLayout iTextLayout, ItemCount iAttributeCount, const ATSUAttributeTag iTag[],
                               const ByteCount iValueSize[], const ATSUAttributeValuePtr iValue[]);
// Draws the line range with its baseline starting at (x, y), 16.16 fixed
// point in the layout's context. Without a context: kATSUNotSetErr.
OSStatus ATSUDrawText(ATSUTextLayout iTextLayout, UniCharArrayOffset iLineOffset, UniCharCount iLineLength,
                      ATSUTextMeasurement iLocationX, ATSUTextMeasurement iLocationY);

// ---- Test support ----
// The next n-th style creation fails with memFullErr (0 = never).
void SkyloomATSUFailStyleCreation(int nth);
// Styles and layouts alive now.
long SkyloomATSULiveObjectCount();
