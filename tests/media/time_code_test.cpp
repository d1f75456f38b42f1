#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "camera_driver/DCAMCameraStruct.h"
#include "media/MovieLayout.h"
#include "media/MovieReading.h"
#include "media/MovieRecorder.h"
#include "media/TimeCode.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/navigation/NavScript.h"
#include "platform/quicktime/Movies.h"
#include "utilities/Alerts.h"

namespace {

constexpr UInt32 W = 4, H = 2;

// A recording of n 8-bit grey frames, one every `intervalMs`, media time scale 600 unless given.
std::vector<UInt8> recording(UInt32 n, float intervalMs, double nominalMs = 40.0, SInt32 timeScale = 600) {
  OSErr err;
  ImageDescriptionHandle d = myCreateMovieImageDescription(FOUR_CHAR_CODE("raw "), 8, 1024, W, H, &err);
  std::vector<float> times;
  for (UInt32 k = 0; k < n; ++k) times.push_back(1000.0f + intervalMs * float(k));
  MovieAtomParams p{W, H, timeScale, times.data(), n, W * H, nominalMs, d, 3029529600u};
  std::vector<UInt8> moov;
  EXPECT_EQ(myBuildMovieAtom(p, &moov), noErr);
  DisposeHandle(reinterpret_cast<Handle>(d));
  std::vector<UInt8> file(kMovieFirstFrameOffset, 0);
  myBuildMovieFileHeader(n, W * H, file.data());
  for (UInt32 k = 0; k < n; ++k)
    for (UInt32 i = 0; i < W * H; ++i) file.push_back(UInt8(k * 8 + i));
  file.insert(file.end(), moov.begin(), moov.end());
  return file;
}

UTCDateTime utc(short y, short mo, short d, short h, short mi, short s, UInt16 fraction) {
  DateTimeRec r{y, mo, d, h, mi, s, 0};
  UInt32 secs = 0;
  DateToSeconds(&r, &secs);
  return UTCDateTime{0, secs, fraction};
}

using skyloom::test::ReadFile;

class TimeCode : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-tc-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::filesystem::create_directory(dir / "config");
    SkyloomSetConfigurationDirectory((dir / "config").c_str());
  }
  void TearDown() override {
    SkyloomSetConfigurationDirectory(nullptr);
    std::filesystem::remove_all(dir);
  }
  std::string write(const char* name, const std::vector<UInt8>& bytes) {
    std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }
  FSSpec locationOf(const std::string& path) {
    FSRef ref;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    FSSpec location{};
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &location, nullptr), noErr);
    return location;
  }
  FSRef refOf(const std::string& path) {
    FSRef ref;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    return ref;
  }
  Movie open(const std::string& path) {
    Handle h = nullptr;
    PtrToHand(path.c_str(), &h, long(path.size() + 1));
    Movie m = nullptr;
    EXPECT_EQ(NewMovieFromDataRef(&m, 0, nullptr, h, AliasDataHandlerSubType), noErr);
    DisposeHandle(h);
    return m;
  }
};

}  // namespace

TEST(StartStamp, FormatsAndCarriesHundredths) {
  char s[32];
  myMakeStartStampUTC(utc(2007, 3, 14, 21, 5, 3, 4588), s);  // .07 of a second
  EXPECT_STREQ(s, "STARTED20070314_210503.07UTC");
  myMakeStartStampUTC(utc(2006, 12, 31, 23, 59, 59, 65535), s);  // .99998 rounds to the next year
  EXPECT_STREQ(s, "STARTED20070101_000000.00UTC");
  myMakeStartStampUTC(utc(2008, 2, 29, 1, 2, 3, 0), s);
  EXPECT_STREQ(s, "STARTED20080229_010203.00UTC");
}

