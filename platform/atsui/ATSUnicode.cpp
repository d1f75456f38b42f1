#include "platform/atsui/ATSUnicode.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct OpaqueATSUStyle {
  ATSUFontID font = kATSUInvalidFontID;
  double size = 12.0;
  UInt16 rgb[3] = {0, 0, 0};
  bool bold = false;
};

struct OpaqueATSUTextLayout {
  const UniChar* text = nullptr;
  UniCharArrayOffset offset = 0;
  UniCharCount length = 0;
  UniCharCount total = 0;
  ATSUStyle style = nullptr;  // one run over the whole text
  CGContextRef context = nullptr;
};

namespace {

std::atomic<long> gLive{0};
std::atomic<int> gFailStyleAt{0};

// Fonts found so far, id = index + 1: their pango family names.
std::mutex gFontLock;
std::vector<std::string> gFonts;
// Names already looked up (lower case) and their ids; fontconfig's font list
// does not change while the process runs.
std::vector<std::pair<std::string, ATSUFontID>> gFound;

// Names of the old desktop's fonts and what draws them here.
struct Substitute {
  const char* name;
  const char* family;
};
constexpr Substitute kSubstitutes[] = {
    {"lucida grande", "DejaVu Sans"},       {"lucida grande bold", "DejaVu Sans"},
    {"helvetica", "DejaVu Sans"},           {"helvetica bold", "DejaVu Sans"},
    {"geneva", "DejaVu Sans"},              {"monaco", "DejaVu Sans Mono"},
    {"courier", "DejaVu Sans Mono"},        {"times", "DejaVu Serif"},
    {"times roman", "DejaVu Serif"},
};

std::string lower(std::string s) {
  for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

ATSUFontID internFamily(const std::string& family) {
  std::lock_guard<std::mutex> lock(gFontLock);
  for (size_t i = 0; i < gFonts.size(); ++i)
    if (gFonts[i] == family) return ATSUFontID(i + 1);
  gFonts.push_back(family);
  return ATSUFontID(gFonts.size());
}

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
std::string toUtf8(const UniChar* text, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    UInt32 cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace

OSStatus ATSUCreateStyle(ATSUStyle* out) {
  if (out == nullptr) return paramErr;
  *out = nullptr;
  const int at = gFailStyleAt.load();
  if (at > 0) {
    // Counts down to the creation that fails.
    gFailStyleAt.store(at - 1);
    if (at == 1) return memFullErr;
  }
  *out = new OpaqueATSUStyle;
  ++gLive;
  return noErr;
}

OSStatus ATSUDisposeStyle(ATSUStyle style) {
  if (style == nullptr) return kATSUInvalidStyleErr;
  delete style;
  --gLive;
  return noErr;
}

OSStatus ATSUFindFontFromName(const void* name, ByteCount length, FontNameCode, FontPlatformCode, FontScriptCode,
                              FontLanguageCode, ATSUFontID* out) {
  if (out == nullptr) return paramErr;
  *out = kATSUInvalidFontID;
  if (name == nullptr || length == 0) return kATSUInvalidFontErr;
  const std::string asked(static_cast<const char*>(name), length);
  const std::string key = lower(asked);
  {
    std::lock_guard<std::mutex> lock(gFontLock);
    for (const auto& [known, id] : gFound)
      if (known == key) {
        *out = id;
        return noErr;
      }
  }
  ATSUFontID id = kATSUInvalidFontID;
  for (const Substitute& s : kSubstitutes)
    if (key == s.name && SkyloomCGFontFamilyExists(s.family)) {
      id = internFamily(s.family);
      break;
    }
  if (id == kATSUInvalidFontID) {
    if (!SkyloomCGFontFamilyExists(asked.c_str())) return kATSUInvalidFontErr;
    id = internFamily(asked);
  }
  std::lock_guard<std::mutex> lock(gFontLock);
  gFound.emplace_back(key, id);
  *out = id;
  return noErr;
}

const char* SkyloomATSUFontFamily(ATSUFontID font) {
  std::lock_guard<std::mutex> lock(gFontLock);
  if (font == kATSUInvalidFontID || font > gFonts.size()) return nullptr;
  return gFonts[font - 1].c_str();
}

OSStatus ATSUSetAttributes(ATSUStyle style, ItemCount count, const ATSUAttributeTag tags[], const ByteCount sizes[],
                           const ATSUAttributeValuePtr values[]) {
  if (style == nullptr) return kATSUInvalidStyleErr;
  if (count == 0) return noErr;
  if (tags == nullptr || sizes == nullptr || values == nullptr) return paramErr;
  // Checked whole before any attribute changes.
  for (ItemCount i = 0; i < count; ++i) {
    if (values[i] == nullptr) return paramErr;
    switch (tags[i]) {
      case kATSUFontTag: {
        if (sizes[i] != sizeof(ATSUFontID)) return kATSUInvalidAttributeSizeErr;
        ATSUFontID id;
        std::memcpy(&id, values[i], sizeof id);
        if (SkyloomATSUFontFamily(id) == nullptr) return kATSUInvalidFontErr;
        break;
      }
      case kATSUSizeTag: {
        if (sizes[i] != sizeof(Fixed)) return kATSUInvalidAttributeSizeErr;
        Fixed size;
        std::memcpy(&size, values[i], sizeof size);
        if (size <= 0) return kATSUInvalidAttributeValueErr;
        break;
      }
      case kATSUColorTag:
        if (sizes[i] != 3 * sizeof(UInt16)) return kATSUInvalidAttributeSizeErr;
        break;
      case kATSUQDBoldfaceTag:
        if (sizes[i] != sizeof(Boolean)) return kATSUInvalidAttributeSizeErr;
        break;
      default:
        return kATSUInvalidAttributeTagErr;
    }
  }
  for (ItemCount i = 0; i < count; ++i) {
    switch (tags[i]) {
      case kATSUFontTag:
        std::memcpy(&style->font, values[i], sizeof style->font);
        break;
      case kATSUSizeTag: {
        Fixed size;
        std::memcpy(&size, values[i], sizeof size);
        style->size = double(size) / 65536.0;
        break;
      }
      case kATSUColorTag:
        std::memcpy(style->rgb, values[i], sizeof style->rgb);
        break;
      case kATSUQDBoldfaceTag: {
        Boolean bold;
        std::memcpy(&bold, values[i], sizeof bold);
        style->bold = bold != 0;
        break;
      }
      default:
        break;
    }
  }
  return noErr;
}

OSStatus ATSUCreateTextLayout(ATSUTextLayout* out) {
  if (out == nullptr) return paramErr;
  *out = new OpaqueATSUTextLayout;
  ++gLive;
  return noErr;
}

OSStatus ATSUDisposeTextLayout(ATSUTextLayout layout) {
  if (layout == nullptr) return kATSUInvalidTextLayoutErr;
  delete layout;
  --gLive;
  return noErr;
}

OSStatus ATSUSetTextPointerLocation(ATSUTextLayout layout, ConstUniCharArrayPtr text, UniCharArrayOffset offset,
                                    UniCharCount length, UniCharCount total) {
  if (layout == nullptr) return kATSUInvalidTextLayoutErr;
  if (text == nullptr && total > 0) return paramErr;
  if (offset > total || length > total - offset) return kATSUInvalidTextRangeErr;
  layout->text = text;
  layout->offset = offset;
  layout->length = length;
  layout->total = total;
  return noErr;
}

OSStatus ATSUSetRunStyle(ATSUTextLayout layout, ATSUStyle style, UniCharArrayOffset, UniCharCount) {
  if (layout == nullptr) return kATSUInvalidTextLayoutErr;
  if (style == nullptr) return kATSUInvalidStyleErr;
  layout->style = style;
  return noErr;
}

OSStatus ATSUSetLayoutControls(ATSUTextLayout layout, ItemCount count, const ATSUAttributeTag tags[],
                               const ByteCount sizes[], const ATSUAttributeValuePtr values[]) {
  if (layout == nullptr) return kATSUInvalidTextLayoutErr;
  if (count == 0) return noErr;
  if (tags == nullptr || sizes == nullptr || values == nullptr) return paramErr;
  for (ItemCount i = 0; i < count; ++i) {
    if (tags[i] != kATSUCGContextTag) return kATSUInvalidAttributeTagErr;
    if (sizes[i] != sizeof(CGContextRef)) return kATSUInvalidAttributeSizeErr;
    if (values[i] == nullptr) return paramErr;
  }
  for (ItemCount i = 0; i < count; ++i) std::memcpy(&layout->context, values[i], sizeof layout->context);
  return noErr;
}

OSStatus ATSUDrawText(ATSUTextLayout layout, UniCharArrayOffset lineOffset, UniCharCount lineLength,
                      ATSUTextMeasurement x, ATSUTextMeasurement y) {
  if (layout == nullptr) return kATSUInvalidTextLayoutErr;
  if (layout->context == nullptr) return kATSUNotSetErr;
  if (layout->style == nullptr) return kATSUNoStyleRunsAssignedErr;
  const size_t begin = lineOffset == kATSUFromTextBeginning ? layout->offset : lineOffset;
  const size_t end = lineLength == kATSUToTextEnd ? size_t(layout->offset) + layout->length : begin + lineLength;
  if (begin > layout->total || end > layout->total || end < begin) return kATSUInvalidTextRangeErr;
  const ATSUStyle s = layout->style;
  const double fx = double(x) / 65536.0, fy = double(y) / 65536.0;
  const double rgba[4] = {s->rgb[0] / 65535.0, s->rgb[1] / 65535.0, s->rgb[2] / 65535.0, 1.0};
  const char* family = SkyloomATSUFontFamily(s->font);
  SkyloomCGDrawStyledText(layout->context, "ATSUDrawText", {fx, fy, s->size, s->bold ? 1.0 : 0.0, rgba[0], rgba[1],
                                                            rgba[2]},
                          fx, fy, toUtf8(layout->text + begin, end - begin), family ? family : "DejaVu Sans", s->size,
                          s->bold, rgba);
  return noErr;
}

void SkyloomATSUFailStyleCreation(int nth) { gFailStyleAt.store(nth < 0 ? 0 : nth); }

long SkyloomATSULiveObjectCount() { return gLive.load(); }
