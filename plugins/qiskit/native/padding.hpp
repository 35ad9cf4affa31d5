// The padding entry points: a DAG or a circuit read, scheduled (or its start times taken), planned, written.
#pragma once

#include <Python.h>

#include "requests.hpp"

namespace tarvex::qiskit_plugin {

/// The padded copy of `r.dag` as the tuple (dag, n_sequences, end in dt, start times or None,
/// first op node id (0 unless recording or labelled), output node ids of `r.labelled`), or None
/// when the DAG holds an operation the native passes cannot copy (the caller then runs Qiskit's
/// implementation). With `r.record`, the
/// start times are int64 bytes, one per op node of the output from the first op node id on (the
/// order written); an entry of the last list is None for a node not copied (a delay). The DAG is
/// only read. O(nodes log nodes + output).
PyObject* pad_impl(const PadRequest& r);

/// The direct path: the padded copy of `r.circuit` as the tuple (CircuitData, n_sequences, end in
/// dt, start times or None, output indices of `r.labelled`, and with `r.barriers` the (instruction
/// index, output index) of every barrier, else None); the copy's instructions come in the order in
/// which
/// Qiskit's DAG of the same circuit lists its operations, so that a QuantumCircuit around it equals
/// what a pass manager running the padding passes returns, instruction by instruction. With
/// `r.record` the start times are a list of ints, one per output instruction; an entry of the last
/// list is None for an instruction not copied (a delay). None where only the pass manager gives
/// the same output or message (see read_circuit; a misaligned stretch; sequences on a symbolic global
/// phase). The circuit is only read. O(instructions + output), 50 to 80 bytes per output instruction
/// at the peak besides the circuits.
PyObject* pad_circuit_impl(const PadCircuitRequest& r);

}  // namespace tarvex::qiskit_plugin
