#include "platform/corefoundation/CFPreferences.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/corefoundation/CFArray.h"
#include "platform/corefoundation/CFData.h"
#include "platform/corefoundation/CFDate.h"
#include "platform/corefoundation/CFDictionary.h"
#include "platform/corefoundation/CFNumber.h"
#include "platform/corefoundation/CFPropertyListXML.h"
#include "platform/corefoundation/CFString.h"
#include "platform/coreservices/Files.h"

namespace {

// A domain file larger than this is not a preference domain.
constexpr off_t kMaxDomainFileBytes = 16 << 20;

using Values = std::map<std::u16string, SkyloomPlistNode>;

struct Domain {
  bool loaded = false;
  Values values;  // what Copy answers: the file as last read, plus our changes
  std::map<std::u16string, std::optional<SkyloomPlistNode>> pending;  // changes since the last write
};

struct Store {
  std::mutex mutex;
  std::map<std::string, Domain> domains;  // by file path
  UInt32 failWrites = 0;
};

Store& S() {
  static Store* store = new Store;
  return *store;
}

std::u16string Units(CFStringRef s) {
  const CFIndex n = CFStringGetLength(s);
  std::u16string u(size_t(n), u'\0');
  if (n > 0) CFStringGetCharacters(s, CFRangeMake(0, n), reinterpret_cast<UniChar*>(u.data()));
  return u;
}

// The domain's file, or empty when the application ID cannot name one.
std::string DomainPath(CFStringRef applicationID) {
  if (applicationID == nullptr || CFGetTypeID(applicationID) != CFStringGetTypeID()) return "";
  char name[256];
  if (!CFStringGetCString(applicationID, name, sizeof name - 16, kCFStringEncodingUTF8)) return "";
  if (name[0] == '\0' || strchr(name, '/') != nullptr || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return "";
  return SkyloomConfigurationDirectory() + "/" + name + ".plist";
}

// ---- Objects to nodes and back ----

bool ToNode(CFTypeRef cf, int depth, SkyloomPlistNode* node) {
  if (cf == nullptr || depth > kSkyloomPlistMaxDepth) return false;
  const CFTypeID type = CFGetTypeID(cf);
  if (type == CFStringGetTypeID()) {
    node->kind = SkyloomPlistNode::Kind::String;
    node->text = Units(static_cast<CFStringRef>(cf));
    return true;
  }
  if (type == CFNumberGetTypeID()) {
    CFNumberRef n = static_cast<CFNumberRef>(cf);
    if (CFNumberIsFloatType(n)) {
      node->kind = SkyloomPlistNode::Kind::Real;
      CFNumberGetValue(n, kCFNumberFloat64Type, &node->real);
    } else {
      node->kind = SkyloomPlistNode::Kind::Integer;
      CFNumberGetValue(n, kCFNumberSInt64Type, &node->integer);
    }
    return true;
  }
  if (type == CFBooleanGetTypeID()) {
    node->kind = SkyloomPlistNode::Kind::Boolean;
    node->boolean = CFBooleanGetValue(static_cast<CFBooleanRef>(cf));
    return true;
  }
  if (type == CFDateGetTypeID()) {
    node->kind = SkyloomPlistNode::Kind::Date;
    node->real = CFDateGetAbsoluteTime(static_cast<CFDateRef>(cf));
    return SkyloomPlistDateIsWritable(node->real);
  }
  if (type == CFDataGetTypeID()) {
    CFDataRef d = static_cast<CFDataRef>(cf);
    node->kind = SkyloomPlistNode::Kind::Data;
    const CFIndex n = CFDataGetLength(d);
    if (n > 0) node->bytes.assign(reinterpret_cast<const char*>(CFDataGetBytePtr(d)), size_t(n));
    return true;
  }
  if (type == CFArrayGetTypeID()) {
    CFArrayRef a = static_cast<CFArrayRef>(cf);
    node->kind = SkyloomPlistNode::Kind::Array;
    for (CFIndex i = 0; i < CFArrayGetCount(a); ++i) {
      SkyloomPlistNode item;
      if (!ToNode(CFArrayGetValueAtIndex(a, i), depth + 1, &item)) return false;
      node->items.push_back(std::move(item));
    }
    return true;
  }
  if (type == CFDictionaryGetTypeID()) {
    CFDictionaryRef d = static_cast<CFDictionaryRef>(cf);
    node->kind = SkyloomPlistNode::Kind::Dict;
    const CFIndex n = CFDictionaryGetCount(d);
    std::vector<const void*> keys(static_cast<size_t>(n));
    std::vector<const void*> values(static_cast<size_t>(n));
    if (n > 0) CFDictionaryGetKeysAndValues(d, keys.data(), values.data());
    for (CFIndex i = 0; i < n; ++i) {
      if (keys[size_t(i)] == nullptr || CFGetTypeID(keys[size_t(i)]) != CFStringGetTypeID()) return false;
      SkyloomPlistNode item;
      if (!ToNode(values[size_t(i)], depth + 1, &item)) return false;
      node->keys.push_back(Units(static_cast<CFStringRef>(keys[size_t(i)])));
      node->items.push_back(std::move(item));
    }
    return true;
  }
  return false;
}

CFTypeRef ToObject(const SkyloomPlistNode& node) {
  switch (node.kind) {
    case SkyloomPlistNode::Kind::String:
      return CFStringCreateWithCharacters(kCFAllocatorDefault, reinterpret_cast<const UniChar*>(node.text.data()),
                                          CFIndex(node.text.size()));
    case SkyloomPlistNode::Kind::Integer:
      return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &node.integer);
    case SkyloomPlistNode::Kind::Real:
      return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &node.real);
    case SkyloomPlistNode::Kind::Boolean:
      return node.boolean ? kCFBooleanTrue : kCFBooleanFalse;
    case SkyloomPlistNode::Kind::Date:
      return CFDateCreate(kCFAllocatorDefault, node.real);
    case SkyloomPlistNode::Kind::Data:
      return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(node.bytes.data()),
                          CFIndex(node.bytes.size()));
    case SkyloomPlistNode::Kind::Array: {
      CFMutableArrayRef a = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
      for (const auto& item : node.items) {
        CFTypeRef v = ToObject(item);
        if (v == nullptr) {
          CFRelease(a);
          return nullptr;
        }
        CFArrayAppendValue(a, v);
        CFRelease(v);
      }
      return a;
    }
    case SkyloomPlistNode::Kind::Dict: {
      CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                           &kCFTypeDictionaryValueCallBacks);
      for (size_t i = 0; i < node.items.size() && i < node.keys.size(); ++i) {
        CFStringRef k = CFStringCreateWithCharacters(
            kCFAllocatorDefault, reinterpret_cast<const UniChar*>(node.keys[i].data()), CFIndex(node.keys[i].size()));
        CFTypeRef v = ToObject(node.items[i]);
        if (k == nullptr || v == nullptr) {
          if (k) CFRelease(k);
          if (v) CFRelease(v);
          CFRelease(d);
          return nullptr;
        }
        CFDictionarySetValue(d, k, v);
        CFRelease(k);
        CFRelease(v);
      }
      return d;
    }
  }
  return nullptr;
}

