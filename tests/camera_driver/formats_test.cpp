#include <cmath>
#include <functional>

#include "tests/camera_driver/dcam_fixture.h"

namespace {

constexpr OSType kRaw = FOUR_CHAR_CODE("raw ");

// Most tests shorten the 10 ms and 30 ms pauses the camera needs; the ones that
// check the spacing and the value-setting patience keep them.
class FormatsTest : public DCAMTest {
 protected:
  void SetUp() override {
    DCAMTest::SetUp();
    gDCAMWriteSpacingMicros = 100;
    gDCAMValueSettingPollMicros = 100;
  }
  void TearDown() override {
    for (auto* cam : opened_) EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
    opened_.clear();
    gDCAMWriteSpacingMicros = 10000;
    gDCAMValueSettingPollMicros = 30000;
    ExpectNothingLeft();
    DCAMTest::TearDown();
  }
  MyDCAMCameraStruct* Open(UInt32 id) {
    MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(id);
    EXPECT_NE(cam, nullptr);
    if (cam) opened_.push_back(cam);
    return cam;
  }
  // Register writes in the log, as (offset, value).
  static std::vector<std::pair<UInt32, UInt32>> Writes(const SimCamera& sim) {
    std::vector<std::pair<UInt32, UInt32>> w;
    for (const SimLogEntry& e : sim.Log())
      if (e.kind == SimLogKind::FWWrite || (e.kind == SimLogKind::USBControl && e.setup.bmRequestType == 0x40))
        w.push_back({e.offset, e.value});
    return w;
  }
  std::vector<MyDCAMCameraStruct*> opened_;
};

TEST_F(FormatsTest, FixedModeTableSpotChecks) {
  struct Case {
    UInt32 format, mode, rate;
    UInt32 width, height;
    OSType code;
    UInt32 bits, bytesPerPacket;
  };
  const Case cases[] = {
      {0, 5, 4, 640, 480, kRaw, 8, 1280},                       // 10240 >> 3
      {0, 0, 7, 160, 120, FOUR_CHAR_CODE("v308"), 24, 1920},
      {0, 2, 0, 640, 480, FOUR_CHAR_CODE("Y411"), 12, 120},    // 15360 >> 7
      {1, 1, 4, 800, 600, kRaw, 24, 6000},                      // 24000 >> 2
      {1, 1, 7, 800, 600, kRaw, 24, 0},                         // above the mode's top rate
      {2, 4, 4, 1600, 1200, kRaw, 24, 24000},
      {2, 4, 5, 1600, 1200, kRaw, 24, 0},
      {2, 7, 3, 1600, 1200, kRaw, 16, 8000},                    // 32000 >> 2
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << "/" << c.mode << "/" << c.rate);
    UInt32 w, h, bits, bpp;
    OSType code;
    ASSERT_TRUE(myCameraFMToPixParams(c.format, c.mode, c.rate, &w, &h, &code, &bits, &bpp));
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(bits, c.bits);
    EXPECT_EQ(bpp, c.bytesPerPacket);
  }
  UInt32 w, h, bits, bpp;
  OSType code;
  EXPECT_FALSE(myCameraFMToPixParams(0, 7, 0, &w, &h, &code, &bits, &bpp));
  EXPECT_FALSE(myCameraFMToPixParams(3, 0, 0, &w, &h, &code, &bits, &bpp));

  const std::pair<double, UInt32> rates[] = {{240, 7}, {500, 7}, {239.9, 6}, {30, 4}, {29.99, 3},
                                             {7.5, 2}, {3.75, 1}, {3.7, 0}, {0, 0}, {-5, 0}};
  for (auto [fps, index] : rates) EXPECT_EQ(myRateIndexFromFPS(fps), index) << fps;

  const std::pair<UInt32, UInt32> segments[] = {{240, 240}, {270, 270}, {540, 270}, {1000, 250},
                                                {1009, 270}, {541, 270}, {75, 75}};
  for (auto [packets, perSegment] : segments) EXPECT_EQ(myPacketsPerSegment(packets), perSegment) << packets;
}

