#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/ObjectTracking.h"
#include "platform/simcamera/SimScene.h"
#include "tests/support/TestClock.h"

namespace {

constexpr OSStatus kLost = -128;
constexpr UInt8 kBackground = 10;

UInt32 SampleCount(MyCameraWindowDataStruct& r) {
  return std::atomic_ref<UInt32>(r.mTrackSampleCount).load(std::memory_order_acquire);
}

// A frame in a buffer of exactly its size (so ASan sees any read past it):
// 8-bit, or 16-bit with the 8-bit value in the high byte and noise in the
// low byte; rowBytes may be padded.
struct Frame {
  UInt32 width, height, bits, rowBytes;
  std::unique_ptr<UInt8[]> bytes;

  Frame(UInt32 w, UInt32 h, UInt32 b, UInt32 padding = 0)
      : width(w), height(h), bits(b), rowBytes(w * (b > 8 ? 2 : 1) + padding),
        bytes(new UInt8[size_t(rowBytes) * h]) {
    Fill(kBackground);
  }
  void Fill(UInt8 v) {
    for (UInt32 y = 0; y < height; ++y)
      for (UInt32 x = 0; x < width; ++x) Set(x, y, v);
  }
  void Set(UInt32 x, UInt32 y, UInt8 v) {
    UInt8* row = bytes.get() + size_t(y) * rowBytes;
    if (bits > 8)
      reinterpret_cast<UInt16*>(row)[x] = UInt16(v << 8 | ((x * 7 + y * 13) & 0xFF));
    else
      row[x] = v;
  }
  // A round star whose centre is the pixel (cx, cy): its pixels depend on
  // the distance alone, so its centroid above any level is exactly (cx, cy).
  void Star(int cx, int cy) {
    for (int dy = -3; dy <= 3; ++dy)
      for (int dx = -3; dx <= 3; ++dx) {
        const int x = cx + dx, y = cy + dy;
        if (x < 0 || y < 0 || x >= int(width) || y >= int(height)) continue;
        Set(UInt32(x), UInt32(y), UInt8(kBackground + std::lround(190.0 * std::exp(-(dx * dx + dy * dy) / 3.0))));
      }
  }
  const void* data() const { return bytes.get(); }
};

class ObjectTracking : public ::testing::Test {
 protected:
  // What the RA/Dec motion mode sets up before its first frame.
  void StartRun(UInt32 width, UInt32 height, UInt32 bits, UInt32 capacity = kMyTrackSampleCapacity,
                UInt8 slow = 0, bool mono = true) {
    record_ = std::make_unique<MyCameraWindowDataStruct>();
    MyCameraWindowDataStruct& r = *record_;
    r.mKind = kMyCameraWindowDataKind;
    r.mBitsPerPixel = bits;
    samples_.reset(new float[size_t(capacity) * kMyTrackSampleFloats]);
    r.mTrackSamples = samples_.get();
    r.mTrackSampleCapacity = capacity;
    r.mTrackSlowExposure = slow;
    r.mTrackingArea[2] = float(width) * 0.5f;
    r.mTrackingArea[3] = float(height) * 0.5f;
    // Left over from an earlier run: the first frame must take its own.
    r.mTrackThreshold = 0;
    mono_.reset();
    if (bits > 8 && mono) {
      mono_.reset(new UInt8[size_t(width) * height]);
      r.mPleezWaitSum = mono_.get();
    }
  }
  OSStatus Track(const Frame& f) { return myDoImageTracking(record_.get(), f.data(), f.width, f.height, f.rowBytes); }
  MyCameraWindowDataStruct& R() { return *record_; }
  const float* Sample(UInt32 i) const { return samples_.get() + size_t(i) * kMyTrackSampleFloats; }

