// A test-only tool: lists the cameras and streams frames from one of them
// into image files (binary PGM, 16-bit samples big-endian as the format
// wants), on either bus. Tests run it against the simulated cameras; on a
// machine with real cameras it runs the same way.
#include "tests/camera_driver/stream_tool.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {

struct ToolState {
  std::mutex mutex;
  std::condition_variable cond;
  std::string dir;
  int wanted = 0;
  int written = 0;
  OSStatus error = noErr;
  UInt32 bits = 8;
};

void WriteFrame(UInt32 width, UInt32 height, UInt32 bytes, void* frame, void* refCon, double, double) {
  auto* s = static_cast<ToolState*>(refCon);
  int index;
  {
    std::lock_guard<std::mutex> lock(s->mutex);
    if (s->written >= s->wanted) return;
    index = s->written;
  }
  char name[64];
  std::snprintf(name, sizeof name, "/frame_%04d.pgm", index);
  std::FILE* f = std::fopen((s->dir + name).c_str(), "wb");
  bool ok = f != nullptr;
  if (f) {
    std::fprintf(f, "P5\n%u %u\n%u\n", width, height, s->bits == 16 ? 65535u : 255u);
    const auto* p = static_cast<const UInt8*>(frame);
    if (s->bits == 16) {
      // Samples are host order in memory; PGM stores them big-endian.
      for (UInt32 i = 0; i + 1 < bytes && ok; i += 2) {
        UInt16 v;
        std::memcpy(&v, p + i, 2);
        ok = std::fputc(v >> 8, f) != EOF && std::fputc(v & 0xFF, f) != EOF;
      }
    } else {
      ok = std::fwrite(p, 1, bytes, f) == bytes;
    }
    ok = std::fclose(f) == 0 && ok;
  }
  std::lock_guard<std::mutex> lock(s->mutex);
  if (!ok && s->error == noErr) s->error = ioErr;
  s->written++;
  s->cond.notify_all();
}

}  // namespace

OSStatus StreamFramesToFiles(UInt32 index, int frames, const std::string& dir, UInt32 mode, double fps,
                             std::FILE* out) {
  MyDCAMCameraListStruct list = {};
  OSStatus err = ORX_DCAM_GetListOfCameras(&list);
  if (err != noErr) return err;
  for (UInt32 i = 0; i < list.mCount && out; i++)
    std::fprintf(out, "%u: %s id 0x%08X vendor 0x%08X%s\n", i, list.mEntries[i].mName, list.mEntries[i].mCameraID,
                 list.mEntries[i].mVendor, list.mEntries[i].mInUse ? " (in use)" : "");
  if (index >= list.mCount) return paramErr;
  MyDCAMCameraStruct* camera = ORX_DCAM_OpenACamera(list.mEntries[index].mCameraID);
  if (!camera) return kIOReturnNoDevice;
  ToolState state;
  state.dir = dir;
  state.wanted = frames;
  if ((err = ORX_DCAM_SetFMR(camera, 0, mode, fps)) == noErr) {
    state.bits = camera->mBitsPerPixel;
    err = ORX_DCAM_StartStopISOCHTransfer(camera, 1);
  }
  if (err == noErr) err = ORX_DCAM_AssignCallback(camera, WriteFrame, &state);
  if (err == noErr) err = ORX_DCAM_StartStopVideo(camera, 1);
  if (err == noErr) {
    std::unique_lock<std::mutex> lock(state.mutex);
    // A generous guard: a frame at the slowest rate comes within a second.
    if (!state.cond.wait_for(lock, std::chrono::seconds(10 + frames), [&] { return state.written >= frames; }))
      err = kIOReturnTimeout;
    if (err == noErr) err = state.error;
  }
  ORX_DCAM_AssignCallback(camera, nullptr, nullptr);
  ORX_DCAM_StartStopVideo(camera, 0);
  ORX_DCAM_StartStopISOCHTransfer(camera, 0);
  OSStatus closed = ORX_DCAM_CloseACamera(camera);
  return err != noErr ? err : closed;
}
