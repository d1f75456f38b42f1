#include "platform/quicktime/MovieExport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "platform/navigation/Navigation.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/GraphicsExport.h"

namespace {

constexpr UInt32 kStopCommand = FOUR_CHAR_CODE("stop");

enum class Format { Movie = 1, ImageSequence = 2 };

// ---- The default progress procedure: a window of our own with a Stop button.

struct ProgressWindow {
  WindowRef window = nullptr;
  EventHandlerRef handler = nullptr;
  bool stop = false;
};

CFStringRef newString(const char* s) { return CFStringCreateWithCString(kCFAllocatorDefault, s, kCFStringEncodingUTF8); }

OSStatus progressHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* p = static_cast<ProgressWindow*>(userData);
  HICommand command{};
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command) !=
          noErr ||
      command.commandID != kStopCommand)
    return eventNotHandledErr;
  p->stop = true;
  return noErr;
}

void openProgress(ProgressWindow* p) {
  const Rect bounds{0, 0, 100, 360};
  if (CreateNewWindow(kMovableModalWindowClass, kWindowNoAttributes, &bounds, &p->window) != noErr) {
    p->window = nullptr;
    return;
  }
  if (CFStringRef t = newString("Exporting")) {
    SetWindowTitleWithCFString(p->window, t);
    CFRelease(t);
  }
  const ControlID barID{kSkyloomProgressBarSignature, 0}, stopID{kSkyloomProgressStopSignature, 0};
  const Rect barBounds{20, 20, 36, 340}, stopBounds{60, 260, 80, 340};
  ControlRef bar = nullptr, stop = nullptr;
  if (SkyloomCreateControl(p->window, &barBounds, kControlKindProgressBar, &barID, &bar) == noErr) {
    SetControl32BitMinimum(bar, 0);
    SetControl32BitMaximum(bar, 100);
    SetControl32BitValue(bar, 0);
  }
  if (SkyloomCreateControl(p->window, &stopBounds, kControlKindPushButton, &stopID, &stop) == noErr) {
    if (CFStringRef t = newString("Stop")) {
      SetControlTitleWithCFString(stop, t);
      CFRelease(t);
    }
    SetControlCommandID(stop, kStopCommand);
  }
  static const EventTypeSpec kCommands[] = {{kEventClassCommand, kEventCommandProcess}};
  InstallWindowEventHandler(p->window, progressHandler, 1, kCommands, p, &p->handler);
  ShowWindow(p->window);
}

void closeProgress(ProgressWindow* p) {
  if (p->handler) RemoveEventHandler(p->handler);
  if (p->window) DisposeWindow(p->window);
  p->handler = nullptr;
  p->window = nullptr;
}

// Tells the movie's progress procedure; true when it asks to stop.
struct Progress {
  Movie movie;
  MovieProgressUPP proc = nullptr;
  long refcon = 0;
  ProgressWindow window;
  bool opened = false;

  explicit Progress(Movie m) : movie(m) { proc = SkyloomGetMovieProgressProc(m, &refcon); }
  ~Progress() { close(); }
  bool report(short message, Fixed fraction) {
    if (proc == nullptr) return false;
    if (proc != kSkyloomDefaultMovieProgressProc)
      return proc(movie, message, progressOpExportMovie, fraction, refcon) != noErr;
    if (message == movieProgressOpen) openProgress(&window);
    if (message == movieProgressUpdatePercent && window.window) {
      const ControlID barID{kSkyloomProgressBarSignature, 0};
      ControlRef bar = nullptr;
      if (GetControlByID(window.window, &barID, &bar) == noErr)
        SetControl32BitValue(bar, SInt32((SInt64(fraction) * 100) >> 16));
      // The user may press Stop between two frames.
      RunCurrentEventLoop(kEventDurationNoWait);
    }
    if (message == movieProgressClose) closeProgress(&window);
    return window.stop;
  }
  bool open() {
    opened = true;
    return report(movieProgressOpen, 0);
  }
  bool update(Fixed fraction) { return report(movieProgressUpdatePercent, fraction); }
  void close() {
    if (opened) report(movieProgressClose, fixed1);
    opened = false;
  }
};

// ---- The settings dialog.

std::string leafOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string pathOfRef(const FSRef& ref) {
  UInt8 path[4096];
  return FSRefMakePath(&ref, path, sizeof path) == noErr ? std::string(reinterpret_cast<char*>(path)) : std::string();
}

std::string utf8(CFStringRef s) {
  char buf[1024];
  return s && CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8) ? std::string(buf) : std::string();
}

