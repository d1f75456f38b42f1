#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/MovieLayout.h"
#include "platform/coreservices/CoreServices.h"

namespace {

const float kTimes[] = {1000.0f, 1040.0f, 1080.0f};
constexpr UInt32 kCreation = 3029529600u;  // 2000-01-01, 1904 epoch

using skyloom::test::ReadFile;

std::string golden(const char* name) { return std::string(SKYLOOM_SOURCE_DIR "/tests/media/golden/") + name; }

struct DescHolder {
  ImageDescriptionHandle h = nullptr;
  ~DescHolder() {
    if (h) DisposeHandle(reinterpret_cast<Handle>(h));
  }
};

std::vector<UInt8> buildMoov(UInt32 code, UInt32 bits, UInt32 quality, UInt32 frameBytes,
                             const float* times = kTimes, UInt32 n = 3) {
  DescHolder d;
  OSErr err = 1;
  d.h = myCreateMovieImageDescription(code, bits, quality, 4, 2, &err);
  EXPECT_EQ(err, noErr);
  MovieAtomParams p{4, 2, 600, times, n, frameBytes, 40.0, d.h, kCreation};
  std::vector<UInt8> moov;
  EXPECT_EQ(myBuildMovieAtom(p, &moov), noErr);
  return moov;
}

// A whole movie file: header, zeros to 4096, the frames, the movie atom.
std::vector<UInt8> buildFile(const std::vector<UInt8>& frames, UInt32 frameBytes, UInt32 n,
                             const std::vector<UInt8>& moov) {
  std::vector<UInt8> file(kMovieFirstFrameOffset, 0);
  myBuildMovieFileHeader(n, frameBytes, file.data());
  file.insert(file.end(), frames.begin(), frames.end());
  file.insert(file.end(), moov.begin(), moov.end());
  return file;
}

std::vector<UInt8> grey8Frames() {
  std::vector<UInt8> f;
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 8; ++i) f.push_back(UInt8(((k * 8 + i) * 29 + 3) & 0xFF));
  return f;
}

}  // namespace

TEST(MovieLayout, GoldenFilesFromTheLayoutTables) {
  // 8-bit grey 'raw ': the whole file, byte for byte.
  auto moov = buildMoov(FOUR_CHAR_CODE("raw "), 8, 1024, 8);
  EXPECT_EQ(moov.size(), 484u + 2158 + 24 + 28 + 20 + 28);
  auto file = buildFile(grey8Frames(), 8, 3, moov);
  EXPECT_EQ(file, ReadFile(golden("raw8_grey.mov")));
  // 16-bit grey and 16-bit raw Bayer (medium quality): the movie atoms.
  EXPECT_EQ(buildMoov(FOUR_CHAR_CODE("raw "), 16, 1024, 16), ReadFile(golden("b16g.moov")));
  EXPECT_EQ(buildMoov(FOUR_CHAR_CODE("BGGR"), 16, 768, 2 * 8 + 4), ReadFile(golden("bayer16.moov")));
}

TEST(MovieLayout, SampleDurations) {
  struct Case {
    std::vector<float> times;
    SInt32 scale;
    double nominal;
    std::vector<std::pair<UInt32, UInt32>> runs;
    UInt32 media;
  };
  const Case cases[] = {
      {{1000, 1040, 1080}, 600, 0, {{3, 24}}, 72},
      {{0, 40, 80, 160}, 1000, 0, {{2, 40}, {2, 80}}, 240},
      {{5}, 3000, 33.4, {{1, 100}}, 100},  // 100.2 truncated
      {{0, 10, 30, 40}, 1000, 0, {{1, 10}, {1, 20}, {2, 10}}, 50},
      {{0, 33.3f, 66.7f}, 600, 0, {{3, 20}}, 60},  // rint(19.98) and rint(20.04)
  };
  for (const Case& c : cases) {
    UInt32 media = 0;
    auto runs = myBuildSampleDurations(c.times.data(), UInt32(c.times.size()), c.scale, c.nominal, &media);
    std::vector<std::pair<UInt32, UInt32>> got;
    for (auto r : runs) got.push_back({r.count, r.duration});
    EXPECT_EQ(got, c.runs) << c.times.size() << " frames at " << c.scale;
    EXPECT_EQ(media, c.media);
  }
  EXPECT_EQ(myMovieDurationFromMedia(72, 600), 72u);
  EXPECT_EQ(myMovieDurationFromMedia(1000, 3000), 200u);
  EXPECT_EQ(myMovieDurationFromMedia(1, 2400), 0u);  // 0.25 rounds to 0
}