TEST_F(TimeCode, AddedTrackReadsInStandardToolsAndBackHere) {
  // 300 frames 33.33 ms apart at time scale 600: 20 units each, 10 seconds.
  std::string path = write("rec.mov", recording(300, 100.0f / 3.0f));
  char stamp[32];
  const UTCDateTime start = utc(2007, 3, 14, 21, 5, 3, 4588);
  myMakeStartStampUTC(start, stamp);
  SInt32 frames = 0;
  ASSERT_EQ(myAddInATC(start, locationOf(path), stamp, 1, &frames), noErr);
  EXPECT_EQ(frames, 300);

  Movie m = open(path);
  ASSERT_NE(m, nullptr);
  TimeCodeDef def{};
  TimeCodeRecord rec{};
  char text[255];
  ASSERT_EQ(myExtractTimeCodeData(m, &def, &rec, text), noErr);
  EXPECT_EQ(def.fTimeScale, 30000);
  EXPECT_EQ(def.frameDuration, 1000);
  EXPECT_EQ(def.numFrames, 30);
  EXPECT_EQ(def.flags, 0);
  EXPECT_EQ(rec.t.hours, 21);
  EXPECT_EQ(rec.t.minutes, 5);
  EXPECT_EQ(rec.t.seconds, 3);
  EXPECT_EQ(rec.t.frames, 2);  // trunc(30 x 4588 / 65535)
  EXPECT_STREQ(text, "STARTED20070314_210503.07UTC");
  // The recording still reads frame-exactly.
  Media video = GetTrackMedia(GetMovieIndTrackType(m, 1, VideoMediaType, 0));
  std::vector<UInt8> raw(W * H * 4);
  Handle sample = NewHandle(0);
  for (int k : {0, 150, 299}) {
    ASSERT_EQ(myGet8BitMediaSampleInARGB32Buffer(m, video, sample, raw.data(), W, H, TimeValue(20 * k), nullptr, 1), noErr);
    for (UInt32 i = 0; i < W * H; ++i) ASSERT_EQ(raw[i], UInt8(k * 8 + i)) << k;
  }
  DisposeHandle(sample);
  DisposeMovie(m);
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
  std::string out = skyloom::test::Run("ffprobe -v error -select_streams d -show_entries stream=codec_tag_string:stream_tags=timecode,reel_name -of default=nw=1 " + path);
  EXPECT_NE(out.find("codec_tag_string=tmcd"), std::string::npos) << out;
  EXPECT_NE(out.find("TAG:reel_name=STARTED20070314_210503.07UTC"), std::string::npos) << out;
  EXPECT_NE(out.find("TAG:timecode=21:05:03:02"), std::string::npos) << out;
  EXPECT_EQ(skyloom::test::Run("ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " + path), "300\n");
}

TEST_F(TimeCode, FrameRatesAndFrameNumbers) {
  // The handler's numbering: ((21 x 3600 + 5 x 60 + 3) x 30 + 15).
  TimeCodeDef def{0, 30000, 1000, 30, 0};
  TimeCodeRecord rec{};
  rec.t = TimeCodeTime{21, 5, 3, 15};
  SInt32 n = 0;
  ASSERT_EQ(TCTimeCodeToFrameNumber(nullptr, &def, &rec, &n), noErr);
  EXPECT_EQ(n, 2277105);
  // A fraction of 32768 at 30 fps is frame 15 of the second.
  std::string path = write("half.mov", recording(300, 100.0f / 3.0f));
  char stamp[32];
  myMakeStartStampUTC(utc(2007, 3, 14, 21, 5, 3, 32768), stamp);
  ASSERT_EQ(myAddInATC(utc(2007, 3, 14, 21, 5, 3, 32768), locationOf(path), stamp, 0, nullptr), noErr);
  Movie m = open(path);
  char text[255];
  ASSERT_EQ(myExtractTimeCodeData(m, &def, &rec, text), noErr);
  EXPECT_EQ(rec.t.frames, 15);
  DisposeMovie(m);
  // Few frames over a long time: fps stays at least 1.
  std::string slow = write("slow.mov", recording(3, 2000.0f));
  ASSERT_EQ(myAddInATC(utc(2010, 1, 1, 0, 0, 0, 0), locationOf(slow), "STARTED", 1, nullptr), noErr);
  m = open(slow);
  ASSERT_EQ(myExtractTimeCodeData(m, &def, &rec, text), noErr);
  EXPECT_EQ(def.numFrames, 1);
  EXPECT_EQ(def.fTimeScale, 1000);
  DisposeMovie(m);
}

