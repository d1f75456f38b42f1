#include "photometry/MovieFrameWalk.h"

#include <cstdlib>
#include <cstring>

#include "media/MovieReading.h"
#include "media/PictureImport.h"
#include "pixel/MonoConversions.h"
#include "platform/quicktime/DataReferences.h"
#include "utilities/Alerts.h"

namespace {

int gFailReadIn = 0;
OSErr gFailReadStatus = noErr;

constexpr long kDescriptionBytes = 86;

}  // namespace

void SkyloomFailMovieFrameWalkRead(int nth, OSErr status) {
  gFailReadIn = nth;
  gFailReadStatus = status;
}

OSErr myOpenMovieFrameWalk(const FSRef* file, MyMovieFrameWalk* w) {
  std::memset(w, 0, sizeof *w);
  OSType dataRefType = 0;
  if (file == nullptr || QTNewDataReferenceFromFSRef(file, 0, &w->mDataRef, &dataRefType) != noErr ||
      NewMovieFromDataRef(&w->mMovie, 0, nullptr, w->mDataRef, dataRefType) != noErr || w->mMovie == nullptr) {
    myCloseMovieFrameWalk(w);
    return -1;
  }
  Rect box{};
  GetMovieBox(w->mMovie, &box);
  box = Rect{0, 0, SInt16(box.bottom - box.top), SInt16(box.right - box.left)};
  if (box.right <= 0 || box.bottom <= 0) {
    myPostAlert("", "Movie does not contian video. Cannot Complete operation.");
    myCloseMovieFrameWalk(w);
    return -2;
  }
  w->mWidth = UInt32(box.right);
  w->mHeight = UInt32(box.bottom);

  w->mMedia16 = myGetMovie16BitVideoMedia(w->mMovie, 0);
  OSErr err = noErr;
  if (w->mMedia16 != nullptr) {
    w->mSampleH = NewHandle(0);
    w->mDescH = reinterpret_cast<ImageDescriptionHandle>(NewHandle(kDescriptionBytes));
    if (w->mSampleH == nullptr || w->mDescH == nullptr) {
      myCloseMovieFrameWalk(w);
      return memFullErr;
    }
    GetMediaSampleDescription(w->mMedia16, 1, reinterpret_cast<SampleDescriptionHandle>(w->mDescH));
    if (GetMoviesError() != noErr || GetHandleSize(reinterpret_cast<Handle>(w->mDescH)) < long(sizeof(ImageDescription))) {
      myPostAlert("", "GetMediaSampleDescription failed");
      myCloseMovieFrameWalk(w);
      return -3;
    }
    err = QTNewGWorld(&w->mGWorld, k48RGBPixelFormat, &box, nullptr, nullptr, 0);
  } else {
    err = NewGWorld(&w->mGWorld, 32, &box, nullptr, nullptr, 0);
  }
  if (err != noErr || w->mGWorld == nullptr) {
    myCloseMovieFrameWalk(w);
    return memFullErr;
  }

  SetMovieGWorld(w->mMovie, w->mGWorld, nullptr);
  // Raw Bayer frames are demosaiced by the 5 x 5 gradient method.
  mySetBayerMediaQuality(w->mMovie, codecLosslessQuality);
  SetMovieActive(w->mMovie, true);
  w->mDuration = GetMovieDuration(w->mMovie);
  w->mTimeScale = GetMovieTimeScale(w->mMovie);
  if (w->mMedia16 != nullptr && w->mTimeScale > 0)
    w->mRatio = double(GetMediaTimeScale(w->mMedia16)) / double(w->mTimeScale);

  w->mRGB48 = static_cast<UInt16*>(std::malloc(size_t(w->mWidth) * w->mHeight * 6 + 64));
  if (w->mRGB48 == nullptr) {
    myCloseMovieFrameWalk(w);
    return memFullErr;
  }
  return noErr;
}

OSErr myReadMovieFrameWalk(MyMovieFrameWalk* w, TimeValue movieTime, UInt16* mono16) {
  if (w == nullptr || w->mMovie == nullptr || mono16 == nullptr) return paramErr;
  if (gFailReadIn > 0 && --gFailReadIn == 0) return gFailReadStatus;
  SetMovieTimeValue(w->mMovie, movieTime);
  UpdateMovie(w->mMovie);
  MoviesTask(w->mMovie, 0);
  OSErr err = noErr;
  if (w->mMedia16 != nullptr) {
    PixMapHandle pm = GetGWorldPixMap(w->mGWorld);
    if (!LockPixels(pm)) return -1;
    const TimeValue mediaTime = TimeValue(double(movieTime) * w->mRatio);
    err = myGet16BitMediaSampleInRGB48Buff(w->mMedia16, w->mSampleH, w->mRGB48, w->mWidth, w->mHeight, mediaTime,
                                           w->mGWorld, w->mDescH, codecLosslessQuality, 0);
    UnlockPixels(pm);
  } else {
    err = GetMoviesError();
    if (err == noErr) myARGB32GWToRGB48(w->mGWorld, w->mRGB48);
  }
  if (err != noErr) return err;
  myRGB48PtrToMonoRGB16(w->mRGB48, mono16, w->mWidth, w->mHeight, 1);
  return noErr;
}

TimeValue myNextMovieFrameWalkTime(MyMovieFrameWalk* w, TimeValue movieTime) {
  const OSType visual = VisualMediaCharacteristic;
  TimeValue next = -1;
  GetMovieNextInterestingTime(w->mMovie, nextTimeMediaSample, 1, &visual, movieTime, fixed1, &next, nullptr);
  return next < 1 ? w->mDuration : next;
}

void myCloseMovieFrameWalk(MyMovieFrameWalk* w) {
  if (w == nullptr) return;
  if (w->mMovie != nullptr) {
    SetMovieActive(w->mMovie, false);
    DisposeMovie(w->mMovie);
  }
  if (w->mGWorld != nullptr) DisposeGWorld(w->mGWorld);
  if (w->mDataRef != nullptr) DisposeHandle(w->mDataRef);
  if (w->mSampleH != nullptr) DisposeHandle(w->mSampleH);
  if (w->mDescH != nullptr) DisposeHandle(reinterpret_cast<Handle>(w->mDescH));
  std::free(w->mRGB48);
  std::memset(w, 0, sizeof *w);
}
