#include <gtest/gtest.h>

#include "tests/support/MovieFolder.h"

#include "tests/support/TestFiles.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/MovieLayout.h"
#include "camera_driver/DCAMCameraStruct.h"
#include "media/MovieRecorder.h"
#include "media/PixelFormatKernels.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"

namespace {

#include "demosaic_golden.inc"

// The recorder only reads the camera's vector-unit flags: a zeroed handle.
MyDCAMCameraStruct* fakeCamera() {
  static MyDCAMCameraStruct* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
  return camera;
}

std::vector<UInt8> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<UInt8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// "size,pos" of every packet (palette side data lines dropped).
std::string packets(const std::string& path) {
  std::string raw = run("ffprobe -v error -select_streams v:0 -show_entries packet=pos,size -of csv=p=0 " + path);
  std::string out, line;
  for (size_t i = 0; i <= raw.size(); ++i) {
    if (i == raw.size() || raw[i] == '\n') {
      auto c1 = line.find(',');
      if (c1 != std::string::npos) out += line.substr(0, line.find(',', c1 + 1)) + "\n";
      line.clear();
    } else {
      line += raw[i];
    }
  }
  return out;
}

std::string expectedPackets(UInt32 n, UInt32 F) {
  std::string s;
  for (UInt32 k = 0; k < n; ++k) s += std::to_string(F) + "," + std::to_string(4096 + UInt64(k) * F) + "\n";
  return s;
}

UInt32 be32(const std::vector<UInt8>& f, size_t at) { return myGetBE32(f.data() + at); }

// Offset of the first atom of that type at or after from (its size field).
size_t findAtom(const std::vector<UInt8>& f, const char* type, size_t from) {
  for (size_t i = from + 4; i + 4 <= f.size(); ++i)
    if (std::memcmp(f.data() + i, type, 4) == 0) return i - 4;
  return std::string::npos;
}

// The movie atom's sample durations as (count, duration) pairs.
std::vector<std::pair<UInt32, UInt32>> stts(const std::vector<UInt8>& f, size_t moov) {
  std::vector<std::pair<UInt32, UInt32>> out;
  size_t a = findAtom(f, "stts", moov);
  if (a == std::string::npos) return out;
  UInt32 n = be32(f, a + 12);
  for (UInt32 i = 0; i < n; ++i) out.push_back({be32(f, a + 16 + 8 * i), be32(f, a + 20 + 8 * i)});
  return out;
}

// A gate a test opens once.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
  std::atomic<int> waiters{0};
  void wait() {
    std::unique_lock<std::mutex> lock(m);
    ++waiters;
    cv.wait(lock, [&] { return open; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(m);
    open = true;
    cv.notify_all();
  }
};

// Waits for a condition with a generous hang guard.
template <typename F>
bool eventually(F f) {
  for (int i = 0; i < 20000; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

class MovieRecorder : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  FSVolumeRefNum volume = 0;
  SInt32 dirID = 0;

  void SetUp() override {
    MovieFolder folder;
    MakeMovieFolder("skyloom-recorder", &folder);
    if (HasFatalFailure()) return;
    dir = folder.dir;
    volume = folder.volume;
    dirID = folder.dirID;
  }
  void TearDown() override {
    myMovieRecorderSetTestHooks(nullptr);
    SkyloomClearFileFaults();
    SkyloomSetConfigurationDirectory(nullptr);
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  std::string path(const char* name) const { return (dir / "movies" / name).string(); }
  FSSpec location(const char* name) const {
    Str255 p;
    p[0] = UInt8(std::strlen(name));
    std::memcpy(p + 1, name, p[0]);
    FSSpec s;
    OSErr err = FSMakeFSSpec(volume, dirID, p, &s);
    EXPECT_TRUE(err == noErr || err == fnfErr) << err;
    return s;
  }
  // Files in the movie folder other than the named ones (left-over reserves).
  std::vector<std::string> strayFiles(const std::vector<std::string>& expected) const {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(dir / "movies")) {
      auto n = e.path().filename().string();
      if (std::find(expected.begin(), expected.end(), n) == expected.end()) out.push_back(n);
    }
    return out;
  }
  MyMovieRecorderStruct* create(const char* name, UInt32 code, UInt32 bits, UInt32 w, UInt32 h,
                                OSErr* err, double nominal = 0, SInt32 scale = 600, UInt32 rowBytes = 0) {
    return ORXDCAMCreateMovie(fakeCamera(), nominal, scale, w, h, code, bits, rowBytes, location(name), err);
  }
};

// ---- Stored formats end to end ----

struct FormatCase {
  const char* name;
  const char* code;
  UInt32 bits;
  UInt32 width, height;
  UInt32 srcRowBytes;   // 0: packed
  const char* tag;      // codec tag ffprobe shows
  UInt32 frameBytes;    // F
};

UInt8 pattern(UInt32 frame, size_t i) { return UInt8((frame * 131 + i * 29 + (i >> 7) * 7 + 3) & 0xFF); }

// The stored frame each input frame must become, from the layout rules.
std::vector<UInt8> expectedStored(const FormatCase& c, const std::vector<UInt8>& in) {
  const UInt32 W = c.width, H = c.height;
  const UInt32 srb = c.srcRowBytes ? c.srcRowBytes : UInt32((UInt64(W) * c.bits + 7) / 8);
  std::vector<UInt8> out;
  std::string code = c.code;
  auto host16 = [&](size_t at) { UInt16 v; std::memcpy(&v, in.data() + at, 2); return v; };
  if (code[0] == 'b' && code != "b16g") {
    if (c.bits == 12) {
      for (size_t p = 0; p < size_t(W) * H; p += 2) {
        const UInt8* b = in.data() + p / 2 * 3;
        UInt32 s0 = (UInt32(b[0]) * 16 + (b[1] & 0x0F)) << 4, s1 = (UInt32(b[2]) * 16 + (b[1] >> 4)) << 4;
        out.insert(out.end(), {UInt8(s0 >> 8), UInt8(s0), UInt8(s1 >> 8), UInt8(s1)});
      }
    } else {
      for (UInt32 y = 0; y < H; ++y)
        for (UInt32 x = 0; x < W; ++x) {
          if (c.bits == 8) { out.push_back(in[y * srb + x]); continue; }
          UInt16 v = host16(y * srb + 2 * x);
          out.insert(out.end(), {UInt8(v >> 8), UInt8(v)});
        }
    }
    std::string pair = code.substr(2);
    const char* trailer = pair == "RG" ? "RGGB" : pair == "GR" ? "GRBG" : pair == "GB" ? "BGGR" : "GBRG";
    out.insert(out.end(), trailer, trailer + 4);
  } else if (code == "raw ") {
    for (UInt32 y = 0; y < H; ++y) {
      size_t row = size_t(W) * c.bits / 8;
      if (c.bits == 16 || c.bits == 48) {
        for (size_t i = 0; i < row; i += 2) {
          UInt16 v = host16(y * srb + i);
          out.insert(out.end(), {UInt8(v >> 8), UInt8(v)});
        }
      } else {
        out.insert(out.end(), in.begin() + long(y) * srb, in.begin() + long(y) * srb + long(row));
      }
    }
  } else if (code == "2vuy") {
    for (UInt32 y = 0; y < H; ++y)
      for (UInt32 x = 0; x < W; x += 2) {
        const UInt8* s = in.data() + y * srb + 2 * x;
        out.insert(out.end(), {s[1], UInt8(s[0] ^ 0x80), s[3], UInt8(s[2] ^ 0x80)});
      }
  } else if (code == "Y411") {
    for (UInt32 y = 0; y < H; ++y)
      for (UInt32 x = 0; x < W; x += 8) {
        const UInt8* s = in.data() + y * srb + x * 3 / 2;
        UInt8 u0 = s[0] ^ 0x80, v0 = s[3] ^ 0x80, u1 = s[6] ^ 0x80, v1 = s[9] ^ 0x80;
        out.insert(out.end(), {s[1], u0, s[2], v0, s[4], u0, s[5], v0, s[7], u1, s[8], v1, s[10], u1, s[11], v1});
      }
  } else if (code == "v308") {
    out.resize(size_t(W) * H * 4);
    YUV444ToARGB32(in.data(), out.data(), W * H * 3, W, W * 4, 0, 0);
  }
  return out;
}

TEST_F(MovieRecorder, EveryStoredFormatLandsWhereTheLayoutSays) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
  const FormatCase cases[] = {
      {"grey8.mov", "raw ", 8, 16, 6, 0, "raw ", 96},
      {"grey8pad.mov", "raw ", 8, 16, 6, 20, "raw ", 96},
      {"grey16.mov", "raw ", 16, 16, 6, 0, "b16g", 192},
      {"rgb24.mov", "raw ", 24, 8, 4, 0, "raw ", 96},
      {"argb32.mov", "raw ", 32, 8, 4, 0, "raw ", 128},
      {"rgb48.mov", "raw ", 48, 8, 4, 0, "b48r", 192},
      {"bayer8.mov", "blRG", 8, 16, 6, 0, "BGGR", 100},
      {"bayer16.mov", "bmBG", 16, 16, 6, 0, "BGGR", 196},
      {"bayer12.mov", "bhGB", 12, 16, 6, 0, "BGGR", 196},
      {"bayer8gr.mov", "blGR", 8, 16, 6, 0, "BGGR", 100},
      {"yuv422.mov", "2vuy", 16, 16, 4, 0, "yuv2", 128},
      {"yuv411.mov", "Y411", 12, 16, 4, 0, "yuv2", 128},
      {"yuv444.mov", "v308", 24, 8, 4, 0, "raw ", 128},
  };
  // Five frames on a fake clock; the first is only the time origin. Intervals
  // 40, 80, 40 ms at time scale 600 give 24, 48, 24 and the last repeats 24.
  const double times[] = {1000, 1040, 1080, 1160, 1200};
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    const UInt32 code = FOUR_CHAR_CODE(*reinterpret_cast<const char(*)[5]>(c.code));
    OSErr err = 1;
    MyMovieRecorderStruct* rec = create(c.name, code, c.bits, c.width, c.height, &err, 0, 600, c.srcRowBytes);
    ASSERT_NE(rec, nullptr);
    ASSERT_EQ(err, noErr);
    const UInt32 srb = c.srcRowBytes ? c.srcRowBytes : UInt32((UInt64(c.width) * c.bits + 7) / 8);
    std::vector<std::vector<UInt8>> stored;
    for (UInt32 k = 0; k < 5; ++k) {
      std::vector<UInt8> in(size_t(srb) * c.height);
      for (size_t i = 0; i < in.size(); ++i) in[i] = pattern(k, i);
      if (k == 1 && c.bits == 12) { in[0] = 0xAB; in[1] = 0xCD; in[2] = 0xEF; }
      ASSERT_EQ(ORXDCAMAddMovieFrame(rec, in.data(), times[k]), noErr);
      if (k > 0) stored.push_back(expectedStored(c, in));
    }
    ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);

    auto f = readFile(path(c.name));
    const UInt32 F = c.frameBytes;
    ASSERT_EQ(stored[0].size(), F);
    ASSERT_GE(f.size(), 4096 + 4 * F);
    EXPECT_EQ(be32(f, 0), 8u);
    EXPECT_EQ(be32(f, 4), FOUR_CHAR_CODE("wide"));
    EXPECT_EQ(be32(f, 8), 4096 + 4 * F - 8);
    EXPECT_EQ(be32(f, 12), FOUR_CHAR_CODE("mdat"));
    for (UInt32 k = 0; k < 4; ++k)
      EXPECT_TRUE(std::equal(stored[k].begin(), stored[k].end(), f.begin() + 4096 + k * F)) << "frame " << k;
    if (c.bits == 12 && c.code[0] == 'b') {  // AB CD EF: samples 0xABD and 0xEFC, widened
      const UInt8 want[] = {0xAB, 0xD0, 0xEF, 0xC0};
      EXPECT_EQ(std::memcmp(f.data() + 4096, want, 4), 0);
    }
    const size_t moov = 4096 + 4 * F;
    EXPECT_EQ(be32(f, moov + 4), FOUR_CHAR_CODE("moov"));
    EXPECT_EQ(be32(f, moov), f.size() - moov);
    EXPECT_EQ(stts(f, moov), (std::vector<std::pair<UInt32, UInt32>>{{1, 24}, {1, 48}, {2, 24}}));
    EXPECT_EQ(run("ffprobe -v error -show_entries stream=codec_tag_string,width,height,nb_frames,duration_ts "
                  "-of default=nw=1 " + path(c.name)),
              std::string("codec_tag_string=") + c.tag + "\nwidth=" + std::to_string(c.width) +
                  "\nheight=" + std::to_string(c.height) + "\nduration_ts=120\nnb_frames=4\n");
    EXPECT_EQ(packets(path(c.name)), expectedPackets(4, F));
  }
  EXPECT_EQ(strayFiles({}).size(), std::size(cases));  // the movies, and no reserve left behind
}

