// Camera identification: the model lists, the Point Grey registers, the
// colour/mono classification of video modes and the usable-mode test.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/CameraIdentification.h"
#include "tests/support/CameraHarness.h"

TEST(CameraModelLists, EveryNameMatchesExactlyAndOnlyInItsOwnList) {
  const char* ubt[] = {"Fire-i 1.2", "Fire-i BCL 1.2", "Fire-i BBW 1.3", "Fire-I 400 1.2",
                       "IBOT",       "C102T V1.0.2",   "Fire-i400"};
  const char* tsl[] = {"API-200",      "API-201",     "API-202",   "API-203",   "XLT-00000000",
                       "XLT-00000001", "1394 Camera", "DFx 21F04", "DBx 21F04", "DMx 21F04"};
  for (const char* n : ubt) {
    EXPECT_EQ(myIsCameraUBT(n), 0) << n;
    EXPECT_EQ(myCheckForTSLV1501Type(n), -1) << n;
    EXPECT_EQ(myIsCameraUBT((std::string(n) + " ").c_str()), -1) << "trailing blank: " << n;
  }
  for (const char* n : tsl) {
    EXPECT_EQ(myCheckForTSLV1501Type(n), 0) << n;
    EXPECT_EQ(myIsCameraUBT(n), -1) << n;
    EXPECT_EQ(myCheckForTSLV1501Type((std::string(n) + " ").c_str()), -1) << "trailing blank: " << n;
  }
  // Near misses: case, spacing and prefixes count.
  for (const char* n : {"Fire-i 400 1.2", "Fire-I400", "fire-i400", "Fire-i40", "ibot", "", "API-20", "XLT-0000000"})
    EXPECT_TRUE(myIsCameraUBT(n) == -1 && myCheckForTSLV1501Type(n) == -1) << n;
}

// ---------------------------------------------------------------- Point Grey registers

class PointGreyCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    camera_ = SimInstallRig({SimDefaultColourPersonality()})[0];
    MyDCAMCameraListStruct list{};
    ASSERT_EQ(ORXDCAMGetListOfCameras(&list), noErr);
    ASSERT_EQ(list.mCount, 1u);
    handle_ = ORXDCAMOpenACamera(list.mEntries[0].mCameraID);
    ASSERT_NE(handle_, nullptr);
    camera_->ClearLog();
  }
  void TearDown() override {
    if (handle_) ORXDCAMCloseACamera(handle_);
    SimRemoveRig();
  }
  std::vector<UInt32> WritesTo(UInt32 offset) const {
    std::vector<UInt32> values;
    for (const SimLogEntry& e : camera_->Log())
      if (e.kind == SimLogKind::FWWrite && e.offset == offset) values.push_back(e.value);
    return values;
  }
  std::shared_ptr<SimCamera> camera_;
  MyDCAMCameraStruct* handle_ = nullptr;
};

TEST_F(PointGreyCheck, BoardInformationAndTileOrder) {
  const struct {
    UInt32 tiles, code;
  } kCases[] = {{FOUR_CHAR_CODE("RGGB"), 1}, {FOUR_CHAR_CODE("GBRG"), 2}, {FOUR_CHAR_CODE("GRBG"), 3},
                {FOUR_CHAR_CODE("BGGR"), 4}, {FOUR_CHAR_CODE("YYYY"), 0}, {FOUR_CHAR_CODE("RGBG"), 0},
                {0, 0}};
  for (const auto& c : kCases) {
    camera_->Poke(0x1040, c.tiles);
    UInt32 code = 99, board = 0;
    EXPECT_EQ(myPointGreyCameraCheck(handle_, &code, &board, 0, 0), noErr);
    EXPECT_EQ(code, c.code) << std::hex << c.tiles;
    EXPECT_EQ(board, 0x10Au);  // 0x10A00000 >> 20
  }
  EXPECT_TRUE(WritesTo(0x1048).empty());  // neither flag asked for an edit
}