TEST_F(FormatsTest, RateValidation) {
  MyDCAMCameraPropertiesStruct p = {};
  p.mFormat[0].mFormatSupported = 1;
  p.mFormat[0].mModeSupported[5] = 1;
  auto rates = [&](std::initializer_list<int> on) {
    for (int r = 0; r < 8; r++) p.mFormat[0].mRateSupported[5][r] = 0;
    for (int r : on) p.mFormat[0].mRateSupported[5][r] = 1;
  };
  struct Case {
    std::initializer_list<int> supported;
    UInt32 format, mode, requested;
    OSStatus status;
    UInt32 index;
  };
  const Case cases[] = {
      {{3, 4}, 0, 5, 4, 0, 4},
      {{3}, 0, 5, 4, 0, 3},      // no 30 fps: falls back to 15
      {{5}, 0, 5, 0, 0, 5},      // index 0 missing: searched upward
      {{5}, 0, 5, 2, -3, 0},     // nothing at or below: the search ends at 0
      {{}, 0, 5, 7, -3, 0},
      {{1}, 0, 5, 9, -3, 9},
      {{1}, 3, 5, 1, -1, 1},
      {{1}, 0, 6, 1, -2, 1},
      {{1}, 1, 5, 1, -2, 1},
  };
  for (const Case& c : cases) {
    rates(c.supported);
    UInt32 index = c.requested;
    EXPECT_EQ(myGetValidCameraRate(&p, c.format, c.mode, &index), c.status) << c.requested;
    EXPECT_EQ(index, c.index) << c.requested;
  }
}

// The callers' second try starts from where the failed search stopped, so a
// mode that offers only rates above the request gets the slowest of them.
TEST_F(FormatsTest, RateFallbackThroughTheCallers) {
  struct Case {
    UInt32 rateInquiry;  // Format 0 mode 5 (640x480 Mono8, base 10240, top 7)
    double fps;
    OSStatus setStatus, propertiesStatus;
    UInt32 rate;  // the index programmed
    double fpsAfter;
    UInt32 bytesPerPacket;  // 10240 >> (7 - rate)
  };
  const Case cases[] = {
      {1u << (31 - 6), 30.0, 0, 0, 6, 120.0, 5120},   // only 120 fps: 30 gives 120
      {1u << (31 - 7), 120.0, 0, 0, 7, 240.0, 10240},  // only 240 fps: 120 gives 240
      {1u << (31 - 6), 60.0, 0, 0, 6, 120.0, 5120},   // the first retry index itself is missing
      {1u << (31 - 5), 1.875, 0, 0, 5, 60.0, 2560},   // index 0 searches upward at once
      {1u << (31 - 2), 240.0, 0, 0, 2, 7.5, 320},     // a faster request falls to the nearest lower rate
      {0, 30.0, -2201, -3, 0, 0.0, 0},                // no rate at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.rateInquiry << std::dec << " at " << c.fps << " fps");
    auto p = SimMonoFireWirePersonality();
    p.registers[0x214] = c.rateInquiry;
    auto cams = Rig({p});
    MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(0x1001);
    ASSERT_NE(cam, nullptr);
    UInt32 r[9] = {};
    EXPECT_EQ(ORX_DCAM_GetFMRProperties(cam, 0, 5, c.fps, &r[0], &r[1], &r[2], &r[3], &r[4], &r[5], &r[6], &r[7],
                                        &r[8]),
              c.propertiesStatus);
    if (c.propertiesStatus == noErr) {
      EXPECT_EQ(r[6], c.bytesPerPacket);
      EXPECT_EQ(r[7], c.bytesPerPacket);
    }
    EXPECT_EQ(ORX_DCAM_SetFMR(cam, 0, 5, c.fps), c.setStatus);
    if (c.setStatus == noErr) {
      UInt32 f, m, l, t, w, h, code, bits;
      double fps = 0;
      EXPECT_EQ(ORX_DCAM_GetFMRWHOB(cam, &f, &m, &fps, &l, &t, &w, &h, &code, &bits), 0);
      EXPECT_EQ(fps, c.fpsAfter);
      EXPECT_EQ(cam->mRate, c.rate);
      EXPECT_EQ(cam->mBytesPerPacket, c.bytesPerPacket);
      EXPECT_EQ(cams[0]->Peek(0x600), c.rate << 29);
    } else {
      EXPECT_EQ(cam->mFormatSet, 0);
    }
    EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
  }
}

