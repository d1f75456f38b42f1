// File Manager over POSIX. See Files.h for the model.
//
// Locks: Tables::mutex guards the path table, the directory and volume tables, the
// configuration directory and the fault injector. ForkTable::mutex guards the fork
// table only. A fork's own mutex is held for the whole of an operation on it
// and may be held while gTables is taken (never the other way round).
#include "platform/coreservices/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/coreservices/UnicodeText.h"

namespace {

constexpr UInt32 kRefMagic = FOUR_CHAR_CODE("SkFR");
constexpr SInt32 kFirstUserDirID = 16;
constexpr SInt32 kDirIDLimit = 1 << 24;
constexpr FSVolumeRefNum kFirstVolumeRefNum = -100;
constexpr const char* kDirectoryTableName = "directory-ids";

OSErr MapErrno(int e) {
  switch (e) {
    case EEXIST: return dupFNErr;
    case ENOENT: return fnfErr;
    case ENOSPC:
    case EDQUOT: return dskFulErr;
    case EACCES:
    case EPERM: return permErr;
    default: return ioErr;
  }
}

// ---- Text ----

bool Utf16ToUtf8(const UniChar* s, size_t n, std::string* out) {
  out->clear();
  for (size_t i = 0; i < n;) {
    char32_t c;
    const size_t used = SkyloomDecodeUTF16(s[i], i + 1 < n ? s[i + 1] : 0, &c);
    if (used == 0) return false;
    SkyloomAppendUTF8(*out, c);
    i += used;
  }
  return true;
}

// Bytes that are not UTF-8 become U+FFFD; at most 255 code units.
void Utf8ToHFSUniStr(const std::string& s, HFSUniStr255* out) {
  UInt16 n = 0;
  const auto* p = reinterpret_cast<const UInt8*>(s.data());
  for (size_t i = 0; i < s.size();) {
    char32_t u;
    size_t used = SkyloomDecodeUTF8(p + i, s.size() - i, &u);
    if (used == 0) {
      u = 0xFFFD;
      used = 1;
    }
    char16_t units[2];
    const int k = SkyloomEncodeUTF16(u, units);
    if (n + k <= 255)
      for (int j = 0; j < k; ++j) out->unicode[n++] = UniChar(units[j]);
    i += used;
  }
  out->length = n;
}

OSErr CheckName(const std::string& name) {
  if (name.empty()) return errFSMissingName;
  if (name.size() > NAME_MAX) return errFSNameTooLong;
  if (name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos)
    return bdNamErr;
  return noErr;
}

OSErr NameFromUnicode(UniCharCount n, const UniChar* s, std::string* out) {
  if (n == 0) return errFSMissingName;
  if (s == nullptr) return paramErr;
  if (n > 255) return errFSNameTooLong;
  if (!Utf16ToUtf8(s, n, out)) return bdNamErr;
  return CheckName(*out);
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == 0 || slash == std::string::npos) return "/";
  return path.substr(0, slash);
}

std::string LeafOf(const std::string& path) {
  if (path == "/") return "/";
  return path.substr(path.rfind('/') + 1);
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

bool Canonical(const std::string& path, std::string* out, int* err) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf) == nullptr) {
    *err = errno;
    return false;
  }
  *out = buf;
  return true;
}

// ---- Tables ----

struct Faults {
  bool installed = false;
  SkyloomFileFaults f;
  UInt32 writes = 0;
  UInt32 creates = 0;
};

struct Tables {
  std::mutex mutex;
  // Interned absolute paths; id = index + 1.
  std::deque<std::string> paths;
  std::unordered_map<std::string, UInt32> pathIds;
  // Directory and volume tables as read from the configuration directory.
  bool loaded = false;
  std::string loadedFrom;
  std::map<SInt32, std::string> dirPaths;
  std::unordered_map<std::string, SInt32> dirIds;
  std::map<FSVolumeRefNum, std::string> volumePaths;
  std::unordered_map<std::string, FSVolumeRefNum> volumeIds;
  bool overrideSet = false;
  std::string overrideDir;
  bool warnedTable = false;
  Faults faults;
};

Tables& T() {
  static Tables* t = new Tables;  // never destroyed: forks may outlive statics
  return *t;
}

UInt32 InternLocked(const std::string& path) {
  Tables& t = T();
  auto it = t.pathIds.find(path);
  if (it != t.pathIds.end()) return it->second;
  t.paths.push_back(path);
  UInt32 id = UInt32(t.paths.size());
  t.pathIds.emplace(path, id);
  return id;
}

void MakeRef(const std::string& path, FSRef* ref) {
  UInt32 id;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    id = InternLocked(path);
  }
  std::memset(ref, 0, sizeof *ref);
  std::memcpy(ref->hidden, &kRefMagic, 4);
  std::memcpy(ref->hidden + 4, &id, 4);
}

