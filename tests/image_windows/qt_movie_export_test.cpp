// The movie export command on the headless window model: movies from the
// recorder exported as an uncompressed movie (checked with ffprobe and read
// back with ffmpeg) or as an image sequence, and its cancel, stop and
// failure paths.
#include "image_windows/QTMovieExport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "camera_driver/DCAMCameraStruct.h"
#include "media/MovieReading.h"
#include "media/MovieRecorder.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/navigation/NavScript.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/MovieExport.h"
#include "platform/quicktime/Movies.h"
#include "tests/support/TestTIFF.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;
namespace nav = skyloom::nav;

namespace {

constexpr UInt32 W = 40, H = 24;
// Frame times in ms; the recorder keeps the intervals (the first frame only
// sets the time origin, so the movie holds one frame less).
const double kFrameMs[] = {1000.0, 1040.0, 1100.0, 1180.0, 1200.0};
constexpr int kFrames = 5;
constexpr int kStored = kFrames - 1;

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// The first video stream's bytes as ffmpeg decodes them, in pixel format fmt.
std::string FFmpegFrames(const std::string& path, const char* fmt) {
  return Shell("ffmpeg -v error -i '" + path + "' -fps_mode passthrough -f rawvideo -pix_fmt " + fmt + " - 2>/dev/null");
}

// A step of the user while the export polls: the progress window's Stop.
class StopPresser : public UserAgent {
 public:
  explicit StopPresser(UserAgent* script) : script_(script) { SetUserAgent(this); }
  ~StopPresser() override { SetUserAgent(script_); }
  bool Act(const LoopState& state) override {
    if (state.kind != LoopKind::Poll) return script_->Act(state);
    for (WindowRef w : Windows()) {
      if (ControlRef stop = FindControl(w, kSkyloomProgressStopSignature, 0)) {
        ++presses;
        UserClick(stop);
        return true;
      }
    }
    return false;
  }
  int presses = 0;