TEST_F(MovieRecorder, GreyMoviesDecodeToTheSamplesRecorded) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffmpeg"));
  // 8-bit grey decodes through its palette to equal R, G and B.
  struct Case { const char* name; UInt32 bits; const char* pixfmt; };
  for (const Case& c : {Case{"g8.mov", 8, "rgb24"}, Case{"g16.mov", 16, "gray16le"}}) {
    SCOPED_TRACE(c.name);
    const UInt32 W = 32, H = 8, n = 3;
    OSErr err = 1;
    auto* rec = create(c.name, FOUR_CHAR_CODE("raw "), c.bits, W, H, &err, 33.3, 3000);
    ASSERT_NE(rec, nullptr);
    std::vector<UInt8> all;
    for (UInt32 k = 0; k < n; ++k) {
      std::vector<UInt8> in(size_t(W) * H * c.bits / 8);
      if (c.bits == 8) {
        for (size_t i = 0; i < in.size(); ++i) in[i] = pattern(k, i);
      } else {
        for (size_t i = 0; i < in.size() / 2; ++i) {
          UInt16 v = UInt16(i * 2731 + k * 977 + 5);
          std::memcpy(in.data() + 2 * i, &v, 2);  // host order, as frames are in memory
        }
      }
      ASSERT_EQ(ORXDCAMAddMovieFrame(rec, in.data(), 500.0 + 33.3 * k), noErr);
      all.insert(all.end(), in.begin(), in.end());
    }
    ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
    std::string out = run("ffmpeg -v error -i " + path(c.name) + " -f rawvideo -pix_fmt " + c.pixfmt + " -");
    if (c.bits == 8) {
      std::string grey;
      for (size_t i = 0; i + 2 < out.size(); i += 3) {
        ASSERT_TRUE(out[i] == out[i + 1] && out[i] == out[i + 2]) << i;
        grey += out[i];
      }
      out = grey;
    }
    EXPECT_EQ(std::vector<UInt8>(out.begin(), out.end()), all);
  }
}

