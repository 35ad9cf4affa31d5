// Allocation-failure injection: a hook in the core's test build, nothing at all in production.
#pragma once

namespace tarvex {

#if defined(TARVEX_ALLOCATION_HOOK)
/// Asked before every allocation the core makes: each column growth here, and each operator new
/// through the test program's replacement of it. True makes that allocation fail as if memory had
/// run out. Defined by the test program; only the copy of the core built for it sets
/// TARVEX_ALLOCATION_HOOK, so the module never calls it.
bool allocation_should_fail() noexcept;
#else
/// The production build has no hook: a constant the compiler folds away.
constexpr bool allocation_should_fail() noexcept { return false; }
#endif

}  // namespace tarvex
