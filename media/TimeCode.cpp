#include "media/TimeCode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/quicktime/DataReferences.h"
#include "utilities/Alerts.h"
#include "utilities/FileDialogs.h"

namespace {

// The track, media and sample that carry a time code.
OSErr addTimeCodeTrack(Movie movie, Track video, const TimeCodeDef& def, const TimeCodeRecord& record,
                       const char* text, UInt8 show) {
  Fixed videoWidth = 0, videoHeight = 0;
  GetTrackDimensions(video, &videoWidth, &videoHeight);
  const TimeScale scale = GetMovieTimeScale(movie);
  const TimeValue duration = GetMovieDuration(movie);
  Track track = NewMovieTrack(movie, videoWidth, 0, 0);
  if (!track) return GetMoviesError();
  Media media = NewTrackMedia(track, TimeCodeMediaType, scale, nullptr, 0);
  if (!media) return GetMoviesError();
  MediaHandler handler = GetMediaHandler(media);
  if (!handler) return GetMoviesError();
  TCTextOptions options{};
  options.foreColor = RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
  options.backColor = RGBColor{0, 0, 0};
  OSErr err = OSErr(TCSetDisplayOptions(handler, &options));
  if (err != noErr) return err;
  Str255 shown;
  err = OSErr(TCTimeCodeToString(handler, &def, &record, shown));
  if (err != noErr) return err;
  // Below the picture, as high as the display font.
  SInt16 ascent = 0, descent = 0;
  SkyloomFontMetrics(options.txFont, options.txSize, &ascent, &descent);
  SetTrackDimensions(track, videoWidth, Long2Fix(ascent + descent + 2));
  MatrixRecord matrix;
  SetIdentityMatrix(&matrix);
  matrix.matrix[2][1] = videoHeight;
  SetTrackMatrix(track, &matrix);
  SetTrackEnabled(track, show ? 1 : 0);
  err = OSErr(TCSetTimeCodeFlags(handler, show ? tcdfShowTimeCode : 0, tcdfShowTimeCode));
  if (err != noErr) return err;

  err = BeginMediaEdits(media);
  if (err != noErr) return err;
  auto desc = reinterpret_cast<TimeCodeDescriptionHandle>(NewHandleClear(sizeof(TimeCodeDescription)));
  Handle sample = NewHandle(4);
  Handle name = nullptr;
  UserData source = nullptr;
  if (!desc || !sample) err = memFullErr;
  if (err == noErr) {
    TimeCodeDescription& d = **desc;
    d.descSize = sizeof(TimeCodeDescription);
    d.dataFormat = SInt32(TimeCodeMediaType);
    d.dataRefIndex = 0;
    d.flags = 0;
    d.timeCodeDef = def;
    err = NewUserData(&source);
  }
  if (err == noErr) err = PtrToHand(text, &name, long(std::strlen(text)));
  if (err == noErr) err = AddUserDataText(source, name, FOUR_CHAR_CODE("name"), 1, 0);
  if (err == noErr) err = OSErr(TCSetSourceRef(handler, desc, source));
  SInt32 frameNumber = 0;
  if (err == noErr) err = OSErr(TCTimeCodeToFrameNumber(handler, &def, &record, &frameNumber));
  if (err == noErr) {
    UInt8* p = reinterpret_cast<UInt8*>(*sample);  // the frame number, big-endian
    p[0] = UInt8(UInt32(frameNumber) >> 24);
    p[1] = UInt8(UInt32(frameNumber) >> 16);
    p[2] = UInt8(UInt32(frameNumber) >> 8);
    p[3] = UInt8(frameNumber);
    err = AddMediaSample(media, sample, 0, 4, duration, reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0,
                         nullptr);
  }
  OSErr endErr = EndMediaEdits(media);
  if (err == noErr) err = endErr;
  if (err == noErr) err = InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1);
  if (err == noErr) err = AddTrackReference(video, track, TimeCodeMediaType, nullptr);
  if (source) DisposeUserData(source);
  if (name) DisposeHandle(name);
  if (sample) DisposeHandle(sample);
  if (desc) DisposeHandle(reinterpret_cast<Handle>(desc));
  return err;
}

Track firstTrackOfType(Movie movie, OSType type) {
  for (long i = 1, n = GetMovieTrackCount(movie); i <= n; ++i) {
    Track t = GetMovieIndTrack(movie, i);
    OSType mediaType = 0;
    GetMediaHandlerDescription(GetTrackMedia(t), &mediaType, nullptr, nullptr);
    if (mediaType == type) return t;
  }
  return nullptr;
}

}  // namespace

