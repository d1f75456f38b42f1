// New movies of each uncompressed layout written through movie storage, and
// segments of one movie copied into another (InsertMovieSegment), read back by
// our reader and by ffprobe.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "media/MovieLayout.h"
#include "media/MovieReading.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/MovieAtoms.h"
#include "platform/quicktime/Movies.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

constexpr SInt16 W = 4, H = 2;

struct Layout {
  const char* codec;
  SInt16 depth;
  UInt32 bytesPerPixel;
  bool grey;  // 256-entry grey colour table
  const char* pixFmt;
};
const Layout kLayouts[] = {{"raw ", 32, 4, false, "argb"},
                           {"raw ", 8, 1, true, "pal8"},
                           {"b48r", 48, 6, false, "rgb48be"},
                           {"b16g", 16, 2, false, "gray16be"}};

class NewMovies : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-segment-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    SkyloomFailMovieSegmentInsertion(0, noErr);
    fs::remove_all(dir_);
  }
  Handle RefOf(const std::string& path) {
    Handle h = nullptr;
    EXPECT_EQ(PtrToHand(path.c_str(), &h, long(path.size() + 1)), noErr);
    return h;
  }
  // A movie of one video track whose frame i has every byte i + 1 (16-bit
  // samples big-endian, as the file holds them); the file's size after each
  // sample goes to sizes.
  void Make(const std::string& path, const Layout& l, const std::vector<TimeValue>& durations,
            std::vector<uintmax_t>* sizes = nullptr) {
    Handle ref = RefOf(path);
    DataHandler dh = nullptr;
    Movie m = nullptr;
    ASSERT_EQ(CreateMovieStorage(ref, AliasDataHandlerSubType, FOUR_CHAR_CODE("TVOD"), smSystemScript,
                                 createMovieFileDeleteCurFile, &dh, &m),
              noErr);
    Track t = NewMovieTrack(m, Long2Fix(W), Long2Fix(H), 0);
    Media media = NewTrackMedia(t, VideoMediaType, 600, nullptr, 0);
    auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    (*desc)->idSize = sizeof(ImageDescription);
    (*desc)->cType = OSType(UInt8(l.codec[0])) << 24 | OSType(UInt8(l.codec[1])) << 16 | OSType(UInt8(l.codec[2])) << 8 | UInt8(l.codec[3]);
    (*desc)->vendor = FOUR_CHAR_CODE("appl");
    (*desc)->spatialQuality = 1024;
    (*desc)->hRes = (*desc)->vRes = Long2Fix(72);
    (*desc)->width = W;
    (*desc)->height = H;
    (*desc)->frameCount = 1;
    (*desc)->depth = l.depth;
    (*desc)->clutID = -1;
    if (l.grey) {
      ASSERT_EQ(myCreateClut(desc), noErr);
    }
    const UInt32 bytes = UInt32(W * H) * l.bytesPerPixel;
    Handle frame = NewHandle(bytes);
    for (size_t i = 0; i < durations.size(); ++i) {
      std::memset(*frame, int(i + 1), bytes);
      ASSERT_EQ(AddMediaSample(media, frame, 0, bytes, durations[i], reinterpret_cast<Handle>(desc), 1, 0, nullptr),
                noErr);
      if (sizes) sizes->push_back(fs::file_size(path));
    }
    ASSERT_EQ(InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(media), fixed1), noErr);
    ASSERT_EQ(AddMovieToStorage(m, dh), noErr);
    CloseMovieStorage(dh);
    DisposeMovie(m);
    DisposeHandle(frame);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    DisposeHandle(ref);
  }
  Movie Open(const std::string& path) {
    Handle ref = RefOf(path);
    Movie m = nullptr;
    EXPECT_EQ(NewMovieFromDataRef(&m, 0, nullptr, ref, AliasDataHandlerSubType), noErr) << path;
    DisposeHandle(ref);
    return m;
  }
  std::string Probe(const std::string& path, const std::string& entries) {
    EXPECT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
    return skyloom::test::Run("ffprobe -v error -count_frames -select_streams v:0 " + entries +
                              " -of csv=p=0 '" + path + "'");
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) out.push_back(text.substr(from, nl - from));
    return out;
  }
  std::string dir_;
};

