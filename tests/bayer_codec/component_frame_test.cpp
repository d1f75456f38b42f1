// The ORX_BAYER component as a program meets it: found in its bundle,
// loaded by the Component Manager, and driven through its selector table.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bayer_codec/BayerCodec.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCodec.h"

namespace fs = std::filesystem;

namespace {

constexpr OSType kBGGR = FOUR_CHAR_CODE("BGGR");
const std::string kBundle = SKYLOOM_ORX_BAYER_BUNDLE;
const std::string kLibrary = kBundle + "/ORX_BAYER.so";

// The module's own routine, as a QuickTime client could look it up.
void* moduleSymbol(const char* name) {
  void* h = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return nullptr;
  void* s = dlsym(h, name);
  dlclose(h);
  return s;
}

// ---- a base image decompressor that records what reaches it ----

constexpr ComponentResult kSpyAnswer = 0x5157;
struct SpyBase {
  std::vector<SInt16> selectors;
  std::vector<SInt16> canDoAsked;
  ComponentResult openResult = noErr;
  ComponentInstance target = nullptr;
  ImageCodecMPDrawBandUPP drawProc = nullptr;
  void* drawProcRefCon = nullptr;
};
SpyBase gSpy;

ComponentResult spyWork(void* refCon, ImageSubCodecDecompressRecord* drp) {
  auto* spy = static_cast<SpyBase*>(refCon);
  return spy->drawProc(spy->drawProcRefCon, drp);
}

ComponentResult spyDispatch(ComponentParameters* p, Handle) {
  gSpy.selectors.push_back(p->what);
  switch (p->what) {
    case kComponentOpenSelect:
      return gSpy.openResult;
    case kComponentCloseSelect:
      return noErr;
    case kComponentCanDoSelect:
      gSpy.canDoAsked.push_back(SInt16(p->params[0]));
      return SInt16(p->params[0]) == 5 ? 1 : 0;
    case kComponentTargetSelect:
      gSpy.target = reinterpret_cast<ComponentInstance>(p->params[0]);
      return noErr;
    case kImageCodecGetBaseMPWorkFunctionSelect:
      *reinterpret_cast<ComponentMPWorkFunctionUPP*>(p->params[0]) = spyWork;
      *reinterpret_cast<void**>(p->params[1]) = &gSpy;
      gSpy.drawProc = reinterpret_cast<ImageCodecMPDrawBandUPP>(p->params[2]);
      gSpy.drawProcRefCon = reinterpret_cast<void*>(p->params[3]);
      return noErr;
    default:
      return kSpyAnswer;
  }
}

class BayerComponent : public ::testing::Test {
 protected:
  long components0 = 0;
  long handles0 = 0;
  Component spy = nullptr;
  std::vector<std::string> tempDirs;

  void SetUp() override {
    SkyloomSetComponentBundlePlaces({});
    ComponentDescription codec{decompressorComponentType, kBGGR, 0, 0, 0};
    ASSERT_EQ(CountComponents(&codec), 1) << "the ORX_BAYER bundle is not found from the build tree";
    components0 = SkyloomLiveComponentCount();
    handles0 = SkyloomLiveHandleCount();
  }
  void TearDown() override {
    SkyloomSetGestaltResponder(nullptr);
    SkyloomFailAllocationAfter(-1);
    if (spy) {
      EXPECT_EQ(UnregisterComponent(spy), noErr);
    }
    EXPECT_EQ(SkyloomLiveComponentCount(), components0);
    EXPECT_EQ(SkyloomLiveHandleCount(), handles0);
    SkyloomSetComponentBundlePlaces({});
    for (const auto& d : tempDirs) fs::remove_all(d);
  }
  void registerSpyBase() {
    gSpy = {};
    ComponentDescription cd{decompressorComponentType, kBaseCodecType, FOUR_CHAR_CODE("test"), 0, 0};
    spy = RegisterComponent(&cd, spyDispatch, 0, nullptr, nullptr, nullptr);
    ASSERT_NE(spy, nullptr);
  }
  ComponentInstance openCodec() {
    ComponentInstance ci = nullptr;
    EXPECT_EQ(OpenADefaultComponent(decompressorComponentType, kBGGR, &ci), noErr);
    return ci;
  }
  BayerCodecGlobals* globalsOf(ComponentInstance ci) {
    return reinterpret_cast<BayerCodecGlobals*>(GetComponentInstanceStorage(ci));
  }
  std::string tempDir() {
    char tmpl[] = "/tmp/skyloom-bundles-XXXXXX";
    EXPECT_NE(mkdtemp(tmpl), nullptr);
    tempDirs.push_back(tmpl);
    return tmpl;
  }
  // A copy of the built bundle at dir/name.
  std::string copyBundle(const std::string& dir, const std::string& name = "ORX_BAYER.component") {
    fs::create_directories(dir);
    fs::copy(kBundle, dir + "/" + name, fs::copy_options::recursive);
    return dir + "/" + name;
  }
};

ComponentResult callSelector(ComponentInstance ci, SInt16 what) {
  ComponentParameters p{};
  p.what = what;
  return SkyloomCallComponent(ci, &p);
}

TEST_F(BayerComponent, OpensFromItsBundleWithVersionAndState) {
  ComponentInstance ci = openCodec();
  ASSERT_NE(ci, nullptr);
  EXPECT_EQ(CallComponentVersion(ci), 0x20002);
  BayerCodecGlobals* g = globalsOf(ci);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->self, ci);
  EXPECT_EQ(g->target, ci);
  EXPECT_NE(g->delegate, nullptr);
  EXPECT_EQ(g->drawBandProc, nullptr);
  EXPECT_EQ(g->methodOverride, 99u);
  ASSERT_NE(g->wantedPixelFormats, nullptr);
  EXPECT_EQ(GetHandleSize(g->wantedPixelFormats), 16);
  EXPECT_EQ(CloseComponent(ci), noErr);
}