TEST_F(TimeCode, RefusalsLeaveTheFileUntouched) {
  std::string shortOne = write("short.mov", recording(1, 40.0f, 1.0));  // duration 0
  auto before = ReadFile(shortOne);
  EXPECT_EQ(myAddInATC(utc(2010, 1, 1, 0, 0, 0, 0), locationOf(shortOne), "STARTED", 1, nullptr), -2);
  EXPECT_EQ(ReadFile(shortOne), before);
  auto noVideo = recording(10, 40.0f);
  for (size_t i = 0; i + 4 <= noVideo.size(); ++i)
    if (std::memcmp(&noVideo[i], "vide", 4) == 0) std::memcpy(&noVideo[i], "soun", 4);
  std::string nv = write("nv.mov", noVideo);
  before = ReadFile(nv);
  EXPECT_EQ(myAddInATC(utc(2010, 1, 1, 0, 0, 0, 0), locationOf(nv), "STARTED", 1, nullptr), -1);
  EXPECT_EQ(ReadFile(nv), before);
  Movie m = open(nv);
  TimeCodeDef def;
  TimeCodeRecord rec;
  char text[255];
  EXPECT_EQ(myExtractTimeCodeData(m, &def, &rec, text), -1);
  DisposeMovie(m);
}

TEST_F(TimeCode, HideShowFlipsEveryTrackAndCopiesAreHidden) {
  std::string path = write("two.mov", recording(20, 40.0f));
  ASSERT_EQ(myAddInATC(utc(2010, 1, 1, 1, 2, 3, 0), locationOf(path), "STARTED20100101_010203.00UTC", 1, nullptr), noErr);
  ASSERT_EQ(myAddInATC(utc(2010, 1, 1, 1, 2, 3, 0), locationOf(path), "STARTED20100101_010203.00UTC", 1, nullptr), noErr);
  auto enabledStates = [&] {
    Movie m = open(path);
    std::vector<int> states;
    for (long i = 1; i <= GetMovieTrackCount(m); ++i) {
      OSType type = 0;
      GetMediaHandlerDescription(GetTrackMedia(GetMovieIndTrack(m, i)), &type, nullptr, nullptr);
      if (type == TimeCodeMediaType) states.push_back(GetTrackEnabled(GetMovieIndTrack(m, i)));
    }
    DisposeMovie(m);
    return states;
  };
  EXPECT_EQ(enabledStates(), std::vector<int>({1, 1}));
  ASSERT_EQ(myHideShowTCTForFile(refOf(path), 0), noErr);
  EXPECT_EQ(enabledStates(), std::vector<int>({0, 0}));
  ASSERT_EQ(myHideShowTCTForFile(refOf(path), 1), noErr);
  EXPECT_EQ(enabledStates(), std::vector<int>({1, 1}));
  std::string plain = write("plain.mov", recording(5, 40.0f));
  EXPECT_EQ(myHideShowTCTForFile(refOf(plain), 1), -1);

  // A processed movie takes a hidden copy of the source's time code.
  Movie src = open(path);
  TimeCodeDef def;
  TimeCodeRecord rec;
  char text[255];
  ASSERT_EQ(myExtractTimeCodeData(src, &def, &rec, text), noErr);
  DisposeMovie(src);
  std::string out = write("out.mov", recording(8, 40.0f));
  short ref = 0;
  FSSpec location = locationOf(out);
  ASSERT_EQ(OpenMovieFile(&location, &ref, fsRdWrPerm), noErr);
  Movie dst = nullptr;
  ASSERT_EQ(NewMovieFromFile(&dst, ref, nullptr, nullptr, 0, nullptr), noErr);
  ASSERT_EQ(myCopyTCToMovie(dst, GetMovieIndTrackType(dst, 1, VideoMediaType, 0), &def, &rec, text), noErr);
  ASSERT_EQ(UpdateMovieResource(dst, ref, 0, nullptr), noErr);
  CloseMovieFile(ref);
  DisposeMovie(dst);
  Movie copy = open(out);
  TimeCodeDef def2;
  TimeCodeRecord rec2;
  char text2[255];
  ASSERT_EQ(myExtractTimeCodeData(copy, &def2, &rec2, text2), noErr);
  EXPECT_STREQ(text2, text);
  EXPECT_EQ(rec2.c, rec.c);
  EXPECT_EQ(GetTrackEnabled(GetMovieIndTrackType(copy, 1, TimeCodeMediaType, 0)), 0);
  DisposeMovie(copy);
}

