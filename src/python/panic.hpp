// The fault trap: internal faults become PanicException, and no C++ exception reaches the interpreter.
//
// Inside the boundary a call fails by throwing: PythonErrorSet when the interpreter's exception is
// pending and only has to reach the caller, Fault for a broken invariant, std::bad_alloc when memory
// runs out. The entry helpers (entry.hpp) catch all three at the interpreter's door.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <source_location>
#include <string>

namespace tarvex::py {

/// An internal fault: a broken invariant or an interpreter call that cannot fail but did. The trap
/// turns it into a PanicException with the same text.
class Fault : public std::exception {
 public:
  explicit Fault(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

/// Thrown when an interpreter exception is already pending and the entry point only has to return
/// its error value; the trap leaves the exception as it is.
struct PythonErrorSet {};

/// Writes the fault report (thread, location, message) to standard error and throws a Fault.
[[noreturn]] void raise_fault(std::string message,
                              std::source_location where = std::source_location::current());

/// Ends the call after an interpreter call reported failure: resumes a PanicException that came
/// back from Python code (see resume_if_panic), else throws PythonErrorSet with the pending
/// exception as it is. The one way a failed C-API call leaves the boundary.
[[noreturn]] void python_call_failed();

/// The PanicException class, created on first use; never fails (aborts if it cannot be created).
PyObject* panic_exception_type();

/// If the pending exception is exactly a PanicException, resumes it: writes the notice and its
/// traceback to standard error, clears it and throws a Fault with the same message. Otherwise
/// leaves the pending exception alone.
void resume_if_panic();

/// Turns what a trap caught into the pending exception: nothing for PythonErrorSet (already
/// pending), MemoryError for a failed allocation, a PanicException for a fault or any other C++
/// exception. Aborts if even that fails.
void raise_caught(std::exception_ptr caught) noexcept;

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
