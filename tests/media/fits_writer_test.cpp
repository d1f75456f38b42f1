#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/FITSWriter.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"

namespace {

using skyloom::test::ReadFile;


class FITSWriter : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-fits-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::filesystem::create_directory(dir / "config");
    SkyloomSetConfigurationDirectory((dir / "config").c_str());
    SkyloomSetFITSClock([] { return time_t(1172984767); });  // 2007-03-04 05:06:07 UTC
  }
  void TearDown() override {
    SkyloomSetFITSClock(nullptr);
    SkyloomClearFileFaults();
    SkyloomSetConfigurationDirectory(nullptr);
    std::filesystem::remove_all(dir);
  }
  FSSpec locationFor(const std::string& name) {
    FSRef folder;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.c_str()), &folder, nullptr), noErr);
    FSCatalogInfo info{};
    EXPECT_EQ(FSGetCatalogInfo(&folder, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr), noErr);
    Str255 pname;
    pname[0] = UInt8(name.size());
    std::memcpy(pname + 1, name.data(), name.size());
    FSSpec location{};
    OSErr err = FSMakeFSSpec(info.volume, SInt32(info.nodeID), pname, &location);
    EXPECT_TRUE(err == noErr || err == fnfErr);
    return location;
  }
};

}  // namespace

TEST_F(FITSWriter, GoldenSixteenBitFrame) {
  const UInt16 s[12] = {0, 1, 32767, 32768, 65535, 4660, 22136, 39612, 65534, 2, 100, 40000};
  ASSERT_EQ(myMonoToFITSFileFSSPEC(locationFor("m42.fits"), s, 2, 4, 3), noErr);
  EXPECT_EQ(ReadFile((dir / "m42.fits").string()), ReadFile(SKYLOOM_SOURCE_DIR "/tests/media/golden/grey16.fits"));
}

TEST_F(FITSWriter, SizesPaddingAndCardPlacement) {
  std::vector<UInt16> s16(640 * 480, 7);
  ASSERT_EQ(myMonoToFITSFileFSSPEC(locationFor("a.fits"), s16.data(), 2, 640, 480), noErr);
  EXPECT_EQ(std::filesystem::file_size(dir / "a.fits"), 619200u);
  std::vector<UInt8> s8(1440 * 1080, 9);
  ASSERT_EQ(myMonoToFITSFileFSSPEC(locationFor("b.fits"), s8.data(), 1, 1440, 1080), noErr);
  auto b = ReadFile((dir / "b.fits").string());
  EXPECT_EQ(b.size(), 2880u + 1555200u);  // no padding
  EXPECT_EQ(std::string(b.begin() + 6 * 80, b.begin() + 6 * 80 + 20), "OBJECT  = 'b.fits'  ");
  const UInt32 s32[2] = {0, 0xFFFFFFFFu};
  ASSERT_EQ(myMonoToFITSFileFSSPEC(locationFor("c.fits"), s32, 4, 2, 1), noErr);
  auto c = ReadFile((dir / "c.fits").string());
  EXPECT_EQ(std::string(c.begin() + 6 * 80, c.begin() + 6 * 80 + 39), "BZERO   =                    2147483648");
  ASSERT_EQ(c.size(), 5760u);
  EXPECT_EQ(c[2880], 0x80);
  EXPECT_EQ(c[2881], 0x00);
  EXPECT_EQ(c[2884], 0x7F);
  EXPECT_EQ(c[2887], 0xFF);
}

