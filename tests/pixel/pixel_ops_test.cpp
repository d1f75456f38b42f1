#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "pixel/PixelOps.h"

namespace {

std::vector<UInt8> noise8(size_t n, UInt32 seed) {
  std::vector<UInt8> v(n);
  for (auto& p : v) {
    seed = seed * 1103515245u + 12345u;
    p = UInt8(seed >> 23);
  }
  return v;
}

std::vector<UInt16> noise16(size_t n, UInt32 seed) {
  std::vector<UInt16> v(n);
  for (auto& p : v) {
    seed = seed * 1103515245u + 12345u;
    p = UInt16(seed >> 15);
  }
  return v;
}

TEST(PixelSum, WholeWordsOnly) {
  const UInt8 ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 100, 100};
  EXPECT_EQ(myCalculatePixelSum8Bit(ten, 10, 1), 36u);
  EXPECT_EQ(myCalculatePixelSum8Bit(ten, 5, 2), 36u);
  EXPECT_EQ(myCalculatePixelSum8Bit(ten, 3, 1), 0u);
  std::vector<UInt8> full(4096, 255);
  EXPECT_EQ(myCalculatePixelSum8Bit(full.data(), 64, 64), 4096u * 255u);
}

TEST(LookupTables, EveryElementOfTheCountAndNoMore) {
  UInt8 lut8[256];
  for (int i = 0; i < 256; ++i) lut8[i] = UInt8(i ^ 0x5A);
  std::vector<UInt16> lut16(65536);
  for (UInt32 i = 0; i < 65536; ++i) lut16[i] = UInt16(65535 - i);
  for (UInt32 count = 0; count <= 37; ++count) {
    std::vector<UInt8> b8 = noise8(count + 1, count);
    const std::vector<UInt8> in8 = b8;
    myApply8BitLUT(b8.data(), lut8, count);
    for (UInt32 i = 0; i < count; ++i) ASSERT_EQ(b8[i], in8[i] ^ 0x5A) << count;
    EXPECT_EQ(b8[count], in8[count]) << count;

    std::vector<UInt16> b16 = noise16(count + 1, count);
    const std::vector<UInt16> in16 = b16;
    myApply16BitLUT(b16.data(), lut16.data(), count);
    for (UInt32 i = 0; i < count; ++i) ASSERT_EQ(b16[i], 65535 - in16[i]) << count;
    EXPECT_EQ(b16[count], in16[count]) << count;
  }
}

struct GammaFixture : ::testing::Test {
  MyCameraWindowDataStruct record{};
  std::vector<UInt8> tableA = std::vector<UInt8>(256, 0xAA);
  std::vector<UInt8> tableB = std::vector<UInt8>(256, 0xBB);
  std::vector<UInt8> tableC = std::vector<UInt8>(256, 0xCC);
  void SetUp() override {
    record.mGammaLUT = tableA.data();
    record.mGammaLUTSpare[0] = tableB.data();
    record.mGammaLUTSpare[1] = tableC.data();
    record.mGammaLUTTaken = nullptr;
    record.mGammaOn = 1;
    record.mGamma = 1.5;
  }
};

TEST_F(GammaFixture, WorkedValuesOfTheTables) {
  ASSERT_EQ(myCalculateGamma8Bit(&record, 2.0), 0);
  const UInt8* t = static_cast<const UInt8*>(record.mGammaLUT);
  EXPECT_EQ(t[0], 0);    // 255 x (1/255)^2 + 0.5 = 0.504
  EXPECT_EQ(t[127], 64); // 255 x (128/255)^2 + 0.5 = 64.75
  EXPECT_EQ(t[255], 255);

  std::vector<UInt16> a(65536, 1), b(65536, 2), c(65536, 3);
  MyCameraWindowDataStruct r16{};
  r16.mGammaLUT = a.data();
  r16.mGammaLUTSpare[0] = b.data();
  r16.mGammaLUTSpare[1] = c.data();
  ASSERT_EQ(myCalculateGamma16Bit(&r16, 2.0), 0);
  const UInt16* t16 = static_cast<const UInt16*>(r16.mGammaLUT);
  EXPECT_EQ(t16[0], 0);
  EXPECT_EQ(t16[32767], 16384);  // 32768^2 / 65535 + 0.5 = 16384.75
  EXPECT_EQ(t16[65535], 65535);
  EXPECT_EQ(r16.mGammaOn, 1);
}

