#include "platform/corefoundation/CFBundle.h"

#include <unistd.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/corefoundation/CFInternal.h"
#include "platform/coreservices/UnicodeText.h"

struct SkyloomCFBundle : SkyloomCFObject {
  SkyloomCFBundle() : SkyloomCFObject(kSkyloomCFTypeBundle) {}
  std::string describe() const override { return "<main bundle>"; }
};

namespace {

struct BundleState {
  std::mutex lock;
  std::string resourceDir;
  std::map<std::string, std::map<std::string, std::string>> tables;  // by table name
};

BundleState& state() {
  static BundleState s;
  return s;
}

bool isFolder(const std::string& p) { return access(p.c_str(), X_OK) == 0; }

std::string searchResourceDirectory() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "resources";
  exe[n] = '\0';
  std::string dir(exe);
  size_t slash = dir.rfind('/');
  dir.erase(slash == std::string::npos ? 0 : slash);
  // In the build tree "resources" sits beside the executable or a few folders up.
  std::string d = dir;
  for (int up = 0; up < 4 && !d.empty(); ++up) {
    if (isFolder(d + "/resources")) return d + "/resources";
    size_t s = d.rfind('/');
    if (s == std::string::npos) break;
    d.erase(s);
  }
  slash = dir.rfind('/');
  return (slash == std::string::npos ? std::string(".") : dir.substr(0, slash)) + "/share/skyloom";
}

struct Reader {
  std::string_view t;
  size_t i = 0;

  // Skips blanks and comments; false on an unterminated comment.
  bool skip() {
    while (i < t.size()) {
      char c = t[i];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++i;
      } else if (t.compare(i, 2, "//") == 0) {
        while (i < t.size() && t[i] != '\n') ++i;
      } else if (t.compare(i, 2, "/*") == 0) {
        size_t end = t.find("*/", i + 2);
        if (end == std::string_view::npos) return false;
        i = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  bool quoted(std::string& out) {
    if (i >= t.size() || t[i] != '"') return false;
    ++i;
    while (i < t.size()) {
      char c = t[i++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i >= t.size()) return false;
      char e = t[i++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'U':
        case 'u': {
          if (i + 4 > t.size()) return false;
          UInt32 cp = 0;
          for (int k = 0; k < 4; ++k) {
            char h = t[i++];
            cp <<= 4;
            if (h >= '0' && h <= '9') cp |= UInt32(h - '0');
            else if (h >= 'a' && h <= 'f') cp |= UInt32(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') cp |= UInt32(h - 'A' + 10);
            else return false;
          }
          if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
          SkyloomAppendUTF8(out, cp);
          break;
        }
        default: out += e; break;
      }
    }
    return false;
  }
};

const std::map<std::string, std::string>& table(const std::string& name) {
  BundleState& s = state();
  auto it = s.tables.find(name);
  if (it != s.tables.end()) return it->second;
  if (s.resourceDir.empty()) s.resourceDir = searchResourceDirectory();
  std::map<std::string, std::string> entries;
  std::ifstream in(s.resourceDir + "/" + name + ".strings", std::ios::binary);
  if (in) {
    std::ostringstream ss;
    ss << in.rdbuf();
    if (!SkyloomParseStringsTable(ss.str(), entries))
      fprintf(stderr, "CFBundleCopyLocalizedString: %s.strings is malformed; later entries are ignored\n",
              name.c_str());
  }
  return s.tables.emplace(name, std::move(entries)).first->second;
}

}  // namespace

bool SkyloomParseStringsTable(std::string_view text, std::map<std::string, std::string>& out) {
  Reader r{text};
  // A byte-order mark may lead the file.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) r.i = 3;
  while (true) {
    if (!r.skip()) return false;
    if (r.i >= text.size()) return true;
    std::string key, value;
    if (!r.quoted(key)) return false;
    if (!r.skip() || r.i >= text.size() || text[r.i] != '=') return false;
    ++r.i;
    if (!r.skip() || !r.quoted(value)) return false;
    if (!r.skip() || r.i >= text.size() || text[r.i] != ';') return false;
    ++r.i;
    out[key] = value;
  }
}

CFTypeID CFBundleGetTypeID() { return kSkyloomCFTypeBundle; }

CFBundleRef CFBundleGetMainBundle() {
  static SkyloomCFBundle* main = [] {
    auto* b = new SkyloomCFBundle;
    b->makeImmortal();
    return b;
  }();
  return main;
}

CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key, CFStringRef value, CFStringRef tableName) {
  if (!key) return value ? CFStringRef(CFRetain(value)) : nullptr;
  if (bundle) {
    std::string name = tableName ? SkyloomCFStringUTF8(tableName) : std::string("Localizable");
    std::string k = SkyloomCFStringUTF8(key);
    std::string text;
    bool found = false;
    {
      std::lock_guard<std::mutex> g(state().lock);
      const auto& t = table(name);
      auto it = t.find(k);
      if (it != t.end()) {
        text = it->second;
        found = true;
      }
    }
    if (found)
      if (CFStringRef s = SkyloomCFStringCreateFromUTF8(text)) return s;
  }
  if (value && CFStringGetLength(value) > 0) return CFStringRef(CFRetain(value));
  return CFStringRef(CFRetain(key));
}

std::string SkyloomBundleResourceDirectory() {
  std::lock_guard<std::mutex> g(state().lock);
  if (state().resourceDir.empty()) state().resourceDir = searchResourceDirectory();
  return state().resourceDir;
}

void SkyloomSetBundleResourceDirectory(const std::string& folder) {
  std::lock_guard<std::mutex> g(state().lock);
  state().resourceDir = folder;
  state().tables.clear();
}
