// The entry of every function the interpreter calls: the fault trap, the error value and binding.
//
// A function body runs inside `entry` and fails by throwing (see fault.hpp); the interpreter sees
// a new reference, or nullptr with the exception set. An extension adds its own checks on top
// (_tarvex's methods: the receiver, the thread and the borrow).
#pragma once

#include <Python.h>

#include <exception>

#include "boundary_kit/arguments.hpp"
#include "boundary_kit/fault.hpp"

namespace tarvex::kit {

/// Runs the body of a function the interpreter calls: its result (a new reference), or nullptr
/// with the exception set that what it threw becomes (see raise_caught). Never throws.
template <class Body>
PyObject* entry(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    raise_caught(std::current_exception());
    return nullptr;
  }
}

/// The same for a METH_FASTCALL | METH_KEYWORDS function with the parameters of `kDesc`: binds the
/// arguments, then runs `body(slots)`, slot i holding parameter i (a borrowed reference, or null
/// for an optional parameter left out).
template <const FunctionDescription& kDesc, class Body>
PyObject* entry(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, Body&& body) noexcept {
  static_assert(kDesc.parameter_names.size() <= FunctionDescription::kMaxParameters);
  return entry([&] {
    PyObject* slots[kDesc.parameter_names.size()];
    extract_arguments_fastcall(kDesc, args, nargsf, kwnames, slots);
    return body(static_cast<PyObject* const*>(slots));
  });
}

}  // namespace tarvex::kit
