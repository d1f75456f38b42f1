#include "pixel/RowBands.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {
std::atomic<UInt32> gThreadLimit{0};
// Set while a thread runs bands of a pass: a pass started from inside a band
// runs on that thread alone.
thread_local bool tInPass = false;
// Below about this much work a band is not worth a thread.
constexpr UInt64 kWorkPerThread = UInt64(1) << 18;

// One pass handed to the pool: the caller's band function and the bands still
// to be claimed. It lives on the caller's stack for the length of the pass.
struct Pass {
  const std::function<void(UInt32, UInt32)>* band = nullptr;
  UInt32 rows = 0;
  UInt32 bands = 0;
  std::atomic<UInt32> next{0};
  std::atomic<UInt32> finished{0};
  UInt32 helpers = 0;  // workers inside the pass, guarded by the pool's mutex
};

void runClaimedBands(Pass& pass) {
  tInPass = true;
  struct Leave {
    ~Leave() { tInPass = false; }
  } leave;
  for (;;) {
    const UInt32 b = pass.next.fetch_add(1, std::memory_order_relaxed);
    if (b >= pass.bands) return;
    const UInt32 begin = UInt32(UInt64(pass.rows) * b / pass.bands);
    const UInt32 end = UInt32(UInt64(pass.rows) * (b + 1) / pass.bands);
    (*pass.band)(begin, end);
    pass.finished.fetch_add(1, std::memory_order_acq_rel);
  }
}

// Worker threads started once, on the first pass large enough to want them,
// and kept for the life of the process. A pass wakes them, every thread
// (the caller included) claims bands until none is left, and the caller
// returns once every band has finished and no worker still looks at the pass.
class WorkerPool {
 public:
  static WorkerPool& shared() {
    // Never destroyed: workers may still sleep in it when the process exits.
    static WorkerPool* pool = new WorkerPool;
    return *pool;
  }

  UInt32 workers() const { return UInt32(mThreads.size()); }

  // False when another pass holds the pool (a band of it, or another thread):
  // the caller then runs its bands itself.
  bool run(Pass& pass) {
    std::unique_lock<std::mutex> busy(mPassLock, std::try_to_lock);
    if (!busy.owns_lock()) return false;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mPass = &pass;
      ++mGeneration;
    }
    mWake.notify_all();
    runClaimedBands(pass);
    std::unique_lock<std::mutex> lock(mMutex);
    mDone.wait(lock, [&] {
      return pass.finished.load(std::memory_order_acquire) == pass.bands;
    });
    mPass = nullptr;  // late workers find nothing to join
    mDone.wait(lock, [&] { return pass.helpers == 0; });
    return true;
  }

 private:
  WorkerPool() {
    const UInt32 cores = std::max(1u, std::thread::hardware_concurrency());
    mThreads.reserve(cores - 1);
    for (UInt32 i = 0; i + 1 < cores; ++i) {
      try {
        mThreads.emplace_back([this] { work(); });
      } catch (const std::system_error&) {
        break;  // no more threads to be had: the pool runs with fewer
      }
    }
    for (std::thread& t : mThreads) t.detach();
  }

  void work() {
    UInt64 seen = 0;
    std::unique_lock<std::mutex> lock(mMutex);
    for (;;) {
      mWake.wait(lock, [&] { return mGeneration != seen; });
      seen = mGeneration;
      Pass* pass = mPass;
      if (pass == nullptr) continue;
      ++pass->helpers;
      lock.unlock();
      runClaimedBands(*pass);
      lock.lock();
      --pass->helpers;
      if (pass->helpers == 0 || pass->finished.load(std::memory_order_acquire) == pass->bands)
        mDone.notify_all();
    }
  }

  std::mutex mPassLock;  // one pass at a time
  std::mutex mMutex;
  std::condition_variable mWake;
  std::condition_variable mDone;
  Pass* mPass = nullptr;
  UInt64 mGeneration = 0;
  std::vector<std::thread> mThreads;
};
}  // namespace

void mySetRowBandThreadLimit(UInt32 limit) { gThreadLimit.store(limit); }

void myRunRowBands(UInt32 rows, UInt64 workPerRow,
                   const std::function<void(UInt32 begin, UInt32 end)>& band) {
  if (rows == 0) return;
  UInt32 cores = std::max(1u, std::thread::hardware_concurrency());
  const UInt32 limit = gThreadLimit.load();
  if (limit != 0) cores = std::min(cores, limit);
  const UInt64 total = UInt64(rows) * std::max<UInt64>(workPerRow, 1);
  const UInt64 byWork = std::max<UInt64>(1, total / kWorkPerThread);
  UInt32 bands = UInt32(std::min<UInt64>({UInt64(cores), UInt64(rows), byWork}));
  if (bands > 1) bands = std::min(bands, WorkerPool::shared().workers() + 1);
  if (bands <= 1 || tInPass) {
    band(0, rows);
    return;
  }
  Pass pass;
  pass.band = &band;
  pass.rows = rows;
  pass.bands = bands;
  if (!WorkerPool::shared().run(pass)) band(0, rows);
}
