// PodVector: a growable array of trivially copyable values for the graph's per-node columns.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "graph/allocation_hook.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tarvex {

/// Maps the pages of [p, p + bytes) in one system call, for memory that is about to be written
/// whole: one call is cheaper than a page fault per page on first write. Only a hint: it does
/// nothing for small blocks, on other systems, or on kernels without it, and its failure is ignored.
inline void prefault_for_writing(void* p, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  // Blocks this large come straight from the kernel, new, on every allocation. Smaller ones often
  // reuse pages the process holds already, where the call would only cost time.
  constexpr std::size_t kFreshBlockBytes = std::size_t{32} << 20;
  if (bytes < kFreshBlockBytes) return;
  static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(p) + page - 1) & ~(page - 1);
  const std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(page - 1);
  if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)p;
  (void)bytes;
#endif
}

/// A vector of trivially copyable T that separates "make room" from "append": the insertion path
/// reserves once for a whole gate and then appends without a capacity check per element. Growth
/// uses realloc, which moves large blocks by remapping pages rather than copying them.
template <class T>
class PodVector {
  static_assert(std::is_trivially_copyable_v<T>, "PodVector moves its elements with realloc");

 public:
  PodVector() noexcept = default;
  PodVector(const PodVector& other) { *this = other; }
  PodVector(PodVector&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  PodVector& operator=(const PodVector& other) {
    if (this != &other) {
      reserve(other.size_);  // first, so that a failure leaves this as it was
      if (other.size_ != 0) std::memcpy(data_, other.data_, other.size_ * sizeof(T));
      size_ = other.size_;
    }
    return *this;
  }
  PodVector& operator=(PodVector&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~PodVector() { std::free(data_); }

  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  const T& back() const noexcept { return data_[size_ - 1]; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }

  /// Ensures room for `extra` more elements, doubling so that appends stay amortised O(1).
  /// Throws std::bad_alloc and leaves the contents unchanged on failure.
  void make_room(std::size_t extra) {
    if (extra <= capacity_ - size_) return;
    std::size_t wanted = size_ + extra;
    if (wanted < extra) throw std::bad_alloc();
    reserve(std::max(wanted, capacity_ * 2));
  }

  /// Ensures capacity for `n` elements in all. Throws std::bad_alloc on failure.
  void reserve(std::size_t n) {
    if (n <= capacity_) return;
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    void* grown = allocation_should_fail() ? nullptr : std::realloc(data_, n * sizeof(T));
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(grown);
    capacity_ = n;
  }

  /// reserve(n), for a caller that is about to fill all `n`: the new room is mapped at once.
  void reserve_to_fill(std::size_t n) {
    reserve(n);
    if (n > size_) prefault_for_writing(data_ + size_, (n - size_) * sizeof(T));
  }

  /// Appends within room reserved beforehand (make_room or reserve).
  void push_unchecked(const T& v) noexcept {
    assert(size_ < capacity_ && "reserve before push_unchecked");
    data_[size_++] = v;
  }

  void push_back(const T& v) {
    make_room(1);
    data_[size_++] = v;
  }

  /// Sets the size to `n`; new elements are left uninitialised for the caller to fill.
  void resize_uninitialized(std::size_t n) {
    reserve_to_fill(n);
    size_ = n;
  }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tarvex
