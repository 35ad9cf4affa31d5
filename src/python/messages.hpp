// Every text the module shows a user, and the small helpers that raise or print them.
//
// A leaf of the boundary: it knows the interpreter and the owning reference, nothing of how the
// module fails or traps. Each `raise_*` helper leaves an exception pending, as PyErr_Format does
// (its own failure's, should building the text fail); the caller then ends its call.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <span>
#include <string>

#include "python/py_ref.hpp"

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
inline constexpr const char kPanicTypeName[] = "tarvex_runtime.PanicException";
inline constexpr const char kPanicDoc[] =
    "\nThe exception raised when native code called from Python fails internally (panics).\n\n"
    "Like SystemExit, this exception is derived from BaseException so that it will typically\n"
    "propagate all the way through the stack and cause the Python interpreter to exit.\n";
inline constexpr const char kUncaughtPanic[] = "uncaught panic at ffi boundary";
inline constexpr const char kNoTextFault[] = "internal fault without a message";
inline constexpr const char kUnwrappedPanic[] = "Unwrapped panic from Python code";
inline constexpr const char kResumeNotice[] =
    "tarvex: resuming an internal fault after a PanicException was fetched from Python code";
inline constexpr const char kStackTraceBelow[] = "Python stack trace below:";
inline constexpr const char kPythonApiFailed[] = "Python API call failed";
inline constexpr const char kClassInitFailed[] = "An error occurred while initializing class QuantumDAG";
inline constexpr const char kAppendAllFailed[] = "could not append __name__ to __all__";
inline constexpr const char kNewExceptionTypeFailed[] = "Failed to initialize new exception type.";
inline constexpr const char kSequenceAbcLookupFailed[] = "failed to look up collections.abc.Sequence";
inline constexpr const char kSequenceAbcNotAClass[] = "collections.abc.Sequence is not a class";
inline constexpr const char kSubinterpreters[] =
    "_tarvex does not support sub-interpreters; import it in the main interpreter only";
inline constexpr const char kAlreadyBorrowed[] = "Already borrowed";
inline constexpr const char kAlreadyMutablyBorrowed[] = "Already mutably borrowed";
inline constexpr const char kTypeName[] = "_tarvex::PyQuantumDAG";
inline constexpr const char kUnsendableSent[] = " is unsendable, but sent to another thread";
inline constexpr const char kUnsendableDropped[] = " is unsendable, but is being dropped on another thread";
inline constexpr const char kStrToVec[] = "Can't extract `str` to `Vec`";
inline constexpr const char kUnprintableTypeError[] = "<unprintable TypeError object>";
}  // namespace text

/// A str equal to `str` with every lone surrogate replaced (each maximal invalid UTF-8 sequence of
/// its "surrogatepass" encoding becomes one U+FFFD). Null with an exception set on failure.
PyRef lossy_text(PyObject* str);

/// "argument '{name}': {message}", the text of a failed conversion of parameter `name`. Null with
/// an exception set on failure.
PyRef argument_error_text(const char* name, PyObject* message);

/// "{} takes {} positional arguments but {} {} given"
void raise_too_many_positional(const char* full_name, std::size_t n_params, Py_ssize_t n_given);
/// "{} got multiple values for argument '{}'"
void raise_multiple_values(const char* full_name, const char* parameter);
/// "{} got an unexpected keyword argument '{}'", with str() of the keyword.
void raise_unexpected_keyword(const char* full_name, PyObject* keyword);
/// "{} missing {} required positional argument(s): 'a', 'b', and 'c'"
void raise_missing(const char* full_name, std::span<const char* const> missing);
/// CastError: "'{}' object cannot be cast as '{}'" with the __qualname__ of `from`.
void raise_cast_error(PyTypeObject* from, const char* to);
/// The CastError of a qubit list that is not a sequence: cast as the __qualname__ of the class
/// `sequence_abc` (collections.abc.Sequence).
void raise_not_a_sequence(PyObject* obj, PyObject* sequence_abc);
/// "Can't extract `str` to `Vec`"
void raise_str_to_vec();
/// SystemError "attempted to fetch exception but none was set", unless an exception is pending: a
/// call failed without saying why.
void raise_if_none_set();
/// Reports the unraisable RuntimeError for an instance dropped on a thread other than its owner.
void report_dropped_elsewhere();
/// TarvexError for a DD pass on a graph whose schedule does not cover every gate.
void raise_dd_needs_schedule(PyObject* error_type, std::size_t n_scheduled, std::size_t n_nodes);

/// The thread-check fault's text, framed as a failed equality assertion of the two thread numbers.
std::string unsendable_fault_text(std::uint64_t caller, std::uint64_t owner);

/// Writes the report of an internal fault to standard error: which thread, where in the source
/// (when known) and the fault's text.
void write_fault_report(std::uint64_t thread, const char* message, const std::source_location* where);
/// Writes the two lines that precede the traceback of a PanicException resumed from Python code.
void write_resume_notice();
/// Writes the last words before an abort: a fault that could not even become a PanicException.
void write_uncaught_panic();

}  // namespace tarvex::py
