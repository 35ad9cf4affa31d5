// The padding entry point of the native module.
#pragma once

#include <Python.h>

namespace tarvex::qiskit_plugin {

/// _native.pad(dag, *, durations, delays, scheduling, qubits, decouple, fill_to_end, skip_reset,
/// alignment, split, spacing, sequence, pulse_durations, phase, record) -> (dag, n_sequences,
/// end_dt, node_start_time or None). The Python passes prepare every argument; see passes.py.
PyObject* pad(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace tarvex::qiskit_plugin
