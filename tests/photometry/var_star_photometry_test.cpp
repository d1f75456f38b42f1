// The 'BMRP' run end to end with a scripted user, on raw Bayer movies
// recorded from the scene generator, and its preference domain.
#include "photometry/VarStarPhotometry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "camera_driver/DCAMCameraStruct.h"
#include "media/MovieLayout.h"
#include "media/MovieRecorder.h"
#include "media/TimeCode.h"
#include "photometry/MovieFrameWalk.h"
#include "photometry/PhotomSelection.h"
#include "platform/corefoundation/CFPreferences.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/navigation/NavScript.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Movies.h"
#include "platform/simcamera/SimScene.h"
#include "tests/support/MovieFolder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UiFixture.h"
#include "tests/support/TestDates.h"

namespace {

using skyloom::test::Split;
using skyloom::ui::ScriptedUser;
namespace ui = skyloom::ui;
namespace nav = skyloom::nav;

constexpr UInt32 W = 320, H = 240;
constexpr OSType kSVAR = FOUR_CHAR_CODE("SVAR"), kSCON = FOUR_CHAR_CODE("SCON");

using skyloom::test::Secs;

class VarStarTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    const std::string strings = std::string(SKYLOOM_SOURCE_DIR) + "/resources/Localizable.strings";
    ASSERT_EQ(symlink(strings.c_str(), (dir_ + "/Localizable.strings").c_str()), 0);
    MakeMovieFolder("skyloom-bmrp", &folder_);
    out_ = (folder_.dir / "tables").string();
    std::filesystem::create_directory(out_);
    SkyloomPreferencesForgetAll();
    domain_ = CFStringCreateWithCString(nullptr, kVarStarPrefDomain, kCFStringEncodingUTF8);
    gworlds_ = SkyloomLiveGWorldCount();
    handles_ = SkyloomLiveHandleCount();
  }
  void TearDown() override {
    // Whichever way the run ended, it left nothing behind.
    EXPECT_EQ(SkyloomLiveGWorldCount(), gworlds_);
    EXPECT_EQ(SkyloomLiveHandleCount(), handles_);
    CFRelease(domain_);
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    std::filesystem::remove_all(folder_.dir);
    UiTest::TearDown();
  }

  void Store(const char* key, const char* text) {
    CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
    CFStringRef v = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    CFPreferencesSetAppValue(k, v, domain_);
    CFRelease(k);
    CFRelease(v);
  }
  std::string Stored(const char* key) {
    CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
    CFPropertyListRef v = CFPreferencesCopyAppValue(k, domain_);
    CFRelease(k);
    if (v == nullptr) return "<none>";
    char buf[256] = "";
    CFStringGetCString(static_cast<CFStringRef>(v), buf, sizeof buf, kCFStringEncodingUTF8);
    CFRelease(v);
    return buf;
  }
  // The settings the run opens with: an aperture of 2.5 FWHM, which holds
  // nearly all of a star's light, and no picture of the picked stars.
  void StoreSettings(const char* mode) {
    Store("VERS", "67502080");
    Store("REPT", mode);
    Store("FWHM", "2.5");
    Store("SVLO", "0");
  }

  static SimSceneSettings Scene() { return Scene(SceneSeed()); }
  // The first seed whose field has two stars to pick.
  static UInt64 SceneSeed() {
    static UInt64 seed = 0;
    SimStar v, c;
    double dm;
    for (UInt64 k = 1; seed == 0 && k < 200; ++k)
      if (PickPair(Scene(k), &v, &c, &dm)) seed = k;
    return seed;
  }
  static SimSceneSettings Scene(UInt64 seed) {
    SimSceneSettings s;
    s.width = W;
    s.height = H;
    s.seed = seed;
    s.starCount = 6;
    s.starSigma = 1.4;
    s.minFlux = 4.0;
    s.maxFlux = 10.0;
    s.background = 0.05;
    s.noiseSigma = 0.0015;  // still enough to keep an 8-bit sky from being flat
    s.hotPixelCount = 0;
    return s;
  }

  // Records `frames` frames of the scene as raw Bayer 'GRBG' of 8 or 16 bits,
  // 20 units of 600 a frame, with a start stamp when asked. Its path.
  std::string Record(const char* name, UInt32 bits, UInt32 frames, bool stamp) {
    static MyDCAMCameraStruct* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
    Str255 pname;
    pname[0] = UInt8(std::strlen(name));
    std::memcpy(pname + 1, name, pname[0]);
    FSSpec fileSpec;
    FSMakeFSSpec(folder_.volume, folder_.dirID, pname, &fileSpec);
    OSErr err = 1;
    const UInt32 code = bits == 16 ? FOUR_CHAR_CODE("bmGR") : FOUR_CHAR_CODE("blGR");
    MyMovieRecorderStruct* rec = ORXDCAMCreateMovie(camera, 33.34, 600, W, H, code, bits, 0, fileSpec, &err);
    EXPECT_EQ(err, noErr);
    if (rec == nullptr) return "";
    SimScene scene(Scene());
    const double wb[3] = {1.0, 1.0, 1.0};
    std::vector<UInt16> samples(size_t(W) * H);
    std::vector<UInt8> bytes(samples.size());
    for (UInt32 k = 0; k < frames; ++k) {
      scene.RenderBayer(k, 1.0, wb, 3, bits, samples.data());
      const void* frame = samples.data();
      if (bits == 8) {
        for (size_t i = 0; i < samples.size(); ++i) bytes[i] = UInt8(samples[i]);
        frame = bytes.data();
      }
      EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame, 33.34 * k), noErr);
    }
    EXPECT_EQ(ORXDCAMCloseMovie(rec), noErr);
    if (stamp) {
      const UTCDateTime start{0, UInt32(Secs(2008, 3, 5, 21, 30, 0)), 0};
      char text[32];
      myMakeStartStampUTC(start, text);
      EXPECT_EQ(myAddInATC(start, fileSpec, text, 1, nullptr), noErr);
    }
    return (folder_.dir / "movies" / name).string();
  }

  // Two stars of the scene well apart from every other and from the edges:
  // the brighter is the variable. Their magnitude difference in luminance.
  static bool PickPair(SimStar* v, SimStar* c, double* dm) { return PickPair(Scene(), v, c, dm); }
  static bool PickPair(const SimSceneSettings& settings, SimStar* v, SimStar* c, double* dm) {
    SimScene scene(settings);
    const std::vector<SimStar>& all = scene.Stars();
    std::vector<SimStar> clear;
    for (size_t i = 0; i < all.size(); ++i) {
      bool alone = all[i].x > 40 && all[i].x < W - 40 && all[i].y > 40 && all[i].y < H - 40;
      for (size_t j = 0; j < all.size(); ++j)
        if (j != i && std::hypot(all[i].x - all[j].x, all[i].y - all[j].y) < 30) alone = false;
      if (alone) clear.push_back(all[i]);
    }
    if (clear.size() < 2) return false;
    *v = clear[0].flux > clear[1].flux ? clear[0] : clear[1];
    *c = clear[0].flux > clear[1].flux ? clear[1] : clear[0];
    auto luma = [](const SimStar& s) {
      return s.flux * (306.0 * s.colour[0] + 601.0 * s.colour[1] + 117.0 * s.colour[2]);
    };
    *dm = -2.512 * std::log10(luma(*v) / luma(*c));
    return true;
  }

  // A click on the frame in the selection window (the view is not scrolled).
  static void ClickImage(double x, double y) {
    WindowRef w = ui::FindWindow("BatchPhotometry");
    ASSERT_NE(w, nullptr);
    auto* r = reinterpret_cast<TBPS*>(GetWRefCon(w));
    Point p{short(std::lround(y)), short(std::lround(x))};
    ui::UserMouse(r->theImageView, kEventMouseDown, p);
    ui::UserMouse(r->theImageView, kEventMouseUp, p);
  }
  void PickStars(ScriptedUser& user, const SimStar& v, const SimStar& c) {
    user.Command(kSVAR)
        .Do([v] { ClickImage(v.x, v.y); })
        .Command(kSCON)
        .Do([c] { ClickImage(c.x, c.y); })
        .ClickOK("BatchPhotometry");
  }
  // Notes the save dialog's default name, then saves into the tables folder.
  void Save(ScriptedUser& user) {
    user.Do([this] {
      ControlRef name = ui::FindControl(ui::ModalWindow(), kSkyloomNavNameSignature, 0);
      asked_.push_back(name ? ui::ControlText(name) : "?");
    });
    nav::SaveInto(user, out_);
  }
  // The table whose name begins with the prefix, or "".
  std::string Table(const std::string& prefix) {
    for (const auto& e : std::filesystem::directory_iterator(out_))
      if (e.path().filename().string().rfind(prefix, 0) == 0) {
        const std::vector<uint8_t> b = skyloom::test::ReadFile(e.path().string());
        return std::string(b.begin(), b.end());
      }
    return "";
  }
  size_t TableCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(out_)) ++n;
    return n;
  }

  MovieFolder folder_;
  std::string out_;
  CFStringRef domain_ = nullptr;
  long gworlds_ = 0, handles_ = 0;
  std::vector<std::string> asked_;
};