TEST(MovieLayout, HeaderAndOffsetFormsAtThe32BitBoundary) {
  const UInt32 boundaryF = 4294967295u - 4096u;  // T = 4,294,967,295 with one frame
  struct Case { UInt32 n, f; bool wide, co64; };
  const Case cases[] = {
      {0, 8, true, false},              // no frames: 'wide' + 'mdat' of 4088
      {1, boundaryF - 1, true, false},  // T = 2^32 - 2
      {1, boundaryF, true, true},       // T = 2^32 - 1: 32-bit header, 64-bit offsets
      {1, boundaryF + 1, false, true},  // T = 2^32: 64-bit 'mdat'
      {3, 1500000000u, false, true},
  };
  for (const Case& c : cases) {
    UInt8 h[16];
    myBuildMovieFileHeader(c.n, c.f, h);
    UInt64 t = 4096 + UInt64(c.n) * c.f;
    if (c.wide) {
      EXPECT_EQ(myGetBE32(h), 8u);
      EXPECT_EQ(myGetBE32(h + 4), FOUR_CHAR_CODE("wide"));
      EXPECT_EQ(myGetBE32(h + 8), t - 8);
      EXPECT_EQ(myGetBE32(h + 12), FOUR_CHAR_CODE("mdat"));
    } else {
      EXPECT_EQ(myGetBE32(h), 1u);
      EXPECT_EQ(myGetBE32(h + 4), FOUR_CHAR_CODE("mdat"));
      EXPECT_EQ(myGetBE64(h + 8), t);
    }
    EXPECT_EQ(myMovieNeeds64BitOffsets(c.n, c.f), c.co64) << c.n << " x " << c.f;
    auto table = myCreateChunkOffsetTable(c.n, c.f);
    const UInt32 width = c.co64 ? 8 : 4;
    ASSERT_EQ(table.size(), 16u + width * c.n);
    EXPECT_EQ(myGetBE32(table.data()), table.size());
    EXPECT_EQ(myGetBE32(table.data() + 4), FOUR_CHAR_CODE(c.co64 ? "co64" : "stco"));
    EXPECT_EQ(myGetBE32(table.data() + 12), c.n);
    for (UInt32 k = 0; k < c.n; ++k) {
      UInt64 off = c.co64 ? myGetBE64(table.data() + 16 + 8 * k) : myGetBE32(table.data() + 16 + 4 * k);
      EXPECT_EQ(off, 4096 + UInt64(k) * c.f);
    }
  }
  UInt8 h[16];
  myBuildMovieFileHeader(0, 1234, h);
  EXPECT_EQ(myGetBE32(h + 8), 4088u);
}

