#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "camera_driver/ORXDCAM.h"
#include "camera_driver/ORX_DCAM.h"
#include "platform/simcamera/SimBus.h"
#include "tests/tools/dcamtool.h"

namespace {

const char* const kFeatureNames[kDCAMFeatureCount] = {
    "brightness", "auto exposure", "sharpness", "white balance", "hue", "saturation", "gain",
    "gamma", "shutter", "iris", "focus", "temperature", "trigger", "zoom", "pan", "tilt",
    "optical filter", "trigger delay", "white shading", "frame rate"};

constexpr UInt32 kWhiteBalance = 0x50C, kTemperature = 0x52C, kTrigger = 0x530;

int Usage(FILE* out) {
  std::fprintf(out,
               "usage: dcamtool [--rig all|default|host] list | features [camera id in hex]\n"
               "       dcamtool [--rig ...] stream <camera id in hex> <frames> <folder>\n"
               "                fixed <format> <mode> <fps> | seven <mode> <colour id> [<width> <height>]\n");
  return 2;
}

// "name=value" of one selector, or "name=-2201" style when it fails.
void PrintSelector(FILE* out, MyDCAMCameraStruct* cam, UInt32 feature, SInt32 selector, const char* name,
                   bool hex) {
  UInt32 v = 0;
  OSStatus err = ORXDCAMGetPropertyValue(cam, SInt32(feature), selector, &v);
  if (err != noErr)
    std::fprintf(out, " %s=err %d", name, int(err));
  else
    std::fprintf(out, hex ? " %s=0x%03X" : " %s=%u", name, unsigned(v));
}

void PrintFeature(FILE* out, MyDCAMCameraStruct* cam, int index, bool absoluteCapable) {
  const UInt32 feature = kDCAMFeatureInquiry[index];
  std::fprintf(out, "  0x%03X %-15s", unsigned(feature), kFeatureNames[index]);
  UInt32 min = 0, max = 0;
  UInt8 onePush = 0, readOut = 0, onOff = 0, autoMode = 0, manual = 0;
  OSStatus err =
      ORXDCAMGetPropertyCapability(cam, SInt32(feature), &min, &max, &onePush, &readOut, &onOff, &autoMode, &manual);
  if (err != noErr) {
    std::fprintf(out, " capability err %d\n", int(err));
    return;
  }
  std::fprintf(out, " min=%u max=%u one-push=%u read-out=%u on/off=%u auto=%u manual=%u |", unsigned(min),
               unsigned(max), onePush, readOut, onOff, autoMode, manual);
  switch (feature) {
    case kWhiteBalance:
      PrintSelector(out, cam, feature, 4, "U/B", false);
      PrintSelector(out, cam, feature, 5, "V/R", false);
      break;
    case kTemperature:
      PrintSelector(out, cam, feature, 6, "target", false);
      PrintSelector(out, cam, feature, 7, "current", false);
      break;
    case kTrigger:
      PrintSelector(out, cam, feature, 2, "on", false);
      PrintSelector(out, cam, feature, 8, "polarity", false);
      PrintSelector(out, cam, feature, 12, "source", false);
      PrintSelector(out, cam, feature, 9, "mode", false);
      PrintSelector(out, cam, feature, 10, "parameter", false);
      break;
    default:
      PrintSelector(out, cam, feature, 0, "value", false);
      break;
  }
  if (autoMode && feature != kTrigger) PrintSelector(out, cam, feature, 1, "auto", false);
  if (onOff && feature != kTrigger) PrintSelector(out, cam, feature, 2, "on", false);
  if (absoluteCapable) {
    float amin = 0, amax = 0, value = 0, mode = 0;
    UInt8 absReadOut = 0, absManual = 0;
    err = ORXDCAMGetABSPropertyCapability(cam, feature, &amin, &amax, &absReadOut, &absManual);
    if (err == noErr) err = ORXDCAMGetABSPropertyValue(cam, feature, 0, &value);
    if (err == noErr) err = ORXDCAMGetABSPropertyValue(cam, feature, 11, &mode);
    if (err != noErr)
      std::fprintf(out, " | absolute err %d", int(err));
    else
      std::fprintf(out, " | absolute [%g, %g] value=%g %s", double(amin), double(amax), double(value),
                   mode != 0.0f ? "on" : "off");
  }
  std::fprintf(out, "\n");
}

int Features(FILE* out, const MyDCAMCameraListEntry& entry) {
  std::fprintf(out, "camera 0x%08X vendor 0x%08X \"%s\"\n", unsigned(entry.mCameraID), unsigned(entry.mVendor),
               entry.mName);
  MyDCAMCameraStruct* cam = ORXDCAMOpenACamera(entry.mCameraID);
  if (!cam) {
    std::fprintf(out, "  cannot be opened\n");
    return 1;
  }
  MyDCAMCameraPropertiesStruct properties;
  OSStatus err = ORXDCAMGetCameraProperties3(cam, reinterpret_cast<UInt8*>(&properties));
  if (err == noErr)
    for (int i = 0; i < int(kDCAMFeatureCount); i++)
      if (properties.mFeaturePresent[i]) PrintFeature(out, cam, i, properties.mAbsoluteCapable[i] != 0);
  OSStatus closeErr = ORXDCAMCloseACamera(cam);
  return err == noErr && closeErr == noErr ? 0 : 1;
}

// Frames from the delivery thread to files: <folder>/frame-0001.raw, ...
struct FrameFiles {
  std::string folder;
  int wanted = 0;
  std::mutex mutex;
  std::condition_variable cond;
  int written = 0;
  int failed = 0;
  UInt32 width = 0, height = 0, bytes = 0;

