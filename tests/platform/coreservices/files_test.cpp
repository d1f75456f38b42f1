#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/coreservices/Files.h"

extern char** environ;

namespace {

std::vector<UniChar> U16(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string PathOf(const FSRef& ref) {
  UInt8 buf[1024];
  if (FSRefMakePath(&ref, buf, sizeof buf) != noErr) return "<bad ref>";
  return reinterpret_cast<char*>(buf);
}

// The unprivileged user "nobody" (uid and gid).
std::pair<uid_t, gid_t> Nobody() {
  const passwd* pw = getpwnam("nobody");
  return pw ? std::pair<uid_t, gid_t>{pw->pw_uid, pw->pw_gid} : std::pair<uid_t, gid_t>{65534, 65534};
}

// Drops this process to that user, for good.
bool BecomeUser(std::pair<uid_t, gid_t> user) {
  return setgroups(0, nullptr) == 0 && setgid(user.second) == 0 && setuid(user.first) == 0 &&
         geteuid() == user.first;
}

std::string LocationName(const FSSpec& location) {
  return std::string(reinterpret_cast<const char*>(location.name + 1), location.name[0]);
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom_files_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir_.c_str(), real), nullptr);
    dir_ = real;
    SkyloomSetConfigurationDirectory((dir_ + "/config").c_str());
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(dir_.c_str()), &dirRef_, nullptr), noErr);
  }
  void TearDown() override {
    SkyloomClearFileFaults();
    SkyloomSetConfigurationDirectory(nullptr);
    chmod(dir_.c_str(), 0700);
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  OSErr Create(const FSRef& parent, const std::string& name, FSRef* ref) {
    auto n = U16(name);
    return FSCreateFileUnicode(&parent, n.size(), n.data(), kFSCatInfoNone, nullptr, ref, nullptr);
  }
  FSIORefNum OpenNew(const std::string& name, SInt8 perm = fsRdWrPerm) {
    FSRef ref;
    EXPECT_EQ(Create(dirRef_, name, &ref), noErr);
    FSIORefNum fork = 0;
    EXPECT_EQ(FSOpenFork(&ref, 0, nullptr, perm, &fork), noErr);
    return fork;
  }
  std::string dir_;
  FSRef dirRef_;
};

