#include <gtest/gtest.h>

#include <vector>

#include "app/CameraWindowData.h"
#include "pixel/BayerWhiteBalance.h"
#include "pixel/WhiteBalanceCamera.h"

namespace {

struct Sent {
  UInt32 feature;
  SInt32 selector;
  UInt32 value;
  bool operator==(const Sent&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Sent& s) {
  return o << "(" << s.feature << ", " << s.selector << ", " << s.value << ")";
}

// A stand-in camera: records every value sent and keeps the two halves of
// its white-balance register, as a camera would.
struct FakeCamera {
  std::vector<Sent> sent;
  UInt32 red = 0, blue = 0;
  OSStatus answer = noErr;
};
FakeCamera* gCamera = nullptr;
MyDCAMCameraStruct* const kHandle = reinterpret_cast<MyDCAMCameraStruct*>(0x1234);

OSStatus recordSend(MyDCAMCameraStruct* camera, UInt32 feature, SInt32 selector, UInt32 value) {
  EXPECT_EQ(camera, kHandle);
  gCamera->sent.push_back({feature, selector, value});
  if (gCamera->answer == noErr) (selector == 5 ? gCamera->red : gCamera->blue) = value;
  return gCamera->answer;
}

class WhiteBalance : public ::testing::Test {
 protected:
  void SetUp() override {
    gCamera = &camera;
    previous = mySetWhiteBalanceSendProc(recordSend);
    record.mKind = kMyCameraWindowDataKind;
    record.mCameraHandle = kHandle;
    record.mColourSensor = 1;
    record.mBayerFormat = 1;
  }
  void TearDown() override {
    mySetWhiteBalanceSendProc(previous);
    gCamera = nullptr;
  }
  // What the application does to start a run: both flags cleared, no
  // previous values, each half at the middle of its bounds.
  void startRun(UInt32 lower, UInt32 upper) {
    record.mRedBalanceDone = record.mBlueBalanceDone = 0;
    record.mRedBalancePrevious = record.mBlueBalancePrevious = kMyWhiteBalanceNoValue;
    record.mRedBalanceLower = record.mBlueBalanceLower = lower;
    record.mRedBalanceUpper = record.mBlueBalanceUpper = upper;
    record.mRedBalanceValue = record.mBlueBalanceValue = lower + (upper - lower) / 2;
    camera.red = record.mRedBalanceValue;
    camera.blue = record.mBlueBalanceValue;
  }
  void setAverages(UInt8 r, UInt8 g, UInt8 b) {
    record.mBalanceR = r, record.mBalanceG = g, record.mBalanceB = b;
  }