// ---- Preferences ----

TEST_F(VarStarTest, PreferencesReadWithTheirRangesAndOnlyUnderAVersion) {
  MyBatchPhotomDataStruct d{};
  auto preset = [&d] {
    d.mOutputMode = 2;
    d.mFWHMMultiplier = 1.5f;
    d.mSaveLocations = 1;
  };
  // Without "VERS" nothing is read, even what is stored.
  Store("REPT", "0");
  Store("FWHM", "3.0");
  Store("SVLO", "0");
  preset();
  EXPECT_NE(myReadWriteVarStarPrefs(&d, 1), noErr);
  EXPECT_EQ(d.mOutputMode, 2);
  EXPECT_EQ(d.mFWHMMultiplier, 1.5f);
  EXPECT_EQ(d.mSaveLocations, 1);

  struct Case {
    const char *rept, *fwhm, *svlo;
    SInt32 mode;
    float mult;
    UInt8 save;
  } cases[] = {
      {"1", "3.0", "0", 1, 3.0f, 0},
      {"3", "7.0", "0.4", 2, 1.5f, 1},   // out of range: the defaults; SVLO above 0 reads 1
      {"0", "0.2", "1", 0, 0.2f, 1},
      {"2", "0.1", "-1", 2, 1.5f, 1},
  };
  Store("VERS", "67502080");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rept);
    Store("REPT", c.rept);
    Store("FWHM", c.fwhm);
    Store("SVLO", c.svlo);
    d.mOutputMode = 1;
    d.mFWHMMultiplier = 4.0f;
    d.mSaveLocations = 0;
    myReadWriteVarStarPrefs(&d, 1);
    EXPECT_EQ(d.mOutputMode, c.mode);
    EXPECT_FLOAT_EQ(d.mFWHMMultiplier, c.mult);
    EXPECT_EQ(d.mSaveLocations, c.save);
  }
}

