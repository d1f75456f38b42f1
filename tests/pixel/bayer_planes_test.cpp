#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/CameraWindowData.h"
#include "pixel/BayerPlanes.h"

namespace {

TEST(BayerFormat, RoutineFamilyAndRowFlag) {
  struct Case { UInt32 code; MyBayerFamily family; UInt32 flag; };
  const Case cases[] = {{1, kMyBayerFamilyRGGB, 1}, {2, kMyBayerFamilyRGGB, 0},
                        {3, kMyBayerFamilyBGGR, 1}, {4, kMyBayerFamilyBGGR, 0},
                        {0, kMyBayerFamilyBGGR, 0}, {5, kMyBayerFamilyBGGR, 0},
                        {0xFFFFFFFF, kMyBayerFamilyBGGR, 0}};
  for (const Case& c : cases) {
    // The pipeline takes the code from the camera record.
    MyCameraWindowDataStruct record{};
    record.mBayerFormat = c.code;
    const MyBayerRoutineChoice choice = myBayerRoutineChoiceFromBayerFormat(record.mBayerFormat);
    EXPECT_EQ(choice.family, c.family) << c.code;
    EXPECT_EQ(choice.startRowFlag, c.flag) << c.code;
  }
}

TEST(BayerFormat, DisplayCodes) {
  struct Case { UInt32 code; const char* colour; const char* grey; };
  const Case cases[] = {{1, "bmRG", "mmRG"}, {2, "bmBG", "mmGB"}, {3, "bmGR", "mmGR"},
                        {4, "bmGB", "mmBG"}, {0, "ARGB", "ARGB"}, {5, "ARGB", "ARGB"}};
  auto text = [](OSType t) {
    return std::string{char(t >> 24), char(t >> 16), char(t >> 8), char(t)};
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text(myDisplayFormatFromBayerFormat(1, c.code)), c.colour) << c.code;
    EXPECT_EQ(text(myDisplayFormatFromBayerFormat(0xFF, c.code)), c.colour) << c.code;
    EXPECT_EQ(text(myDisplayFormatFromBayerFormat(0, c.code)), c.grey) << c.code;
  }
}

// ---- A reference for the planes, written from the rules as stated:
// colour of each mosaic sample, own-row spreading, vertical means, row copy.

enum Plane { kRed, kGreen, kBlue };

char colourAt(MyBayerFamily family, UInt32 flag, UInt32 r, UInt32 c) {
  const bool redRow = ((r & 1u) == 0) == (flag != 0);
  if (family == kMyBayerFamilyRGGB) {
    if (redRow) return c % 2 == 0 ? 'R' : 'G';
    return c % 2 == 0 ? 'G' : 'B';
  }
  if (redRow) return c % 2 == 0 ? 'G' : 'R';
  return c % 2 == 0 ? 'B' : 'G';
}

using Mosaic = std::vector<UInt32>;  // values before narrowing

// Own row spread, with the means of the stated rules.
std::vector<UInt32> spreadOwn(const UInt32* row, UInt32 w, UInt32 parity, bool rggb) {
  std::vector<UInt32> out(w);
  if (parity == 0) {
    for (UInt32 k = 0; 2 * k < w; ++k) {
      out[2 * k] = row[2 * k];
      if (2 * k + 2 < w) out[2 * k + 1] = (row[2 * k] + row[2 * k + 2]) >> 1;
    }
    out[w - 1] = row[w - 2];
  } else if (rggb) {
    for (UInt32 k = 0; 2 * k + 1 < w; ++k) {
      out[2 * k] = row[2 * k + 1];
      if (2 * k + 3 < w) out[2 * k + 1] = (row[2 * k + 1] + row[2 * k + 3]) >> 1;
    }
    out[w - 1] = row[w - 1];
  } else {
    out[0] = row[1];
    for (UInt32 k = 0; 2 * k + 1 < w; ++k) out[2 * k + 1] = row[2 * k + 1];
    for (UInt32 k = 1; 2 * k < w; ++k) out[2 * k] = (row[2 * k - 1] + row[2 * k + 1]) >> 1;
  }
  return out;
}

