// Ref: the owning reference to a Python object shared with the _tarvex boundary, and the plugin's
// error helpers.
#pragma once

#include <Python.h>

#include <new>

#include "boundary_kit/py_ref.hpp"

namespace tarvex::qiskit_plugin {

/// The owning reference the _tarvex boundary uses, shared: no error path counts references by hand.
using Ref = kit::PyRef;

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