TEST_F(FormatsTest, SetFMRWritesInOrderOnceAndAgainAfterAFailure) {
  gDCAMWriteSpacingMicros = 10000;  // the real spacing, checked below
  auto cams = Rig({SimMonoFireWirePersonality()});
  SimCamera& sim = *cams[0];
  MyDCAMCameraStruct* cam = Open(0x1001);
  ASSERT_NE(cam, nullptr);
  UInt32 f, m, l, t, w, h, code, bits;
  double fps;
  EXPECT_EQ(ORX_DCAM_GetFMRWHOB(cam, &f, &m, &fps, &l, &t, &w, &h, &code, &bits), paramErr);

  sim.ClearLog();
  ASSERT_EQ(ORX_DCAM_SetFMR(cam, 0, 5, 30.0), 0);
  auto log = sim.Log();
  ASSERT_EQ(log.size(), 3u);
  const UInt32 expected[3][2] = {{0x608, 0}, {0x604, 5u << 29}, {0x600, 4u << 29}};
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(log[i].kind, SimLogKind::FWWrite);
    EXPECT_EQ(log[i].offset, expected[i][0]);
    EXPECT_EQ(log[i].value, expected[i][1]);
    if (i) {
      EXPECT_GE(log[i].micros - log[i - 1].micros, 10000u);
    }
  }
  ASSERT_EQ(ORX_DCAM_GetFMRWHOB(cam, &f, &m, &fps, &l, &t, &w, &h, &code, &bits), 0);
  EXPECT_EQ(f, 0u);
  EXPECT_EQ(m, 5u);
  EXPECT_EQ(fps, 30.0);
  EXPECT_EQ(l, 0u);
  EXPECT_EQ(t, 0u);
  EXPECT_EQ(w, 640u);
  EXPECT_EQ(h, 480u);
  EXPECT_EQ(code, kRaw);
  EXPECT_EQ(bits, 8u);
  EXPECT_EQ(cam->mBytesPerPacket, 1280u);
  EXPECT_EQ(cam->mRecvPacketSize, 1284u);
  EXPECT_EQ(cam->mFrameByteCount, 307200u);
  EXPECT_EQ(cam->mPacketsPerSegment, 240u);
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  for (int s = 0; s < 3; s++) EXPECT_EQ(reinterpret_cast<uintptr_t>(cam->mSlot[s]) % page, 0u);
  EXPECT_GE(cam->mSlot[1] - cam->mSlot[0], 307200);
  EXPECT_EQ(cam->mSlot[2][307199], 0xFF);

  sim.ClearLog();
  EXPECT_EQ(ORX_DCAM_SetFMR(cam, 0, 5, 30.0), 0);
  EXPECT_EQ(sim.LogSize(), 0u);  // nothing changed: nothing written

  // A rate the mode lacks falls back: 60 fps -> 30 fps, the same settings.
  EXPECT_EQ(ORX_DCAM_SetFMR(cam, 0, 5, 60.0), 0);
  EXPECT_EQ(sim.LogSize(), 0u);

  gDCAMWriteSpacingMicros = 100;
  sim.FailRegister(0x604, SimAccessKind::Write, kIOReturnNotResponding, 1);
  EXPECT_EQ(ORX_DCAM_SetFMR(cam, 0, 6, 15.0), kIOReturnNotResponding);
  auto writes = Writes(sim);
  ASSERT_EQ(writes.size(), 2u);  // 0x608, then the failing 0x604; 0x600 skipped
  EXPECT_EQ(writes[1].first, 0x604u);
  sim.ClearLog();
  EXPECT_EQ(ORX_DCAM_SetFMR(cam, 0, 6, 15.0), 0);  // the same call programs the camera again
  writes = Writes(sim);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[2], (std::pair<UInt32, UInt32>{0x600, 3u << 29}));
  EXPECT_EQ(sim.Peek(0x604), 6u << 29);
}