TEST_F(MovieRecorder, GreyMosaicCodesStoreOneLumaSampleAPixel) {
  // A random 8 x 6 mosaic and its luma from demosaic_golden.py (medium
  // quality colours by the written interior, edge and last-row rules, then
  // (306 R + 601 G + 117 B) >> 10). The pair names the first two colours of
  // row 0, so each code is one of the script's phases; a wrong family, start
  // row, neighbour or edge rule changes some pixel.
  struct Case { const char* code; UInt32 bits; int phase; };  // phase: RGGB 1, RGGB 0, GRBG 1, GRBG 0
  const Case cases[] = {{"mlRG", 8, 0},  {"mmGB", 8, 1},  {"mHGR", 8, 2},  {"mlBG", 8, 3},
                        {"mlRG", 16, 0}, {"mmGB", 16, 1}, {"mHGR", 16, 2}, {"mlBG", 16, 3}};
  const UInt32 W = 8, H = 6;
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.code) + " " + std::to_string(c.bits));
    const UInt32 code = FOUR_CHAR_CODE(*reinterpret_cast<const char(*)[5]>(c.code));
    // Every other case has padded source rows, which must not reach the kernel.
    const UInt32 srb = W * c.bits / 8 + (i % 2 ? 6 : 0);
    std::vector<UInt8> in(size_t(srb) * H, 0xEE);
    for (UInt32 y = 0; y < H; ++y)
      for (UInt32 x = 0; x < W; ++x) {
        if (c.bits == 8) in[y * srb + x] = kGolden8In8x6[0][y * W + x];
        else std::memcpy(&in[y * srb + 2 * x], &kGolden16In8x6[0][y * W + x], 2);
      }
    std::string name = "mono" + std::to_string(i++) + ".mov";
    OSErr err;
    auto* rec = create(name.c_str(), code, c.bits, W, H, &err, 40.0, 600, srb);
    ASSERT_NE(rec, nullptr) << err;
    ASSERT_EQ(ORXDCAMAddMovieFrame(rec, in.data(), 100.0), noErr);
    ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
    auto f = readFile(path(name.c_str()));
    const UInt32 F = W * H * c.bits / 8;
    ASSERT_EQ(be32(f, 8), 4096 + F - 8);
    for (UInt32 p = 0; p < W * H; ++p) {
      UInt32 got = c.bits == 8 ? f[4096 + p] : myGetBE16(f.data() + 4096 + 2 * p);
      UInt32 want = c.bits == 8 ? kGolden8MONO[c.phase][p] : kGolden16MONO[c.phase][p];
      ASSERT_EQ(got, want) << "pixel (" << p % W << "," << p / W << ")";
    }
    auto desc = findAtom(f, "stsd", 4096 + F);
    ASSERT_NE(desc, std::string::npos);
    EXPECT_EQ(be32(f, desc + 20), c.bits == 8 ? FOUR_CHAR_CODE("raw ") : FOUR_CHAR_CODE("b16g"));
    EXPECT_EQ(be32(f, desc + 16), c.bits == 8 ? 2142u : 86u);  // the grey colour table at 8 bits
  }
}