// ---- Files ----

enum class FileState { Missing, Read, Damaged };

FileState ReadDomainFile(const std::string& path, Values* out) {
  out->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return FileState::Missing;
    fprintf(stderr, "CFPreferences cannot read %s Err = 0x%x %d\n", path.c_str(), unsigned(errno), errno);
    return FileState::Damaged;
  }
  std::string text;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxDomainFileBytes;
  if (ok) {
    text.resize(size_t(st.st_size));
    size_t got = 0;
    while (ok && got < text.size()) {
      const ssize_t r = read(fd, text.data() + got, text.size() - got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) ok = false;
      else got += size_t(r);
    }
  }
  close(fd);
  SkyloomPlistNode root;
  ok = ok && SkyloomParseXMLPropertyList(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &root) &&
       root.kind == SkyloomPlistNode::Kind::Dict;
  if (!ok) {
    fprintf(stderr, "CFPreferences %s is damaged; its values read as missing\n", path.c_str());
    return FileState::Damaged;
  }
  for (size_t i = 0; i < root.keys.size() && i < root.items.size(); ++i)
    (*out)[std::move(root.keys[i])] = std::move(root.items[i]);
  return FileState::Read;
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

bool MakeDirectories(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whole new file beside the old one, then renamed over it: a reader sees the
// old domain or the new one, never part of either.
bool WriteDomainFile(const std::string& path, const Values& values, bool keepDamaged) {
  const std::string dir = path.substr(0, path.rfind('/'));
  if (!MakeDirectories(dir)) {
    fprintf(stderr, "CFPreferences cannot make %s Err = 0x%x %d\n", dir.c_str(), unsigned(errno), errno);
    return false;
  }
  SkyloomPlistNode root;
  root.kind = SkyloomPlistNode::Kind::Dict;
  for (const auto& [key, value] : values) {
    root.keys.push_back(key);
    root.items.push_back(value);
  }
  const std::string text = SkyloomWriteXMLPropertyList(root);

  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    fprintf(stderr, "CFPreferences cannot write %s Err = 0x%x %d\n", path.c_str(), unsigned(errno), errno);
    return false;
  }
  bool ok;
  if (S().failWrites > 0) {
    --S().failWrites;
    WriteAll(fd, text.data(), text.size() / 2);
    errno = EIO;
    ok = false;
  } else {
    ok = WriteAll(fd, text.data(), text.size()) && fsync(fd) == 0;
  }
  const int savedErrno = errno;
  ok = close(fd) == 0 && ok;
  if (ok && keepDamaged) {
    const std::string kept = path + ".damaged";
    unlink(kept.c_str());
    if (link(path.c_str(), kept.c_str()) != 0)
      fprintf(stderr, "CFPreferences cannot keep the damaged %s Err = 0x%x %d\n", path.c_str(), unsigned(errno), errno);
  }
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    const int e = errno ? errno : savedErrno;
    fprintf(stderr, "CFPreferences cannot write %s Err = 0x%x %d\n", path.c_str(), unsigned(e), e);
    unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

Domain& LoadedDomain(const std::string& path) {
  Domain& d = S().domains[path];
  if (!d.loaded) {
    ReadDomainFile(path, &d.values);
    d.loaded = true;
  }
  return d;
}

}  // namespace