TEST_F(Files, CreateOverAnExistingObjectGivesDupFNErrAndLeavesItUntouched) {
  FSRef ref;
  ASSERT_EQ(Create(dirRef_, "frame.fits", &ref), noErr);
  EXPECT_EQ(PathOf(ref), dir_ + "/frame.fits");
  FSIORefNum fork;
  ASSERT_EQ(FSOpenFork(&ref, 0, nullptr, fsWrPerm, &fork), noErr);
  ByteCount done = 0;
  ASSERT_EQ(FSWriteFork(fork, fsFromStart, 0, 5, "hello", &done), noErr);
  ASSERT_EQ(FSCloseFork(fork), noErr);

  FSRef again;
  EXPECT_EQ(Create(dirRef_, "frame.fits", &again), dupFNErr);
  EXPECT_EQ(Slurp(dir_ + "/frame.fits"), "hello");
  ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0700), 0);
  EXPECT_EQ(Create(dirRef_, "sub", &again), dupFNErr);
  struct stat st;
  ASSERT_EQ(stat((dir_ + "/sub").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(Files, CreateAndDeleteByFSSpec) {
  FSCatalogInfo info{};
  ASSERT_EQ(FSGetCatalogInfo(&dirRef_, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr), noErr);
  auto location = [&](const std::string& name) {
    Str255 pname;
    pname[0] = UInt8(name.size());
    std::memcpy(pname + 1, name.data(), name.size());
    FSSpec s{};
    FSMakeFSSpec(info.volume, SInt32(info.nodeID), pname, &s);
    return s;
  };
  FSSpec fresh = location("N\xc3\xa9" "buleuse.fits");
  ASSERT_EQ(FSpCreate(&fresh, 0, 0, 0), noErr);
  EXPECT_EQ(Slurp(dir_ + "/N\xc3\xa9" "buleuse.fits"), "");
  EXPECT_EQ(FSpCreate(&fresh, 0, 0, 0), dupFNErr);
  FSSpec broken = location("bad\xff.fits");  // not UTF-8
  EXPECT_EQ(FSpCreate(&broken, 0, 0, 0), bdNamErr);
  EXPECT_EQ(FSpDelete(&fresh), noErr);
  struct stat st;
  EXPECT_NE(stat((dir_ + "/N\xc3\xa9" "buleuse.fits").c_str(), &st), 0);
  EXPECT_EQ(FSpDelete(&fresh), fnfErr);
}

TEST_F(Files, ForkPositionModesMarkAndEndOfFile) {
  FSIORefNum fork = OpenNew("movie.mov");
  struct Step {
    bool write;
    UInt16 mode;
    SInt64 offset;
    ByteCount count;
    const char* data;  // written, or expected from the read
    OSErr err;
    ByteCount actual;
    SInt64 markAfter;
  };
  // Content after each write, worked by hand:
  // "0123456789" -> "0123456789AB" -> "0123456789xy" -> "01234Q6789xy" -> "01234QR789xy"
  const Step steps[] = {
      {true, fsFromStart, 0, 10, "0123456789", noErr, 10, 10},
      {true, fsAtMark, 999, 2, "AB", noErr, 2, 12},  // the offset is ignored at the mark
      {true, fsFromLEOF, -2, 2, "xy", noErr, 2, 12},
      {true, fsFromStart | noCacheMask, 5, 1, "Q", noErr, 1, 6},
      {true, fsFromMark, 0, 1, "R", noErr, 1, 7},
      {false, fsFromMark, -7, 4, "0123", noErr, 4, 4},
      {false, fsAtMark, 0, 4, "4QR7", noErr, 4, 8},
      {false, fsFromLEOF, -3, 3, "9xy", noErr, 3, 12},
      {false, fsFromStart, 10, 4, "xy", eofErr, 2, 12},  // past the end: what is there
      {false, fsFromStart, 40, 1, "", eofErr, 0, 40},
      {false, fsFromStart, -1, 1, "", posErr, 0, 40},
      {true, fsFromMark, -41, 1, "z", posErr, 0, 40},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << (s.write ? "write " : "read ") << s.mode << " " << s.offset);
    ByteCount actual = 99;
    if (s.write) {
      EXPECT_EQ(FSWriteFork(fork, s.mode, s.offset, s.count, s.data, &actual), s.err);
      EXPECT_EQ(actual, s.actual);
    } else {
      std::string buf(s.count, '\0');
      EXPECT_EQ(FSReadFork(fork, s.mode, s.offset, s.count, buf.data(), &actual), s.err);
      EXPECT_EQ(actual, s.actual);
      EXPECT_EQ(buf.substr(0, actual), s.data);
    }
    SInt64 mark = -1;
    EXPECT_EQ(FSGetForkPosition(fork, &mark), noErr);
    EXPECT_EQ(mark, s.markAfter);
  }
  EXPECT_EQ(Slurp(dir_ + "/movie.mov"), "01234QR789xy");
  EXPECT_EQ(FSCloseFork(fork), noErr);
  EXPECT_EQ(FSCloseFork(fork), rfNumErr);
  EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 1, "x", nullptr), rfNumErr);
}

