#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"
#include "tests/support/TestTIFF.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <tiffio.h>

#include "camera_driver/DCAMCameraStruct.h"
#include "media/BayerDemosaic.h"
#include "media/FITSWriter.h"
#include "media/MediaMemory.h"
#include "media/RawFrameConversion.h"
#include "media/SingleFrameSave.h"
#include "platform/coreservices/Files.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/GraphicsExport.h"

namespace {

UInt32 code(const char* s) {
  return (UInt32(UInt8(s[0])) << 24) | (UInt32(UInt8(s[1])) << 16) | (UInt32(UInt8(s[2])) << 8) | UInt8(s[3]);
}

// A camera whose current mode delivers frames of the given code.
MyDCAMCameraStruct* cameraWithCode(const char* c) {
  static MyDCAMCameraStruct camera{};
  camera.mPixelFormat = code(c);
  return &camera;
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::vector<UInt8> randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<UInt8> v(n);
  for (auto& b : v) b = UInt8(rng());
  return v;
}

class SingleFrameSave : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  std::vector<GraphicsExportRecord> seen;
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-grab-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::filesystem::create_directory(dir / "config");
    SkyloomSetConfigurationDirectory((dir / "config").c_str());
    SkyloomSetFITSClock([] { return time_t(1172984767); });
    SkyloomSetGraphicsExportRecorder([this](const GraphicsExportRecord& r) {
      seen.push_back(r);
      return OSErr(noErr);
    });
  }
  void TearDown() override {
    SkyloomSetGraphicsExportRecorder(nullptr);
    SkyloomSetFITSClock(nullptr);
    SkyloomFailMediaAllocation(0);
    SkyloomFailGWorldCreation(0);
    SkyloomSetConfigurationDirectory(nullptr);
    std::filesystem::remove_all(dir);
    EXPECT_EQ(SkyloomLiveComponentCount(), 0);
    EXPECT_EQ(SkyloomLiveGWorldCount(), 0);
  }
  FSSpec locationFor(const std::string& name) {
    FSRef folder;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.c_str()), &folder, nullptr), noErr);
    FSCatalogInfo info{};
    EXPECT_EQ(FSGetCatalogInfo(&folder, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr),
              noErr);
    Str255 pname;
    pname[0] = UInt8(name.size());
    std::memcpy(pname + 1, name.data(), name.size());
    FSSpec location{};
    const OSErr err = FSMakeFSSpec(info.volume, SInt32(info.nodeID), pname, &location);
    EXPECT_TRUE(err == noErr || err == fnfErr);
    return location;
  }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir / name); }
};

// FITS primary header value of a keyword (columns 11-30), and the data.
std::string fitsValue(const std::string& file, const char* key) {
  for (size_t i = 0; i + 80 <= 2880 && i + 80 <= file.size(); i += 80) {
    const std::string card = file.substr(i, 80);
    if (card.compare(0, 8, (std::string(key) + "        ").substr(0, 8)) == 0) {
      std::string v = card.substr(10, 20);
      return v.substr(v.find_first_not_of(' '));
    }
  }
  return "";
}

std::string readFile(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<UInt16> readTIFF16(const std::string& p, UInt32* w, UInt32* h, UInt16* spp) {
  return skyloom::test::ReadTIFF16(p, w, h, spp);
}

}  // namespace

