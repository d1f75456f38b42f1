#include "platform/corefoundation/CFPropertyListXML.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/coreservices/CivilDates.h"
#include "platform/coreservices/UnicodeText.h"

namespace {

// ---- Dates: whole seconds, "YYYY-MM-DDTHH:MM:SSZ" in UTC ----

constexpr double kSecondsPerDay = 86400.0;
// Days from 1970-01-01 to 2001-01-01.
constexpr int64_t kDays1970To2001 = 11323;

// ---- Base64 ----

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool DecodeBase64(const std::string& in, std::string* out) {
  uint32_t acc = 0;
  int bits = 0;
  size_t symbols = 0;
  bool padding = false;
  for (char c : in) {
    if (IsSpace(uint8_t(c))) continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const int v = Base64Value(c);
    if (v < 0 || padding) return false;
    ++symbols;
    acc = (acc << 6) | uint32_t(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(char((acc >> bits) & 0xFF));
    }
  }
  // A lone sixth of a byte cannot come from any data.
  return symbols % 4 != 1;
}

std::string EncodeBase64(const std::string& in) {
  std::string out;
  size_t i = 0;
  for (; i + 3 <= in.size(); i += 3) {
    const uint32_t v = uint32_t(uint8_t(in[i])) << 16 | uint32_t(uint8_t(in[i + 1])) << 8 | uint8_t(in[i + 2]);
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  if (in.size() - i == 1) {
    const uint32_t v = uint32_t(uint8_t(in[i])) << 16;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += "==";
  } else if (in.size() - i == 2) {
    const uint32_t v = uint32_t(uint8_t(in[i])) << 16 | uint32_t(uint8_t(in[i + 1])) << 8;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

// ---- Reader ----

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), n_(size) {}

  bool Document(SkyloomPlistNode* root) {
    if (n_ >= 3 && p_[0] == 0xEF && p_[1] == 0xBB && p_[2] == 0xBF) i_ = 3;
    // Prolog: declarations, processing instructions, comments, a doctype.
    for (;;) {
      SkipSpace();
      if (Starts("<?")) {
        if (!SkipPast("?>")) return false;
      } else if (Starts("<!--")) {
        if (!SkipPast("-->")) return false;
      } else if (Starts("<!DOCTYPE")) {
        if (!SkipDoctype()) return false;
      } else {
        break;
      }
    }
    std::string name;
    bool empty = false;
    if (!OpenTag(&name, &empty) || name != "plist" || empty) return false;
    SkyloomPlistNode value;
    if (!SkipMisc() || !Value(1, &value) || !SkipMisc() || !CloseTag("plist")) return false;
    if (!SkipMisc() || i_ != n_) return false;
    *root = std::move(value);
    return true;
  }

 private:
  bool Starts(const char* s) const {
    const size_t len = strlen(s);
    return n_ - i_ >= len && memcmp(p_ + i_, s, len) == 0;
  }
  void SkipSpace() {
    while (i_ < n_ && IsSpace(p_[i_])) ++i_;
  }
  bool SkipPast(const char* s) {
    const size_t len = strlen(s);
    for (; i_ + len <= n_; ++i_) {
      if (memcmp(p_ + i_, s, len) == 0) {
        i_ += len;
        return true;
      }
    }
    return false;
  }
  bool SkipDoctype() {
    int brackets = 0;
    char quote = 0;
    for (i_ += 9; i_ < n_; ++i_) {
      const char c = char(p_[i_]);
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++brackets;
      } else if (c == ']') {
        if (--brackets < 0) return false;
      } else if (c == '>' && brackets == 0) {
        ++i_;
        return true;
      }
    }
    return false;
  }
  // Whitespace and comments between elements.
  bool SkipMisc() {
    for (;;) {
      SkipSpace();
      if (!Starts("<!--")) return true;
      if (!SkipPast("-->")) return false;
    }
  }
  // "<name attr='...'>" or "<name/>". Attributes are read past, not kept.
  bool OpenTag(std::string* name, bool* empty) {
    if (i_ >= n_ || p_[i_] != '<') return false;
    ++i_;
    name->clear();
    while (i_ < n_ && ((p_[i_] >= 'a' && p_[i_] <= 'z') || (p_[i_] >= 'A' && p_[i_] <= 'Z'))) {
      name->push_back(char(p_[i_++]));
      if (name->size() > 16) return false;
    }
    if (name->empty()) return false;
    char quote = 0;
    for (; i_ < n_; ++i_) {
      const char c = char(p_[i_]);
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '<') {
        return false;
      } else if (c == '>') {
        *empty = i_ > 0 && p_[i_ - 1] == '/';
        ++i_;
        return true;
      }
    }
    return false;
  }
  bool CloseTag(const char* name) {
    if (!Starts("</")) return false;
    i_ += 2;
    const size_t len = strlen(name);
    if (n_ - i_ < len || memcmp(p_ + i_, name, len) != 0) return false;
    i_ += len;
    SkipSpace();
    if (i_ >= n_ || p_[i_] != '>') return false;
    ++i_;
    return true;
  }
  // Character data up to the next '<', entities and UTF-8 decoded.
  bool Text(std::u16string* out) {
    while (i_ < n_ && p_[i_] != '<') {
      const uint8_t c = p_[i_];
      if (c == '&') {
        if (!Entity(out)) return false;
      } else if (c < 0x80) {
        out->push_back(c);
        ++i_;
      } else if (!Utf8(out)) {
        return false;
      }
    }
    return i_ < n_;
  }
  bool Entity(std::u16string* out) {
    static const struct {
      const char* name;
      char16_t unit;
    } kNamed[] = {{"&amp;", u'&'}, {"&lt;", u'<'}, {"&gt;", u'>'}, {"&quot;", u'"'}, {"&apos;", u'\''}};
    for (const auto& e : kNamed) {
      if (Starts(e.name)) {
        out->push_back(e.unit);
        i_ += strlen(e.name);
        return true;
      }
    }
    if (!Starts("&#")) return false;
    i_ += 2;
    int base = 10;
    if (i_ < n_ && p_[i_] == 'x') {
      base = 16;
      ++i_;
    }
    uint32_t v = 0;
    size_t digits = 0;
    for (; i_ < n_ && p_[i_] != ';'; ++i_, ++digits) {
      const char c = char(p_[i_]);
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else return false;
      v = v * uint32_t(base) + uint32_t(d);
      if (v > 0x10FFFF) return false;
    }
    if (i_ >= n_ || digits == 0) return false;
    ++i_;
    // A reference to a surrogate stands for that one code unit (a lone
    // surrogate the writer could not put in UTF-8).
    SkyloomAppendUTF16(*out, v);
    return true;
  }
  // Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
  bool Utf8(std::u16string* out) {
    char32_t cp;
    const size_t used = SkyloomDecodeUTF8(p_ + i_, n_ - i_, &cp);
    if (used == 0) return false;
    SkyloomAppendUTF16(*out, cp);
    i_ += used;
    return true;
  }
  // The ASCII content of a number, date or data element, trimmed.
  bool Plain(const char* name, bool empty, std::string* out) {
    if (!empty) {
      std::u16string text;
      if (!Text(&text) || !CloseTag(name)) return false;
      for (char16_t u : text) {
        if (u >= 0x80) return false;
        out->push_back(char(u));
      }
    }
    size_t b = 0, e = out->size();
    while (b < e && IsSpace(uint8_t((*out)[b]))) ++b;
    while (e > b && IsSpace(uint8_t((*out)[e - 1]))) --e;
    *out = out->substr(b, e - b);
    return true;
  }