TEST_F(FormatsTest, SetFMRRefusals) {
  auto broken = SimMonoFireWirePersonality();
  broken.registers[0x100] |= 0x40000000;  // Format 1 ...
  broken.registers[0x184] = 0x40000000;   // ... mode 1 ...
  broken.registers[0x224] = 0x01000000;   // ... claiming 240 fps, above its table's top
  Rig({broken});
  MyDCAMCameraStruct* cam = Open(0x1001);
  ASSERT_NE(cam, nullptr);
  EXPECT_EQ(ORX_DCAM_SetFMR(cam, 1, 1, 240.0), -2201);
  EXPECT_EQ(ORX_DCAM_SetFMR(cam, 0, 7, 30.0), -2201);
  EXPECT_EQ(ORX_DCAM_SetFMR(cam, 3, 0, 30.0), -2201);
  EXPECT_EQ(ORX_DCAM_SetFMR(cam, 0, 1, 30.0), -2201);  // mode not offered
  EXPECT_EQ(ORX_DCAM_SetFMR(nullptr, 0, 5, 30.0), OSStatus(0xE00002C0));
  EXPECT_EQ(cam->mFormatSet, 0);
}

TEST_F(FormatsTest, GetFMRPropertiesOrderAndCodes) {
  Rig({SimMonoFireWirePersonality()});
  MyDCAMCameraStruct* cam = Open(0x1001);
  ASSERT_NE(cam, nullptr);
  UInt32 r[9];
  auto query = [&](UInt32 format, UInt32 mode, double fps) {
    return ORX_DCAM_GetFMRProperties(cam, format, mode, fps, &r[0], &r[1], &r[2], &r[3], &r[4], &r[5], &r[6], &r[7],
                                     &r[8]);
  };
  ASSERT_EQ(query(7, 0, 3.75), 0);
  const UInt32 f7[9] = {640, 480, 4, 2, 4, 2, 4, 4096, 0x84100000};  // packet unit before packet maximum
  for (int i = 0; i < 9; i++) EXPECT_EQ(r[i], f7[i]) << i;
  ASSERT_EQ(query(0, 5, 30), 0);
  const UInt32 f0m5[9] = {640, 480, 640, 480, 640, 480, 1280, 1280, 0x80000000};
  for (int i = 0; i < 9; i++) EXPECT_EQ(r[i], f0m5[i]) << i;
  ASSERT_EQ(query(0, 6, 7.5), 0);
  EXPECT_EQ(r[6], 20480u >> 5);
  EXPECT_EQ(r[8], 0x08000000u);
  EXPECT_EQ(query(0, 1, 30), -2);      // the validator's code
  EXPECT_EQ(query(0, 7, 30), -2201);
  EXPECT_EQ(query(7, 1, 30), -2201);
  EXPECT_EQ(query(7, 32, 30), -2201);
  UInt32 address = 0;
  EXPECT_EQ(ORX_DCAM_GetModeSevenBaseAddress(cam, 0, &address), 0);
  EXPECT_EQ(address, 0xF0F08000u);
  EXPECT_EQ(ORX_DCAM_GetModeSevenBaseAddress(cam, 32, &address), paramErr);
  EXPECT_EQ(ORX_DCAM_GetModeSevenBaseAddress(nullptr, 0, &address), OSStatus(0xE00002C0));
}