TEST_F(GammaFixture, StateChanges) {
  struct Case {
    double gamma;
    OSStatus result;
    UInt8 flag;
    double stored;
    bool tableBuilt;
  };
  const Case cases[] = {
      {1.0, 0, 0, 1.0, false},    {0.0, 0, 0, 0.0, false},       {-1.0, 0, 0, -1.0, false},
      {5.11, 0, 1, 5.11, true},   {5.12, -50, 1, 1.5, false},    {NAN, -50, 1, 1.5, false},
  };
  for (const Case& c : cases) {
    SetUp();
    std::fill(tableA.begin(), tableA.end(), 0xAA);
    std::fill(tableB.begin(), tableB.end(), 0xBB);
    std::fill(tableC.begin(), tableC.end(), 0xCC);
    EXPECT_EQ(myCalculateGamma8Bit(&record, c.gamma), c.result) << c.gamma;
    EXPECT_EQ(record.mGammaOn, c.flag) << c.gamma;
    if (std::isnan(c.gamma)) continue;
    EXPECT_EQ(record.mGamma, c.stored) << c.gamma;
    // The table in use before the call is never touched.
    EXPECT_TRUE(std::all_of(tableA.begin(), tableA.end(), [](UInt8 v) { return v == 0xAA; }));
    EXPECT_TRUE(std::all_of(tableC.begin(), tableC.end(), [](UInt8 v) { return v == 0xCC; }));
    if (c.tableBuilt) {
      EXPECT_EQ(record.mGammaLUT, tableB.data());
      EXPECT_EQ(record.mGammaLUTSpare[0], tableA.data());
      EXPECT_EQ(tableB[255], 255);
      EXPECT_EQ(tableB[0], 0);
    } else {
      EXPECT_EQ(record.mGammaLUT, tableA.data());
      EXPECT_TRUE(std::all_of(tableB.begin(), tableB.end(), [](UInt8 v) { return v == 0xBB; }));
    }
  }
}

// The record owns its three tables or none; without them gamma stays off.
TEST_F(GammaFixture, NoTablesStoreTheValueAndStayOff) {
  for (void** missing : {&record.mGammaLUT, &record.mGammaLUTSpare[0], &record.mGammaLUTSpare[1]}) {
    SetUp();
    *missing = nullptr;
    EXPECT_EQ(myCalculateGamma8Bit(&record, 5.12), 0);
    EXPECT_EQ(record.mGamma, 5.12);
    EXPECT_EQ(record.mGammaOn, 0);
    EXPECT_EQ(myGammaTableForFrame(&record), nullptr);
    EXPECT_EQ(myCalculateGamma8Bit(&record, 2.0), 0);
    EXPECT_EQ(record.mGammaOn, 0);
    EXPECT_EQ(tableA[0], 0xAA);
    EXPECT_EQ(tableB[0], 0xBB);
    EXPECT_EQ(tableC[0], 0xCC);
  }
}

