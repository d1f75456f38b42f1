// The camera record's shared fields are plain members that the delivery
// thread and the main thread both touch; they are read and written through
// atomic_ref, sequentially consistent, with these helpers.
#pragma once
#include <atomic>

#include "platform/coreservices/MacTypes.h"

namespace record_atomics {

template <typename T>
T ld(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_seq_cst);
}
template <typename T>
void st(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_seq_cst);
}
// Lowers a counter by one only while it is above 0 (both sides may lower).
inline void lowerIfUp(SInt32& c) {
  std::atomic_ref<SInt32> a(c);
  SInt32 v = a.load();
  while (v > 0 && !a.compare_exchange_weak(v, v - 1)) {
  }
}

}  // namespace record_atomics