TEST(MovieLayout, StoredFormatsAndDescriptions) {
  struct Case { const char* code; UInt32 bits; OSStatus err; const char* codec; const char* vendor; SInt16 depth, version; bool clut; };
  const Case cases[] = {
      {"BGGR", 8, noErr, "BGGR", "ORX ", 8, 1, false},
      {"GBRG", 16, noErr, "BGGR", "ORX ", 16, 1, false},
      {"mmRG", 8, noErr, "raw ", "appl", 8, 1, true},
      {"mmGB", 16, noErr, "b16g", "appl", 16, 1, false},
      {"raw ", 8, noErr, "raw ", "appl", 8, 1, true},
      {"raw ", 16, noErr, "b16g", "appl", 16, 1, false},
      {"raw ", 24, noErr, "raw ", "appl", 24, 1, false},
      {"raw ", 32, noErr, "raw ", "appl", 32, 1, false},
      {"raw ", 48, noErr, "b48r", "appl", 48, 1, false},
      {"2vuy", 16, noErr, "yuv2", "appl", 24, 2, false},
      {"Y411", 16, noErr, "yuv2", "appl", 24, 2, false},
      {"v308", 32, noErr, "raw ", "appl", 32, 1, false},
      {"raw ", 12, paramErr, "", "", 0, 0, false},
      {"mmRG", 24, paramErr, "", "", 0, 0, false},
      {"xxxx", 8, paramErr, "", "", 0, 0, false},
  };
  for (const Case& c : cases) {
    const UInt32 code = FOUR_CHAR_CODE(*reinterpret_cast<const char(*)[5]>(c.code));
    OSErr err = 1;
    DescHolder d;
    d.h = myCreateMovieImageDescription(code, c.bits, 768, 640, 480, &err);
    EXPECT_EQ(err, c.err) << c.code << " " << c.bits;
    if (c.err != noErr) {
      EXPECT_EQ(d.h, nullptr);
      continue;
    }
    ASSERT_NE(d.h, nullptr);
    auto flat = myFlattenImageDescription(d.h);
    ASSERT_EQ(flat.size(), c.clut ? 2142u : 86u) << c.code;
    EXPECT_EQ(myGetBE32(flat.data()), flat.size());
    EXPECT_EQ(myGetBE32(flat.data() + 4), FOUR_CHAR_CODE(*reinterpret_cast<const char(*)[5]>(c.codec)));
    EXPECT_EQ(myGetBE16(flat.data() + 14), 0);  // data reference index 0
    EXPECT_EQ(myGetBE16(flat.data() + 16), UInt16(c.version));
    EXPECT_EQ(myGetBE16(flat.data() + 18), c.version == 2 ? 0 : 1);
    EXPECT_EQ(myGetBE32(flat.data() + 20), FOUR_CHAR_CODE(*reinterpret_cast<const char(*)[5]>(c.vendor)));
    const bool bayer = std::string(c.codec) == "BGGR";
    EXPECT_EQ(myGetBE32(flat.data() + 28), bayer ? 768u : 1024u);
    EXPECT_EQ(myGetBE16(flat.data() + 32), 640);
    EXPECT_EQ(myGetBE16(flat.data() + 34), 480);
    EXPECT_EQ(myGetBE32(flat.data() + 36), 0x00480000u);
    EXPECT_EQ(myGetBE16(flat.data() + 48), 1);
    EXPECT_EQ(myGetBE16(flat.data() + 82), UInt16(c.depth));
    EXPECT_EQ(myGetBE16(flat.data() + 84), c.clut ? 0 : 0xFFFF);
  }
}

TEST(MovieLayout, GreyColourTable) {
  Handle h = NewHandle(0);
  ASSERT_EQ(myCreateMono8Clut(h), noErr);
  ASSERT_EQ(GetHandleSize(h), 2056);
  const auto* ct = reinterpret_cast<const ColorTable*>(*h);
  EXPECT_EQ(ct->ctSeed, 0);
  EXPECT_EQ(ct->ctSize, 255);
  ColorSpec last;
  std::memcpy(&last, *h + 8 + 255 * 8, 8);
  EXPECT_EQ(last.value, 255);
  EXPECT_EQ(last.rgb.red, 0xFFFF);
  EXPECT_EQ(last.rgb.blue, 0xFFFF);
  ColorSpec one;
  std::memcpy(&one, *h + 8 + 8, 8);
  EXPECT_EQ(one.rgb.green, 0x0101);
  DisposeHandle(h);
  EXPECT_EQ(myCreateMono8Clut(nullptr), paramErr);
}

TEST(MovieLayout, BuildRefusesWhatItCannotDescribe) {
  std::vector<UInt8> out;
  MovieAtomParams p{4, 2, 600, kTimes, 0, 8, 40.0, nullptr, 0};
  EXPECT_EQ(myBuildMovieAtom(p, &out), paramErr);
  DescHolder d;
  OSErr err;
  d.h = myCreateMovieImageDescription(FOUR_CHAR_CODE("raw "), 24, 0, 4, 2, &err);
  p.desc = d.h;
  EXPECT_EQ(myBuildMovieAtom(p, &out), paramErr);  // no frames
  p.frameCount = 3;
  p.timeScale = 0;
  EXPECT_EQ(myBuildMovieAtom(p, &out), paramErr);
}