TEST_F(GammaFixture, AFrameKeepsItsTableWhileNewOnesArePublished) {
  ASSERT_EQ(myCalculateGamma8Bit(&record, 2.0), 0);
  const UInt8* forFrame = static_cast<const UInt8*>(myGammaTableForFrame(&record));
  ASSERT_EQ(forFrame, tableB.data());
  EXPECT_EQ(record.mGammaLUTTaken, tableB.data());
  const std::vector<UInt8> before(forFrame, forFrame + 256);
  // Two rebuilds while that frame runs: neither touches its table.
  ASSERT_EQ(myCalculateGamma8Bit(&record, 0.5), 0);
  EXPECT_EQ(record.mGammaLUT, tableA.data());
  ASSERT_EQ(myCalculateGamma8Bit(&record, 3.0), 0);
  EXPECT_EQ(record.mGammaLUT, tableC.data());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), forFrame));
  EXPECT_EQ(tableA[0], 16);  // 255 x (1/255)^0.5 + 0.5 = 16.47
  EXPECT_EQ(tableC[127], 32);  // 255 x (128/255)^3 + 0.5 = 32.75
  // The next frame takes the newest table and lets its old one go.
  EXPECT_EQ(myGammaTableForFrame(&record), tableC.data());
  ASSERT_EQ(myCalculateGamma8Bit(&record, 2.0), 0);
  EXPECT_NE(record.mGammaLUT, tableC.data());
  ASSERT_EQ(myCalculateGamma8Bit(&record, 1.0), 0);
  EXPECT_EQ(myGammaTableForFrame(&record), nullptr);
  EXPECT_EQ(record.mGammaLUTTaken, nullptr);
}

// The pipeline held halfway through its table pass (a ramp of all 256 values)
// while the main thread rebuilds the table twice: the frame must come out
// through the one table it took.
namespace {
struct LUTPassHold {
  std::mutex lock;
  std::condition_variable changed;
  bool paused = false, resume = false;
};
LUTPassHold* gHold = nullptr;
void holdLUTPass() {
  std::unique_lock<std::mutex> l(gHold->lock);
  gHold->paused = true;
  gHold->changed.notify_all();
  gHold->changed.wait(l, [] { return gHold->resume; });
}
}  // namespace

TEST_F(GammaFixture, AFrameHeldInItsTablePassComesOutThroughOneTable) {
  ASSERT_EQ(myCalculateGamma8Bit(&record, 2.0), 0);
  std::vector<UInt8> want(256);
  for (UInt32 i = 0; i < 256; ++i)  // 255 x ((i + 1) / 255)^2 + 0.5, truncated
    want[i] = UInt8(std::min(255.0, 255.0 * ((i + 1) / 255.0) * ((i + 1) / 255.0) + 0.5));

  LUTPassHold hold;
  gHold = &hold;
  __atomic_store_n(&gMyTestLUTPassPausePoint, &holdLUTPass, __ATOMIC_SEQ_CST);
  std::vector<UInt8> frame(256);
  for (UInt32 i = 0; i < 256; ++i) frame[i] = UInt8(i);
  std::thread delivery([&] {
    const void* table = myGammaTableForFrame(&record);
    myApply8BitLUT(frame.data(), static_cast<const UInt8*>(table), 256);
  });
  {
    std::unique_lock<std::mutex> l(hold.lock);
    hold.changed.wait(l, [&] { return hold.paused; });
  }
  __atomic_store_n(&gMyTestLUTPassPausePoint, nullptr, __ATOMIC_SEQ_CST);
  ASSERT_EQ(myCalculateGamma8Bit(&record, 0.5), 0);
  ASSERT_EQ(myCalculateGamma8Bit(&record, 3.0), 0);
  {
    std::lock_guard<std::mutex> l(hold.lock);
    hold.resume = true;
    hold.changed.notify_all();
  }
  delivery.join();
  gHold = nullptr;
  EXPECT_EQ(frame, want);
}