TEST_F(FITSWriter, ObjectNamesAreMadeValidCards) {
  const unsigned char quote[] = "M42's core";
  EXPECT_EQ(myFITSObjectValue(quote, 10), "M42''s core");
  const unsigned char accented[] = "N\xc3\xa9" "buleuse\t1";
  EXPECT_EQ(myFITSObjectValue(accented, 12), "N__buleuse_1");
  std::string longQuotes(63, '\'');
  std::string v = myFITSObjectValue(reinterpret_cast<const unsigned char*>(longQuotes.data()), 63);
  EXPECT_EQ(v.size(), 68u);  // 34 doubled quotes fill the card to column 80
  const UInt8 s[1] = {1};
  ASSERT_EQ(myMonoToFITSFileFSSPEC(locationFor("M42's core.fits"), s, 1, 1, 1), noErr);
  auto f = ReadFile((dir / "M42's core.fits").string());
  EXPECT_EQ(std::string(f.begin() + 480, f.begin() + 480 + 28), "OBJECT  = 'M42''s core.fits'");
}

TEST_F(FITSWriter, ExistingFileIsLeftAloneAndFailuresRemoveTheFile) {
  { std::ofstream(dir / "old.fits") << "keep me"; }
  const UInt8 s[4] = {1, 2, 3, 4};
  EXPECT_EQ(myMonoToFITSFileFSSPEC(locationFor("old.fits"), s, 1, 2, 2), dupFNErr);
  EXPECT_EQ(ReadFile((dir / "old.fits").string()), std::vector<UInt8>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  for (UInt32 nth : {1u, 2u, 3u}) {  // header, data row, padding
    SkyloomFileFaults faults;
    faults.failWriteNumber = nth;
    faults.failWriteStatus = ioErr;
    SkyloomSetFileFaults(faults);
    const UInt16 s16[2] = {5, 6};
    EXPECT_EQ(myMonoToFITSFileFSSPEC(locationFor("bad.fits"), s16, 2, 2, 1), ioErr) << nth;
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.fits")) << nth;
    SkyloomClearFileFaults();
  }
  SkyloomFileFaults full;
  full.volumeBytesLeft = 3000;
  SkyloomSetFileFaults(full);
  std::vector<UInt16> big(4000, 1);
  EXPECT_EQ(myMonoToFITSFileFSSPEC(locationFor("full.fits"), big.data(), 2, 4000, 1), dskFulErr);
  EXPECT_FALSE(std::filesystem::exists(dir / "full.fits"));
}

TEST_F(FITSWriter, StandardToolsReadEveryDepth) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("fitsverify"));
  ASSERT_TRUE(skyloom::test::PythonModuleInstalled("astropy"));
  const UInt8 s8[6] = {0, 1, 2, 3, 254, 255};
  const UInt16 s16[6] = {0, 1, 2, 32768, 65534, 65535};
  const UInt32 s32[6] = {0, 1, 2, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
  ASSERT_EQ(myMonoToFITSFileFSSPEC(locationFor("d8.fits"), s8, 1, 3, 2), noErr);
  ASSERT_EQ(myMonoToFITSFileFSSPEC(locationFor("d16.fits"), s16, 2, 3, 2), noErr);
  ASSERT_EQ(myMonoToFITSFileFSSPEC(locationFor("d32.fits"), s32, 4, 3, 2), noErr);
  for (const char* name : {"d8.fits", "d16.fits", "d32.fits"}) {
    std::string out = skyloom::test::Run("fitsverify " + (dir / name).string());
    EXPECT_NE(out.find("**** Verification found 0 warning(s) and 0 error(s). ****"), std::string::npos) << out;
  }
  // Debian's own python3 has astropy (the first python3 on PATH may not).
  const char* script =
      "/usr/bin/python3 -c \"import sys; from astropy.io import fits; "
      "d=fits.getdata(sys.argv[1]); print(d.dtype.kind, d.dtype.itemsize, ' '.join(str(int(v)) for v in d.ravel()))\" ";
  EXPECT_EQ(skyloom::test::Run(std::string(script) + (dir / "d8.fits").string()), "u 1 0 1 2 3 254 255\n");
  EXPECT_EQ(skyloom::test::Run(std::string(script) + (dir / "d16.fits").string()), "u 2 0 1 2 32768 65534 65535\n");
  EXPECT_EQ(skyloom::test::Run(std::string(script) + (dir / "d32.fits").string()),
            "u 4 0 1 2 2147483648 4294967294 4294967295\n");
}
