#include "platform/simcamera/SimStream.h"

#include <chrono>
#include <cstring>

#include "platform/simcamera/SimCamera.h"
#include "platform/simcamera/SimFeatures.h"
#include "platform/simcamera/SimScene.h"
#include "platform/iokit/IIDCTables.h"

namespace {

// The IIDC tables (fixed modes, rates, Format 7 codings) are shared with the
// other side of the bus.
using iidc::CodingToPixel;
using iidc::FixedMode;
using iidc::kFixedModes;
using iidc::kRates;
using iidc::k2vuy;
using iidc::kRaw;
using iidc::kV308;
using iidc::kY411;

void PutBE32(UInt8* p, UInt32 v) {
  p[0] = UInt8(v >> 24);
  p[1] = UInt8(v >> 16);
  p[2] = UInt8(v >> 8);
  p[3] = UInt8(v);
}

}  // namespace

SimStream::SimStream(SimCamera& camera) : camera_(camera) {
  camera_.AddWriteHook(0x614, 0x614, [this](SimCamera&, UInt32, UInt32) {
    isoRestart_ = true;
    return true;
  });
}

SimStream::~SimStream() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  cond_.notify_all();
  if (realTime_.joinable()) realTime_.join();
}

// ---------------------------------------------------------------- what is sent

SimStreamGeometry SimStream::Geometry() const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (override_) return *override_;
  }
  SimStreamGeometry g;
  const UInt32 format = camera_.Peek(0x608) >> 29, mode = camera_.Peek(0x604) >> 29;
  const UInt32 rate = camera_.Peek(0x600) >> 29;
  if (format <= 2) {
    const FixedMode& m = kFixedModes[format][mode];
    if (!m.width || rate > m.top) return g;
    g.width = m.width, g.height = m.height, g.code = m.code, g.bits = m.bits;
    g.bytesPerPacket = m.base >> (m.top - rate);
    g.fps = kRates[rate];
  } else if (format == 7) {
    const UInt32 block = kSimFormat7BlockBase + 0x100 * mode;
    const UInt32 size = camera_.Peek(block + 0x0C);
    if (!CodingToPixel(camera_.Peek(block + 0x10) >> 24, &g.code, &g.bits)) return g;
    g.width = size >> 16, g.height = size & 0xFFFF;
    g.bytesPerPacket = camera_.Peek(block + 0x44) >> 16;
    g.fps = g.FrameBytes() ? g.bytesPerPacket * 8000.0 / g.FrameBytes() : 0.0;
  }
  return g;
}

void SimStream::SetGeometryOverride(std::optional<SimStreamGeometry> geometry) {
  std::lock_guard<std::mutex> lock(mutex_);
  override_ = geometry;
}

// The mosaic of a Format 7 raw colour coding (Raw8, Raw16, Raw12), from the
// mode's colour filter register, or of a fixed grey mode from the tile
// register: 1 RGGB, 2 GBRG, 3 GRBG, 4 BGGR; 0 for a grey picture.
int SimStream::BayerCodeNow() const {
  if (camera_.Peek(0x608) >> 29 != 7) {
    // Fixed modes: a mosaic in the order of the vendor tile register, on
    // cameras that send one there.
    if (!camera_.Personality().fixedModeMosaic) return 0;
    switch (camera_.Peek(0x1040)) {
      case FOUR_CHAR_CODE("RGGB"): return 1;
      case FOUR_CHAR_CODE("GBRG"): return 2;
      case FOUR_CHAR_CODE("GRBG"): return 3;
      case FOUR_CHAR_CODE("BGGR"): return 4;
      default: return 0;
    }
  }
  const UInt32 block = kSimFormat7BlockBase + 0x100 * (camera_.Peek(0x604) >> 29);
  const UInt32 coding = camera_.Peek(block + 0x10) >> 24;
  if (coding != 9 && coding != 10 && coding != 12) return 0;
  return int((camera_.Peek(block + 0x58) >> 24) & 3) + 1;
}