TEST_F(BayerComponent, CodecInfoIsTheBundlesCdciResource) {
  ComponentInstance ci = openCodec();
  ASSERT_NE(ci, nullptr);
  CodecInfo info;
  std::memset(&info, 0xEE, sizeof info);
  ASSERT_EQ(ImageCodecGetCodecInfo(ci, &info), noErr);
  // The record as the bundle's resource states it, field by field.
  EXPECT_EQ(info.typeName[0], 9);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.typeName + 1), 9), "ORX_BAYER");
  for (int i = 10; i < 32; ++i) EXPECT_EQ(info.typeName[i], 0) << i;
  EXPECT_EQ(info.version, 2);
  EXPECT_EQ(info.revisionLevel, 2);
  EXPECT_EQ(info.vendor, SInt32(FOUR_CHAR_CODE("ORX ")));
  EXPECT_EQ(info.decompressFlags, 0x20);
  EXPECT_EQ(info.compressFlags, 0x20);
  EXPECT_EQ(info.formatFlags, 0x18);
  EXPECT_EQ(info.compressionAccuracy, 128);
  EXPECT_EQ(info.decompressionAccuracy, 128);
  EXPECT_EQ(info.compressionSpeed, 5);
  EXPECT_EQ(info.decompressionSpeed, 10);
  EXPECT_EQ(info.compressionLevel, 0);
  EXPECT_EQ(info.resvd, 0);
  EXPECT_EQ(info.minimumHeight, 2);
  EXPECT_EQ(info.minimumWidth, 2);
  EXPECT_EQ(info.decompressPipelineLatency, 0);
  EXPECT_EQ(info.compressPipelineLatency, 0);
  EXPECT_EQ(info.privateData, 0);
  EXPECT_EQ(ImageCodecGetCodecInfo(ci, nullptr), paramErr);
  EXPECT_EQ(CloseComponent(ci), noErr);
}

TEST_F(BayerComponent, CodecInfoWithoutItsResourceGivesResNotFound) {
  std::string place = tempDir();
  std::string bundle = copyBundle(place);
  fs::remove(bundle + "/cdci_256.rsrc");
  SkyloomSetComponentBundlePlaces({place});
  ComponentInstance ci = openCodec();
  ASSERT_NE(ci, nullptr);
  CodecInfo info{};
  EXPECT_EQ(ImageCodecGetCodecInfo(ci, &info), resNotFound);
  EXPECT_EQ(CloseComponent(ci), noErr);
}

