// New movie storage (samples streamed to the file, the movie atom added at
// the end) and the export's progress reports, without the settings dialog.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/MovieExport.h"
#include "platform/quicktime/Movies.h"

namespace {

constexpr SInt16 W = 8, H = 6;

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

Handle RefOf(const std::string& path) {
  Handle h = nullptr;
  PtrToHand(path.c_str(), &h, long(path.size() + 1));
  return h;
}

off_t SizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class MovieStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-storage-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    const std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir_.c_str());
  }
  // A 'raw ' 32-bit movie of `durations.size()` frames, frame k filled with k.
  OSErr Make(const std::string& path, const std::vector<TimeValue>& durations, std::vector<off_t>* sizes = nullptr) {
    Handle ref = RefOf(path);
    DataHandler dh = nullptr;
    Movie m = nullptr;
    OSErr err = CreateMovieStorage(ref, AliasDataHandlerSubType, FOUR_CHAR_CODE("TVOD"), 0, 0, &dh, &m);
    DisposeHandle(ref);
    if (err != noErr) return err;
    Track t = NewMovieTrack(m, Fixed(W) << 16, Fixed(H) << 16, 0);
    Media media = NewTrackMedia(t, VideoMediaType, 1000, nullptr, 0);
    auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    (*desc)->idSize = sizeof(ImageDescription);
    (*desc)->cType = FOUR_CHAR_CODE("raw ");
    (*desc)->width = W;
    (*desc)->height = H;
    (*desc)->depth = 32;
    (*desc)->clutID = -1;
    Handle frame = NewHandle(W * H * 4);
    for (size_t k = 0; k < durations.size(); ++k) {
      for (long i = 0; i < W * H * 4; ++i) (*frame)[i] = char(i % 4 == 0 ? 255 : UInt8(k * 40 + size_t(i)));
      EXPECT_EQ(AddMediaSample(media, frame, 0, W * H * 4, durations[k], reinterpret_cast<SampleDescriptionHandle>(desc),
                               1, 0, nullptr),
                noErr);
      if (sizes) sizes->push_back(SizeOf(path));
    }
    EXPECT_EQ(InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(media), fixed1), noErr);
    err = AddMovieToStorage(m, dh);
    CloseMovieStorage(dh);
    DisposeMovie(m);
    DisposeHandle(frame);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    return err;
  }
  std::string dir_;
};

TEST_F(MovieStorageTest, SamplesGoStraightToTheFileAndTheMovieReadsBack) {
  const std::string path = dir_ + "/new.mov";
  std::vector<off_t> sizes;
  ASSERT_EQ(Make(path, {40, 60, 100}, &sizes), noErr);
  // Each sample is on disk as soon as it is added.
  EXPECT_EQ(sizes, (std::vector<off_t>{16 + W * H * 4, 16 + 2 * W * H * 4, 16 + 3 * W * H * 4}));
  Handle ref = RefOf(path);
  Movie m = nullptr;
  ASSERT_EQ(NewMovieFromDataRef(&m, 0, nullptr, ref, AliasDataHandlerSubType), noErr);
  DisposeHandle(ref);
  Media media = GetTrackMedia(GetMovieIndTrack(m, 1));
  EXPECT_EQ(GetMediaSampleCount(media), 3);
  EXPECT_EQ(GetMediaTimeScale(media), 1000);
  EXPECT_EQ(GetMediaDuration(media), 200);
  EXPECT_EQ(GetMovieDuration(m), 120);  // 200 ms at the movie's 600
  Handle sample = NewHandle(0);
  TimeValue start = 0, duration = 0;
  long size = 0;
  ASSERT_EQ(GetMediaSample(media, sample, 0, &size, 50, &start, &duration, nullptr, nullptr, 1, nullptr, nullptr),
            noErr);
  EXPECT_EQ(start, 40);
  EXPECT_EQ(duration, 60);
  EXPECT_EQ(size, W * H * 4);
  EXPECT_EQ(UInt8((*sample)[1]), UInt8(40 + 1));
  DisposeHandle(sample);
  DisposeMovie(m);
  const std::string probe =
      Shell("ffprobe -v error -count_frames -show_entries stream=nb_read_frames,pix_fmt -of default=nw=1 '" + path + "'");
  EXPECT_EQ(probe, "pix_fmt=argb\nnb_read_frames=3\n");

  // A folder that isn't there.
  ref = RefOf(dir_ + "/missing/new.mov");
  DataHandler dh = nullptr;
  EXPECT_EQ(CreateMovieStorage(ref, AliasDataHandlerSubType, 0, 0, 0, &dh, &m), dirNFErr);
  EXPECT_EQ(dh, nullptr);
  EXPECT_EQ(m, nullptr);
  DisposeHandle(ref);
}