const std::vector<UInt8>& SimStream::BaseFrame(const SimStreamGeometry& g, std::optional<double> exposureFor) const {
  // Shutter and gain scale the sky; white balance tints colour pictures.
  const double exposure = exposureFor ? *exposureFor : SimExposure(camera_);
  double whiteBalance[3];
  SimWhiteBalance(camera_, whiteBalance);
  const int bayer = BayerCodeNow();
  const auto look = std::make_tuple(exposure, whiteBalance[0], whiteBalance[2], bayer);
  if (look != baseLook_) {
    baseFrames_.clear();
    baseLook_ = look;
  }
  auto key = std::make_tuple(g.width, g.height, g.bits, g.code);
  auto it = baseFrames_.find(key);
  if (it != baseFrames_.end()) return it->second;
  SimSceneSettings settings;
  settings.width = g.width;
  settings.height = g.height;
  SimScene scene(settings);
  const size_t pixels = size_t(g.width) * g.height;
  std::vector<UInt8> bytes(g.FrameBytes());
  std::vector<UInt16> samples;
  auto grey = [&](UInt32 bits) {
    if (bayer)
      scene.RenderBayer(0, exposure, whiteBalance, bayer, bits, samples.data());
    else
      scene.RenderMono(0, exposure, bits, samples.data());
  };
  if (g.code == kRaw && g.bits == 16) {
    samples.resize(pixels);
    grey(16);
    for (size_t i = 0; i < pixels; i++) bytes[2 * i] = UInt8(samples[i] >> 8), bytes[2 * i + 1] = UInt8(samples[i]);
  } else if (g.code == kRaw && g.bits == 12) {
    samples.resize(pixels);
    grey(12);
    for (size_t i = 0; i + 1 < pixels && 3 * (i / 2) + 2 < bytes.size(); i += 2) {
      const UInt16 a = samples[i], b = samples[i + 1];
      UInt8* p = &bytes[3 * (i / 2)];
      p[0] = UInt8(a >> 4);
      p[1] = UInt8((b & 0xF) << 4 | (a & 0xF));
      p[2] = UInt8(b >> 4);
    }
  } else if (g.code == kRaw && (g.bits == 24 || g.bits == 48)) {
    samples.resize(pixels * 3);
    scene.RenderRGB(0, exposure, whiteBalance, g.bits / 3, samples.data());
    for (size_t i = 0; i < samples.size(); i++) {
      if (g.bits == 24) {
        bytes[i] = UInt8(samples[i]);
      } else {
        bytes[2 * i] = UInt8(samples[i] >> 8);
        bytes[2 * i + 1] = UInt8(samples[i]);
      }
    }
  } else {
    // Mono 8-bit, and the YUV layouts with neutral chroma.
    samples.resize(pixels);
    if (g.code == kRaw)
      grey(8);
    else
      scene.RenderMono(0, exposure, 8, samples.data());
    size_t o = 0;
    auto put = [&](UInt8 v) {
      if (o < bytes.size()) bytes[o++] = v;
    };
    for (size_t i = 0; i < pixels; i++) {
      const UInt8 y = UInt8(samples[i]);
      if (g.code == k2vuy) {
        if (i % 2 == 0) put(128);
        put(y);
        if (i % 2 == 0) put(128);
      } else if (g.code == kY411) {
        if (i % 4 == 0) put(128);
        put(y);
        if (i % 4 == 1) put(128);
      } else if (g.code == kV308) {
        put(128), put(y), put(128);
      } else {
        put(y);
      }
    }
  }
  return baseFrames_.emplace(key, std::move(bytes)).first->second;
}

std::vector<UInt8> SimStream::FrameLocked(const SimStreamGeometry& g, UInt32 id, std::optional<double> exposure) const {
  std::vector<UInt8> frame = BaseFrame(g, exposure);
  if (frame.size() >= 8) {
    PutBE32(frame.data(), id);
    PutBE32(frame.data() + frame.size() - 4, id);
  }
  return frame;
}