TEST_F(PointGreyCheck, AFailedBoardReadReturnsItsStatus) {
  camera_->FailRegister(0x1F24, SimAccessKind::Read, kIOReturnNotResponding);
  UInt32 direct = 0;
  const OSStatus status = ORXDCAMGetQuadlet(handle_, 0, 0x1F24, 0, &direct);
  ASSERT_NE(status, noErr);
  UInt32 code = 99, board = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(myPointGreyCameraCheck(handle_, &code, &board, 1, 0), status);
  char line[128];
  snprintf(line, sizeof line, "Reading PGR_Main_Board_Info_Reg Failed Err: %d 0x%x \n", int(status), unsigned(status));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
  EXPECT_EQ(board, 0x00FFFFFFu);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(WritesTo(0x1048).empty());
}

TEST_F(PointGreyCheck, TheImageFormatIsEditedOnlyWhenPresent) {
  UInt32 code = 0, board = 0;
  // Present (bit 31): bit 7 set, bit 0 set (not cleared) -> one write.
  camera_->Poke(0x1048, 0x80000000);
  EXPECT_EQ(myPointGreyCameraCheck(handle_, &code, &board, 1, 0), noErr);
  EXPECT_EQ(WritesTo(0x1048), std::vector<UInt32>{0x80000081});
  // The other way round: bit 7 cleared, bit 0 cleared.
  camera_->ClearLog();
  camera_->Poke(0x1048, 0x80000081);
  EXPECT_EQ(myPointGreyCameraCheck(handle_, &code, &board, 0, 1), noErr);
  EXPECT_EQ(WritesTo(0x1048), std::vector<UInt32>{0x80000000});
  // Absent: a diagnostic with status 0, no write, and the check still succeeds.
  camera_->ClearLog();
  camera_->Poke(0x1048, 0x00000081);
  testing::internal::CaptureStderr();
  EXPECT_EQ(myPointGreyCameraCheck(handle_, &code, &board, 1, 0), noErr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "PGR_IMAGE_DATA_FORMAT failed err 0  0x0 Returned Value = Value = 0x81\n");
  EXPECT_TRUE(WritesTo(0x1048).empty());
  EXPECT_EQ(code, 1u);
}

// ---------------------------------------------------------------- usable modes

TEST_F(PointGreyCheck, UsableModes) {
  MyDCAMCameraPropertiesStruct p{};
  EXPECT_EQ(myCheckIIDCAppropriateModes(handle_, p), -50);
  const struct {
    UInt32 format, mode;
    bool usable;
  } kFixed[] = {{0, 5, true},  {0, 6, true},  {0, 4, false}, {1, 2, true},  {1, 5, true}, {1, 6, true},
                {1, 7, true},  {1, 0, false}, {2, 2, true},  {2, 7, true},  {2, 1, false}};
  for (const auto& c : kFixed) {
    MyDCAMCameraPropertiesStruct q{};
    q.mFormat[c.format].mModeSupported[c.mode] = 1;
    EXPECT_EQ(myCheckIIDCAppropriateModes(handle_, q), c.usable ? 0 : -50) << c.format << "/" << c.mode;
  }
  // Format 7: the camera's modes qualify by their colour codings; a mode the
  // camera lacks (its query fails) disqualifies only itself.
  MyDCAMCameraPropertiesStruct f7{};
  f7.mFormat7Supported = 1;
  f7.mFormat7ModeSupported[5] = 1;  // the camera has no mode 5
  EXPECT_EQ(myCheckIIDCAppropriateModes(handle_, f7), -50);
  f7.mFormat7ModeSupported[1] = 1;
  EXPECT_EQ(myCheckIIDCAppropriateModes(handle_, f7), 0);
  camera_->Poke(0x8100 + 0x14, 1u << 29 | 1u << 30);  // mode 1 offers YUV codings only
  EXPECT_EQ(myCheckIIDCAppropriateModes(handle_, f7), -50);
  camera_->Poke(0x8100 + 0x14, 1u << 19);  // raw 12-bit
  EXPECT_EQ(myCheckIIDCAppropriateModes(handle_, f7), 0);
}

// ---------------------------------------------------------------- classification

class Classification : public CameraHarness {};

namespace {

struct Row {
  const char* what;
  SimCameraPersonality personality;
  UInt32 format, mode, bits, width, height;
  UInt32 bayer;
  UInt8 colour;
  UInt32 coding;
  double period;
};

SimCameraPersonality WithoutRGBMode(SimCameraPersonality p) {
  p.registers[0x180] = 0x04000000;  // mode 5 only
  return p;
}

}  // namespace

