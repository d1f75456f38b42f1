// The Component Manager side: bundle manifests and places, registered
// components, the parameter layouts, and the built-in base image decompressor.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCodec.h"

namespace {

constexpr OSType kSpyType = FOUR_CHAR_CODE("spyt");

class Components : public ::testing::Test {
 protected:
  long components0 = 0;
  long handles0 = 0;
  void SetUp() override {
    // No bundles here: the registry holds only what the tests register.
    SkyloomSetComponentBundlePlaces({"/nonexistent/skyloom-components"});
    components0 = SkyloomLiveComponentCount();
    handles0 = SkyloomLiveHandleCount();
  }
  void TearDown() override {
    EXPECT_EQ(SkyloomLiveComponentCount(), components0);
    EXPECT_EQ(SkyloomLiveHandleCount(), handles0);
    SkyloomSetComponentBundlePlaces({});
  }
};

TEST(ComponentManifest, ReadsEveryField) {
  SkyloomComponentManifest m;
  ASSERT_TRUE(SkyloomParseComponentManifest("# a codec\n"
                                            "type: 'imdc'\r\n"
                                            "  subtype:'BGGR'\n"
                                            "manufacturer: 'ORX '\n"
                                            "\n"
                                            "entry: Dispatch_Entry\n"
                                            "library:  lib.so \n"
                                            "resource: 'cdci' 256 cdci.rsrc\n"
                                            "resource: 'STR ' -16000 s.rsrc",
                                            &m));
  EXPECT_EQ(m.type, FOUR_CHAR_CODE("imdc"));
  EXPECT_EQ(m.subType, FOUR_CHAR_CODE("BGGR"));
  EXPECT_EQ(m.manufacturer, FOUR_CHAR_CODE("ORX "));
  EXPECT_EQ(m.entry, "Dispatch_Entry");
  EXPECT_EQ(m.library, "lib.so");
  ASSERT_EQ(m.resources.size(), 2u);
  EXPECT_EQ(m.resources[0].type, FOUR_CHAR_CODE("cdci"));
  EXPECT_EQ(m.resources[0].id, 256);
  EXPECT_EQ(m.resources[0].file, "cdci.rsrc");
  EXPECT_EQ(m.resources[1].type, FOUR_CHAR_CODE("STR "));
  EXPECT_EQ(m.resources[1].id, -16000);
}

TEST(ComponentManifest, RefusesIncompleteOrMalformedText) {
  const std::string good =
      "type: 'imdc'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\n";
  SkyloomComponentManifest m;
  ASSERT_TRUE(SkyloomParseComponentManifest(good, &m));
  const char* broken[] = {
      "type: 'imdc'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nlibrary: l.so\n",              // no entry
      "type: 'imdc'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\n",                   // no library
      "type: imdc\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\n",      // unquoted code
      "type: 'imd'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\n",     // short code
      "type: 'imdc' x\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\n",  // trailing text
      "type: 'imdc'\ntype: 'imco'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\n",
      "type: 'imdc'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: ../l.so\n",  // leaves the bundle
      "type: 'imdc'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\ncolour: red\n",
      "type: 'imdc'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\njunk line\n",
      "type: 'imdc'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\nresource: 'cdci' 40000 c\n",
      "type: 'imdc'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\nresource: 'cdci' 1\n",
      ("type: 'imdc'\nsubtype: 'BGGR'\nmanufacturer: 'ORX '\nentry: E\nlibrary: l.so\n"
       "resource: 'cdci' 1 a\nresource: 'cdci' 1 b\n"),  // the same resource twice
  };
  for (const char* text : broken) EXPECT_FALSE(SkyloomParseComponentManifest(text, &m)) << text;
}

TEST(ComponentResourceText, ReadsHexBytesBetweenCommentsAndBlanks) {
  std::vector<UInt8> bytes;
  ASSERT_TRUE(SkyloomParseResourceText("# header\n09 4f\t52  # tail 00\n\nFF\r\n", &bytes));
  EXPECT_EQ(bytes, (std::vector<UInt8>{0x09, 0x4F, 0x52, 0xFF}));
  EXPECT_FALSE(SkyloomParseResourceText("09 4", &bytes));
  EXPECT_FALSE(SkyloomParseResourceText("0g", &bytes));
  EXPECT_FALSE(SkyloomParseResourceText("0 9", &bytes));
}

TEST(ComponentBundlePlaces, BuildTreeFolderAboveTheProgramThenThePrefix) {
  char tmpl[] = "/tmp/skyloom-places-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string root = tmpl;
  ASSERT_EQ(system(("mkdir -p " + root + "/build/components " + root + "/build/tests/sub").c_str()), 0);
  std::vector<std::string> places = SkyloomComponentBundlePlaces(root + "/build/tests/sub/test_x");
  EXPECT_EQ(places, (std::vector<std::string>{root + "/build/components", root + "/build/tests/lib/skyloom/components"}));
  // An installed program: nothing called "components" above it.
  places = SkyloomComponentBundlePlaces(root + "/prefix/bin/skyloom");
  EXPECT_EQ(places, (std::vector<std::string>{root + "/prefix/lib/skyloom/components"}));
  ASSERT_EQ(system(("rm -rf " + root).c_str()), 0);
}

// ---- a registered component that records what reaches it ----

struct SpyLog {
  std::vector<SInt16> selectors;
  ComponentResult openResult = noErr;
  int closes = 0;
  Handle closedStorage = nullptr;
};
SpyLog gSpy;

ComponentResult spyDispatch(ComponentParameters* p, Handle storage) {
  gSpy.selectors.push_back(p->what);
  switch (p->what) {
    case kComponentOpenSelect: {
      auto self = reinterpret_cast<ComponentInstance>(p->params[0]);
      Handle h = NewHandle(4);
      SetComponentInstanceStorage(self, h);
      return gSpy.openResult;
    }
    case kComponentCloseSelect:
      ++gSpy.closes;
      gSpy.closedStorage = storage;
      if (storage) DisposeHandle(storage);
      return noErr;
    default:
      return 0x5157;
  }
}

TEST_F(Components, RegisteredComponentOpensCallsAndCloses) {
  gSpy = {};
  ComponentDescription cd{kSpyType, FOUR_CHAR_CODE("one "), FOUR_CHAR_CODE("test"), 0, 0};
  Component spy = RegisterComponent(&cd, spyDispatch, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(spy, nullptr);
  ComponentDescription any{kSpyType, 0, 0, 0, 0};
  EXPECT_EQ(CountComponents(&any), 1);

  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(kSpyType, FOUR_CHAR_CODE("one "), &ci), noErr);
  ASSERT_NE(ci, nullptr);
  Handle storage = GetComponentInstanceStorage(ci);
  EXPECT_NE(storage, nullptr);
  EXPECT_EQ(CallComponentVersion(ci), 0x5157);
  ComponentParameters p{};
  p.what = 0x0123;
  EXPECT_EQ(DelegateComponentCall(&p, ci), 0x5157);
  EXPECT_EQ(gSpy.selectors, (std::vector<SInt16>{kComponentOpenSelect, kComponentVersionSelect, 0x0123}));
  EXPECT_EQ(UnregisterComponent(spy), -2019);  // still open

  EXPECT_EQ(CloseComponent(ci), noErr);
  EXPECT_EQ(gSpy.closes, 1);
  EXPECT_EQ(gSpy.closedStorage, storage);
  EXPECT_EQ(UnregisterComponent(spy), noErr);
  EXPECT_EQ(CountComponents(&any), 0);
  EXPECT_EQ(OpenADefaultComponent(kSpyType, FOUR_CHAR_CODE("one "), &ci), invalidComponentID);
  EXPECT_EQ(ci, nullptr);
}

TEST_F(Components, FailedOpenIsClosedAtOnce) {
  gSpy = {};
  gSpy.openResult = -4242;
  ComponentDescription cd{kSpyType, FOUR_CHAR_CODE("fail"), 0, 0, 0};
  Component spy = RegisterComponent(&cd, spyDispatch, 0, nullptr, nullptr, nullptr);
  ComponentInstance ci = nullptr;
  EXPECT_EQ(OpenADefaultComponent(kSpyType, FOUR_CHAR_CODE("fail"), &ci), -4242);
  EXPECT_EQ(ci, nullptr);
  EXPECT_EQ(gSpy.closes, 1);
  EXPECT_NE(gSpy.closedStorage, nullptr);  // the half-built storage reached Close
  EXPECT_EQ(UnregisterComponent(spy), noErr);
}

TEST_F(Components, LatestRegistrationIsFound) {
  gSpy = {};
  ComponentDescription cd{decompressorComponentType, kBaseCodecType, 0, 0, 0};
  Component spy = RegisterComponent(&cd, spyDispatch, 0, nullptr, nullptr, nullptr);
  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kBaseCodecType, &ci), noErr);
  EXPECT_EQ(CallComponentVersion(ci), 0x5157);  // the spy, not the built-in base
  CloseComponent(ci);
  ASSERT_EQ(UnregisterComponent(spy), noErr);
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kBaseCodecType, &ci), noErr);
  EXPECT_EQ(CallComponentVersion(ci), 0x00010001);
  CloseComponent(ci);
}

