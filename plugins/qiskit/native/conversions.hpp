// Conversions between Qiskit circuits and the core module's QuantumDAG, natively and in bulk.
//
// A _tarvex.QuantumDAG owns its core graph privately: _tarvex hands nothing of it over, and the two
// extensions may be built by different compilers with different C++ runtimes, so neither may touch
// the other's objects. The conversions therefore go through _tarvex's own methods: one add_gate
// call per gate to build a graph, and to read one, a single get_all_nodes call whose schedule is
// recomputed here (see read_graph).
#pragma once

#include <Python.h>

#include <vector>

#include "boundary_kit/py_ref.hpp"

#include "qiskit_capi.hpp"
#include "requests.hpp"

namespace tarvex::qiskit_plugin {

/// The circuit inside a QuantumCircuit's CircuitData, borrowed from it (it lives as long as the
/// CircuitData); TypeError (CastError) for any other object. O(1).
const QkCircuit* extract_circuit(PyObject* obj);

/// A new, empty CircuitData shaped like `data` (a CircuitData: its bits, registers, variables and
/// global phase), with room for `reserve` instructions, made by Qiskit's own copy_empty_like
/// method, which copies the Python objects a circuit holds with the interpreter attached: the C
/// API's qk_circuit_copy_empty_like does not, and aborts the process on a circuit whose registers
/// Python has touched. Fill it through extract_circuit. O(bits).
kit::PyRef empty_copy_of(PyObject* data, std::size_t reserve);

/// Every node of `graph` with its stored times. For a _tarvex.QuantumDAG: one get_all_nodes call,
/// O(log nodes) get_node_schedule calls to find how many nodes the stored schedule covers, and the
/// schedule recomputed natively, since the stored one is always the ASAP schedule of the ids it
/// covers. For any other object with those two methods, one get_node_schedule call per node.
/// ValueError if a node has no times. O(nodes + entries).
std::vector<GraphNode> read_graph(PyObject* graph);

/// A new _tarvex.QuantumDAG with one gate per instruction of the source, in topological order
/// (a circuit's own order is one): its name, its qubits and its duration from `r.durations`
/// (barriers 0; delays their own, converted to the output's unit). TranspilerError naming the
/// instruction for control flow and an instruction without a duration. O(instructions).
PyObject* to_quantum_dag_impl(const ToQuantumDagRequest& r);

/// The CircuitData of a new QuantumCircuit from the graph's nodes in id order, with delays filling every
/// qubit's idle time up to the end (in ns, or whole dt with `r.in_dt`). DD_X and DD_Y become x and y; "delay"
/// nodes become idle time; with a source the other nodes are its instructions in order, else
/// standard gates without parameters, measure (into the clbit of the qubit's index), reset and
/// barrier, in registers "q" and "c". ValueError for a node it cannot build. O(nodes + entries).
/// The caller wraps it (QuantumCircuit.from_circuit_data): Qiskit's own qk_circuit_to_python_full
/// aborts the process where an allocation fails while it makes the QuantumCircuit.
PyObject* from_quantum_dag_impl(const FromQuantumDagRequest& r);

}  // namespace tarvex::qiskit_plugin
