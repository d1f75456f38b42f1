// Movie recorder: microseconds per add-frame call (the copy or conversion of
// one frame into its slot, the writer idle), the writer's sustained MB/s, and
// recordings paced in real time that must drop no frame: 640x480 Mono8 at
// 240 frames/s for 10 s (also beside twice as many busy processes as cores)
// and 1280x960 Mono16 at 30 frames/s.
//
// Movies go to $SKYLOOM_BENCH_DIR, else /var/tmp (a local disk on most
// systems; /tmp may be memory).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "camera_driver/DCAMCameraStruct.h"
#include "media/MovieRecorder.h"
#include "platform/coreservices/Files.h"
#include "platform/mach/Mach.h"

namespace {

MyDCAMCameraStruct* fakeCamera() {
  static MyDCAMCameraStruct* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
  return camera;
}

struct Folder {
  std::filesystem::path dir;
  SInt32 dirID = 0;
  FSVolumeRefNum volume = 0;
  int serial = 0;
  Folder() {
    const char* base = std::getenv("SKYLOOM_BENCH_DIR");
    std::string tmpl = std::string(base && *base ? base : "/var/tmp") + "/skyloom-bench-rec-XXXXXX";
    std::vector<char> t(tmpl.begin(), tmpl.end());
    t.push_back(0);
    if (!mkdtemp(t.data())) throw std::runtime_error("mkdtemp");
    dir = t.data();
    std::filesystem::create_directory(dir / "config");
    SkyloomSetConfigurationDirectory((dir / "config").c_str());
    FSRef ref;
    FSCatalogInfo info;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.c_str()), &ref, nullptr) != noErr ||
        FSGetCatalogInfo(&ref, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr) != noErr)
      throw std::runtime_error("folder");
    dirID = SInt32(info.nodeID);
    volume = info.volume;
  }
  ~Folder() {
    SkyloomSetConfigurationDirectory(nullptr);
    std::filesystem::remove_all(dir);
  }
  FSSpec next(std::string* path) {
    std::string name = "movie" + std::to_string(serial++) + ".mov";
    *path = (dir / name).string();
    Str255 p;
    p[0] = UInt8(name.size());
    std::memcpy(p + 1, name.data(), name.size());
    FSSpec s;
    FSMakeFSSpec(volume, dirID, p, &s);
    return s;
  }
};

Folder& folder() {
  static Folder f;
  return f;
}