void myMakeStartStampUTC(const UTCDateTime& start, char stamp[32]) {
  // Round the whole time to hundredths first: .995 and up carry into the second.
  const UInt64 seconds = (UInt64(start.highSeconds) << 32) | start.lowSeconds;
  const UInt64 hundredths = seconds * 100 + UInt64(std::lrint(start.fraction * 100.0 / 65536.0));
  const UInt64 whole = hundredths / 100;
  DateTimeRec d{};
  SecondsToDate(UInt32(whole), &d);
  char text[96];
  std::snprintf(text, sizeof text, "STARTED%4d%2d%2d_%2d%2d%2d.%2dUTC", d.year, d.month, d.day, d.hour, d.minute,
                d.second, int(hundredths % 100));
  for (char* c = text; *c; ++c)
    if (*c == ' ') *c = '0';
  const size_t n = std::min<size_t>(std::strlen(text), 31);
  std::memcpy(stamp, text, n);
  stamp[n] = 0;
}

OSErr myAddInATC(UTCDateTime start, FSSpec file, const char* stamp, UInt8 show, SInt32* frames) {
  if (frames) *frames = 0;
  if (!stamp) return paramErr;
  short ref = 0;
  OSErr err = OpenMovieFile(&file, &ref, fsRdWrPerm);
  if (err != noErr) return err;
  Movie movie = nullptr;
  err = NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr);
  if (err != noErr || !movie) {
    // A file that holds no movie (a recording that ended before its first
    // frame has no movie atom) is "no movie", whatever the reader said.
    CloseMovieFile(ref);
    if (movie) DisposeMovie(movie);
    return memFullErr;
  }
  // Every refusal comes before anything is written.
  Track video = GetMovieIndTrackType(movie, 1, VideoMediaType, 0);
  const TimeValue duration = GetMovieDuration(movie);
  if (!video) err = -1;
  else if (duration < 2) err = -2;
  SInt32 count = 0;
  if (err == noErr) {
    // Count the frames by stepping through the video samples in media time:
    // the movie's time scale (600) is coarser than a fast camera's frames, so
    // stepping in movie time merges frames that fall in one movie unit.
    Media videoMedia = GetTrackMedia(video);
    TimeValue t = 0;
    count = 1;
    for (;;) {
      TimeValue next = -1;
      GetMediaNextInterestingTime(videoMedia, nextTimeMediaSample, t, fixed1, &next, nullptr);
      if (next < 0 || next <= t) break;
      t = next;
      ++count;
    }
    if (frames) *frames = count;
    double fps = double(count) / double(duration) * GetMovieTimeScale(movie);
    if (fps < 1.0) fps = 1.0;
    // The frame number below counts trunc(fps) frames a second, so the
    // definition's rate (time scale over frame duration) is exactly that:
    // readers that take the rate from the definition (as ffprobe does) then
    // turn the frame number back into the same time of day. A rate of
    // trunc(fps x 1000) / 1000 reads 29 frames a second as 30 at 29.9 fps.
    TimeCodeDef def{};
    def.flags = 0;
    def.numFrames = UInt8(std::min(255.0, std::trunc(fps)));
    def.fTimeScale = TimeScale(def.numFrames) * 1000;
    def.frameDuration = 1000;
    // The start record: the time of day in UTC and the frame within its second.
    const UInt64 seconds = (UInt64(start.highSeconds) << 32) | start.lowSeconds;
    DateTimeRec d{};
    SecondsToDate(UInt32(seconds), &d);
    TimeCodeRecord record{};
    record.t.hours = UInt8(d.hour);
    record.t.minutes = UInt8(d.minute);
    record.t.seconds = UInt8(d.second);
    // The frame within the second saturates: at the byte's range, and above
    // 255 frames a second, where the rate itself is held at 255, at the last
    // frame of the second, so that a late start does not read as the next one.
    const double frame = std::trunc(fps * start.fraction * (1.0 / 65535.0));
    const double lastFrame = fps > 255.0 ? double(def.numFrames - 1) : 255.0;
    record.t.frames = UInt8(std::min(frame, lastFrame));
    err = addTimeCodeTrack(movie, video, def, record, stamp, show);
    if (err == noErr) err = UpdateMovieResource(movie, ref, 0, nullptr);
  }
  CloseMovieFile(ref);
  DisposeMovie(movie);
  return err;
}