TEST_F(NewMovies, EachLayoutReadsBackHereAndInFFprobe) {
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(std::string(l.codec) + " " + std::to_string(l.depth));
    const std::string path = dir_ + "/" + l.pixFmt + ".mov";
    std::vector<uintmax_t> sizes;
    Make(path, l, {40, 20, 60}, &sizes);
    const uintmax_t frame = uintmax_t(W * H) * l.bytesPerPixel;
    EXPECT_EQ(sizes, (std::vector<uintmax_t>{16 + frame, 16 + 2 * frame, 16 + 3 * frame}))
        << "each sample is in the file once added";

    Movie m = Open(path);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(GetMovieDuration(m), 120);
    for (int i = 0; i < 3; ++i) {
      const TimeValue at[3] = {0, 40, 60};
      if (l.depth >= 16 && l.codec[0] == 'b') {
        Media media = myGetMovie16BitVideoMedia(m, 0);
        ASSERT_NE(media, nullptr);
        std::vector<UInt16> rgb(size_t(W * H) * 3);
        Handle sample = NewHandle(0), desc = NewHandle(0);
        GetMediaSampleDescription(media, 1, desc);
        ASSERT_EQ(myGet16BitMediaSampleInRGB48Buff(media, sample, rgb.data(), W, H, at[i], nullptr,
                                                   reinterpret_cast<ImageDescriptionHandle>(desc), 0, 0),
                  noErr);
        const UInt16 v = UInt16((i + 1) * 257);
        EXPECT_EQ(rgb[1], v);
        EXPECT_EQ(rgb.back(), v);
        DisposeHandle(sample);
        DisposeHandle(desc);
      } else {
        std::vector<UInt8> argb(size_t(W * H) * 4 + 64);
        GWorldPtr g = nullptr;
        const Rect b{0, 0, H, W};
        ASSERT_EQ(NewGWorld(&g, 32, &b, nullptr, nullptr, 0), noErr);
        ASSERT_EQ(myGet8BitMediaSampleInARGB32Buffer(m, nullptr, nullptr, argb.data(), W, H, at[i], g, 0), noErr);
        DisposeGWorld(g);
        EXPECT_EQ(argb[1], UInt8(i + 1));
        EXPECT_EQ(argb[size_t(W * H) * 4 - 1], UInt8(i + 1));
      }
    }
    DisposeMovie(m);
    EXPECT_EQ(Probe(path, "-show_entries stream=pix_fmt,nb_read_frames"),
              std::string(l.pixFmt) + ",3\n");
    // A palette rides along with each 'pal8' packet as side data: only the
    // durations are compared.
    std::string durations;
    for (std::string line : Lines(Probe(path, "-show_entries packet=duration"))) {
      while (!line.empty() && line.back() == ',') line.pop_back();
      if (!line.empty()) durations += line + " ";
    }
    EXPECT_EQ(durations, "40 20 60 ");
  }
}

TEST_F(NewMovies, SegmentsCopyTheSamplesTheyCover) {
  const std::string src = dir_ + "/source.mov", dst = dir_ + "/copy.mov";
  Make(src, kLayouts[3], {20, 20, 20, 20});
  Movie s = Open(src);
  ASSERT_NE(s, nullptr);
  Handle ref = RefOf(dst);
  DataHandler dh = nullptr;
  Movie d = nullptr;
  ASSERT_EQ(CreateMovieStorage(ref, AliasDataHandlerSubType, FOUR_CHAR_CODE("TVOD"), smSystemScript,
                               createMovieFileDeleteCurFile, &dh, &d),
            noErr);
  // Frame 2 (18 units), then a piece across frames 0 and 1 after a gap of 5.
  EXPECT_EQ(InsertMovieSegment(s, d, 41, 18, 0), noErr);
  EXPECT_EQ(InsertMovieSegment(s, d, 10, 20, 23), noErr);
  EXPECT_EQ(GetMovieDuration(d), 43);
  EXPECT_EQ(InsertMovieSegment(s, d, 0, 5, 30), paramErr) << "only appending";
  EXPECT_EQ(InsertMovieSegment(s, d, 500, 5, 43), invalidTime);
  SkyloomFailMovieSegmentInsertion(1, ioErr);
  EXPECT_EQ(InsertMovieSegment(s, d, 0, 5, 43), ioErr);
  EXPECT_EQ(GetMovieDuration(d), 43) << "a failed insertion changes nothing";
  ASSERT_EQ(AddMovieToStorage(d, dh), noErr);
  CloseMovieStorage(dh);
  DisposeMovie(d);
  DisposeMovie(s);
  DisposeHandle(ref);

  MovieModel model;
  ASSERT_EQ(SkyloomReadMovieFile(dst, &model), noErr);
  ASSERT_EQ(model.tracks.size(), 1u);
  const MovieTrackModel& t = model.tracks[0];
  ASSERT_EQ(t.sampleSize.size(), 3u);
  const std::vector<UInt8> bytes = skyloom::test::ReadFile(dst);
  const UInt8 frames[3] = {3, 1, 2};
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(bytes[t.sampleOffset[i]], frames[i]);
  EXPECT_EQ(model.duration, 43u);
  ASSERT_EQ(t.edits.size(), 3u) << "the segment, the gap, the second segment";
  EXPECT_EQ(t.edits[1].mediaTime, -1);
  EXPECT_EQ(t.edits[1].trackDuration, 5u);
  // FFmpeg splits packets at an empty edit inside a track; the samples
  // themselves are read without the edit list.
  EXPECT_EQ(Probe(dst, "-ignore_editlist 1 -show_entries packet=duration"), "18\n10\n10\n");
  EXPECT_EQ(Probe(dst, "-show_entries stream=pix_fmt,width,height"), "4,2,gray16be\n");
}

TEST_F(NewMovies, VisualCharacteristicFindsTheNextFrame) {
  const std::string path = dir_ + "/steps.mov";
  Make(path, kLayouts[0], {20, 30, 20});
  Movie m = Open(path);
  ASSERT_NE(m, nullptr);
  const OSType visual = VisualMediaCharacteristic, sound = SoundMediaType;
  const struct {
    TimeValue from;
    TimeValue next;
  } cases[] = {{1, 20}, {20, 50}, {21, 50}, {51, -1}};
  for (const auto& c : cases) {
    TimeValue next = 0;
    GetMovieNextInterestingTime(m, nextTimeStep, 1, &visual, c.from, fixed1, &next, nullptr);
    EXPECT_EQ(next, c.next) << c.from;
  }
  TimeValue next = 0;
  GetMovieNextInterestingTime(m, nextTimeStep, 1, &sound, 1, fixed1, &next, nullptr);
  EXPECT_EQ(next, -1) << "no sound track";
  DisposeMovie(m);
}

}  // namespace