TEST_F(Classification, OneRowPerPersonalityModeAndDepth) {
  const Row kRows[] = {
      // Point Grey kind: the tile register decides; the absolute shutter's 32 s give P.
      {"default F0", SimDefaultColourPersonality(), 0, 5, 8, 640, 480, 1, 1, 9, 32000.0},
      {"default F0 16", SimDefaultColourPersonality(), 0, 6, 16, 640, 480, 1, 1, 10, 32000.0},
      {"default F7", SimDefaultColourPersonality(), 7, 0, 8, 1280, 960, 1, 1, 9, 32000.0},
      {"default F7 12", SimDefaultColourPersonality(), 7, 0, 12, 1280, 960, 1, 1, 12, 32000.0},
      // 4 bytes x 8000 / 1,228,800 bytes = 0.026 fps.
      {"F7-only colour", SimColourFireWirePersonality(), 7, 0, 8, 1280, 960, 1, 1, 9, 38400.0},
      {"F7-only colour 16", SimColourFireWirePersonality(), 7, 0, 16, 1280, 960, 1, 1, 10, 76800.0},
      // Slowest rate 1.875 fps: trunc(533.33).
      {"mono", SimMonoPersonality(), 0, 5, 8, 640, 480, 0, 0, 0, 533.0},
      {"mono 16", SimMonoPersonality(), 0, 5, 16, 640, 480, 0, 0, 5, 533.0},
      {"white-balance colour", SimWhiteBalanceColourPersonality(), 0, 5, 8, 640, 480, 0, 1, 9, 533.0},
      {"long exposure with RGB mode", SimLongExposurePersonality(), 0, 5, 8, 640, 480, 4, 1, 9, 1029.0},
      {"long exposure without", WithoutRGBMode(SimLongExposurePersonality()), 0, 5, 8, 640, 480, 0, 0, 0, 1029.0},
      {"Frostlens", SimVendorPersonality(0x00A1B2, "QRV-00000000"), 0, 5, 8, 640, 480, 0, 0, 0, 3600000.0},
      {"0x0748 DB", SimVendorPersonality(0x000748, "DBK 31AF03"), 0, 5, 8, 640, 480, 2, 1, 9, 533.0},
      {"0x0748 DM", SimVendorPersonality(0x000748, "DMK 31AF03"), 0, 5, 12, 640, 480, 0, 0, 11, 533.0},
      {"0x0748 DF..AF", SimVendorPersonality(0x000748, "DFK 21AF04"), 0, 5, 8, 640, 480, 2, 1, 9, 533.0},
      {"0x0748 DF..BF", SimVendorPersonality(0x000748, "DFx 41BF02"), 0, 5, 8, 640, 480, 2, 1, 9, 533.0},
      // The white-balance probe finds colour but no pattern: monochrome here.
      {"0x0748 DF without", SimVendorPersonality(0x000748, "DFK 41F02"), 0, 5, 8, 640, 480, 0, 0, 0, 533.0},
      {"0x50A6 _C", SimVendorPersonality(0x0050A6, "Scout_C"), 0, 5, 8, 640, 480, 3, 1, 9, 533.0},
      {"0x50A6 mono", SimVendorPersonality(0x0050A6, "Scout_M"), 0, 5, 8, 640, 480, 0, 0, 0, 533.0},
      {"0x50A6 short", SimVendorPersonality(0x0050A6, "_C"), 0, 5, 8, 640, 480, 0, 0, 0, 533.0},
      {"filter 0", SimFormat7FilterPersonality(0), 7, 0, 8, 1280, 960, 1, 1, 9, 38400.0},
      {"filter 1", SimFormat7FilterPersonality(1), 7, 0, 8, 1280, 960, 2, 1, 9, 38400.0},
      {"filter 2", SimFormat7FilterPersonality(2), 7, 0, 8, 1280, 960, 3, 1, 9, 38400.0},
      {"filter 3", SimFormat7FilterPersonality(3), 7, 0, 8, 1280, 960, 4, 1, 9, 38400.0},
      {"filter 4: probe", SimFormat7FilterPersonality(4), 7, 0, 8, 1280, 960, 0, 1, 9, 38400.0},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    Rig({row.personality});
    ASSERT_EQ(OpenCamera(), noErr) << row.what;
    MenuRef menu = GetControlPopupMenuHandle(Control(FOUR_CHAR_CODE("VISZ")));
    const UInt32 items = CountMenuItems(menu);
    const UInt32 index = kMyMaxVideoSizes - 1;
    record_->mLongestExposureMS = 0;
    myTestCameraColorMonoForFormatMode(record_, index, row.format, row.mode, row.bits, row.width, row.height, menu);
    const MyVideoSizeStruct& e = record_->mVideoSizes[index];
    EXPECT_EQ(e.mBayerCode, row.bayer);
    EXPECT_EQ(e.mIsColor, row.colour);
    EXPECT_EQ(e.mColorCoding, row.coding);
    EXPECT_EQ(e.mMaxFramePeriodMs, row.period);
    EXPECT_EQ(record_->mLongestExposureMS, row.period);
    EXPECT_EQ(e.mFormat, row.format);
    EXPECT_EQ(e.mWidth, row.width);
    ASSERT_EQ(CountMenuItems(menu), items + 1);
    char text[64];
    snprintf(text, sizeof text, row.format == 7 ? "%ux%u %ubit FMT7" : "%ux%u %ubit", row.width, row.height,
             row.bits);
    EXPECT_EQ(skyloom::ui::MenuItemText(menu, MenuItemIndex(items + 1)), text);
    CloseCamera();
  }
}

