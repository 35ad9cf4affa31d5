// The process-wide Python objects the native module uses: made once, checked, never released.
#pragma once

#include <Python.h>

namespace tarvex::qiskit_plugin {

/// Qiskit's TranspilerError class, the exception the passes raise. Looked up at import (see
/// module.cpp); a borrowed reference. Ends the call if the lookup fails. O(1) once made.
PyObject* transpiler_error_type();

/// Qiskit's DAGCircuit and CircuitData classes, the objects the C API borrows from. O(1) once made.
PyObject* dag_circuit_type();
PyObject* circuit_data_type();

/// The interned str "_node_id", the attribute that numbers a DAGOpNode. O(1) once made.
PyObject* node_id_attribute();

/// The interned strs "copy_empty_like" and "reserve", the CircuitData methods the direct path makes
/// its output with. O(1) once made.
PyObject* copy_empty_like_name();
PyObject* reserve_name();

/// _tarvex.QuantumDAG and the three methods the conversions call, taken from the class once, so
/// that a method replaced on the class later is never called: each is the module's own C method,
/// which runs no Python code for arguments of exact types. Imports _tarvex at the first use (an
/// ImportError ends the call). Borrowed references. O(1) once made.
struct QuantumDagMethods {
  PyObject* type;
  PyObject* add_gate;
  PyObject* get_all_nodes;
  PyObject* get_node_schedule;
};
const QuantumDagMethods& quantum_dag_methods();

}  // namespace tarvex::qiskit_plugin