std::vector<UInt32> between(const UInt32* up, const UInt32* down, UInt32 w, UInt32 parity,
                            bool rggb) {
  std::vector<UInt32> out(w);
  auto v2 = [&](UInt32 c) { return (up[c] + down[c]) >> 1; };
  auto v4 = [&](UInt32 c) { return (up[c] + up[c + 2] + down[c] + down[c + 2]) >> 2; };
  if (parity == 0) {  // colour in even columns, in place
    for (UInt32 k = 0; 2 * k < w; ++k) {
      out[2 * k] = v2(2 * k);
      if (2 * k + 2 < w) out[2 * k + 1] = v4(2 * k);
    }
    out[w - 1] = out[w - 2];
  } else if (rggb) {  // odd columns, shown one column to the left
    for (UInt32 k = 0; 2 * k + 1 < w; ++k) {
      out[2 * k] = v2(2 * k + 1);
      if (2 * k + 3 < w) out[2 * k + 1] = v4(2 * k + 1);
    }
    out[w - 1] = out[w - 2];
  } else {  // odd columns in place; column 0 from column 1, last column its own mean
    out[0] = v2(1);
    for (UInt32 k = 0; 2 * k + 1 < w; ++k) out[2 * k + 1] = v2(2 * k + 1);
    for (UInt32 k = 1; 2 * k < w; ++k) out[2 * k] = v4(2 * k - 1);
  }
  return out;
}

Mosaic referencePlane(const Mosaic& m, UInt32 w, UInt32 h, Plane plane, MyBayerFamily family,
                      UInt32 flag) {
  const bool rggb = family == kMyBayerFamilyRGGB;
  Mosaic out(m.size());
  if (plane == kGreen) {
    for (UInt32 r = 0; r < h; ++r) {
      const UInt32 parity = colourAt(family, flag, r, 1) == 'G' ? 1 : 0;
      auto row = spreadOwn(&m[r * w], w, parity, rggb);
      std::copy(row.begin(), row.end(), out.begin() + r * w);
    }
    return out;
  }
  const char want = plane == kRed ? 'R' : 'B';
  auto own = [&](UInt32 r) { return colourAt(family, flag, r, 0) == want || colourAt(family, flag, r, 1) == want; };
  const UInt32 parity = (own(0) ? colourAt(family, flag, 0, 1) : colourAt(family, flag, 1, 1)) == want ? 1 : 0;
  const UInt32 first = own(0) ? 0 : 1;
  for (UInt32 r = first; r + (first == 0 ? 1 : 0) < h; ++r) {
    std::vector<UInt32> row;
    if (own(r)) {
      row = spreadOwn(&m[r * w], w, parity, rggb);
    } else {
      if (r + 1 >= h) break;  // no row below: copied below like the edge row
      // The row above holds the original colour samples at their columns.
      row = between(&m[(r - 1) * w], &m[(r + 1) * w], w, parity, rggb);
    }
    std::copy(row.begin(), row.end(), out.begin() + r * w);
  }
  if (first == 0) {
    std::copy(out.begin() + (h - 2) * w, out.begin() + (h - 1) * w, out.begin() + (h - 1) * w);
  } else {
    if (!own(h - 1)) std::copy(out.begin() + (h - 2) * w, out.begin() + (h - 1) * w, out.begin() + (h - 1) * w);
    std::copy(out.begin() + w, out.begin() + 2 * w, out.begin());
  }
  return out;
}

struct PlaneRoutine {
  const char* name;
  Plane plane;
  MyBayerFamily family;
  void (*r8)(UInt8*, UInt32, UInt32, UInt32);
  void (*r16)(UInt16*, UInt32, UInt32, UInt32);
};

const PlaneRoutine kPlanes[] = {
    {"red RGGB", kRed, kMyBayerFamilyRGGB, myRedBayer8ChannelRGGB, myRedBayer16ChannelRGGB},
    {"red BGGR", kRed, kMyBayerFamilyBGGR, myRedBayer8ChannelBGGR, myRedBayer16ChannelBGGR},
    {"green RGGB", kGreen, kMyBayerFamilyRGGB, myGreenBayer8ChannelRGGB, myGreenBayer16ChannelRGGB},
    {"green BGGR", kGreen, kMyBayerFamilyBGGR, myGreenBayer8ChannelBGGR, myGreenBayer16ChannelBGGR},
    {"blue RGGB", kBlue, kMyBayerFamilyRGGB, myBlueBayer8ChannelRGGB, myBlueBayer16ChannelRGGB},
    {"blue BGGR", kBlue, kMyBayerFamilyBGGR, myBlueBayer8ChannelBGGR, myBlueBayer16ChannelBGGR},
};

Mosaic distinctMosaic(UInt32 w, UInt32 h, UInt32 scale) {
  Mosaic m(w * h);
  for (UInt32 i = 0; i < w * h; ++i) m[i] = ((i * 37 + 11) % 97 + 3 * i) * scale;
  return m;
}