TEST_F(TimeCode, LongNamesComeBackCut) {
  std::string path = write("long.mov", recording(10, 40.0f));
  std::string name(300, 'x');
  ASSERT_EQ(myAddInATC(utc(2010, 1, 1, 0, 0, 0, 0), locationOf(path), name.c_str(), 1, nullptr), noErr);
  Movie m = open(path);
  TimeCodeDef def;
  TimeCodeRecord rec;
  char text[255];
  ASSERT_EQ(myExtractTimeCodeData(m, &def, &rec, text), noErr);
  EXPECT_EQ(std::strlen(text), 254u);
  DisposeMovie(m);
}

TEST_F(TimeCode, ShowHideCommandThroughTheDialog) {
  std::string path = write("cmd.mov", recording(20, 40.0f));
  ASSERT_EQ(myAddInATC(utc(2010, 1, 1, 1, 2, 3, 0), locationOf(path), "STARTED20100101_010203.00UTC", 1, nullptr), noErr);
  skyloom::ui::ResetModel();
  {
    skyloom::ui::ScriptedUser user;
    skyloom::nav::Choose(user, {path});
    myHideShowTCT(0);
    EXPECT_TRUE(user.Errors().empty());
  }
  Movie m = open(path);
  EXPECT_EQ(GetTrackEnabled(GetMovieIndTrackType(m, 1, TimeCodeMediaType, 0)), 0);
  DisposeMovie(m);
  EXPECT_TRUE(skyloom::ui::Alerts().empty());
  // A movie without a time code: the user is told so, after a beep.
  std::string plain = write("plain.mov", recording(5, 40.0f));
  long beeps = SkyloomBeepCount();
  {
    skyloom::ui::ScriptedUser user;
    skyloom::nav::Choose(user, {plain}).AnswerAlert();
    myHideShowTCT(1);
  }
  ASSERT_EQ(skyloom::ui::Alerts().size(), 1u);
  auto localized = [](const char* key) {
    CFStringRef s = myGetLocalizedCFString(key);
    char buf[256] = {0};
    if (s) {
      CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8);
      CFRelease(s);
    }
    return std::string(buf);
  };
  EXPECT_EQ(skyloom::ui::Alerts()[0].title, localized("USRER"));
  EXPECT_EQ(skyloom::ui::Alerts()[0].message, localized("NOTIMECODETRACK"));
  EXPECT_EQ(SkyloomBeepCount(), beeps + 1);
  // A cancelled dialog says nothing.
  {
    skyloom::ui::ScriptedUser user;
    skyloom::nav::Cancel(user);
    myHideShowTCT(1);
  }
  EXPECT_EQ(skyloom::ui::Alerts().size(), 1u);
}

// ---- Time codes as other readers see them ----

namespace {

// ffprobe's view of a file; the check fails when ffprobe is missing.
std::string probe(const std::string& args, const std::string& path) {
  if (::testing::AssertionResult ok = skyloom::test::ToolInstalled("ffprobe"); !ok) {
    ADD_FAILURE() << ok.message();
    return "";
  }
  return skyloom::test::RunStdout("ffprobe -v error " + args + " " + path);
}

// The start time code ffprobe shows for the time-code stream, with two
// digits at least for the frame (ffprobe writes as many as the rate needs).
std::string probedTimeCode(const std::string& path) {
  const std::string out = probe("-select_streams d -show_entries stream_tags=timecode -of default=nw=1:nk=1", path);
  unsigned h = 0, m = 0, sec = 0, f = 0;
  char end = 0;
  if (std::sscanf(out.c_str(), "%u:%u:%u:%u%c", &h, &m, &sec, &f, &end) != 5 || end != '\n') return "unread: " + out;
  char s[32];
  std::snprintf(s, sizeof s, "%02u:%02u:%02u:%02u", h, m, sec, f);
  return s;
}

// Our reader's start time code, written as ffprobe writes one.
std::string readTimeCode(Movie m, TimeCodeDef* def) {
  TimeCodeRecord rec{};
  char text[255];
  if (myExtractTimeCodeData(m, def, &rec, text) != noErr) return "none";
  char s[32];
  std::snprintf(s, sizeof s, "%02u:%02u:%02u:%02u", rec.t.hours, rec.t.minutes, rec.t.seconds, rec.t.frames);
  return s;
}

// Where a new file will be made in the test's folder.
FSSpec newFileLocation(const std::filesystem::path& folder, const char* name) {
  FSRef ref;
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), &ref, nullptr), noErr);
  FSCatalogInfo info{};
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr), noErr);
  Str255 p;
  p[0] = UInt8(std::strlen(name));
  std::memcpy(p + 1, name, p[0]);
  FSSpec location{};
  EXPECT_EQ(FSMakeFSSpec(info.volume, SInt32(info.nodeID), p, &location), fnfErr);
  return location;
}