// ---- Time rules ----

TEST_F(MovieRecorder, FrameTimesMustAdvance) {
  OSErr err;
  auto* rec = create("times.mov", FOUR_CHAR_CODE("raw "), 8, 8, 2, &err, 40.0, 600);
  ASSERT_NE(rec, nullptr);
  std::vector<UInt8> frame(16, 7);
  // With a nominal duration the first frame is stored (d = rint(600 x 40 x 0.001) = 24).
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 100.0), noErr);
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 100.0), kMovieFrameTimeErr);  // equal
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 90.0), kMovieFrameTimeErr);   // earlier
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 100.5), kMovieFrameTimeErr);  // rint(0.3) = 0 units
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 140.0), noErr);  // measured from 100
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 220.0), noErr);
  EXPECT_EQ(ORXDCAMAddMovieFrame(nullptr, frame.data(), 300.0), paramErr);
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, nullptr, 300.0), paramErr);
  ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
  auto f = readFile(path("times.mov"));
  EXPECT_EQ(stts(f, 4096 + 3 * 16), (std::vector<std::pair<UInt32, UInt32>>{{1, 24}, {2, 48}}));
  EXPECT_EQ(ORXDCAMCloseMovie(nullptr), noErr);

  // Without a nominal duration the first frame is the time origin, also at 0 ms.
  rec = create("origin.mov", FOUR_CHAR_CODE("raw "), 8, 8, 2, &err, 0, 600);
  ASSERT_NE(rec, nullptr);
  for (double t : {0.0, 40.0, 80.0}) EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), t), noErr);
  ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
  f = readFile(path("origin.mov"));
  EXPECT_EQ(be32(f, 8), 4096u + 2 * 16 - 8);
  EXPECT_EQ(stts(f, 4096 + 2 * 16), (std::vector<std::pair<UInt32, UInt32>>{{2, 24}}));
}

TEST_F(MovieRecorder, OneFrameTakesItsNominalDuration) {
  struct Case { double nominal; SInt32 scale; UInt32 frames; UInt32 duration; };
  const Case cases[] = {
      {33.4, 3000, 1, 100},  // 100.2 truncated
      {0, 600, 2, 600},      // no nominal: one stored frame lasts 1000 ms
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string name = "one" + std::to_string(i++) + ".mov";
    OSErr err;
    auto* rec = create(name.c_str(), FOUR_CHAR_CODE("raw "), 8, 4, 2, &err, c.nominal, c.scale);
    ASSERT_NE(rec, nullptr);
    UInt8 frame[8] = {};
    for (UInt32 k = 0; k < c.frames; ++k) ASSERT_EQ(ORXDCAMAddMovieFrame(rec, frame, 10.0 + 20 * k), noErr);
    ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
    auto f = readFile(path(name.c_str()));
    EXPECT_EQ(stts(f, 4096 + 8), (std::vector<std::pair<UInt32, UInt32>>{{1, c.duration}}));
  }
}

// ---- Creation ----

TEST_F(MovieRecorder, RefusesWhatItCannotStore) {
  struct Case { const char* code; UInt32 bits, w, h, rowBytes; SInt32 scale; };
  const Case cases[] = {
      {"raw ", 12, 8, 8, 0, 600},   // no stored form for 12-bit 'raw '
      {"blRG", 10, 8, 8, 0, 600},   // raw Bayer: 8, 12 or 16 bits only
      {"bhRG", 24, 8, 8, 0, 600},
      {"bHRG", 8, 8, 8, 0, 600},    // 'H' is a grey quality letter
      {"mhRG", 8, 8, 8, 0, 600},    // 'h' is a colour one
      {"mlRG", 12, 8, 8, 0, 600},
      {"blRB", 8, 8, 8, 0, 600},
      {"2vuy", 8, 8, 8, 0, 600},
      {"Y411", 16, 8, 8, 0, 600},
      {"v308", 32, 8, 8, 0, 600},
      {"jpeg", 8, 8, 8, 0, 600},
      {"raw ", 8, 0, 8, 0, 600},
      {"raw ", 8, 8, 0, 0, 600},
      {"raw ", 16, 8, 8, 15, 600},  // rows shorter than the pixels
      {"raw ", 8, 8, 8, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.code) + " " + std::to_string(c.bits));
    OSErr err = 0;
    const UInt32 code = FOUR_CHAR_CODE(*reinterpret_cast<const char(*)[5]>(c.code));
    EXPECT_EQ(ORXDCAMCreateMovie(fakeCamera(), 0, c.scale, c.w, c.h, code, c.bits, c.rowBytes, location("x.mov"), &err),
              nullptr);
    EXPECT_EQ(err, paramErr);
  }
  OSErr err = 0;
  EXPECT_EQ(ORXDCAMCreateMovie(nullptr, 0, 600, 8, 8, FOUR_CHAR_CODE("raw "), 8, 0, location("x.mov"), &err), nullptr);
  EXPECT_EQ(err, paramErr);
  EXPECT_TRUE(strayFiles({}).empty());
}

