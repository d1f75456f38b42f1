// Movie Toolbox stand-in, reading side: movies opened from files, their
// tracks and media, samples by media time, sample descriptions, and drawing
// the frame at the movie time into an offscreen picture.
//
// QuickTime files are read by our own atom parser; the uncompressed codecs
// ('raw ' 8/16/24/32 with colour tables, 'b16g', 'b32a', 'b48r', 'b64a',
// 'yuv2', '2vuy', 'v308') are decoded here. Raw Bayer samples ('BGGR') are
// decoded only by the decompressor component registered for them (the
// ORX_BAYER plug-in), through a decompression sequence (ImageCodec.h): 8-bit
// frames into 32-bit ARGB, 16-bit frames into 'b48r', turned from big-endian
// to host order here. The demosaic method follows the description's spatial
// quality (up to 256 2x2 cells, up to 768 bilinear, above that the 5x5
// gradients); without the component a raw Bayer sample gives noCodecErr.
// Every other codec, and files in other containers (AVI, MPEG-4, DV,
// MPEG...), are decoded through FFmpeg behind the same calls.
//
// Samples come back as the file holds them (16-bit samples big-endian);
// sample descriptions are records in host order. Movie objects share no state:
// separate movies may be read on separate threads at once. GetMoviesError is
// per thread.
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCompression.h"

struct MovieRecord;
struct TrackRecord;
struct MediaRecord;
typedef MovieRecord* Movie;
typedef TrackRecord* Track;
typedef MediaRecord* Media;
typedef Handle SampleDescriptionHandle;

enum : OSErr {
  invalidMovie = -2010,
  invalidTrack = -2009,
  invalidMedia = -2008,
  invalidTime = -2015,
  invalidDuration = -2014,
  badImageDescription = -2001,
  couldNotResolveDataRef = -2000,
  noMovieFound = -2048,
  cantOpenHandler = -2042,
};

enum : OSType {
  VideoMediaType = FOUR_CHAR_CODE("vide"),
  SoundMediaType = FOUR_CHAR_CODE("soun"),
  TimeCodeMediaType = FOUR_CHAR_CODE("tmcd"),
};

enum : short {
  newMovieActive = 1 << 0,
  newMovieDontResolveDataRefs = 1 << 1,
  newMovieDontAskUnresolvedDataRefs = 1 << 2,
};
enum : UInt16 {
  nextTimeMediaSample = 1 << 0,
  nextTimeMediaEdit = 1 << 1,
  nextTimeTrackEdit = 1 << 2,
  nextTimeSyncSample = 1 << 3,
  nextTimeStep = 1 << 4,
  nextTimeEdgeOK = 1 << 14,
  nextTimeIgnoreActiveSegment = 1 << 15,
};
enum : short { mediaSampleNotSync = 1 };

OSErr EnterMovies();
void ExitMovies();
// ExitMovies calls since the process started (tests compare before and after).
long SkyloomExitMoviesCount();
OSErr GetMoviesError();

// Files: OpenMovieFile gives a reference number that NewMovieFromFile reads.
OSErr OpenMovieFile(const FSSpec* fileLocation, short* resRefNum, SInt8 permission);
OSErr CloseMovieFile(short resRefNum);
OSErr NewMovieFromFile(Movie* theMovie, short resRefNum, short* resId, StringPtr resName, short newMovieFlags,
                       Boolean* dataRefWasChanged);
OSErr NewMovieFromDataRef(Movie* m, short flags, short* id, Handle dataRef, OSType dataRefType);
void DisposeMovie(Movie theMovie);
// The path of the file a movie was opened from (for layers that add to it).
const char* SkyloomMoviePath(Movie theMovie);

// ---- Activity and progress ----
// A movie is inactive when made; the flag is kept for the callers that set it.
void SetMovieActive(Movie theMovie, Boolean active);
Boolean GetMovieActive(Movie theMovie);
// Long operations (the movie export) report to the movie's progress
// procedure: open, update with the fraction done, close. A result other than
// 0 stops the operation, which then returns progressProcAborted.
// kSkyloomDefaultMovieProgressProc (QuickTime's -1) is the toolbox's own: a
// progress window with a Stop button.
typedef OSErr (*MovieProgressProcPtr)(Movie theMovie, short message, short whatOperation, Fixed percentDone,
                                      long refcon);
typedef MovieProgressProcPtr MovieProgressUPP;
#define kSkyloomDefaultMovieProgressProc (reinterpret_cast<MovieProgressUPP>(-1L))
enum : short { movieProgressOpen = 0, movieProgressUpdatePercent = 1, movieProgressClose = 2 };
enum : short { progressOpFlatten = 1, progressOpExportMovie = 12 };
enum : OSErr { progressProcAborted = -2019 };
void SetMovieProgressProc(Movie theMovie, MovieProgressUPP p, long refcon);
// The procedure and reference value set on the movie (null when none).
MovieProgressUPP SkyloomGetMovieProgressProc(Movie theMovie, long* refcon);