TEST_F(VarStarTest, PreferencesWriteInOrderAndStopAtTheFirstFailure) {
  MyBatchPhotomDataStruct d{};
  d.mOutputMode = 1;
  d.mFWHMMultiplier = 2.25f;
  d.mSaveLocations = 0;
  EXPECT_EQ(myReadWriteVarStarPrefs(&d, 0), noErr);
  EXPECT_EQ(Stored("VERS"), "67502080.000000");
  EXPECT_EQ(Stored("REPT"), "1.000000");
  EXPECT_EQ(Stored("FWHM"), "2.250000");
  EXPECT_EQ(Stored("SVLO"), "0.000000");
  SkyloomPreferencesForgetAll();
  MyBatchPhotomDataStruct back{};
  EXPECT_EQ(myReadWriteVarStarPrefs(&back, 1), noErr);  // synchronised
  EXPECT_EQ(back.mOutputMode, 1);
  EXPECT_EQ(back.mFWHMMultiplier, 2.25f);

  // The third write ("FWHM") fails: "SVLO" is not written, nor synchronised.
  d.mOutputMode = 0;
  d.mFWHMMultiplier = 4.0f;
  d.mSaveLocations = 1;
  SkyloomFailVarStarPrefWrite(3);
  EXPECT_EQ(myReadWriteVarStarPrefs(&d, 0), memFullErr);
  SkyloomFailVarStarPrefWrite(0);
  EXPECT_EQ(Stored("REPT"), "0.000000");
  EXPECT_EQ(Stored("FWHM"), "2.250000");
  EXPECT_EQ(Stored("SVLO"), "0.000000");
  EXPECT_TRUE(ui::Alerts().empty());

  // A domain that can't be saved: one alert, and the caller goes on.
  ScriptedUser user;
  user.AnswerAlert();
  SkyloomFailPreferenceWrites(1);
  EXPECT_EQ(myReadWriteVarStarPrefs(&d, 0), noErr);
  SkyloomFailPreferenceWrites(0);
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].title, "System Error");
}