TEST_F(BayerComponent, SelectorTableAgainstASpyBase) {
  registerSpyBase();
  ComponentInstance ci = openCodec();
  ASSERT_NE(ci, nullptr);
  BayerCodecGlobals* g = globalsOf(ci);
  // Open made the spy its delegate and pointed it back at the codec.
  EXPECT_EQ(gSpy.selectors, (std::vector<SInt16>{kComponentOpenSelect, kComponentTargetSelect}));
  EXPECT_EQ(gSpy.target, ci);
  gSpy.selectors.clear();

  EXPECT_EQ(CallComponentCanDo(ci, kImageCodecDrawBandSelect), 1);
  for (SInt16 s : {1, 2, 3, 4, 8}) EXPECT_EQ(CallComponentCanDo(ci, s), 1) << s;
  EXPECT_TRUE(gSpy.canDoAsked.empty());
  EXPECT_EQ(CallComponentCanDo(ci, kComponentRegisterSelect), 0);  // the spy's answer
  EXPECT_EQ(CallComponentCanDo(ci, 5), 1);                         // the spy's answer
  EXPECT_EQ(gSpy.canDoAsked, (std::vector<SInt16>{kComponentRegisterSelect, 5}));
  gSpy.selectors.clear();

  EXPECT_EQ(ImageCodecEndBand(ci, nullptr, noErr, 0), noErr);
  EXPECT_EQ(ImageCodecQueueStarting(ci), noErr);
  EXPECT_EQ(ImageCodecQueueStopping(ci), noErr);
  EXPECT_EQ(callSelector(ci, kComponentRegisterSelect), badComponentSelector);
  EXPECT_EQ(callSelector(ci, kComponentUnregisterSelect), badComponentSelector);
  EXPECT_TRUE(gSpy.selectors.empty());

  const std::vector<SInt16> delegated = {0x207, 9, 0x100, 0x300, -9, 5, 7, 0x208, 0x31, 0x209, 0x20A};
  for (SInt16 s : delegated) EXPECT_EQ(callSelector(ci, s), kSpyAnswer) << s;
  EXPECT_EQ(gSpy.selectors, delegated);

  ComponentInstance other = reinterpret_cast<ComponentInstance>(0x7000);
  EXPECT_EQ(ComponentSetTarget(ci, other), noErr);
  EXPECT_EQ(g->target, other);
  EXPECT_EQ(gSpy.target, ci);  // the codec's own target changes, not the spy's

  EXPECT_EQ(CloseComponent(ci), noErr);
  EXPECT_EQ(gSpy.selectors.back(), kComponentCloseSelect);
}

TEST_F(BayerComponent, CanDoWithoutADelegateIsZero) {
  auto canDo = reinterpret_cast<ComponentResult (*)(BayerCodecGlobals*, SInt16)>(moduleSymbol("Bayer_ImageCodecCanDo"));
  ASSERT_NE(canDo, nullptr);
  BayerCodecGlobals g{};
  EXPECT_EQ(canDo(&g, kImageCodecDrawBandSelect), 1);
  EXPECT_EQ(canDo(&g, kComponentRegisterSelect), 0);
  EXPECT_EQ(canDo(&g, 5), 0);
}

TEST_F(BayerComponent, WorkFunctionRunsTheSameDrawBandWithTheStorage) {
  registerSpyBase();
  ComponentInstance ci = openCodec();
  ASSERT_NE(ci, nullptr);
  BayerCodecGlobals* g = globalsOf(ci);
  void* drawBand = moduleSymbol("Bayer_ImageCodecDrawBand");
  ASSERT_NE(drawBand, nullptr);

  ComponentMPWorkFunctionUPP work = nullptr;
  void* refCon = nullptr;
  ASSERT_EQ(ComponentGetMPWorkFunction(ci, &work, &refCon), noErr);
  EXPECT_EQ(reinterpret_cast<void*>(gSpy.drawProc), drawBand);
  EXPECT_EQ(gSpy.drawProcRefCon, g);
  EXPECT_EQ(reinterpret_cast<void*>(g->drawBandProc), drawBand);
  gSpy.drawProc = nullptr;
  ASSERT_EQ(ComponentGetMPWorkFunction(ci, &work, &refCon), noErr);
  EXPECT_EQ(reinterpret_cast<void*>(gSpy.drawProc), drawBand);
  EXPECT_EQ(work, spyWork);
  // DrawBand itself: a frame BeginBand has not set up draws nothing.
  BayerDecompressRecord rec{};
  ImageSubCodecDecompressRecord drp{};
  drp.userDecompressRecord = &rec;
  EXPECT_EQ(work(refCon, &drp), noErr);
  EXPECT_EQ(work(refCon, nullptr), paramErr);
  EXPECT_EQ(CloseComponent(ci), noErr);

  // Through the built-in base, DrawBand runs from the base's work function.
  ASSERT_EQ(UnregisterComponent(spy), noErr);
  spy = nullptr;
  ci = openCodec();
  ASSERT_NE(ci, nullptr);
  ASSERT_EQ(ComponentGetMPWorkFunction(ci, &work, &refCon), noErr);
  ASSERT_NE(work, nullptr);
  EXPECT_EQ(work(refCon, &drp), noErr);
  EXPECT_EQ(CloseComponent(ci), noErr);
}

