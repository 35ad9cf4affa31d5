// The fault trap: internal faults become PanicException, and no C++ exception reaches the interpreter.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <source_location>
#include <string>

namespace tarvex::py {

/// An internal fault: a broken invariant or an interpreter call that cannot fail but did. Carries
/// its message and where it arose; the trap turns it into a PanicException.
class Fault : public std::exception {
 public:
  Fault(std::string message, std::source_location where) : message_(std::move(message)), where_(where) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  const std::source_location& where() const noexcept { return where_; }

 private:
  std::string message_;
  std::source_location where_;
};

/// Thrown when an interpreter exception is already pending and the entry point only has to return
/// its error value; the trap leaves the exception as it is.
struct PythonErrorSet {};

/// Writes the fault report (thread, location, message) to standard error and throws a Fault.
[[noreturn]] void raise_fault(std::string message,
                              std::source_location where = std::source_location::current());

/// The PanicException class, created on first use; never fails (aborts if it cannot be created).
PyObject* panic_exception_type();

/// If the pending exception is exactly a PanicException, resumes it: writes the notice and its
/// traceback to standard error, clears it and throws a Fault with the same message. Otherwise
/// leaves the pending exception alone. Called wherever the module takes an exception from Python.
void resume_if_panic();

/// Turns what a trap caught into the pending exception: nothing for PythonErrorSet (already
/// pending), MemoryError for a failed allocation, a PanicException for a fault or any other C++
/// exception. Aborts if even that fails.
void raise_caught(std::exception_ptr caught) noexcept;

/// Runs the body of an entry point. Returns its result, or `error_value` with an exception set.
template <class Body, class R>
R trap(Body&& body, R error_value) noexcept {
  try {
    return body();
  } catch (...) {
    raise_caught(std::current_exception());
  }
  return error_value;
}

/// The trap for object destruction, which cannot raise: what it catches is reported through the
/// interpreter's unraisable hook instead.
template <class Body>
void trap_unraisable(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    raise_caught(std::current_exception());
    PyErr_WriteUnraisable(nullptr);
  }
}

}  // namespace tarvex::py