OSErr PathOfRef(const FSRef* ref, std::string* path) {
  if (ref == nullptr) return paramErr;
  UInt32 magic, id;
  std::memcpy(&magic, ref->hidden, 4);
  std::memcpy(&id, ref->hidden + 4, 4);
  if (magic != kRefMagic) return errFSBadFSRef;
  std::lock_guard<std::mutex> lock(T().mutex);
  if (id == 0 || id > T().paths.size()) return errFSBadFSRef;
  *path = T().paths[id - 1];
  return noErr;
}

std::string ConfigDirLocked() {
  Tables& t = T();
  if (t.overrideSet) return t.overrideDir;
  std::string base;
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = getenv("HOME");
    std::string h;
    if (home != nullptr && home[0] != '\0') {
      h = home;
    } else {
      struct passwd pw, *res = nullptr;
      char buf[4096];
      if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &res) == 0 && res != nullptr) h = pw.pw_dir;
    }
    base = h + "/.config";
  }
  return base + "/skyloom";
}

// The table file: lines "d <id> <path>" and "v <refnum> <path>", with '%',
// CR and LF in paths written as %25, %0D, %0A. Appended under an exclusive
// lock, so processes that run at once agree on every id.
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '%') out += "%25";
    else if (c == '\n') out += "%0A";
    else if (c == '\r') out += "%0D";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int v = 0;
      if (sscanf(s.c_str() + i + 1, "%2x", &v) == 1) {
        out += char(v);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

void ParseTableLocked(const std::string& text) {
  Tables& t = T();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // an unfinished line is still being written
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.size() < 5 || (line[0] != 'd' && line[0] != 'v') || line[1] != ' ') continue;
    char* after = nullptr;
    long id = strtol(line.c_str() + 2, &after, 10);
    if (after == line.c_str() + 2 || *after != ' ') continue;
    std::string path = Unescape(std::string(after + 1));
    if (path.empty() || path[0] != '/') continue;
    if (line[0] == 'd') {
      if (id < kFirstUserDirID || id >= kDirIDLimit) continue;
      t.dirPaths[SInt32(id)] = path;
      t.dirIds[path] = SInt32(id);
    } else {
      if (id > kFirstVolumeRefNum || id < -32768) continue;
      t.volumePaths[FSVolumeRefNum(id)] = path;
      t.volumeIds[path] = FSVolumeRefNum(id);
    }
  }
}

std::string ReadAll(int fd) {
  std::string text;
  char buf[8192];
  off_t at = 0;
  for (;;) {
    ssize_t n = pread(fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, size_t(n));
    at += n;
  }
  return text;
}

