// Result conversion: the graph's native results as the Python objects the methods return.
//
// Every function returns a new reference or ends the call by throwing: a failed creation becomes
// what kit::result_failed makes of it.
#pragma once

#include <Python.h>

#include <climits>
#include <cstddef>
#include <optional>
#include <vector>

#include "boundary_kit/py_ref.hpp"
#include "boundary_kit/results.hpp"
#include "graph/quantum_dag.hpp"

namespace tarvex::py {

/// A node id as an int. O(1). Ids never reach 2**63; of the interpreter's conversions, the one
/// from a signed long long has the shortest path for ids of up to 30 bits (one int digit), by far
/// the common case.
inline PyObject* node_id_to_python(NodeId id) {
  if (id <= static_cast<NodeId>(LLONG_MAX)) return kit::made(PyLong_FromLongLong(static_cast<long long>(id)));
  return kit::made(PyLong_FromUnsignedLongLong(id));
}

/// A count as an int. O(1).
inline PyObject* count_to_python(std::size_t n) { return kit::made(PyLong_FromUnsignedLongLong(n)); }

/// A node's stored times as (start_ns, end_ns), or None when it has none. O(1).
inline PyObject* to_python(const std::optional<NodeSchedule>& s) {
  if (!s) Py_RETURN_NONE;
  kit::PyRef start = kit::PyRef::steal(kit::made(PyFloat_FromDouble(s->start)));
  kit::PyRef end = kit::PyRef::steal(kit::made(PyFloat_FromDouble(s->end)));
  PyObject* pair = kit::made(PyTuple_New(2));
  PyTuple_SET_ITEM(pair, 0, start.release());
  PyTuple_SET_ITEM(pair, 1, end.release());
  return pair;
}

/// Idle windows as a list of (qubit, start_ns, end_ns). O(windows).
PyObject* to_python(const std::vector<IdleWindow>& windows);

/// The export: a list of (name, qubits, duration_ns) per node in id order. Nodes of one name share
/// one str, and repeated durations mostly share one float (both are immutable, so sharing is
/// invisible). O(nodes + entries).
PyObject* export_nodes(const QuantumDAG& dag);

}  // namespace tarvex::py