TEST_F(Files, SetPositionAndTruncation) {
  FSIORefNum fork = OpenNew("t.raw");
  ASSERT_EQ(FSWriteFork(fork, fsFromStart, 0, 8, "abcdefgh", nullptr), noErr);
  SInt64 v = 0;
  EXPECT_EQ(FSSetForkPosition(fork, fsFromStart, 3), noErr);
  EXPECT_EQ(FSGetForkPosition(fork, &v), noErr);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(FSSetForkPosition(fork, fsFromMark, 2), noErr);
  EXPECT_EQ(FSGetForkPosition(fork, &v), noErr);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(FSSetForkPosition(fork, fsFromLEOF, 1), eofErr);  // past the end: mark at the end
  EXPECT_EQ(FSGetForkPosition(fork, &v), noErr);
  EXPECT_EQ(v, 8);
  EXPECT_EQ(FSSetForkPosition(fork, fsFromStart, -1), posErr);

  // Truncating moves a mark past the new end back to it; the bytes are gone.
  EXPECT_EQ(FSSetForkSize(fork, fsFromStart, 4), noErr);
  EXPECT_EQ(FSGetForkSize(fork, &v), noErr);
  EXPECT_EQ(v, 4);
  EXPECT_EQ(FSGetForkPosition(fork, &v), noErr);
  EXPECT_EQ(v, 4);
  // Growing fills with zeros and leaves the mark.
  EXPECT_EQ(FSSetForkSize(fork, fsFromLEOF, 2), noErr);
  EXPECT_EQ(FSGetForkSize(fork, &v), noErr);
  EXPECT_EQ(v, 6);
  EXPECT_EQ(FSGetForkPosition(fork, &v), noErr);
  EXPECT_EQ(v, 4);
  EXPECT_EQ(FSCloseFork(fork), noErr);
  EXPECT_EQ(Slurp(dir_ + "/t.raw"), std::string("abcd\0\0", 6));

  // A read-only fork refuses writes and size changes.
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((dir_ + "/t.raw").c_str()), &ref, nullptr),
            noErr);
  ASSERT_EQ(FSOpenFork(&ref, 0, nullptr, fsRdPerm, &fork), noErr);
  EXPECT_EQ(FSWriteFork(fork, fsFromStart, 0, 1, "x", nullptr), wrPermErr);
  EXPECT_EQ(FSSetForkSize(fork, fsFromStart, 0), wrPermErr);
  EXPECT_EQ(FSCloseFork(fork), noErr);
  EXPECT_EQ(Slurp(dir_ + "/t.raw"), std::string("abcd\0\0", 6));
}

TEST_F(Files, FreeBytesOfTheVolume) {
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(&dirRef_, kFSCatInfoVolume, &info, nullptr, nullptr, nullptr), noErr);
  FSVolumeInfo vol;
  FSVolumeRefNum actual = 0;
  ASSERT_EQ(FSGetVolumeInfo(info.volume, 0, &actual, kFSVolInfoSizes, &vol, nullptr, nullptr), noErr);
  EXPECT_EQ(actual, info.volume);
  UInt64 freeBytes = 0;
  ASSERT_EQ(SkyloomGetFreeBytes(&dirRef_, &freeBytes), noErr);
  EXPECT_GT(vol.totalBytes, 0u);
  EXPECT_LE(vol.freeBytes, vol.totalBytes);
  EXPECT_LE(freeBytes, vol.totalBytes);
  EXPECT_EQ(FSGetVolumeInfo(-32000, 0, nullptr, kFSVolInfoSizes, &vol, nullptr, nullptr), nsvErr);

  // With a limit in place both report it, and file growth uses it up.
  SkyloomFileFaults faults;
  faults.volumeBytesLeft = 1000;
  SkyloomSetFileFaults(faults);
  ASSERT_EQ(SkyloomGetFreeBytes(&dirRef_, &freeBytes), noErr);
  EXPECT_EQ(freeBytes, 1000u);
  FSIORefNum fork = OpenNew("f.bin");
  std::vector<char> data(300, 'x');
  ASSERT_EQ(FSWriteFork(fork, fsFromStart, 0, 300, data.data(), nullptr), noErr);
  ASSERT_EQ(FSGetVolumeInfo(info.volume, 0, nullptr, kFSVolInfoSizes, &vol, nullptr, nullptr), noErr);
  EXPECT_EQ(vol.freeBytes, 700u);
  ASSERT_EQ(FSSetForkSize(fork, fsFromStart, 100), noErr);  // truncation gives nothing back
  ASSERT_EQ(SkyloomGetFreeBytes(&dirRef_, &freeBytes), noErr);
  EXPECT_EQ(freeBytes, 700u);
  EXPECT_EQ(FSCloseFork(fork), noErr);
}

