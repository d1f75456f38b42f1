// The camera-settings block: whole blocks at both ends of its length, and
// the lines that depend on one setting each (exposure forms, temperature,
// colour lines, binning, hot pixels). Expected texts are written by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/CameraWindowData.h"
#include "guiding/CameraSettingsLog.h"
#include "tests/support/UiFixture.h"

namespace {

// The control window's value labels (id 1) the block reads.
constexpr const char* kControls = R"(window "Controls" bounds=0,0,300,400
  control 'GAMA' 1 static-text text="1.20"
  control 'SAT_' 1 static-text text="110"
  control 'UorB' 1 static-text text="520"
  control 'VorR' 1 static-text text="610"
  control 'GAIN' 1 static-text text="300"
  control 'BRIT' 1 static-text text="12"
  control 'EXPO' 1 static-text text="33.3 ms"
end
window "NoSaturation" bounds=0,0,300,400
  control 'GAMA' 1 static-text text="1.20"
  control 'UorB' 1 static-text text="520"
  control 'VorR' 1 static-text text="610"
end
)";

class CameraSettingsLogTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteNib("Test", kControls);
    record_ = std::make_unique<MyCameraWindowDataStruct>();
    MyCameraWindowDataStruct& r = *record_;
    r.mKind = kMyCameraWindowDataKind;
    std::strcpy(r.mProperties.mName, "Mono Cam");
    r.mProperties.mCameraID = 0xABC;
    r.mFormat = 1;
    r.mMode = 2;
    r.mFrameRate = 15.0;
    r.mWidth = 800;
    r.mHeight = 600;
    r.mBitsPerPixel = 8;
    r.mShutterValue = 123;
  }
  void TearDown() override {
    if (record_->mControlWindow) DisposeWindow(record_->mControlWindow);
    UiTest::TearDown();
  }
  std::string Block() {
    FILE* f = tmpfile();
    myPrintCameraSettingsToLogFile(record_.get(), f);
    std::string out;
    rewind(f);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
  }
  static size_t Lines(const std::string& s) { return size_t(std::count(s.begin(), s.end(), '\r')); }
  static bool Has(const std::string& block, const std::string& line) { return block.find(line) != std::string::npos; }
  std::unique_ptr<MyCameraWindowDataStruct> record_;
};

TEST_F(CameraSettingsLogTest, TheShortestBlockHasFifteenLines) {
  MyCameraWindowDataStruct& r = *record_;
  r.mAbsoluteShutter = 1;  // a known exposure, below 267 ms: the (missing) "EXPO" text
  r.mExposureMS = 20.0;
  r.mDisplayFormatItem = 0;
  const std::string block = Block();
  EXPECT_EQ(block,
            "Monochrome Camera = Model:'Mono Cam' SerialNumber: 0xABC\r"
            "IIDC Format: 1 Mode: 2 FrameRate: 15.00\r"
            "Camera Display Format: 800 x 600 8 bit\r"
            "CCD Image Left: 0\r"
            "CCD Image Top: 0\r"
            "CCD Image Width: 800\r"
            "CCD Image: Height 600\r"
            "Sharpness Limiting On: 0\r"
            "Dark Frame Subtraction On: 0\r"
            "Flat Frame Correction On: 0\r"
            "Invert Image On: 0\r"
            "Flip Horizontal On: 0\r"
            "Flip Vertical On: 0\r"
            "Histogram Expand On: 0\r"
            "Hot / Cold Pixel Replace: Off\r");
  EXPECT_EQ(Lines(block), 15u);
}