// ---- The run ----

TEST_F(VarStarTest, SixteenBitMovieBothTablesStampedInRealTime) {
  SimStar v, c;
  double dm = 0.0;
  ASSERT_TRUE(PickPair(&v, &c, &dm));
  const std::string movie = Record("stars16.mov", 16, 3, true);
  StoreSettings("2");
  const long descriptionWrites = SkyloomSampleDescriptionWrites();
  ScriptedUser user;
  nav::Choose(user, {movie});
  PickStars(user, v, c);
  Save(user);
  Save(user);
  myDoMovieVARStarProcessing();
  EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
  EXPECT_EQ(user.Pending(), 0u);
  EXPECT_TRUE(ui::Alerts().empty());
  // The raw Bayer description was set to the lossless quality.
  EXPECT_GT(SkyloomSampleDescriptionWrites(), descriptionWrites);
  ASSERT_EQ(asked_.size(), 2u);
  EXPECT_EQ(asked_[0].rfind("SimplePhotomVar_", 0), 0u) << asked_[0];
  EXPECT_EQ(asked_[1].rfind("DetailedPhotomVar_", 0), 0u) << asked_[1];

  const std::vector<std::string> rows = Split(Table("SimplePhotomVar_"), '\r');
  ASSERT_EQ(rows.size(), 1u + 3u + 1u) << Table("SimplePhotomVar_");
  EXPECT_EQ(rows[0], "DateUTC\tTimeUTC\tJulian Day Number\tV0 Rel Mag\tC0 Rel Mag\tV0 \xB1Mag\tC0 \xB1Mag\t");
  const char* times[] = {"21:30:00.03", "21:30:00.06", "21:30:00.10"};
  for (int k = 0; k < 3; ++k) {
    const std::vector<std::string> f = Split(rows[1 + k], '\t');
    ASSERT_EQ(f.size(), 3u + 4u + 1u) << rows[1 + k];
    EXPECT_EQ(f[0], "20080305");
    EXPECT_EQ(f[1], times[k]);
    EXPECT_NEAR(std::atof(f[3].c_str()), dm, 0.02) << rows[1 + k];
    EXPECT_EQ(f[4], "0.0000");
  }
  const std::vector<std::string> detailed = Split(Table("DetailedPhotomVar_"), '\r');
  ASSERT_EQ(detailed.size(), 1u + 3u * 2u + 1u);
  EXPECT_EQ(Split(detailed[1], '\t')[3], "Var Star#0");
  EXPECT_NEAR(std::atof(Split(detailed[1], '\t')[4].c_str()), v.x, 1.0);
  // What the window handed over went back to the domain.
  EXPECT_EQ(Stored("REPT"), "2.000000");
  EXPECT_EQ(Stored("FWHM"), "2.500000");
}

