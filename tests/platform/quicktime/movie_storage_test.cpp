// New movie files: the samples go to the file as they are added, the movie
// atom follows when the movie is added to its storage, and the file is a
// movie our reader and FFmpeg both read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/MovieAtoms.h"
#include "platform/quicktime/Movies.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

class MovieStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-storage-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/new.mov";
    ASSERT_EQ(PtrToHand(path_.c_str(), &ref_, long(path_.size() + 1)), noErr);
  }
  void TearDown() override {
    DisposeHandle(ref_);
    fs::remove_all(dir_);
  }
  // A movie with one 'vide' track of 2 x 1 'b48r' frames.
  void Create(long flags = createMovieFileDeleteCurFile) {
    ASSERT_EQ(CreateMovieStorage(ref_, AliasDataHandlerSubType, FOUR_CHAR_CODE("TVOD"), smSystemScript, flags, &dh_,
                                 &movie_),
              noErr);
    track_ = NewMovieTrack(movie_, Long2Fix(2), Long2Fix(1), 0);
    ASSERT_NE(track_, nullptr);
    media_ = NewTrackMedia(track_, VideoMediaType, 600, nullptr, 0);
    ASSERT_NE(media_, nullptr);
    desc_ = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*desc_);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("b48r");
    d->width = 2;
    d->height = 1;
    d->depth = 48;
    d->clutID = -1;
  }
  void Add(UInt8 fill) {
    Handle h = NewHandle(12);
    std::memset(*h, fill, 12);
    EXPECT_EQ(AddMediaSample(media_, h, 0, 12, 40, desc_, 1, 0, nullptr), noErr);
    DisposeHandle(h);
  }
  void Finish() {
    EXPECT_EQ(InsertMediaIntoTrack(track_, 0, 0, GetMediaDuration(media_), fixed1), noErr);
    EXPECT_EQ(AddMovieToStorage(movie_, dh_), noErr);
  }
  void Close() {
    DisposeHandle(desc_);
    EXPECT_EQ(CloseMovieStorage(dh_), noErr);
    DisposeMovie(movie_);
  }
  std::string dir_, path_;
  Handle ref_ = nullptr, desc_ = nullptr;
  DataHandler dh_ = nullptr;
  Movie movie_ = nullptr;
  Track track_ = nullptr;
  Media media_ = nullptr;
};

TEST_F(MovieStorage, SamplesReachTheFileAsTheyAreAdded) {
  skyloom::test::WriteFile(path_, {1, 2, 3});
  DataHandler dh = nullptr;
  Movie m = nullptr;
  EXPECT_EQ(CreateMovieStorage(ref_, AliasDataHandlerSubType, 0, smSystemScript, 0, &dh, &m), dupFNErr);
  EXPECT_EQ(fs::file_size(path_), 3u) << "an existing file stays without the replace flag";
  Create();
  EXPECT_EQ(fs::file_size(path_), 0u) << "nothing is written before the first sample";
  Add(0x11);
  EXPECT_EQ(fs::file_size(path_), 16u + 12);
  Add(0x22);
  EXPECT_EQ(fs::file_size(path_), 16u + 24);
  EXPECT_EQ(SkyloomPendingMediaSamples(), 0);
  Finish();

  MovieModel model;
  ASSERT_EQ(SkyloomReadMovieFile(path_, &model), noErr);
  ASSERT_EQ(model.tracks.size(), 1u);
  const MovieTrackModel& t = model.tracks[0];
  EXPECT_EQ(t.sampleOffset, (std::vector<UInt64>{16, 28}));
  EXPECT_EQ(t.sampleSize, (std::vector<UInt32>{12, 12}));
  EXPECT_EQ(t.mediaDuration, 80u);
  EXPECT_EQ(model.timeScale, 600u);
  EXPECT_EQ(model.duration, 80u);
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
  const std::string probe = skyloom::test::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                               "stream=codec_tag_string,nb_read_frames -of default=nw=1 '" + path_ + "'");
  EXPECT_NE(probe.find("codec_tag_string=b48r"), std::string::npos) << probe;
  EXPECT_NE(probe.find("nb_read_frames=2"), std::string::npos) << probe;

  // More samples after the movie was written: a new data atom, a new movie
  // atom, the old one marked free.
  Add(0x33);
  EXPECT_EQ(AddMovieToStorage(movie_, dh_), noErr);
  Close();
  ASSERT_EQ(SkyloomReadMovieFile(path_, &model), noErr);
  ASSERT_EQ(model.tracks[0].sampleSize.size(), 3u);
  const std::vector<UInt8> bytes = skyloom::test::ReadFile(path_);
  ASSERT_LT(model.tracks[0].sampleOffset[2] + 12, bytes.size() + 1);
  EXPECT_EQ(bytes[model.tracks[0].sampleOffset[2]], 0x33);
  EXPECT_EQ(model.tracks[0].mediaDuration, 120u);

}

// A data atom beyond 4 GB takes the 'wide' atom before it for a 64-bit size
// (a sparse file stands in for the frames).
TEST_F(MovieStorage, ADataAtomBeyondFourGigabytesGetsA64BitSize) {
  Create();
  Add(0x44);
  const int fd = open(path_.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  const off_t big = off_t(1) << 32;
  ASSERT_EQ(ftruncate(fd, big + 100), 0);
  close(fd);
  Finish();
  Close();
  MovieModel model;
  ASSERT_EQ(SkyloomReadMovieFile(path_, &model), noErr);
  ASSERT_EQ(model.tracks.size(), 1u);
  EXPECT_EQ(model.tracks[0].sampleOffset, (std::vector<UInt64>{16}));
  EXPECT_GT(model.moovOffset, UInt64(big));
  const std::vector<UInt8> head = [&] {
    std::vector<UInt8> h(17);
    FILE* f = fopen(path_.c_str(), "rb");
    EXPECT_NE(f, nullptr);
    if (f) {
      EXPECT_EQ(fread(h.data(), 1, h.size(), f), h.size());
      fclose(f);
    }
    return h;
  }();
  EXPECT_EQ(head, (std::vector<UInt8>{0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 1, 0, 0, 0, 100, 0x44}));
}

}  // namespace