TEST_F(MovieRecorder, NeverOverwritesAnExistingFile) {
  { std::ofstream(path("old.mov")) << "precious"; }
  OSErr err = 0;
  EXPECT_EQ(create("old.mov", FOUR_CHAR_CODE("raw "), 8, 8, 8, &err), nullptr);
  EXPECT_EQ(err, dupFNErr);
  auto f = readFile(path("old.mov"));
  EXPECT_EQ(std::string(f.begin(), f.end()), "precious");
  EXPECT_EQ(strayFiles({"old.mov"}), std::vector<std::string>{});
}

TEST_F(MovieRecorder, RingHoldsOneSecondOfPageAlignedSlotsWithinTheBudget) {
  // nominalMs 0: one second at 240 frames/s. The ring never holds less than
  // about 20 MB (at most 30 slots), never more than 256 MB.
  struct Case { UInt32 w, h; double nominalMs; UInt32 slots; };
  const Case cases[] = {{1000, 600, 0, 240},  {3300, 3200, 0, 25}, {640, 480, 0, 240},
                        {4096, 2048, 0, 31},  {2048, 1024, 0, 127}, {640, 480, 1000.0 / 60, 60},
                        {640, 480, 1000.0 / 15, 30}, {1000, 600, 10.0, 100},
                        {8, 8, 1000.0 / 15, 30}, {8, 8, 0.001, kMovieMaxSlots}};
  int i = 0;
  for (const Case& c : cases) {
#if defined(__SANITIZE_THREAD__)
    // Filling a ring of a few hundred MB under the thread sanitizer's shadow
    // takes minutes; the sizing rules are the same for the small rings.
    if (UInt64(c.w) * c.h * c.slots > (UInt64(64) << 20)) continue;
#endif
    std::string name = "slots" + std::to_string(i++) + ".mov";
    OSErr err;
    auto* rec = create(name.c_str(), FOUR_CHAR_CODE("raw "), 8, c.w, c.h, &err, c.nominalMs);
    ASSERT_NE(rec, nullptr) << err;
    EXPECT_EQ(rec->mSlotCount, c.slots) << c.w << "x" << c.h << " " << c.nominalMs;
    if (c.slots > 2) {
      EXPECT_LE(UInt64(rec->mSlotCount) * (UInt64(rec->mFrameBytes) + UInt64(getpagesize())),
                kMovieRingBudgetBytes);
    }
    for (UInt32 s = 0; s < rec->mSlotCount; ++s) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(rec->mSlots[s]) % UInt32(getpagesize()), 0u);
      if (s > 0) {
        EXPECT_GE(rec->mSlots[s], rec->mSlots[s - 1] + rec->mFrameBytes);
      }
    }
    EXPECT_EQ(ORXDCAMCloseMovie(rec), noErr);
  }
}

TEST_F(MovieRecorder, FailedCreateLeavesNoFilesBehind) {
  // The reserve file is refused (the second create): the movie goes too.
  SkyloomFileFaults faults;
  faults.refuseCreateStatus = wrPermErr;
  faults.refuseCreateNumber = 2;
  SkyloomSetFileFaults(faults);
  OSErr err = 0;
  EXPECT_EQ(create("a.mov", FOUR_CHAR_CODE("raw "), 8, 8, 8, &err), nullptr);
  EXPECT_EQ(err, wrPermErr);
  // The movie itself refused.
  faults.refuseCreateNumber = 0;
  SkyloomSetFileFaults(faults);
  EXPECT_EQ(create("b.mov", FOUR_CHAR_CODE("raw "), 8, 8, 8, &err), nullptr);
  EXPECT_EQ(err, wrPermErr);
  // A reserve write fails.
  SkyloomClearFileFaults();
  faults = SkyloomFileFaults{};
  faults.failWriteNumber = 5;
  SkyloomSetFileFaults(faults);
  EXPECT_EQ(create("c.mov", FOUR_CHAR_CODE("raw "), 8, 8, 8, &err), nullptr);
  EXPECT_EQ(err, ioErr);
  EXPECT_EQ(strayFiles({}), std::vector<std::string>{});
}

// ---- Full volumes, full tables and write errors ----

