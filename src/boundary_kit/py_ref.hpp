// PyRef: a move-only owning reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

namespace tarvex::kit {

/// Owns one strong reference. Ownership enters only through `steal` (a new reference handed over)
/// or `borrow` (a borrowed one, increfed) and leaves only through `release` (handed to the
/// interpreter) or the destructor, so no error path counts references by hand.
class PyRef {
 public:
  PyRef() noexcept = default;
  static PyRef steal(PyObject* o) noexcept { return PyRef(o); }
  static PyRef borrow(PyObject* o) noexcept { return PyRef(Py_XNewRef(o)); }

  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef(std::move(other)).swap(*this);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(obj_); }

  PyObject* get() const noexcept { return obj_; }
  /// Gives up ownership; the caller now holds the reference.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  void swap(PyRef& other) noexcept { std::swap(obj_, other.obj_); }

 private:
  explicit PyRef(PyObject* o) noexcept : obj_(o) {}
  PyObject* obj_ = nullptr;
};

}  // namespace tarvex::kit