// ---- parameter layouts ----

struct Seen {
  Handle storage;
  long a[6];
};
Seen gSeen;
ComponentResult takeStorage(Handle s) { return gSeen = {s, {}}, 1; }
ComponentResult takePtr(Handle s, void* a) { return gSeen = {s, {long(reinterpret_cast<intptr_t>(a))}}, 2; }
ComponentResult takeShort(Handle s, SInt16 a) { return gSeen = {s, {a}}, 3; }
ComponentResult takePtrPtrLong(Handle s, void* a, void* b, SInt32 c) {
  return gSeen = {s, {long(reinterpret_cast<intptr_t>(a)), long(reinterpret_cast<intptr_t>(b)), c}}, 5;
}
ComponentResult takePtrShortLong(Handle s, void* a, OSErr b, SInt32 c) {
  return gSeen = {s, {long(reinterpret_cast<intptr_t>(a)), b, c}}, 6;
}
ComponentResult takeMaxSize(Handle s, void* a, void* b, SInt16 c, UInt32 d, void* e) {
  return gSeen = {s, {long(reinterpret_cast<intptr_t>(a)), long(reinterpret_cast<intptr_t>(b)), c, long(d),
                      long(reinterpret_cast<intptr_t>(e))}},
         7;
}

TEST(ComponentProcInfo, UnpacksArgumentsInOrderAndNarrowsThem) {
  Handle storage = reinterpret_cast<Handle>(0x1000);
  struct Case {
    ProcPtr f;
    ProcInfoType info;
    int slots;
    std::vector<long> expected;
  };
  const Case cases[] = {
      {reinterpret_cast<ProcPtr>(takeStorage), kSkyloomProcInfoStorage, 0, {}},
      {reinterpret_cast<ProcPtr>(takePtr), kSkyloomProcInfoStoragePtr, 1, {0x2000}},
      // A selector travels widened; the routine sees its low 16 bits, signed.
      {reinterpret_cast<ProcPtr>(takeShort), kSkyloomProcInfoStorageShort, 1, {-5}},
      {reinterpret_cast<ProcPtr>(takePtrPtrLong), kSkyloomProcInfoStoragePtrPtrLong, 3, {0x2000, 0x3000, -7}},
      {reinterpret_cast<ProcPtr>(takePtrShortLong), kSkyloomProcInfoStoragePtrShortLong, 3, {0x2000, -50, 9}},
      {reinterpret_cast<ProcPtr>(takeMaxSize), kSkyloomProcInfoStoragePtrPtrShortLongPtr, 5,
       {0x2000, 0x3000, 32, 0x400, 0x4000}},
  };
  for (const Case& c : cases) {
    ComponentParameters p{};
    p.paramSize = UInt8(c.slots * sizeof(long));
    for (size_t i = 0; i < c.expected.size(); ++i) p.params[i] = c.expected[i];
    if (c.info == kSkyloomProcInfoStorageShort) p.params[0] = 0x1FFFB;  // -5 in the low 16 bits
    gSeen = {};
    EXPECT_EQ(CallComponentFunctionWithStorageProcInfo(storage, &p, c.f, c.info), ComponentResult(c.info));
    EXPECT_EQ(gSeen.storage, storage);
    for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(gSeen.a[i], c.expected[i]) << c.info << " " << i;
    if (c.slots > 0) {  // too few parameters never reach the routine
      p.paramSize = UInt8((c.slots - 1) * sizeof(long));
      EXPECT_EQ(CallComponentFunctionWithStorageProcInfo(storage, &p, c.f, c.info), paramErr);
    }
  }
  ComponentParameters p{};
  EXPECT_EQ(CallComponentFunctionWithStorageProcInfo(storage, &p, reinterpret_cast<ProcPtr>(takeStorage), 99),
            paramErr);
}