TimeScale GetMovieTimeScale(Movie theMovie);
TimeValue GetMovieDuration(Movie theMovie);
void GetMovieBox(Movie theMovie, Rect* boxRect);
void SetMovieBox(Movie theMovie, const Rect* boxRect);
long GetMovieTrackCount(Movie theMovie);
Track GetMovieIndTrack(Movie theMovie, long index);  // 1-based
Track GetMovieIndTrackType(Movie theMovie, long index, OSType trackType, long flags);
Boolean GetTrackEnabled(Track theTrack);
void SetTrackEnabled(Track theTrack, Boolean isEnabled);
Media GetTrackMedia(Track theTrack);
Track GetMediaTrack(Media theMedia);
Movie GetTrackMovie(Track theTrack);
long GetTrackID(Track theTrack);
TimeValue GetTrackDuration(Track theTrack);

void GetMediaHandlerDescription(Media theMedia, OSType* mediaType, Str255 creatorName, OSType* creatorManufacturer);
TimeScale GetMediaTimeScale(Media theMedia);
TimeValue GetMediaDuration(Media theMedia);
long GetMediaSampleCount(Media theMedia);
long GetMediaSampleDescriptionCount(Media theMedia);
// Fills descH (resized) with description index (1-based), in host order.
void GetMediaSampleDescription(Media theMedia, long index, SampleDescriptionHandle descH);
// Replaces description index in memory (the file is not changed).
OSErr SetMediaSampleDescription(Media theMedia, long index, SampleDescriptionHandle descH);
// How many descriptions have been replaced since start (tests spy on writes).
long SkyloomSampleDescriptionWrites();
// The one sample at media time `time` into dataOut (grown as needed, but no
// further than maxSizeToGrow when that is nonzero).
OSErr GetMediaSample(Media theMedia, Handle dataOut, long maxSizeToGrow, long* size, TimeValue time,
                     TimeValue* sampleTime, TimeValue* durationPerSample, SampleDescriptionHandle sampleDescriptionH,
                     long* sampleDescriptionIndex, long maxNumberOfSamples, long* numberOfSamples,
                     short* sampleFlags);
TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack);
// The next (rate > 0) or previous sample start of the media after or before
// `time`, in media time; -1 when there is none. Only nextTimeMediaSample
// (with nextTimeEdgeOK) is looked at.
void GetMediaNextInterestingTime(Media theMedia, short interestingTimeFlags, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration);

// Playback position and drawing: MoviesTask draws the frame of the first
// enabled video track at the movie time into the movie's picture, scaled to
// the movie box.
void SetMovieGWorld(Movie theMovie, GWorldPtr port, GDHandle gdh);
void GetMovieGWorld(Movie theMovie, GWorldPtr* port, GDHandle* gdh);
void SetMovieTimeValue(Movie theMovie, TimeValue newtime);
TimeValue GetMovieTime(Movie theMovie, void* currentTime);
OSErr UpdateMovie(Movie theMovie);
void MoviesTask(Movie theMovie, long maxMilliSecToUse);
void GetMovieNextInterestingTime(Movie theMovie, short interestingTimeFlags, short numMediaTypes,
                                 const OSType* whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration);
// Thread hand-over: movies here belong to no thread, so both succeed.
OSErr DetachMovieFromCurrentThread(Movie m);
OSErr AttachMovieToCurrentThread(Movie m);
// ---- Movies on a thread of their own ----
// Movies here belong to no thread, so entering and leaving QuickTime on a
// thread always succeed (unless a test made the next call fail).
OSErr EnterMoviesOnThread(UInt32 inFlags);
OSErr ExitMoviesOnThread();
// Tests: the next call of the chosen thread hand-over call fails with status
// (and does nothing); status 0 withdraws it.
enum SkyloomMovieThreadCall : int {
  kSkyloomEnterMoviesOnThread,
  kSkyloomExitMoviesOnThread,
  kSkyloomAttachMovieToThread,
  kSkyloomDetachMovieFromThread,
};
void SkyloomFailNextMovieThreadCall(SkyloomMovieThreadCall call, OSErr status);