// Where the last top-level atom of a file starts.
size_t lastAtom(const std::vector<UInt8>& f) {
  size_t pos = 0, last = 0;
  while (pos + 8 <= f.size()) {
    const UInt32 size = myGetBE32(&f[pos]);
    if (size < 8) break;
    last = pos;
    pos += size;
  }
  return last;
}

}  // namespace

TEST_F(TimeCode, StartReadsTheSameInFFprobeAtEveryFrameRate) {
  // Each case: frames, interval, media time scale; the rate these give is
  // frames / rint(media duration / time scale x 600) x 600, stored as
  // trunc(rate) frames a second (at most 255). The start, 21:05:03 and a
  // fraction of 32768, is frame trunc(rate x 32768 / 65535) of its second,
  // held at 254 when the rate is above 255.
  struct Case {
    const char* name;
    UInt32 n;
    float intervalMs;
    SInt32 timeScale;
    int numFrames;
    const char* start;
  } cases[] = {
      {"7.5", 30, 1000.0f / 7.5f, 600, 7, "21:05:03:03"},       // 80 units a frame
      {"15", 30, 1000.0f / 15.0f, 600, 15, "21:05:03:07"},      // 40
      {"29.9", 299, 1000.0f / 29.9f, 2990, 29, "21:05:03:14"},  // 100; 6000 movie units
      {"30", 300, 1000.0f / 30.0f, 600, 30, "21:05:03:15"},     // 20
      {"59.94", 300, 1000.0f / 59.94f, 5994, 59, "21:05:03:29"},  // 100; 3003 movie units
      {"240", 100, 1000.0f / 240.0f, 2400, 240, "21:05:03:120"},  // 10; 250 movie units
      {"1000", 100, 1.0f, 1000, 255, "21:05:03:254"},           // 1; 60 movie units
  };
  const UTCDateTime start = utc(2007, 3, 14, 21, 5, 3, 32768);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = write((std::string("rate") + c.name + ".mov").c_str(), recording(c.n, c.intervalMs, 40.0, c.timeScale));
    SInt32 frames = 0;
    ASSERT_EQ(myAddInATC(start, locationOf(path), "STARTED20070314_210503.50UTC", 1, &frames), noErr);
    EXPECT_EQ(frames, SInt32(c.n));  // every frame counted, also 1 ms apart
    Movie m = open(path);
    ASSERT_NE(m, nullptr);
    TimeCodeDef def{};
    EXPECT_EQ(readTimeCode(m, &def), c.start);
    DisposeMovie(m);
    EXPECT_EQ(def.numFrames, c.numFrames);
    // The definition's rate is the stored frames a second exactly.
    ASSERT_GT(def.frameDuration, 0);
    EXPECT_EQ(def.fTimeScale % def.frameDuration, 0);
    EXPECT_EQ(def.fTimeScale / def.frameDuration, c.numFrames);
    EXPECT_EQ(probedTimeCode(path), c.start);
  }
}