TEST_F(VarStarTest, EightBitMovieWithoutStampCountsElapsedSecondsIntoOneTable) {
  SimStar v, c;
  double dm = 0.0;
  ASSERT_TRUE(PickPair(&v, &c, &dm));
  const std::string movie = Record("stars8.mov", 8, 3, false);
  StoreSettings("1");
  ScriptedUser user;
  nav::Choose(user, {movie});
  PickStars(user, v, c);
  Save(user);
  myDoMovieVARStarProcessing();
  EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
  EXPECT_EQ(user.Pending(), 0u);
  ASSERT_EQ(asked_.size(), 1u);
  EXPECT_EQ(asked_[0].rfind("DetailedPhotomVar_", 0), 0u) << asked_[0];
  EXPECT_EQ(TableCount(), 1u);
  const std::vector<std::string> rows = Split(Table("DetailedPhotomVar_"), '\r');
  ASSERT_EQ(rows.size(), 1u + 3u * 2u + 1u) << Table("DetailedPhotomVar_");
  EXPECT_EQ(rows[0].rfind("ElapsedTime\tStarID\t", 0), 0u);
  const char* times[] = {"    0.03", "    0.07", "    0.10"};
  for (int k = 0; k < 3; ++k) {
    const std::vector<std::string> var = Split(rows[1 + 2 * k], '\t');
    ASSERT_EQ(var.size(), 1u + 13u) << rows[1 + 2 * k];
    EXPECT_EQ(var[0], times[k]);
    EXPECT_EQ(var[1], "Var Star#0");
    EXPECT_NEAR(std::atof(var[4].c_str()), dm, 0.02) << rows[1 + 2 * k];
  }
}

TEST_F(VarStarTest, OneFrameMovieIsStampedAtItsDuration) {
  SimStar v, c;
  double dm = 0.0;
  ASSERT_TRUE(PickPair(&v, &c, &dm));
  const std::string movie = Record("one.mov", 16, 1, false);
  StoreSettings("0");
  ScriptedUser user;
  nav::Choose(user, {movie});
  PickStars(user, v, c);
  Save(user);
  myDoMovieVARStarProcessing();
  EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
  const std::vector<std::string> rows = Split(Table("SimplePhotomVar_"), '\r');
  ASSERT_EQ(rows.size(), 1u + 1u + 1u) << Table("SimplePhotomVar_");
  EXPECT_EQ(Split(rows[1], '\t')[0], "    0.03");
}

TEST_F(VarStarTest, AFailedFrameReadEndsTheRunAndKeepsTheRowsWritten) {
  SimStar v, c;
  double dm = 0.0;
  ASSERT_TRUE(PickPair(&v, &c, &dm));
  const std::string movie = Record("stars16.mov", 16, 3, false);
  StoreSettings("0");
  ScriptedUser user;
  nav::Choose(user, {movie});
  // The first read is the selection window's frame, then frames 1 and 2.
  user.Do([] { SkyloomFailMovieFrameWalkRead(2, -2014); });
  PickStars(user, v, c);
  Save(user);
  user.AnswerAlert();
  myDoMovieVARStarProcessing();
  SkyloomFailMovieFrameWalkRead(0, 0);
  EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].title, "OSX Err");
  EXPECT_EQ(ui::Alerts()[0].message, "An err of  -2014 / 0xfffff822 has Occured. Processing cannot continue.\n");
  const std::vector<std::string> rows = Split(Table("SimplePhotomVar_"), '\r');
  ASSERT_EQ(rows.size(), 1u + 1u + 1u);
  EXPECT_EQ(Split(rows[1], '\t')[0], "    0.03");
}

