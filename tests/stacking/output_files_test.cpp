// Names and creation of a stacking run's output files, and the sharpest-frames
// reference movie checked with our reader and with ffprobe.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/MovieAtoms.h"
#include "platform/quicktime/Movies.h"
#include "stacking/OutputFiles.h"
#include "stacking/SharpnessList.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UiFixture.h"

namespace fs = std::filesystem;

namespace {

FSRef refOf(const std::string& path) {
  FSRef ref{};
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr) << path;
  return ref;
}

std::string pathOf(const FSRef& ref) {
  UInt8 path[1024];
  if (FSRefMakePath(&ref, path, sizeof path) != noErr) return "";
  return reinterpret_cast<char*>(path);
}

class OutputFiles : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    out_ = dir_ + "/out";
    fs::create_directories(out_);
    movie_ = dir_ + "/Saturn.mov";
    skyloom::test::WriteFile(movie_, {0});
    std::memset(&job_, 0, sizeof job_);
    job_.METHOD = 0;
    job_.PERCENTFRAME = 60;
    job_.SHARPEN = -1.0;
    job_.mCurrentMovie = refOf(movie_);
    job_.mOutputFolder = refOf(out_);
  }
  void TearDown() override {
    SkyloomClearFileFaults();
    SkyloomFailMovieSegmentInsertion(0, noErr);
    UiTest::TearDown();
  }
  std::string Name(UInt32 index) {
    char name[256] = "";
    EXPECT_TRUE(myStackedImageName(&job_, index, name, sizeof name));
    return name;
  }
  std::string out_, movie_;
  StackAlignJob job_;
};

TEST_F(OutputFiles, StackedImageNames) {
  EXPECT_EQ(Name(0), "Saturn.mov_60PN.tif");
  EXPECT_EQ(Name(7), "Saturn.mov_60PN-007.tif");
  EXPECT_EQ(Name(9), "Saturn.mov_60PN-009.tif");
  EXPECT_EQ(Name(10), "Saturn.mov_60PN-010.tif");
  EXPECT_EQ(Name(12), "Saturn.mov_60PN-012.tif");
  EXPECT_EQ(Name(99), "Saturn.mov_60PN-099.tif");
  EXPECT_EQ(Name(250), "Saturn.mov_60PN-250.tif");
  job_.METHOD = 1;
  EXPECT_EQ(Name(0), "Saturn.mov_60LN.tif");
  const struct {
    double sharpen;
    const char* code;
  } codes[] = {{-0.01, "N"}, {0.0, "VL"}, {0.5, "VL"},  {0.51, "L"},  {1.09, "L"},  {1.1, "M"},
               {2.55, "M"},  {2.6, "MH"}, {5.1, "H"},   {7.6, "VH"},  {10.0, "VH"}, {10.1, "E"}};
  for (const auto& c : codes) {
    job_.SHARPEN = c.sharpen;
    EXPECT_EQ(Name(3), std::string("Saturn.mov_60L") + c.code + "-003.tif") << c.sharpen;
  }
}

TEST_F(OutputFiles, StackedImageFileIsCreatedAndReplaces) {
  const std::string expected = out_ + "/Saturn.mov_60PN-012.tif";
  skyloom::test::WriteFile(expected, {1, 2, 3, 4});
  EXPECT_EQ(myGenerateExportFileFSRef(&job_, 12), fnfErr) << "-43 says the file was made";
  EXPECT_EQ(pathOf(job_.mOutputFile), fs::canonical(expected).string());
  EXPECT_EQ(fs::file_size(expected), 0u);
  EXPECT_EQ(myGenerateExportFileFSRef(&job_, 0), fnfErr);
  EXPECT_TRUE(fs::exists(out_ + "/Saturn.mov_60PN.tif"));
  EXPECT_TRUE(skyloom::ui::Alerts().empty());
}