// Reads the table file again (another process may have added to it).
void ReloadLocked() {
  Tables& t = T();
  std::string dir = ConfigDirLocked();
  if (t.loaded && t.loadedFrom != dir) {
    t.dirPaths.clear();
    t.dirIds.clear();
    t.volumePaths.clear();
    t.volumeIds.clear();
  }
  t.loaded = true;
  t.loadedFrom = dir;
  int fd = open((dir + "/" + kDirectoryTableName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  while (flock(fd, LOCK_SH) != 0 && errno == EINTR) {
  }
  ParseTableLocked(ReadAll(fd));
  close(fd);
}

void EnsureLoadedLocked() {
  Tables& t = T();
  if (!t.loaded || t.loadedFrom != ConfigDirLocked()) ReloadLocked();
}

// Gives the path a number of the given kind ('d' or 'v'), persisted when the
// configuration directory can be written, else for this run only.
SInt32 AssignLocked(char kind, const std::string& path) {
  Tables& t = T();
  EnsureLoadedLocked();
  auto known = [&]() -> SInt32 {
    if (kind == 'd') {
      auto it = t.dirIds.find(path);
      return it == t.dirIds.end() ? 0 : it->second;
    }
    auto it = t.volumeIds.find(path);
    return it == t.volumeIds.end() ? 0 : it->second;
  };
  if (SInt32 id = known()) return id;
  auto next = [&]() -> SInt32 {
    if (kind == 'd') return t.dirPaths.empty() ? kFirstUserDirID : t.dirPaths.rbegin()->first + 1;
    return t.volumePaths.empty() ? kFirstVolumeRefNum : t.volumePaths.begin()->first - 1;
  };
  std::string dir = t.loadedFrom;
  int fd = -1;
  if (SkyloomMakeDirectories(dir))
    fd = open((dir + "/" + kDirectoryTableName).c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC,
              0600);
  SInt32 id = 0;
  if (fd >= 0) {
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    ParseTableLocked(ReadAll(fd));
    id = known();
    if (id == 0) {
      id = next();
      if ((kind == 'd' && id >= kDirIDLimit) || (kind == 'v' && id < -32768)) {
        close(fd);
        return 0;
      }
      std::string line = std::string(1, kind) + " " + std::to_string(id) + " " + Escape(path) + "\n";
      if (write(fd, line.data(), line.size()) != ssize_t(line.size()) && !t.warnedTable) {
        t.warnedTable = true;
        fprintf(stderr, "Files directory-id table write failed Err = 0x%x %d\n", errno, errno);
      }
    }
    close(fd);
  } else {
    if (!t.warnedTable) {
      t.warnedTable = true;
      fprintf(stderr, "Files directory-id table open failed Err = 0x%x %d\n", errno, errno);
    }
    id = next();
    if ((kind == 'd' && id >= kDirIDLimit) || (kind == 'v' && id < -32768)) return 0;
  }
  if (kind == 'd') {
    t.dirPaths[id] = path;
    t.dirIds[path] = id;
  } else {
    t.volumePaths[FSVolumeRefNum(id)] = path;
    t.volumeIds[path] = FSVolumeRefNum(id);
  }
  return id;
}

// Directory id of an existing folder's canonical path; 0 when none can be had.
SInt32 DirIDOf(const std::string& path) {
  if (path == "/") return fsRtDirID;
  std::lock_guard<std::mutex> lock(T().mutex);
  return AssignLocked('d', path);
}

// The folder a directory id stands for; false when the id is unknown.
bool PathOfDirID(SInt32 dirID, std::string* path) {
  if (dirID == fsRtDirID) {
    *path = "/";
    return true;
  }
  if (dirID == 0) {
    char buf[PATH_MAX];
    if (getcwd(buf, sizeof buf) == nullptr) return false;
    *path = buf;
    return true;
  }
  std::lock_guard<std::mutex> lock(T().mutex);
  Tables& t = T();
  EnsureLoadedLocked();
  auto it = t.dirPaths.find(dirID);
  if (it == t.dirPaths.end()) {
    ReloadLocked();
    it = t.dirPaths.find(dirID);
    if (it == t.dirPaths.end()) return false;
  }
  *path = it->second;
  return true;
}

// The mount point holding an existing path.
std::string MountPointOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "/";
  std::string at = path;
  while (at != "/") {
    std::string up = ParentOf(at);
    struct stat su;
    if (stat(up.c_str(), &su) != 0 || su.st_dev != st.st_dev) break;
    at = up;
  }
  return at;
}

FSVolumeRefNum VolumeOf(const std::string& path) {
  std::string mount = MountPointOf(path);
  std::lock_guard<std::mutex> lock(T().mutex);
  return FSVolumeRefNum(AssignLocked('v', mount));
}

// The name an FSSpec holds: the leaf itself when it fits in 63 bytes, else its
// start cut at a character boundary and "#<path id>".
void LocationName(const std::string& path, Str63 out) {
  std::string leaf = LeafOf(path);
  if (leaf.size() > 63) {
    UInt32 id;
    {
      std::lock_guard<std::mutex> lock(T().mutex);
      id = InternLocked(path);
    }
    char tag[16];
    snprintf(tag, sizeof tag, "#%X", id);
    size_t keep = 63 - strlen(tag);
    while (keep > 0 && (UInt8(leaf[keep]) & 0xC0) == 0x80) --keep;
    leaf = leaf.substr(0, keep) + tag;
  }
  out[0] = UInt8(leaf.size());
  std::memcpy(out + 1, leaf.data(), leaf.size());
}

// Finds the object an FSSpec name stands for in dir: the name itself, or a
// shortened "<start>#<path id>" name. False when neither exists.
bool ResolveLocationName(const std::string& dir, const std::string& name, std::string* path,
                     int* err) {
  *path = Join(dir, name);
  struct stat st;
  if (lstat(path->c_str(), &st) == 0) return true;
  *err = errno;
  size_t hash = name.rfind('#');
  if (*err != ENOENT || hash == std::string::npos || hash + 1 >= name.size()) return false;
  char* end = nullptr;
  unsigned long id = strtoul(name.c_str() + hash + 1, &end, 16);
  if (*end != '\0' || id == 0) return false;
  std::string full;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    if (id > T().paths.size()) return false;
    full = T().paths[id - 1];
  }
  std::string leaf = LeafOf(full);
  if (ParentOf(full) != dir || leaf.compare(0, hash, name, 0, hash) != 0) return false;
  if (lstat(full.c_str(), &st) != 0) {
    *err = errno;
    return false;
  }
  *path = full;
  return true;
}