 private:
  UserAgent* script_;
};

class QTMovieExportTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    movies_ = dir_ + "/movies";
    out_ = dir_ + "/out";
    ASSERT_EQ(mkdir(movies_.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(out_.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir_ + "/config").c_str(), 0700), 0);
    SkyloomSetConfigurationDirectory((dir_ + "/config").c_str());
  }
  void TearDown() override {
    SkyloomSetConfigurationDirectory(nullptr);
    UiTest::TearDown();
  }
  // A raw Bayer movie from the recorder, a pattern that differs per frame.
  std::string Record(const char* name, UInt32 bits) {
    static auto* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
    FSRef folder;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(movies_.c_str()), &folder, nullptr), noErr);
    FSCatalogInfo info;
    FSGetCatalogInfo(&folder, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr);
    Str255 pname;
    pname[0] = UInt8(std::strlen(name));
    std::memcpy(pname + 1, name, pname[0]);
    FSSpec movieFile;
    FSMakeFSSpec(info.volume, SInt32(info.nodeID), pname, &movieFile);
    OSErr err = 1;
    MyMovieRecorderStruct* rec =
        ORXDCAMCreateMovie(camera, 0, 600, W, H, bits == 8 ? FOUR_CHAR_CODE("blRG") : FOUR_CHAR_CODE("bhRG"), bits, 0,
                           movieFile, &err);
    EXPECT_EQ(err, noErr);
    if (rec == nullptr) return "";
    for (int k = 0; k < kFrames; ++k) {
      std::vector<UInt8> frame;
      for (UInt32 y = 0; y < H; ++y) {
        for (UInt32 x = 0; x < W; ++x) {
          const UInt32 v = (x * 977 + y * 3331 + UInt32(k) * 7919) % 65536;
          if (bits == 8) {
            frame.push_back(UInt8(v >> 8));
          } else {
            const UInt16 s = UInt16(v);
            UInt8 b[2];
            std::memcpy(b, &s, 2);
            frame.insert(frame.end(), b, b + 2);
          }
        }
      }
      EXPECT_EQ(ORXDCAMAddMovieFrame(rec, frame.data(), kFrameMs[k]), noErr);
    }
    EXPECT_EQ(ORXDCAMCloseMovie(rec), noErr);
    return movies_ + "/" + name;
  }
  static Movie OpenMovie(const std::string& path) {
    Handle ref = nullptr;
    EXPECT_EQ(PtrToHand(path.c_str(), &ref, long(path.size() + 1)), noErr);
    Movie m = nullptr;
    EXPECT_EQ(NewMovieFromDataRef(&m, 0, nullptr, ref, AliasDataHandlerSubType), noErr) << path;
    DisposeHandle(ref);
    return m;
  }
  struct Sample {
    TimeValue start, duration;
  };
  // The source's frames as the movie reader gives them (ARGB32 bytes, or
  // RGB48 big-endian bytes for 16-bit media), with their times.
  static std::string ReaderFrames(const std::string& path, UInt32 bits, std::vector<Sample>* times,
                                  TimeScale* scale) {
    Movie m = OpenMovie(path);
    if (m == nullptr) return "";
    Media media = bits == 8 ? myGetMovieBayer8BitVideoMedia(m) : myGetMovie16BitVideoMedia(m, 1);
    EXPECT_NE(media, nullptr);
    *scale = GetMediaTimeScale(media);
    std::string bytes;
    Handle sample = NewHandle(0);
    auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    GetMediaSampleDescription(media, 1, reinterpret_cast<SampleDescriptionHandle>(desc));
    const Rect bounds{0, 0, SInt16(H), SInt16(W)};
    GWorldPtr picture = nullptr;
    QTNewGWorld(&picture, bits == 8 ? k32ARGBPixelFormat : k48RGBPixelFormat, &bounds, nullptr, nullptr, 0);
    TimeValue t = 0;
    for (long k = 0; k < GetMediaSampleCount(media); ++k) {
      TimeValue start = 0, duration = 0;
      long size = 0;
      EXPECT_EQ(GetMediaSample(media, sample, 0, &size, t, &start, &duration, nullptr, nullptr, 1, nullptr, nullptr),
                noErr);
      times->push_back({start, duration});
      if (bits == 8) {
        std::vector<UInt8> argb(size_t(W) * H * 4);
        EXPECT_EQ(myGet8BitMediaSampleInARGB32Buffer(m, media, sample, argb.data(), W, H, start, picture, 0), noErr);
        bytes.append(reinterpret_cast<char*>(argb.data()), argb.size());
      } else {
        std::vector<UInt16> rgb(size_t(W) * H * 3);
        EXPECT_EQ(myGet16BitMediaSampleInRGB48Buff(media, sample, rgb.data(), W, H, start, picture, desc,
                                                   codecLosslessQuality, 0),
                  noErr);
        for (UInt16 v : rgb) bytes.append({char(v >> 8), char(v & 0xFF)});
      }
      t = start + duration;
    }
    DisposeGWorld(picture);
    DisposeHandle(sample);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    DisposeMovie(m);
    return bytes;
  }
  // The export command with the user's answers queued in `user`.
  static void Export(ScriptedUser& user, const std::string& movie) { nav::Choose(user, {movie}); }
  std::vector<std::string> OutFiles() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(out_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string movies_, out_;
};