struct Reports {
  std::vector<short> messages;
  std::vector<Fixed> fractions;
  int stopAt = -1;  // the update that asks to stop
};

OSErr RecordProgress(Movie, short message, short operation, Fixed fraction, long refcon) {
  auto* r = reinterpret_cast<Reports*>(refcon);
  EXPECT_EQ(operation, progressOpExportMovie);
  r->messages.push_back(message);
  r->fractions.push_back(fraction);
  const int updates = int(std::count(r->messages.begin(), r->messages.end(), short(movieProgressUpdatePercent)));
  return message == movieProgressUpdatePercent && updates == r->stopAt ? OSErr(userCanceledErr) : OSErr(noErr);
}

TEST_F(MovieStorageTest, ExportReportsProgressAndStopsWhenAsked) {
  const std::string source = dir_ + "/source.mov";
  ASSERT_EQ(Make(source, {40, 60, 100, 50}), noErr);
  Handle ref = RefOf(source);
  Movie m = nullptr;
  ASSERT_EQ(NewMovieFromDataRef(&m, 0, nullptr, ref, AliasDataHandlerSubType), noErr);
  DisposeHandle(ref);
  SetMovieActive(m, true);
  EXPECT_TRUE(GetMovieActive(m));

  Reports reports;
  SetMovieProgressProc(m, RecordProgress, reinterpret_cast<long>(&reports));
  const std::string out = dir_ + "/copy.mov";
  Handle outRef = RefOf(out);
  EXPECT_EQ(ConvertMovieToDataRef(m, nullptr, outRef, AliasDataHandlerSubType, 0, 0, 0, nullptr), noErr);
  EXPECT_EQ(reports.messages, (std::vector<short>{movieProgressOpen, movieProgressUpdatePercent,
                                                  movieProgressUpdatePercent, movieProgressUpdatePercent,
                                                  movieProgressUpdatePercent, movieProgressClose}));
  EXPECT_EQ(reports.fractions[1], fixed1 / 4);
  EXPECT_EQ(reports.fractions[4], fixed1);
  EXPECT_EQ(Shell("ffprobe -v error -show_entries packet=pts,duration -of csv=p=0 '" + out + "'"),
            "0,40\n40,60\n100,100\n200,50\n");

  // Stopped after the second frame: -2019 and no file.
  const std::string stopped = dir_ + "/stopped.mov";
  Handle stoppedRef = RefOf(stopped);
  reports = Reports{};
  reports.stopAt = 2;
  EXPECT_EQ(ConvertMovieToDataRef(m, nullptr, stoppedRef, AliasDataHandlerSubType, 0, 0, 0, nullptr),
            progressProcAborted);
  EXPECT_EQ(reports.messages.back(), movieProgressClose);
  EXPECT_EQ(SizeOf(stopped), -1);
  EXPECT_EQ(Shell("ls '" + dir_ + "'"), "copy.mov\nsource.mov\n");
  DisposeHandle(stoppedRef);
  DisposeHandle(outRef);
  DisposeMovie(m);
}

}  // namespace
