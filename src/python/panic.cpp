// The fault trap: internal faults become PanicException, and no C++ exception reaches the interpreter.
#include "python/panic.hpp"

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
  write_uncaught_panic();
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
  write_fault_report(current_thread_number(), message.c_str(), &where);
  throw Fault(std::move(message));
}

void python_call_failed() {
  resume_if_panic();
  throw PythonErrorSet{};
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
  write_resume_notice();
  PyErr_SetRaisedException(exc.release());
  PyErr_PrintEx(0);
  // Reported above with its Python traceback, so it skips the report of raise_fault.
  throw Fault(std::move(message));
}

void raise_caught(std::exception_ptr caught) noexcept {
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
    abort_uncaught();
  }
}

}  // namespace tarvex::py