OSErr myExtractTimeCodeData(Movie movie, TimeCodeDef* def, TimeCodeRecord* record, char text[255]) {
  if (text) text[0] = 0;
  Track track = firstTrackOfType(movie, TimeCodeMediaType);
  if (!track) return -1;
  MediaHandler handler = GetMediaHandler(GetTrackMedia(track));
  if (!handler) return -1;
  UserData source = nullptr;
  SInt32 frame = 0;
  OSErr err = OSErr(TCGetTimeCodeAtTime(handler, 0, &frame, def, record, &source));
  if (err == noErr && text) {
    Handle item = NewHandle(0);
    OSErr uerr = item ? GetUserDataItem(source, item, FOUR_CHAR_CODE("name"), 1) : OSErr(memFullErr);
    if (uerr != noErr) {
      std::fprintf(stderr, "GetUserData failed %d\n", uerr);
    } else {
      const Size n = GetHandleSize(item);
      if (n > 4) {
        // Text length and language first, then the text.
        const size_t len = std::min<size_t>(size_t(n - 4), 254);
        std::memcpy(text, *item + 4, len);
        text[len] = 0;
      }
    }
    if (item) DisposeHandle(item);
  }
  if (source) DisposeUserData(source);
  return err;
}

OSErr myCopyTCToMovie(Movie movie, Track video, const TimeCodeDef* def, const TimeCodeRecord* record,
                      const char* text) {
  if (!movie || !video || !def || !record || !text) return paramErr;
  if (GetMovieDuration(movie) < 2) return -2;
  return addTimeCodeTrack(movie, video, *def, *record, text, 0);
}

OSErr myHideShowTCTForFile(const FSRef& file, UInt8 show) {
  Handle dataRef = nullptr;
  OSType type = 0;
  OSErr err = QTNewDataReferenceFromFSRef(&file, 0, &dataRef, &type);
  if (err != noErr) return err;
  Movie movie = nullptr;
  DataHandler storage = nullptr;
  err = NewMovieFromDataRef(&movie, 0, nullptr, dataRef, type);
  if (err == noErr) err = OpenMovieStorage(dataRef, type, 0, &storage);
  if (err == noErr && !firstTrackOfType(movie, TimeCodeMediaType)) err = -1;
  if (err == noErr) {
    for (long i = 1, n = GetMovieTrackCount(movie); i <= n && err == noErr; ++i) {
      Track t = GetMovieIndTrack(movie, i);
      OSType mediaType = 0;
      GetMediaHandlerDescription(GetTrackMedia(t), &mediaType, nullptr, nullptr);
      if (mediaType != TimeCodeMediaType) continue;
      err = OSErr(TCSetTimeCodeFlags(GetMediaHandler(GetTrackMedia(t)), show ? tcdfShowTimeCode : 0, tcdfShowTimeCode));
      if (err == noErr) SetTrackEnabled(t, show ? 1 : 0);
    }
    if (err == noErr) err = UpdateMovieInStorage(movie, storage);
  }
  if (storage) CloseMovieStorage(storage);
  if (movie) DisposeMovie(movie);
  DisposeHandle(dataRef);
  return err;
}

void myHideShowTCT(UInt8 show) {
  static const OSType kMovieTypes[6] = {FOUR_CHAR_CODE("MooV"), FOUR_CHAR_CODE("VfW "), FOUR_CHAR_CODE("FLC "),
                                        FOUR_CHAR_CODE("mpg4"), FOUR_CHAR_CODE("dvc!"), FOUR_CHAR_CODE("mpeg")};
  FSRef file;
  OSStatus err = myGetFSRefForReading(nullptr, nullptr, &file, FOUR_CHAR_CODE("TVOD"), 6, kMovieTypes, 0, 0);
  if (err == noErr) err = myHideShowTCTForFile(file, show);
  if (err == -1) {
    SysBeep(30);
    myPostAlertByKeyString("USRER", "NOTIMECODETRACK");
  } else if (err != noErr && err != userCanceledErr) {
    char message[96];
    std::snprintf(message, sizeof message, "A %d 0x%X error orccured in myHideShowTCT", int(err), unsigned(err));
    myPostAlert("", message);  // beeps first
  }
}
