// OnceCell: a process-wide cell holding one Python object, set at most once.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>

namespace tarvex::kit {

/// Set at most once, then read by every thread without a lock. Exactly one thread runs the
/// creation; the others wait for it detached from the interpreter, so a waiting thread never holds
/// the interpreter lock that the creating one needs. A failed creation leaves the cell empty and a
/// later caller tries again. The stored reference is never released.
class OnceCell {
 public:
  /// The object, or nullptr when the cell is not set. One acquire load.
  PyObject* get() const noexcept { return value_.load(std::memory_order_acquire); }

  /// The object, creating it with `create` (returns a new reference, or nullptr with an exception
  /// set, or throws) if the cell is empty. Returns a borrowed reference, or nullptr with the
  /// exception set; what `create` throws passes through, and the cell stays empty.
  template <class Create>
  PyObject* get_or_init(Create&& create) {
    if (PyObject* v = get()) return v;
    PyThreadState* ts = PyEval_SaveThread();
    mutex_.lock();
    PyEval_RestoreThread(ts);
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    if (PyObject* v = get()) return v;
    PyObject* v = create();
    if (v != nullptr) value_.store(v, std::memory_order_release);
    return v;
  }

 private:
  std::atomic<PyObject*> value_{nullptr};
  std::mutex mutex_;
};

}  // namespace tarvex::kit
