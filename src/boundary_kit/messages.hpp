// Every text the kit itself shows a user, and the small helpers that raise or print them.
//
// A leaf of the kit: it knows the interpreter and the owning reference, nothing of how a call fails
// or traps. Each `raise_*` helper leaves an exception pending, as PyErr_Format does (its own
// failure's, should building the text fail); the caller then ends its call. Texts of one extension
// alone live in that extension's own messages file.
//
// Every helper is noinline: messages are built only on failure, out of the callers' fast paths.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <source_location>
#include <span>
#include <string>

#include "boundary_kit/py_ref.hpp"

namespace tarvex::kit {

namespace text {
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
inline constexpr const char kSequenceAbcLookupFailed[] = "failed to look up collections.abc.Sequence";
inline constexpr const char kSequenceAbcNotAClass[] = "collections.abc.Sequence is not a class";
inline constexpr const char kStrToVec[] = "Can't extract `str` to `Vec`";
inline constexpr const char kUnprintableTypeError[] = "<unprintable TypeError object>";
}  // namespace text

/// A str equal to `str` with every lone surrogate replaced (each maximal invalid UTF-8 sequence of
/// its "surrogatepass" encoding becomes one U+FFFD). Null with an exception set on failure.
[[gnu::noinline]] inline PyRef lossy_text(PyObject* str) {
  if (PyUnicode_AsUTF8AndSize(str, nullptr) != nullptr) return PyRef::borrow(str);
  PyErr_Clear();
  PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  if (!bytes) return {};
  return PyRef::steal(
      PyUnicode_DecodeUTF8(PyBytes_AsString(bytes.get()), PyBytes_Size(bytes.get()), "replace"));
}

/// "argument '{name}': {message}", the text of a failed conversion of parameter `name`. Null with
/// an exception set on failure.
[[gnu::noinline]] inline PyRef argument_error_text(const char* name, PyObject* message) {
  return PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, message));
}

/// "{} takes {} positional arguments but {} {} given"
[[gnu::noinline]] inline void raise_too_many_positional(const char* full_name, std::size_t n_params,
                                                        Py_ssize_t n_given) {
  PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", full_name, n_params,
               n_given, n_given == 1 ? "was" : "were");
}

/// "{} got multiple values for argument '{}'"
[[gnu::noinline]] inline void raise_multiple_values(const char* full_name, const char* parameter) {
  PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", full_name, parameter);
}

/// "{} got an unexpected keyword argument '{}'", with str() of the keyword.
[[gnu::noinline]] inline void raise_unexpected_keyword(const char* full_name, PyObject* keyword) {
  PyRef str = PyRef::steal(PyObject_Str(keyword));
  PyRef text = str ? lossy_text(str.get()) : PyRef();
  if (!text) return;
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", full_name, text.get());
}

/// "{} missing {} required {kind} argument(s): 'a', 'b', and 'c'", `kind` "positional" or
/// "keyword-only".
[[gnu::noinline]] inline void raise_missing(const char* full_name, const char* kind,
                                            std::span<const char* const> missing) {
  std::string message = full_name;
  message += " missing " + std::to_string(missing.size()) + " required ";
  message += kind;
  message += missing.size() == 1 ? " argument: " : " arguments: ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i != 0) message += missing.size() > 2 ? ", " : " ";
    if (i != 0 && i + 1 == missing.size()) message += "and ";
    message += '\'';
    message += missing[i];
    message += '\'';
  }
  PyErr_SetString(PyExc_TypeError, message.c_str());
}

/// CastError: "'{}' object cannot be cast as '{}'" with the __qualname__ of `from`.
[[gnu::noinline]] inline void raise_cast_error(PyTypeObject* from, const char* to) {
  PyRef qualname = PyRef::steal(PyType_GetQualName(from));
  PyRef text = qualname ? lossy_text(qualname.get()) : PyRef();
  if (!text) return;
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%s'", text.get(), to);
}

/// The CastError of a list argument that is not a sequence: cast as the __qualname__ of the class
/// `sequence_abc` (collections.abc.Sequence).
[[gnu::noinline]] inline void raise_not_a_sequence(PyObject* obj, PyObject* sequence_abc) {
  PyRef qualname = PyRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(sequence_abc)));
  const char* utf8 = qualname ? PyUnicode_AsUTF8AndSize(qualname.get(), nullptr) : nullptr;
  if (utf8 == nullptr) return;
  raise_cast_error(Py_TYPE(obj), utf8);
}

/// "Can't extract `str` to `Vec`"
[[gnu::noinline]] inline void raise_str_to_vec() { PyErr_SetString(PyExc_TypeError, text::kStrToVec); }

/// SystemError "attempted to fetch exception but none was set", unless an exception is pending: a
/// call failed without saying why.
[[gnu::noinline]] inline void raise_if_none_set() {
  if (PyErr_Occurred() == nullptr)
    PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
}

/// Writes the report of an internal fault to standard error: which thread, where in the source
/// (when known) and the fault's text.
[[gnu::noinline]] inline void write_fault_report(std::uint64_t thread, const char* message,
                                                 const std::source_location* where) {
  std::fprintf(stderr, "tarvex: internal fault on thread %llu", static_cast<unsigned long long>(thread));
  if (where != nullptr) {
    std::fprintf(stderr, " at %s:%u:%u:\n%s\n", where->file_name(), static_cast<unsigned>(where->line()),
                 static_cast<unsigned>(where->column()), message);
  } else {
    std::fprintf(stderr, ": %s\n", message);
  }
  std::fflush(stderr);
}

/// Writes the two lines that precede the traceback of a PanicException resumed from Python code.
[[gnu::noinline]] inline void write_resume_notice() {
  std::fprintf(stderr, "%s\n%s\n", text::kResumeNotice, text::kStackTraceBelow);
  std::fflush(stderr);
}

/// Writes the last words before an abort: a fault that could not even become a PanicException.
[[gnu::noinline]] inline void write_uncaught_panic() {
  std::fputs(text::kUncaughtPanic, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace tarvex::kit