// Asks for the destination and the format; the path chosen.
OSErr askSettings(const std::string& proposed, std::string* path, Format* format) {
  CFStringRef items[2] = {newString(kSkyloomExportMovieName), newString(kSkyloomExportImageSequenceName)};
  CFArrayRef popup = CFArrayCreate(kCFAllocatorDefault, reinterpret_cast<const void**>(items), 2, &kCFTypeArrayCallBacks);
  CFRelease(items[0]);
  CFRelease(items[1]);
  CFStringRef name = newString(leafOf(proposed).c_str());
  CFStringRef message = newString("Export the movie as:");
  NavDialogCreationOptions options;
  NavGetDefaultDialogCreationOptions(&options);
  options.optionFlags |= kNavDontAddTranslateItems;
  options.saveFileName = name;
  options.message = message;
  options.popupExtension = popup;
  options.modality = kWindowModalityAppModal;
  NavDialogRef dialog = nullptr;
  OSErr err = OSErr(NavCreatePutFileDialog(&options, FOUR_CHAR_CODE("MooV"), FOUR_CHAR_CODE("TVOD"), nullptr, nullptr,
                                           &dialog));
  if (err == noErr) err = OSErr(NavDialogRun(dialog));
  if (err == noErr && NavDialogGetUserAction(dialog) != kNavUserActionSaveAs) err = userCanceledErr;
  if (err == noErr) {
    NavReplyRecord reply;
    err = OSErr(NavDialogGetReply(dialog, &reply));
    if (err == noErr) {
      FSRef folder;
      if (!reply.validRecord || AEGetNthPtr(&reply.selection, 1, typeFSRef, nullptr, nullptr, &folder, sizeof folder,
                                            nullptr) != noErr)
        err = userCanceledErr;
      const std::string leaf = utf8(reply.saveFileName), dir = pathOfRef(folder);
      if (err == noErr && (leaf.empty() || dir.empty())) err = bdNamErr;
      if (err == noErr) {
        *path = dir + "/" + leaf;
        *format = SkyloomNavPopupExtensionItem(dialog) == 2 ? Format::ImageSequence : Format::Movie;
      }
      NavDisposeReply(&reply);
    }
  }
  if (dialog) NavDialogDispose(dialog);
  CFRelease(popup);
  CFRelease(name);
  CFRelease(message);
  return err;
}

// ---- Reading the frames.

struct Source {
  Track track = nullptr;
  Media media = nullptr;
  ImageDescriptionHandle desc = nullptr;
  SInt16 width = 0, height = 0;
  bool sixteenBit = false;
  TimeScale timeScale = 0;
  long frames = 0;
};

bool isSixteenBit(const ImageDescription& d) {
  switch (d.cType) {
    case FOUR_CHAR_CODE("b16g"):
    case FOUR_CHAR_CODE("b32a"):
    case FOUR_CHAR_CODE("b48r"):
    case FOUR_CHAR_CODE("b64a"): return true;
    case FOUR_CHAR_CODE("BGGR"): return d.depth == 16;
  }
  return false;
}

OSErr findSource(Movie m, Source* s) {
  for (long i = 1; i <= GetMovieTrackCount(m); ++i) {
    Track t = GetMovieIndTrack(m, i);
    Media media = GetTrackMedia(t);
    OSType type = 0;
    GetMediaHandlerDescription(media, &type, nullptr, nullptr);
    if (type != VideoMediaType || !GetTrackEnabled(t) || GetMediaSampleCount(media) < 1) continue;
    s->track = t;
    s->media = media;
    s->desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    if (s->desc == nullptr) return memFullErr;
    GetMediaSampleDescription(media, 1, reinterpret_cast<SampleDescriptionHandle>(s->desc));
    s->width = (*s->desc)->width;
    s->height = (*s->desc)->height;
    if (s->width <= 0 || s->height <= 0) return badImageDescription;
    s->sixteenBit = isSixteenBit(**s->desc);
    s->timeScale = GetMediaTimeScale(media);
    s->frames = GetMediaSampleCount(media);
    return noErr;
  }
  return invalidMovie;
}

