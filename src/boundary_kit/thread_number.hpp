// Process-unique thread numbers, drawn once per thread and never reused.
#pragma once

#include <atomic>
#include <cstdint>

// Every method reads the number, so it sits in the static TLS block that glibc keeps spare for
// libraries loaded later: a direct thread-pointer read instead of a call to __tls_get_addr.
#if defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define TARVEX_INITIAL_EXEC [[gnu::tls_model("initial-exec")]]
#else
#define TARVEX_INITIAL_EXEC
#endif

namespace tarvex::kit {

/// The calling thread's number: 1, 2, 3, ... in order of first use; no other thread of the process
/// ever gets the same number, also after this thread has ended. O(1).
inline std::uint64_t current_thread_number() noexcept {
  static std::atomic<std::uint64_t> next_number{1};
  TARVEX_INITIAL_EXEC thread_local std::uint64_t number = 0;
  if (number == 0) number = next_number.fetch_add(1, std::memory_order_relaxed);
  return number;
}

}  // namespace tarvex::kit