std::vector<UInt8> SimStream::ReferenceFrame(UInt32 id) const {
  SimStreamGeometry g = Geometry();
  std::lock_guard<std::mutex> lock(mutex_);
  return FrameLocked(g, id);
}

bool SimStream::Triggered() const {
  if (!camera_.Personality().triggerWiring) return false;
  const UInt32 trigger = camera_.Peek(0x830);
  const UInt32 mode = (trigger >> 16) & 0xF;
  return (trigger & 0x02000000u) && (mode == 0 || mode == 1 || mode == 14);
}

void SimStream::QueueTriggeredFrame(std::optional<double> exposure) {
  std::lock_guard<std::mutex> lock(exposureMutex_);
  triggered_.push_back(exposure);
}

size_t SimStream::TriggeredFramesQueued() const {
  std::lock_guard<std::mutex> lock(exposureMutex_);
  return triggered_.size();
}

void SimStream::SetNextFrameExposure(double exposure) {
  std::lock_guard<std::mutex> lock(exposureMutex_);
  nextExposure_ = exposure;
}

bool SimStream::TakeFrameExposure(std::optional<double>* exposure) {
  const bool triggered = Triggered();
  std::lock_guard<std::mutex> lock(exposureMutex_);
  exposure->reset();
  if (triggered) {
    if (triggered_.empty()) return false;
    *exposure = triggered_.front();
    triggered_.pop_front();
    return true;
  }
  if (nextExposure_) {
    *exposure = nextExposure_;
    nextExposure_.reset();
  }
  return true;
}

UInt32 SimStream::NextFrameID() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nextID_;
}

bool SimStream::IsoEnabled() const { return (camera_.Peek(0x614) & 0x80000000u) != 0; }

void SimStream::SetClock(SimClock clock) {
  std::thread leaving;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    clock_ = clock;
    if (clock == SimClock::RealTime && !realTime_.joinable()) realTime_ = std::thread([this] { RealTimeLoop(); });
    if (clock == SimClock::Stepped) leaving.swap(realTime_);
  }
  cond_.notify_all();
  if (leaving.joinable()) leaving.join();
}

SimClock SimStream::Clock() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return clock_;
}

// ---------------------------------------------------------------- USB bulk

IOReturn SimStream::SubmitBulkRead(UInt8 endpoint, void* buffer, UInt32 size,
                                   std::function<void(IOReturn, UInt32)> done) {
  SimLogEntry e;
  e.kind = SimLogKind::USBBulkRead;
  e.endpoint = endpoint;
  e.value = size;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!camera_.Plugged()) {
      e.status = kIOReturnNoDevice;
    } else if (endpoint != 0x81) {
      e.status = kIOReturnBadArgument;
    } else if (halted_) {
      e.status = kIOUSBPipeStalled;
    } else if (bulkRead_) {
      e.status = kIOReturnBusy;
    } else {
      bulkRead_ = BulkRead{static_cast<UInt8*>(buffer), size, std::move(done)};
      bulkReadsSubmitted_++;
      if (clock_ == SimClock::RealTime && !realTime_.joinable())
        realTime_ = std::thread([this] { RealTimeLoop(); });
    }
    camera_.Record(e);  // logged before a stepping test sees the read
  }
  cond_.notify_all();
  return e.status;
}

IOReturn SimStream::AbortBulk(UInt8 endpoint) {
  std::optional<BulkRead> read;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (endpoint != 0 && endpoint != 0x81) return kIOReturnBadArgument;
    read.swap(bulkRead_);
  }
  SimLogEntry e;
  e.kind = SimLogKind::USBAbort;
  e.endpoint = endpoint;
  camera_.Record(e);
  if (read) read->done(kIOReturnAborted, 0);
  cond_.notify_all();
  return kIOReturnSuccess;
}