TEST_F(TimeCode, RecordingAt29_9FramesASecondThroughTheRecorder) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
  const double frameMs = 1000.0 / 29.9;  // 100 units of a 2990 time scale
  OSErr err = noErr;
  MyMovieRecorderStruct* rec =
      ORXDCAMCreateMovie(camera, frameMs, 2990, 8, 8, FOUR_CHAR_CODE("raw "), 8, 0, newFileLocation(dir, "rec.mov"), &err);
  ASSERT_NE(rec, nullptr) << err;
  std::vector<UInt8> frame(64);
  for (UInt32 k = 0; k < 299; ++k) {
    std::fill(frame.begin(), frame.end(), UInt8(k));
    ASSERT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), 5000.0 + frameMs * k), noErr);
    // One frame at a time, so that a full ring never drops one (hang guard only).
    MyMovieRecorderStats stats{};
    for (int i = 0; i < 20000; ++i) {
      myMovieRecorderGetStats(rec, &stats);
      if (stats.framesWritten > k) break;
      usleep(1000);
    }
    ASSERT_EQ(stats.framesWritten, k + 1);
  }
  ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
  std::free(camera);
  const std::string path = (dir / "rec.mov").string();
  SInt32 frames = 0;
  const UTCDateTime start = utc(2007, 3, 14, 21, 5, 3, 32768);
  char stamp[32];
  myMakeStartStampUTC(start, stamp);
  ASSERT_EQ(myAddInATC(start, locationOf(path), stamp, 1, &frames), noErr);
  EXPECT_EQ(frames, 299);
  Movie m = open(path);
  ASSERT_NE(m, nullptr);
  TimeCodeDef def{};
  EXPECT_EQ(readTimeCode(m, &def), "21:05:03:14");
  DisposeMovie(m);
  EXPECT_EQ(def.numFrames, 29);
  EXPECT_EQ(probedTimeCode(path), "21:05:03:14");
}

TEST_F(TimeCode, RecordingWithoutFramesHasNoMovie) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
  OSErr err = noErr;
  MyMovieRecorderStruct* rec =
      ORXDCAMCreateMovie(camera, 40.0, 600, 8, 8, FOUR_CHAR_CODE("raw "), 8, 0, newFileLocation(dir, "empty.mov"), &err);
  ASSERT_NE(rec, nullptr) << err;
  ASSERT_EQ(ORXDCAMCloseMovie(rec), noErr);
  std::free(camera);
  const std::string path = (dir / "empty.mov").string();
  const auto before = ReadFile(path);
  ASSERT_FALSE(before.empty());
  SInt32 frames = -1;
  EXPECT_EQ(myAddInATC(utc(2010, 1, 1, 0, 0, 0, 0), locationOf(path), "STARTED", 1, &frames), memFullErr);
  EXPECT_EQ(frames, 0);
  EXPECT_EQ(ReadFile(path), before);
}

TEST_F(TimeCode, MoviesNotInQuickTimeLayoutAreNotWritten) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffmpeg"));
  const std::string avi = (dir / "clip.avi").string();
  skyloom::test::Run("ffmpeg -v error -f lavfi -i testsrc=size=16x16:rate=10 -frames:v 20 -c:v rawvideo -pix_fmt bgr24 " + avi);
  const auto before = ReadFile(avi);
  ASSERT_FALSE(before.empty());
  // It reads as a movie with a video track...
  Movie m = open(avi);
  ASSERT_NE(m, nullptr);
  EXPECT_NE(GetMovieIndTrackType(m, 1, VideoMediaType, 0), nullptr);
  DisposeMovie(m);
  // ...but nothing is appended to it.
  EXPECT_EQ(myAddInATC(utc(2010, 1, 1, 0, 0, 0, 0), locationOf(avi), "STARTED", 1, nullptr), wrPermErr);
  EXPECT_EQ(ReadFile(avi), before);
  EXPECT_EQ(myHideShowTCTForFile(refOf(avi), 1), -1);
  EXPECT_EQ(ReadFile(avi), before);

  // A QuickTime file with a torn atom after its movie: what is appended
  // would be read as part of it.
  auto torn = recording(10, 40.0f);
  torn.insert(torn.end(), {0, 0, 0, 40, 'f', 'r'});
  const std::string tornPath = write("torn.mov", torn);
  m = open(tornPath);
  ASSERT_NE(m, nullptr);
  DisposeMovie(m);
  EXPECT_EQ(myAddInATC(utc(2010, 1, 1, 0, 0, 0, 0), locationOf(tornPath), "STARTED", 1, nullptr), wrPermErr);
  EXPECT_EQ(ReadFile(tornPath), torn);
}

