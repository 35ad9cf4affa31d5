// Failing allocations on demand: the test program's side of the core's allocation hook.
#pragma once

#include <cstddef>

namespace tarvex::test {

/// Makes exactly one allocation fail: the k-th (from 0) of those the core asks the hook about
/// after `arm`, which covers every operator new of the test program and every column growth. The
/// ones before and after it succeed. The tests run on one thread; so does this.
class FailingAllocations {
 public:
  /// Fails the `k`-th allocation from now on: 0 is the very next one.
  static void arm(std::size_t k) noexcept;
  /// Stops counting. True if the armed allocation was reached, and so was made to fail.
  static bool disarm() noexcept;
};

}  // namespace tarvex::test