TEST(ColourPlanes, EveryRoutineFamilyAndFlagFollowsTheRules) {
  const UInt32 sizes[][2] = {{8, 6}, {8, 7}, {4, 2}, {6, 3}, {10, 5}};
  for (const PlaneRoutine& p : kPlanes) {
    for (UInt32 flag = 0; flag <= 1; ++flag) {
      for (const auto& s : sizes) {
        const UInt32 w = s[0], h = s[1];
        const Mosaic m8 = distinctMosaic(w, h, 1), m16 = distinctMosaic(w, h, 250);
        const Mosaic want8 = referencePlane(m8, w, h, p.plane, p.family, flag);
        const Mosaic want16 = referencePlane(m16, w, h, p.plane, p.family, flag);
        std::vector<UInt8> b8(m8.begin(), m8.end());
        std::vector<UInt16> b16(m16.begin(), m16.end());
        p.r8(b8.data(), w, h, flag);
        p.r16(b16.data(), w, h, flag);
        for (UInt32 i = 0; i < w * h; ++i) {
          ASSERT_EQ(b8[i], want8[i]) << p.name << " flag " << flag << " " << w << "x" << h
                                     << " at " << i % w << "," << i / w;
          ASSERT_EQ(b16[i], want16[i]) << p.name << " 16-bit flag " << flag << " " << w << "x"
                                       << h << " at " << i % w << "," << i / w;
        }
      }
    }
  }
}

// Worked by hand from the rules on one small mosaic (R G / G B with flag 1).
TEST(ColourPlanes, HandWorkedRGGBPlanes) {
  const UInt8 mosaic[16] = {10, 1, 30, 2,  //
                            3, 4, 5, 6,    //
                            50, 7, 70, 8,  //
                            9, 11, 12, 13};
  UInt8 red[16], blue[16];
  std::copy(mosaic, mosaic + 16, red);
  std::copy(mosaic, mosaic + 16, blue);
  myRedBayer8ChannelRGGB(red, 4, 4, 1);
  myBlueBayer8ChannelRGGB(blue, 4, 4, 1);
  const UInt8 wantRed[16] = {10, 20, 30, 30, 30, 40, 50, 50, 50, 60, 70, 70, 50, 60, 70, 70};
  const UInt8 wantBlue[16] = {4, 5, 6, 6, 4, 5, 6, 6, 7, 8, 9, 9, 11, 12, 13, 13};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(red[i], wantRed[i]) << i;
    EXPECT_EQ(blue[i], wantBlue[i]) << i;
  }
}

TEST(ColourPlanes, RowCopyFallsAtTheEndWithoutTheColour) {
  const UInt32 w = 8, h = 6;
  for (const PlaneRoutine& p : kPlanes) {
    if (p.plane == kGreen) continue;
    for (UInt32 flag = 0; flag <= 1; ++flag) {
      Mosaic m = distinctMosaic(w, h, 1);
      std::vector<UInt8> b(m.begin(), m.end());
      p.r8(b.data(), w, h, flag);
      const bool row0Own = colourAt(p.family, flag, 0, 0) == (p.plane == kRed ? 'R' : 'B') ||
                           colourAt(p.family, flag, 0, 1) == (p.plane == kRed ? 'R' : 'B');
      const UInt32 copied = row0Own ? h - 1 : 0, source = row0Own ? h - 2 : 1;
      for (UInt32 x = 0; x < w; ++x) EXPECT_EQ(b[copied * w + x], b[source * w + x]) << p.name;
    }
  }
}

// Format 3 is format 4 one row further down: the planes agree wherever both
// are computed by the same rule (the first and last rows are edge copies).
TEST(ColourPlanes, Format3IsFormat4ShiftedUpOneRow) {
  const UInt32 w = 8, h = 8;
  const Mosaic m = distinctMosaic(w, h, 1);
  const MyBayerRoutineChoice f3 = myBayerRoutineChoiceFromBayerFormat(3);
  const MyBayerRoutineChoice f4 = myBayerRoutineChoiceFromBayerFormat(4);
  ASSERT_EQ(f3.family, kMyBayerFamilyBGGR);
  for (auto routine : {myRedBayer8ChannelBGGR, myGreenBayer8ChannelBGGR, myBlueBayer8ChannelBGGR}) {
    std::vector<UInt8> a(m.begin(), m.end());
    std::vector<UInt8> b(m.begin() + w, m.end());
    routine(a.data(), w, h, f3.startRowFlag);
    routine(b.data(), w, h - 1, f4.startRowFlag);
    for (UInt32 r = 1; r + 2 < h - 1; ++r)
      for (UInt32 x = 0; x < w; ++x) EXPECT_EQ(a[(r + 1) * w + x], b[r * w + x]) << r << "," << x;
  }
}

TEST(ColourPlanes, FramesTooSmallAreLeftAlone) {
  const UInt32 sizes[][2] = {{2, 4}, {3, 4}, {8, 1}, {0, 0}};
  for (const PlaneRoutine& p : kPlanes) {
    for (const auto& s : sizes) {
      std::vector<UInt8> b8(32, 0x5A);
      std::vector<UInt16> b16(32, 0x5A5A);
      p.r8(b8.data(), s[0], s[1], 1);
      p.r16(b16.data(), s[0], s[1], 0);
      for (UInt8 v : b8) ASSERT_EQ(v, 0x5A) << p.name;
      for (UInt16 v : b16) ASSERT_EQ(v, 0x5A5A) << p.name;
    }
  }
}