// One decoded frame: dense ARGB32 bytes, or RGB48 in host order.
struct Decoder {
  const Source& source;
  GWorldPtr picture = nullptr;
  Handle sample = nullptr;
  ImageDescriptionHandle desc = nullptr;
  explicit Decoder(const Source& s) : source(s) {}
  ~Decoder() {
    if (picture) DisposeGWorld(picture);
    if (sample) DisposeHandle(sample);
    if (desc) DisposeHandle(reinterpret_cast<Handle>(desc));
  }
  OSErr init() {
    const Rect bounds{0, 0, source.height, source.width};
    OSErr err = QTNewGWorld(&picture, source.sixteenBit ? k48RGBPixelFormat : k32ARGBPixelFormat, &bounds, nullptr,
                            nullptr, 0);
    if (err != noErr) return err;
    sample = NewHandle(0);
    desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    return sample && desc ? OSErr(noErr) : OSErr(memFullErr);
  }
  // The sample at the media time into the picture; its start and duration.
  OSErr decode(TimeValue time, TimeValue* start, TimeValue* duration) {
    long size = 0;
    OSErr err = GetMediaSample(source.media, sample, 0, &size, time, start, duration,
                               reinterpret_cast<SampleDescriptionHandle>(desc), nullptr, 1, nullptr, nullptr);
    if (err != noErr) return err;
    PixMapHandle pm = GetGWorldPixMap(picture);
    const Rect src{0, 0, source.height, source.width};
    HLock(sample);
    err = FDecompressImage(*sample, desc, pm, &src, nullptr, srcCopy, nullptr, nullptr, nullptr, codecLosslessQuality,
                           nullptr, size, nullptr, nullptr);
    HUnlock(sample);
    return err;
  }
  const UInt8* row(SInt16 y) const {
    PixMapHandle pm = GetGWorldPixMap(picture);
    return reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm)) + size_t(GetPixRowBytes(pm)) * size_t(y);
  }
};

// ---- Writing.

OSErr writeMovie(const Source& s, const std::string& destination, Progress* progress) {
  const std::string part = destination + ".exporting-" + std::to_string(getpid());
  Handle partRef = nullptr;
  OSType partType = 0;
  {
    // A data reference for a file that does not exist yet: through its folder.
    const size_t slash = part.rfind('/');
    FSRef folder;
    OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8*>(part.substr(0, slash).c_str()), &folder, nullptr);
    if (err == noErr)
      err = QTNewDataReferenceFromFSRefCFString(&folder, part.substr(slash + 1).c_str(), 0, &partRef, &partType);
    if (err != noErr) return err;
  }
  Decoder decoder(s);
  OSErr err = decoder.init();
  DataHandler storage = nullptr;
  Movie out = nullptr;
  if (err == noErr) err = CreateMovieStorage(partRef, partType, FOUR_CHAR_CODE("TVOD"), 0, 0, &storage, &out);
  DisposeHandle(partRef);
  Track track = nullptr;
  Media media = nullptr;
  if (err == noErr) {
    track = NewMovieTrack(out, Fixed(s.width) << 16, Fixed(s.height) << 16, 0);
    media = track ? NewTrackMedia(track, VideoMediaType, s.timeScale, nullptr, 0) : nullptr;
    if (media == nullptr) err = GetMoviesError();
  }
  auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  const size_t pixelBytes = s.sixteenBit ? 6 : 4;
  const size_t frameBytes = size_t(s.width) * size_t(s.height) * pixelBytes;
  Handle frame = NewHandle(Size(frameBytes));
  if (err == noErr && (desc == nullptr || frame == nullptr)) err = memFullErr;
  if (err == noErr) {
    ImageDescription& d = **desc;
    d.idSize = sizeof(ImageDescription);
    d.cType = s.sixteenBit ? FOUR_CHAR_CODE("b48r") : FOUR_CHAR_CODE("raw ");
    d.vendor = FOUR_CHAR_CODE("appl");
    d.temporalQuality = 0;
    d.spatialQuality = codecLosslessQuality;
    d.width = s.width;
    d.height = s.height;
    d.hRes = d.vRes = 72 << 16;
    d.frameCount = 1;
    d.depth = s.sixteenBit ? 48 : 32;
    d.clutID = -1;
    err = BeginMediaEdits(media);
  }
  TimeValue time = 0;
  for (long k = 0; err == noErr && k < s.frames; ++k) {
    TimeValue start = 0, duration = 0;
    err = decoder.decode(time, &start, &duration);
    if (err != noErr) break;
    UInt8* o = reinterpret_cast<UInt8*>(*frame);
    const size_t rowBytes = size_t(s.width) * pixelBytes;
    for (SInt16 y = 0; y < s.height; ++y) {
      const UInt8* r = decoder.row(y);
      if (s.sixteenBit) {
        const auto* v = reinterpret_cast<const UInt16*>(r);
        for (size_t i = 0; i < size_t(s.width) * 3; ++i) {
          o[2 * i] = UInt8(v[i] >> 8);
          o[2 * i + 1] = UInt8(v[i]);
        }
      } else {
        std::memcpy(o, r, rowBytes);
      }
      o += rowBytes;
    }
    err = AddMediaSample(media, frame, 0, frameBytes, duration, reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0,
                         nullptr);
    time = start + duration;
    if (err == noErr && progress->update(Fixed((SInt64(k + 1) << 16) / s.frames))) err = progressProcAborted;
  }
  if (err == noErr) err = EndMediaEdits(media);
  if (err == noErr) err = InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1);
  if (err == noErr) err = AddMovieToStorage(out, storage);
  if (storage) CloseMovieStorage(storage);
  if (out) DisposeMovie(out);
  if (desc) DisposeHandle(reinterpret_cast<Handle>(desc));
  if (frame) DisposeHandle(frame);
  if (err == noErr && std::rename(part.c_str(), destination.c_str()) != 0) err = ioErr;
  if (err != noErr) std::remove(part.c_str());
  return err;
}