TEST_F(Classification, FilterBytesAboveThreeFallBackToTheWhiteBalanceProbe) {
  Rig({SimFormat7FilterPersonality(7)});
  ASSERT_EQ(OpenCamera(), noErr);
  testing::internal::CaptureStderr();
  myTestCameraColorMonoForFormatMode(record_, 0, 7, 0, 8, 1280, 960, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "val 7 , so setting it to GEN_BAYR_NONE\n");
  EXPECT_EQ(record_->mVideoSizes[0].mIsColor, 1);
  EXPECT_EQ(record_->mVideoSizes[0].mBayerCode, 0u);
  EXPECT_EQ(record_->mBayerSelectable, 1);
  // A camera that refuses the white-balance write back is monochrome.
  cameras_[0]->FailRegister(0x80C, SimAccessKind::Write, kIOReturnNotResponding);
  testing::internal::CaptureStderr();
  myTestCameraColorMonoForFormatMode(record_, 0, 7, 0, 8, 1280, 960, nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(record_->mVideoSizes[0].mIsColor, 0);
  EXPECT_EQ(record_->mVideoSizes[0].mColorCoding, 0u);
}

TEST_F(Classification, AFormat7PeriodWithoutPacketStepOrPixelsIsOneMillisecond) {
  SimCameraPersonality p = SimFormat7FilterPersonality(0);
  p.registers[0x8000 + 0x40] = 0 << 16 | 4096;  // no packet step
  p.format7PacketUnit = 0;
  Rig({p});
  ASSERT_EQ(OpenCamera(), noErr);
  myTestCameraColorMonoForFormatMode(record_, 0, 7, 0, 8, 1280, 960, nullptr);
  EXPECT_EQ(record_->mVideoSizes[0].mMaxFramePeriodMs, 1.0);
  CloseCamera();

  Rig({SimFormat7FilterPersonality(0)});
  ASSERT_EQ(OpenCamera(), noErr);
  record_->mF7ROIOn = 1;  // a region of no pixels
  record_->mWidth = 0;
  record_->mHeight = 480;
  myTestCameraColorMonoForFormatMode(record_, 0, 7, 0, 8, 1280, 960, nullptr);
  EXPECT_EQ(record_->mVideoSizes[0].mMaxFramePeriodMs, 1.0);
  // A region in force sets the frame size: 640 x 480 bytes at 4 bytes a packet.
  record_->mWidth = 640;
  myTestCameraColorMonoForFormatMode(record_, 0, 7, 0, 8, 1280, 960, nullptr);
  EXPECT_EQ(record_->mVideoSizes[0].mMaxFramePeriodMs, 9600.0);
}