// ---- Greens to grey

TEST(GreensToMono, EveryFormMatchesTheGreenPlaneAndLeavesTheSource) {
  const UInt32 w = 8, h = 6, pad = 3;
  struct Form {
    MyBayerFamily family;
    void (*plane8)(UInt8*, UInt32, UInt32, UInt32);
    void (*plane16)(UInt16*, UInt32, UInt32, UInt32);
    void (*m8)(const UInt8*, UInt8*, UInt32, UInt32, UInt32, UInt32);
    void (*m16to8)(const UInt16*, UInt8*, UInt32, UInt32, UInt32, UInt32);
    void (*m16)(const UInt16*, UInt16*, UInt32, UInt32, UInt32, UInt32);
  };
  const Form forms[] = {
      {kMyBayerFamilyRGGB, myGreenBayer8ChannelRGGB, myGreenBayer16ChannelRGGB, myBayerRGGB8_Mono8,
       myBayerRGGB16_Mono8, myBayerRGGB16_MONO16},
      {kMyBayerFamilyBGGR, myGreenBayer8ChannelBGGR, myGreenBayer16ChannelBGGR, myBayerBGGR8_Mono8,
       myBayerBGGR16_Mono8, myBayerBGGR16_MONO16},
  };
  for (const Form& f : forms) {
    for (UInt32 flag = 0; flag <= 1; ++flag) {
      const Mosaic m8 = distinctMosaic(w, h, 1), m16 = distinctMosaic(w, h, 250);
      const std::vector<UInt8> src8(m8.begin(), m8.end());
      const std::vector<UInt16> src16(m16.begin(), m16.end());
      std::vector<UInt8> plane8 = src8;
      std::vector<UInt16> plane16 = src16;
      f.plane8(plane8.data(), w, h, flag);
      f.plane16(plane16.data(), w, h, flag);

      const UInt32 rb8 = w + pad, rb16 = 2 * (w + pad);
      std::vector<UInt8> d8(rb8 * h, 0xEE), d16to8(rb8 * h, 0xEE);
      std::vector<UInt16> d16(rb16 / 2 * h, 0xEEEE);
      f.m8(src8.data(), d8.data(), w, h, rb8, flag);
      f.m16to8(src16.data(), d16to8.data(), w, h, rb8, flag);
      f.m16(src16.data(), d16.data(), rb16, w, h, flag);
      const Mosaic want16to8 = referencePlane(m16, w, h, kGreen, f.family, flag);
      for (UInt32 r = 0; r < h; ++r) {
        for (UInt32 x = 0; x < w; ++x) {
          EXPECT_EQ(d8[r * rb8 + x], plane8[r * w + x]);
          EXPECT_EQ(d16[r * (rb16 / 2) + x], plane16[r * w + x]);
          // High byte of a green; a mean of two as (a + b) >> 9.
          EXPECT_EQ(d16to8[r * rb8 + x], UInt8(want16to8[r * w + x] >> 8)) << r << "," << x;
        }
        for (UInt32 x = w; x < w + pad; ++x) EXPECT_EQ(d8[r * rb8 + x], 0xEE);
      }
      EXPECT_EQ(std::vector<UInt8>(m8.begin(), m8.end()), src8);
    }
  }
}

TEST(GreensToMono, SixteenToEightTakesHighBytesAndHalvesSumsByNine) {
  // RGGB, flag 1: greens at odd columns of row 0 (shown one column left) and
  // even columns of row 1.
  const UInt16 src[8] = {0x1111, 0xABCD, 0x2222, 0x80FF,  //
                         0x7F01, 0x3333, 0x8100, 0x4444};
  UInt8 dst[8] = {};
  myBayerRGGB16_Mono8(src, dst, 4, 2, 4, 1);
  const UInt8 want[8] = {0xAB, UInt8((0xABCD + 0x80FF) >> 9), 0x80, 0x80,
                         0x7F, UInt8((0x7F01 + 0x8100) >> 9), 0x81, 0x81};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(dst[i], want[i]) << i;
}

TEST(GreensToMono, Mono16ToMono8KeepsTheHighByte) {
  const UInt16 src[6] = {0xABCD, 0x00FF, 0xFF00, 0x0100, 0x7FFF, 0x8000};
  UInt8 dst[2 * 5];
  std::fill(dst, dst + 10, 0xEE);
  myMono16_Mono8(src, dst, 3, 2, 5);
  const UInt8 want[10] = {0xAB, 0x00, 0xFF, 0xEE, 0xEE, 0x01, 0x7F, 0x80, 0xEE, 0xEE};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(dst[i], want[i]) << i;
}

}  // namespace
