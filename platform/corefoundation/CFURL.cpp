// File URLs, and the main bundle's resources as URLs.
#include "platform/corefoundation/CFURL.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/corefoundation/CFBundle.h"
#include "platform/corefoundation/CFInternal.h"
#include "platform/corefoundation/CFString.h"

// ---- URLs ----
struct SkyloomCFURL : SkyloomCFObject {
  SkyloomCFURL() : SkyloomCFObject(kSkyloomCFTypeURL) {}
  ~SkyloomCFURL() override { CFRelease(text); }
  bool equals(const SkyloomCFObject& other) const override {
    return CFEqual(text, static_cast<const SkyloomCFURL&>(other).text);
  }
  CFHashCode hash() const override { return CFHash(text); }
  std::string describe() const override { return SkyloomCFStringUTF8(text); }

  bool isFile = false;
  bool isDirectory = false;
  std::string path;  // file URLs: absolute, UTF-8, no trailing slash but for "/"
  CFStringRef text = nullptr;
};

namespace {

bool unreservedInPath(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr("-._~!$&'()*+,;=:@/", c);
}

std::string percentEncode(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (c && unreservedInPath(c)) {
      out.push_back(char(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
      out.push_back(char(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string normalizePath(std::string path) {
  if (path.empty()) path = ".";
  if (path[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

SkyloomCFURL* newFileURL(const std::string& rawPath, bool isDirectory) {
  auto* u = new SkyloomCFURL;
  u->isFile = true;
  u->isDirectory = isDirectory;
  u->path = normalizePath(rawPath);
  std::string text = "file://" + percentEncode(u->path);
  if (isDirectory && u->path != "/") text.push_back('/');
  u->text = SkyloomCFStringCreateFromUTF8(text);
  if (!u->text) {
    CFRelease(u);
    return nullptr;
  }
  return u;
}

bool isFileOnDisk(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string lastComponent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  return last.empty() ? path : last;
}

}  // namespace

CFTypeID CFURLGetTypeID() { return kSkyloomCFTypeURL; }

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean isDirectory) {
  if (!filePath || pathStyle != kCFURLPOSIXPathStyle || CFStringGetLength(filePath) == 0) return nullptr;
  return newFileURL(SkyloomCFStringUTF8(filePath), isDirectory);
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer, CFIndex bufLen,
                                                 Boolean isDirectory) {
  if (!buffer || bufLen <= 0) return nullptr;
  std::string path(reinterpret_cast<const char*>(buffer), size_t(bufLen));
  path.resize(strnlen(path.c_str(), path.size()));
  if (path.empty()) return nullptr;
  return newFileURL(path, isDirectory);
}

CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef URLString, CFURLRef) {
  if (!URLString || CFStringGetLength(URLString) == 0) return nullptr;
  std::string text = SkyloomCFStringUTF8(URLString);
  if (text.rfind("file://", 0) == 0) {
    std::string rest = text.substr(7);
    if (rest.rfind("localhost", 0) == 0) rest = rest.substr(9);
    if (rest.empty() || rest[0] != '/') return nullptr;
    bool dir = rest.size() > 1 && rest.back() == '/';
    return newFileURL(percentDecode(rest), dir || rest == "/");
  }
  auto* u = new SkyloomCFURL;
  u->text = static_cast<CFStringRef>(CFStringCreateCopy(nullptr, URLString));
  u->isDirectory = text.back() == '/';
  return u;
}

CFStringRef CFURLGetString(CFURLRef anURL) { return anURL ? anURL->text : nullptr; }

CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle) {
  if (!anURL || !anURL->isFile || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
  return SkyloomCFStringCreateFromUTF8(anURL->path);
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8* buffer, CFIndex maxBufLen) {
  if (!url || !url->isFile || !buffer || maxBufLen <= 0) return false;
  if (url->path.size() + 1 > size_t(maxBufLen)) {
    buffer[0] = 0;
    return false;
  }
  memcpy(buffer, url->path.c_str(), url->path.size() + 1);
  return true;
}

CFStringRef CFURLCopyLastPathComponent(CFURLRef url) {
  if (!url) return nullptr;
  std::string path = url->isFile ? url->path : SkyloomCFStringUTF8(url->text);
  while (!url->isFile && path.size() > 1 && path.back() == '/') path.pop_back();
  return SkyloomCFStringCreateFromUTF8(lastComponent(path));
}

CFStringRef CFURLCopyPathExtension(CFURLRef url) {
  CFStringRef last = CFURLCopyLastPathComponent(url);
  if (!last) return nullptr;
  std::string name = SkyloomCFStringUTF8(last);
  CFRelease(last);
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return nullptr;
  return SkyloomCFStringCreateFromUTF8(name.substr(dot + 1));
}

Boolean CFURLHasDirectoryPath(CFURLRef anURL) { return anURL && anURL->isDirectory; }

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef, CFURLRef url, CFStringRef pathComponent,
                                               Boolean isDirectory) {
  if (!url || !url->isFile || !pathComponent) return nullptr;
  std::string base = url->path == "/" ? "" : url->path;
  return newFileURL(base + "/" + SkyloomCFStringUTF8(pathComponent), isDirectory);
}

CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef, CFURLRef url) {
  if (!url || !url->isFile) return nullptr;
  size_t slash = url->path.find_last_of('/');
  std::string parent = (slash == std::string::npos || slash == 0) ? "/" : url->path.substr(0, slash);
  return newFileURL(parent, true);
}

// ---- The main bundle's resources ----
namespace {
// The file's place in the resources folder or a localized folder of it.
std::string findResource(const std::string& root, const std::string& subDir, const std::string& file) {
  const char* const places[] = {"", "en.lproj/", "English.lproj/"};
  for (const char* place : places) {
    std::string path = root + "/" + place + (subDir.empty() ? "" : subDir + "/") + file;
    if (isFileOnDisk(path)) return path;
  }
  return std::string();
}
}  // namespace

CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle) {
  if (!bundle) return nullptr;
  return newFileURL(SkyloomBundleResourceDirectory(), true);
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) {
  CFURLRef resources = CFBundleCopyResourcesDirectoryURL(bundle);
  if (!resources) return nullptr;
  CFURLRef parent = CFURLCreateCopyDeletingLastPathComponent(nullptr, resources);
  CFRelease(resources);
  return parent;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                 CFStringRef subDirName) {
  if (!bundle || !resourceName) return nullptr;
  std::string file = SkyloomCFStringUTF8(resourceName);
  std::string type = SkyloomCFStringUTF8(resourceType);
  if (!type.empty()) file += (type[0] == '.' ? "" : ".") + type;
  // A name never climbs out of the resources folder.
  std::string sub = SkyloomCFStringUTF8(subDirName);
  if (file.empty() || file.find('/') != std::string::npos || sub.find("..") != std::string::npos) return nullptr;
  std::string path = findResource(SkyloomBundleResourceDirectory(), sub, file);
  return path.empty() ? nullptr : newFileURL(path, false);
}
