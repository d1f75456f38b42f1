#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/mach/Mach.h"
#include "utilities/LowLevel.h"

TEST(MyMemCpy, CopiesEverySizeAtEveryMisalignmentWithoutTouchingGuards) {
  const UInt32 sizes[] = {0, 1, 7, 8, 63, 64, 65, 4096};
  for (UInt32 n : sizes) {
    for (int so = 0; so < 8; ++so) {
      for (int doff = 0; doff < 8; ++doff) {
        std::vector<unsigned char> src(n + 16), dst(n + 32, 0xEE);
        for (size_t i = 0; i < src.size(); ++i) src[i] = (unsigned char)(i * 31 + 7);
        myMemCpy(dst.data() + doff, src.data() + so, n);
        for (int i = 0; i < doff; ++i) ASSERT_EQ(dst[i], 0xEE) << n;
        ASSERT_EQ(0, std::memcmp(dst.data() + doff, src.data() + so, n)) << n << " " << so << " " << doff;
        for (size_t i = doff + n; i < dst.size(); ++i) ASSERT_EQ(dst[i], 0xEE) << n;
      }
    }
  }
}

TEST(IntegerHelpers, ClampAndAbsoluteTable) {
  struct Case { SInt32 in, trunc, abs; };
  const Case cases[] = {
      {-1, 0, 1},           {0, 0, 0},          {65535, 65535, 65535},
      {65536, 65535, 65536}, {INT_MIN, 0, INT_MIN}, {INT_MAX, 65535, INT_MAX},
      {-65536, 0, 65536},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(myTruncateU16(c.in), c.trunc) << c.in;
    EXPECT_EQ(myAbsU32(c.in), c.abs) << c.in;
  }
}

TEST(IntegerHelpers, AlignmentTest) {
  alignas(16) unsigned char buf[32] = {};
  EXPECT_EQ(myIsBuffer16ByteAligned(buf), 1);
  EXPECT_EQ(myIsBuffer16ByteAligned(buf + 8), 0);
  EXPECT_EQ(myIsBuffer16ByteAligned(buf + 1), 0);
  EXPECT_EQ(myIsBuffer16ByteAligned(buf + 16), 1);
}

TEST(Prefetch, ControlWordsInUse) {
  EXPECT_EQ(mySkyloomPrefetch(1, 2, 64), 0x01020040u);
  EXPECT_EQ(mySkyloomPrefetch(1, 1, 32), 0x01010020u);
  EXPECT_EQ(mySkyloomPrefetch(1, 2, 48), 0x01020030u);
  EXPECT_EQ(mySkyloomPrefetch(1, 3, 64), 0x01030040u);
  EXPECT_EQ(mySkyloomPrefetch(1, 4, 96), 0x01040060u);
  // A negative stride keeps its low 16 bits.
  EXPECT_EQ(mySkyloomPrefetch(1, 1, UInt32(-32)), 0x0101FFE0u);
}

class SIMDCheck : public ::testing::Test {
 protected:
  void TearDown() override {
    SkyloomSetGestaltResponder(nullptr);
    SkyloomSetHostInfoResponder(nullptr);
  }
  static void scriptHost(int type, int subtype, kern_return_t kr = KERN_SUCCESS) {
    SkyloomSetHostInfoResponder([=](host_flavor_t flavor, host_info_t info, mach_msg_type_number_t* count) {
      EXPECT_EQ(flavor, HOST_BASIC_INFO);
      EXPECT_EQ(*count, 12u);
      host_basic_info b{};
      b.cpu_type = type;
      b.cpu_subtype = subtype;
      std::memcpy(info, &b, sizeof b);
      return kr;
    });
  }
  static void scriptFeatures(OSErr err, SInt32 features) {
    SkyloomSetGestaltResponder([=](OSType sel, SInt32* r) -> OSErr {
      if (sel != FOUR_CHAR_CODE("ppcf")) return kGestaltFallThrough;
      if (err == noErr) *r = features;
      return err;
    });
  }
};

TEST_F(SIMDCheck, GestaltErrorReturnsItsStatusWithFlagsClear) {
  scriptFeatures(gestaltUndefSelectorErr, 0);
  UInt8 v = 9, g = 9;
  EXPECT_EQ(mySkyloomCheckForSIMD(&v, &g), gestaltUndefSelectorErr);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(g, 0);
}

TEST_F(SIMDCheck, NoVectorBitSkipsHostInfo) {
  scriptFeatures(noErr, 0x0F);
  long before = SkyloomHostInfoCallCount();
  UInt8 v = 9, g = 9;
  EXPECT_EQ(mySkyloomCheckForSIMD(&v, &g), noErr);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(g, 0);
  EXPECT_EQ(SkyloomHostInfoCallCount(), before);
}

TEST_F(SIMDCheck, VectorBitAndProcessorDecideTheFlags) {
  struct Case { int type, subtype; kern_return_t kr; UInt8 g5; };
  const Case cases[] = {{18, 100, KERN_SUCCESS, 1}, {18, 9, KERN_SUCCESS, 0}, {7, 100, KERN_SUCCESS, 0},
                        {18, 100, KERN_FAILURE, 1}};
  for (const Case& c : cases) {
    scriptFeatures(noErr, 0x10);
    scriptHost(c.type, c.subtype, c.kr);
    UInt8 v = 0, g = 0;
    EXPECT_EQ(mySkyloomCheckForSIMD(&v, &g), c.kr);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(g, c.g5) << c.type << "/" << c.subtype;
  }
}

TEST_F(SIMDCheck, ThisHostHasNoVectorUnit) {
  UInt8 v = 9, g = 9;
  long before = SkyloomHostInfoCallCount();
  EXPECT_EQ(mySkyloomCheckForSIMD(&v, &g), noErr);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(g, 0);
  EXPECT_EQ(SkyloomHostInfoCallCount(), before);
}