TEST_F(MovieRecorder, VolumeFillingAfterKFramesEndsTheMovieAfterThem) {
  const UInt32 W = 64, H = 48, F = W * H, k = 5;
  SkyloomFileFaults faults;
  // Header area, reserve, k frames and half of the next.
  faults.volumeBytesLeft = 4096 + 5275648 + SInt64(k) * F + F / 2;
  SkyloomSetFileFaults(faults);
  OSErr err;
  auto* rec = create("full.mov", FOUR_CHAR_CODE("raw "), 8, W, H, &err, 0, 600);
  ASSERT_NE(rec, nullptr) << err;
  std::vector<UInt8> frame(F);
  OSErr last = noErr;
  UInt32 k2 = 0;
  for (UInt32 i = 0; i < 200 && last == noErr; ++i) {
    for (size_t j = 0; j < F; ++j) frame[j] = pattern(i, j);
    last = ORXDCAMAddMovieFrame(rec, frame.data(), 1000.0 + 40 * i);
    if (last == noErr) {
      MyMovieRecorderStats s;
      ASSERT_TRUE(eventually([&] { myMovieRecorderGetStats(rec, &s); return s.framesWritten + (s.status ? 1 : 0) >= i; }));
      k2 = i;
    }
  }
  EXPECT_EQ(last, dskFulErr);
  EXPECT_GE(k2, k);
  ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
  auto f = readFile(path("full.mov"));
  const size_t T = 4096 + size_t(k) * F;
  EXPECT_EQ(be32(f, 8), T - 8);
  ASSERT_GT(f.size(), T + 8);
  EXPECT_EQ(be32(f, T + 4), FOUR_CHAR_CODE("moov"));  // directly after the k-th frame
  EXPECT_EQ(be32(f, T), f.size() - T);
  for (size_t j = 0; j < F; ++j) ASSERT_EQ(f[4096 + (k - 1) * F + j], pattern(k, j));
  EXPECT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
  EXPECT_EQ(run("ffprobe -v error -show_entries stream=nb_frames -of default=nw=1 " + path("full.mov")),
            "nb_frames=" + std::to_string(k) + "\n");
  EXPECT_EQ(packets(path("full.mov")), expectedPackets(k, F));
  EXPECT_EQ(strayFiles({"full.mov"}), std::vector<std::string>{});
}

TEST_F(MovieRecorder, NoRoomForTenFramesEndsAtTheFirstFrame) {
  // 786,432-byte frames and a volume of ten of them: the reserve fits, the
  // time table has no room.
  const UInt32 W = 1024, H = 768, F = W * H;
  SkyloomFileFaults faults;
  faults.volumeBytesLeft = SInt64(10) * F;
  SkyloomSetFileFaults(faults);
  OSErr err;
  auto* rec = create("tiny.mov", FOUR_CHAR_CODE("raw "), 8, W, H, &err, 40.0);
  ASSERT_NE(rec, nullptr) << err;
  std::vector<UInt8> frame(F, 9);
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 1000.0), noErr);
  MyMovieRecorderStats s;
  ASSERT_TRUE(eventually([&] { myMovieRecorderGetStats(rec, &s); return s.status != noErr; }));
  EXPECT_EQ(s.status, dskFulErr);
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 1040.0), dskFulErr);
  ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
  auto f = readFile(path("tiny.mov"));
  ASSERT_EQ(f.size(), 4096u);  // the uncounted frame is cut off; no movie atom
  EXPECT_EQ(be32(f, 0), 8u);
  EXPECT_EQ(be32(f, 8), 4088u);
  EXPECT_EQ(be32(f, 12), FOUR_CHAR_CODE("mdat"));
}

TEST_F(MovieRecorder, FailedFreeSpaceQueryStillRecords) {
  SkyloomFileFaults faults;
  faults.failFreeBytesStatus = ioErr;
  SkyloomSetFileFaults(faults);
  OSErr err;
  auto* rec = create("nofree.mov", FOUR_CHAR_CODE("raw "), 8, 16, 4, &err, 40.0);
  ASSERT_NE(rec, nullptr) << err;
  std::vector<UInt8> frame(64, 1);
  for (UInt32 i = 0; i < 50; ++i) {
    ASSERT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 40.0 * (i + 1)), noErr);
    MyMovieRecorderStats s;
    ASSERT_TRUE(eventually([&] { myMovieRecorderGetStats(rec, &s); return s.framesWritten == i + 1; }));
  }
  ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
  auto f = readFile(path("nofree.mov"));
  EXPECT_EQ(be32(f, 8), 4096u + 50 * 64 - 8);
  EXPECT_EQ(be32(f, 4096 + 50 * 64 + 4), FOUR_CHAR_CODE("moov"));
}

TEST_F(MovieRecorder, WriteErrorEndsTheRecordingAndDeletesTheMovie) {
  OSErr err;
  auto* rec = create("err.mov", FOUR_CHAR_CODE("raw "), 8, 16, 4, &err, 40.0);
  ASSERT_NE(rec, nullptr);
  SkyloomFileFaults faults;
  faults.failWriteNumber = 3;  // the third frame
  faults.failWriteStatus = ioErr;
  SkyloomSetFileFaults(faults);
  std::vector<UInt8> frame(64, 1);
  MyMovieRecorderStats s;
  for (UInt32 i = 0; i < 3; ++i) {
    ASSERT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 40.0 * (i + 1)), noErr);
    ASSERT_TRUE(eventually([&] { myMovieRecorderGetStats(rec, &s); return s.framesWritten == i + 1 || s.status; }));
  }
  EXPECT_EQ(s.status, ioErr);
  EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 400.0), ioErr);
  EXPECT_EQ(ORXDCAMCloseMovie(rec), noErr);
  EXPECT_EQ(strayFiles({}), std::vector<std::string>{});
}

TEST_F(MovieRecorder, MovieAtomFailureIsReportedAndTheFileKept) {
  OSErr err;
  auto* rec = create("atom.mov", FOUR_CHAR_CODE("raw "), 8, 16, 4, &err, 40.0);
  ASSERT_NE(rec, nullptr);
  std::vector<UInt8> frame(64, 1);
  MyMovieRecorderStats s;
  for (UInt32 i = 0; i < 3; ++i) {
    ASSERT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 40.0 * (i + 1)), noErr);
    ASSERT_TRUE(eventually([&] { myMovieRecorderGetStats(rec, &s); return s.framesWritten == i + 1; }));
  }
  SkyloomFileFaults faults;
  faults.failWriteNumber = 1;  // the movie atom; the header write after it succeeds
  faults.failWriteStatus = ioErr;
  SkyloomSetFileFaults(faults);
  EXPECT_EQ(ORXDCAMCloseMovie(rec), ioErr);
  auto f = readFile(path("atom.mov"));
  ASSERT_EQ(f.size(), 4096u + 3 * 64);
  EXPECT_EQ(be32(f, 4), FOUR_CHAR_CODE("wide"));
  EXPECT_EQ(be32(f, 8), 4096u + 3 * 64 - 8);
}

