// Ref: a move-only owning reference to a Python object, and the plugin's error helpers.
#pragma once

#include <Python.h>

#include <utility>

namespace tarvex::qiskit_plugin {

/// Owns one strong reference; it enters through `steal` or `borrow` and leaves through `release`
/// or the destructor, so no error path counts references by hand.
class Ref {
 public:
  Ref() noexcept = default;
  static Ref steal(PyObject* o) noexcept { return Ref(o); }
  static Ref borrow(PyObject* o) noexcept { return Ref(Py_XNewRef(o)); }
  Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(obj_); }

  PyObject* get() const noexcept { return obj_; }
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  explicit operator bool() const noexcept { return obj_ != nullptr; }

 private:
  explicit Ref(PyObject* o) noexcept : obj_(o) {}
  PyObject* obj_ = nullptr;
};

/// Qiskit's TranspilerError class, fetched at import; the exception the passes raise.
PyObject* transpiler_error() noexcept;

/// Runs `body` (returning a new reference or nullptr with an error set), turning a C++ exception
/// into a Python one: the core throws only std::bad_alloc.
template <class F>
PyObject* guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "tarvex_qiskit: unexpected C++ exception");
    return nullptr;
  }
}

}  // namespace tarvex::qiskit_plugin
