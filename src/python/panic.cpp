// The fault trap: internal faults become PanicException, and no C++ exception reaches the interpreter.
#include "python/panic.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "python/messages.hpp"
#include "python/once_cell.hpp"
#include "python/py_ref.hpp"
#include "python/thread_number.hpp"

namespace tarvex::py {

namespace {

OnceCell panic_type_cell;

[[noreturn]] void abort_uncaught() noexcept {
  std::fputs(text::kUncaughtPanic, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::abort();
}

void set_panic(const char* message) {
  PyObject* type = panic_exception_type();
  PyRef value =
      PyRef::steal(PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace"));
  if (!value) abort_uncaught();
  PyErr_SetObject(type, value.get());
}

}  // namespace

void raise_fault(std::string message, std::source_location where) {
  std::fprintf(stderr, "tarvex: internal fault on thread %llu at %s:%u:%u:\n%s\n",
               static_cast<unsigned long long>(current_thread_number()), where.file_name(),
               static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()), message.c_str());
  std::fflush(stderr);
  throw Fault(std::move(message), where);
}

PyObject* panic_exception_type() {
  PyObject* type = panic_type_cell.get_or_init([] {
    return PyErr_NewExceptionWithDoc(text::kPanicTypeName, text::kPanicDoc, PyExc_BaseException, nullptr);
  });
  if (type == nullptr) abort_uncaught();
  return type;
}

void resume_if_panic() {
  PyObject* panic_type = panic_type_cell.get();
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
  std::fprintf(stderr, "%s\n%s\n", text::kResumeNotice, text::kStackTraceBelow);
  std::fflush(stderr);
  PyErr_SetRaisedException(exc.release());
  PyErr_PrintEx(0);
  // Reported above with its Python traceback, so it skips the report of raise_fault.
  throw Fault(std::move(message), std::source_location::current());
}

void raise_caught(std::exception_ptr caught) noexcept {
  try {
    try {
      std::rethrow_exception(caught);
    } catch (const PythonErrorSet&) {
      if (PyErr_Occurred() == nullptr) PyErr_SetString(PyExc_SystemError, text::kNoExceptionSet);
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (const std::exception& e) {
      if (dynamic_cast<const Fault*>(&e) == nullptr) {
        std::fprintf(stderr, "tarvex: internal fault on thread %llu: %s\n",
                     static_cast<unsigned long long>(current_thread_number()), e.what());
      }
      set_panic(e.what());
    } catch (...) {
      std::fprintf(stderr, "tarvex: internal fault on thread %llu: %s\n",
                   static_cast<unsigned long long>(current_thread_number()), text::kNoTextFault);
      set_panic(text::kNoTextFault);
    }
  } catch (...) {
    abort_uncaught();
  }
}

}  // namespace tarvex::py