TEST_F(MovieRecorder, HeaderFailureDeletesTheMovie) {
  OSErr err;
  auto* rec = create("hdr.mov", FOUR_CHAR_CODE("raw "), 8, 16, 4, &err, 40.0);
  ASSERT_NE(rec, nullptr);
  SkyloomFileFaults faults;
  faults.failWriteNumber = 1;  // no frames: no atom, the header is the first write
  faults.failWriteStatus = ioErr;
  SkyloomSetFileFaults(faults);
  EXPECT_EQ(ORXDCAMCloseMovie(rec), ioErr);
  EXPECT_EQ(strayFiles({}), std::vector<std::string>{});
}

// ---- The writer and the ring ----

TEST_F(MovieRecorder, CloseWaitsForAWriterBlockedPastItsPoll) {
  Gate gate;
  std::atomic<int> joined{0};
  MyMovieRecorderTestHooks hooks;
  hooks.pollIntervalUs = 100;
  hooks.pollCount = 3;
  hooks.beforeWrite = [&](UInt32 frame) { if (frame == 0) gate.wait(); };
  // Close has given up polling; only now does the write return.
  hooks.closeJoiningWriter = [&] { ++joined; gate.release(); };
  myMovieRecorderSetTestHooks(&hooks);
  OSErr err;
  auto* rec = create("slow.mov", FOUR_CHAR_CODE("raw "), 8, 16, 4, &err, 40.0);
  ASSERT_NE(rec, nullptr);
  std::vector<UInt8> frame(64, 5);
  ASSERT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 40.0), noErr);
  ASSERT_TRUE(eventually([&] { return gate.waiters.load() == 1; }));
  frame[0] = 6;
  ASSERT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 80.0), noErr);  // queued behind it
  EXPECT_EQ(ORXDCAMCloseMovie(rec), noErr);
  EXPECT_EQ(joined.load(), 1);
  // The write in progress completed, and the frame queued behind it was
  // written too: a stopped recording keeps every frame it accepted.
  auto f = readFile(path("slow.mov"));
  EXPECT_EQ(be32(f, 8), 4096u + 2 * 64 - 8);
  EXPECT_EQ(f[4096], 5);
  EXPECT_EQ(f[4096 + 64], 6);
  EXPECT_EQ(be32(f, 4096 + 2 * 64 + 4), FOUR_CHAR_CODE("moov"));
}

TEST_F(MovieRecorder, FullRingDropsFramesAndTheirTimeShowsInTheNextDuration) {
  Gate gate;
  MyMovieRecorderTestHooks hooks;
  hooks.beforeWrite = [&](UInt32 frame) { if (frame == 0) gate.wait(); };
  myMovieRecorderSetTestHooks(&hooks);
  OSErr err;
  auto* rec = create("ring.mov", FOUR_CHAR_CODE("raw "), 8, 16, 4, &err, 0, 1000);
  ASSERT_NE(rec, nullptr);
  std::vector<UInt8> frame(64);
  double t = 0;
  UInt32 n = 0;
  auto add = [&] {
    frame[0] = UInt8(n++);
    t += 10.0;
    return ORXDCAMAddMovieFrame(rec, frame.data(), t);
  };
  ASSERT_EQ(add(), noErr);  // time origin
  ASSERT_EQ(add(), noErr);  // slot 0, which the writer holds
  ASSERT_TRUE(eventually([&] { return gate.waiters.load() == 1; }));
  MyMovieRecorderStats s;
  myMovieRecorderGetStats(rec, &s);
  const UInt32 slots = s.slotCount;
  ASSERT_EQ(slots, 240u);  // one second at 240 frames/s
  for (UInt32 i = 0; i < slots - 2; ++i) ASSERT_EQ(add(), noErr);  // slots 1 .. 238
  for (UInt32 i = 0; i < 3; ++i) ASSERT_EQ(add(), noErr);  // no room: dropped, still 0
  myMovieRecorderGetStats(rec, &s);
  EXPECT_EQ(s.framesQueued, slots - 1);
  EXPECT_EQ(s.framesDropped, 3u);
  gate.release();
  ASSERT_TRUE(eventually([&] { myMovieRecorderGetStats(rec, &s); return s.framesWritten == slots - 1; }));
  ASSERT_EQ(add(), noErr);
  ASSERT_EQ(add(), noErr);
  ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
  // 239 frames 10 ms apart, three dropped (the last queued frame lasts 40 ms),
  // then two more 10 ms apart.
  auto f = readFile(path("ring.mov"));
  const UInt32 N = slots + 1;
  EXPECT_EQ(be32(f, 8), 4096u + N * 64 - 8);
  EXPECT_EQ(stts(f, 4096 + N * 64),
            (std::vector<std::pair<UInt32, UInt32>>{{slots - 2, 10}, {1, 40}, {2, 10}}));
  // The frames in the file are the queued ones, in order.
  for (UInt32 k = 0; k < N; ++k) EXPECT_EQ(f[4096 + k * 64], k < slots - 1 ? k + 1 : k + 4) << k;
}

