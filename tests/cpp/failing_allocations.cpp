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

// Every replaceable operator new and delete of the program, so that each allocation the standard
// library makes (stable_sort's nothrow buffer too) asks the hook and is released by the matching
// function. Memory comes from malloc, so that ASan pairs each allocation with its release.

namespace {

void* allocate(std::size_t size) {
  if (tarvex::allocation_should_fail()) throw std::bad_alloc();
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}

void* allocate(std::size_t size, std::align_val_t align) {
  if (tarvex::allocation_should_fail()) throw std::bad_alloc();
  const std::size_t a = static_cast<std::size_t>(align);
  const std::size_t rounded = (size + a - 1) / a * a;
  if (void* p = std::aligned_alloc(a, rounded != 0 ? rounded : a)) return p;
  throw std::bad_alloc();
}

template <class... Align>
void* allocate_or_null(std::size_t size, Align... align) noexcept {
  try {
    return allocate(size, align...);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void* operator new(std::size_t size, std::align_val_t align) { return allocate(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return allocate(size, align); }
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return allocate_or_null(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return allocate_or_null(size, align);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