TEST_F(Files, DeletingAFileGivesItsRoomBackAndTheFreeSpaceQueryCanFail) {
  SkyloomFileFaults faults;
  faults.volumeBytesLeft = 1000;
  SkyloomSetFileFaults(faults);
  FSRef ref;
  ASSERT_EQ(Create(dirRef_, "reserve", &ref), noErr);
  FSIORefNum fork = 0;
  ASSERT_EQ(FSOpenFork(&ref, 0, nullptr, fsWrPerm, &fork), noErr);
  std::vector<char> data(600, 'x');
  ASSERT_EQ(FSWriteFork(fork, fsFromStart, 0, 600, data.data(), nullptr), noErr);
  ASSERT_EQ(FSCloseFork(fork), noErr);
  UInt64 freeBytes = 0;
  ASSERT_EQ(SkyloomGetFreeBytes(&dirRef_, &freeBytes), noErr);
  EXPECT_EQ(freeBytes, 400u);
  ASSERT_EQ(FSDeleteObject(&ref), noErr);
  ASSERT_EQ(SkyloomGetFreeBytes(&dirRef_, &freeBytes), noErr);
  EXPECT_EQ(freeBytes, 1000u);

  faults.failFreeBytesStatus = ioErr;
  SkyloomSetFileFaults(faults);
  EXPECT_EQ(SkyloomGetFreeBytes(&dirRef_, &freeBytes), ioErr);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(&dirRef_, kFSCatInfoVolume, &info, nullptr, nullptr, nullptr), noErr);
  FSVolumeInfo vol;
  EXPECT_EQ(FSGetVolumeInfo(info.volume, 0, nullptr, kFSVolInfoSizes, &vol, nullptr, nullptr), ioErr);
}

TEST_F(Files, InjectedFaultsGiveTheirStatus) {
  {
    SCOPED_TRACE("the n-th write fails, the others go through");
    SkyloomFileFaults faults;
    faults.failWriteNumber = 2;
    faults.failWriteStatus = ioErr;
    SkyloomSetFileFaults(faults);
    FSIORefNum fork = OpenNew("w.bin");
    ByteCount done = 99;
    EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 2, "ab", &done), noErr);
    EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 2, "cd", &done), ioErr);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 2, "ef", &done), noErr);
    EXPECT_EQ(FSCloseFork(fork), noErr);
    EXPECT_EQ(Slurp(dir_ + "/w.bin"), "abef");
  }
  {
    SCOPED_TRACE("the volume fills after 10 bytes");
    SkyloomFileFaults faults;
    faults.volumeBytesLeft = 10;
    SkyloomSetFileFaults(faults);
    FSIORefNum fork = OpenNew("full.bin");
    ByteCount done = 99;
    EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 6, "ABCDEF", &done), noErr);
    EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 6, "GHIJKL", &done), dskFulErr);
    EXPECT_EQ(done, 4u);  // what fitted was written, as the system does
    SInt64 mark = 0;
    EXPECT_EQ(FSGetForkPosition(fork, &mark), noErr);
    EXPECT_EQ(mark, 10);
    EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 1, "M", &done), dskFulErr);
    EXPECT_EQ(done, 0u);
    // Rewriting bytes that exist takes no room: a header at offset 0 still goes in.
    EXPECT_EQ(FSWriteFork(fork, fsFromStart, 0, 3, "hdr", &done), noErr);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(FSSetForkSize(fork, fsFromLEOF, 1), dskFulErr);
    EXPECT_EQ(FSCloseFork(fork), noErr);
    EXPECT_EQ(Slurp(dir_ + "/full.bin"), "hdrDEFGHIJ");
  }
  {
    SCOPED_TRACE("every create refused");
    SkyloomFileFaults faults;
    faults.refuseCreateStatus = permErr;
    SkyloomSetFileFaults(faults);
    FSRef ref;
    EXPECT_EQ(Create(dirRef_, "refused", &ref), permErr);
    EXPECT_NE(access((dir_ + "/refused").c_str(), F_OK), 0);
  }
  {
    SCOPED_TRACE("only the second create refused");
    SkyloomFileFaults faults;
    faults.refuseCreateStatus = dskFulErr;
    faults.refuseCreateNumber = 2;
    SkyloomSetFileFaults(faults);
    FSRef ref;
    EXPECT_EQ(Create(dirRef_, "c1", &ref), noErr);
    EXPECT_EQ(Create(dirRef_, "c2", &ref), dskFulErr);
    EXPECT_EQ(Create(dirRef_, "c3", &ref), noErr);
    EXPECT_NE(access((dir_ + "/c2").c_str(), F_OK), 0);
  }
  SkyloomClearFileFaults();
  FSIORefNum fork = OpenNew("after.bin");
  EXPECT_EQ(FSWriteFork(fork, fsAtMark, 0, 3, "xyz", nullptr), noErr);
  EXPECT_EQ(FSCloseFork(fork), noErr);
}

