// The sharpness list: appending, counting at a cut-off, the sharpest-first
// sort and the statistics with their 256-bin frequency count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "stacking/SharpnessList.h"

namespace {

SharpnessList listOf(const std::vector<double>& values) {
  SharpnessList list = nullptr;
  UInt32 t = 0;
  for (double v : values) {
    myAddNoiseStruct(&list, t, v);
    t += 20;
  }
  return list;
}

std::vector<NoiseStruct> entries(SharpnessList list) {
  std::vector<NoiseStruct> out(myCountNoiseStruct(list));
  for (UInt32 i = 0; i < out.size(); ++i) myGetNoiseStruct(list, i, &out[i]);
  return out;
}

TEST(SharpnessList, EntriesKeepTimeAndSinglePrecisionValue) {
  SharpnessList list = nullptr;
  EXPECT_EQ(myCountNoiseStructAboveCutoff(list, 0.0), 0u);
  myAddNoiseStruct(&list, 40, 0.7);
  myAddNoiseStruct(&list, 60, 2.5);
  ASSERT_EQ(GetHandleSize(list), 16);
  const auto e = entries(list);
  EXPECT_EQ(e[0].mFrameTime, 40u);
  EXPECT_EQ(e[0].mValue, 0.7f);
  EXPECT_EQ(e[1].mFrameTime, 60u);
  // The count compares the stored float widened to double, equality included.
  EXPECT_EQ(myCountNoiseStructAboveCutoff(list, 2.5), 1u);
  EXPECT_EQ(myCountNoiseStructAboveCutoff(list, double(0.7f)), 2u);
  EXPECT_EQ(myCountNoiseStructAboveCutoff(list, 0.7), 1u) << "0.7f lies below the double 0.7";
  DisposeHandle(list);
}

TEST(SharpnessList, RefusedMemoryLeavesTheListAsItWas) {
  SharpnessList list = nullptr;
  SkyloomFailAllocationAfter(0);
  myAddNoiseStruct(&list, 1, 1.0);
  SkyloomFailAllocationAfter(-1);
  EXPECT_EQ(list, nullptr);

  myAddNoiseStruct(&list, 1, 1.0);
  myAddNoiseStruct(&list, 2, 2.0);
  SkyloomFailHandleGrowthAfter(0);
  myAddNoiseStruct(&list, 3, 3.0);
  SkyloomFailHandleGrowthAfter(-1);
  const auto e = entries(list);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].mFrameTime, 2u);
  EXPECT_EQ(e[1].mValue, 2.0f);
  myAddNoiseStruct(&list, 4, 4.0);
  EXPECT_EQ(myCountNoiseStruct(list), 3u);
  DisposeHandle(list);
}

TEST(SharpnessList, SortIsAStableDescendingSort) {
  std::mt19937 rng(57);
  for (int round = 0; round < 1000; ++round) {
    const int n = int(rng() % 40);
    const int distinct = 1 + int(rng() % 5);  // few values: many ties
    std::vector<double> values;
    for (int i = 0; i < n; ++i) values.push_back(double(rng() % distinct) * 0.5 - 1.0);
    SharpnessList list = listOf(values);
    std::vector<NoiseStruct> expected = entries(list);
    std::stable_sort(expected.begin(), expected.end(),
                     [](const NoiseStruct& a, const NoiseStruct& b) { return a.mValue > b.mValue; });
    mySortNoiseStruct(list);
    const auto got = entries(list);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i].mFrameTime, expected[i].mFrameTime) << "round " << round << " entry " << i;
      ASSERT_EQ(got[i].mValue, expected[i].mValue);
    }
    if (list) DisposeHandle(list);
  }
}

struct Stats {
  int result;
  NoiseStatistics s;
};
Stats statsOf(const std::vector<double>& values) {
  SharpnessList list = listOf(values);
  mySortNoiseStruct(list);
  Stats out{};
  out.result = myGetNoiseStatistics(list, &out.s);
  if (list) DisposeHandle(list);
  return out;
}

TEST(SharpnessList, StatisticsOfFourValues) {
  const Stats st = statsOf({1, 2, 3, 4});
  EXPECT_EQ(st.result, 1);
  EXPECT_EQ(st.s.mMinimum, 1.0);
  EXPECT_EQ(st.s.mMaximum, 4.0);
  EXPECT_EQ(st.s.mMean, 2.5);
  EXPECT_NEAR(st.s.mStandardDeviation, 1.2909944, 1e-7);
  EXPECT_EQ(st.s.mBinWidth, 0.01171875);
  for (int k = 0; k < 256; ++k) {
    const UInt32 want = (k == 0 || k == 85 || k == 170 || k == 255) ? 1 : 0;
    EXPECT_EQ(st.s.mCounts[k], want) << "bin " << k;
  }
  EXPECT_EQ(st.s.mMode, 1.0);
  EXPECT_EQ(st.s.mMedian, 1.01171875);
}

TEST(SharpnessList, StatisticsEdgeCases) {
  // All values equal: a bin width of 0 puts every entry in bin 0.
  Stats st = statsOf({7.5, 7.5, 7.5, 7.5, 7.5});
  EXPECT_EQ(st.result, 1);
  EXPECT_EQ(st.s.mBinWidth, 0.0);
  EXPECT_EQ(st.s.mCounts[0], 5u);
  EXPECT_EQ(st.s.mMedian, 7.5);
  EXPECT_EQ(st.s.mMode, 7.5);

  st = statsOf({3.25});
  EXPECT_EQ(st.result, 0);
  for (double v : {st.s.mMinimum, st.s.mMaximum, st.s.mMean, st.s.mMedian, st.s.mMode}) EXPECT_EQ(v, 3.25);
  EXPECT_EQ(st.s.mStandardDeviation, 0.0);
  EXPECT_EQ(st.s.mBinWidth, 0.0);
  EXPECT_EQ(st.s.mCounts[0], 0u);

  st = statsOf({});
  EXPECT_EQ(st.result, 0);
  EXPECT_EQ(st.s.mMaximum, 0.0);

  // The first occupied bin holds half the entries: no anchor, the median is
  // the minimum.
  st = statsOf({4, 1});
  EXPECT_EQ(st.result, 1);
  EXPECT_EQ(st.s.mMedian, 1.0);
  st = statsOf({1, 1, 1, 9});
  EXPECT_EQ(st.s.mMedian, 1.0);
}

TEST(SharpnessList, BinEdgesAroundTheTop) {
  // Minimum 0 and maximum 256 give a bin width of 1, so q is the value.
  const struct {
    double value;
    int bin;
  } cases[] = {{254.0, 254}, {254.5, 255}, {253.99, 253}, {256.0, 255}, {0.0, 0}, {0.999, 0}, {1.0, 1}};
  for (const auto& c : cases) {
    const Stats st = statsOf({0.0, c.value, 256.0});
    EXPECT_EQ(st.s.mBinWidth, 1.0);
    const UInt32 expectOwn = (c.bin == 0 ? 1 : 0) + (c.bin == 255 ? 1 : 0) + 1;
    EXPECT_EQ(st.s.mCounts[c.bin], expectOwn) << c.value;
  }
}

}  // namespace