// ---- the built-in base image decompressor ----

std::atomic<int> gDrawCalls{0};
std::atomic<void*> gDrawRefCon{nullptr};
std::atomic<ImageSubCodecDecompressRecord*> gDrawRecord{nullptr};
ComponentResult recordDraw(void* refcon, ImageSubCodecDecompressRecord* drp) {
  ++gDrawCalls;
  gDrawRefCon = refcon;
  gDrawRecord = drp;
  return -77;
}

TEST_F(Components, BaseDecompressorTakesItsSelectorsAndRunsDrawBandOnAnyThread) {
  ComponentInstance base = nullptr;
  ASSERT_EQ(OpenADefaultComponent(decompressorComponentType, kBaseCodecType, &base), noErr);
  ComponentInstance codec = reinterpret_cast<ComponentInstance>(0x4000);
  EXPECT_EQ(ComponentSetTarget(base, codec), noErr);
  EXPECT_EQ(CallComponentCanDo(base, kComponentTargetSelect), 1);
  EXPECT_EQ(CallComponentCanDo(base, kImageCodecGetBaseMPWorkFunctionSelect), 1);
  EXPECT_EQ(CallComponentCanDo(base, kImageCodecDroppingFrameSelect), 0);
  for (SInt16 selector : {SInt16(-9), SInt16(-5), SInt16(9), SInt16(0x100), SInt16(0x207), SInt16(0x300)}) {
    ComponentParameters p{};
    p.what = selector;
    EXPECT_EQ(SkyloomCallComponent(base, &p), badComponentSelector) << selector;
  }

  ComponentMPWorkFunctionUPP work = nullptr;
  void* refCon = nullptr;
  int storage = 0;
  EXPECT_EQ(ImageCodecGetBaseMPWorkFunction(base, &work, &refCon, nullptr, &storage), paramErr);
  ASSERT_EQ(ImageCodecGetBaseMPWorkFunction(base, &work, &refCon, recordDraw, &storage), noErr);
  ASSERT_NE(work, nullptr);
  auto* drp = reinterpret_cast<ImageSubCodecDecompressRecord*>(0x5000);
  gDrawCalls = 0;
  ComponentResult result = 0;
  std::thread worker([&] { result = work(refCon, drp); });
  worker.join();
  EXPECT_EQ(result, -77);
  EXPECT_EQ(gDrawCalls.load(), 1);
  EXPECT_EQ(gDrawRefCon.load(), &storage);
  EXPECT_EQ(gDrawRecord.load(), drp);
  EXPECT_EQ(CloseComponent(base), noErr);
}

TEST_F(Components, ResourcesOfComponentsWithoutBundles) {
  gSpy = {};
  ComponentDescription cd{kSpyType, FOUR_CHAR_CODE("res "), 0, 0, 0};
  Component spy = RegisterComponent(&cd, spyDispatch, 0, nullptr, nullptr, nullptr);
  Handle h = reinterpret_cast<Handle>(1);
  EXPECT_EQ(GetComponentResource(spy, codecInfoResourceType, 256, &h), resNotFound);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(GetComponentResource(reinterpret_cast<Component>(0x10), codecInfoResourceType, 256, &h),
            badComponentInstance);
  EXPECT_EQ(GetComponentResource(spy, codecInfoResourceType, 256, nullptr), paramErr);
  EXPECT_EQ(UnregisterComponent(spy), noErr);
}

}  // namespace