  static void Callback(UInt32 width, UInt32 height, UInt32 byteCount, void* frame, void* refCon, double, double) {
    auto* f = static_cast<FrameFiles*>(refCon);
    std::lock_guard<std::mutex> lock(f->mutex);
    if (f->written + f->failed >= f->wanted) return;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%04d.raw", f->written + f->failed + 1);
    FILE* file = std::fopen((f->folder + name).c_str(), "wb");
    bool ok = file && std::fwrite(frame, 1, byteCount, file) == byteCount;
    if (file && std::fclose(file) != 0) ok = false;
    (ok ? f->written : f->failed)++;
    f->width = width;
    f->height = height;
    f->bytes = byteCount;
    f->cond.notify_all();
  }
};

// Streams `frames` frames of one camera in the given mode to files; the
// frames are the driver's delivery, in host order, as the application gets them.
int Stream(FILE* out, UInt32 id, int frames, const std::string& folder, int argc, const char* const* argv, int i) {
  if (frames <= 0 || i >= argc) return Usage(out);
  const std::string kind = argv[i++];
  auto number = [&](UInt32 fallback) { return i < argc ? UInt32(std::strtoul(argv[i++], nullptr, 0)) : fallback; };
  MyDCAMCameraStruct* cam = ORXDCAMOpenACamera(id);
  if (!cam) {
    std::fprintf(out, "no camera 0x%08X, or it cannot be opened\n", unsigned(id));
    return 1;
  }
  OSStatus err;
  if (kind == "fixed") {
    const UInt32 format = number(0), mode = number(0);
    const double fps = i < argc ? std::strtod(argv[i++], nullptr) : 15.0;
    err = ORX_DCAM_SetFMR(cam, format, mode, fps);
  } else if (kind == "seven") {
    const UInt32 mode = number(0), coding = number(0), width = number(0), height = number(0);
    err = ORX_DCAM_SetModeSeven(cam, mode, 0, 0, width, height, coding, 0);
  } else {
    ORXDCAMCloseACamera(cam);
    return Usage(out);
  }
  UInt32 format = 0, mode = 0, left = 0, top = 0, width = 0, height = 0, code = 0, bits = 0;
  double fps = 0;
  if (err == noErr) err = ORX_DCAM_GetFMRWHOB(cam, &format, &mode, &fps, &left, &top, &width, &height, &code, &bits);
  if (err != noErr) {
    std::fprintf(out, "setting the mode answered %d\n", int(err));
    ORXDCAMCloseACamera(cam);
    return 1;
  }
  std::fprintf(out, "format %u mode %u %.3f fps %ux%u at %u,%u '%c%c%c%c' %u bits\n", unsigned(format),
               unsigned(mode), fps, unsigned(width), unsigned(height), unsigned(left), unsigned(top),
               char(code >> 24), char(code >> 16), char(code >> 8), char(code), unsigned(bits));
  FrameFiles files;
  files.folder = folder;
  files.wanted = frames;
  err = ORX_DCAM_StartStopISOCHTransfer(cam, 1);
  if (err == noErr) err = ORX_DCAM_AssignCallback(cam, FrameFiles::Callback, &files);
  if (err == noErr) err = ORX_DCAM_StartStopVideo(cam, 1);
  bool complete = false;
  if (err == noErr) {
    // A hang guard: a camera that sends nothing for 10 s ends the run.
    std::unique_lock<std::mutex> lock(files.mutex);
    complete = files.cond.wait_for(lock, std::chrono::seconds(10) + std::chrono::seconds(frames),
                                   [&] { return files.written + files.failed >= frames; });
  } else {
    std::fprintf(out, "starting answered %d\n", int(err));
  }
  ORX_DCAM_StartStopVideo(cam, 0);
  ORX_DCAM_AssignCallback(cam, nullptr, nullptr);
  ORX_DCAM_StartStopISOCHTransfer(cam, 0);
  ORXDCAMCloseACamera(cam);
  std::lock_guard<std::mutex> lock(files.mutex);
  std::fprintf(out, "%d frames of %ux%u, %u bytes, written to %s/frame-NNNN.raw%s\n", files.written,
               unsigned(files.width), unsigned(files.height), unsigned(files.bytes), folder.c_str(),
               files.failed ? " (some could not be written)" : "");
  if (err == noErr && !complete) std::fprintf(out, "the camera stopped sending\n");
  return err == noErr && complete && files.failed == 0 ? 0 : 1;
}

}  // namespace

