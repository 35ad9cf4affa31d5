// The padding entry point: read the DAG, schedule it or take its start times, plan, write.
#pragma once

#include <Python.h>

#include "requests.hpp"

namespace tarvex::qiskit_plugin {

/// The padded copy of `r.dag` as the tuple (dag, n_sequences, end in dt, start times or None,
/// first op node id, output node ids of `r.labelled`), or None when the DAG holds an operation the
/// native passes cannot copy (the caller then runs Qiskit's implementation). With `r.record`, the
/// start times are int64 bytes, one per op node of the output from the first op node id on (the
/// order written); an entry of the last list is None for a node not copied (a delay). The DAG is
/// only read. O(nodes log nodes + output).
PyObject* pad_impl(const PadRequest& r);

}  // namespace tarvex::qiskit_plugin