// The folder of an FSSpec's parent id, checked to exist.
OSErr LocationFolder(SInt32 dirID, std::string* dir) {
  if (dirID == fsRtParID) {
    *dir = "/";
    return noErr;
  }
  if (!PathOfDirID(dirID, dir)) return dirNFErr;
  struct stat st;
  if (stat(dir->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return dirNFErr;
  return noErr;
}

OSErr FillLocation(const std::string& path, FSSpec* location) {
  std::memset(location, 0, sizeof *location);
  location->vRefNum = VolumeOf(path);
  if (path == "/") {
    location->parID = fsRtParID;
    location->name[0] = 1;
    location->name[1] = '/';
    return noErr;
  }
  SInt32 parent = DirIDOf(ParentOf(path));
  if (parent == 0) return ioErr;
  location->parID = parent;
  LocationName(path, location->name);
  return noErr;
}

// ---- Faults ----

// Bytes of growth a write may make now; reserves them from the injected limit.
SInt64 ReserveGrowth(SInt64 wanted) {
  std::lock_guard<std::mutex> lock(T().mutex);
  Faults& f = T().faults;
  if (!f.installed || f.f.volumeBytesLeft < 0) return wanted;
  SInt64 granted = wanted < f.f.volumeBytesLeft ? wanted : f.f.volumeBytesLeft;
  f.f.volumeBytesLeft -= granted;
  return granted;
}

void ReturnGrowth(SInt64 unused) {
  if (unused <= 0) return;
  std::lock_guard<std::mutex> lock(T().mutex);
  Faults& f = T().faults;
  if (f.installed && f.f.volumeBytesLeft >= 0) f.f.volumeBytesLeft += unused;
}

// ---- Forks ----

struct Fork {
  std::mutex mutex;
  int fd = -1;
  SInt64 mark = 0;
  bool canRead = false;
  bool canWrite = false;
};

struct ForkTable {
  std::mutex mutex;
  std::map<FSIORefNum, std::shared_ptr<Fork>> forks;
  FSIORefNum next = 1;
};

ForkTable& Forks() {
  static ForkTable* t = new ForkTable;
  return *t;
}

std::shared_ptr<Fork> FindFork(FSIORefNum refNum) {
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.forks.find(refNum);
  return it == t.forks.end() ? nullptr : it->second;
}

// Looks up the fork and holds its lock for the life of the object.
struct LockedFork {
  std::shared_ptr<Fork> fork;
  std::unique_lock<std::mutex> lock;
  explicit LockedFork(FSIORefNum refNum) : fork(FindFork(refNum)) {
    if (fork) {
      lock = std::unique_lock<std::mutex>(fork->mutex);
      if (fork->fd < 0) {
        lock.unlock();
        fork.reset();
      }
    }
  }
  Fork* operator->() const { return fork.get(); }
  explicit operator bool() const { return fork != nullptr; }
};

OSErr ForkEOF(const Fork& f, SInt64* size) {
  struct stat st;
  if (fstat(f.fd, &st) != 0) return MapErrno(errno);
  *size = st.st_size;
  return noErr;
}

// The absolute position a mode and offset name, or posErr.
OSErr ResolvePosition(const Fork& f, UInt16 positionMode, SInt64 offset, SInt64* pos) {
  SInt64 base;
  switch (positionMode & 3) {
    case fsAtMark:
      base = f.mark;
      offset = 0;
      break;
    case fsFromStart:
      base = 0;
      break;
    case fsFromLEOF: {
      OSErr err = ForkEOF(f, &base);
      if (err != noErr) return err;
      break;
    }
    default:
      base = f.mark;
      break;
  }
  // Far beyond any real file, and leaves room to add a byte count safely.
  constexpr SInt64 kMaxPosition = SInt64(1) << 62;
  if (__builtin_add_overflow(base, offset, pos) || *pos < 0 || *pos > kMaxPosition) return posErr;
  return noErr;
}

}  // namespace

// ---- References ----

OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
  if (path == nullptr || ref == nullptr) return paramErr;
  if (path[0] == '\0') return fnfErr;
  std::string canonical;
  int err = 0;
  if (!Canonical(reinterpret_cast<const char*>(path), &canonical, &err)) return MapErrno(err);
  if (isDirectory != nullptr) {
    struct stat st;
    if (stat(canonical.c_str(), &st) != 0) return MapErrno(errno);
    *isDirectory = S_ISDIR(st.st_mode) ? TRUE : FALSE;
  }
  MakeRef(canonical, ref);
  return noErr;
}

OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
  if (path == nullptr || maxPathSize == 0) return paramErr;
  std::string p;
  OSErr err = PathOfRef(ref, &p);
  if (err != noErr) return err;
  if (p.size() + 1 > maxPathSize) return pathTooLongErr;
  std::memcpy(path, p.c_str(), p.size() + 1);
  return noErr;
}

OSErr FSMakeFSRefUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                         TextEncoding, FSRef* newRef) {
  if (newRef == nullptr) return paramErr;
  std::string dir, leaf;
  OSErr err = PathOfRef(parentRef, &dir);
  if (err == noErr) err = NameFromUnicode(nameLength, name, &leaf);
  if (err != noErr) return err;
  // The leaf is not followed when it is a symbolic link: the reference is to
  // the link, so deleting through it never deletes what the link points to.
  std::string path = Join(dir, leaf);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MapErrno(errno);
  MakeRef(path, newRef);
  return noErr;
}