// Every road, through the recording exporter: what reaches the exporter
// (subtype, depth, quality, picture format and size) for each save kind,
// code and depth.
TEST_F(SingleFrameSave, RoutingTable) {
  struct Case {
    const char* kind;
    const char* cameraCode;  // the camera's current code
    const char* codeArg;     // "ARGB": use the camera's
    UInt32 bits;
    OSStatus status;
    OSType picture;  // 0: nothing exported
    SInt32 depth;
    UInt32 quality;
  };
  const Case cases[] = {
      // A 16-bit grey camera frame keeps 16 bits in TIFF and PNG; 8-bit-only
      // formats take the 32-bit picture.
      {"TIFF", "raw ", "ARGB", 16, 0, k16GrayPixelFormat, 40, 1024},
      {"PNGf", "raw ", "ARGB", 16, 0, k16GrayPixelFormat, 40, 1024},
      {"JPEG", "raw ", "ARGB", 16, 0, k32ARGBPixelFormat, 32, 512},
      {"TIFF", "raw ", "ARGB", 48, 0, k48RGBPixelFormat, 24, 1024},
      {"BMPf", "raw ", "ARGB", 48, 0, k32ARGBPixelFormat, 32, 1024},
      {"PNGf", "raw ", "ARGB", 8, 0, k32ARGBPixelFormat, 40, 512},
      {"TIFF", "raw ", "ARGB", 12, 0, k32ARGBPixelFormat, 24, 1024},
      {"TIFF", "raw ", "ARGB", 24, 0, k32ARGBPixelFormat, 24, 1024},
      {"PICT", "Y411", "ARGB", 12, 0, k32ARGBPixelFormat, 32, 1024},
      {"8BPS", "2vuy", "ARGB", 16, 0, k32ARGBPixelFormat, 32, 1024},
      {"TIFF", "2vuy", "ARGB", 16, 0, k32ARGBPixelFormat, 24, 1024},
      // Codes given by the caller: wide above 8 bits.
      {"PNGf", "raw ", "mmRG", 8, 0, k32ARGBPixelFormat, 40, 512},
      {"PNGf", "raw ", "mmRG", 12, 0, k16GrayPixelFormat, 40, 1024},
      {"TIFF", "raw ", "mHBG", 16, 0, k16GrayPixelFormat, 40, 1024},
      {"TIFF", "raw ", "bhGR", 12, 0, k48RGBPixelFormat, 24, 1024},
      {"PNGf", "raw ", "bmRG", 16, 0, k48RGBPixelFormat, 24, 1024},
      {"TIFF", "raw ", "blGB", 16, 0, k48RGBPixelFormat, 24, 1024},
      {"TIFF", "raw ", "bmRG", 8, 0, k32ARGBPixelFormat, 24, 1024},
      {"JPEG", "raw ", "bhRG", 16, 0, k32ARGBPixelFormat, 32, 512},
      {"8BPS", "raw ", "bmRG", 12, 0, k32ARGBPixelFormat, 32, 1024},
      // Refused: an explicit 'raw ' or YUV code above 8 bits on the 16-bit
      // road, codes the converter does not know, other save kinds.
      {"TIFF", "raw ", "raw ", 16, -50, 0, 0, 0},
      {"PNGf", "raw ", "2vuy", 16, -50, 0, 0, 0},
      {"TIFF", "raw ", "bHRG", 12, -50, 0, 0, 0},
      {"JPEG", "raw ", "b48r", 48, -50, 0, 0, 0},
      {"TIFF", "b16g", "ARGB", 16, -50, 0, 0, 0},
      {"GIFf", "raw ", "ARGB", 8, -50, 0, 0, 0},
      {"tiff", "raw ", "ARGB", 16, -50, 0, 0, 0},
  };
  const UInt32 w = 8, h = 6;
  const std::vector<UInt8> frame = randomBytes(w * h * 6, 1);
  int i = 0;
  for (const Case& c : cases) {
    seen.clear();
    const std::string name = "f" + std::to_string(i++);
    const OSStatus st = ORXDCAMSaveRAWFrametoDisk(cameraWithCode(c.cameraCode), frame.data(), w, h, c.bits,
                                                  locationFor(name), code(c.kind), code(c.codeArg));
    const std::string what = std::string(c.kind) + " " + c.cameraCode + " " + c.codeArg + " " + std::to_string(c.bits);
    EXPECT_EQ(st, c.status) << what;
    if (c.picture == 0) {
      EXPECT_TRUE(seen.empty()) << what;
      EXPECT_FALSE(exists(name)) << what << " created a file";
      continue;
    }
    ASSERT_EQ(seen.size(), 1u) << what;
    const GraphicsExportRecord& r = seen[0];
    EXPECT_EQ(r.subtype, code(c.kind)) << what;
    EXPECT_EQ(r.pixelFormat, c.picture) << what;
    EXPECT_EQ(r.depth, c.depth) << what;
    EXPECT_EQ(r.quality, c.quality) << what;
    EXPECT_EQ(r.compressionMethod, 0) << what;
    EXPECT_EQ(r.width, SInt32(w)) << what;
    EXPECT_EQ(r.height, SInt32(h)) << what;
    EXPECT_EQ(r.path, path(name)) << what;
    EXPECT_TRUE(exists(name)) << what;
  }
}

