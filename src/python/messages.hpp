// Every text of _tarvex's own that it shows a user, and the small helpers that raise them.
//
// A leaf of the boundary: it knows the interpreter, nothing of how the module fails or traps. Each
// `raise_*` helper leaves an exception pending, as PyErr_Format does (its own failure's, should
// building the text fail); the caller then ends its call. The texts of argument binding,
// conversion and the fault trap are the boundary kit's (boundary_kit/messages.hpp).
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvex::py {

namespace text {
inline constexpr const char kModuleDoc[] = "The Tarvex high-performance quantum compiler module.";
inline constexpr const char kClassDoc[] = "QuantumDAG()\n--\n\nPython wrapper for the core QuantumDAG.";
inline constexpr const char kNodeCountDoc[] =
    "node_count($self)\n--\n\nReturns the total number of nodes in the DAG.";
inline constexpr const char kAddGateDoc[] =
    "add_gate($self, name, qubits, duration_ns)\n--\n\nAdds a gate node to the graph and connects dependent "
    "edges.";
inline constexpr const char kBuildScheduleDoc[] =
    "build_schedule($self)\n--\n\nComputes the schedule (start and end times) for all nodes.";
inline constexpr const char kGetNodeScheduleDoc[] =
    "get_node_schedule($self, node_id)\n--\n\nRetrieves the schedule for a specific node as (start_time, "
    "end_time).";
inline constexpr const char kFindIdleWindowsDoc[] =
    "find_idle_windows($self, min_gap_ns)\n--\n\nFinds idle windows on qubits where the gap between "
    "operations is >= min_gap_ns.";
inline constexpr const char kApplyDdPassDoc[] =
    "apply_dd_pass($self)\n--\n\nDynamically inserts Dynamical Decoupling (DD) sequences on idle qubits.";
inline constexpr const char kGetAllNodesDoc[] =
    "get_all_nodes($self)\n--\n\nExports all operations in topological order a list of tuples (name, "
    "qubits, duration).";
inline constexpr const char kErrorTypeName[] = "tarvex.TarvexError";
inline constexpr const char kClassInitFailed[] = "An error occurred while initializing class QuantumDAG";
inline constexpr const char kAppendAllFailed[] = "could not append __name__ to __all__";
inline constexpr const char kNewExceptionTypeFailed[] = "Failed to initialize new exception type.";
inline constexpr const char kSubinterpreters[] =
    "_tarvex does not support sub-interpreters; import it in the main interpreter only";
inline constexpr const char kAlreadyBorrowed[] = "Already borrowed";
inline constexpr const char kAlreadyMutablyBorrowed[] = "Already mutably borrowed";
inline constexpr const char kTypeName[] = "_tarvex::PyQuantumDAG";
inline constexpr const char kUnsendableSent[] = " is unsendable, but sent to another thread";
inline constexpr const char kUnsendableDropped[] = " is unsendable, but is being dropped on another thread";
}  // namespace text

/// Reports the unraisable RuntimeError for an instance dropped on a thread other than its owner.
void report_dropped_elsewhere();
/// TarvexError for a DD pass on a graph whose schedule does not cover every gate.
void raise_dd_needs_schedule(PyObject* error_type, std::size_t n_scheduled, std::size_t n_nodes);

/// The thread-check fault's text, framed as a failed equality assertion of the two thread numbers.
std::string unsendable_fault_text(std::uint64_t caller, std::uint64_t owner);

}  // namespace tarvex::py