TEST_F(Files, ReferencesSurviveCopyByValue) {
  static_assert(sizeof(FSRef) == 80);
  static_assert(std::is_trivially_copyable_v<FSRef>);
  static_assert(std::is_trivially_copyable_v<FSSpec>);
  FSRef a, b;
  ASSERT_EQ(Create(dirRef_, "a", &a), noErr);
  ASSERT_EQ(Create(dirRef_, "b", &b), noErr);
  unsigned char bytes[2 * sizeof(FSRef)];
  std::memcpy(bytes, &a, sizeof a);
  std::memcpy(bytes + sizeof a, &b, sizeof b);
  std::vector<FSRef> copies(3);
  std::memcpy(&copies[0], bytes + sizeof a, sizeof b);
  std::memcpy(&copies[1], bytes, sizeof a);
  copies[2] = copies[1];
  EXPECT_EQ(PathOf(copies[0]), dir_ + "/b");
  EXPECT_EQ(PathOf(copies[1]), dir_ + "/a");
  EXPECT_EQ(PathOf(copies[2]), dir_ + "/a");
  // The same object always gives the same record.
  FSRef again;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((dir_ + "/./a").c_str()), &again, nullptr),
            noErr);
  EXPECT_EQ(std::memcmp(&again, &a, sizeof a), 0);

  FSRef zero{};
  UInt8 path[8];
  EXPECT_EQ(FSRefMakePath(&zero, path, sizeof path), errFSBadFSRef);
  EXPECT_EQ(FSRefMakePath(&a, path, sizeof path), pathTooLongErr);
  EXPECT_EQ(FSOpenFork(&zero, 0, nullptr, fsRdPerm, nullptr), paramErr);
}