// The controls handler rebuilds the table on the main thread, as often as it
// likes, while frames take it on the delivery thread. Each frame, a ramp of
// all 256 values, must come out as one whole table.
TEST_F(GammaFixture, FramesSeeWholeTablesWhileTheyAreRebuilt) {
  const double gammas[3] = {0.5, 2.0, 3.0};
  std::vector<std::vector<UInt8>> expected;
  for (double g : gammas) {
    ASSERT_EQ(myCalculateGamma8Bit(&record, g), 0);
    const UInt8* t = static_cast<const UInt8*>(record.mGammaLUT);
    expected.emplace_back(t, t + 256);
  }
  std::atomic<UInt32> framesDone{0};
  UInt32 mixedFrames = 0;
  std::thread delivery([&] {
    std::vector<UInt8> frame(256);
    for (UInt32 f = 0; f < 300; ++f) {
      for (UInt32 i = 0; i < 256; ++i) frame[i] = UInt8(i);
      const void* table = myGammaTableForFrame(&record);
      if (table != nullptr) myApply8BitLUT(frame.data(), static_cast<const UInt8*>(table), 256);
      mixedFrames += std::find(expected.begin(), expected.end(), frame) == expected.end();
      framesDone.fetch_add(1, std::memory_order_release);
    }
  });
  for (UInt32 k = 0; framesDone.load(std::memory_order_acquire) < 300; ++k)
    ASSERT_EQ(myCalculateGamma8Bit(&record, gammas[k % 3]), 0);
  delivery.join();
  EXPECT_EQ(mixedFrames, 0u);
}

TEST(Invert, TwiceRestoresAndBothFormsAgree) {
  for (UInt32 count = 0; count <= 70; ++count) {
    for (UInt8 vector = 0; vector <= 1; ++vector) {
      alignas(16) UInt8 b8[80];
      const std::vector<UInt8> in8 = noise8(80, count + 7);
      std::memcpy(b8, in8.data(), 80);
      myInvertPixels8Bit(b8, count, vector, 0);
      for (UInt32 i = 0; i < 80; ++i)
        ASSERT_EQ(b8[i], i < count ? UInt8(255 - in8[i]) : in8[i]) << count << " " << i;
      if (vector) myAltivecInvertPixels8Bit(b8, count, 1); else myInvertPixels8Bit(b8, count, 0, 1);
      ASSERT_EQ(std::memcmp(b8, in8.data(), 80), 0) << count;

      alignas(16) UInt16 b16[80];
      const std::vector<UInt16> in16 = noise16(80, count + 9);
      std::memcpy(b16, in16.data(), sizeof b16);
      myInvertPixels16Bit(b16 + (count & 1), count, vector, 0);  // odd starts are unaligned
      for (UInt32 i = 0; i < 80; ++i) {
        const bool in = i >= (count & 1) && i < (count & 1) + count;
        ASSERT_EQ(b16[i], in ? UInt16(65535 - in16[i]) : in16[i]) << count << " " << i;
      }
      myAltivecInvertPixels16Bit(b16 + (count & 1), count, 0);
      ASSERT_EQ(std::memcmp(b16, in16.data(), sizeof b16), 0) << count;
    }
  }
}

template <typename T>
std::vector<T> rowsNumbered(UInt32 n, UInt32 h) {
  std::vector<T> v(size_t(n) * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < n; ++x) v[size_t(y) * n + x] = T(y * 16 + x);
  return v;
}

TEST(VerticalFlip, MosaicKeepsItsPhase) {
  struct Case {
    UInt32 height;
    UInt8 bayer;
    std::vector<UInt32> rows;  // old row at each new row
  };
  const Case cases[] = {
      {4, 1, {2, 1, 0, 1}}, {4, 0, {3, 2, 1, 0}}, {6, 1, {4, 3, 2, 1, 0, 1}},
      {5, 0, {4, 3, 2, 1, 0}}, {3, 1, {1, 0, 1}}, {2, 1, {0, 1}}, {1, 1, {0}}, {2, 0, {1, 0}},
  };
  for (const Case& c : cases) {
    const UInt32 w = 6;
    std::vector<UInt8> b8 = rowsNumbered<UInt8>(w, c.height);
    std::vector<UInt16> b16 = rowsNumbered<UInt16>(w, c.height);
    std::vector<UInt8> scratch(w * 2);
    myFlipVerticalImage8Bit(b8.data(), scratch.data(), w, c.height, c.bayer);
    myFlipVerticalImage16Bit(b16.data(), scratch.data(), w, c.height, c.bayer);
    for (UInt32 y = 0; y < c.height; ++y)
      for (UInt32 x = 0; x < w; ++x) {
        ASSERT_EQ(b8[y * w + x], c.rows[y] * 16 + x) << c.height << " bayer " << int(c.bayer);
        ASSERT_EQ(b16[y * w + x], c.rows[y] * 16 + x) << c.height << " bayer " << int(c.bayer);
      }
  }
}