TEST_F(QTMovieExportTest, RawBayerMoviesBecomeUncompressedMovies) {
  const struct {
    UInt32 bits;
    const char* tag;
    const char* pixFmt;
  } kCases[] = {{8, "raw ", "argb"}, {16, "b48r", "rgb48be"}};
  for (const auto& c : kCases) {
    const std::string source = Record(c.bits == 8 ? "bayer8.mov" : "bayer16.mov", c.bits);
    ASSERT_FALSE(source.empty());
    const std::string name = c.bits == 8 ? "export8.mov" : "export16.mov";
    {
      ScriptedUser user;
      Export(user, source);
      nav::SaveAs(user, out_, name);
      myQTMovieExport();
      EXPECT_TRUE(user.Errors().empty()) << c.bits;
      EXPECT_EQ(user.Pending(), 0u) << c.bits;
    }
    EXPECT_TRUE(Alerts().empty()) << c.bits;
    const std::string path = out_ + "/" + name;
    const std::string stream = Shell("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                     "stream=codec_tag_string,width,height,pix_fmt,nb_read_frames -of default=nw=1 '" +
                                     path + "'");
    EXPECT_NE(stream.find("width=40\n"), std::string::npos) << stream;
    EXPECT_NE(stream.find("height=24\n"), std::string::npos) << stream;
    EXPECT_NE(stream.find(std::string("pix_fmt=") + c.pixFmt + "\n"), std::string::npos) << stream;
    EXPECT_NE(stream.find("nb_read_frames=4\n"), std::string::npos) << stream;
    EXPECT_NE(stream.find(std::string("codec_tag_string=") + (c.bits == 8 ? "raw" : "b48r")), std::string::npos)
        << stream;

    // Frame times and durations as the source has them.
    std::vector<Sample> times;
    TimeScale scale = 0;
    const std::string frames = ReaderFrames(source, c.bits, &times, &scale);
    ASSERT_EQ(times.size(), size_t(kStored));
    const std::string timeBase = Shell("ffprobe -v error -select_streams v:0 -show_entries stream=time_base -of "
                                       "csv=p=0 '" + path + "'");
    EXPECT_EQ(timeBase, "1/" + std::to_string(scale) + "\n");
    std::string expected;
    for (const Sample& s : times) expected += std::to_string(s.start) + "," + std::to_string(s.duration) + "\n";
    EXPECT_EQ(Shell("ffprobe -v error -select_streams v:0 -show_entries packet=pts,duration -of csv=p=0 '" + path +
                    "'"),
              expected);
    EXPECT_NE(times[1].duration, times[2].duration);  // the times are not a plain rate

    // Every frame equals the movie reader's frame of the source.
    const std::string exported = FFmpegFrames(path, c.pixFmt);
    ASSERT_EQ(exported.size(), frames.size()) << exported.substr(0, 200);
    EXPECT_TRUE(exported == frames) << c.bits;
    EXPECT_EQ(OutFiles(), std::vector<std::string>{name});
    std::filesystem::remove(path);
  }
}