struct Recording {
  MyMovieRecorderStruct* rec = nullptr;
  std::string path;
  Recording(UInt32 code, UInt32 bits, UInt32 w, UInt32 h) {
    OSErr err = 0;
    rec = ORXDCAMCreateMovie(fakeCamera(), 0, 600, w, h, code, bits, 0, folder().next(&path), &err);
    if (!rec) throw std::runtime_error("create failed " + std::to_string(err));
  }
  ~Recording() {
    if (rec) ORXDCAMCloseMovie(rec);
    std::filesystem::remove(path);
  }
  MyMovieRecorderStats stats() {
    MyMovieRecorderStats s;
    myMovieRecorderGetStats(rec, &s);
    return s;
  }
  void drain() {
    while (true) {
      auto s = stats();
      if (s.framesWritten >= s.framesQueued || s.status != noErr) return;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
};

std::vector<UInt8> frameOf(UInt32 w, UInt32 h, UInt32 bits) {
  std::vector<UInt8> f(size_t(w) * h * bits / 8);
  UInt32 s = 12345;
  for (auto& b : f) {
    s = s * 1664525u + 1013904223u;
    b = UInt8(s >> 24);
  }
  return f;
}

// One add-frame call with the writer idle: the slot copy or conversion.
void BM_AddFrame(benchmark::State& state, UInt32 code, UInt32 bits, UInt32 w, UInt32 h) {
  Recording r(code, bits, w, h);
  auto frame = frameOf(w, h, bits);
  double t = 1.0;
  ORXDCAMAddMovieFrame(r.rec, frame.data(), t);  // the time origin
  for (auto _ : state) {
    t += 5.0;
    OSErr err = ORXDCAMAddMovieFrame(r.rec, frame.data(), t);
    state.PauseTiming();
    if (err != noErr) state.SkipWithError("add-frame failed");
    r.drain();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
  state.counters["dropped"] = double(r.stats().framesDropped);
}

// Flushes a file's data to the disk.
void syncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fdatasync(fd);
    ::close(fd);
  }
}

// A plain sequential write of `bytes` in frame-sized writes, flushed to the
// disk: what the disk gives a program that only writes. With `held` > 0 a
// freshly filled block of that many bytes is held while it writes (not timed),
// as a recorder holds its ring.
double plainWriteSeconds(size_t bytes, const std::vector<UInt8>& frame, size_t held = 0) {
  std::string path;
  folder().next(&path);
  void* block = held ? mmap(nullptr, held, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) : MAP_FAILED;
  if (block != MAP_FAILED) std::memset(block, 0xFF, held);
  const auto a = std::chrono::steady_clock::now();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return 0;
  for (size_t done = 0; done < bytes; done += frame.size()) {
    if (::write(fd, frame.data(), frame.size()) != ssize_t(frame.size())) break;
  }
  ::fdatasync(fd);
  ::close(fd);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
  std::filesystem::remove(path);
  if (block != MAP_FAILED) munmap(block, held);
  return s;
}

// Frames handed over as fast as the ring takes them: the writer's rate from
// the first frame to the data on the disk, beside a plain sequential write of
// the same size in the same run ("vs_plain_write": the plain write's time over
// the writer's). Creating the recorder (its ring, up to 256 MB, filled and the
// reserve file written) is timed apart: "create_ms".
//
// On a virtual machine the first touch of memory the host has taken back
// costs about 4 ms a megabyte, in a program's pages and in the page cache
// alike; a plain write that follows one which freed its pages reuses them. So
// the plain write is also timed while it holds a freshly filled block of the
// ring's size ("vs_plain_write_ring_held"), as the writer writes while the
// recorder holds its ring: that ratio is the writer's own cost.
void BM_WriterSustained(benchmark::State& state, UInt32 code, UInt32 bits, UInt32 w, UInt32 h) {
  auto frame = frameOf(w, h, bits);
  const int frames = int(state.range(0));
  const size_t bytes = size_t(frames) * frame.size();
  double writer = 0, plain = 0, plainHeld = 0, create = 0;
  size_t ringBytes = 0;
  for (auto _ : state) {
    if (ringBytes) plainHeld += plainWriteSeconds(bytes, frame, ringBytes);
    double s = 0;
    {
    const auto made = std::chrono::steady_clock::now();
    Recording r(code, bits, w, h);
    const auto start = std::chrono::steady_clock::now();
    create += std::chrono::duration<double>(start - made).count();
    ringBytes = size_t(r.stats().slotCount) * (size_t(vm_page_size) + frame.size()) + 2 * size_t(vm_page_size);
    double t = 1.0;
    ORXDCAMAddMovieFrame(r.rec, frame.data(), t);
    for (int i = 0; i < frames; ++i) {
      for (;;) {  // wait for room: frames are never dropped here
        auto s = r.stats();
        if (s.framesQueued - s.framesWritten + 2 < s.slotCount) break;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
      t += 5.0;
      if (ORXDCAMAddMovieFrame(r.rec, frame.data(), t) != noErr) state.SkipWithError("add-frame failed");
    }
    r.drain();
    ORXDCAMCloseMovie(r.rec);
    r.rec = nullptr;
    syncFile(r.path);
    s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.SetIterationTime(s);
    writer += s;
    plain += plainWriteSeconds(bytes, frame);
  }
  // The first iteration has no held write before it: the ring's size is known
  // once a recorder exists.
  const double n = double(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
  state.counters["create_ms"] = n > 0 ? create / n * 1e3 : 0;
  state.counters["plain_write_MB/s"] = plain > 0 ? n * double(bytes) / plain / 1e6 : 0;
  state.counters["vs_plain_write"] = writer > 0 ? plain / writer : 0;
  if (n > 1 && plainHeld > 0) {
    state.counters["plain_write_ring_held_MB/s"] = (n - 1) * double(bytes) / plainHeld / 1e6;
    state.counters["vs_plain_write_ring_held"] = writer > 0 ? plainHeld / (n - 1) / (writer / n) : 0;
  }
}

// The delivery thread asks for the same time-constraint policy as the
// camera's delivery thread does.
void raiseDeliveryPriority() {
  SkyloomRequestTimeConstraintMs(5.0, 2.0, 5.0);
}

// Busy processes beside a recording: twice as many as cores, each spinning
// until stopped.
struct BusyLoad {
  std::vector<pid_t> children;
  explicit BusyLoad(unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        // A normal process at normal priority, whatever the benchmark's thread
        // asked for, that never outlives the benchmark.
        sched_param normal{};
        ::sched_setscheduler(0, SCHED_OTHER, &normal);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() == 1) ::_exit(0);
        volatile UInt64 x = 0;
        for (;;) x = x + 1;
      }
      if (pid > 0) children.push_back(pid);
    }
  }
  ~BusyLoad() {
    for (pid_t pid : children) ::kill(pid, SIGKILL);
    for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
  }
};

// A recording paced in real time on the delivery thread's clock; "dropped"
// must stay 0.
void BM_KeepUp(benchmark::State& state, UInt32 code, UInt32 bits, UInt32 w, UInt32 h, double fps) {
  auto frame = frameOf(w, h, bits);
  const int frames = int(state.range(0));
  double dropped = 0, written = 0;
  raiseDeliveryPriority();
  const unsigned busy = state.range(1) ? 2 * std::max(1u, std::thread::hardware_concurrency()) : 0;
  for (auto _ : state) {
    BusyLoad load(busy);
    Recording r(code, bits, w, h);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i <= frames; ++i) {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(i / fps));
      if (ORXDCAMAddMovieFrame(r.rec, frame.data(), 1.0 + 1000.0 * i / fps) != noErr)
        state.SkipWithError("add-frame failed");
    }
    r.drain();
    auto s = r.stats();
    dropped += double(s.framesDropped);
    written += double(s.framesWritten);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * frames * int64_t(frame.size()));
  state.counters["dropped"] = dropped;
  state.counters["written"] = written;
}

constexpr UInt32 kRaw = FOUR_CHAR_CODE("raw ");
constexpr UInt32 kGreyRG = FOUR_CHAR_CODE("mlRG");

}  // namespace

BENCHMARK_CAPTURE(BM_AddFrame, mono8_640x480, kRaw, 8, 640, 480)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AddFrame, mono16_1280x960, kRaw, 16, 1280, 960)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AddFrame, luma8_640x480, kGreyRG, 8, 640, 480)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AddFrame, luma16_1280x960, kGreyRG, 16, 1280, 960)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WriterSustained, mono16_1280x960, kRaw, 16, 1280, 960)
    ->Arg(120)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
// Ten seconds of frames; the second argument 1 runs twice as many busy
// processes as cores beside the recording.
BENCHMARK_CAPTURE(BM_KeepUp, mono8_640x480_240fps, kRaw, 8, 640, 480, 240.0)
    ->Args({2400, 0})->Args({2400, 1})->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_KeepUp, mono16_1280x960_30fps, kRaw, 16, 1280, 960, 30.0)
    ->Args({300, 0})->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