TEST_F(SingleFrameSave, NullCameraAndNullFrame) {
  const UInt8 frame[4] = {};
  EXPECT_EQ(ORXDCAMSaveRAWFrametoDisk(nullptr, frame, 2, 2, 8, locationFor("a"), code("TIFF"), code("ARGB")),
            OSStatus(0xE00002C0));
  EXPECT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), nullptr, 2, 2, 8, locationFor("a"), code("TIFF"),
                                      code("ARGB")),
            -50);
  EXPECT_TRUE(seen.empty());
}

// Bytes AB CD EF hold the samples 0xABD and 0xEFC: a 12-bit 'bhGR' grab to
// TIFF is the high-quality GRBG demosaic of 0xABD0, 0xEFC0, ... at 16 bits.
TEST_F(SingleFrameSave, TwelveBitBayerGrabKeepsSixteenBits) {
  const UInt32 w = 8, h = 6;
  std::vector<UInt8> frame;
  std::vector<UInt16> wide;
  for (UInt32 i = 0; i < w * h / 2; ++i) {
    frame.insert(frame.end(), {0xAB, 0xCD, 0xEF});
    wide.insert(wide.end(), {0xABD0, 0xEFC0});
  }
  ASSERT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), frame.data(), w, h, 12, locationFor("g.tif"),
                                      code("TIFF"), code("bhGR")),
            0);
  std::vector<UInt16> want(w * h * 3);
  BayerGRBG16_HQ_RGB48(wide.data(), want.data(), w * 6, w, h, 1);
  UInt32 tw = 0, th = 0;
  UInt16 spp = 0;
  EXPECT_EQ(readTIFF16(path("g.tif"), &tw, &th, &spp), want);
  EXPECT_EQ(tw, w);
  EXPECT_EQ(th, h);
  EXPECT_EQ(spp, 3);
  ASSERT_TRUE(skyloom::test::ToolInstalled("tiffinfo"));
  const std::string info = run("tiffinfo " + path("g.tif"));
  EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
  EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
  EXPECT_NE(info.find("Photometric Interpretation: RGB color"), std::string::npos) << info;
}

// A 16-bit grey camera frame in TIFF reads back sample for sample.
TEST_F(SingleFrameSave, SixteenBitGreyFrameReadsBackExactly) {
  const UInt32 w = 7, h = 5;
  std::vector<UInt16> frame(w * h);
  std::mt19937 rng(2);
  for (auto& s : frame) s = UInt16(rng());
  frame[0] = 0;
  frame[1] = 0xFFFF;
  ASSERT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), frame.data(), w, h, 16, locationFor("m.tif"),
                                      code("TIFF"), code("ARGB")),
            0);
  UInt32 tw = 0, th = 0;
  UInt16 spp = 0;
  EXPECT_EQ(readTIFF16(path("m.tif"), &tw, &th, &spp), frame);
  EXPECT_EQ(spp, 1);
}

TEST_F(SingleFrameSave, FITSKeepsSixteenBitGreyAndWritesLumaOfColour) {
  const UInt32 w = 6, h = 4;
  std::vector<UInt16> grey(w * h);
  for (UInt32 i = 0; i < w * h; ++i) grey[i] = UInt16(i * 2731);
  ASSERT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), grey.data(), w, h, 16, locationFor("g.fits"),
                                      code("FITS"), code("ARGB")),
            0);
  std::string f = readFile(path("g.fits"));
  ASSERT_EQ(f.size(), 5760u);
  EXPECT_EQ(fitsValue(f, "BITPIX"), "16");
  for (UInt32 i = 0; i < w * h; ++i) {
    const UInt16 stored = UInt16((UInt8(f[2880 + 2 * i]) << 8) | UInt8(f[2880 + 2 * i + 1]));
    EXPECT_EQ(UInt16(stored ^ 0x8000), grey[i]) << i;  // s - 32768, big-endian
  }

  // An 8-bit colour mosaic: luma (306 R + 601 G + 117 B) >> 10 of the preview.
  const std::vector<UInt8> mosaic = randomBytes(w * h, 3);
  ASSERT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), mosaic.data(), w, h, 8, locationFor("c.fits"),
                                      code("FITS"), code("bmRG")),
            0);
  std::vector<UInt8> argb(w * h * 4);
  BayerRGGB8_MQ_ARGB32(mosaic.data(), argb.data(), w * 4, w, h, 1);
  f = readFile(path("c.fits"));
  EXPECT_EQ(fitsValue(f, "BITPIX"), "8");
  for (UInt32 i = 0; i < w * h; ++i) {
    const UInt32 luma = (306u * argb[i * 4 + 1] + 601u * argb[i * 4 + 2] + 117u * argb[i * 4 + 3]) >> 10;
    EXPECT_EQ(UInt8(f[2880 + i]), luma) << i;
  }
  EXPECT_TRUE(seen.empty()) << "FITS goes to its own writer, not an exporter";

  // The writer's own refusal comes back: the file exists already.
  EXPECT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), grey.data(), w, h, 16, locationFor("g.fits"),
                                      code("FITS"), code("ARGB")),
            dupFNErr);
}