TEST_F(CameraSettingsLogTest, TheLongestBlockHasTwentyFourLines) {
  MyCameraWindowDataStruct& r = *record_;
  r.mControlWindow = MakeWindow("Test", "Controls");
  std::strcpy(r.mProperties.mName, "TSL Colour");
  r.mProperties.mCameraID = 0x1E10F00D;
  r.mColourSensor = 1;
  r.mColourDisplay = 1;
  r.mIsLongExposureCamera = 1;
  r.mFormat = 7;
  r.mMode = 0;
  r.mF7ColorCoding = 9;
  r.mF7MaxRate = 59.9;  // 59.90 in single precision too
  r.mF7MaxPacket = 4096;
  r.mF7MaxWidth = 1280;
  r.mF7MaxHeight = 960;
  r.mBitsPerPixel = 16;
  r.mSoftROIEnabled = r.mSoftROIActive = 1;
  r.mSoftROILeft = 100;
  r.mSoftROITop = 50;
  r.mSoftROIWidth = 320;
  r.mSoftROIHeight = 240;
  r.mExposureMS = 33.3;
  r.mRejectBySharpness = r.mUseFlatFrame = r.mInvert = r.mFlipHorizontal = r.mFlipVertical = 1;
  r.mHistogramExpand = 1;
  r.mDisplayFormatItem = 4;
  r.mLongExposure = 1;
  r.mHotPixelFlag = 1;
  r.mHotPixelThreshold = 23;
  r.mTemperatureMode = 1;
  r.mShownTemperatureK = 268.15f;
  const std::string block = Block();
  EXPECT_EQ(block,
            "Color Camera - Model:'TSL Colour' SerialNumber: 0x1E10F00D\r"
            "IIDC Format:7 Mode: 0 ClrCode: 9 MaxFps: 59.90 MaxPacketSize: 4096 \r"
            "Camera Display Format: 1280 x 960 16 bit\r"
            "SoftCrop Left: 100\r"
            "SoftCrop Top: 50\r"
            "SoftCrop Width: 320\r"
            "SoftCrop: Height 240\r"
            "Gamma: 1.20\r"
            "Saturation: 110\r"
            "Blue Gain: 520\r"
            "Red Gain: 610\r"
            "Brightness: 300\r"
            "Black Point: 12\r"
            "Exposure: 33.3 ms\r"
            "Sharpness Limiting On: 1\r"
            "Dark Frame Subtraction On: 0\r"
            "Flat Frame Correction On: 1\r"
            "Invert Image On: 1\r"
            "Flip Horizontal On: 1\r"
            "Flip Vertical On: 1\r"
            "Histogram Expand On: 1\r"
            "Binned 2x2 Color On\r"
            "Long Exposure Replace Hot / Cold Pixels: On Cutoff Value: 23\r"
            "Camera Temp: -5.0 C / 23.0 F\r");
  EXPECT_EQ(Lines(block), 24u);
}

TEST_F(CameraSettingsLogTest, ExposureForms) {
  MyCameraWindowDataStruct& r = *record_;
  struct {
    UInt8 absolute, longExposureCamera;
    double ms;
    const char* line;
  } cases[] = {
      {1, 0, 267.0, "Exposure: 267.00 ms\r"},
      {1, 0, 999.994, "Exposure: 999.99 ms\r"},
      {1, 0, 1000.0, "Exposure: 1.00 seconds\r"},
      {0, 1, 59999.0, "Exposure: 60.00 seconds\r"},
      {1, 0, 60000.0, "Exposure: 1.00 minutes \r"},
      {1, 0, 5400000.0, "Exposure: 90.00 minutes \r"},
      {0, 0, 5000.0, "Exposure : 123 \r"},  // no absolute shutter: the register value
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.line);
    r.mAbsoluteShutter = c.absolute;
    r.mIsLongExposureCamera = c.longExposureCamera;
    r.mExposureMS = c.ms;
    const std::string block = Block();
    EXPECT_TRUE(Has(block, std::string("\r") + c.line)) << block;
    EXPECT_EQ(Lines(block), 16u);
  }
}

