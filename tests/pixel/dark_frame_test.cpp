#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "pixel/DarkFrame.h"

namespace {

TEST(DarkFrame, SamplePairs8Bit) {
  struct Pair { UInt8 image, dark, result; };
  const Pair pairs[] = {{10, 12, 0}, {12, 10, 2}, {255, 0, 255}, {77, 77, 0}, {0, 255, 0}, {0, 0, 0}};
  for (const Pair& p : pairs) {
    for (UInt8 vector = 0; vector <= 1; ++vector) {
      alignas(16) UInt8 image[16] = {p.image};
      alignas(16) UInt8 dark[16] = {p.dark};
      mySubtractDarkFrame8Bit(image, dark, 1, vector, 0);
      EXPECT_EQ(image[0], p.result) << int(p.image) << " - " << int(p.dark);
    }
  }
}

TEST(DarkFrame, SamplePairs16Bit) {
  struct Pair { UInt16 image, dark, result; };
  const Pair pairs[] = {{0x1000, 0x0FFF, 1}, {5, 0xFFFF, 0}, {0xFFFF, 0, 0xFFFF},
                        {1234, 1234, 0}, {10, 12, 0}, {12, 10, 2}};
  for (const Pair& p : pairs) {
    for (UInt8 vector = 0; vector <= 1; ++vector) {
      alignas(16) UInt16 image[8] = {p.image};
      alignas(16) UInt16 dark[8] = {p.dark};
      mySubtractDarkFrame16Bit(image, dark, 1, vector, 1);
      EXPECT_EQ(image[0], p.result) << p.image << " - " << p.dark;
    }
  }
}

// Every count, aligned or not, through the entry point with either flag and
// through the vector form directly: each sample is the clamped difference and
// nothing past the count is touched.
template <typename T, typename Entry, typename Vector>
void checkCounts(Entry entry, Vector vectorForm) {
  const UInt32 counts[] = {0, 1, 3, 4, 5, 63, 64, 65, 70, 130, 1000};
  for (UInt32 count : counts) {
    for (UInt32 offset : {0u, 1u, 3u}) {
      for (int form = 0; form < 3; ++form) {
        std::vector<T> imageStore(count + 64), darkStore(count + 64);
        for (size_t i = 0; i < imageStore.size(); ++i) {
          imageStore[i] = T(i * 2654435761u >> 7);
          darkStore[i] = T(i * 40503u + 17);
        }
        const std::vector<T> before = imageStore;
        // Align the start of the vector storage so offset 0 is 16-byte aligned.
        auto alignedIndex = [](const std::vector<T>& v) {
          size_t i = 0;
          while (reinterpret_cast<uintptr_t>(v.data() + i) % 16) ++i;
          return i;
        };
        const size_t ia = alignedIndex(imageStore) + offset;
        const size_t da = alignedIndex(darkStore) + offset;
        T* image = imageStore.data() + ia;
        const T* dark = darkStore.data() + da;
        if (form == 2) vectorForm(image, dark, count, 0);
        else entry(image, dark, count, UInt8(form), 0);
        for (size_t i = 0; i < imageStore.size(); ++i) {
          if (i >= ia && i < ia + count) {
            const T a = before[i], b = darkStore[i - ia + da];
            ASSERT_EQ(imageStore[i], a > b ? T(a - b) : T(0)) << count << " " << offset << " " << form;
          } else {
            ASSERT_EQ(imageStore[i], before[i]) << "outside the count " << count;
          }
        }
      }
    }
  }
}

TEST(DarkFrame, EveryCountAndAlignmentMatchesTheClampedDifference) {
  checkCounts<UInt8>(mySubtractDarkFrame8Bit, myAltivecSubtractDarkFrame8Bit);
  checkCounts<UInt16>(mySubtractDarkFrame16Bit, myAltivecSubtractDarkFrame16Bit);
}

}  // namespace
