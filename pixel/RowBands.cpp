#include "pixel/RowBands.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace {
std::atomic<UInt32> gThreadLimit{0};
// Below about this much work a band is not worth a thread.
constexpr UInt64 kWorkPerThread = UInt64(1) << 18;
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
  const UInt32 bands = UInt32(std::min<UInt64>({UInt64(cores), UInt64(rows), byWork}));
  if (bands <= 1) {
    band(0, rows);
    return;
  }
  std::vector<std::thread> threads;
  threads.reserve(bands - 1);
  UInt32 begin = 0;
  for (UInt32 b = 0; b + 1 < bands; ++b) {
    const UInt32 end = UInt32(UInt64(rows) * (b + 1) / bands);
    try {
      threads.emplace_back(std::cref(band), begin, end);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the rest runs here
    }
    begin = end;
  }
  band(begin, rows);
  for (std::thread& t : threads) t.join();
}