OSErr FSCreateFileUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                          FSCatalogInfoBitmap, const FSCatalogInfo*, FSRef* newRef,
                          FSSpec* newLocation) {
  std::string dir, leaf;
  OSErr err = PathOfRef(parentRef, &dir);
  if (err == noErr) err = NameFromUnicode(nameLength, name, &leaf);
  if (err != noErr) return err;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    Faults& f = T().faults;
    if (f.installed && f.f.refuseCreateStatus != noErr) {
      ++f.creates;
      if (f.f.refuseCreateNumber == 0 || f.creates == f.f.refuseCreateNumber)
        return OSErr(f.f.refuseCreateStatus);
    }
  }
  std::string path = Join(dir, leaf);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return MapErrno(errno);
  close(fd);
  if (newRef != nullptr) MakeRef(path, newRef);
  if (newLocation != nullptr) return FillLocation(path, newLocation);
  return noErr;
}

OSErr FSDeleteObject(const FSRef* ref) {
  std::string path;
  OSErr err = PathOfRef(ref, &path);
  if (err != noErr) return err;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MapErrno(errno);
  bool isDir = S_ISDIR(st.st_mode);
  int rc = isDir ? rmdir(path.c_str()) : unlink(path.c_str());
  if (rc != 0) return MapErrno(errno);
  if (!isDir && st.st_nlink <= 1) ReturnGrowth(st.st_size);
  return noErr;
}

OSErr FSRenameUnicode(const FSRef* ref, UniCharCount nameLength, const UniChar* name, TextEncoding,
                      FSRef* newRef) {
  std::string path, leaf;
  OSErr err = PathOfRef(ref, &path);
  if (err == noErr) err = NameFromUnicode(nameLength, name, &leaf);
  if (err != noErr) return err;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return MapErrno(errno);
  const std::string target = Join(ParentOf(path), leaf);
  if (target == path) {
    if (newRef != nullptr) MakeRef(target, newRef);
    return noErr;
  }
  // No replacing: the new name must be free, checked and taken in one step
  // where the file system can; a link then unlink does the same elsewhere.
  if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return MapErrno(errno);
    if (S_ISDIR(st.st_mode)) {
      if (lstat(target.c_str(), &st) == 0) return dupFNErr;
      if (rename(path.c_str(), target.c_str()) != 0) return MapErrno(errno);
    } else {
      if (link(path.c_str(), target.c_str()) != 0) return MapErrno(errno);
      unlink(path.c_str());
    }
  }
  if (newRef != nullptr) MakeRef(target, newRef);
  return noErr;
}

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fileLocation, FSRef* parentRef) {
  std::string path;
  OSErr err = PathOfRef(ref, &path);
  if (err != noErr) return err;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) return MapErrno(errno);
  bool isDir = S_ISDIR(st.st_mode);
  if (catalogInfo != nullptr && whichInfo != kFSCatInfoNone) {
    if (whichInfo & kFSCatInfoNodeFlags) catalogInfo->nodeFlags = isDir ? kFSNodeIsDirectoryMask : 0;
    if (whichInfo & kFSCatInfoVolume) catalogInfo->volume = VolumeOf(path);
    if (whichInfo & kFSCatInfoParentDirID) {
      SInt32 id = path == "/" ? fsRtParID : DirIDOf(ParentOf(path));
      if (id == 0) return ioErr;
      catalogInfo->parentDirID = UInt32(id);
    }
    if (whichInfo & kFSCatInfoNodeID) {
      SInt32 id = isDir ? DirIDOf(path) : 0;
      if (isDir && id == 0) return ioErr;
      catalogInfo->nodeID = UInt32(id);
    }
    if (whichInfo & kFSCatInfoDataSizes) {
      catalogInfo->dataLogicalSize = isDir ? 0 : UInt64(st.st_size);
      catalogInfo->dataPhysicalSize = isDir ? 0 : UInt64(st.st_blocks) * 512;
    }
    if (whichInfo & kFSCatInfoRsrcSizes) {
      catalogInfo->rsrcLogicalSize = 0;
      catalogInfo->rsrcPhysicalSize = 0;
    }
  }
  if (outName != nullptr) Utf8ToHFSUniStr(LeafOf(path), outName);
  if (fileLocation != nullptr) {
    err = FillLocation(path, fileLocation);
    if (err != noErr) return err;
  }
  if (parentRef != nullptr) {
    if (path == "/") std::memset(parentRef, 0, sizeof *parentRef);
    else MakeRef(ParentOf(path), parentRef);
  }
  return noErr;
}

// ---- FSSpec ----