TEST_F(TimeCode, LastAtomRunningToTheEndOfTheFile) {
  // The movie atom last with size 0: it runs to the end of the file.
  auto bytes = recording(20, 40.0f);
  const size_t moov = lastAtom(bytes);
  ASSERT_EQ(myGetBE32(&bytes[moov + 4]), FOUR_CHAR_CODE("moov"));
  myPutBE32(&bytes[moov], 0);
  const std::string path = write("open.mov", bytes);
  ASSERT_EQ(probe("-select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0", path), "20\n");

  ASSERT_EQ(myAddInATC(utc(2010, 1, 1, 1, 2, 3, 0), locationOf(path), "STARTED20100101_010203.00UTC", 1, nullptr), noErr);
  Movie m = open(path);
  ASSERT_NE(m, nullptr);
  TimeCodeDef def{};
  EXPECT_EQ(readTimeCode(m, &def), "01:02:03:00");
  DisposeMovie(m);
  EXPECT_EQ(probedTimeCode(path), "01:02:03:00");

  // Now the new movie atom runs to the end, and the track is hidden and shown.
  bytes = ReadFile(path);
  const size_t moov2 = lastAtom(bytes);
  ASSERT_GT(moov2, moov);
  ASSERT_EQ(myGetBE32(&bytes[moov2 + 4]), FOUR_CHAR_CODE("moov"));
  myPutBE32(&bytes[moov2], 0);
  write("open.mov", bytes);
  auto states = [&] {
    Movie mv = open(path);
    std::string s = "ours " + std::to_string(GetTrackEnabled(GetMovieIndTrackType(mv, 1, TimeCodeMediaType, 0)));
    DisposeMovie(mv);
    return s + ", ffprobe " + probe("-select_streams d -show_entries stream_disposition=default -of csv=p=0", path);
  };
  ASSERT_EQ(states(), "ours 1, ffprobe 1\n");
  ASSERT_EQ(myHideShowTCTForFile(refOf(path), 0), noErr);
  EXPECT_EQ(states(), "ours 0, ffprobe 0\n");
  ASSERT_EQ(myHideShowTCTForFile(refOf(path), 1), noErr);
  EXPECT_EQ(states(), "ours 1, ffprobe 1\n");
  EXPECT_EQ(probe("-select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0", path), "20\n");
}

TEST_F(TimeCode, MediaSampleTimesStepInMediaUnits) {
  // Three frames 40 ms apart at time scale 600: samples at 0, 24 and 48, to 72.
  std::string path = write("steps.mov", recording(3, 40.0f));
  Movie m = open(path);
  ASSERT_NE(m, nullptr);
  Media media = GetTrackMedia(GetMovieIndTrackType(m, 1, VideoMediaType, 0));
  struct Case {
    short flags;
    TimeValue from;
    Fixed rate;
    TimeValue time, duration;
  } cases[] = {
      {nextTimeMediaSample, 0, fixed1, 24, 24},
      {nextTimeMediaSample, 30, fixed1, 48, 24},
      {nextTimeMediaSample | nextTimeEdgeOK, 24, fixed1, 24, 24},
      {nextTimeMediaSample, 48, fixed1, -1, 0},
      {nextTimeMediaSample, -5, fixed1, 0, 24},
      {nextTimeMediaSample, 48, -fixed1, 24, 24},
      {nextTimeMediaSample | nextTimeEdgeOK, 48, -fixed1, 48, 24},
      {nextTimeMediaSample, 0, -fixed1, -1, 0},
      {nextTimeMediaSample, 500, -fixed1, 48, 24},
      {nextTimeMediaEdit, 0, fixed1, -1, 0},
  };
  for (const Case& c : cases) {
    TimeValue t = 7, d = 7;
    GetMediaNextInterestingTime(media, c.flags, c.from, c.rate, &t, &d);
    EXPECT_EQ(t, c.time) << c.flags << " " << c.from << " " << c.rate;
    EXPECT_EQ(d, c.duration) << c.flags << " " << c.from << " " << c.rate;
  }
  DisposeMovie(m);
}