// ---- Image decompression ----
struct MatrixRecord {
  Fixed matrix[3][3];
};
void SetIdentityMatrix(MatrixRecord* matrix);
// The matrix that maps fromRect onto toRect.
void RectMatrix(MatrixRecord* matrix, const Rect* srcRect, const Rect* dstRect);
enum : short { srcCopy = 0, ditherCopy = 64 };
// Decodes one sample of the description's codec into the picture (scaled by
// the matrix's scale and offset; bilinear where sizes differ). accuracy is
// the codec quality; raw Bayer follows the description's spatial quality, and
// a description whose data size is 0 takes the sample's size. The
// decompressor's error (codecBadDataErr for sizes that do not describe the
// sample) is returned.
OSErr FDecompressImage(Ptr data, ImageDescriptionHandle desc, PixMapHandle dst, const Rect* srcRect,
                       const MatrixRecord* matrix, short mode, void* mask, PixMapHandle matte,
                       const Rect* matteRect, CodecQ accuracy, void* decompressor, long dataSize, void* dataProc,
                       void* progressProc);
OSErr DecompressImage(Ptr data, ImageDescriptionHandle desc, PixMapHandle dst, const Rect* srcRect,
                      const Rect* dstRect, short mode, void* mask);
// A decoder for a sample description, chosen by codec; false when none here
// (for 'BGGR': whether its decompressor component is registered).
Boolean SkyloomCanDecompress(CodecType codec);

// ---- Editing and writing back ----
// New tracks and media live in memory until the movie is written back. The
// write appends the new media data and a new movie atom to the file, then
// marks the old movie atom 'free': the file holds a readable movie atom at
// every moment, even if the process dies between the steps. A last atom of
// size 0 ("to the end of the file") is given its real size first, so that
// what is appended stands at the top level. Only files in QuickTime's atom
// layout are written: a movie read through FFmpeg (AVI, MPEG...), or a file
// whose top-level atoms do not end where it ends, gives wrPermErr (-61) and
// is left as it was.
Track NewMovieTrack(Movie theMovie, Fixed width, Fixed height, short trackVolume);
Media NewTrackMedia(Track theTrack, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType dataRefType);
OSErr BeginMediaEdits(Media theMedia);
OSErr EndMediaEdits(Media theMedia);
OSErr AddMediaSample(Media theMedia, Handle dataIn, long inOffset, unsigned long size, TimeValue durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, long numberOfSamples, short sampleFlags,
                     TimeValue* sampleTime);
OSErr InsertMediaIntoTrack(Track theTrack, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate);
OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, long* addedIndex);
void SetTrackMatrix(Track theTrack, const MatrixRecord* m);
void GetTrackMatrix(Track theTrack, MatrixRecord* m);
void SetTrackDimensions(Track theTrack, Fixed width, Fixed height);
void GetTrackDimensions(Track theTrack, Fixed* width, Fixed* height);
// Writes the movie back into the file it came from.
OSErr UpdateMovieResource(Movie theMovie, short resRefNum, short resId, ConstStr255Param resName);
// Storage opened from a data reference, for writing a movie back.
struct DataHandlerRecord;
typedef DataHandlerRecord* DataHandler;
OSErr OpenMovieStorage(Handle dataRef, OSType dataRefType, long flags, DataHandler* outDataHandler);
OSErr UpdateMovieInStorage(Movie theMovie, DataHandler dh);
OSErr CloseMovieStorage(DataHandler dh);

// New movie files. CreateMovieStorage makes the file the data reference names
// (an existing one is replaced with createMovieFileDeleteCurFile, else
// dupFNErr) and a new empty movie of time scale 600 kept in it. Nothing is
// written until the first sample: the samples of such a movie go to the file
// as they are added (into an 'mdat' atom that stays open-ended until the
// movie atom is written), so the movie holds none of their bytes in memory.
// AddMovieToStorage closes the data atom and appends the movie atom; after
// it the file is a complete movie. Later samples open a new data atom and a
// later AddMovieToStorage appends a new movie atom, marking the old one
// 'free'. A data atom beyond 4 GB takes the 'wide' atom before it for its
// 64-bit size.
enum : long {
  createMovieFileDeleteCurFile = 1L << 31,
  createMovieFileDontCreateMovie = 1L << 30,
  createMovieFileDontOpenFile = 1L << 29,
  createMovieFileDontCreateResFile = 1L << 28,
};
enum : ScriptCode { smSystemScript = -1 };
OSErr CreateMovieStorage(Handle dataRef, OSType dataRefType, OSType creator, ScriptCode scriptTag,
                         long createMovieFileFlags, DataHandler* outDataHandler, Movie* newMovie);
OSErr AddMovieToStorage(Movie theMovie, DataHandler dh);
// How many added samples all movies hold in memory, waiting for a write back
// (tests watch it; samples of a movie made by CreateMovieStorage never wait).
long SkyloomPendingMediaSamples();

