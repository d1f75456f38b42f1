// The application's entry points: each hands back exactly what its library
// operation answers.
#include <cstring>
#include <functional>

#include "camera_driver/ORXDCAM.h"
#include "tests/camera_driver/stream_fixture.h"

namespace {

constexpr OSStatus kNoDevice = OSStatus(0xE00002C0);

class ForwardersTest : public DCAMTest {
 protected:
  void TearDown() override {
    if (cam_) {
      EXPECT_EQ(ORXDCAMCloseACamera(cam_), 0);
    }
    ExpectNothingLeft();
    DCAMTest::TearDown();
  }
  MyDCAMCameraStruct* cam_ = nullptr;
};

TEST_F(ForwardersTest, NullHandleTable) {
  UInt32 u = 0;
  UInt8 b = 0, block[384];
  float f = 0;
  double d = 0;
  const std::pair<const char*, std::function<OSStatus()>> rows[] = {
      {"CloseACamera", [] { return ORXDCAMCloseACamera(nullptr); }},
      {"GetCameraProperties3", [&] { return ORXDCAMGetCameraProperties3(nullptr, block); }},
      {"SetQuadlet", [] { return ORXDCAMSetQuadlet(nullptr, 0, 0x614, 0, 0); }},
      {"GetQuadlet", [&] { return ORXDCAMGetQuadlet(nullptr, 0, 0x614, 0, &u); }},
      {"GetModeSevenBaseAddress", [&] { return ORXDCAMGetModeSevenBaseAddress(nullptr, 0, &u); }},
      {"GetFMRProperties",
       [&] { return ORXDCAMGetFMRProperties(nullptr, 7, 0, 0.0, &u, &u, &u, &u, &u, &u, &u, &u, &u); }},
      {"SetFMR", [] { return ORXDCAMSetFMR(nullptr, 0, 5, 30.0); }},
      {"Set7MR", [] { return ORXDCAMSet7MR(nullptr, 0, 0, 0, 640, 480, 0, 0); }},
      {"GetFMRLTWHCB", [&] { return ORXDCAMGetFMRLTWHCB(nullptr, &u, &u, &d, &u, &u, &u, &u, &u, &u); }},
      {"AllocateReleaseIsochChannel", [] { return ORXDCAMAllocateReleaseIsochChannel(nullptr, 1); }},
      {"StartStopVideo", [] { return ORXDCAMStartStopVideo(nullptr, 1); }},
      {"ResumePauseVideo", [] { return ORXDCAMResumePauseVideo(nullptr, 1); }},
      {"AssignCallback", [] { return ORXDCAMAssignCallback(nullptr, FrameCollector::Callback, nullptr); }},
      {"SixteenBitUpShiftAmount", [] { return ORXDCAMSixteenBitUpShiftAmount(nullptr, 4); }},
      {"SixteenBitEndianSwap", [] { return ORXDCAMSixteenBitEndianSwap(nullptr, 1); }},
      {"GetPropertyCapability",
       [&] { return ORXDCAMGetPropertyCapability(nullptr, 0x520, &u, &u, &b, &b, &b, &b, &b); }},
      {"GetPropertyValue", [&] { return ORXDCAMGetPropertyValue(nullptr, 0x520, 0, &u); }},
      {"SetPropertyValue", [] { return ORXDCAMSetPropertyValue(nullptr, 0x520, 0, 0); }},
      {"GetABSPropertyCapability", [&] { return ORXDCAMGetABSPropertyCapability(nullptr, 0x520, &f, &f, &b, &b); }},
      {"GetABSPropertyValue", [&] { return ORXDCAMGetABSPropertyValue(nullptr, 0x520, 0, &f); }},
      {"SetABSPropertyValue", [] { return ORXDCAMSetABSPropertyValue(nullptr, 0x520, 0, 1.0); }},
  };
  for (const auto& [name, call] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(call(), kNoDevice);
  }
}

TEST_F(ForwardersTest, ListAndOpen) {
  Rig({SimMonoFireWirePersonality(), SimUSBPersonality()});
  EXPECT_EQ(ORXDCAMGetListOfCameras(nullptr), kNoDevice);
  EXPECT_EQ(ORXDCAMOpenACamera(0x0BADCAFE), nullptr);

  MyDCAMCameraListStruct viaForwarder, viaLibrary;
  std::memset(&viaForwarder, 0xA5, sizeof viaForwarder);
  std::memset(&viaLibrary, 0xA5, sizeof viaLibrary);
  ASSERT_EQ(ORXDCAMGetListOfCameras(&viaForwarder), 0);
  ASSERT_EQ(ORX_DCAM_GetListOfCameras(&viaLibrary), 0);
  EXPECT_EQ(std::memcmp(&viaForwarder, &viaLibrary, sizeof viaLibrary), 0);
  ASSERT_EQ(viaForwarder.mCount, 2u);

  cam_ = ORXDCAMOpenACamera(0x1A2B);
  ASSERT_NE(cam_, nullptr);
  EXPECT_EQ(cam_->mVendor, 0x1E10u);
}

TEST_F(ForwardersTest, SameAnswersAsTheLibrary) {
  auto sim = Rig({SimDefaultColourPersonality()})[0];
  cam_ = ORXDCAMOpenACamera(0x3003);
  ASSERT_NE(cam_, nullptr);

  UInt32 a = 1, b = 2;
  EXPECT_EQ(ORXDCAMGetQuadlet(cam_, 0, 0x404, 0, &a), ORX_DCAM_ReadQuadlet(cam_, 0, 0x404, 0, &b));
  EXPECT_EQ(a, 0xF79D0000u);
  EXPECT_EQ(b, a);
  EXPECT_EQ(ORXDCAMSetQuadlet(cam_, 0xFFFF, 0xF0F00614, 1, 0x80000000), 0);
  EXPECT_EQ(sim->Peek(0x614), 0x80000000u);

  UInt32 min1, max1, min2, max2;
  UInt8 c1[5], c2[5];
  EXPECT_EQ(ORXDCAMGetPropertyCapability(cam_, 0x50C, &min1, &max1, &c1[0], &c1[1], &c1[2], &c1[3], &c1[4]),
            ORX_DCAM_GetPropertyCapability(cam_, 0x50C, &min2, &max2, &c2[0], &c2[1], &c2[2], &c2[3], &c2[4]));
  EXPECT_EQ(min1, min2);
  EXPECT_EQ(max1, max2);
  EXPECT_EQ(std::memcmp(c1, c2, 5), 0);

  EXPECT_EQ(ORXDCAMSetPropertyValue(cam_, 0x50C, 5, 0x123), 0);
  EXPECT_EQ(ORXDCAMGetPropertyValue(cam_, 0x50C, 5, &a), 0);
  EXPECT_EQ(a, 0x123u);
  EXPECT_EQ(ORXDCAMSetPropertyValue(cam_, 0x520, 0, 0x2A9), -50);
  EXPECT_EQ(ORXDCAMSetPropertyValue(cam_, 0x510, 0, 1), -2201);

  float f1, f2, g1, g2;
  UInt8 r1, r2, m1, m2;
  EXPECT_EQ(ORXDCAMGetABSPropertyCapability(cam_, 0x51C, &f1, &g1, &r1, &m1),
            ORX_DCAM_GetABSPropertyCapability(cam_, 0x51C, &f2, &g2, &r2, &m2));
  EXPECT_EQ(f1, f2);
  EXPECT_EQ(g1, g2);
  EXPECT_EQ(r1, r2);
  EXPECT_EQ(m1, m2);
  EXPECT_EQ(ORXDCAMSetABSPropertyValue(cam_, 0x51C, 0, 0.5), 0);
  EXPECT_EQ(ORXDCAMGetABSPropertyValue(cam_, 0x51C, 0, &f1), 0);
  EXPECT_EQ(f1, 0.5f);
  EXPECT_EQ(ORXDCAMGetABSPropertyValue(cam_, 0x51C, 2, &f1), -2201);
}

TEST_F(ForwardersTest, FormatsThroughTheForwarders) {
  auto sim = Rig({SimDefaultColourPersonality()})[0];
  cam_ = ORXDCAMOpenACamera(0x3003);
  ASSERT_NE(cam_, nullptr);

  UInt32 r1[9], r2[9];
  EXPECT_EQ(ORXDCAMGetFMRProperties(cam_, 7, 0, 0.0, &r1[0], &r1[1], &r1[2], &r1[3], &r1[4], &r1[5], &r1[6],
                                    &r1[7], &r1[8]),
            ORX_DCAM_GetFMRProperties(cam_, 7, 0, 0.0, &r2[0], &r2[1], &r2[2], &r2[3], &r2[4], &r2[5], &r2[6],
                                      &r2[7], &r2[8]));
  EXPECT_EQ(std::memcmp(r1, r2, sizeof r1), 0);
  EXPECT_EQ(r1[0], 1280u);
  EXPECT_EQ(r1[1], 960u);

  UInt32 a1 = 0, a2 = 1;
  EXPECT_EQ(ORXDCAMGetModeSevenBaseAddress(cam_, 1, &a1), ORX_DCAM_GetModeSevenBaseAddress(cam_, 1, &a2));
  EXPECT_EQ(a1, a2);
  EXPECT_EQ(a1, 0xF0F08100u);

  UInt32 g[8];
  double fps = 0;
  EXPECT_EQ(ORXDCAMGetFMRLTWHCB(cam_, &g[0], &g[1], &fps, &g[2], &g[3], &g[4], &g[5], &g[6], &g[7]), -50);
  ASSERT_EQ(ORXDCAMSetFMR(cam_, 0, 5, 30.0), 0);
  ASSERT_EQ(ORXDCAMGetFMRLTWHCB(cam_, &g[0], &g[1], &fps, &g[2], &g[3], &g[4], &g[5], &g[6], &g[7]), 0);
  EXPECT_EQ(g[0], 0u);
  EXPECT_EQ(g[1], 5u);
  EXPECT_EQ(fps, 30.0);
  EXPECT_EQ(g[4], 640u);
  EXPECT_EQ(g[5], 480u);
  EXPECT_EQ(ORXDCAMSetFMR(cam_, 0, 1, 30.0), -2201);

  ASSERT_EQ(ORXDCAMSet7MR(cam_, 1, 0, 0, 320, 240, 9, 0), 0);
  ASSERT_EQ(ORXDCAMGetFMRLTWHCB(cam_, &g[0], &g[1], &fps, &g[2], &g[3], &g[4], &g[5], &g[6], &g[7]), 0);
  EXPECT_EQ(g[1], 1u);
  EXPECT_EQ(g[4], 320u);
  EXPECT_EQ(g[5], 240u);
  EXPECT_EQ(ORXDCAMSet7MR(cam_, 5, 0, 0, 320, 240, 9, 0), -2201);
}

TEST_F(ForwardersTest, StreamingThroughTheForwarders) {
  auto sim = Rig({SimUSBPersonality()})[0];
  sim->Stream().SetClock(SimClock::Stepped);
  cam_ = ORXDCAMOpenACamera(0x1A2B);
  ASSERT_NE(cam_, nullptr);
  // Out of order: no format yet.
  EXPECT_EQ(ORXDCAMAllocateReleaseIsochChannel(cam_, 1), ORX_DCAM_StartStopISOCHTransfer(cam_, 1));
  EXPECT_EQ(ORXDCAMResumePauseVideo(cam_, 1), -50);
  EXPECT_EQ(ORXDCAMSixteenBitUpShiftAmount(cam_, 8), -50);
  EXPECT_EQ(ORXDCAMSixteenBitUpShiftAmount(cam_, 8), ORX_DCAM_SixteenBitUpShiftAmount(cam_, 8));
  EXPECT_EQ(ORXDCAMSixteenBitUpShiftAmount(cam_, 3), 0);
  EXPECT_EQ(cam_->mUpShift, 3u);
  EXPECT_EQ(ORXDCAMSixteenBitEndianSwap(cam_, 1), 0);
  EXPECT_EQ(cam_->mSwap16, 1);
  EXPECT_EQ(ORXDCAMSixteenBitUpShiftAmount(cam_, 0), 0);
  EXPECT_EQ(ORXDCAMSixteenBitEndianSwap(cam_, 0), 0);

  FrameCollector frames;
  SetStreamMode(cam_, *sim, kMono8VGA);
  ASSERT_EQ(ORXDCAMAllocateReleaseIsochChannel(cam_, 1), 0);
  ASSERT_EQ(ORXDCAMAssignCallback(cam_, FrameCollector::Callback, &frames), 0);
  ASSERT_EQ(ORXDCAMStartStopVideo(cam_, 1), 0);
  const UInt32 first = sim->Stream().NextFrameID();
  for (int i = 0; i < 2; i++) {
    ASSERT_EQ(sim->Stream().StepBulkFrames(1), 1);
    ASSERT_TRUE(frames.WaitFor(i + 1));
    ASSERT_TRUE(WaitCallbackIdle(cam_));
  }
  EXPECT_EQ(ORXDCAMResumePauseVideo(cam_, 0), 0);
  EXPECT_EQ(ORXDCAMResumePauseVideo(cam_, 1), 0);
  EXPECT_EQ(ORXDCAMAssignCallback(cam_, nullptr, nullptr), 0);
  EXPECT_EQ(ORXDCAMStartStopVideo(cam_, 0), 0);
  EXPECT_EQ(ORXDCAMAllocateReleaseIsochChannel(cam_, 0), 0);
  ASSERT_EQ(frames.count, 2);
  EXPECT_EQ(frames.frames[0], HostOrderReference(*sim, first, false));
  EXPECT_EQ(frames.frames[1], HostOrderReference(*sim, first + 1, false));
}

TEST_F(ForwardersTest, CameraPropertiesCopy) {
  Rig({SimColourFireWirePersonality()});
  cam_ = ORXDCAMOpenACamera(0x2002);
  ASSERT_NE(cam_, nullptr);
  EXPECT_EQ(ORXDCAMGetCameraProperties3(cam_, nullptr), kNoDevice);

  UInt8 block[384 + 8];
  std::memset(block, 0xEE, sizeof block);
  ASSERT_EQ(ORXDCAMGetCameraProperties3(cam_, block), 0);
  EXPECT_EQ(std::memcmp(block, &cam_->mProperties, 384), 0);
  for (size_t i = 384; i < sizeof block; i++) EXPECT_EQ(block[i], 0xEE) << i;
  // The identity the application reads from the block: id, vendor word, name.
  UInt32 id, vendor;
  std::memcpy(&id, block + 276, 4);
  std::memcpy(&vendor, block + 280, 4);
  EXPECT_EQ(id, 0x00002002u);
  EXPECT_EQ(vendor, 0x00B09D01u);
  EXPECT_STREQ(reinterpret_cast<const char*>(block + 284), "Sim IIDC Colour 1280 F7");
}

}  // namespace
