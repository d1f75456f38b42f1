// Frame grabs, capture finishing (rename sheet, capture log, note, opening
// afterwards) and movie recording through the live pipeline, on an open
// simulated camera with the real nib and strings and a test clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/FrameGrabs.h"
#include "app/FramePipeline.h"
#include "media/MovieRecorder.h"
#include "platform/corefoundation/CFDate.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/launchservices/LaunchServices.h"
#include "platform/navigation/NavScript.h"
#include "tests/app/CaptureFolder.h"
#include "tests/app/PipelineHarness.h"
#include "tests/support/TestFiles.h"

namespace {

using skyloom::ui::ScriptedUser;

// 2024-01-31 21:15:07.25 UTC, in seconds since 2001: 22:15:07.25 at UTC+1.
constexpr CFAbsoluteTime kJan31 = 728428507.25;
// 2007-03-14 21:05:03 UTC in Unix seconds.
constexpr double kMar14Unix = 1173906303.0;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FrameGrabs : public PipelineHarness {
 protected:
  void SetUp() override {
    PipelineHarness::SetUp();
    const char* tz = getenv("TZ");
    hadTZ_ = tz != nullptr;
    if (tz) oldTZ_ = tz;
    setenv("TZ", "CET-1", 1);
    tzset();
    SkyloomSetAbsoluteTimeSource([] { return kJan31; });
    SkyloomSetFileOpener([this](const std::string& path) {
      std::lock_guard<std::mutex> lock(openedLock_);
      opened_.push_back(path);
      return OSStatus(noErr);
    });
    IBNibRef nib = nullptr;
    ASSERT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &nib), noErr);
    ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MainMenu")), noErr);
    DisposeNibReference(nib);
    memset(gNoteString, 0, sizeof gNoteString);
  }
  void TearDown() override {
    if (record_) {
      myStopRecordMovie(record_);
      if (record_->mCaptureLogFile) fclose(record_->mCaptureLogFile);
      record_->mCaptureLogFile = nullptr;
      record_->mCaptureLogOpen = 0;
    }
    StopVideo();  // no delivery thread reads the hooks below any more
    gMyGrabAllocate = nullptr;
    gMyPipelineTestPausePoint = nullptr;
    mySetFrameWorkWaitPolls(0);
    SkyloomSetFileOpener(nullptr);
    SkyloomSetAbsoluteTimeSource(nullptr);
    SkyloomSetUTCTimeSource(nullptr);
    PipelineHarness::TearDown();
    if (hadTZ_)
      setenv("TZ", oldTZ_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

  // An open camera whose captures go to saveFolder_ without asking.
  MyCameraWindowDataStruct* OpenWithFolder(const SimCameraPersonality& p = SimUSBPersonality()) {
    MyCameraWindowDataStruct* r = Open(p);
    if (!r) return nullptr;
    SaveCapturesTo(r, saveFolder_);
    return r;
  }

  std::string In(const std::string& name) const { return saveFolder_ + "/" + name; }
  bool Exists(const std::string& name) const { return access(In(name).c_str(), F_OK) == 0; }
  void Touch(const std::string& name, const std::string& text = "") { std::ofstream(In(name)) << text; }
  std::vector<std::string> Opened() {
    std::lock_guard<std::mutex> lock(openedLock_);
    return opened_;
  }
  std::string Title(OSType signature) { return skyloom::ui::ControlTitle(Control(signature)); }
  bool Menu2Enabled(MenuItemIndex item) { return IsMenuItemEnabled(GetMenuRef(2), item); }

  // A saved single frame as the display timer leaves it: the next name made
  // and a file there.
  std::string SaveFrame() {
    const OSStatus err = myFillInFSSpec(record_);
    EXPECT_TRUE(err == fnfErr || err == noErr) << err;
    const std::string name = CaptureName(record_->mFrameFileSpec);
    Touch(name, "pixels");
    return name;
  }

  // The log file of the run (the one CAP_ file in the folder).
  std::string LogName() {
    std::string found;
    for (const auto& e : std::filesystem::directory_iterator(saveFolder_)) {
      const std::string n = e.path().filename().string();
      if (n.rfind("CAP_", 0) == 0) found = n;
    }
    return found;
  }

  // Frames through the callback, one every 33.3 ms from `start` ms.
  void Deliver(UInt32 count, double start = 100.0, UInt32 id = 1) {
    for (UInt32 i = 0; i < count; i++) {
      std::vector<UInt8> f = Reference(id + i % 4);
      myDisplayCallback(record_->mWidth, record_->mHeight, UInt32(f.size()), f.data(), record_, 33.3,
                        start + 33.3 * i);
    }
  }

  std::string Probe(const std::string& path) {
    return skyloom::test::Run("ffprobe -v error -count_frames -show_entries "
                              "stream=codec_type,codec_tag_string,width,height,nb_read_frames:stream_tags=reel_name "
                              "-of default=nw=1 '" + path + "'");
  }

  bool hadTZ_ = false;
  std::string oldTZ_;
  std::mutex openedLock_;
  std::vector<std::string> opened_;
};

// ---- names

TEST_F(FrameGrabs, NamesFollowTheNamingModeAndTheCounterIsSharedWithMovies) {
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  struct Case {
    UInt32 mode;
    OSType kind;
    const char* name;
  } cases[] = {
      {3, FOUR_CHAR_CODE("TIFF"), "0000000042_S.tiff"},
      {1, FOUR_CHAR_CODE("PNGf"), "20240131_221507.25_L.png"},
      {2, FOUR_CHAR_CODE("FITS"), "20240131_211507.25_U.fits"},
      {4, FOUR_CHAR_CODE("JPEG"), "20240131_211507.25_U.jpeg"},
      {1, FOUR_CHAR_CODE("8BPS"), "20240131_221507.25_L.psd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    r->mFileCounter = 42;
    r->mFileNaming = c.mode;
    r->mSaveFileType = c.kind;
    EXPECT_EQ(myFillInFSSpec(r), fnfErr);
    EXPECT_EQ(CaptureName(r->mFrameFileSpec), c.name);
    EXPECT_EQ(r->mFileCounter, c.mode == 3 ? 43u : 42u);
  }
  // Outside the tables: nothing named.
  r->mFileNaming = 5;
  EXPECT_EQ(myFillInFSSpec(r), paramErr);
  r->mFileNaming = 1;
  r->mSaveFileType = FOUR_CHAR_CODE("GIFf");
  EXPECT_EQ(myFillInFSSpec(r), paramErr);

  // The next movie in mode 3 takes the counter where the frame left it; an
  // existing movie of the name is replaced.
  ASSERT_EQ(StartVideo(-1, false), noErr);
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  r->mFileNaming = 3;
  r->mFileCounter = 43;
  Touch("0000000043_S.mov", "old");
  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  EXPECT_EQ(CaptureName(r->mMovieFileSpec), "0000000043_S.mov");
  EXPECT_EQ(r->mFileCounter, 44u);
  EXPECT_NE(slurp(In("0000000043_S.mov")), "old");
  myStopRecordMovie(r);
  r->mFileNaming = 1;
  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  EXPECT_EQ(CaptureName(r->mMovieFileSpec), "20240131_221507_L.mov");
  myStopRecordMovie(r);
}

// ---- the capture log

TEST_F(FrameGrabs, TheCaptureLogHoldsTheEntrySettingsAndNoteAndReplacesAnOldLog) {
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  r->mFileNaming = 1;
  r->mSaveFileType = FOUR_CHAR_CODE("PNGf");
  r->mCaptureLogOn = 1;
  r->mAddNoteOn = 1;
  r->mTemperatureMode = 0;
  Touch("CAP_20240131_221507_L.txt", "an old log\r");
  const std::string first = SaveFrame();
  {
    ScriptedUser user;
    user.Do([] { EXPECT_NE(skyloom::ui::FindWindow("AddANote"), nullptr); })
        .Type(FOUR_CHAR_CODE("NOTE"), 0, "Seeing 3/5, thin cloud")
        .ClickOK();
    ASSERT_EQ(myDoFileFinnishUp(r, kMyCaptureFrame, 1), noErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_STREQ(gNoteString, "Seeing 3/5, thin cloud");
  // An empty note: no "Note:" line, the last note kept.
  const std::string second = SaveFrame();
  {
    ScriptedUser user;
    // The user clears the field.
    user.Do([] {
          ControlRef note = skyloom::ui::FindControl(skyloom::ui::FindWindow("AddANote"), FOUR_CHAR_CODE("NOTE"), 0);
          CFStringRef empty = CFSTR("");
          ASSERT_EQ(SetControlData(note, kControlEntireControl, kControlEditTextCFStringTag, sizeof empty, &empty),
                    noErr);
        })
        .ClickOK();
    ASSERT_EQ(myDoFileFinnishUp(r, kMyCaptureAveraged, 12), noErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_STREQ(gNoteString, "Seeing 3/5, thin cloud");
  ASSERT_EQ(LogName(), "CAP_20240131_221507_L.txt");
  std::string log = slurp(In(LogName()));
  EXPECT_EQ(log.find("an old log"), std::string::npos);
  EXPECT_EQ(log.find('\n'), std::string::npos);
  // The line ends are CRs, as od shows them.
  ASSERT_TRUE(skyloom::test::ToolInstalled("od"));
  EXPECT_NE(skyloom::test::RunStdout("od -c '" + In(LogName()) + "'").find("\\r"), std::string::npos);
  for (char& c : log)
    if (c == '\r') c = '\n';
  const std::string golden = slurp(std::string(SKYLOOM_SOURCE_DIR) + "/tests/app/golden/capture_log.txt");
  EXPECT_EQ(log, golden) << log;
  EXPECT_EQ(first, "20240131_221507.25_L.png");
  EXPECT_EQ(second, first);  // the clock stands still
}

TEST_F(FrameGrabs, WithoutALiveDisplayTheLogReadsTheTemperatureFresh) {
  MyCameraWindowDataStruct* r = OpenWithFolder(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->mTemperatureMode, 2u);
  r->mCaptureLogOn = 1;
  r->mShownTemperatureK = 1.0f;
  r->mShowTemperature = 1;  // the display keeps it fresh: not read
  SaveFrame();
  ASSERT_EQ(myDoFileFinnishUp(r, kMyCaptureFrame, 1), noErr);
  EXPECT_EQ(r->mShownTemperatureK, 1.0f);
  r->mShowTemperature = 0;
  SaveFrame();
  ASSERT_EQ(myDoFileFinnishUp(r, kMyCaptureFrame, 1), noErr);
  EXPECT_FLOAT_EQ(r->mShownTemperatureK, 293.15f);
}

TEST_F(FrameGrabs, WithTheLogOffRenameAndOpeningStillRun) {
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  r->mFileNaming = 4;
  r->mCaptureLogOn = 0;
  r->mAddNoteOn = 1;
  r->mOpenFrameAfterSave = 1;
  const std::string saved = SaveFrame();
  ScriptedUser user;
  user.Do([] { EXPECT_NE(skyloom::ui::FindWindow("RenameFileSheet"), nullptr); })
      .Type(FOUR_CHAR_CODE("VALU"), 0, "m42.tiff")
      .ClickOK();
  ASSERT_EQ(myDoFileFinnishUp(r, kMyCaptureFrame, 1), noErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_FALSE(Exists(saved));
  EXPECT_TRUE(Exists("m42.tiff"));
  EXPECT_EQ(LogName(), "");
  EXPECT_EQ(r->mCaptureLogOpen, 0);
  ASSERT_EQ(Opened().size(), 1u);
  EXPECT_EQ(Opened()[0], In("m42.tiff"));
}

// ---- the rename sheet

TEST_F(FrameGrabs, TheRenameSheetRefusesShortAndTakenNamesAndCancelKeepsTheName) {
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  r->mFileNaming = 4;
  r->mCaptureLogOn = 1;
  Touch("taken.tiff", "another");
  const std::string saved = SaveFrame();
  const std::string longName(256, 'x');
  {
    ScriptedUser user;
    user.Type(FOUR_CHAR_CODE("VALU"), 0, "a.jp")
        .ClickOK()
        .AnswerAlert()
        .Type(FOUR_CHAR_CODE("VALU"), 0, "taken.tiff")
        .ClickOK()
        .AnswerAlert()
        .Type(FOUR_CHAR_CODE("VALU"), 0, longName)
        .ClickOK()
        .AnswerAlert()
        .Do([] { EXPECT_NE(skyloom::ui::FindWindow("RenameFileSheet"), nullptr); })
        .Type(FOUR_CHAR_CODE("VALU"), 0, "ab.jpg")
        .ClickOK();
    ASSERT_EQ(myDoFileFinnishUp(r, kMyCaptureFrame, 1), noErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  const auto& alerts = skyloom::ui::Alerts();
  ASSERT_EQ(alerts.size(), 3u);
  EXPECT_EQ(alerts[0].title, "User Error");
  EXPECT_NE(alerts[0].message.find("cannot be used"), std::string::npos);
  EXPECT_NE(alerts[1].message.find("exists already"), std::string::npos);
  EXPECT_NE(alerts[2].message.find("cannot be used"), std::string::npos);
  EXPECT_EQ(slurp(In("taken.tiff")), "another");
  EXPECT_TRUE(Exists("ab.jpg"));
  EXPECT_FALSE(Exists(saved));
  EXPECT_NE(slurp(In(LogName())).find("File:ab.jpg #frames 1"), std::string::npos);

  const std::string kept = SaveFrame();
  {
    ScriptedUser user;
    user.Type(FOUR_CHAR_CODE("VALU"), 0, "never.tiff").ClickCancel();
    ASSERT_EQ(myDoFileFinnishUp(r, kMyCaptureFrame, 1), noErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_TRUE(Exists(kept));
  EXPECT_FALSE(Exists("never.tiff"));
}

TEST_F(FrameGrabs, ALongFileNameIsCutInTheLogEntrySoTheCountStays) {
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  r->mFileNaming = 4;
  r->mCaptureLogOn = 1;
  SaveFrame();
  const std::string longName = std::string(246, 'x') + ".png";
  ScriptedUser user;
  user.Type(FOUR_CHAR_CODE("VALU"), 0, longName).ClickOK();
  ASSERT_EQ(myDoFileFinnishUp(r, kMyCaptureSummed, 250), noErr);
  EXPECT_TRUE(user.Errors().empty());
  ASSERT_TRUE(Exists(longName));
  // 255 bytes: as much of the name as fits beside the count.
  const std::string title = std::string(235, 'x') + " # summed frames 250";
  ASSERT_EQ(title.size(), 255u);
  EXPECT_NE(slurp(In(LogName())).find("File:" + title + "\r"), std::string::npos);
}

// ---- arming a grab

TEST_F(FrameGrabs, ArmingAGrabNamesTheFileSetsTheHandOffAndSwitchesTheControls) {
  MyCameraWindowDataStruct* r = Open(SimUSBPersonality());
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(StartVideo(-1, false), noErr);
  r->mFileNaming = 3;
  r->mFileCounter = 7;
  const std::string grabTitle = Title(FOUR_CHAR_CODE("GRFR"));

  // The folder dialog cancelled: nothing armed.
  {
    ScriptedUser user;
    skyloom::nav::Cancel(user);
    user.AnswerAlert();
    EXPECT_EQ(mySaveAFrameToDisk(r, 1), userCanceledErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(r->mGrabWanted, 0);
  EXPECT_EQ(r->mGrabBuffer, nullptr);
  EXPECT_EQ(Title(FOUR_CHAR_CODE("GRFR")), grabTitle);
  EXPECT_TRUE(Menu2Enabled(15));
  ASSERT_FALSE(skyloom::ui::Alerts().empty());
  EXPECT_NE(skyloom::ui::Alerts().back().message.find("FSMakeFSSpec Failed with Err = -128 0xffffff80"),
            std::string::npos);

  // No memory for the buffer.
  {
    ScriptedUser user;
    skyloom::nav::Choose(user, {saveFolder_});
    user.AnswerAlert();
    gMyGrabAllocate = [](size_t) -> void* { return nullptr; };
    EXPECT_EQ(mySaveAFrameToDisk(r, 1), memFullErr);
    gMyGrabAllocate = nullptr;
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(skyloom::ui::Alerts().back().message, "mySaveAFrameToDisk Failed - Not enough memory left");
  EXPECT_EQ(r->mGrabWanted, 0);
  EXPECT_EQ(r->mDefaultFolderValid, 1);  // the folder chosen is kept

  // Armed.
  ASSERT_EQ(mySaveAFrameToDisk(r, 1), noErr);
  EXPECT_EQ(CaptureName(r->mFrameFileSpec), "0000000008_S.tiff");
  EXPECT_EQ(r->mGrabWanted, 1);
  EXPECT_EQ(r->mGrabTimeoutOn, 1);
  EXPECT_EQ(r->mGrabPending, 1);
  EXPECT_EQ(r->mGrabsInFlight, 1);
  EXPECT_EQ(r->mGrabFilled, 0);
  EXPECT_EQ(Title(FOUR_CHAR_CODE("GRFR")), "Cancel Grab");
  for (OSType c : {FOUR_CHAR_CODE("GMOV"), FOUR_CHAR_CODE("GRAV"), FOUR_CHAR_CODE("GRSM")})
    EXPECT_FALSE(IsControlEnabled(Control(c)));
  for (MenuItemIndex i : {15, 16, 17}) EXPECT_FALSE(Menu2Enabled(i)) << i;
  // The next frame fills the buffer.
  std::vector<UInt8> frame = Reference(5);
  const std::vector<UInt8> sent = frame;
  myDisplayCallback(r->mWidth, r->mHeight, UInt32(frame.size()), frame.data(), r, 33.3, 66.6);
  ASSERT_TRUE(myGrabShouldSave(r));
  EXPECT_EQ(memcmp(r->mGrabBuffer, sent.data(), sent.size()), 0);
}

// ---- recording

TEST_F(FrameGrabs, ALimitedRecordingHoldsItsFramesAndTheStartStampInItsTimeCode) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(StartVideo(-1, false), noErr);
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  r->mFileNaming = 3;
  r->mCaptureLogOn = 1;
  r->mShowTimeCode = 1;
  r->mOpenMovieAfterSave = 1;
  r->mRecordFrameLimit = 100;
  SkyloomSetUTCTimeSource([] { return kMar14Unix + double(0x1200) / 65536.0; });
  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  EXPECT_EQ(r->mRecordFrameCounter, 101u);
  EXPECT_EQ(Title(FOUR_CHAR_CODE("GMOV")), "Stop Recording");
  for (OSType c : {FOUR_CHAR_CODE("GRFR"), FOUR_CHAR_CODE("STRT"), FOUR_CHAR_CODE("FORT"), FOUR_CHAR_CODE("GDKF")})
    EXPECT_FALSE(IsControlEnabled(Control(c)));
  EXPECT_FALSE(Menu2Enabled(17));
  EXPECT_FALSE(Menu2Enabled(20));  // 'SROI'
  Deliver(101);
  EXPECT_EQ(r->mRecordFrameCounter, 0u);
  EXPECT_EQ(r->mRecordStatus, noErr);
  const std::string movie = In(CaptureName(r->mMovieFileSpec));
  myStopRecordMovie(r);
  EXPECT_EQ(r->mMovie, nullptr);
  EXPECT_EQ(r->mRecording, 0);
  const std::string probe = Probe(movie);
  EXPECT_NE(probe.find("codec_type=video\n"), std::string::npos) << probe;
  EXPECT_NE(probe.find("width=640\nheight=480\n"), std::string::npos) << probe;
  EXPECT_NE(probe.find("nb_read_frames=100\n"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_tag_string=tmcd"), std::string::npos) << probe;
  EXPECT_NE(probe.find("reel_name=STARTED20070314_210503.07UTC"), std::string::npos) << probe;
  EXPECT_NE(slurp(In(LogName())).find("File:0000000000_S.mov #frames 100"), std::string::npos);
  ASSERT_EQ(Opened().size(), 1u);
  EXPECT_EQ(Opened()[0], movie);
  EXPECT_EQ(Title(FOUR_CHAR_CODE("GMOV")), "Record Movie");
  EXPECT_TRUE(IsControlEnabled(Control(FOUR_CHAR_CODE("STRT"))));
  EXPECT_TRUE(Menu2Enabled(17));

  // A first frame in the last 1/65536 s of a second carries into the next.
  SkyloomSetUTCTimeSource([] { return kMar14Unix + 65535.0 / 65536.0; });
  r->mRecordFrameLimit = 0;
  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  EXPECT_EQ(r->mRecordFrameCounter, 1u);
  Deliver(5, 10000.0);
  const std::string second = In(CaptureName(r->mMovieFileSpec));
  myStopRecordMovie(r);
  EXPECT_NE(Probe(second).find("reel_name=STARTED20070314_210504.00UTC"), std::string::npos) << Probe(second);
}

TEST_F(FrameGrabs, TheRecorderGetsTheModesCodeDepthRowBytesAndTimeScale) {
  MyCameraWindowDataStruct* r = OpenWithFolder(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  SInt32 index = -1;
  for (UInt32 i = 0; i < r->mVideoSizeCount; i++)
    if (r->mVideoSizes[i].mFormat == 7 && r->mVideoSizes[i].mColorCoding == 12) index = SInt32(i);
  ASSERT_GE(index, 0);
  ASSERT_EQ(StartVideo(index, false), noErr);
  ASSERT_EQ(r->mBitsPerPixel, 12u);
  ASSERT_EQ(r->mWidth, 1280u);
  r->mDisplayFormat = FOUR_CHAR_CODE("bgRG");
  r->mColourDisplay = 1;
  r->mHighQualityBayer = 1;
  r->mBayerFormat = 1;
  r->mExposureMS = 20.0;
  r->mFrameRate = 15.0;
  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  ASSERT_NE(r->mMovie, nullptr);
  EXPECT_EQ(r->mMovie->mInputBits, 16u);
  EXPECT_EQ(r->mMovie->mSrcRowBytes, 2u * 1280);
  EXPECT_EQ(r->mMovie->mTimeScale, 1500);
  EXPECT_EQ(myRecordPixelFormatCode(r), FOUR_CHAR_CODE("bhRG"));
  Deliver(3);
  myStopRecordMovie(r);

  struct Code {
    UInt32 bayer;
    OSType code;
  } codes[] = {{1, FOUR_CHAR_CODE("bhRG")}, {2, FOUR_CHAR_CODE("bhBG")}, {3, FOUR_CHAR_CODE("bhGR")},
               {4, FOUR_CHAR_CODE("bhGB")}};
  for (const Code& c : codes) {
    r->mBayerFormat = c.bayer;
    EXPECT_EQ(myRecordPixelFormatCode(r), c.code);
  }
  r->mHighQualityBayer = 0;
  EXPECT_EQ(myRecordPixelFormatCode(r), FOUR_CHAR_CODE("bgRG"));
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  EXPECT_EQ(myRecordPixelFormatCode(r), r->mPixelFormat);

  struct Scale {
    double exposure, rate;
    SInt32 scale;
  } scales[] = {{300.0, 30.0, 600}, {1000.0, 7.5, 600}, {20.0, 15.0, 1500}, {33.0, 30.0, 3000}, {1.0, 7.5, 750}};
  for (const Scale& s : scales) {
    r->mExposureMS = s.exposure;
    r->mFrameRate = s.rate;
    EXPECT_EQ(myRecordTimeScale(r), s.scale) << s.exposure << " " << s.rate;
  }
}

TEST_F(FrameGrabs, ACroppedRecordingHoldsTheCropOfEveryFrame) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffmpeg"));
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(StartVideo(-1, false), noErr);
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  r->mSoftROIEnabled = r->mSoftROIActive = 1;
  r->mSoftROILeft = 10;
  r->mSoftROITop = 2;
  r->mSoftROIWidth = 320;
  r->mSoftROIHeight = 240;
  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  std::vector<UInt8> expected;
  for (UInt32 i = 0; i < 4; i++) {
    std::vector<UInt8> f = Reference(1 + i);
    if (i > 0)  // the first frame is the time origin only
      for (UInt32 y = 2; y < 242; y++)
        expected.insert(expected.end(), f.begin() + y * 640 + 10, f.begin() + y * 640 + 330);
    myDisplayCallback(r->mWidth, r->mHeight, UInt32(f.size()), f.data(), r, 33.3, 100.0 + 33.3 * i);
  }
  const std::string movie = In(CaptureName(r->mMovieFileSpec));
  myStopRecordMovie(r);
  // Grey decodes through its palette to equal R, G and B.
  const std::string rgb = skyloom::test::RunStdout("ffmpeg -v error -i '" + movie + "' -f rawvideo -pix_fmt rgb24 -");
  std::string out;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) out += rgb[i];
  ASSERT_EQ(out.size(), expected.size());
  size_t firstDiff = 0;
  while (firstDiff < out.size() && UInt8(out[firstDiff]) == expected[firstDiff]) firstDiff++;
  EXPECT_EQ(firstDiff, out.size()) << int(UInt8(out[firstDiff])) << " " << int(expected[firstDiff]);
}

TEST_F(FrameGrabs, AnotherVideoSizeWhileRecordingEndsItInsteadOfFeedingShortFrames) {
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(StartVideo(-1, false), noErr);
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  Deliver(3);
  EXPECT_EQ(r->mRecordStatus, noErr);
  r->mHeight = 240;  // the mode changed under the recording
  std::vector<UInt8> f(size_t(r->mWidth) * r->mHeight, 9);
  myDisplayCallback(r->mWidth, r->mHeight, UInt32(f.size()), f.data(), r, 33.3, 1000.0);
  EXPECT_EQ(r->mRecordStatus, paramErr);
  r->mHeight = 480;
  myStopRecordMovie(r);
  EXPECT_EQ(r->mMovie, nullptr);
}

TEST_F(FrameGrabs, AFailingCloseSkipsTimeCodeAndLogAndAStopWhileIdleOnlyRestoresTheControls) {
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(StartVideo(-1, false), noErr);
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  r->mCaptureLogOn = 1;
  r->mOpenMovieAfterSave = 1;

  // Idle: only the controls.
  DisableControl(Control(FOUR_CHAR_CODE("STRT")));
  myStopRecordMovie(r);
  EXPECT_TRUE(IsControlEnabled(Control(FOUR_CHAR_CODE("STRT"))));
  EXPECT_EQ(Title(FOUR_CHAR_CODE("GMOV")), "Record Movie");
  EXPECT_EQ(LogName(), "");

  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  Deliver(4);
  // The movie's last writes fail: the close reports it.
  SkyloomFileFaults faults{};
  faults.failWriteNumber = 1;
  faults.failWriteStatus = ioErr;
  SkyloomSetFileFaults(faults);
  testing::internal::CaptureStderr();
  myStopRecordMovie(r);
  testing::internal::GetCapturedStderr();
  SkyloomClearFileFaults();
  EXPECT_EQ(r->mMovie, nullptr);
  EXPECT_EQ(LogName(), "");
  EXPECT_TRUE(Opened().empty());
  EXPECT_EQ(Title(FOUR_CHAR_CODE("GMOV")), "Record Movie");
  EXPECT_TRUE(IsControlEnabled(Control(FOUR_CHAR_CODE("STRT"))));
  EXPECT_TRUE(Menu2Enabled(15));
}

// ---- races with the delivery thread

std::atomic<int> gPaused{0};
std::atomic<bool> gRelease{false};
void pauseInRecord(MyCameraWindowDataStruct*, int where) {
  if (where != kPipelinePauseInRecord) return;
  gPaused = 1;
  while (!gRelease.load()) usleep(200);
}

TEST_F(FrameGrabs, AStopWhileTheRecorderIsInUseClosesOnlyAfterTheFrameIsIn) {
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(StartVideo(-1, false), noErr);
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  r->mCaptureLogOn = 1;
  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  Deliver(3);
  gPaused = 0;
  gRelease = false;
  gMyPipelineTestPausePoint = pauseInRecord;
  std::thread delivery([&] { Deliver(1, 5000.0); });
  while (gPaused.load() == 0) usleep(100);
  // The delivery thread is between its recording check and the recorder: the
  // stop does not close under it.
  mySetFrameWorkWaitPolls(3);
  myStopRecordMovie(r);
  EXPECT_NE(std::atomic_ref<MyMovieRecorderStruct*>(r->mMovie).load(), nullptr);
  EXPECT_EQ(LogName(), "");
  gRelease = true;
  delivery.join();
  gMyPipelineTestPausePoint = nullptr;
  mySetFrameWorkWaitPolls(0);
  myStopRecordMovie(r);
  EXPECT_EQ(r->mMovie, nullptr);
  // Three frames and the one that was held: the first is the time origin.
  EXPECT_NE(slurp(In(LogName())).find("#frames 3"), std::string::npos) << slurp(In(LogName()));
}

TEST_F(FrameGrabs, RepeatedStartAndStopWhileFramesArriveAt240PerSecond) {
  MyCameraWindowDataStruct* r = OpenWithFolder();
  ASSERT_NE(r, nullptr);
  Camera().Stream().SetClock(SimClock::Stepped);
  ASSERT_EQ(StartVideo(-1, true), noErr);
  r->mFrameRate = 240.0;
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  std::atomic<bool> stop{false};
  std::thread bus([&] {
    while (!stop.load()) {
      Camera().Stream().StepBulkFrames(1);
      usleep(4000);
    }
  });
  for (int i = 0; i < 6; i++) {
    ASSERT_EQ(mySetUpRecordMovie(r), noErr);
    usleep(30000 + 7000 * i);
    myStopRecordMovie(r);
    EXPECT_EQ(std::atomic_ref<MyMovieRecorderStruct*>(r->mMovie).load(), nullptr);
    EXPECT_EQ(std::atomic_ref<SInt32>(r->mMovieBusy).load(), 0);
  }
  stop = true;
  bus.join();
}

}  // namespace
