// Result conversion: the graph's native results as the Python objects the methods return.
//
// Every function returns a new reference or ends the call by throwing: a failed creation becomes
// what result_failed makes of it.
#pragma once

#include <Python.h>

#include <climits>
#include <cstddef>
#include <optional>
#include <vector>

#include "graph/quantum_dag.hpp"
#include "python/py_ref.hpp"

namespace tarvex::py {

/// Ends the call after the interpreter failed to create a result object: a MemoryError passes
/// through as it is, any other failure is printed and becomes a fault.
[[noreturn]] void result_failed();

/// `o`, a result object just created, or the end of the call if its creation failed. O(1).
inline PyObject* made(PyObject* o) {
  if (o == nullptr) [[unlikely]]
    result_failed();
  return o;
}

/// A node id as an int. O(1). Ids never reach 2**63; of the interpreter's conversions, the one
/// from a signed long long has the shortest path for ids of up to 30 bits (one int digit), by far
/// the common case.
inline PyObject* node_id_to_python(NodeId id) {
  if (id <= static_cast<NodeId>(LLONG_MAX)) return made(PyLong_FromLongLong(static_cast<long long>(id)));
  return made(PyLong_FromUnsignedLongLong(id));
}

/// A count as an int. O(1).
inline PyObject* count_to_python(std::size_t n) { return made(PyLong_FromUnsignedLongLong(n)); }

/// A node's stored times as (start_ns, end_ns), or None when it has none. O(1).
inline PyObject* to_python(const std::optional<NodeSchedule>& s) {
  if (!s) Py_RETURN_NONE;
  PyRef start = PyRef::steal(made(PyFloat_FromDouble(s->start_ns)));
  PyRef end = PyRef::steal(made(PyFloat_FromDouble(s->end_ns)));
  PyObject* pair = made(PyTuple_New(2));
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