TEST_F(FormatsTest, FormatSevenRegions) {
  auto cams = Rig({SimMonoFireWirePersonality()});
  SimCamera& sim = *cams[0];
  MyDCAMCameraStruct* cam = Open(0x1001);
  ASSERT_NE(cam, nullptr);
  struct Case {
    const char* what;
    UInt32 left, top, width, height, id, bytesPerPacket;
    OSStatus status;
    UInt32 position, size, packet;  // block registers afterwards
  };
  const Case cases[] = {
      {"whole sensor, Mono8, 4096", 0, 0, 640, 480, 0, 4096, 0, 0, 640u << 16 | 480, 4096},
      {"width 0: full width at left 0", 100, 8, 0, 240, 0, 4096, 0, 8, 640u << 16 | 240, 4096},
      {"region at the unit position", 320, 240, 320, 240, 5, 2000, 0, 320u << 16 | 240, 320u << 16 | 240, 2000},
      {"misaligned left", 2, 0, 320, 240, 0, 4096, paramErr, 0, 0, 0},
      {"left + width beyond the sensor", 324, 0, 320, 240, 0, 4096, paramErr, 0, 0, 0},
      {"width not a multiple of the unit", 0, 0, 322, 240, 0, 4096, paramErr, 0, 0, 0},
      {"height beyond the sensor", 0, 2, 640, 480, 0, 4096, paramErr, 0, 0, 0},
      {"coding the camera lacks (RGB8)", 0, 0, 640, 480, 4, 4096, paramErr, 0, 0, 0},
      {"unknown coding", 0, 0, 640, 480, 13, 4096, paramErr, 0, 0, 0},
      {"packet 0: the largest", 0, 0, 640, 480, 0, 0, 0, 0, 640u << 16 | 480, 4096},
      {"packet above the maximum", 0, 0, 640, 480, 0, 5000, 0, 0, 640u << 16 | 480, 4096},
      {"packet below the unit", 0, 0, 640, 480, 0, 2, 0, 0, 640u << 16 | 480, 4},
      {"packet rounded down to the unit", 0, 0, 640, 480, 0, 1001, 0, 0, 640u << 16 | 480, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim.ClearLog();
    EXPECT_EQ(ORX_DCAM_SetModeSeven(cam, 0, c.left, c.top, c.width, c.height, c.id, c.bytesPerPacket), c.status);
    if (c.status != noErr) {
      EXPECT_TRUE(Writes(sim).empty());  // refused before anything was written
      continue;
    }
    EXPECT_EQ(sim.Peek(0x8008), c.position);
    EXPECT_EQ(sim.Peek(0x800C), c.size);
    EXPECT_EQ(sim.Peek(0x8010), c.id << 24);
    EXPECT_EQ(sim.Peek(0x8044), c.packet << 16);
    EXPECT_EQ(sim.Peek(0x8000 + 0x7C) & 0x00C00000u, 0u);  // the camera found no error
  }
  EXPECT_EQ(ORX_DCAM_SetModeSeven(cam, 1, 0, 0, 0, 0, 0, 0), -2201);
  EXPECT_EQ(ORX_DCAM_SetModeSeven(cam, 32, 0, 0, 0, 0, 0, 0), -2201);
  EXPECT_EQ(ORX_DCAM_SetModeSeven(nullptr, 0, 0, 0, 0, 0, 0, 0), OSStatus(0xE00002C0));
}

TEST_F(FormatsTest, FormatSevenGeometryAndRate) {
  auto cams = Rig({SimMonoFireWirePersonality()});
  MyDCAMCameraStruct* cam = Open(0x1001);
  ASSERT_NE(cam, nullptr);
  ASSERT_EQ(ORX_DCAM_SetModeSeven(cam, 0, 0, 0, 640, 480, 0, 4096), 0);
  UInt32 f, m, l, t, w, h, code, bits;
  double fps;
  ASSERT_EQ(ORX_DCAM_GetFMRWHOB(cam, &f, &m, &fps, &l, &t, &w, &h, &code, &bits), 0);
  EXPECT_EQ(f, 7u);
  EXPECT_EQ(m, 0u);
  EXPECT_DOUBLE_EQ(fps, 4096.0 * 8000.0 / 307200.0);  // 106.666...
  EXPECT_EQ(w, 640u);
  EXPECT_EQ(h, 480u);
  EXPECT_EQ(code, kRaw);
  EXPECT_EQ(bits, 8u);
  EXPECT_EQ(cam->mRate, 1u);
  EXPECT_EQ(cam->mPacketsPerSegment, 75u);
  EXPECT_EQ(cam->mRecvPacketSize, 4100u);
  // The register sequence: format and mode around the saved channel register.
  auto writes = Writes(*cams[0]);
  ASSERT_GE(writes.size(), 8u);
  EXPECT_EQ(writes[0], (std::pair<UInt32, UInt32>{0x608, 0xE0000000}));
  EXPECT_EQ(writes[1], (std::pair<UInt32, UInt32>{0x604, 0}));
  EXPECT_EQ(writes[2].first, 0x60Cu);
  EXPECT_EQ(writes[3], (std::pair<UInt32, UInt32>{0x8008, 0}));
  EXPECT_EQ(writes[4], (std::pair<UInt32, UInt32>{0x800C, 640u << 16 | 480}));
  EXPECT_EQ(writes[5], (std::pair<UInt32, UInt32>{0x8010, 0}));
  EXPECT_EQ(writes[6], (std::pair<UInt32, UInt32>{0x807C, 0xC0000000}));
  EXPECT_EQ(writes[7], (std::pair<UInt32, UInt32>{0x8044, 4096u << 16}));

  // Twelve-bit and sixteen-bit codings.
  ASSERT_EQ(ORX_DCAM_SetModeSeven(cam, 0, 0, 0, 640, 480, 11, 0), 0);
  ASSERT_EQ(ORX_DCAM_GetFMRWHOB(cam, &f, &m, &fps, &l, &t, &w, &h, &code, &bits), 0);
  EXPECT_EQ(bits, 12u);
  EXPECT_EQ(cam->mFrameByteCount, 460800u);
  // Back to a fixed mode programs the camera again.
  ASSERT_EQ(ORX_DCAM_SetFMR(cam, 0, 5, 15.0), 0);
  ASSERT_EQ(ORX_DCAM_GetFMRWHOB(cam, &f, &m, &fps, &l, &t, &w, &h, &code, &bits), 0);
  EXPECT_EQ(f, 0u);
  EXPECT_EQ(fps, 15.0);
}

TEST_F(FormatsTest, FormatSevenModesAboveSevenUseTheModeBank) {
  auto p = SimMonoFireWirePersonality();
  for (UInt32 mode : {9u, 17u, 30u}) {
    const UInt32 block = 0x8000 + 0x100 * mode;
    p.registers[0x19C] |= 1u << (31 - mode);
    p.registers[0x2E0 + 4 * mode] = SimQuadletOffsetFor(p.commandBase, block);
    for (UInt32 r = 0; r < 0x80; r += 4)
      if (p.registers.count(0x8000 + r)) p.registers[block + r] = p.registers[0x8000 + r];
  }
  auto cams = Rig({p});
  MyDCAMCameraStruct* cam = Open(0x1001);
  ASSERT_NE(cam, nullptr);
  const std::pair<UInt32, UInt32> cases[] = {{9, 0x21000000}, {17, 0x22000000}, {30, 0xC3000000}};
  for (auto [mode, register604] : cases) {
    EXPECT_EQ(ORX_DCAM_SetModeSeven(cam, mode, 0, 0, 0, 0, 0, 0), 0) << mode;
    EXPECT_EQ(cams[0]->Peek(0x604), register604) << mode;
    EXPECT_EQ(cams[0]->Peek(0x8000 + 0x100 * mode + 0x0C), 640u << 16 | 480) << mode;
  }
}

TEST_F(FormatsTest, FormatSevenPacketClampedToTheBusMaximum) {
  auto usb = SimUSBPersonality();
  usb.speedCode = 3;  // the camera would send 8192-byte packets; USB takes 0x1000
  Rig({usb});
  MyDCAMCameraStruct* cam = Open(0x1A2B);
  ASSERT_NE(cam, nullptr);
  UInt32 r[9];
  ASSERT_EQ(ORX_DCAM_GetFMRProperties(cam, 7, 0, 0, &r[0], &r[1], &r[2], &r[3], &r[4], &r[5], &r[6], &r[7], &r[8]), 0);
  EXPECT_EQ(r[6], 4u);
  EXPECT_EQ(r[7], 4096u);
  ASSERT_EQ(ORX_DCAM_SetModeSeven(cam, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(cam->mBytesPerPacket, 4096u);
  EXPECT_EQ(cameras_[0]->Peek(0x8044), 4096u << 16);
}

TEST_F(FormatsTest, FormatSevenCameraQuirksAndRefusals) {
  struct Case {
    const char* what;
    std::function<void(SimCameraPersonality&)> change;
    OSStatus status;
  };
  const Case cases[] = {
      {"unit size 0", [](auto& p) { p.registers[0x8004] = 0; }, paramErr},
      {"packet unit 0", [](auto& p) { p.format7PacketUnit = 0; }, paramErr},
      {"maximum size 0", [](auto& p) { p.registers[0x8000] = 0; }, paramErr},
      {"camera refuses the region (error 1)", [](auto& p) { p.format7RefuseRegions = true; }, paramErr},
      {"unit equal to the maximum", [](auto& p) { p.registers[0x8004] = 640u << 16 | 480; }, noErr},
      {"unit position 0 means the unit size", [](auto& p) { p.registers[0x804C] = 0; }, noErr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto p = SimMonoFireWirePersonality();
    c.change(p);
    Rig({p});
    MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(0x1001);
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(ORX_DCAM_SetModeSeven(cam, 0, 0, 0, 640, 480, 0, 4096), c.status);
    if (c.status != noErr) {
      EXPECT_EQ(cam->mFormatSet, 0);
    }
    EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
  }
}

TEST_F(FormatsTest, FormatSevenVendorQuirkAndPatientValueSetting) {
  gDCAMValueSettingPollMicros = 30000;  // the real patience, grouped in this one test
  auto quirky = SimMonoFireWirePersonality();
  quirky.guid = 0x0001680100001001ull;  // vendor word with 0x168 in its upper 24 bits
  quirky.valueSettingReads = -1;         // "setting" never clears
  auto cams = Rig({quirky});
  MyDCAMCameraStruct* cam = Open(0x1001);
  ASSERT_NE(cam, nullptr);
  cams[0]->ClearLog();
  EXPECT_EQ(ORX_DCAM_SetModeSeven(cam, 0, 8, 2, 320, 240, 0, 1024), 0);  // goes on after five reads

  auto writes = Writes(*cams[0]);
  ASSERT_GE(writes.size(), 9u);
  const std::pair<UInt32, UInt32> region[] = {{0x8008, 0},
                                              {0x800C, 320u << 16 | 240},
                                              {0x8008, 8u << 16 | 2},
                                              {0x800C, 320u << 16 | 240},
                                              {0x8010, 0}};
  for (int i = 0; i < 5; i++) EXPECT_EQ(writes[3 + i], region[i]) << i;
  // Between asking for the setting and the packet size: five reads of +0x7C,
  // 30 ms apart, and 30 ms more before going on.
  auto log = cams[0]->Log();
  size_t ask = 0, packet = 0;
  for (size_t i = 0; i < log.size(); i++) {
    if (log[i].kind == SimLogKind::FWWrite && log[i].offset == 0x807C) ask = i;
    if (log[i].kind == SimLogKind::FWWrite && log[i].offset == 0x8044) packet = i;
  }
  ASSERT_LT(ask, packet);
  int reads = 0;
  for (size_t i = ask + 1; i < packet; i++)
    if (log[i].kind == SimLogKind::FWRead && log[i].offset == 0x807C) reads++;
  EXPECT_EQ(reads, 5);
  EXPECT_GE(log[packet].micros - log[ask].micros, 5u * 30000u);
}

}  // namespace