IOReturn SimStream::BulkPipeStatus(UInt8 endpoint) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (endpoint != 0x81) return kIOReturnBadArgument;
  return halted_ ? kIOUSBPipeStalled : kIOReturnSuccess;
}

void SimStream::ClearHalt() {
  std::lock_guard<std::mutex> lock(mutex_);
  halted_ = false;
}

void SimStream::InjectBulkFault(SimBulkFault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  bulkFaults_.push_back(fault);
}

bool SimStream::BulkReadOutstanding() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bulkRead_.has_value();
}

bool SimStream::WaitForBulkRead(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return bulkRead_.has_value(); });
}

// Sends one frame into the outstanding read; false when none came in time
// while ISO_EN was on.
bool SimStream::SendOneBulkFrame(std::unique_lock<std::mutex>& lock, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // ISO_EN lives in the register file, which does not notify; look every ms.
  while (!quit_ && !(bulkRead_ && IsoEnabled())) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    cond_.wait_for(lock, std::chrono::milliseconds(1));
  }
  if (quit_) return false;
  SimStreamGeometry g = override_ ? *override_ : SimStreamGeometry{};
  if (!override_) {
    lock.unlock();
    g = Geometry();
    lock.lock();
    if (!bulkRead_) return false;  // aborted meanwhile
  }
  std::optional<double> exposure;
  if (!TakeFrameExposure(&exposure)) return false;  // triggered, and no trigger came
  BulkRead read = std::move(*bulkRead_);
  bulkRead_.reset();
  SimBulkFault fault = SimBulkFault::Slow;
  bool faulted = !bulkFaults_.empty();
  if (faulted) {
    fault = bulkFaults_.front();
    bulkFaults_.pop_front();
  }
  std::vector<UInt8> frame = FrameLocked(g, nextID_++, exposure);
  UInt32 bytes = std::min<UInt32>(UInt32(frame.size()), read.size);
  IOReturn status = frame.size() > read.size ? kIOReturnOverrun : kIOReturnSuccess;
  if (faulted) {
    switch (fault) {
      case SimBulkFault::Short: bytes = bytes ? bytes - 1 : 0; break;
      case SimBulkFault::Stall:
        status = kIOUSBPipeStalled, bytes = 0;
        halted_ = true;
        break;
      case SimBulkFault::StallAfter: halted_ = true; break;
      case SimBulkFault::Overrun: status = kIOReturnOverrun, bytes = read.size; break;
      case SimBulkFault::Slow: break;
    }
  }
  if (bytes && read.buffer) std::memcpy(read.buffer, frame.data(), std::min<size_t>(bytes, frame.size()));
  lock.unlock();
  if (faulted && fault == SimBulkFault::Slow) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  read.done(status, bytes);
  lock.lock();
  return true;
}

int SimStream::StepBulkFrames(int n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  int sent = 0;
  for (; sent < n; sent++) {
    const UInt64 before = bulkReadsSubmitted_;
    if (!SendOneBulkFrame(lock, timeoutMs)) break;
    // The driver has taken the frame once it queued its next read.
    cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                   [&] { return quit_ || bulkReadsSubmitted_ > before; });
  }
  return sent;
}

void SimStream::RealTimeLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_ && clock_ == SimClock::RealTime) {
    double fps = override_ ? override_->fps : 0.0;
    if (!override_) {
      lock.unlock();
      fps = Geometry().fps;
      lock.lock();
    }
    if (fps <= 0) fps = 30;
    cond_.wait_for(lock, std::chrono::microseconds(UInt64(1e6 / fps)),
                   [this] { return quit_ || clock_ != SimClock::RealTime; });
    if (quit_ || clock_ != SimClock::RealTime) break;
    if (bulkRead_ && IsoEnabled()) SendOneBulkFrame(lock, 0);
  }
}

// ---------------------------------------------------------------- isochronous talker

