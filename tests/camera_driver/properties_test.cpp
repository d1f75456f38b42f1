// Capability blocks against images worked out by hand from the simulated
// personalities' registers (SimPersonalities.cpp).
#include <array>
#include <cstring>

#include "tests/camera_driver/dcam_fixture.h"

namespace {

using Block = std::array<UInt8, 384>;

void Put32(Block& b, size_t at, UInt32 v) { std::memcpy(&b[at], &v, 4); }
void PutName(Block& b, const char* name) { std::memcpy(&b[284], name, std::strlen(name)); }

Block Image(const MyDCAMCameraStruct* cam) {
  Block b;
  std::memcpy(b.data(), &cam->mProperties, 384);
  return b;
}

void ExpectBlock(const Block& actual, const Block& expected) {
  for (size_t i = 0; i < 384; i++) {
    EXPECT_EQ(int(actual[i]), int(expected[i])) << "byte " << i;
  }
}

class PropertiesTest : public DCAMTest {
 protected:
  MyDCAMCameraStruct* Open(UInt32 id) {
    cam_ = ORX_DCAM_OpenACamera(id);
    return cam_;
  }
  void TearDown() override {
    if (cam_) {
      EXPECT_EQ(ORX_DCAM_CloseACamera(cam_), 0);
    }
    ExpectNothingLeft();
    DCAMTest::TearDown();
  }
  MyDCAMCameraStruct* cam_ = nullptr;
};

// Mono: 0x100 = 0x81000000 (Formats 0 and 7); 0x180 = 0x06000000 (modes 5,
// 6); 0x214 = 0x38000000 (rates 2, 3, 4); 0x218 = 0x30000000 (rates 2, 3);
// 0x19C = 0x80000000 (mode 0); 0x404 = 0x81800000 (brightness bit 31, shutter
// bit 24, gain bit 23); only the shutter inquiry has bit 30, its CSR offset
// points at base + 0x2470.
Block MonoGolden() {
  Block g{};
  Put32(g, 0, 0x00030000);
  g[4] = 1;                          // Format 0
  g[5 + 5] = g[5 + 6] = 1;           // modes 5, 6
  g[13 + 8 * 5 + 2] = g[13 + 8 * 5 + 3] = g[13 + 8 * 5 + 4] = 1;
  g[13 + 8 * 6 + 2] = g[13 + 8 * 6 + 3] = 1;
  g[223] = 1;                        // Format 7
  g[224 + 0] = 1;                    // mode 0
  g[256 + 0] = 1;                    // brightness
  g[256 + 6] = 1;                    // gain (bit 23) before gamma
  g[256 + 8] = 1;                    // shutter
  Put32(g, 276, 0x00001001);         // id
  Put32(g, 280, 0x00A1B201);         // vendor word
  PutName(g, "Sim IIDC Mono 640");
  g[364 + 8] = 1;                    // absolute shutter
  return g;
}

// Colour: 0x100 = 0x01000000 (Format 7 only); 0x19C = 0xC0000000 (modes 0,
// 1); 0x404 = 0x10180000 (white balance bit 28, temperature bit 20, trigger
// bit 19); only temperature has bit 30 and an absolute block above the base.
Block ColourGolden() {
  Block g{};
  Put32(g, 0, 0x00030000);
  g[223] = 1;
  g[224] = g[225] = 1;
  g[256 + 3] = 1;                    // white balance
  g[256 + 11] = 1;                   // temperature
  g[256 + 12] = 1;                   // trigger
  Put32(g, 276, 0x00002002);
  Put32(g, 280, 0x00B09D01);
  PutName(g, "Sim IIDC Colour 1280 F7");
  g[364 + 11] = 1;                   // absolute temperature
  return g;
}

// USB (IIDC version 0x103 by rule, so absolute control counts): 0x100 =
// 0x81000000 (Formats 0 and 7); 0x180 = 0x06000000 (modes 5, 6); 0x214 =
// 0xF0000000 (rates 0..3); 0x218 = 0xE0000000 (rates 0..2); 0x19C =
// 0x80000000 (mode 0); 0x404 = 0x81800000 (brightness, shutter, gain). Shutter
// 0xCB001FFF and gain 0xCB0002A8 have bit 30; their CSR offset registers
// give the blocks 0xF0F02470 and 0xF0F02480, which, as a USB camera has no
// command base (0), are also their offsets. Brightness 0x890000FF has not.
// The id is the serial "1A2B", the vendor word 0x1E10, the name the product
// string.
Block USBGolden() {
  Block g{};
  Put32(g, 0, 0x00030000);
  g[4] = 1;                          // Format 0
  g[5 + 5] = g[5 + 6] = 1;           // modes 5, 6
  for (int r = 0; r <= 3; r++) g[13 + 8 * 5 + r] = 1;
  for (int r = 0; r <= 2; r++) g[13 + 8 * 6 + r] = 1;
  g[223] = 1;                        // Format 7
  g[224 + 0] = 1;                    // mode 0
  g[256 + 0] = 1;                    // brightness
  g[256 + 6] = 1;                    // gain
  g[256 + 8] = 1;                    // shutter
  Put32(g, 276, 0x00001A2B);
  Put32(g, 280, 0x00001E10);
  PutName(g, "Sim USB Camera");
  g[364 + 6] = 1;                    // absolute gain
  g[364 + 8] = 1;                    // absolute shutter
  return g;
}

TEST_F(PropertiesTest, MonoGolden) {
  Rig({SimMonoFireWirePersonality()});
  ASSERT_NE(Open(0x1001), nullptr);
  ExpectBlock(Image(cam_), MonoGolden());
  EXPECT_EQ(cam_->mAbsOffset[kDCAMShutter], 0x2470u);
  for (UInt32 f = 0; f < kDCAMFeatureCount; f++) {
    if (f != kDCAMShutter) {
      EXPECT_EQ(cam_->mAbsOffset[f], 0u) << f;
    }
  }
}

TEST_F(PropertiesTest, ColourGolden) {
  Rig({SimColourFireWirePersonality()});
  ASSERT_NE(Open(0x2002), nullptr);
  ExpectBlock(Image(cam_), ColourGolden());
  EXPECT_EQ(cam_->mAbsOffset[kDCAMTemperature], 0x24B0u);
}

TEST_F(PropertiesTest, USBGolden) {
  Rig({SimUSBPersonality()});
  ASSERT_NE(Open(0x1A2B), nullptr);
  ExpectBlock(Image(cam_), USBGolden());
  for (UInt32 f = 0; f < kDCAMFeatureCount; f++) {
    const UInt32 expected = f == kDCAMShutter ? 0xF0F02470u : f == kDCAMGain ? 0xF0F02480u : 0u;
    EXPECT_EQ(cam_->mAbsOffset[f], expected) << f;
  }
}

TEST_F(PropertiesTest, IIDC101HasNoAbsoluteFeature) {
  auto p = SimMonoFireWirePersonality();
  p.unitSWVersion = 0x101;
  Rig({p});
  ASSERT_NE(Open(0x1001), nullptr);
  Block g = MonoGolden();
  g[364 + 8] = 0;
  ExpectBlock(Image(cam_), g);
  EXPECT_EQ(cam_->mAbsOffset[kDCAMShutter], 0u);
}

TEST_F(PropertiesTest, FailedRateReadClearsThatMode) {
  auto cams = Rig({SimMonoFireWirePersonality()});
  cams[0]->FailRegister(0x214, SimAccessKind::Read, kIOReturnNotResponding);
  ASSERT_NE(Open(0x1001), nullptr);
  Block g = MonoGolden();
  g[5 + 5] = 0;
  g[13 + 8 * 5 + 2] = g[13 + 8 * 5 + 3] = g[13 + 8 * 5 + 4] = 0;
  ExpectBlock(Image(cam_), g);
}

TEST_F(PropertiesTest, FailedFormatInquiryLeavesOnlyTheIdentity) {
  auto cams = Rig({SimMonoFireWirePersonality()});
  cams[0]->FailRegister(0x100, SimAccessKind::Read, kIOReturnNotResponding);
  ASSERT_NE(Open(0x1001), nullptr);
  Block g{};
  Put32(g, 276, 0x00001001);
  Put32(g, 280, 0x00A1B201);
  PutName(g, "Sim IIDC Mono 640");
  ExpectBlock(Image(cam_), g);
  EXPECT_EQ(cam_->mFormat, 9u);
  EXPECT_EQ(cam_->mMode, 32u);
  EXPECT_EQ(cam_->mRate, 9u);
}

TEST_F(PropertiesTest, AbsoluteBlockAtOrBelowTheBaseIsRefused) {
  for (UInt32 quadlets : {SimQuadletOffsetFor(0xF0F00000, 0), (0xF0E00000u & 0x0FFFFFFF) >> 2}) {
    SCOPED_TRACE(quadlets);
    auto p = SimMonoFireWirePersonality();
    p.registers[0x71C] = quadlets;
    Rig({p});
    ASSERT_NE(Open(0x1001), nullptr);
    EXPECT_EQ(cam_->mProperties.mAbsoluteCapable[kDCAMShutter], 0);
    EXPECT_EQ(cam_->mAbsOffset[kDCAMShutter], 0u);
    EXPECT_EQ(ORX_DCAM_CloseACamera(cam_), 0);
    cam_ = nullptr;
  }
}

TEST_F(PropertiesTest, DefaultCameraPassesTheApplicationsChecks) {
  SimRemoveRig();
  MyDCAMCameraListStruct list;
  ASSERT_EQ(ORX_DCAM_GetListOfCameras(&list), 0);
  ASSERT_EQ(list.mCount, 1u);
  ASSERT_NE(Open(list.mEntries[0].mCameraID), nullptr);
  const MyDCAMCameraPropertiesStruct& p = cam_->mProperties;
  // A fixed monochrome mode the application can always use (Format 0 mode 5 or 6).
  EXPECT_TRUE(p.mFormat[0].mModeSupported[5] || p.mFormat[0].mModeSupported[6]);
  EXPECT_EQ(p.mFormat7Supported, 1);
  EXPECT_EQ(p.mFeaturePresent[kDCAMWhiteBalance], 1);
  EXPECT_EQ(p.mAbsoluteCapable[kDCAMShutter], 1);
  EXPECT_EQ(p.mVendor >> 8, 0xB09Du);
  // The camera-family registers: board information, image data format, tile order.
  UInt32 v = 0;
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(cam_, 0, 0x1F24, 0, &v), 0);
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(cam_, 0, 0x1048, 0, &v), 0);
  EXPECT_NE(v & 0x80000000u, 0u);
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(cam_, 0, 0x1040, 0, &v), 0);
  EXPECT_EQ(v, FOUR_CHAR_CODE("RGGB"));
  // Format 7 mode 0 reports the RGGB colour filter.
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(cam_, 0, 0x2E0, 0, &v), 0);
  UInt32 block = ((v * 4) | 0xF0000000u) - cam_->mCommandBase;
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(cam_, 0xFFFF, cam_->mCommandBase + block + 0x58, 1, &v), 0);
  EXPECT_EQ(v >> 24, 0u);
}

}  // namespace
