// Failing allocations on demand: the hook's definition and a replacement operator new that asks it.
#include "failing_allocations.hpp"

#include <cstdlib>
#include <new>

#include "graph/allocation_hook.hpp"

namespace {

bool armed = false;
bool reached = false;
std::size_t countdown = 0;

}  // namespace

namespace tarvex {

bool allocation_should_fail() noexcept {
  if (!armed) return false;
  if (countdown != 0) {
    --countdown;
    return false;
  }
  armed = false;
  reached = true;
  return true;
}

namespace test {

void FailingAllocations::arm(std::size_t k) noexcept {
  countdown = k;
  reached = false;
  armed = true;
}

bool FailingAllocations::disarm() noexcept {
  armed = false;
  return reached;
}

}  // namespace test
}  // namespace tarvex

// Every operator new of the program asks the hook first. The array and nothrow forms of the
// standard library call these. Memory comes from malloc, as the standard library's own does, so
// that ASan pairs each allocation with its release.

void* operator new(std::size_t size) {
  if (tarvex::allocation_should_fail()) throw std::bad_alloc();
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, std::align_val_t align) {
  if (tarvex::allocation_should_fail()) throw std::bad_alloc();
  const std::size_t a = static_cast<std::size_t>(align);
  const std::size_t rounded = (size + a - 1) / a * a;
  if (void* p = std::aligned_alloc(a, rounded != 0 ? rounded : a)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