IOReturn SimStream::AllocateIsochChannel(UInt64 channelMask, UInt32* channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (isochAllocFault_ != kIOReturnSuccess) return isochAllocFault_;
  for (UInt32 c = 0; c < 64; c++) {
    if (channelMask & (0x8000000000000000ull >> c)) {
      *channel = c;
      return kIOReturnSuccess;
    }
  }
  return kIOReturnNoResources;
}

void SimStream::ReleaseIsochChannel(UInt32 channel) { (void)channel; }

void SimStream::FailIsochAllocation(IOReturn status) {
  std::lock_guard<std::mutex> lock(mutex_);
  isochAllocFault_ = status;
}

void SimStream::InjectIsochFault(SimIsochFault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  isochFaults_.push_back(fault);
}

UInt32 SimStream::CyclesPerFrame() const {
  SimStreamGeometry g = Geometry();
  const UInt32 packets = g.PacketsPerFrame();
  const UInt32 period = g.fps > 0 ? UInt32(8000.0 / g.fps) : packets;
  return std::max(packets, period);
}

UInt32 SimStream::IsochCycle(UInt32 channel, UInt8* slot, UInt32 capacity) {
  const UInt32 reg = camera_.Peek(0x60C);
  const UInt32 programmed = (reg & 0x8000) ? (reg >> 8) & 0x3F : reg >> 28;
  if (!IsoEnabled() || channel != programmed || !camera_.Plugged()) {
    std::lock_guard<std::mutex> lock(mutex_);
    isochFrame_.clear();  // the camera starts a new frame when it sends again
    return 0;
  }
  SimStreamGeometry g = Geometry();
  const UInt32 packets = g.PacketsPerFrame();
  if (!packets) return 0;
  const UInt32 period = std::max(packets, g.fps > 0 ? UInt32(8000.0 / g.fps) : packets);
  std::lock_guard<std::mutex> lock(mutex_);
  if (isoRestart_.exchange(false)) isochFrame_.clear();
  if (isochFrame_.empty()) {
    std::optional<double> exposure;
    if (!TakeFrameExposure(&exposure)) return 0;  // triggered, and no trigger came
    isochFrame_ = FrameLocked(g, nextID_++, exposure);
    isochFrame_.resize(size_t(packets) * g.bytesPerPacket, 0);  // the last packet is padded
    isochPacket_ = 0;
    isochCycle_ = 0;
    isochMissingSync_ = false;
    isochOversizedPacket_ = isochLostPacket_ = ~0u;
    if (!isochFaults_.empty()) {
      switch (isochFaults_.front()) {
        case SimIsochFault::Oversized: isochOversizedPacket_ = packets / 2; break;
        case SimIsochFault::Lost: isochLostPacket_ = packets / 2; break;
        case SimIsochFault::MissingSync: isochMissingSync_ = true; break;
      }
      isochFaults_.pop_front();
    }
  }
  UInt32 written = 0;
  if (isochCycle_ < packets) {
    const UInt32 p = isochPacket_++;
    if (p != isochLostPacket_) {
      UInt32 length = g.bytesPerPacket + (p == isochOversizedPacket_ ? 8 : 0);
      const UInt32 sync = (p == 0 && !isochMissingSync_) ? 1 : 0;
      PutBE32(slot, length << 16 | 1u << 14 | (channel & 0x3F) << 8 | 0xA << 4 | sync);
      const UInt32 room = capacity > 4 ? capacity - 4 : 0;
      const UInt32 copy = std::min(std::min(length, g.bytesPerPacket), room);
      std::memcpy(slot + 4, isochFrame_.data() + size_t(p) * g.bytesPerPacket, copy);
      if (length > copy && room > copy) std::memset(slot + 4 + copy, 0, std::min(length, room) - copy);
      written = 4 + std::min(length, room);
    }
  }
  if (++isochCycle_ >= period) isochFrame_.clear();
  return written;
}