TEST_F(OutputFiles, RefusedCreateIsReportedByAnAlert) {
  SkyloomFileFaults faults;
  faults.refuseCreateStatus = permErr;
  SkyloomSetFileFaults(faults);
  skyloom::ui::ScriptedUser user;
  user.AnswerAlert();
  EXPECT_EQ(myGenerateExportFileFSRef(&job_, 0), permErr);
  ASSERT_EQ(skyloom::ui::Alerts().size(), 1u);
  EXPECT_EQ(skyloom::ui::Alerts()[0].title, "OSX Err");
  EXPECT_EQ(skyloom::ui::Alerts()[0].message, "FSRefFileFailed Err -54 / 0xffffffca");

  user.AnswerAlert();
  FSRef out{};
  EXPECT_EQ(myGenerateNewFSRefMovieName(&job_.mCurrentMovie, &job_.mOutputFolder, &out), permErr);
  ASSERT_EQ(skyloom::ui::Alerts().size(), 2u);
  EXPECT_EQ(skyloom::ui::Alerts()[1].message, "myGenerateNewFSRefMovieName Failed 0xffffffca");
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(OutputFiles, AMissingOutputFolderIsNotTakenForSuccess) {
  // The folder goes away after it was chosen: the failing create must not
  // look like the "file made" result.
  fs::remove_all(out_);
  skyloom::ui::ScriptedUser user;
  user.AnswerAlert();
  const OSStatus err = myGenerateExportFileFSRef(&job_, 0);
  EXPECT_EQ(err, dirNFErr);
  ASSERT_EQ(skyloom::ui::Alerts().size(), 1u);
  EXPECT_EQ(skyloom::ui::Alerts()[0].message, "FSRefFileFailed Err -120 / 0xffffff88");
}

TEST_F(OutputFiles, ReferenceMovieNameReplacesAnOldOne) {
  const std::string old = out_ + "/REF_Saturn.mov";
  skyloom::test::WriteFile(old, {9, 9, 9});
  FSRef out{};
  EXPECT_EQ(myGenerateNewFSRefMovieName(&job_.mCurrentMovie, &job_.mOutputFolder, &out), noErr);
  EXPECT_EQ(pathOf(out), fs::canonical(old).string());
  EXPECT_EQ(fs::file_size(old), 0u);
}

// A movie of ten 4 x 2 'raw ' 32-bit frames, 20 units each at 600, every
// byte of frame i holding i.
class ReferenceMovie : public OutputFiles {
 protected:
  void SetUp() override {
    OutputFiles::SetUp();
    source_ = dir_ + "/source.mov";
    Handle ref = nullptr;
    ASSERT_EQ(PtrToHand(source_.c_str(), &ref, long(source_.size() + 1)), noErr);
    DataHandler dh = nullptr;
    Movie m = nullptr;
    ASSERT_EQ(CreateMovieStorage(ref, AliasDataHandlerSubType, FOUR_CHAR_CODE("TVOD"), smSystemScript,
                                 createMovieFileDeleteCurFile, &dh, &m),
              noErr);
    Track t = NewMovieTrack(m, Long2Fix(4), Long2Fix(2), 0);
    Media media = NewTrackMedia(t, VideoMediaType, 600, nullptr, 0);
    Handle desc = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*desc);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->width = 4;
    d->height = 2;
    d->depth = 32;
    d->clutID = -1;
    Handle frame = NewHandle(32);
    for (int i = 0; i < 10; ++i) {
      std::memset(*frame, i, 32);
      ASSERT_EQ(AddMediaSample(media, frame, 0, 32, 20, desc, 1, 0, nullptr), noErr);
    }
    ASSERT_EQ(InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(media), fixed1), noErr);
    ASSERT_EQ(AddMovieToStorage(m, dh), noErr);
    CloseMovieStorage(dh);
    DisposeMovie(m);
    DisposeHandle(frame);
    DisposeHandle(desc);
    DisposeHandle(ref);

    FSSpec fileSpec;
    FSRef sourceRef = refOf(source_);
    ASSERT_EQ(FSGetCatalogInfo(&sourceRef, 0, nullptr, nullptr, &fileSpec, nullptr), noErr);
    short refNum = 0;
    ASSERT_EQ(OpenMovieFile(&fileSpec, &refNum, 1), noErr);
    ASSERT_EQ(NewMovieFromFile(&movie_, refNum, nullptr, nullptr, newMovieActive, nullptr), noErr);
    CloseMovieFile(refNum);
    ASSERT_EQ(GetMovieDuration(movie_), 200);

    // Sharpness by frame: sorted, frames 7, 2, 9 and 4 lie above 5.
    const double values[10] = {1, 2, 8, 3, 6, 1.5, 2.5, 9, 0.5, 7};
    for (int i = 0; i < 10; ++i) myAddNoiseStruct(&list_, UInt32(i * 20), values[i]);
    mySortNoiseStruct(list_);
    ref_ = out_ + "/REF_Saturn.mov";
    FSRef out{};
    ASSERT_EQ(myGenerateNewFSRefMovieName(&job_.mCurrentMovie, &job_.mOutputFolder, &out), noErr);
    refFile_ = out;
  }
  void TearDown() override {
    DisposeMovie(movie_);
    DisposeHandle(list_);
    OutputFiles::TearDown();
  }
  std::string source_, ref_;
  Movie movie_ = nullptr;
  SharpnessList list_ = nullptr;
  FSRef refFile_{};
};