TEST_F(VarStarTest, CancelAnywhereEndsWithoutATable) {
  SimStar v, c;
  double dm = 0.0;
  ASSERT_TRUE(PickPair(&v, &c, &dm));
  const std::string movie = Record("stars16.mov", 16, 2, true);
  StoreSettings("2");
  for (int at = 0; at < 4; ++at) {
    SCOPED_TRACE(at);
    ScriptedUser user;
    if (at == 0) {
      nav::Cancel(user);
    } else {
      nav::Choose(user, {movie});
      if (at == 1) {
        user.ClickCancel("BatchPhotometry");
      } else {
        PickStars(user, v, c);
        if (at == 3) Save(user);
        nav::Cancel(user);
      }
    }
    myDoMovieVARStarProcessing();
    EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
    EXPECT_EQ(user.Pending(), 0u);
    // A table made before the cancelled one stays, empty.
    if (at == 3) {
      EXPECT_EQ(TableCount(), 1u);
      EXPECT_EQ(Table("SimplePhotomVar_"), "");
      std::filesystem::remove_all(out_);
      std::filesystem::create_directory(out_);
    }
    EXPECT_EQ(TableCount(), 0u);
    EXPECT_TRUE(ui::Alerts().empty());
  }
}

TEST_F(VarStarTest, MoviesThatCannotBeMeasured) {
  // Not a movie at all: the run ends silently.
  const std::string junk = (folder_.dir / "movies" / "junk.mov").string();
  FILE* f = std::fopen(junk.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("not a movie", f);
  std::fclose(f);
  {
    ScriptedUser user;
    nav::Choose(user, {junk});
    myDoMovieVARStarProcessing();
    EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
    EXPECT_TRUE(ui::Alerts().empty());
  }
  // A movie whose picture has no size.
  {
    OSErr err = noErr;
    ImageDescriptionHandle desc = myCreateMovieImageDescription(FOUR_CHAR_CODE("raw "), 8, 1024, 0, 0, &err);
    ASSERT_EQ(err, noErr);
    const float times[1] = {0.0f};
    MovieAtomParams p{0, 0, 600, times, 1, 1, 33.34, desc, 3029529600u};
    std::vector<UInt8> moov;
    ASSERT_EQ(myBuildMovieAtom(p, &moov), noErr);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    std::vector<UInt8> bytes(kMovieFirstFrameOffset, 0);
    myBuildMovieFileHeader(1, 1, bytes.data());
    bytes.push_back(0);
    bytes.insert(bytes.end(), moov.begin(), moov.end());
    const std::string empty = (folder_.dir / "movies" / "empty.mov").string();
    FILE* e = std::fopen(empty.c_str(), "wb");
    ASSERT_NE(e, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), e);
    std::fclose(e);
    ScriptedUser user;
    nav::Choose(user, {empty});
    user.AnswerAlert();
    myDoMovieVARStarProcessing();
    EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
    ASSERT_EQ(ui::Alerts().size(), 1u);
    EXPECT_EQ(ui::Alerts()[0].title, "OSX Err");
    EXPECT_EQ(ui::Alerts()[0].message, "Movie does not contian video. Cannot Complete operation.");
    ui::ResetModel();
  }
  // No offscreen can be made: silent.
  const std::string movie = Record("stars16.mov", 16, 1, false);
  {
    ScriptedUser user;
    nav::Choose(user, {movie});
    SkyloomFailGWorldCreation(1);
    myDoMovieVARStarProcessing();
    SkyloomFailGWorldCreation(0);
    EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
    EXPECT_TRUE(ui::Alerts().empty());
  }
  EXPECT_EQ(TableCount(), 0u);
}

}  // namespace