TEST_F(BayerComponent, OpenFailingAtEachStepLeavesNothingBehind) {
  // The record (the first allocation), the wanted-formats handle (the second).
  for (long successes : {0L, 1L}) {
    SkyloomFailAllocationAfter(successes);
    ComponentInstance ci = reinterpret_cast<ComponentInstance>(1);
    EXPECT_EQ(OpenADefaultComponent(decompressorComponentType, kBGGR, &ci), memFullErr) << successes;
    EXPECT_EQ(ci, nullptr);
    SkyloomFailAllocationAfter(-1);
    EXPECT_EQ(SkyloomLiveComponentCount(), components0);
    EXPECT_EQ(SkyloomLiveHandleCount(), handles0);
  }
  // The base decompressor refusing to open.
  registerSpyBase();
  gSpy.openResult = -4242;
  ComponentInstance ci = nullptr;
  EXPECT_EQ(OpenADefaultComponent(decompressorComponentType, kBGGR, &ci), -4242);
  EXPECT_EQ(ci, nullptr);
  EXPECT_EQ(SkyloomLiveComponentCount(), components0);
  EXPECT_EQ(SkyloomLiveHandleCount(), handles0);

  auto close = reinterpret_cast<ComponentResult (*)(BayerCodecGlobals*, ComponentInstance)>(
      moduleSymbol("Bayer_ImageCodecClose"));
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close(nullptr, nullptr), noErr);
}

TEST_F(BayerComponent, SpeedFactorFromTheProcessorClock) {
  struct Case {
    OSErr err;
    UInt32 hertz;
    double factor;
  };
  const Case cases[] = {
      {noErr, 900000000u, 0.5},
      {noErr, 3000000000u, 0.15},  // negative as a signed answer
      {noErr, 450000000u, 1.0},
      {noErr, 4294967295u, 450.0 / 4294.967295},
      {gestaltUndefSelectorErr, 900000000u, 1.0},
      {noErr, 999999u, 1.0},
      {noErr, 0u, 1.0},
      {noErr, 1000000u, 450.0},
  };
  for (const Case& c : cases) {
    SkyloomSetGestaltResponder([c](OSType selector, SInt32* response) -> OSErr {
      if (selector != FOUR_CHAR_CODE("pclk")) return kGestaltFallThrough;
      *response = SInt32(c.hertz);
      return c.err;
    });
    ComponentInstance ci = openCodec();
    ASSERT_NE(ci, nullptr);
    EXPECT_DOUBLE_EQ(globalsOf(ci)->speedFactor, c.factor) << c.hertz << " " << c.err;
    EXPECT_EQ(CloseComponent(ci), noErr);
  }
}

TEST_F(BayerComponent, FoundUnderAnInstallPrefix) {
  std::string prefix = tempDir();
  copyBundle(prefix + "/lib/skyloom/components");
  std::vector<std::string> places = SkyloomComponentBundlePlaces(prefix + "/bin/skyloom");
  EXPECT_EQ(places.back(), prefix + "/lib/skyloom/components");
  SkyloomSetComponentBundlePlaces(places);
  ComponentDescription codec{decompressorComponentType, kBGGR, FOUR_CHAR_CODE("ORX "), 0, 0};
  EXPECT_EQ(CountComponents(&codec), 1);
  ComponentInstance ci = openCodec();
  ASSERT_NE(ci, nullptr);
  CodecInfo info{};
  EXPECT_EQ(ImageCodecGetCodecInfo(ci, &info), noErr);
  EXPECT_EQ(info.vendor, SInt32(FOUR_CHAR_CODE("ORX ")));
  EXPECT_EQ(CloseComponent(ci), noErr);
}