OSErr FSMakeFSSpec(SInt16, SInt32 dirID, ConstStr255Param fileName, FSSpec* location) {
  if (location == nullptr) return paramErr;
  std::string dir;
  OSErr err = LocationFolder(dirID, &dir);
  if (err != noErr) return err;
  if (fileName == nullptr || fileName[0] == 0) {
    std::string canonical;
    int e = 0;
    if (!Canonical(dir, &canonical, &e)) return dirNFErr;
    return FillLocation(canonical, location);
  }
  std::string name(reinterpret_cast<const char*>(fileName + 1), fileName[0]);
  if (name.size() > 63) return bdNamErr;
  err = CheckName(name);
  if (err != noErr) return err == errFSNameTooLong ? OSErr(bdNamErr) : err;
  std::memset(location, 0, sizeof *location);
  location->vRefNum = VolumeOf(dir);
  location->parID = dirID == 0 ? DirIDOf(dir) : dirID;
  if (location->parID == 0) return ioErr;
  std::memcpy(location->name, fileName, size_t(fileName[0]) + 1);
  std::string path;
  int e = 0;
  if (ResolveLocationName(dir, name, &path, &e)) return noErr;
  return MapErrno(e);
}

OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef) {
  if (source == nullptr || newRef == nullptr) return paramErr;
  std::string dir;
  OSErr err = LocationFolder(source->parID, &dir);
  if (err != noErr) return err;
  std::string path;
  if (source->parID == fsRtParID || source->name[0] == 0) {
    int e = 0;
    if (!Canonical(dir, &path, &e)) return MapErrno(e);
  } else {
    std::string name(reinterpret_cast<const char*>(source->name + 1),
                     source->name[0] > 63 ? 63 : source->name[0]);
    err = CheckName(name);
    if (err != noErr) return err;
    int e = 0;
    if (!ResolveLocationName(dir, name, &path, &e)) return MapErrno(e);
  }
  MakeRef(path, newRef);
  return noErr;
}

OSErr FSpCreate(const FSSpec* location, OSType, OSType, ScriptCode) {
  if (location == nullptr) return paramErr;
  FSSpec folderLocation;
  FSRef folder;
  OSErr err = FSMakeFSSpec(location->vRefNum, location->parID, nullptr, &folderLocation);
  if (err == noErr) err = FSpMakeFSRef(&folderLocation, &folder);
  if (err != noErr) return err;
  const std::string name(reinterpret_cast<const char*>(location->name + 1), location->name[0]);
  HFSUniStr255 unicode;
  Utf8ToHFSUniStr(name, &unicode);
  std::string back;
  if (!Utf16ToUtf8(unicode.unicode, unicode.length, &back) || back != name) return bdNamErr;
  return FSCreateFileUnicode(&folder, unicode.length, unicode.unicode, kFSCatInfoNone, nullptr, nullptr, nullptr);
}

OSErr FSpDelete(const FSSpec* location) {
  FSRef ref;
  OSErr err = FSpMakeFSRef(location, &ref);
  return err == noErr ? FSDeleteObject(&ref) : err;
}

// ---- Forks ----

OSErr FSGetDataForkName(HFSUniStr255* dataForkName) {
  if (dataForkName == nullptr) return paramErr;
  dataForkName->length = 0;
  return noErr;
}

OSErr FSOpenFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar*,
                 SInt8 permissions, FSIORefNum* forkRefNum) {
  if (forkRefNum == nullptr) return paramErr;
  std::string path;
  OSErr err = PathOfRef(ref, &path);
  if (err != noErr) return err;
  if (forkNameLength != 0) return errFSBadForkName;
  int flags;
  switch (permissions) {
    case fsCurPerm:
    case fsRdWrPerm:
    case fsRdWrShPerm: flags = O_RDWR; break;
    case fsRdPerm: flags = O_RDONLY; break;
    case fsWrPerm: flags = O_WRONLY; break;
    default: return paramErr;
  }
  // Write permission also reads where the file allows it (a recorder may read
  // back what it wrote); fsCurPerm settles for reading.
  if (flags == O_WRONLY) flags = O_RDWR;
  int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0 && flags == O_RDWR && errno == EACCES && permissions == fsWrPerm) {
    flags = O_WRONLY;
    fd = open(path.c_str(), flags | O_CLOEXEC);
  } else if (fd < 0 && permissions == fsCurPerm && (errno == EACCES || errno == EROFS)) {
    flags = O_RDONLY;
    fd = open(path.c_str(), flags | O_CLOEXEC);
  }
  if (fd < 0) return errno == EISDIR ? OSErr(notAFileErr) : MapErrno(errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int e = errno;
    bool isDir = S_ISDIR(st.st_mode);
    close(fd);
    return isDir ? OSErr(notAFileErr) : MapErrno(e);
  }
  auto fork = std::make_shared<Fork>();
  fork->fd = fd;
  fork->canRead = flags != O_WRONLY;
  fork->canWrite = flags != O_RDONLY;
  ForkTable& t = Forks();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (int tries = 0; tries < 32767; ++tries) {
    FSIORefNum n = t.next;
    t.next = FSIORefNum(n == 32767 ? 1 : n + 1);
    if (t.forks.count(n) == 0) {
      t.forks.emplace(n, fork);
      *forkRefNum = n;
      return noErr;
    }
  }
  close(fd);
  return tmfoErr;
}

OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                 ByteCount requestCount, void* buffer, ByteCount* actualCount) {
  if (actualCount != nullptr) *actualCount = 0;
  LockedFork f(forkRefNum);
  if (!f) return rfNumErr;
  if (buffer == nullptr && requestCount > 0) return paramErr;
  SInt64 pos;
  OSErr err = ResolvePosition(*f.fork, positionMode, positionOffset, &pos);
  if (err != noErr) return err;
  if (!f->canRead) return ioErr;
  ByteCount done = 0;
  while (done < requestCount) {
    ssize_t n = pread(f->fd, static_cast<char*>(buffer) + done, requestCount - done, pos + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = MapErrno(errno);
      break;
    }
    if (n == 0) {
      err = eofErr;
      break;
    }
    done += ByteCount(n);
  }
  f->mark = pos + done;
  if (actualCount != nullptr) *actualCount = done;
  return err;
}

OSErr FSWriteFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                  ByteCount requestCount, const void* buffer, ByteCount* actualCount) {
  if (actualCount != nullptr) *actualCount = 0;
  LockedFork f(forkRefNum);
  if (!f) return rfNumErr;
  if (buffer == nullptr && requestCount > 0) return paramErr;
  SInt64 pos;
  OSErr err = ResolvePosition(*f.fork, positionMode, positionOffset, &pos);
  if (err != noErr) return err;
  if (!f->canWrite) return wrPermErr;
  bool limited;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    Faults& faults = T().faults;
    if (faults.installed && faults.f.failWriteNumber != 0 &&
        ++faults.writes == faults.f.failWriteNumber)
      return OSErr(faults.f.failWriteStatus);
    limited = faults.installed && faults.f.volumeBytesLeft >= 0;
  }
  // Growth beyond the end of the file is what takes room on the volume; it is
  // only counted while a test limits the room.
  SInt64 size = 0, growth = 0;
  if (limited) {
    err = ForkEOF(*f.fork, &size);
    if (err != noErr) return err;
    growth = pos + SInt64(requestCount) - size;
    if (growth < 0) growth = 0;
  }
  SInt64 granted = limited ? ReserveGrowth(growth) : 0;
  SInt64 toWrite = SInt64(requestCount) - (growth - granted);
  if (toWrite < 0) toWrite = 0;
  bool full = granted < growth;
  ByteCount done = 0;
  while (SInt64(done) < toWrite) {
    ssize_t n = pwrite(f->fd, static_cast<const char*>(buffer) + done, size_t(toWrite) - done,
                       pos + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? MapErrno(errno) : OSErr(ioErr);
      break;
    }
    done += ByteCount(n);
  }
  if (limited) {
    SInt64 grown = pos + SInt64(done) - size;
    ReturnGrowth(granted - (grown > 0 ? grown : 0));
  }
  f->mark = pos + done;
  if (actualCount != nullptr) *actualCount = done;
  if (err == noErr && full) err = dskFulErr;
  return err;
}

OSErr FSGetForkPosition(FSIORefNum forkRefNum, SInt64* position) {
  if (position == nullptr) return paramErr;
  LockedFork f(forkRefNum);
  if (!f) return rfNumErr;
  *position = f->mark;
  return noErr;
}

OSErr FSSetForkPosition(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset) {
  LockedFork f(forkRefNum);
  if (!f) return rfNumErr;
  SInt64 pos, size;
  OSErr err = ResolvePosition(*f.fork, positionMode, positionOffset, &pos);
  if (err == noErr) err = ForkEOF(*f.fork, &size);
  if (err != noErr) return err;
  if (pos > size) {
    f->mark = size;
    return eofErr;
  }
  f->mark = pos;
  return noErr;
}

OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64* forkSize) {
  if (forkSize == nullptr) return paramErr;
  LockedFork f(forkRefNum);
  if (!f) return rfNumErr;
  return ForkEOF(*f.fork, forkSize);
}

OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset) {
  LockedFork f(forkRefNum);
  if (!f) return rfNumErr;
  SInt64 newSize, size;
  OSErr err = ResolvePosition(*f.fork, positionMode, positionOffset, &newSize);
  if (err == noErr) err = ForkEOF(*f.fork, &size);
  if (err != noErr) return err;
  if (!f->canWrite) return wrPermErr;
  SInt64 growth = newSize > size ? newSize - size : 0;
  SInt64 granted = ReserveGrowth(growth);
  if (granted < growth) {
    ReturnGrowth(granted);
    return dskFulErr;
  }
  if (ftruncate(f->fd, newSize) != 0) {
    err = MapErrno(errno);
    ReturnGrowth(growth);
    return err;
  }
  if (f->mark > newSize) f->mark = newSize;
  return noErr;
}