// Every temporary buffer and picture of a save can fail: -108 comes back and
// nothing is left behind (pictures and exporters counted here, memory by
// LeakSanitizer).
TEST_F(SingleFrameSave, AllocationFailuresReleaseEverything) {
  const UInt32 w = 8, h = 6;
  const std::vector<UInt8> frame = randomBytes(w * h * 2, 4);
  struct Case {
    const char* kind;
    const char* codeArg;
    UInt32 bits;
    UInt32 mediaAllocations;  // temporaries from myMediaAlloc
  };
  // 12-bit Bayer to TIFF: unpack buffer, demosaic buffer. 16-bit Bayer to
  // PNG: demosaic buffer. FITS of colour: the preview's 12-bit unpack buffer
  // (a fresh thread has none), then the luma buffer.
  const Case cases[] = {{"TIFF", "bhGR", 12, 2}, {"PNGf", "bmRG", 16, 1}, {"FITS", "bmRG", 12, 2}};
  for (const Case& c : cases) {
    for (UInt32 nth = 1; nth <= c.mediaAllocations; ++nth) {
      OSStatus st = 0;
      std::thread([&] {
        SkyloomFailMediaAllocation(nth);
        st = ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), frame.data(), w, h, c.bits,
                                       locationFor(std::string("a") + std::to_string(nth) + c.kind), code(c.kind),
                                       code(c.codeArg));
      }).join();
      EXPECT_EQ(st, -108) << c.kind << " " << c.codeArg << " allocation " << nth;
      EXPECT_EQ(SkyloomLiveGWorldCount(), 0);
      EXPECT_EQ(SkyloomLiveComponentCount(), 0);
    }
  }
  SkyloomFailMediaAllocation(0);
  // The 32-bit picture itself.
  for (const char* kind : {"JPEG", "FITS", "TIFF"}) {
    SkyloomFailGWorldCreation(1);
    EXPECT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), frame.data(), w, h, 8, locationFor(std::string("p.") + kind),
                                        code(kind), code("bmRG")),
              -108)
        << kind;
    EXPECT_EQ(SkyloomLiveGWorldCount(), 0);
  }
  SkyloomFailGWorldCreation(0);
}

// A failing export comes back unchanged, with the exporter closed and the
// picture disposed.
TEST_F(SingleFrameSave, ExportFailurePassesThrough) {
  SkyloomSetGraphicsExportRecorder([](const GraphicsExportRecord&) { return OSErr(ioErr); });
  const std::vector<UInt8> frame = randomBytes(8 * 6 * 2, 5);
  for (const char* kind : {"JPEG", "TIFF"})
    EXPECT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), frame.data(), 8, 6, 16, locationFor(kind), code(kind),
                                        code("ARGB")),
              ioErr)
        << kind;
  EXPECT_EQ(myBayerBufferTo16bppFile(code("bhGR"), reinterpret_cast<const UInt16*>(frame.data()), 8, 6,
                                     locationFor("b.tif"), code("TIFF")),
            ioErr);
}

// A 10-bit frame is smaller than two bytes a sample: the 16-bit road refuses
// it rather than read past its end.
TEST_F(SingleFrameSave, NarrowFramesAreNotReadAsSixteenBits) {
  const UInt32 w = 8, h = 6;
  const std::vector<UInt8> frame = randomBytes(w * h * 10 / 8, 6);
  EXPECT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), frame.data(), w, h, 10, locationFor("n.tif"),
                                      code("TIFF"), code("bmRG")),
            -50);
  EXPECT_FALSE(exists("n.tif"));
}

