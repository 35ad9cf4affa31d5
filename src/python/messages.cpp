// Every text the module shows a user, and the small helpers that raise or print them.
#include "python/messages.hpp"

#include <cstdio>
#include <string>

namespace tarvex::py {

PyRef lossy_text(PyObject* str) {
  if (PyUnicode_AsUTF8AndSize(str, nullptr) != nullptr) return PyRef::borrow(str);
  PyErr_Clear();
  PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  if (!bytes) return {};
  return PyRef::steal(
      PyUnicode_DecodeUTF8(PyBytes_AsString(bytes.get()), PyBytes_Size(bytes.get()), "replace"));
}

PyRef argument_error_text(const char* name, PyObject* message) {
  return PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, message));
}

void raise_too_many_positional(const char* full_name, std::size_t n_params, Py_ssize_t n_given) {
  PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", full_name, n_params,
               n_given, n_given == 1 ? "was" : "were");
}

void raise_multiple_values(const char* full_name, const char* parameter) {
  PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", full_name, parameter);
}

void raise_unexpected_keyword(const char* full_name, PyObject* keyword) {
  PyRef str = PyRef::steal(PyObject_Str(keyword));
  PyRef text = str ? lossy_text(str.get()) : PyRef();
  if (!text) return;
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", full_name, text.get());
}

void raise_missing(const char* full_name, std::span<const char* const> missing) {
  std::string message = full_name;
  message += " missing " + std::to_string(missing.size()) + " required positional ";
  message += missing.size() == 1 ? "argument: " : "arguments: ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i != 0) message += missing.size() > 2 ? ", " : " ";
    if (i != 0 && i + 1 == missing.size()) message += "and ";
    message += '\'';
    message += missing[i];
    message += '\'';
  }
  PyErr_SetString(PyExc_TypeError, message.c_str());
}

void raise_cast_error(PyTypeObject* from, const char* to) {
  PyRef qualname = PyRef::steal(PyType_GetQualName(from));
  PyRef text = qualname ? lossy_text(qualname.get()) : PyRef();
  if (!text) return;
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%s'", text.get(), to);
}

void raise_not_a_sequence(PyObject* obj, PyObject* sequence_abc) {
  PyRef qualname = PyRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(sequence_abc)));
  const char* utf8 = qualname ? PyUnicode_AsUTF8AndSize(qualname.get(), nullptr) : nullptr;
  if (utf8 == nullptr) return;
  raise_cast_error(Py_TYPE(obj), utf8);
}

void raise_str_to_vec() { PyErr_SetString(PyExc_TypeError, text::kStrToVec); }

void raise_if_none_set() {
  if (PyErr_Occurred() == nullptr)
    PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
}

void report_dropped_elsewhere() {
  PyErr_Format(PyExc_RuntimeError, "%s%s", text::kTypeName, text::kUnsendableDropped);
  PyErr_WriteUnraisable(nullptr);
}

void raise_dd_needs_schedule(PyObject* error_type, std::size_t n_scheduled, std::size_t n_nodes) {
  PyErr_Format(error_type,
               "QuantumDAG.apply_dd_pass() needs a schedule for every gate: %zu of %zu gates are "
               "scheduled; call build_schedule() first",
               n_scheduled, n_nodes);
}

std::string unsendable_fault_text(std::uint64_t caller, std::uint64_t owner) {
  return "assertion `left == right` failed: " + std::string(text::kTypeName) + text::kUnsendableSent +
         "\n  left: " + std::to_string(caller) + "\n right: " + std::to_string(owner);
}

void write_fault_report(std::uint64_t thread, const char* message, const std::source_location* where) {
  std::fprintf(stderr, "tarvex: internal fault on thread %llu", static_cast<unsigned long long>(thread));
  if (where != nullptr) {
    std::fprintf(stderr, " at %s:%u:%u:\n%s\n", where->file_name(), static_cast<unsigned>(where->line()),
                 static_cast<unsigned>(where->column()), message);
  } else {
    std::fprintf(stderr, ": %s\n", message);
  }
  std::fflush(stderr);
}

void write_resume_notice() {
  std::fprintf(stderr, "%s\n%s\n", text::kResumeNotice, text::kStackTraceBelow);
  std::fflush(stderr);
}

void write_uncaught_panic() {
  std::fputs(text::kUncaughtPanic, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace tarvex::py