OSErr FSFlushFork(FSIORefNum forkRefNum) {
  LockedFork f(forkRefNum);
  if (!f) return rfNumErr;
  return fsync(f->fd) == 0 ? OSErr(noErr) : MapErrno(errno);
}

OSErr FSCloseFork(FSIORefNum forkRefNum) {
  std::shared_ptr<Fork> fork;
  {
    ForkTable& t = Forks();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.forks.find(forkRefNum);
    if (it == t.forks.end()) return rfNumErr;
    fork = it->second;
    t.forks.erase(it);
  }
  std::lock_guard<std::mutex> lock(fork->mutex);
  int rc = close(fork->fd);
  fork->fd = -1;
  return rc == 0 ? OSErr(noErr) : MapErrno(errno);
}

// ---- Volumes ----

namespace {

OSStatus FreeBytesFault() {
  std::lock_guard<std::mutex> lock(T().mutex);
  const Faults& f = T().faults;
  return f.installed ? f.f.failFreeBytesStatus : OSStatus(noErr);
}

UInt64 ApplyFreeLimit(UInt64 freeBytes) {
  std::lock_guard<std::mutex> lock(T().mutex);
  const Faults& f = T().faults;
  if (f.installed && f.f.volumeBytesLeft >= 0 && UInt64(f.f.volumeBytesLeft) < freeBytes)
    return UInt64(f.f.volumeBytesLeft);
  return freeBytes;
}

UInt32 Saturate32(UInt64 v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : UInt32(v); }

}  // namespace

OSErr FSGetVolumeInfo(FSVolumeRefNum volume, ItemCount volumeIndex, FSVolumeRefNum* actualVolume,
                      FSVolumeInfoBitmap whichInfo, FSVolumeInfo* info, HFSUniStr255* volumeName,
                      FSRef* rootDirectory) {
  if (volumeIndex != 0) return nsvErr;
  std::string mount;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    Tables& t = T();
    EnsureLoadedLocked();
    auto it = t.volumePaths.find(volume);
    if (it == t.volumePaths.end()) {
      ReloadLocked();
      it = t.volumePaths.find(volume);
      if (it == t.volumePaths.end()) return nsvErr;
    }
    mount = it->second;
  }
  if (OSStatus fault = FreeBytesFault(); fault != noErr && (whichInfo & kFSVolInfoSizes))
    return OSErr(fault);
  struct statvfs vfs;
  if (statvfs(mount.c_str(), &vfs) != 0) return errno == ENOENT ? OSErr(nsvErr) : MapErrno(errno);
  if (actualVolume != nullptr) *actualVolume = volume;
  if (info != nullptr) {
    UInt64 unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    UInt64 freeBytes = ApplyFreeLimit(UInt64(vfs.f_bavail) * unit);
    if (whichInfo & kFSVolInfoSizes) {
      info->totalBytes = UInt64(vfs.f_blocks) * unit;
      info->freeBytes = freeBytes;
    }
    if (whichInfo & kFSVolInfoBlocks) {
      info->blockSize = Saturate32(unit);
      info->totalBlocks = Saturate32(vfs.f_blocks);
      info->freeBlocks = Saturate32(unit ? freeBytes / unit : 0);
    }
  }
  if (volumeName != nullptr) Utf8ToHFSUniStr(LeafOf(mount), volumeName);
  if (rootDirectory != nullptr) MakeRef(mount, rootDirectory);
  return noErr;
}

bool SkyloomMakeDirectories(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

OSStatus SkyloomGetFreeBytes(const FSRef* ref, UInt64* freeBytes) {
  if (freeBytes == nullptr) return paramErr;
  std::string path;
  OSErr err = PathOfRef(ref, &path);
  if (err != noErr) return err;
  if (OSStatus fault = FreeBytesFault(); fault != noErr) return fault;
  struct statvfs vfs;
  if (statvfs(path.c_str(), &vfs) != 0) return MapErrno(errno);
  UInt64 unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  *freeBytes = ApplyFreeLimit(UInt64(vfs.f_bavail) * unit);
  return noErr;
}

// ---- Configuration directory and faults ----

std::string SkyloomConfigurationDirectory() {
  std::lock_guard<std::mutex> lock(T().mutex);
  return ConfigDirLocked();
}

void SkyloomSetConfigurationDirectory(const char* directory) {
  std::lock_guard<std::mutex> lock(T().mutex);
  Tables& t = T();
  t.overrideSet = directory != nullptr;
  t.overrideDir = directory != nullptr ? directory : "";
  t.loaded = false;
  t.dirPaths.clear();
  t.dirIds.clear();
  t.volumePaths.clear();
  t.volumeIds.clear();
}

void SkyloomSetFileFaults(const SkyloomFileFaults& faults) {
  std::lock_guard<std::mutex> lock(T().mutex);
  T().faults = Faults{true, faults, 0, 0};
}

void SkyloomClearFileFaults() {
  std::lock_guard<std::mutex> lock(T().mutex);
  T().faults = Faults{};
}