// Mirrors the whole row at every width; the mosaic form mirrors the first
// N - 1 elements and repeats element N - 3 at the end.
TEST(HorizontalFlip, FullMirrorAtEveryWidth) {
  for (UInt32 n : {1u, 2u, 3u, 7u, 8u, 12u, 16u, 17u, 33u, 644u}) {
    for (UInt8 bayer = 0; bayer <= 1; ++bayer) {
      const UInt32 h = 3;
      std::vector<UInt8> b8 = noise8(size_t(n) * h, n);
      std::vector<UInt16> b16 = noise16(size_t(n) * h, n + 1);
      const std::vector<UInt8> in8 = b8;
      const std::vector<UInt16> in16 = b16;
      myFlipHorizontalImage8Bit(b8.data(), n, h, bayer);
      myFlipHorizontalImage16Bit(b16.data(), n, h, bayer);
      for (UInt32 y = 0; y < h; ++y)
        for (UInt32 x = 0; x < n; ++x) {
          UInt32 src = n - 1 - x;  // plain mirror
          if (bayer) {
            // Element N - 1 copies new element N - 3, which is old N - 2 - (N - 3) = 1.
            if (n < 3) src = x;
            else src = x == n - 1 ? 1 : n - 2 - x;
          }
          ASSERT_EQ(b8[y * n + x], in8[y * n + src]) << n << " bayer " << int(bayer) << " x " << x;
          ASSERT_EQ(b16[y * n + x], in16[y * n + src]) << n << " bayer " << int(bayer) << " x " << x;
        }
    }
  }
}

TEST(HorizontalFlip, TwelveBytesExchangeAllSixPairs) {
  UInt8 row[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  myFlipHorizontalImage8Bit(row, 12, 1, 0);
  const UInt8 expected[12] = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  EXPECT_EQ(std::memcmp(row, expected, 12), 0);
}

TEST(Percentage, BlackFullAndRowTails) {
  float out = -1.0f;
  std::vector<UInt8> black(64 * 4, 0), full8(64 * 4, 255);
  myGet8BitPercentage(black.data(), 64, 4, &out);
  EXPECT_EQ(out, 0.0f);
  myGet8BitPercentage(full8.data(), 64, 4, &out);
  EXPECT_FLOAT_EQ(out, 99.609375f);  // 100 x 255 / 256
  // The 8-bit form reads only the first 4 x floor(rowBytes / 4) bytes of a row.
  std::vector<UInt8> tail(6 * 2, 255);
  tail[4] = tail[5] = tail[10] = tail[11] = 0;
  myGet8BitPercentage(tail.data(), 6, 2, &out);
  EXPECT_FLOAT_EQ(out, 99.609375f);

  std::vector<UInt16> full16(6 * 3, 65535);
  // A width that is not a multiple of 4 must not read low.
  myGet16BitPercentage(full16.data(), 6, 3, &out);
  EXPECT_FLOAT_EQ(out, 100.0f * 65535.0f / 65536.0f);
  std::vector<UInt16> half16(8 * 2, 32768);
  myGet16BitPercentage(half16.data(), 8, 2, &out);
  EXPECT_FLOAT_EQ(out, 50.0f);
  myGet16BitPercentage(half16.data(), 3, 2, &out);  // no whole group of four
  EXPECT_EQ(out, 0.0f);
}

}  // namespace
