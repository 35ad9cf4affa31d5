// Every message the module shows a user, and the small helpers that raise them.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <span>
#include <string>

#include "python/py_ref.hpp"

namespace tarvex::py {

namespace text {
inline constexpr const char kModuleDoc[] = "The Tarvex high-performance quantum compiler module.";
inline constexpr const char kClassDoc[] = "QuantumDAG()\n--\n\nPython wrapper for the core QuantumDAG.";
inline constexpr const char kErrorTypeName[] = "tarvex.TarvexError";
inline constexpr const char kPanicTypeName[] = "tarvex_runtime.PanicException";
inline constexpr const char kPanicDoc[] =
    "\nThe exception raised when native code called from Python fails internally (panics).\n\n"
    "Like SystemExit, this exception is derived from BaseException so that it will typically\n"
    "propagate all the way through the stack and cause the Python interpreter to exit.\n";
inline constexpr const char kUncaughtPanic[] = "uncaught panic at ffi boundary";
inline constexpr const char kNoTextFault[] = "internal fault without a message";
inline constexpr const char kUnwrappedPanic[] = "Unwrapped panic from Python code";
inline constexpr const char kResumeNotice[] =
    "tarvex: resuming an internal fault after a PanicException was fetched from Python code";
inline constexpr const char kStackTraceBelow[] = "Python stack trace below:";
inline constexpr const char kPythonApiFailed[] = "Python API call failed";
inline constexpr const char kClassInitFailed[] = "An error occurred while initializing class QuantumDAG";
inline constexpr const char kAppendAllFailed[] = "could not append __name__ to __all__";
inline constexpr const char kNewExceptionTypeFailed[] = "Failed to initialize new exception type.";
inline constexpr const char kNoExceptionSet[] = "attempted to fetch exception but none was set";
inline constexpr const char kSubinterpreters[] =
    "_tarvex does not support sub-interpreters; import it in the main interpreter only";
inline constexpr const char kAlreadyBorrowed[] = "Already borrowed";
inline constexpr const char kAlreadyMutablyBorrowed[] = "Already mutably borrowed";
inline constexpr const char kTypeName[] = "_tarvex::PyQuantumDAG";
inline constexpr const char kUnsendableSent[] = " is unsendable, but sent to another thread";
inline constexpr const char kUnsendableDropped[] = " is unsendable, but is being dropped on another thread";
inline constexpr const char kStrToVec[] = "Can't extract `str` to `Vec`";
}  // namespace text

/// A str equal to `str` with every lone surrogate replaced (each maximal invalid UTF-8 sequence of
/// its "surrogatepass" encoding becomes one U+FFFD). Null with an exception set on failure.
PyRef lossy_text(PyObject* str);

/// "{} takes {} positional arguments but {} {} given"
void raise_too_many_positional(const char* full_name, std::size_t n_params, Py_ssize_t n_given);
/// "{} got multiple values for argument '{}'"
void raise_multiple_values(const char* full_name, const char* parameter);
/// "{} got an unexpected keyword argument '{}'", with str() of the keyword.
void raise_unexpected_keyword(const char* full_name, PyObject* keyword);
/// "{} missing {} required positional argument(s): 'a', 'b', and 'c'"
void raise_missing(const char* full_name, std::span<const char* const> missing);
/// CastError: "'{}' object cannot be cast as '{}'" with the __qualname__ of `from`.
void raise_cast_error(PyTypeObject* from, const char* to);
/// "Can't extract `str` to `Vec`"
void raise_str_to_vec();
/// The thread-check fault, framed as a failed equality assertion of the two thread numbers.
[[noreturn]] void fault_unsendable(std::uint64_t caller, std::uint64_t owner,
                                   std::source_location where = std::source_location::current());
/// Reports the unraisable RuntimeError for an instance dropped on a thread other than its owner.
void report_dropped_elsewhere();
/// TarvexError for a DD pass on a graph whose schedule does not cover every gate.
void raise_dd_needs_schedule(PyObject* error_type, std::size_t n_scheduled, std::size_t n_nodes);

}  // namespace tarvex::py