TEST_F(ReferenceMovie, HoldsTheFramesAboveTheCutOffSharpestFirst) {
  EXPECT_EQ(myCreateSharpnessRefMovie(movie_, &refFile_, list_, 5.0f), 4u);
  MovieModel model;
  ASSERT_EQ(SkyloomReadMovieFile(ref_, &model), noErr);
  ASSERT_EQ(model.tracks.size(), 1u);
  const MovieTrackModel& t = model.tracks[0];
  ASSERT_EQ(t.sampleSize.size(), 4u);
  EXPECT_EQ(model.duration, 72u);
  EXPECT_EQ(t.mediaDuration, 72u);
  const std::vector<UInt8> bytes = skyloom::test::ReadFile(ref_);
  const int order[4] = {7, 2, 9, 4};
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(t.sampleSize[size_t(i)], 32u);
    EXPECT_EQ(bytes[t.sampleOffset[size_t(i)] + 5], order[i]) << "sample " << i;
  }

  ASSERT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
  const std::string packets = skyloom::test::Run(
      "ffprobe -v error -count_frames -select_streams v:0 -show_packets -show_entries "
      "packet=duration:stream=codec_tag_string,width,height,nb_read_frames -of csv=p=0 '" + ref_ + "'");
  // Four packets of 18 units, then the stream line.
  EXPECT_EQ(packets, "18\n18\n18\n18\nraw ,4,2,4\n") << packets;
}

TEST_F(ReferenceMovie, ACutOffAboveTheMaximumStoresAnEmptyMovie) {
  EXPECT_EQ(myCreateSharpnessRefMovie(movie_, &refFile_, list_, 9.5f), 0u);
  MovieModel model;
  ASSERT_EQ(SkyloomReadMovieFile(ref_, &model), noErr);
  EXPECT_TRUE(model.tracks.empty());
  EXPECT_EQ(model.duration, 0u);
  // A value equal to the cut-off passes.
  EXPECT_EQ(myCreateSharpnessRefMovie(movie_, &refFile_, list_, 9.0f), 1u);
}

TEST_F(ReferenceMovie, AFailedInsertionStoresNoMovie) {
  SkyloomFailMovieSegmentInsertion(3, paramErr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(myCreateSharpnessRefMovie(movie_, &refFile_, list_, 5.0f), 2u);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("myCreateSharpnessRefMovie Failed Err -50 0xFFFFFFCE\n"), std::string::npos) << err;
  MovieModel model;
  EXPECT_NE(SkyloomReadMovieFile(ref_, &model), noErr) << "no movie atom was written";
}

}  // namespace