TEST_F(Files, CatalogInfoAndSpecConversions) {
  ASSERT_EQ(mkdir((dir_ + "/Moon").c_str(), 0700), 0);
  FSRef moon;
  Boolean isDir = FALSE;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((dir_ + "/Moon").c_str()), &moon, &isDir),
            noErr);
  EXPECT_TRUE(isDir);
  // "Crater ü 🌙.fits": a Latin letter and a character outside the basic plane.
  std::vector<UniChar> name = U16("Crater ");
  name.push_back(0x00FC);
  name.push_back(' ');
  name.push_back(0xD83C);
  name.push_back(0xDF19);
  for (char c : std::string(".fits")) name.push_back(UniChar(c));
  const std::string utf8Name = "Crater \xC3\xBC \xF0\x9F\x8C\x99.fits";
  FSRef file;
  FSSpec created;
  ASSERT_EQ(FSCreateFileUnicode(&moon, name.size(), name.data(), kFSCatInfoNone, nullptr, &file,
                                &created),
            noErr);
  EXPECT_EQ(PathOf(file), dir_ + "/Moon/" + utf8Name);
  FSRef found;
  ASSERT_EQ(FSMakeFSRefUnicode(&moon, name.size(), name.data(), kTextEncodingUnknown, &found), noErr);
  EXPECT_EQ(std::memcmp(&found, &file, sizeof file), 0);

  FSIORefNum fork;
  ASSERT_EQ(FSOpenFork(&file, 0, nullptr, fsWrPerm, &fork), noErr);
  ASSERT_EQ(FSWriteFork(fork, fsFromStart, 0, 7, "SIMPLE=", nullptr), noErr);
  ASSERT_EQ(FSCloseFork(fork), noErr);

  FSCatalogInfo info;
  HFSUniStr255 outName;
  FSSpec location;
  FSRef parent;
  ASSERT_EQ(FSGetCatalogInfo(&file,
                             kFSCatInfoNodeFlags | kFSCatInfoParentDirID | kFSCatInfoDataSizes |
                                 kFSCatInfoVolume,
                             &info, &outName, &location, &parent),
            noErr);
  EXPECT_EQ(std::vector<UniChar>(outName.unicode, outName.unicode + outName.length), name);
  EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, 0);
  EXPECT_EQ(info.dataLogicalSize, 7u);
  EXPECT_EQ(PathOf(parent), dir_ + "/Moon");
  EXPECT_EQ(SInt32(info.parentDirID), location.parID);
  EXPECT_EQ(location.parID, created.parID);
  EXPECT_EQ(info.volume, location.vRefNum);
  EXPECT_GE(location.parID, 16);
  EXPECT_LT(location.parID, 1 << 24);
  EXPECT_EQ(LocationName(location), utf8Name);

  FSCatalogInfo dirInfo;
  ASSERT_EQ(FSGetCatalogInfo(&moon, kFSCatInfoNodeFlags | kFSCatInfoNodeID, &dirInfo, nullptr,
                             nullptr, nullptr),
            noErr);
  EXPECT_NE(dirInfo.nodeFlags & kFSNodeIsDirectoryMask, 0);
  EXPECT_EQ(SInt32(dirInfo.nodeID), location.parID);

  // FSSpec -> FSRef, and FSMakeFSSpec for existing, new and the folder itself.
  FSRef back;
  ASSERT_EQ(FSpMakeFSRef(&location, &back), noErr);
  EXPECT_EQ(PathOf(back), PathOf(file));
  FSSpec made;
  EXPECT_EQ(FSMakeFSSpec(location.vRefNum, location.parID, location.name, &made), noErr);
  EXPECT_EQ(std::memcmp(&made, &location, sizeof location), 0);
  const unsigned char newName[] = "\x09" "next.fits";
  EXPECT_EQ(FSMakeFSSpec(location.vRefNum, location.parID, newName, &made), fnfErr);
  EXPECT_EQ(made.parID, location.parID);
  EXPECT_EQ(LocationName(made), "next.fits");
  EXPECT_EQ(FSpMakeFSRef(&made, &back), fnfErr);
  EXPECT_EQ(FSMakeFSSpec(location.vRefNum, location.parID, nullptr, &made), noErr);
  EXPECT_EQ(LocationName(made), "Moon");
  ASSERT_EQ(FSpMakeFSRef(&made, &back), noErr);
  EXPECT_EQ(PathOf(back), dir_ + "/Moon");
  EXPECT_EQ(FSMakeFSSpec(0, (1 << 24) - 1, nullptr, &made), dirNFErr);

  // A name longer than an FSSpec holds is shortened, and the short form finds it.
  std::string longName(70, 'L');
  longName += ".ser";
  FSRef longRef;
  ASSERT_EQ(Create(moon, longName, &longRef), noErr);
  ASSERT_EQ(FSGetCatalogInfo(&longRef, kFSCatInfoNone, nullptr, nullptr, &location, nullptr), noErr);
  EXPECT_LE(location.name[0], 63);
  EXPECT_NE(LocationName(location).find('#'), std::string::npos);
  ASSERT_EQ(FSpMakeFSRef(&location, &back), noErr);
  EXPECT_EQ(PathOf(back), dir_ + "/Moon/" + longName);
  EXPECT_EQ(FSMakeFSSpec(location.vRefNum, location.parID, location.name, &made), noErr);

  // The root has the root's parent and no parent reference.
  FSRef root;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>("/"), &root, nullptr), noErr);
  FSRef rootParent;
  std::memset(&rootParent, 0xAA, sizeof rootParent);
  ASSERT_EQ(FSGetCatalogInfo(&root, kFSCatInfoParentDirID | kFSCatInfoNodeID, &info, nullptr, nullptr,
                             &rootParent),
            noErr);
  EXPECT_EQ(info.parentDirID, UInt32(fsRtParID));
  EXPECT_EQ(info.nodeID, UInt32(fsRtDirID));
  EXPECT_EQ(rootParent.hidden[0], 0);

  // Deleting: a folder with something in it stays; the file and then the folder go.
  EXPECT_EQ(FSDeleteObject(&moon), ioErr);
  EXPECT_EQ(FSDeleteObject(&file), noErr);
  EXPECT_EQ(FSDeleteObject(&longRef), noErr);
  EXPECT_EQ(FSDeleteObject(&file), fnfErr);
  EXPECT_EQ(FSOpenFork(&file, 0, nullptr, fsRdPerm, &fork), fnfErr);
  EXPECT_EQ(FSDeleteObject(&moon), noErr);
  EXPECT_EQ(FSMakeFSSpec(0, location.parID, nullptr, &made), dirNFErr);
}