TEST_F(CameraSettingsLogTest, TemperatureInSinglePrecision) {
  MyCameraWindowDataStruct& r = *record_;
  struct {
    float kelvin;
    const char* line;
  } cases[] = {
      {273.15f, "Camera Temp: 0.0 C / 32.0 F\r"},  // not -0.0: see below
      {253.15f, "Camera Temp: -20.0 C / -4.0 F\r"},
      {300.0f, "Camera Temp: 26.9 C / 80.3 F\r"},
  };
  r.mTemperatureMode = 2;
  for (auto& c : cases) {
    r.mShownTemperatureK = c.kelvin;
    EXPECT_TRUE(Has(Block(), c.line)) << c.line;
  }
  // The same sum in double precision has the sign that single precision avoids.
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", double(273.15f) - 273.15);
  EXPECT_STREQ(text, "-0.0");
  r.mTemperatureMode = 0;
  EXPECT_FALSE(Has(Block(), "Camera Temp"));
}

TEST_F(CameraSettingsLogTest, ColourLinesOnlyWhenMosaicsAreDecodedInColour) {
  MyCameraWindowDataStruct& r = *record_;
  r.mControlWindow = MakeWindow("Test", "NoSaturation");
  r.mColourSensor = 1;
  r.mIsLongExposureCamera = 1;
  r.mColourDisplay = 1;
  std::string block = Block();
  // A missing control reads as the Control Manager's "unknown control".
  EXPECT_TRUE(Has(block, "\rGamma: 1.20\rSaturation Control Err: -30584\rBlue Gain: 520\rRed Gain: 610\r")) << block;
  r.mIsLongExposureCamera = 0;
  EXPECT_TRUE(Has(Block(), "\rGamma: 1.20\rBlue Gain: 520\rRed Gain: 610\r"));
  r.mColourSensor = 0;
  r.mColourDisplay = 0;
  r.mIsLongExposureCamera = 1;
  block = Block();
  EXPECT_FALSE(Has(block, "Saturation"));
  EXPECT_FALSE(Has(block, "Gain"));
  EXPECT_TRUE(Has(block, "Gamma: 1.20\r"));
}

TEST_F(CameraSettingsLogTest, BinningAndHotPixelLines) {
  MyCameraWindowDataStruct& r = *record_;
  const char* binning[] = {nullptr,
                           "Binning Off Monochrome\r",
                           "Binning Off Color\r",
                           "Binned 2x2 Monochrome On\r",
                           "Binned 2x2 Color On\r",
                           "Binning Off Red Color Channel\r",
                           "Binning Off Green Color Channel\r",
                           "Binning Off Blue Color Channel\r",
                           "Binned 4x4 Monochrome On\r",
                           nullptr};
  for (UInt32 item = 0; item < std::size(binning); ++item) {
    r.mDisplayFormatItem = item;
    const std::string block = Block();
    if (binning[item])
      EXPECT_TRUE(Has(block, std::string("Histogram Expand On: 0\r") + binning[item])) << item;
    else
      EXPECT_EQ(Lines(block), 16u) << item;
  }
  r.mHotPixelThreshold = 40;
  struct {
    UInt32 longExposure;
    UInt8 longFlag, liveFlag;
    const char* line;
  } hot[] = {
      {1, 1, 0, "Long Exposure Replace Hot / Cold Pixels: On Cutoff Value: 40\r"},
      {1, 0, 1, "Hot / Cold Pixel Replace: Off\r"},  // live replacement does not apply to long exposures
      {0, 1, 1, "Live Replace Hot / Cold Pixels: On Cutoff Value: 40\r"},
      {0, 1, 0, "Hot / Cold Pixel Replace: Off\r"},
  };
  for (auto& c : hot) {
    r.mLongExposure = c.longExposure;
    r.mHotPixelFlag = c.longFlag;
    r.mLiveHotPixelFlag = c.liveFlag;
    EXPECT_TRUE(Has(Block(), c.line)) << c.line;
  }
}

}  // namespace