  bool Value(int depth, SkyloomPlistNode* node) {
    if (depth > kSkyloomPlistMaxDepth) return false;
    std::string name;
    bool empty = false;
    if (!OpenTag(&name, &empty)) return false;
    if (name == "string") {
      node->kind = SkyloomPlistNode::Kind::String;
      return empty || (Text(&node->text) && CloseTag("string"));
    }
    if (name == "true" || name == "false") {
      node->kind = SkyloomPlistNode::Kind::Boolean;
      node->boolean = name == "true";
      return empty || CloseTag(name.c_str());
    }
    if (name == "integer") {
      std::string s;
      if (!Plain("integer", empty, &s) || s.empty()) return false;
      const char* b = s.data();
      if (*b == '+') ++b;
      const char* e = s.data() + s.size();
      auto r = std::from_chars(b, e, node->integer);
      node->kind = SkyloomPlistNode::Kind::Integer;
      return r.ec == std::errc() && r.ptr == e && b != e;
    }
    if (name == "real") {
      std::string s;
      if (!Plain("real", empty, &s) || s.empty()) return false;
      const char* b = s.data();
      if (*b == '+' && s.size() > 1 && s[1] != '-') ++b;
      const char* e = s.data() + s.size();
      auto r = std::from_chars(b, e, node->real);
      node->kind = SkyloomPlistNode::Kind::Real;
      // A value past the double range is refused like any malformed number.
      return r.ec == std::errc() && r.ptr == e;
    }
    if (name == "date") {
      std::string s;
      if (!Plain("date", empty, &s)) return false;
      int y, mo, d, h, mi, sec;
      char tail = 0;
      int used = 0;
      if (s.size() != 20 ||
          sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &y, &mo, &d, &h, &mi, &sec, &tail, &used) != 7 ||
          used != 20 || tail != 'Z')
        return false;
      for (size_t k : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(5), size_t(6), size_t(8), size_t(9),
                       size_t(11), size_t(12), size_t(14), size_t(15), size_t(17), size_t(18)})
        if (s[k] < '0' || s[k] > '9') return false;
      if (mo < 1 || mo > 12 || d < 1 || d > SkyloomDaysInMonth(y, mo) || h > 23 || mi > 59 || sec > 59) return false;
      node->kind = SkyloomPlistNode::Kind::Date;
      node->real = double(SkyloomDaysFromCivil(y, mo, d) - kDays1970To2001) * kSecondsPerDay + h * 3600.0 + mi * 60.0 + sec;
      return true;
    }
    if (name == "data") {
      std::string s;
      node->kind = SkyloomPlistNode::Kind::Data;
      return Plain("data", empty, &s) && DecodeBase64(s, &node->bytes);
    }
    if (name == "array") {
      node->kind = SkyloomPlistNode::Kind::Array;
      if (empty) return true;
      for (;;) {
        if (!SkipMisc()) return false;
        if (Starts("</")) return CloseTag("array");
        SkyloomPlistNode item;
        if (!Value(depth + 1, &item)) return false;
        node->items.push_back(std::move(item));
      }
    }
    if (name == "dict") {
      node->kind = SkyloomPlistNode::Kind::Dict;
      if (empty) return true;
      for (;;) {
        if (!SkipMisc()) return false;
        if (Starts("</")) return CloseTag("dict");
        std::string tag;
        bool emptyKey = false;
        if (!OpenTag(&tag, &emptyKey) || tag != "key") return false;
        std::u16string key;
        if (!emptyKey && !(Text(&key) && CloseTag("key"))) return false;
        SkyloomPlistNode item;
        if (!SkipMisc() || !Value(depth + 1, &item)) return false;
        // A key given twice keeps its last value, where the first one stood.
        size_t k = 0;
        while (k < node->keys.size() && node->keys[k] != key) ++k;
        if (k < node->keys.size()) {
          node->items[k] = std::move(item);
        } else {
          node->keys.push_back(std::move(key));
          node->items.push_back(std::move(item));
        }
      }
    }
    return false;
  }

  const uint8_t* p_;
  size_t n_;
  size_t i_ = 0;
};

