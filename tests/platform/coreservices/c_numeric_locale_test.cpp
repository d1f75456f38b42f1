#include <gtest/gtest.h>

#include <locale.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "platform/coreservices/CNumericLocale.h"

namespace {

std::string Format(double v) {
  char text[32];
  snprintf(text, sizeof text, "%.2f", v);
  return text;
}

TEST(CNumericLocale, ScopeWritesAndReadsWithAPointThenRestores) {
  const char* saved = setlocale(LC_NUMERIC, nullptr);
  const std::string keep = saved ? saved : "C";
  ASSERT_NE(setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is missing: scripts/deps generates it";
  EXPECT_EQ(Format(1.5), "1,50");
  {
    SkyloomCLocaleScope c;
    EXPECT_EQ(Format(1.5), "1.50");
    EXPECT_EQ(strtod("2.25", nullptr), 2.25);
    {
      SkyloomCLocaleScope nested;
      EXPECT_EQ(Format(0.5), "0.50");
    }
    EXPECT_EQ(Format(0.5), "0.50");
  }
  EXPECT_EQ(Format(1.5), "1,50");
  EXPECT_EQ(strtod_l("3.75", nullptr, SkyloomCNumericLocale()), 3.75);
  setlocale(LC_NUMERIC, keep.c_str());
}

}  // namespace