TEST_F(MovieRecorder, ReentryIsRefusedPerRecorder) {
  Gate gate;
  std::atomic<int> inside{0};
  MyMovieRecorderTestHooks hooks;
  hooks.insideAddFrame = [&] { if (inside++ == 0) gate.wait(); };
  myMovieRecorderSetTestHooks(&hooks);
  OSErr err;
  auto* a = create("a.mov", FOUR_CHAR_CODE("raw "), 8, 16, 4, &err, 40.0);
  auto* b = create("b.mov", FOUR_CHAR_CODE("raw "), 8, 16, 4, &err, 40.0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  std::vector<UInt8> frame(64, 3);
  OSErr first = 1;
  std::thread producer([&] { first = ORXDCAMAddMovieFrame(a, frame.data(), 40.0); });
  ASSERT_TRUE(eventually([&] { return gate.waiters.load() == 1; }));
  EXPECT_EQ(ORXDCAMAddMovieFrame(a, frame.data(), 80.0), kMovieAddFrameBusyErr);
  EXPECT_EQ(ORXDCAMAddMovieFrame(b, frame.data(), 40.0), noErr);  // another camera's recorder
  gate.release();
  producer.join();
  EXPECT_EQ(first, noErr);
  EXPECT_EQ(ORXDCAMAddMovieFrame(a, frame.data(), 80.0), noErr);
  EXPECT_EQ(ORXDCAMCloseMovie(a), noErr);
  EXPECT_EQ(ORXDCAMCloseMovie(b), noErr);
  EXPECT_EQ(be32(readFile(path("a.mov")), 8), 4096u + 2 * 64 - 8);
  EXPECT_EQ(be32(readFile(path("b.mov")), 8), 4096u + 64 - 8);
}

// A producer at 1 kHz of camera time and a close from another thread that
// starts while a frame is being added.
TEST_F(MovieRecorder, ASlotHandedToASleepingWriterIsNotRefilled) {
  // Frames of 4 MB give five slots. The writer is handed slot 0 but has not
  // yet taken it when the producer laps the ring: the producer must stop
  // short of slot 0, not overwrite the frame the writer is about to write.
  Gate writerMayTake;
  std::atomic<int> takes{0};
  MyMovieRecorderTestHooks hooks;
  hooks.pollIntervalUs = 50;
  hooks.beforeTakingSlot = [&] {
    if (takes.fetch_add(1) == 0) writerMayTake.wait();
  };
  myMovieRecorderSetTestHooks(&hooks);
  const UInt32 W = 2048, H = 2048, F = W * H;
  OSErr err;
  auto* rec = create("lap.mov", FOUR_CHAR_CODE("raw "), 8, W, H, &err, 0, 600);
  ASSERT_NE(rec, nullptr);
  std::vector<UInt8> frame(F);
  for (UInt32 k = 0; k < 9; ++k) {  // frame 0 is the time origin
    std::fill(frame.begin(), frame.end(), UInt8(k));
    ASSERT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 100.0 * (k + 1)), noErr);
  }
  writerMayTake.release();
  ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
  myMovieRecorderSetTestHooks(nullptr);
  // Frames 1 to 4 fill slots 0 to 3; frames 5 to 8 find the ring full.
  std::ifstream in(path("lap.mov"), std::ios::binary);
  for (UInt32 k = 0; k < 4; ++k) {
    in.seekg(std::streamoff(4096 + UInt64(k) * F));
    char c = 0;
    in.get(c);
    EXPECT_EQ(UInt8(c), k + 1) << "frame " << k;
  }
}

TEST_F(MovieRecorder, ProducerAndCloseOnDifferentThreads) {
  std::atomic<bool> stop{false};
  std::atomic<bool> closeStarted{false};
  Gate inCall, closeWaiting;
  std::atomic<UInt32> added{0};
  MyMovieRecorderTestHooks hooks;
  hooks.pollIntervalUs = 50;
  hooks.insideAddFrame = [&] {
    if (added.load() == 1500 && !closeStarted.load()) {
      inCall.release();       // let the closer in ...
      closeWaiting.wait();    // ... and go on once it waits for this call
    }
  };
  hooks.closeWaitingForCalls = [&] { closeWaiting.release(); };
  myMovieRecorderSetTestHooks(&hooks);
  const UInt32 W = 64, H = 48, F = W * H;
  OSErr err;
  auto* rec = create("race.mov", FOUR_CHAR_CODE("raw "), 8, W, H, &err, 0, 600);
  ASSERT_NE(rec, nullptr);
  std::thread producer([&] {
    std::vector<UInt8> frame(F);
    for (UInt32 i = 0; !stop.load(); ++i) {
      frame[0] = UInt8(i);
      OSErr e = ORXDCAMAddMovieFrame(rec, frame.data(), 1.0 * (i + 1));
      EXPECT_EQ(e, noErr);
      added.store(i + 1);
    }
  });
  std::thread closer([&] {
    inCall.wait();
    stop.store(true);  // the producer ends after the call in progress
    closeStarted.store(true);
    EXPECT_EQ(ORXDCAMCloseMovie(rec), noErr);
  });
  closer.join();
  producer.join();
  auto f = readFile(path("race.mov"));
  ASSERT_GE(f.size(), 4096u);
  const UInt32 T = be32(f, 8) + 8;
  ASSERT_EQ((T - 4096) % F, 0u);
  const UInt32 N = (T - 4096) / F;
  EXPECT_GT(N, 0u);
  EXPECT_LE(N, 1500u);
  size_t stsz = findAtom(f, "stsz", T);
  ASSERT_NE(stsz, std::string::npos);
  EXPECT_EQ(be32(f, stsz + 16), N);
  EXPECT_EQ(be32(f, T), f.size() - T);
}

}  // namespace
