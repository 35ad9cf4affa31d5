// The QuantumDAG Python class: type object, construction, borrowing and the seven methods.
#pragma once

#include <Python.h>

namespace tarvex::py {

/// The class object, created once per process on first use. A borrowed reference, or nullptr
/// with the interpreter's exception set when the type cannot be created.
PyObject* quantum_dag_type();

}  // namespace tarvex::py
