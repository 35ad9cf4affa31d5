// Shared and exclusive borrows of an instance's graph: a flag that never waits.
//
// Only the instance's owner thread ever reads or writes the flag: every method checks the calling
// thread before it borrows, and any other thread faults there. Borrows therefore nest but never
// race, and a plain load and store take and give back a borrow; no read-modify-write instruction is
// needed. The flag stays atomic, with relaxed order (the same instructions as a plain access), so
// that a mistake in that check would show as a wrong borrow error, never as a data race.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

namespace tarvex::py {

/// 0: free; 1 .. max-1: that many shared borrows; max: one exclusive borrow.
using BorrowFlag = std::atomic<std::uintptr_t>;
inline constexpr std::uintptr_t kExclusive = std::numeric_limits<std::uintptr_t>::max();

/// Takes a shared borrow; false if an exclusive one is held (or the count is full).
inline bool try_borrow_shared(BorrowFlag& flag) noexcept {
  const std::uintptr_t seen = flag.load(std::memory_order_relaxed);
  if (seen >= kExclusive - 1) return false;
  flag.store(seen + 1, std::memory_order_relaxed);
  return true;
}

/// Takes the exclusive borrow; false if any borrow is held.
inline bool try_borrow_exclusive(BorrowFlag& flag) noexcept {
  if (flag.load(std::memory_order_relaxed) != 0) return false;
  flag.store(kExclusive, std::memory_order_relaxed);
  return true;
}

/// Holds one borrow for a scope and gives it back on every exit, faults included.
class BorrowGuard {
 public:
  BorrowGuard(BorrowFlag& flag, bool exclusive) noexcept : flag_(flag), exclusive_(exclusive) {}
  ~BorrowGuard() {
    flag_.store(exclusive_ ? 0 : flag_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
  }
  BorrowGuard(const BorrowGuard&) = delete;
  BorrowGuard& operator=(const BorrowGuard&) = delete;

 private:
  BorrowFlag& flag_;
  bool exclusive_;
};

}  // namespace tarvex::py
