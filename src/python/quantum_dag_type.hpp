// The QuantumDAG Python class: type object, construction, borrowing and the seven methods.
#pragma once

#include <Python.h>

namespace tarvex::py {

/// The class object, created once per process on first use. A borrowed reference, or nullptr
/// with the interpreter's exception set when the type cannot be created.
PyObject* quantum_dag_type();

/// The module's TarvexError class (owned by the module's initialisation).
PyObject* tarvex_error_type();

}  // namespace tarvex::py