int DCAMToolRun(int argc, const char* const* argv, FILE* out) {
  int i = 1;
  std::string rig = "all";
  if (i + 1 < argc && std::strcmp(argv[i], "--rig") == 0) {
    rig = argv[i + 1];
    i += 2;
  }
  if (i >= argc || (rig != "all" && rig != "default" && rig != "host")) return Usage(out);
  const std::string command = argv[i++];
  if (rig == "all")
    SimInstallRig({SimDefaultColourPersonality(), SimMonoFireWirePersonality(), SimColourFireWirePersonality(),
                   SimUSBPersonality()});
  else if (rig == "default")
    SimRemoveRig();
  // "host": no rig of our own, so the layer serves what the application finds.

  MyDCAMCameraListStruct list;
  std::memset(&list, 0, sizeof list);
  OSStatus err = ORXDCAMGetListOfCameras(&list);
  if (err != noErr) std::fprintf(out, "listing answered %d\n", int(err));
  const UInt32 count = list.mCount < kDCAMMaxCameras ? list.mCount : kDCAMMaxCameras;

  int status = 0;
  if (command == "list") {
    for (UInt32 c = 0; c < count; c++)
      std::fprintf(out, "0x%08X vendor 0x%08X in-use %u \"%s\"\n", unsigned(list.mEntries[c].mCameraID),
                   unsigned(list.mEntries[c].mVendor), list.mEntries[c].mInUse, list.mEntries[c].mName);
  } else if (command == "features") {
    bool one = i < argc;
    UInt32 id = one ? UInt32(std::strtoul(argv[i], nullptr, 16)) : 0;
    bool found = false;
    for (UInt32 c = 0; c < count; c++) {
      if (one && list.mEntries[c].mCameraID != id) continue;
      found = true;
      status |= Features(out, list.mEntries[c]);
    }
    if (one && !found) {
      std::fprintf(out, "no camera 0x%08X\n", unsigned(id));
      status = 1;
    }
  } else if (command == "stream" && i + 2 < argc) {
    const UInt32 id = UInt32(std::strtoul(argv[i], nullptr, 16));
    status = Stream(out, id, std::atoi(argv[i + 1]), argv[i + 2], argc, argv, i + 3);
  } else {
    status = Usage(out);
  }
  SimRemoveRig();
  return err == noErr ? status : 1;
}
