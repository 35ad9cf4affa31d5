// The padding entry point of the native module.
#pragma once

#include <Python.h>

namespace tarvex::qiskit_plugin {

/// _native.pad(dag, *, durations, delays, scheduling, qubits, decouple, fill_to_end, skip_reset,
/// alignment, split, spacing, sequence, pulse_durations, phase, record) -> (dag, n_sequences,
/// end_dt, start times or None, first op node id). With `record`, the start times are int64 bytes,
/// one per op node of the output from the first op node id on (the order written). The Python passes prepare every argument;
/// see passes.py.
PyObject* pad(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace tarvex::qiskit_plugin
