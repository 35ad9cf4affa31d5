// Shared and exclusive borrows of an instance's graph: a lock-free flag that never waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

namespace tarvex::py {

/// 0: free; 1 .. max-1: that many shared borrows; max: one exclusive borrow.
using BorrowFlag = std::atomic<std::uintptr_t>;
inline constexpr std::uintptr_t kExclusive = std::numeric_limits<std::uintptr_t>::max();

/// Takes a shared borrow; false if an exclusive one is held. One CAS loop.
inline bool try_borrow_shared(BorrowFlag& flag) noexcept {
  std::uintptr_t seen = flag.load(std::memory_order_relaxed);
  do {
    if (seen >= kExclusive - 1) return false;
  } while (!flag.compare_exchange_weak(seen, seen + 1, std::memory_order_acq_rel,
                                       std::memory_order_relaxed));
  return true;
}

/// Takes the exclusive borrow; false if any borrow is held. One CAS.
inline bool try_borrow_exclusive(BorrowFlag& flag) noexcept {
  std::uintptr_t expected = 0;
  return flag.compare_exchange_strong(expected, kExclusive, std::memory_order_acq_rel,
                                      std::memory_order_relaxed);
}

/// Holds one borrow for a scope and gives it back on every exit, faults included.
class BorrowGuard {
 public:
  BorrowGuard(BorrowFlag& flag, bool exclusive) noexcept : flag_(flag), exclusive_(exclusive) {}
  ~BorrowGuard() {
    if (exclusive_) {
      flag_.store(0, std::memory_order_release);
    } else {
      flag_.fetch_sub(1, std::memory_order_release);
    }
  }
  BorrowGuard(const BorrowGuard&) = delete;
  BorrowGuard& operator=(const BorrowGuard&) = delete;

 private:
  BorrowFlag& flag_;
  bool exclusive_;
};

}  // namespace tarvex::py