TEST_F(QTMovieExportTest, ImageSequenceWritesATIFFPerFrame) {
  const std::string source = Record("seq.mov", 8);
  {
    ScriptedUser user;
    Export(user, source);
    user.Type(kSkyloomNavSelectionSignature, 0, out_)
        .Type(kSkyloomNavNameSignature, 0, "Moon.tif")
        .ChooseItem(kSkyloomNavPopupExtensionSignature, 0, 2)
        .ClickOK();
    myQTMovieExport();
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_TRUE(Alerts().empty());
  EXPECT_EQ(OutFiles(),
            (std::vector<std::string>{"Moon 0001.tif", "Moon 0002.tif", "Moon 0003.tif", "Moon 0004.tif"}));
  std::vector<Sample> times;
  TimeScale scale = 0;
  const std::string frames = ReaderFrames(source, 8, &times, &scale);
  ASSERT_EQ(times.size(), size_t(kStored));
  for (int k = 0; k < kStored; ++k) {
    uint32_t w = 0, h = 0;
    uint16_t spp = 0, bits = 0;
    const std::vector<uint16_t> tiff =
        skyloom::test::ReadTIFF16(out_ + "/Moon 000" + std::to_string(k + 1) + ".tif", &w, &h, &spp, nullptr, &bits);
    EXPECT_EQ(w, W);
    EXPECT_EQ(h, H);
    EXPECT_EQ(spp, 3);
    EXPECT_EQ(bits, 16);
    std::vector<uint16_t> expected;
    const char* argb = frames.data() + size_t(k) * W * H * 4;
    for (size_t i = 0; i < size_t(W) * H; ++i)
      for (int c = 1; c <= 3; ++c) expected.push_back(uint16_t(UInt8(argb[4 * i + size_t(c)]) << 8));
    EXPECT_EQ(tiff, expected) << k;
  }
}

TEST_F(QTMovieExportTest, CancelStopAndFailures) {
  const std::string source = Record("src.mov", 8);
  const std::string sourceBytes = Shell("cat '" + source + "' | md5sum");
  // Cancelling either dialog: nothing written, no alert.
  {
    ScriptedUser user;
    nav::Cancel(user);
    myQTMovieExport();
    EXPECT_EQ(user.Pending(), 0u);
  }
  {
    ScriptedUser user;
    Export(user, source);
    nav::Cancel(user);
    myQTMovieExport();
    EXPECT_EQ(user.Pending(), 0u);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_TRUE(Alerts().empty());
  EXPECT_TRUE(OutFiles().empty());

  // Stop in the progress window: the export returns -2019, leaves nothing and
  // says nothing.
  {
    Movie m = OpenMovie(source);
    ASSERT_NE(m, nullptr);
    SetMovieProgressProc(m, kSkyloomDefaultMovieProgressProc, 0);
    ScriptedUser user;
    nav::SaveAs(user, out_, "stopped.mov");
    StopPresser presser(&user);
    Handle ref = nullptr;
    PtrToHand(source.c_str(), &ref, long(source.size() + 1));
    EXPECT_EQ(ConvertMovieToDataRef(m, nullptr, ref, AliasDataHandlerSubType, FOUR_CHAR_CODE("MooV"),
                                    FOUR_CHAR_CODE("TVOD"), showUserSettingsDialog, nullptr),
              progressProcAborted);
    EXPECT_EQ(presser.presses, 1);
    DisposeHandle(ref);
    DisposeMovie(m);
  }
  {
    ScriptedUser user;
    Export(user, source);
    nav::SaveAs(user, out_, "stopped.mov");
    StopPresser presser(&user);
    myQTMovieExport();
    EXPECT_EQ(presser.presses, 1);
  }
  EXPECT_TRUE(Alerts().empty());
  EXPECT_TRUE(OutFiles().empty());
  EXPECT_EQ(Windows().size(), 0u) << DescribeModel();

  // A destination that can't take the movie (a folder of that name): one alert.
  ASSERT_EQ(mkdir((out_ + "/taken.mov").c_str(), 0700), 0);
  std::ofstream(out_ + "/taken.mov/inside") << "x";
  {
    ScriptedUser user;
    Export(user, source);
    nav::SaveAs(user, out_, "taken.mov").AnswerAlert(1);  // replace
    user.AnswerAlert();
    myQTMovieExport();
    EXPECT_TRUE(user.Errors().empty());
  }
  int exportAlerts = 0;
  for (const AlertRecord& a : Alerts()) exportAlerts += a.message.find("myQTMovieExport") != std::string::npos;
  EXPECT_EQ(exportAlerts, 1);
  EXPECT_EQ(Alerts().back().title, "OSX Err");
  EXPECT_EQ(Alerts().back().message, "A -36 0xFFFFFFDC error occured in myQTMovieExport");
  EXPECT_EQ(OutFiles(), std::vector<std::string>{"taken.mov"});

  // Exporting over the source itself replaces it only once the export is whole.
  {
    ScriptedUser user;
    Export(user, source);
    nav::SaveAs(user, movies_, "src.mov").AnswerAlert(1);
    myQTMovieExport();
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_NE(Shell("cat '" + source + "' | md5sum"), sourceBytes);
  EXPECT_NE(Shell("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 '" + source + "'")
                .find("4"),
            std::string::npos);
}

}  // namespace
