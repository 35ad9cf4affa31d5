// Result objects: a failed creation of an object the interpreter hands back ends the call.
#pragma once

#include <Python.h>

#include "boundary_kit/fault.hpp"
#include "boundary_kit/messages.hpp"

namespace tarvex::kit {

/// Ends the call after the interpreter failed to create a result object: a MemoryError passes
/// through as it is, any other failure is printed and becomes a fault.
[[noreturn]] [[gnu::noinline]] inline void result_failed() {
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw PythonErrorSet{};
  if (PyErr_Occurred() != nullptr) PyErr_Print();
  raise_fault(text::kPythonApiFailed);
}

/// `o`, a result object just created, or the end of the call if its creation failed. O(1).
inline PyObject* made(PyObject* o) {
  if (o == nullptr) [[unlikely]]
    result_failed();
  return o;
}

}  // namespace tarvex::kit