void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID) {
  if (key == nullptr || CFGetTypeID(key) != CFStringGetTypeID()) return;
  const std::string path = DomainPath(applicationID);
  if (path.empty()) return;
  std::optional<SkyloomPlistNode> node;
  if (value != nullptr) {
    node.emplace();
    if (!ToNode(value, 1, &*node)) {
      fprintf(stderr, "CFPreferencesSetAppValue cannot store a value of type %lu\n", CFGetTypeID(value));
      return;
    }
  }
  std::lock_guard<std::mutex> lock(S().mutex);
  Domain& d = LoadedDomain(path);
  const std::u16string k = Units(key);
  if (node) d.values[k] = *node;
  else d.values.erase(k);
  d.pending[k] = std::move(node);
}

CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID) {
  if (key == nullptr || CFGetTypeID(key) != CFStringGetTypeID()) return nullptr;
  const std::string path = DomainPath(applicationID);
  if (path.empty()) return nullptr;
  std::lock_guard<std::mutex> lock(S().mutex);
  Domain& d = LoadedDomain(path);
  auto it = d.values.find(Units(key));
  return it == d.values.end() ? nullptr : ToObject(it->second);
}

Boolean CFPreferencesAppSynchronize(CFStringRef applicationID) {
  const std::string path = DomainPath(applicationID);
  if (path.empty()) return false;
  std::lock_guard<std::mutex> lock(S().mutex);
  Domain& d = LoadedDomain(path);
  Values now;
  if (d.pending.empty()) {
    ReadDomainFile(path, &now);
    d.values = std::move(now);
    return true;
  }
  // Another process synchronizing the domain between our re-read and our
  // rename would lose its keys to our file: the domain's lock file is held
  // exclusively across both. Without the lock (a folder we cannot write) the
  // write below fails anyway.
  int lockFd = -1;
  if (MakeDirectories(path.substr(0, path.rfind('/')))) {
    lockFd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    while (lockFd >= 0 && flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  const FileState state = ReadDomainFile(path, &now);
  for (auto& [key, change] : d.pending) {
    if (change) now[key] = *change;
    else now.erase(key);
  }
  const bool written = WriteDomainFile(path, now, state == FileState::Damaged);
  if (lockFd >= 0) close(lockFd);
  if (!written) return false;
  d.values = std::move(now);
  d.pending.clear();
  return true;
}

void SkyloomPreferencesForgetAll() {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().domains.clear();
}

void SkyloomFailPreferenceWrites(UInt32 count) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().failWrites = count;
}