// ---- What standard readers make of the files ----

namespace {
class MovieInterop : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  void SetUp() override {
    ASSERT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
    ASSERT_TRUE(skyloom::test::ToolInstalled("ffmpeg"));
    char tmpl[] = "/tmp/skyloom-movie-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  std::string write(const char* name, const std::vector<UInt8>& bytes) {
    auto path = (dir / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }
  // "size,pos" per packet; the palette side data of the first packet adds
  // fields and blank lines of its own, which are dropped.
  static std::string packets(const std::string& path) {
    std::string raw = skyloom::test::RunStdout("ffprobe -v error -select_streams v:0 -show_entries packet=pos,size -of csv=p=0 " + path);
    std::string out, line;
    for (size_t i = 0; i <= raw.size(); ++i) {
      if (i == raw.size() || raw[i] == '\n') {
        auto c1 = line.find(',');
        if (c1 != std::string::npos) {
          auto c2 = line.find(',', c1 + 1);
          out += line.substr(0, c2) + "\n";
        }
        line.clear();
      } else {
        line += raw[i];
      }
    }
    return out;
  }
};
}  // namespace

TEST_F(MovieInterop, Grey8ReadsAndDecodesThroughItsPalette) {
  auto frames = grey8Frames();
  auto path = write("rec.mov", buildFile(frames, 8, 3, buildMoov(FOUR_CHAR_CODE("raw "), 8, 1024, 8)));
  EXPECT_EQ(skyloom::test::RunStdout("ffprobe -v error -show_entries stream=codec_tag_string,width,height,nb_frames,time_base,duration_ts "
                "-of default=nw=1 " + path),
            "codec_tag_string=raw \nwidth=4\nheight=2\ntime_base=1/600\nduration_ts=72\nnb_frames=3\n");
  EXPECT_EQ(packets(path),
            "8,4096\n8,4104\n8,4112\n");
  std::string rgb = skyloom::test::RunStdout("ffmpeg -v error -i " + path + " -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), frames.size() * 3);
  for (size_t i = 0; i < frames.size(); ++i)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(UInt8(rgb[i * 3 + c]), frames[i]) << i;
}

TEST_F(MovieInterop, Grey16DecodesToTheSameSamples) {
  std::vector<UInt8> frames;  // big-endian samples on disk
  std::vector<UInt16> samples;
  for (int i = 0; i < 24; ++i) samples.push_back(UInt16(i * 2731 + 17));
  for (UInt16 s : samples) { frames.push_back(UInt8(s >> 8)); frames.push_back(UInt8(s)); }
  auto path = write("rec16.mov", buildFile(frames, 16, 3, buildMoov(FOUR_CHAR_CODE("raw "), 16, 1024, 16)));
  EXPECT_EQ(skyloom::test::RunStdout("ffprobe -v error -show_entries stream=codec_tag_string,width,height,nb_frames -of default=nw=1 " + path),
            "codec_tag_string=b16g\nwidth=4\nheight=2\nnb_frames=3\n");
  std::string out = skyloom::test::RunStdout("ffmpeg -v error -i " + path + " -f rawvideo -pix_fmt gray16be -");
  EXPECT_EQ(std::vector<UInt8>(out.begin(), out.end()), frames);
}

TEST_F(MovieInterop, RawBayerPacketsSitWhereTheTablesSay) {
  const UInt32 F = 2 * 8 + 4;
  std::vector<UInt8> frames;
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 16; ++i) frames.push_back(UInt8(k * 16 + i));
    for (char c : std::string("GBRG")) frames.push_back(UInt8(c));
  }
  auto path = write("bayer.mov", buildFile(frames, F, 3, buildMoov(FOUR_CHAR_CODE("GBRG"), 16, 768, F)));
  EXPECT_EQ(skyloom::test::RunStdout("ffprobe -v error -show_entries stream=codec_tag_string,width,height,nb_frames -of default=nw=1 " + path),
            "codec_tag_string=BGGR\nwidth=4\nheight=2\nnb_frames=3\n");
  EXPECT_EQ(packets(path),
            "20,4096\n20,4116\n20,4136\n");
}