TEST_F(Files, ErrorsAndBadNames) {
  FSRef ref;
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((dir_ + "/missing").c_str()), &ref, nullptr),
            fnfErr);
  const std::vector<UniChar> loneSurrogate = {'a', 0xD800};
  struct Case {
    std::vector<UniChar> name;
    OSErr err;
  };
  const Case cases[] = {
      {U16("a/b"), bdNamErr}, {U16(".."), bdNamErr}, {U16("."), bdNamErr},
      {loneSurrogate, bdNamErr}, {{}, errFSMissingName}, {U16(std::string(256, 'n')), errFSNameTooLong},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FSCreateFileUnicode(&dirRef_, c.name.size(), c.name.data(), kFSCatInfoNone, nullptr,
                                  &ref, nullptr),
              c.err);
    EXPECT_EQ(FSMakeFSRefUnicode(&dirRef_, c.name.size(), c.name.data(), 0, &ref), c.err);
  }
  auto missing = U16("missing");
  EXPECT_EQ(FSMakeFSRefUnicode(&dirRef_, missing.size(), missing.data(), 0, &ref), fnfErr);

  // Opening a folder's fork, or a fork other than the data fork.
  EXPECT_EQ(FSOpenFork(&dirRef_, 0, nullptr, fsRdPerm, nullptr), paramErr);
  FSIORefNum fork;
  EXPECT_EQ(FSOpenFork(&dirRef_, 0, nullptr, fsRdPerm, &fork), notAFileErr);
  ASSERT_EQ(Create(dirRef_, "f", &ref), noErr);
  auto rsrc = U16("RESOURCE_FORK");
  EXPECT_EQ(FSOpenFork(&ref, rsrc.size(), rsrc.data(), fsRdPerm, &fork), errFSBadForkName);
  HFSUniStr255 dataFork;
  dataFork.length = 9;
  EXPECT_EQ(FSGetDataForkName(&dataFork), noErr);
  EXPECT_EQ(dataFork.length, 0);

  // A folder we may not write into. Root may write anywhere, so the attempt
  // runs in a child that is an unprivileged user ("nobody" when we are root).
  const std::string locked = dir_ + "/locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
  ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);  // others may pass through to it
  FSRef lockedRef;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(locked.c_str()), &lockedRef, nullptr), noErr);
  const auto nobody = Nobody();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && !BecomeUser(nobody)) _exit(2);
    FSRef made;
    _exit(Create(lockedRef, "denied", &made) == permErr ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the create was not refused with permErr; 2: could not become nobody";
  EXPECT_NE(access((locked + "/denied").c_str(), F_OK), 0);
}

// Child half of DirectoryIdsPersistAcrossProcesses: this program started again
// with SKYLOOM_TEST_CHILD set runs only this, before the tests, and exits with
// the number of the check that failed (0: all held).
int RunChild() {
  const char* config = getenv("SKYLOOM_TEST_CONFIG");
  const char* dirID = getenv("SKYLOOM_TEST_DIRID");
  const char* expect = getenv("SKYLOOM_TEST_EXPECT");
  const char* other = getenv("SKYLOOM_TEST_OTHER");
  const char* result = getenv("SKYLOOM_TEST_RESULT");
  if (!(config && dirID && expect && other && result)) return 1;
  SkyloomSetConfigurationDirectory(config);
  FSSpec location;
  if (FSMakeFSSpec(0, SInt32(atol(dirID)), nullptr, &location) != noErr) return 2;
  FSRef ref;
  if (FSpMakeFSRef(&location, &ref) != noErr) return 3;
  if (PathOf(ref) != expect) return 4;
  // Give a folder an id here, for the parent to find.
  if (FSPathMakeRef(reinterpret_cast<const UInt8*>(other), &ref, nullptr) != noErr) return 5;
  FSCatalogInfo info;
  if (FSGetCatalogInfo(&ref, kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr) != noErr) return 6;
  FILE* f = fopen(result, "w");
  if (f == nullptr) return 7;
  fprintf(f, "%u\n", info.nodeID);
  return fclose(f) == 0 ? 0 : 8;
}