  FakeCamera camera;
  MyWhiteBalanceSendProc previous = nullptr;
  MyCameraWindowDataStruct record{};
};

// The camera's response: a 16 x 12 RGGB frame of flat colours, red =
// 3 x V/R / 10, green 128, blue = U/B / 8 (integer parts), measured by the
// frame averages as the live pipeline does.
void takeFrame(const FakeCamera& cam, MyCameraWindowDataStruct* record) {
  const UInt32 w = 16, h = 12;
  std::vector<UInt8> frame(w * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      const bool even = (x & 1u) == 0;
      frame[y * w + x] = UInt8((y & 1u) == 0 ? (even ? cam.red * 3 / 10 : 128)
                                             : (even ? 128 : cam.blue / 8));
    }
  myGetBayerRGGBAverages8Bit(frame.data(), w, h, 1, &record->mBalanceR, &record->mBalanceG,
                             &record->mBalanceB);
}

// Grey target (0x8080 each): green above 255, so the targets are
// round(128 x 0x8080 / 0x8080) = 128 and a half is done when its average lies
// in 117 .. 139. Bounds 0 .. 1023, both halves start at 511. By hand:
//   red  511 -> 153 high, no previous: far 0 -> 255
//        255 ->  76 low, previous 511 above: far 511 -> 383
//        383 -> 114 low, previous 255 below: far 1023 -> 703
//        703 -> 210 high, previous 383 below: far 383 -> 543
//        543 -> 162 high, previous 703 above: far 0 -> 271
//        271 ->  81 low, previous 543 above: far 543 -> 407
//        407 -> 122 done
//   blue 511 ->  63 low, no previous: far 1023 -> 767
//        767 ->  95 low, previous 511 below: far 1023 -> 895
//        895 -> 111 low, previous 767 below: far 1023 -> 959
//        959 -> 119 done
TEST_F(WhiteBalance, BisectionFromTheMidpointConvergesByTheExpectedSteps) {
  record.mBalanceColour = {0x8080, 0x8080, 0x8080};
  startRun(0, 1023);
  std::vector<UInt32> results;
  for (int frame = 0; frame < 20; ++frame) {
    takeFrame(camera, &record);
    const UInt32 done = myBalanceBayer_RB8Bit(&record);
    results.push_back(done);
    if (done == 1) break;
  }
  const std::vector<Sent> want = {{0x50C, 5, 255}, {0x50C, 4, 767}, {0x50C, 5, 383},
                                  {0x50C, 4, 895}, {0x50C, 5, 703}, {0x50C, 4, 959},
                                  {0x50C, 5, 543}, {0x50C, 5, 271}, {0x50C, 5, 407}};
  EXPECT_EQ(camera.sent, want);
  EXPECT_EQ(results, (std::vector<UInt32>{0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(record.mRedBalanceDone, 1);
  EXPECT_EQ(record.mBlueBalanceDone, 1);
  EXPECT_EQ(record.mRedBalanceValue, 407u);
  EXPECT_EQ(record.mRedBalancePrevious, 271u);
  EXPECT_EQ(record.mBlueBalanceValue, 959u);
  EXPECT_EQ(record.mBlueBalancePrevious, 895u);
  // A finished run sends nothing more.
  EXPECT_EQ(myBalanceBayer_RB8Bit(&record), 1u);
  EXPECT_EQ(camera.sent.size(), want.size());
}

TEST_F(WhiteBalance, FrameAlreadyWithinToleranceSendsNothing) {
  record.mBalanceColour = {0x8080, 0x8080, 0x8080};
  startRun(0, 1023);
  for (const UInt8 r : {117, 128, 139}) {
    record.mRedBalanceDone = record.mBlueBalanceDone = 0;
    setAverages(r, 128, UInt8(256 - r));
    EXPECT_EQ(myBalanceBayer_RB8Bit(&record), 1u) << int(r);
  }
  EXPECT_TRUE(camera.sent.empty());
  EXPECT_EQ(record.mRedBalanceValue, 511u);
  EXPECT_EQ(record.mRedBalancePrevious, kMyWhiteBalanceNoValue);
}

TEST_F(WhiteBalance, TargetsFromHighBytesOrScaledByMeasuredGreen) {
  struct Case {
    RGBColor target;
    UInt8 r, g, b;      // measured
    bool redDone, blueDone;
  };
  const Case cases[] = {
      // Target green 255 or less: the high bytes 0x9A = 154 and 0x2B = 43,
      // whatever green is measured.
      {{0x9A00, 0x00FF, 0x2B00}, 165, 7, 32, true, true},
      {{0x9A00, 0x00FF, 0x2B00}, 166, 250, 31, false, false},
      {{0x9A00, 0x0000, 0x2B00}, 143, 0, 54, true, true},
      // Green above 255: round(green x target / target green); measured green
      // 100 and red twice the green target: 200; blue half of it: 50.
      {{0x4000, 0x2000, 0x1000}, 211, 100, 39, true, true},
      {{0x4000, 0x2000, 0x1000}, 212, 100, 38, false, false},
      // 200 x 2 = 400 is above 254: 255. Blue 0.25 x 200 = 50.
      {{0x8000, 0x4000, 0x1000}, 244, 200, 61, true, true},
      {{0x8000, 0x4000, 0x1000}, 243, 200, 62, false, false},
      // A ratio ending in one half rounds away from zero: 3 x 0x300 / 0x200 =
      // 4.5 gives 5; red 16 lies within 11 of 5, blue 17 does not.
      {{0x0300, 0x0200, 0x0300}, 16, 3, 17, true, false},
  };
  for (const Case& c : cases) {
    startRun(0, 1023);
    camera.sent.clear();
    record.mBalanceColour = c.target;
    setAverages(c.r, c.g, c.b);
    const UInt32 done = myBalanceBayer_RB8Bit(&record);
    EXPECT_EQ(record.mRedBalanceDone, c.redDone ? 1 : 0) << int(c.r);
    EXPECT_EQ(record.mBlueBalanceDone, c.blueDone ? 1 : 0) << int(c.b);
    EXPECT_EQ(done, c.redDone && c.blueDone ? 1u : 0u);
    EXPECT_EQ(camera.sent.size(), size_t(!c.redDone) + size_t(!c.blueDone)) << int(c.r);
  }
}

TEST_F(WhiteBalance, RefusedValuesKeepTheSearchGoing) {
  // The camera refuses everything and its colour stays put: the search keeps
  // halving towards the lower bound from the recorded values.
  camera.answer = -2201;
  record.mBalanceColour = {0x8080, 0x8080, 0x8080};
  startRun(100, 900);  // both halves at 500
  for (int frame = 0; frame < 3; ++frame) {
    setAverages(200, 128, 128);
    EXPECT_EQ(myBalanceBayer_RB8Bit(&record), 0u);
  }
  // Red: 500 -> far 100 -> 300; 300 with 500 above -> far 100 -> 200;
  // 200 with 300 above -> 150. Blue is done from the first frame.
  const std::vector<Sent> want = {{0x50C, 5, 300}, {0x50C, 5, 200}, {0x50C, 5, 150}};
  EXPECT_EQ(camera.sent, want);
  EXPECT_EQ(record.mBlueBalanceDone, 1);
}

TEST(WhiteBalanceWithoutCamera, NullRecordAndNoSenderAreHarmless) {
  EXPECT_EQ(myBalanceBayer_RB8Bit(nullptr), 0u);
  const MyWhiteBalanceSendProc previous = mySetWhiteBalanceSendProc(nullptr);
  EXPECT_EQ(mySendWhiteBalanceValue(nullptr, 0x50C, 5, 1), paramErr);
  MyCameraWindowDataStruct record{};
  record.mRedBalancePrevious = record.mBlueBalancePrevious = kMyWhiteBalanceNoValue;
  record.mRedBalanceUpper = record.mBlueBalanceUpper = 1023;
  record.mBalanceColour = {0xFFFF, 0xFFFF, 0xFFFF};
  record.mBalanceR = record.mBalanceB = 10;
  record.mBalanceG = 255;
  EXPECT_EQ(myBalanceBayer_RB8Bit(&record), 0u);
  EXPECT_EQ(record.mRedBalanceValue, 511u);  // (1023 + 0) >> 1
  mySetWhiteBalanceSendProc(previous);
}

}  // namespace