TEST_F(BayerComponent, BrokenBundlesAreSkippedWhole) {
  std::string place = tempDir();
  copyBundle(place, "A.component");
  auto rewriteManifest = [&](const std::string& name, const std::string& from, const std::string& to) {
    std::string bundle = copyBundle(place, name);
    std::string path = bundle + "/Component.manifest";
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string text(4096, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, from.size(), to);
    f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  };
  rewriteManifest("B.component", "entry: Bayer_ImageCodecComponentDispatch\n", "");
  rewriteManifest("C.component", "entry: Bayer_ImageCodecComponentDispatch", "entry: Bayer_NoSuchEntry");
  rewriteManifest("D.component", "library: ORX_BAYER.so", "library: missing.so");
  rewriteManifest("E.component", "type: 'imdc'", "type: imdc");
  fs::remove(copyBundle(place, "F.component") + "/Component.manifest");
  SkyloomSetComponentBundlePlaces({place});
  ComponentDescription codec{decompressorComponentType, kBGGR, 0, 0, 0};
  EXPECT_EQ(CountComponents(&codec), 1);
  ComponentInstance ci = openCodec();
  EXPECT_NE(ci, nullptr);
  EXPECT_EQ(CloseComponent(ci), noErr);
}

TEST(BayerModule, ExportsOnlyItsRoutines) {
  const std::set<std::string> allowed = {
      "Bayer_ImageCodecComponentDispatch", "Bayer_ImageCodecOpen", "Bayer_ImageCodecClose",
      "Bayer_ImageCodecCanDo", "Bayer_ImageCodecVersion", "Bayer_ImageCodecTarget",
      "Bayer_ImageCodecGetMPWorkFunction", "Bayer_ImageCodecGetCodecInfo",
      "Bayer_ImageCodecGetCompressionTime", "Bayer_ImageCodecGetMaxCompressionSize",
      "Bayer_ImageCodecPreCompress", "Bayer_ImageCodecBandCompress", "Bayer_ImageCodecGetCompressedImageSize",
      "Bayer_ImageCodecPreflight", "Bayer_ImageCodecInitialize", "Bayer_ImageCodecBeginBand",
      "Bayer_ImageCodecDrawBand", "Bayer_ImageCodecEndBand", "Bayer_ImageCodecQueueStarting",
      "Bayer_ImageCodecQueueStopping", "QTQualitytoBayerMethod", "kNumPixelFormatsSupported",
      "myPackRowToBayer", "Bayer_DecodetoPixMap"};
  const std::set<std::string> present = {
      "Bayer_ImageCodecComponentDispatch", "Bayer_ImageCodecOpen", "Bayer_ImageCodecClose",
      "Bayer_ImageCodecCanDo", "Bayer_ImageCodecVersion", "Bayer_ImageCodecTarget",
      "Bayer_ImageCodecGetMPWorkFunction", "Bayer_ImageCodecGetCodecInfo", "Bayer_ImageCodecPreflight",
      "Bayer_ImageCodecInitialize", "Bayer_ImageCodecBeginBand", "Bayer_ImageCodecDrawBand",
      "Bayer_ImageCodecEndBand", "Bayer_ImageCodecQueueStarting", "Bayer_ImageCodecQueueStopping",
      "QTQualitytoBayerMethod", "kNumPixelFormatsSupported", "Bayer_DecodetoPixMap",
      "Bayer_ImageCodecGetCompressionTime", "Bayer_ImageCodecGetMaxCompressionSize", "Bayer_ImageCodecPreCompress",
      "Bayer_ImageCodecBandCompress", "Bayer_ImageCodecGetCompressedImageSize", "myPackRowToBayer"};
  FILE* nm = popen(("nm -D --defined-only " + kLibrary + " 2>&1").c_str(), "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> exported;
  char line[1024];
  std::string all;
  while (std::fgets(line, sizeof line, nm)) {
    all += line;
    char addr[64], type[8], name[512];
    if (std::sscanf(line, "%63s %7s %511s", addr, type, name) == 3) exported.insert(name);
  }
  ASSERT_EQ(pclose(nm), 0) << "nm failed (is binutils installed?)\n" << all;
  for (const auto& name : exported) EXPECT_TRUE(allowed.count(name)) << "exported: " << name;
  for (const auto& name : present) EXPECT_TRUE(exported.count(name)) << "missing: " << name;
}

}  // namespace
