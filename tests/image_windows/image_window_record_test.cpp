#include "image_windows/ImageWindowRecord.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// The creator's planes in the order they are made.
std::vector<void*> CreatedPlanes(const MyImageWindowDataStruct& r) {
  std::vector<void*> p = {r.mWorkRGB48, r.mDisplayARGB32, r.mRenderRGB48};
  for (UInt16* d : r.mDetailLevel) p.push_back(d);
  for (UInt16* b : r.mBlurLevel) p.push_back(b);
  return p;
}

bool AllCleared(const MyImageWindowDataStruct& r) {
  for (void* p : CreatedPlanes(r))
    if (p != nullptr) return false;
  return r.mSourceRGB48 == nullptr && r.mSourceLRGB64 == nullptr && r.mSourceLuma16 == nullptr &&
         r.mMeasurePlane == nullptr;
}

TEST(ImageWindowRecord, PlanesAreAlignedWithSpareBytes) {
  MyImageWindowDataStruct r{};
  r.mWidth = 37;
  r.mHeight = 23;
  r.mRowBytes = 37 * 6;
  mySetImagePlaneAllocationFailure(0);
  ASSERT_EQ(myAllocateImageWindowPlanes(&r), noErr);
  EXPECT_EQ(mySetImagePlaneAllocationFailure(0), UInt32(kImageWindowCreatedPlaneCount));
  const size_t pixels = 37 * 23;
  const std::vector<void*> planes = CreatedPlanes(r);
  for (size_t i = 0; i < planes.size(); ++i) {
    const size_t need = (i == 0 || i == 2 ? pixels * 6 : i == 1 ? pixels * 4 : pixels * 2) + 16;
    ASSERT_NE(planes[i], nullptr) << i;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(planes[i]) % 16, 0u) << i;
    EXPECT_GE(malloc_usable_size(planes[i]), need) << i;
  }
  mydumpAllocatedBuffers(&r);
  EXPECT_TRUE(AllCleared(r));
}

// Creation stopped after k planes: the dump frees exactly those (LSan sees any
// left over, ASan any freed twice) and a second dump does nothing.
TEST(ImageWindowRecord, DumpFreesWhatAPartBuiltRecordHolds) {
  for (UInt32 k = 0; k <= kImageWindowCreatedPlaneCount; ++k) {
    MyImageWindowDataStruct r{};
    r.mWidth = 5;
    r.mHeight = 3;
    r.mRowBytes = 30;
    // The caller's three buffers and a measurement plane are the record's too.
    r.mSourceRGB48 = static_cast<UInt16*>(myAllocateImagePlane(90));
    r.mSourceLRGB64 = static_cast<UInt16*>(myAllocateImagePlane(120));
    r.mSourceLuma16 = static_cast<UInt16*>(myAllocateImagePlane(30));
    if (k % 2) r.mMeasurePlane = static_cast<UInt16*>(myAllocateImagePlane(30));
    mySetImagePlaneAllocationFailure(k + 1);
    const OSStatus err = myAllocateImageWindowPlanes(&r);
    mySetImagePlaneAllocationFailure(0);
    EXPECT_EQ(err, k < kImageWindowCreatedPlaneCount ? memFullErr : noErr) << k;
    const std::vector<void*> planes = CreatedPlanes(r);
    for (UInt32 i = 0; i < planes.size(); ++i) EXPECT_EQ(planes[i] != nullptr, i < k) << k << " " << i;
    mydumpAllocatedBuffers(&r);
    EXPECT_TRUE(AllCleared(r)) << k;
    mydumpAllocatedBuffers(&r);
    EXPECT_TRUE(AllCleared(r)) << k;
  }
  mydumpAllocatedBuffers(nullptr);
}

}  // namespace
