// The dynamic-circuit entry points of the native module: the block schedule, and schedule + padding.
#pragma once

#include <Python.h>

namespace tarvex::qiskit_plugin {

/// _native.dynamic(top, *, out, durations, dt, scheduling, given, fill_very_end,
/// schedule_idle_qubits, custom_order, writer) reads `top` (the CircuitData of a DAG's root, in
/// topological order) and its bodies as a block program and schedules it ("alap" or "asap"), or
/// takes `given` = (blocks, starts) as int buffers in the program's node order. With `out` None it
/// returns (blocks, starts) as bytes (uint32 and int64 per node); else it writes the padded root
/// into `out` (the CircuitData of an empty circuit shaped like the DAG) and returns its duration.
/// Returns None where only the runtime's own passes handle the circuit, after
/// writer.unsupported(reason). See ibm/scheduling.py for the writer's callbacks.
PyObject* dynamic(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept;

/// Imports the C API into every file of the dynamic-circuit passes; false with an error set.
bool import_capi_for_dynamic_passes();

}  // namespace tarvex::qiskit_plugin