TEST_F(SingleFrameSave, BayerBufferKernelTable) {
  const UInt32 w = 6, h = 4;
  std::vector<UInt16> mosaic(w * h);
  std::mt19937 rng(7);
  for (auto& s : mosaic) s = UInt16(rng());
  struct Case {
    const char* code;
    BayerDemosaicKernel kernel;
    UInt8 flag;
    bool colour;
  };
  const Case cases[] = {
      {"blRG", BayerRGGB16_LQ_RGB48, 1, true},  {"blBG", BayerRGGB16_LQ_RGB48, 0, true},
      {"blGR", BayerGRBG16_LQ_RGB48, 1, true},  {"blGB", BayerGRBG16_LQ_RGB48, 0, true},
      {"bmRG", BayerRGGB16_MQ_RGB48, 1, true},  {"bmGB", BayerGRBG16_MQ_RGB48, 0, true},
      {"bhBG", BayerRGGB16_HQ_RGB48, 0, true},  {"bhGR", BayerGRBG16_HQ_RGB48, 1, true},
      {"mlRG", BayerRGGB16_MONO16, 1, false},   {"mmGB", BayerRGGB16_MONO16, 0, false},
      {"mHRG", BayerRGGB16_MONO16, 1, false},   {"mlGR", BayerGRBG16_MONO16, 1, false},
      {"mmBG", BayerGRBG16_MONO16, 0, false},   {"mHGR", BayerGRBG16_MONO16, 1, false},
  };
  int i = 0;
  for (const Case& c : cases) {
    const std::string name = "k" + std::to_string(i++) + ".tif";
    ASSERT_EQ(myBayerBufferTo16bppFile(code(c.code), mosaic.data(), w, h, locationFor(name), code("TIFF")), 0) << c.code;
    std::vector<UInt16> want(w * h * (c.colour ? 3 : 1));
    c.kernel(mosaic.data(), want.data(), w * (c.colour ? 6 : 2), w, h, c.flag);
    UInt32 tw, th;
    UInt16 spp;
    EXPECT_EQ(readTIFF16(path(name), &tw, &th, &spp), want) << c.code;
  }
  for (const char* bad : {"bHRG", "mhRG", "bmRR", "raw ", "b48r", "ARGB"}) {
    EXPECT_EQ(myBayerBufferTo16bppFile(code(bad), mosaic.data(), w, h, locationFor("bad.tif"), code("TIFF")), -50) << bad;
    EXPECT_FALSE(exists("bad.tif")) << bad;
  }
}

// What the standard tools make of every format a grab writes.
TEST_F(SingleFrameSave, StandardToolsReadEveryFormat) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("identify"));
  ASSERT_TRUE(skyloom::test::ToolInstalled("pngcheck"));
  const UInt32 w = 37, h = 11;
  const std::vector<UInt8> frame = randomBytes(w * h * 6, 8);
  struct Case {
    const char* kind;
    UInt32 bits;
    const char* name;
    const char* expected;  // identify: format, width, height, depth
  };
  const Case cases[] = {
      {"TIFF", 8, "g8.tif", "TIFF 37 11 8"},    {"TIFF", 16, "g16.tif", "TIFF 37 11 16"},
      {"TIFF", 48, "c48.tif", "TIFF 37 11 16"}, {"TIFF", 24, "c24.tif", "TIFF 37 11 8"},
      {"PNGf", 8, "g8.png", "PNG 37 11 8"},     {"PNGf", 16, "g16.png", "PNG 37 11 16"},
      {"PNGf", 48, "c48.png", "PNG 37 11 16"},  {"JPEG", 16, "a.jpg", "JPEG 37 11 8"},
      {"BMPf", 24, "a.bmp", "BMP3 37 11 8"},    {"8BPS", 48, "a.psd", "PSD 37 11 8"},
      {"PICT", 8, "a.pict", "PICT 37 11 8"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(ORXDCAMSaveRAWFrametoDisk(cameraWithCode("raw "), frame.data(), w, h, c.bits, locationFor(c.name),
                                        code(c.kind), code("ARGB")),
              0)
        << c.name;
    std::string fmt = std::string(c.expected).substr(0, std::string(c.expected).find(' '));
    if (fmt == "BMP3") fmt = "BMP";
    EXPECT_EQ(run(std::string("identify -format '%m %w %h %[bit-depth]' ") + fmt + ":" + path(c.name)), c.expected)
        << c.name;
  }
  const std::string out = run("pngcheck -v " + path("g8.png") + " " + path("g16.png") + " " + path("c48.png"));
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
  EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
}
