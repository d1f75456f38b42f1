#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "app/PreviewDrawing.h"

namespace {

std::array<UInt8, 4> entryBytes(const UInt32* table, int i) {
  std::array<UInt8, 4> b{};
  std::memcpy(b.data(), &table[i], 4);
  return b;
}

TEST(ColourizeTable, EntriesAreOpaqueTintedGreyLevelsInARGBOrder) {
  UInt32 table[256];
  myFillInCourizedARGB32Table(table, RGBColor{65535, 32768, 0});
  using B = std::array<UInt8, 4>;
  EXPECT_EQ(entryBytes(table, 0), (B{255, 0, 0, 0}));
  EXPECT_EQ(entryBytes(table, 1), (B{255, 1, 0, 0}));
  EXPECT_EQ(entryBytes(table, 3), (B{255, 3, 1, 0}));      // 32768/65535*3 = 1.50002
  EXPECT_EQ(entryBytes(table, 255), (B{255, 255, 127, 0}));  // 127.5019 truncated
}

TEST(ColourizeTable, TruncatesRatherThanRounds) {
  UInt32 table[256];
  myFillInCourizedARGB32Table(table, RGBColor{65534, 1, 13108});
  EXPECT_EQ(entryBytes(table, 255)[1], 254);                        // 254.996
  EXPECT_EQ(entryBytes(table, 255)[2], 0);
  EXPECT_EQ(entryBytes(table, 5)[3], 1);     // 1.00008
  EXPECT_EQ(entryBytes(table, 255)[3], 51);  // 51.0039
}

}  // namespace
