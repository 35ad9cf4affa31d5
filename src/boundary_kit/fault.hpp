// The fault trap: internal faults become PanicException, and no C++ exception reaches the interpreter.
//
// Inside a boundary a call fails by throwing: PythonErrorSet when the interpreter's exception is
// pending and only has to reach the caller, Fault for a broken invariant, std::bad_alloc when memory
// runs out. The entry helpers (entry.hpp) catch all three at the interpreter's door.
//
// The functions that run when a call fails are noinline, so that they stay out of its fast path.
//
// Each extension that includes the kit gets its own PanicException class (one per process and
// extension, in the cell below): the kit is compiled into every extension with hidden visibility,
// so no two extensions share a cell.
#pragma once

#include <Python.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <source_location>
#include <string>

#include "boundary_kit/messages.hpp"
#include "boundary_kit/once_cell.hpp"
#include "boundary_kit/py_ref.hpp"
#include "boundary_kit/thread_number.hpp"

namespace tarvex::kit {

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

namespace detail {

inline OnceCell panic_type_cell;

[[noreturn]] inline void abort_uncaught() noexcept {
  write_uncaught_panic();
  std::abort();
}

}  // namespace detail

/// The PanicException class, created on first use; never fails (aborts if it cannot be created).
[[gnu::noinline]] inline PyObject* panic_exception_type() {
  PyObject* type = detail::panic_type_cell.get_or_init([] {
    return PyErr_NewExceptionWithDoc(text::kPanicTypeName, text::kPanicDoc, PyExc_BaseException, nullptr);
  });
  if (type == nullptr) detail::abort_uncaught();
  return type;
}

/// Writes the fault report (thread, location, message) to standard error and throws a Fault.
[[noreturn]] [[gnu::noinline]] inline void raise_fault(
    std::string message, std::source_location where = std::source_location::current()) {
  write_fault_report(current_thread_number(), message.c_str(), &where);
  throw Fault(std::move(message));
}

/// If the pending exception is exactly this extension's PanicException, resumes it: writes the
/// notice and its traceback to standard error, clears it and throws a Fault with the same message.
/// Otherwise leaves the pending exception alone.
[[gnu::noinline]] inline void resume_if_panic() {
  PyObject* panic_type = detail::panic_type_cell.get();
  // No PanicException was ever created, so none can come back.
  if (panic_type == nullptr) return;
  PyObject* pending = PyErr_Occurred();
  if (pending != panic_type) return;
  PyRef exc = PyRef::steal(PyErr_GetRaisedException());
  std::string message = text::kUnwrappedPanic;
  if (PyRef str = PyRef::steal(PyObject_Str(exc.get()))) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(str.get(), &size))
      message.assign(utf8, static_cast<std::size_t>(size));
  }
  PyErr_Clear();
  write_resume_notice();
  PyErr_SetRaisedException(exc.release());
  PyErr_PrintEx(0);
  // Reported above with its Python traceback, so it skips the report of raise_fault.
  throw Fault(std::move(message));
}

/// Ends the call after an interpreter call reported failure: resumes a PanicException that came
/// back from Python code (see resume_if_panic), else throws PythonErrorSet with the pending
/// exception as it is. The one way a failed C-API call leaves the boundary.
[[noreturn]] [[gnu::noinline]] inline void python_call_failed() {
  resume_if_panic();
  throw PythonErrorSet{};
}

/// Turns what a trap caught into the pending exception: nothing for PythonErrorSet (already
/// pending), MemoryError for a failed allocation, a PanicException for a fault or any other C++
/// exception. Aborts if even that fails.
[[gnu::noinline]] inline void raise_caught(std::exception_ptr caught) noexcept {
  const auto set_panic = [](const char* message) {
    PyObject* type = panic_exception_type();
    PyRef value =
        PyRef::steal(PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace"));
    if (!value) detail::abort_uncaught();
    PyErr_SetObject(type, value.get());
  };
  try {
    try {
      std::rethrow_exception(caught);
    } catch (const PythonErrorSet&) {
      raise_if_none_set();
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (const std::exception& e) {
      if (dynamic_cast<const Fault*>(&e) == nullptr)
        write_fault_report(current_thread_number(), e.what(), nullptr);
      set_panic(e.what());
    } catch (...) {
      write_fault_report(current_thread_number(), text::kNoTextFault, nullptr);
      set_panic(text::kNoTextFault);
    }
  } catch (...) {
    detail::abort_uncaught();
  }
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

}  // namespace tarvex::kit
