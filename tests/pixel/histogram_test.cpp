#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "pixel/Histogram.h"

namespace {

using Table = std::array<UInt32, 256>;

Table filled(UInt32 v) {
  Table t;
  t.fill(v);
  return t;
}

TEST(HistogramCounts, MonoFramesAndTheirTails) {
  // 21 samples 0..20 (a tail of 1 after whole words) and a second pass that
  // must clear the table first.
  std::vector<UInt8> f(21);
  for (UInt32 i = 0; i < 21; ++i) f[i] = UInt8(i);
  Table h = filled(77);
  myGetHistogramDataMono8Bit(f.data(), 7, 3, h.data());
  for (UInt32 b = 0; b < 256; ++b) ASSERT_EQ(h[b], b < 21 ? 1u : 0u) << b;

  const std::vector<UInt16> s = {0x01FF, 0xFF00, 0x0000, 0x00FF, 0xFFFF};
  h = filled(77);
  myGetHistogramDataMono16Bit(s.data(), 5, 1, h.data());
  Table expected = filled(0);
  expected[1] = 1;
  expected[255] = 2;
  expected[0] = 2;
  EXPECT_EQ(h, expected);
}

TEST(HistogramCounts, MosaicOfBayerFormat3) {
  const UInt8 f[8] = {10, 20, 10, 20, 30, 40, 30, 40};
  Table r = filled(9), g = filled(9), b = filled(9);
  myGetBayerHistogramData8Bit(f, 4, 2, 3, r.data(), g.data(), b.data());
  Table er = filled(0), eg = filled(0), eb = filled(0);
  er[20] = 8;
  eg[10] = 4;
  eg[40] = 4;
  eb[30] = 8;
  EXPECT_EQ(r, er);
  EXPECT_EQ(g, eg);
  EXPECT_EQ(b, eb);
}

// Each position of the 2x2 cell holds its own value (row 0: 1, 2; row 1: 3,
// 4); the table says which colour each code gives it.
TEST(HistogramCounts, ColoursOfEveryBayerFormatAtBothDepths) {
  struct Case {
    UInt32 format;
    UInt32 red, blue, green1, green2;  // the cell value each colour holds
  };
  const Case cases[] = {{1, 1, 4, 2, 3}, {2, 3, 2, 1, 4}, {3, 2, 3, 1, 4},
                        {4, 4, 1, 2, 3}, {0, 4, 1, 2, 3}, {9, 4, 1, 2, 3}};
  const UInt32 w = 8, h = 4;
  std::vector<UInt8> f8(w * h);
  std::vector<UInt16> f16(w * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      f8[y * w + x] = UInt8(1 + (y & 1) * 2 + (x & 1));
      f16[y * w + x] = UInt16(f8[y * w + x] << 8 | 0x80);
    }
  for (const Case& c : cases) {
    Table r, g, b;
    Table er = filled(0), eg = filled(0), eb = filled(0);
    er[c.red] = 32;  // 8 red samples x 4
    eb[c.blue] = 32;
    eg[c.green1] = 16;  // 8 samples of each green x 2
    eg[c.green2] = 16;
    myGetBayerHistogramData8Bit(f8.data(), w, h, c.format, r.data(), g.data(), b.data());
    EXPECT_EQ(r, er) << c.format;
    EXPECT_EQ(g, eg) << c.format;
    EXPECT_EQ(b, eb) << c.format;
    myGetBayerHistogramData16Bit(f16.data(), w, h, c.format, r.data(), g.data(), b.data());
    EXPECT_EQ(r, er) << c.format;
    EXPECT_EQ(g, eg) << c.format;
    EXPECT_EQ(b, eb) << c.format;
  }
}

TEST(HistogramCounts, MosaicRowsCountWholeGroupsOnly) {
  // 8-bit: under 4 samples a row counts nothing, tables cleared.
  const UInt8 narrow[6] = {5, 5, 5, 5, 5, 5};
  Table r = filled(9), g = filled(9), b = filled(9);
  myGetBayerHistogramData8Bit(narrow, 3, 2, 1, r.data(), g.data(), b.data());
  EXPECT_EQ(r, filled(0));
  EXPECT_EQ(g, filled(0));
  EXPECT_EQ(b, filled(0));
  // Width 6: the first 4 samples of each row count; rows still start 6 apart.
  const UInt8 six[12] = {1, 2, 1, 2, 99, 99, 3, 4, 3, 4, 99, 99};
  myGetBayerHistogramData8Bit(six, 6, 2, 1, r.data(), g.data(), b.data());
  EXPECT_EQ(r[1], 8u);
  EXPECT_EQ(g[2], 4u);
  EXPECT_EQ(g[3], 4u);
  EXPECT_EQ(b[4], 8u);
  EXPECT_EQ(r[99] + g[99] + b[99], 0u);
  // 16-bit: an odd width leaves the last sample of each row out.
  const UInt16 odd[6] = {0x100, 0x200, 0x6300, 0x300, 0x400, 0x6300};
  myGetBayerHistogramData16Bit(odd, 3, 2, 1, r.data(), g.data(), b.data());
  EXPECT_EQ(r[1], 4u);
  EXPECT_EQ(b[4], 4u);
  EXPECT_EQ(g[2] + g[3], 4u);
  EXPECT_EQ(r[0x63] + g[0x63] + b[0x63], 0u);
}

TEST(PercentileStretch, EmptyTablesGiveTheSteepestTable) {
  const Table empty = filled(0);
  std::vector<UInt8> lut(256, 7);
  EXPECT_EQ(myCalculateHistoGram95PercentileLUT8Bit(lut.data(), 0, empty.data(), nullptr, nullptr), 1);
  EXPECT_EQ(lut[0], 0);
  EXPECT_TRUE(std::all_of(lut.begin() + 1, lut.end(), [](UInt8 v) { return v == 255; }));
  UInt32 low, high;
  myHistogramPercentilePoints(empty.data(), &low, &high);
  EXPECT_EQ(low, 0u);
  EXPECT_EQ(high, 1u);
}

TEST(PercentileStretch, OneBinAtBothDepths) {
  Table h = filled(0);
  h[100] = 640 * 480;
  std::vector<UInt8> lut(256, 7);
  ASSERT_EQ(myCalculateHistoGram95PercentileLUT8Bit(lut.data(), 0, h.data(), nullptr, nullptr), 1);
  for (UInt32 i = 0; i < 256; ++i) ASSERT_EQ(lut[i], i <= 100 ? 0 : 255) << i;

  std::vector<UInt16> lut16(65536, 7);
  ASSERT_EQ(myCalculateHistoGram95PercentileLUT16Bit(lut16.data(), 0, h.data(), nullptr, nullptr), 1);
  // low16 = 25500, high16 = 25755: scale 65535 / 255 = 257.
  EXPECT_EQ(lut16[0], 0);
  EXPECT_EQ(lut16[25500], 0);
  EXPECT_EQ(lut16[25501], 257);
  EXPECT_EQ(lut16[25600], 25700);
  EXPECT_EQ(lut16[25754], 65278);
  EXPECT_EQ(lut16[25755], 65535);
  EXPECT_EQ(lut16[65535], 65535);
}

TEST(PercentileStretch, LastBinLeavesTheTableAlone) {
  Table h = filled(0);
  h[255] = 1000;
  std::vector<UInt8> lut(256, 7);
  std::vector<UInt16> lut16(65536, 7);
  EXPECT_EQ(myCalculateHistoGram95PercentileLUT8Bit(lut.data(), 0, h.data(), nullptr, nullptr), 0);
  EXPECT_EQ(myCalculateHistoGram95PercentileLUT16Bit(lut16.data(), 0, h.data(), nullptr, nullptr), 0);
  EXPECT_TRUE(std::all_of(lut.begin(), lut.end(), [](UInt8 v) { return v == 7; }));
  EXPECT_TRUE(std::all_of(lut16.begin(), lut16.end(), [](UInt16 v) { return v == 7; }));
}

// One sample at the low bin and one at the high bin: T = (lo + 1) + (hi + 1),
// the 1 % threshold falls in the low bin and the 99.5 % one in the high bin.
Table twoBins(UInt32 lo, UInt32 hi) {
  Table t = filled(0);
  t[lo] = 1;
  t[hi] = 1;
  return t;
}

TEST(PercentileStretch, ThreeTablesCombine) {
  const Table r = twoBins(10, 200), g = twoBins(30, 180), b = twoBins(20, 220);
  UInt32 low, high;
  myHistogramPercentilePoints(r.data(), &low, &high);
  ASSERT_EQ(low, 10u);
  ASSERT_EQ(high, 200u);
  // low = max(min(10, 30), 20) = 20, high = max(200, 180, 220) = 220:
  // scale = 255 / 200 = 1.275 in single precision.
  std::vector<UInt8> lut(256);
  ASSERT_EQ(myCalculateHistoGram95PercentileLUT8Bit(lut.data(), 1, r.data(), g.data(), b.data()), 1);
  EXPECT_EQ(lut[20], 0);
  EXPECT_EQ(lut[21], 1);
  EXPECT_EQ(lut[120], 127);  // 127.5
  EXPECT_EQ(lut[219], 253);  // 253.725
  EXPECT_EQ(lut[220], 255);
  // Any other mode reads table a alone: low 10, high 200, scale 255 / 190.
  ASSERT_EQ(myCalculateHistoGram95PercentileLUT8Bit(lut.data(), 0, r.data(), nullptr, nullptr), 1);
  EXPECT_EQ(lut[10], 0);
  EXPECT_EQ(lut[105], 127);  // 95 x 1.3421053 = 127.5
  EXPECT_EQ(lut[200], 255);
  // 16-bit from the combination: low16 = 5100, high16 = 56100, scale 65535 / 51000.
  std::vector<UInt16> lut16(65536);
  ASSERT_EQ(myCalculateHistoGram95PercentileLUT16Bit(lut16.data(), 1, r.data(), g.data(), b.data()), 1);
  EXPECT_EQ(lut16[5100], 0);
  EXPECT_EQ(lut16[5101], 1);  // 1.285
  EXPECT_EQ(lut16[30600], 32767);  // 25500 x 1.285 = 32767.5
  EXPECT_EQ(lut16[56100], 65535);
}

// The count runs on one thread while another reads the bins, as the control
// window's plot does: every frame puts all its samples in one bin, so a bin
// read at any moment holds all of a frame or none of it.
TEST(HistogramHandOff, APlotNeverReadsATornBin) {
  MyCameraWindowDataStruct record{};
  Table table = filled(0);
  record.mHistogramR = table.data();
  const UInt32 w = 64, h = 48;
  std::atomic<bool> done{false};
  std::thread pipeline([&] {
    std::vector<UInt8> frame(w * h);
    for (UInt32 k = 0; k < 300; ++k) {
      std::fill(frame.begin(), frame.end(), UInt8(k));
      myStoreHistogramReady(&record, 0);
      myGetHistogramDataMono8Bit(frame.data(), w, h, record.mHistogramR);
      myStoreHistogramReady(&record, 1);
    }
    done.store(true);
  });
  UInt32 tornBins = 0;
  while (!done.load()) {
    if (myLoadHistogramReady(&record) != 1) continue;
    for (UInt32 bin = 0; bin < 256; ++bin) {
      const UInt32 v = myLoadHistogramBin(record.mHistogramR, bin);
      tornBins += v != 0 && v != w * h;
    }
  }
  pipeline.join();
  EXPECT_EQ(tornBins, 0u);
  EXPECT_EQ(myLoadHistogramReady(&record), 1u);
  EXPECT_EQ(myLoadHistogramBin(record.mHistogramR, 299 & 0xFF), w * h);
}

}  // namespace