  TestClock clock_{728431507.0};
  std::unique_ptr<MyCameraWindowDataStruct> record_;
  std::unique_ptr<float[]> samples_;
  std::unique_ptr<UInt8[]> mono_;
};

// A star of the scene generator drifting one pixel a frame, seen through a
// crop around it, is followed within a quarter pixel of where the scene put it.
TEST_F(ObjectTracking, FollowsASceneStarMovingOnePixelAFrame) {
  SimSceneSettings s;
  s.seed = 11;
  s.starCount = 25;
  s.starSigma = 2.2;
  s.hotPixelCount = 0;
  s.driftX = 0.6;  // one pixel a frame along the diagonal
  s.driftY = 0.8;
  const SimScene scene(s);
  constexpr UInt32 kFrames = 30, kW = 160, kH = 120;
  // The brightest star with room for the crop and its drift.
  size_t star = SIZE_MAX;
  for (size_t i = 0; i < scene.Stars().size(); ++i) {
    const SimStar& st = scene.Stars()[i];
    if (st.x < 80 || st.y < 60 || st.x > 552 || st.y > 414) continue;
    if (star == SIZE_MAX || st.flux > scene.Stars()[star].flux) star = i;
  }
  ASSERT_NE(star, SIZE_MAX);
  double sx, sy;
  scene.StarPosition(star, 0, &sx, &sy);
  const UInt32 left = UInt32(sx) - kW / 2 + 8, top = UInt32(sy) - kH / 2 + 6;
  // Peak at about 80 % of full scale.
  const double exposure = 0.8 * 2 * M_PI * s.starSigma * s.starSigma / scene.Stars()[star].flux;

  for (UInt32 bits : {8u, 16u}) {
    SCOPED_TRACE(bits);
    StartRun(kW, kH, bits);
    const double startClock = clock_.Now();
    std::vector<UInt16> whole(size_t(s.width) * s.height);
    for (UInt32 n = 0; n < kFrames; ++n) {
      scene.RenderMono(n, exposure, bits, whole.data());
      Frame f(kW, kH, bits, bits > 8 ? 6 : 3);
      for (UInt32 y = 0; y < kH; ++y) {
        UInt8* row = f.bytes.get() + size_t(y) * f.rowBytes;
        const UInt16* in = whole.data() + size_t(top + y) * s.width + left;
        for (UInt32 x = 0; x < kW; ++x) {
          if (bits > 8)
            reinterpret_cast<UInt16*>(row)[x] = in[x];
          else
            row[x] = UInt8(in[x]);
        }
      }
      ASSERT_EQ(Track(f), noErr) << n;
      clock_.Advance(0.1);
    }
    ASSERT_EQ(SampleCount(R()), kFrames);
    for (UInt32 n = 0; n < kFrames; ++n) {
      double tx, ty;
      scene.StarPosition(star, n, &tx, &ty);
      EXPECT_NEAR(Sample(n)[0], tx - left, 0.25) << n;
      EXPECT_NEAR(Sample(n)[1], ty - top, 0.25) << n;
      EXPECT_NEAR(Sample(n)[2], 0.1 * n, 1e-5) << n;
    }
    EXPECT_EQ(R().mTrackingArea[0], Sample(0)[0]);
    EXPECT_EQ(R().mTrackingArea[1], Sample(0)[1]);
    EXPECT_EQ(R().mTrackingArea[2], Sample(kFrames - 1)[0]);
    EXPECT_EQ(R().mTrackingArea[3], Sample(kFrames - 1)[1]);
    EXPECT_FLOAT_EQ(R().mBrightnessElapsed, 0.1f * (kFrames - 1));
    EXPECT_EQ(R().mPleezWaitDone, 0);
    // The clocks started at the first frame.
    EXPECT_EQ(R().mBrightnessStartClock, startClock);
    clock_.Advance(0.1);
  }
}

// 15 frames a second. Short exposures: the positions of each second make one
// sample, their mean (the star steps through x0 .. x0 + 4, so a mean of 15
// frames is x0 + 2 while each window's last frame is at x0). Long
// exposures: every frame is a sample.
TEST_F(ObjectTracking, SlowExposuresAverageASecondLongOnesStoreEveryFrame) {
  constexpr int kX = 312, kY = 245;
  StartRun(640, 480, 8, kMyTrackSampleCapacity, 1);
  for (int k = 0; k <= 45; ++k) {
    Frame f(640, 480, 8);
    f.Star(kX + k % 5, kY);
    ASSERT_EQ(Track(f), noErr) << k;
    clock_.Advance(1.0 / 15);
  }
  ASSERT_EQ(SampleCount(R()), 3u);
  // The first second holds 16 frames (0 .. 15), the later ones 15.
  EXPECT_FLOAT_EQ(Sample(0)[0], kX + 30.0f / 16);
  EXPECT_FLOAT_EQ(Sample(1)[0], kX + 2.0f);
  EXPECT_FLOAT_EQ(Sample(2)[0], kX + 2.0f);
  for (UInt32 i = 0; i < 3; ++i) {
    EXPECT_FLOAT_EQ(Sample(i)[1], float(kY));
    EXPECT_NEAR(Sample(i)[2], (15.0 * (i + 1)) / 15, 1e-4) << i;
  }
  EXPECT_EQ(R().mTrackingArea[0], Sample(0)[0]);
  EXPECT_EQ(R().mTrackSumCount, 0u);

  StartRun(640, 480, 8, kMyTrackSampleCapacity, 0);
  for (int k = 0; k < 4; ++k) {
    Frame f(640, 480, 8);
    f.Star(kX + k, kY - k);
    ASSERT_EQ(Track(f), noErr);
    clock_.Advance(2.0);
  }
  ASSERT_EQ(SampleCount(R()), 4u);
  for (UInt32 i = 0; i < 4; ++i) {
    EXPECT_FLOAT_EQ(Sample(i)[0], float(kX + int(i)));
    EXPECT_FLOAT_EQ(Sample(i)[1], float(kY - int(i)));
    EXPECT_FLOAT_EQ(Sample(i)[2], 2.0f * i);
  }
}

TEST(ObjectTrackingBox, OriginKeepsTheBoxInsideTheFrame) {
  const struct {
    float position;
    UInt32 size;
    UInt32 origin;
  } cases[] = {
      {5.0f, 640, 0},     {16.0f, 640, 0},    {16.5f, 640, 0},  {100.7f, 640, 84},
      {623.9f, 640, 607}, {624.0f, 640, 608}, {630.0f, 640, 608}, {700.0f, 640, 608},
      {-3.0f, 640, 0},    {20.0f, 40, 4},     {35.0f, 40, 8},   {16.0f, 32, 0},
      {NAN, 640, 0},      {INFINITY, 640, 608},
  };
  for (const auto& c : cases)
    EXPECT_EQ(myTrackBoxOrigin(c.position, c.size), c.origin) << c.position << " in " << c.size;
}

// The star walks from the centre to each edge, 8 pixels a frame, and is
// followed to its last pixel from the edge; the frames are exactly sized,
// so a box reaching past an edge is an ASan failure.
TEST_F(ObjectTracking, FollowsAnObjectToEveryEdge) {
  const struct {
    int toX, toY;
  } ends[] = {{630, 240}, {5, 240}, {320, 475}, {320, 3}, {636, 476}, {2, 2}};
  for (UInt32 bits : {8u, 16u})
    for (const auto& e : ends) {
      SCOPED_TRACE(testing::Message() << bits << " bits to " << e.toX << "," << e.toY);
      StartRun(640, 480, bits);
      int x = 320, y = 240;
      for (;;) {
        Frame f(640, 480, bits);
        f.Star(x, y);
        ASSERT_EQ(Track(f), noErr);
        const float* last = Sample(SampleCount(R()) - 1);
        EXPECT_EQ(last[0], float(x));
        EXPECT_EQ(last[1], float(y));
        if (x == e.toX && y == e.toY) break;
        x += std::clamp(e.toX - x, -8, 8);
        y += std::clamp(e.toY - y, -8, 8);
      }
    }
}

// A frame narrower than two boxes: the re-centred first box is kept inside
// it too. Frames under one box are refused.
TEST_F(ObjectTracking, SmallFrames) {
  for (UInt32 bits : {8u, 16u}) {
    SCOPED_TRACE(bits);
    StartRun(40, 40, bits);
    Frame f(40, 40, bits);
    f.Star(36, 36);
    ASSERT_EQ(Track(f), noErr);
    ASSERT_EQ(SampleCount(R()), 1u);
    EXPECT_EQ(Sample(0)[0], 36.0f);
    EXPECT_EQ(Sample(0)[1], 36.0f);

    for (auto [w, h] : {std::pair{31u, 31u}, {32u, 31u}, {31u, 40u}}) {
      StartRun(w, h, bits);
      Frame small(w, h, bits);
      small.Star(int(w) / 2, int(h) / 2);
      EXPECT_EQ(Track(small), paramErr) << w << " x " << h;
      EXPECT_EQ(SampleCount(R()), 0u);
      EXPECT_EQ(R().mTrackingAnalysisOn, 0);
    }
  }
}

TEST_F(ObjectTracking, LostObjectLeavesPositionAndSamplesAlone) {
  StartRun(640, 480, 8);
  Frame f(640, 480, 8);
  f.Star(330, 250);
  ASSERT_EQ(Track(f), noErr);
  clock_.Advance(0.5);
  const float area[4] = {R().mTrackingArea[0], R().mTrackingArea[1], R().mTrackingArea[2], R().mTrackingArea[3]};
  const float first[3] = {Sample(0)[0], Sample(0)[1], Sample(0)[2]};

  Frame empty(640, 480, 8);  // nothing at or above the threshold
  Frame elsewhere(640, 480, 8);
  elsewhere.Star(400, 250);  // out of the box
  for (const Frame* lost : {&empty, &elsewhere}) {
    EXPECT_EQ(Track(*lost), kLost);
    EXPECT_EQ(SampleCount(R()), 1u);
    EXPECT_EQ(std::memcmp(area, R().mTrackingArea, sizeof area), 0);
    EXPECT_EQ(std::memcmp(first, Sample(0), sizeof first), 0);
  }
  // The object back in the box: tracking goes on with the first threshold.
  Frame back(640, 480, 8);
  back.Star(331, 249);
  EXPECT_EQ(Track(back), noErr);
  ASSERT_EQ(SampleCount(R()), 2u);
  EXPECT_EQ(Sample(1)[0], 331.0f);
  EXPECT_EQ(Sample(1)[1], 249.0f);
}

// No contrast in the centre box, or none once the box is moved onto the
// object: the frame is refused and the run is not started, so the next frame
// starts it (and takes its own threshold) rather than tracking with none.
TEST_F(ObjectTracking, NoContrastAtTheStart) {
  StartRun(640, 480, 8);
  Frame flat(640, 480, 8);
  flat.Fill(100);
  flat.Set(330, 250, 131);  // a range of 31 is no contrast
  EXPECT_EQ(Track(flat), kLost);
  EXPECT_EQ(R().mTrackingAnalysisOn, 0);

  // The centre box (304..335 x 224..255) has contrast only through its dark
  // bottom-right pixel; the centroid of the rest is just up and left of the
  // box's centre, so the re-centred box (303..334) leaves that pixel out.
  Frame corner(640, 480, 8);
  corner.Fill(100);
  corner.Set(335, 255, 0);
  EXPECT_EQ(Track(corner), kLost);
  EXPECT_EQ(R().mTrackingAnalysisOn, 0);
  EXPECT_EQ(SampleCount(R()), 0u);

  clock_.Advance(3.0);
  Frame star(640, 480, 8);
  star.Star(315, 245);
  ASSERT_EQ(Track(star), noErr);
  EXPECT_EQ(R().mTrackingAnalysisOn, 1);
  EXPECT_NE(R().mTrackThreshold, 0u);
  ASSERT_EQ(SampleCount(R()), 1u);
  EXPECT_EQ(Sample(0)[0], 315.0f);
  EXPECT_EQ(Sample(0)[2], 0.0f);  // the clocks start at the frame that started the run
  EXPECT_EQ(R().mBrightnessStartClock, 728431510.0);
}

// The run ends itself when the buffer is full; frames that still come are
// followed but never written past it (the buffer is exactly sized).
TEST_F(ObjectTracking, FullBufferEndsTheRun) {
  StartRun(640, 480, 8, 3);
  for (int k = 0; k < 6; ++k) {
    Frame f(640, 480, 8);
    f.Star(320 + k, 240);
    ASSERT_EQ(Track(f), noErr);
    EXPECT_EQ(R().mPleezWaitDone, k >= 2 ? 1 : 0) << k;
    EXPECT_EQ(SampleCount(R()), UInt32(std::min(k + 1, 3)));
    EXPECT_EQ(R().mTrackingArea[2], 320.0f + k);
  }
  EXPECT_EQ(Sample(2)[0], 322.0f);
}

TEST_F(ObjectTracking, RefusedAndSkippedFrames) {
  Frame f(640, 480, 16);
  f.Star(320, 240);
  // A deep frame without the Mono8 buffer is skipped.
  StartRun(640, 480, 16, kMyTrackSampleCapacity, 0, false);
  EXPECT_EQ(Track(f), noErr);
  EXPECT_EQ(R().mTrackingAnalysisOn, 0);
  EXPECT_EQ(SampleCount(R()), 0u);

  EXPECT_EQ(myDoImageTracking(nullptr, f.data(), 640, 480, 1280), paramErr);
  StartRun(640, 480, 16);
  EXPECT_EQ(myDoImageTracking(record_.get(), nullptr, 640, 480, 1280), paramErr);
  EXPECT_EQ(myDoImageTracking(record_.get(), f.data(), 640, 479, 1281), paramErr);  // odd rows of 16-bit samples
  Frame f8(640, 480, 8);
  R().mBitsPerPixel = 8;
  EXPECT_EQ(myDoImageTracking(record_.get(), f8.data(), 640, 480, 639), paramErr);  // rows shorter than the width
  R().mBitsPerPixel = 16;
  EXPECT_EQ(R().mTrackingAnalysisOn, 0);
  // The pipeline's call: the width as row bytes of a packed 16-bit frame.
  EXPECT_EQ(myDoImageTracking(record_.get(), f.data(), 640, 480, 640), noErr);
  ASSERT_EQ(SampleCount(R()), 1u);
  EXPECT_EQ(Sample(0)[0], 320.0f);
  EXPECT_EQ(Sample(0)[1], 240.0f);
  StartRun(640, 480, 16);
  R().mTrackSamples = nullptr;
  EXPECT_EQ(Track(f), paramErr);
  EXPECT_EQ(R().mTrackingAnalysisOn, 0);
  EXPECT_EQ(R().mTrackBusy, 0);
}

// The busy counter is up while a frame is worked on (the clock is read in
// the middle of it) and down after every way out.
TEST_F(ObjectTracking, BusyWhileAFrameIsTracked) {
  StartRun(640, 480, 8);
  std::vector<SInt32> seen;
  UInt64 micros = 5'000'000;
  SkyloomSetMonotonicTimeSource([&] {
    seen.push_back(std::atomic_ref<SInt32>(R().mTrackBusy).load());
    return micros;
  });
  Frame f(640, 480, 8);
  f.Star(320, 240);
  EXPECT_EQ(Track(f), noErr);
  Frame empty(640, 480, 8);
  EXPECT_EQ(Track(empty), kLost);
  ASSERT_FALSE(seen.empty());
  for (SInt32 b : seen) EXPECT_EQ(b, 1);
  EXPECT_EQ(R().mTrackBusy, 0);
}

// The delivery thread tracks while the main thread reads the count and the
// samples below it: every sample it can see is complete.
TEST_F(ObjectTracking, SamplesAreCompleteBeforeTheCountShowsThem) {
  constexpr int kFrames = 300;
  // Back and forth a pixel a frame.
  const auto Path = [](int k) { return 70 + (k % 80 < 40 ? k % 80 : 80 - k % 80); };
  StartRun(160, 120, 8, kFrames);
  std::vector<Frame> frames;
  for (int k = 0; k < kFrames; ++k) {
    frames.emplace_back(160, 120, 8);
    frames.back().Star(Path(k), 60);
  }
  std::atomic<bool> finished{false};
  std::thread delivery([&] {
    for (const Frame& f : frames) {
      EXPECT_EQ(Track(f), noErr);
      clock_.Advance(0.25);
    }
    finished = true;
  });
  UInt32 checked = 0;
  bool intact = true;
  while (intact && checked < UInt32(kFrames)) {
    const UInt32 n = SampleCount(R());
    for (; intact && checked < n; ++checked) {
      const float* s = Sample(checked);
      intact = s[0] == float(Path(int(checked))) && s[1] == 60.0f && s[2] == float(0.25 * checked);
      EXPECT_TRUE(intact) << checked << ": " << s[0] << ", " << s[1] << ", " << s[2];
    }
    if (finished && SampleCount(R()) == checked) break;
    std::this_thread::yield();
  }
  delivery.join();
  EXPECT_EQ(checked, UInt32(kFrames));
  EXPECT_EQ(std::atomic_ref<UInt8>(R().mPleezWaitDone).load(), 1);
}

}  // namespace
