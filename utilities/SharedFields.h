// Fields of the camera's record that the main thread and the delivery, timer
// or pulse threads share are plain members; these read and write them
// atomically, and BusyScope raises a counter the main thread waits on before
// it frees what a frame's work uses.
#pragma once
#include <atomic>

#include "platform/coreservices/MacTypes.h"

namespace skyloom_shared {

template <typename T>
T loadRelaxed(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}
template <typename T>
T loadAcquire(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_acquire);
}
template <typename T>
void storeRelaxed(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}
template <typename T>
void storeRelease(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

// Raises a busy counter for the life of the scope.
class BusyScope {
 public:
  explicit BusyScope(SInt32& counter) : counter_(counter) {
    std::atomic_ref<SInt32>(counter_).fetch_add(1, std::memory_order_seq_cst);
  }
  ~BusyScope() { std::atomic_ref<SInt32>(counter_).fetch_sub(1, std::memory_order_seq_cst); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  SInt32& counter_;
};

}  // namespace skyloom_shared