const bool kRanAsChild = [] {
  if (getenv("SKYLOOM_TEST_CHILD") != nullptr) _exit(RunChild());
  return false;
}();

TEST_F(Files, DirectoryIdsPersistAcrossProcesses) {
  const std::string kept = dir_ + "/Saved Frames";
  const std::string other = dir_ + "/Other";
  ASSERT_EQ(mkdir(kept.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  FSRef keptRef;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(kept.c_str()), &keptRef, nullptr), noErr);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(&keptRef, kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr), noErr);
  const SInt32 keptID = SInt32(info.nodeID);
  ASSERT_GE(keptID, 16);

  const std::string result = dir_ + "/child-result";
  std::vector<std::string> env = {
      "SKYLOOM_TEST_CHILD=1", "SKYLOOM_TEST_CONFIG=" + dir_ + "/config", "SKYLOOM_TEST_DIRID=" + std::to_string(keptID),
      "SKYLOOM_TEST_EXPECT=" + kept, "SKYLOOM_TEST_OTHER=" + other, "SKYLOOM_TEST_RESULT=" + result};
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string self = "files_test_child";
  char* argv[] = {self.data(), nullptr};
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, exe, nullptr, nullptr, argv, envp.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "check " << WEXITSTATUS(status) << " failed in the child";

  // The id the child gave out finds its folder here, and differs from ours.
  const SInt32 childID = SInt32(atol(Slurp(result).c_str()));
  ASSERT_GE(childID, 16);
  EXPECT_NE(childID, keptID);
  FSSpec location;
  ASSERT_EQ(FSMakeFSSpec(0, childID, nullptr, &location), noErr);
  FSRef ref;
  ASSERT_EQ(FSpMakeFSRef(&location, &ref), noErr);
  EXPECT_EQ(PathOf(ref), other);

  // A fresh start on the same configuration directory reads the ids back.
  SkyloomSetConfigurationDirectory((dir_ + "/config").c_str());
  ASSERT_EQ(FSMakeFSSpec(0, keptID, nullptr, &location), noErr);
  ASSERT_EQ(FSpMakeFSRef(&location, &ref), noErr);
  EXPECT_EQ(PathOf(ref), kept);
}

TEST_F(Files, ThreadsShareTheTablesSafely) {
  ASSERT_EQ(mkdir((dir_ + "/shared").c_str(), 0700), 0);
  FSRef shared;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((dir_ + "/shared").c_str()), &shared, nullptr),
            noErr);
  constexpr int kThreads = 4, kFiles = 10;
  std::vector<std::vector<SInt32>> parIDs(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kFiles; ++i) {
        FSRef ref;
        FSSpec location;
        auto name = U16("t" + std::to_string(t) + "_" + std::to_string(i));
        if (FSCreateFileUnicode(&shared, name.size(), name.data(), kFSCatInfoNone, nullptr, &ref,
                                &location) != noErr)
          continue;
        parIDs[t].push_back(location.parID);
        FSIORefNum fork;
        if (FSOpenFork(&ref, 0, nullptr, fsRdWrPerm, &fork) != noErr) continue;
        FSWriteFork(fork, fsAtMark, 0, 4, "data", nullptr);
        FSCloseFork(fork);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(parIDs[t].size(), size_t(kFiles));
    for (SInt32 id : parIDs[t]) EXPECT_EQ(id, parIDs[0][0]);
  }
  EXPECT_EQ(Slurp(dir_ + "/shared/t3_9"), "data");
}

}  // namespace