// ---- Writer ----

void AppendEscaped(std::string& out, const std::u16string& text) {
  char ref[16];
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u == '&') {
      out += "&amp;";
    } else if (u == '<') {
      out += "&lt;";
    } else if (u == '>') {
      out += "&gt;";
    } else if (u < 0x20 && u != '\t' && u != '\n') {
      // Carriage returns too: an XML reader would fold them into line feeds.
      snprintf(ref, sizeof ref, "&#%u;", unsigned(u));
      out += ref;
    } else {
      char32_t cp;
      const size_t used = SkyloomDecodeUTF16(u, i + 1 < text.size() ? text[i + 1] : 0, &cp);
      if (used == 0) {  // a lone surrogate has no UTF-8 form
        snprintf(ref, sizeof ref, "&#x%X;", unsigned(u));
        out += ref;
      } else {
        SkyloomAppendUTF8(out, cp);
        i += used - 1;
      }
    }
  }
}

void Write(std::string& out, const SkyloomPlistNode& node, int indent) {
  const std::string tabs(size_t(indent), '\t');
  out += tabs;
  switch (node.kind) {
    case SkyloomPlistNode::Kind::String:
      out += "<string>";
      AppendEscaped(out, node.text);
      out += "</string>\n";
      break;
    case SkyloomPlistNode::Kind::Integer:
      out += "<integer>" + std::to_string(node.integer) + "</integer>\n";
      break;
    case SkyloomPlistNode::Kind::Real: {
      // Shortest text that reads back to the same double, never localized.
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, node.real);
      out += "<real>" + std::string(buf, r.ptr) + "</real>\n";
      break;
    }
    case SkyloomPlistNode::Kind::Boolean:
      out += node.boolean ? "<true/>\n" : "<false/>\n";
      break;
    case SkyloomPlistNode::Kind::Date: {
      const double whole = std::floor(node.real);
      const int64_t days = int64_t(std::floor(whole / kSecondsPerDay));
      const int64_t secs = int64_t(whole - double(days) * kSecondsPerDay);
      int64_t y;
      int m, d;
      SkyloomCivilFromDays(days + kDays1970To2001, &y, &m, &d);
      char buf[96];
      snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02dZ", (long long)y, m, d, int(secs / 3600),
               int(secs / 60 % 60), int(secs % 60));
      out += "<date>" + std::string(buf) + "</date>\n";
      break;
    }
    case SkyloomPlistNode::Kind::Data:
      out += "<data>" + EncodeBase64(node.bytes) + "</data>\n";
      break;
    case SkyloomPlistNode::Kind::Array:
      if (node.items.empty()) {
        out += "<array/>\n";
        break;
      }
      out += "<array>\n";
      for (const auto& item : node.items) Write(out, item, indent + 1);
      out += tabs + "</array>\n";
      break;
    case SkyloomPlistNode::Kind::Dict:
      if (node.items.empty()) {
        out += "<dict/>\n";
        break;
      }
      out += "<dict>\n";
      for (size_t k = 0; k < node.items.size() && k < node.keys.size(); ++k) {
        out += tabs + "\t<key>";
        AppendEscaped(out, node.keys[k]);
        out += "</key>\n";
        Write(out, node.items[k], indent + 1);
      }
      out += tabs + "</dict>\n";
      break;
  }
}

}  // namespace

bool SkyloomPlistDateIsWritable(double at) {
  // Years 0000 to 9999: the four digits of the text form.
  constexpr double kFirst = double(SkyloomDaysFromCivil(0, 1, 1) - kDays1970To2001) * kSecondsPerDay;
  constexpr double kEnd = double(SkyloomDaysFromCivil(10000, 1, 1) - kDays1970To2001) * kSecondsPerDay;
  return at >= kFirst && at < kEnd;
}

bool SkyloomParseXMLPropertyList(const uint8_t* data, size_t size, SkyloomPlistNode* root) {
  if (data == nullptr || root == nullptr) return false;
  return Reader(data, size).Document(root);
}

std::string SkyloomWriteXMLPropertyList(const SkyloomPlistNode& root) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  Write(out, root, 0);
  out += "</plist>\n";
  return out;
}