OSErr writeTIFF(const std::string& path, const UInt16* rgb48, SInt16 width, SInt16 height) {
  const Rect bounds{0, 0, height, width};
  GWorldPtr picture = nullptr;
  OSErr err = NewGWorldFromPtr(&picture, k48RGBPixelFormat, &bounds, nullptr, nullptr, 0,
                               reinterpret_cast<Ptr>(const_cast<UInt16*>(rgb48)), SInt32(width) * 6);
  if (err != noErr) return err;
  ComponentInstance exporter = nullptr;
  err = OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeTIFF, &exporter);
  if (err == noErr) err = OSErr(GraphicsExportSetInputGWorld(exporter, picture));
  if (err == noErr) err = OSErr(GraphicsExportSetDepth(exporter, 24));
  if (err == noErr) err = OSErr(GraphicsExportSetCompressionMethod(exporter, kQTTIFFCompression_PackBits));
  if (err == noErr) err = OSErr(SkyloomGraphicsExportSetOutputPath(exporter, path));
  if (err == noErr) err = OSErr(GraphicsExportDoExport(exporter, nullptr));
  if (exporter) CloseComponent(exporter);
  DisposeGWorld(picture);
  return err;
}

OSErr writeImageSequence(const Source& s, const std::string& destination, Progress* progress) {
  std::string base = destination;
  const size_t slash = base.rfind('/'), dot = base.rfind('.');
  if (dot != std::string::npos && dot > slash + 1) base.resize(dot);
  int digits = 4;
  for (long n = s.frames; n >= 10000; n /= 10) ++digits;
  Decoder decoder(s);
  OSErr err = decoder.init();
  std::vector<UInt16> rgb(size_t(s.width) * size_t(s.height) * 3);
  std::vector<std::string> written;
  TimeValue time = 0;
  for (long k = 0; err == noErr && k < s.frames; ++k) {
    TimeValue start = 0, duration = 0;
    err = decoder.decode(time, &start, &duration);
    if (err != noErr) break;
    UInt16* o = rgb.data();
    for (SInt16 y = 0; y < s.height; ++y) {
      const UInt8* r = decoder.row(y);
      if (s.sixteenBit) {
        std::memcpy(o, r, size_t(s.width) * 6);
      } else {
        for (SInt16 x = 0; x < s.width; ++x)
          for (int c = 0; c < 3; ++c) o[3 * x + c] = UInt16(r[4 * x + 1 + c] << 8);
      }
      o += size_t(s.width) * 3;
    }
    std::string number = std::to_string(k + 1);
    if (number.size() < size_t(digits)) number.insert(0, size_t(digits) - number.size(), '0');
    const std::string path = base + " " + number + ".tif";
    err = writeTIFF(path, rgb.data(), s.width, s.height);
    if (err == noErr) written.push_back(path);
    time = start + duration;
    if (err == noErr && progress->update(Fixed((SInt64(k + 1) << 16) / s.frames))) err = progressProcAborted;
  }
  if (err != noErr)
    for (const std::string& p : written) std::remove(p.c_str());
  return err;
}

}  // namespace

OSErr ConvertMovieToDataRef(Movie m, Track, Handle dataRef, OSType dataRefType, OSType, OSType, long flags,
                            ComponentInstance) {
  if (m == nullptr) return invalidMovie;
  const std::string proposed = SkyloomDataReferencePath(dataRef, dataRefType);
  std::string destination = proposed;
  Format format = Format::Movie;
  if (flags & showUserSettingsDialog) {
    if (OSErr err = askSettings(proposed.empty() ? std::string("Untitled.mov") : proposed, &destination, &format))
      return err;
  } else if (destination.empty()) {
    return couldNotResolveDataRef;
  }
  Source source;
  OSErr err = findSource(m, &source);
  if (err == noErr) {
    Progress progress(m);
    if (progress.open()) {
      err = progressProcAborted;
    } else {
      err = format == Format::Movie ? writeMovie(source, destination, &progress)
                                    : writeImageSequence(source, destination, &progress);
    }
    progress.close();
  }
  if (source.desc) DisposeHandle(reinterpret_cast<Handle>(source.desc));
  return err;
}