// ---- Movie segments and media characteristics ----
// GetMovieNextInterestingTime takes the visual characteristic in place of a
// media type: it stands for the video tracks.
enum : OSType { VisualMediaCharacteristic = FOUR_CHAR_CODE("eyes") };
// Puts the segment [srcIn, srcIn + srcDuration) of the source movie (source
// time scale) at dstIn of the destination (its time scale). The destination
// is self-contained: the source's video samples that the segment covers are
// copied into a video track of the destination (made on first use, of the
// source track's size, media time scale and descriptions), each lasting the
// part of the segment it covers, so that outside tools read the result as it
// is. Only appending is supported: dstIn at or after the destination's
// duration (a gap becomes an empty edit); dstIn inside it gives paramErr.
// Sources read through FFmpeg give cantOpenHandler; a source without video
// invalidTrack; a segment outside the source invalidTime.
OSErr InsertMovieSegment(Movie srcMovie, Movie dstMovie, TimeValue srcIn, TimeValue srcDuration, TimeValue dstIn);
// Tests: the nth InsertMovieSegment from now (1 = the next) fails with status
// and changes nothing; 0 withdraws it.
void SkyloomFailMovieSegmentInsertion(int nth, OSErr status);

// ---- User data ----
struct UserDataRecord;
typedef UserDataRecord* UserData;
OSErr NewUserData(UserData* theUserData);
OSErr DisposeUserData(UserData theUserData);
// A text item: 2 bytes of text length, 2 of language, then the text.
OSErr AddUserDataText(UserData theUserData, Handle data, OSType udType, long index, short itlRegionTag);
OSErr GetUserDataItem(UserData theUserData, Handle data, OSType udType, long index);

// ---- The time-code media handler ----
struct MediaHandlerRecord;
typedef MediaHandlerRecord* MediaHandler;
MediaHandler GetMediaHandler(Media theMedia);

#pragma pack(push, 2)
struct TimeCodeDef {
  SInt32 flags;
  TimeScale fTimeScale;
  TimeValue frameDuration;
  UInt8 numFrames;
  UInt8 padding;
};
struct TimeCodeTime {
  UInt8 hours;
  UInt8 minutes;
  UInt8 seconds;
  UInt8 frames;
};
union TimeCodeRecord {
  TimeCodeTime t;
  SInt32 c;
};
struct TimeCodeDescription {
  SInt32 descSize;
  SInt32 dataFormat;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt32 flags;
  TimeCodeDef timeCodeDef;
  SInt32 srcRef[1];
};
#pragma pack(pop)
static_assert(sizeof(TimeCodeDescription) == 38, "a time-code description is 38 bytes");
typedef TimeCodeDescription* TimeCodeDescriptionPtr;
typedef TimeCodeDescriptionPtr* TimeCodeDescriptionHandle;

struct TCTextOptions {
  SInt16 txFont;
  SInt16 txFace;
  SInt16 txSize;
  SInt16 pad;
  RGBColor foreColor;
  RGBColor backColor;
};
enum : SInt32 { tcDropFrame = 1 << 0, tc24HourMax = 1 << 1, tcNegTimesOK = 1 << 2, tcCounter = 1 << 3 };
enum : SInt32 { tcdfShowTimeCode = 1 << 0 };

ComponentResult TCSetDisplayOptions(MediaHandler mh, const TCTextOptions* textOptions);
ComponentResult TCGetDisplayOptions(MediaHandler mh, TCTextOptions* textOptions);
// "hh:mm:ss:ff" as a Pascal string.
ComponentResult TCTimeCodeToString(MediaHandler mh, const TimeCodeDef* tcdef, const TimeCodeRecord* tcrec,
                                   StringPtr tcStr);
ComponentResult TCTimeCodeToFrameNumber(MediaHandler mh, const TimeCodeDef* tcdef, const TimeCodeRecord* tcrec,
                                        SInt32* frameNumber);
ComponentResult TCFrameNumberToTimeCode(MediaHandler mh, SInt32 frameNumber, const TimeCodeDef* tcdef,
                                        TimeCodeRecord* tcrec);
ComponentResult TCSetTimeCodeFlags(MediaHandler mh, SInt32 flags, SInt32 flagsMask);
ComponentResult TCGetTimeCodeFlags(MediaHandler mh, SInt32* flags);
// Puts the source reference (flattened user data) into the description.
ComponentResult TCSetSourceRef(MediaHandler mh, TimeCodeDescriptionHandle tcdH, UserData srefH);
// The time code at a media time: frame number, definition, record and a new
// user data holding the source reference (the caller disposes of it).
ComponentResult TCGetTimeCodeAtTime(MediaHandler mh, TimeValue mediaTime, SInt32* frameNum, TimeCodeDef* tcdef,
                                    TimeCodeRecord* tcrec, UserData* srcRefH);
// Font metrics of the fixed display model: size 0 is the 12-point default.
void SkyloomFontMetrics(SInt16 font, SInt16 size, SInt16* ascent, SInt16* descent);
