#include <gtest/gtest.h>

#include <string>

#include "utilities/BayerPhase.h"

namespace {

// The four layouts of a camera's BayerFormat codes, as the pixel routines
// document them: the colours of rows 0 and 1.
struct PhaseCase {
  bool otherFamily;
  UInt32 startRowFlag;
  const char* row0;
  const char* row1;
};
const PhaseCase kPhases[] = {
    {false, 1, "RGRG", "GBGB"},
    {false, 0, "GBGB", "RGRG"},
    {true, 1, "GRGR", "BGBG"},
    {true, 0, "BGBG", "GRGR"},
};

char ColourAt(const MyBayerPhase& p, UInt32 x, UInt32 y) {
  if (p.green(x, y)) return 'G';
  return p.redRow(y) ? 'R' : 'B';
}

TEST(BayerPhase, GivesEachSiteItsColourInAllFourLayouts) {
  for (const auto& c : kPhases) {
    SCOPED_TRACE(testing::Message() << c.otherFamily << " flag " << c.startRowFlag);
    const MyBayerPhase p = myBayerPhase(c.otherFamily, c.startRowFlag);
    // Rows repeat every two; the odd start row and far columns too.
    for (UInt32 y : {0u, 1u, 2u, 3u, 1001u}) {
      std::string row;
      for (UInt32 x : {0u, 1u, 2u, 3u}) row += ColourAt(p, x + 2000u, y);
      EXPECT_EQ(row, (y % 2 == 0) ? c.row0 : c.row1) << "row " << y;
      EXPECT_EQ(p.greenParity(y), row[1] == 'G' ? 1u : 0u);
    }
  }
  // Any flag other than 0 puts the red row first.
  EXPECT_TRUE(myBayerPhase(false, 7).redRow(0));
}

}  // namespace
