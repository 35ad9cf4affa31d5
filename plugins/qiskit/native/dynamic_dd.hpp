// The dynamic-circuit entry points of dynamical decoupling: the block schedule padded with pulse
// sequences, and the colouring that staggers neighbouring qubits.
#pragma once

#include <Python.h>

namespace tarvex::qiskit_plugin {

/// _native.dynamic_decoupling(top, *, out, durations, dt, scheduling, given, schedule_idle_qubits,
/// custom_order, writer, <sequence fields>) reads `top` and its bodies as _native.dynamic does,
/// schedules them ("alap", "asap") or takes `given`, and writes into `out` the padded circuit with
/// pulse sequences in the idle stretches (see DecouplingRequest and graph/block_decoupling.hpp).
/// Returns (duration, phase added to the root, status, odd-cycle count): status 0 when done, else
/// the DecouplingStatus the caller refuses the run with; None where only the runtime's own passes
/// handle the circuit, after writer.unsupported(reason). Writer callbacks beyond _native.dynamic's:
///   writer.labelled(cf, k, j) -> bool: instruction j of body k of control-flow op cf (-1, -1 for
///     the root) is a barrier before which sequences may go (with dd_barrier only);
///   writer.phase(cf, k, value): add `value` to the global phase of the body just written.
PyObject* dynamic_decoupling(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept;

/// _native.greedy_colouring(n, edges): the colouring of graph/block_decoupling.hpp of nodes
/// 0 .. n - 1 with edges given as a flat list of ends, as bytes (colours from 255 kept at 255).
PyObject* greedy_colouring(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept;

/// Imports the C API into the decoupling entry's file; false with an error set.
bool import_capi_for_decoupling();

}  // namespace tarvex::qiskit_plugin
