// Every text the native module shows a user, and the small helpers that raise them.
//
// A leaf: it knows the interpreter and Qiskit's TranspilerError, nothing of how a call fails or
// traps. Each `raise_*` helper leaves an exception pending (its own failure's, should building the
// text fail); the caller then ends its call by throwing kit::PythonErrorSet. The texts of argument
// binding and of the fault trap are the boundary kit's.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvex::qiskit_plugin {

namespace text {
inline constexpr const char kModuleDoc[] =
    "Native passes of tarvex_qiskit, built on Qiskit's C API and the Tarvex core.";
inline constexpr const char kPadDoc[] =
    "pad(dag, *, durations, delays, scheduling, start_times, options, record=False, labelled=(), registers=None)"
    "\n--\n\n"
    "Schedules a DAGCircuit or takes its start times, and pads its idle time (see PadRequest).";
inline constexpr const char kPadCircuitDoc[] =
    "pad_circuit(circuit, *, durations, dt, scheduling, options, record=False, labelled=(), barriers=False)"
    "\n--\n\n"
    "Schedules a QuantumCircuit's CircuitData and pads its idle time into a new one (see PadCircuitRequest).";
inline constexpr const char kPadOptionsDoc[] =
    "pad_options(qubits, *, decouple, fill_to_end, skip_reset, alignment, split, spacing, sequence, "
    "pulse_durations, phase)\n--\n\n"
    "Binds a pass's padding options once, for the options argument of pad() and pad_circuit().";
inline constexpr const char kDurationTableDoc[] =
    "duration_table(entries)\n--\n\nParses (name, qubits or None, duration) entries into a table for pad() "
    "and to_quantum_dag().";
inline constexpr const char kToQuantumDagDoc[] =
    "to_quantum_dag(source, *, is_dag, durations, delays, dt_ns)\n--\n\n"
    "A _tarvex.QuantumDAG with one gate per instruction of a DAGCircuit or CircuitData.";
inline constexpr const char kFromQuantumDagDoc[] =
    "from_quantum_dag(graph, *, source, num_qubits, num_clbits, in_dt)\n--\n\n"
    "The CircuitData of a QuantumCircuit made from a scheduled _tarvex.QuantumDAG.";
inline constexpr const char kDynamicDoc[] =
    "dynamic(top, *, out, durations, dt, scheduling, given, fill_very_end, schedule_idle_qubits, custom_order, "
    "writer)\n--\n\nSchedules a circuit with control flow in blocks, or takes its start times, and pads it.";
inline constexpr const char kDynamicDecouplingDoc[] =
    "dynamic_decoupling(top, *, out, durations, dt, scheduling, given, schedule_idle_qubits, custom_order, writer, "
    "n_pulses, ratios, integral_ratios, spacings, spacing_counts, alt_spacings, alt_counts, gates, selected, "
    "pulse_durations, colours, dd_barrier, alignment, split, skip_reset, multiple_cycles, phases, inverses)"
    "\n--\n\nSchedules a circuit with control flow in blocks, or takes its start times, and pads it with pulse "
    "sequences.";
inline constexpr const char kColouringDoc[] =
    "greedy_colouring(n, edges)\n--\n\nThe greedy colouring of a graph's nodes 0 .. n - 1, as bytes.";
inline constexpr const char kDurationTableName[] = "tarvex_qiskit.DurationTable";
inline constexpr const char kPadOptionsName[] = "tarvex_qiskit.PadOptions";
inline constexpr const char kUnexpectedNumbering[] =
    "tarvex_qiskit: Qiskit numbered the output's nodes unexpectedly";
}  // namespace text

/// The text of the fault raised when a process-wide object is not what it must be:
/// "tarvex_qiskit: {what} is not what this module was built for".
std::string unexpected_object_text(std::string_view what);

/// "<name> on qubits [a, b]": how every message names an instruction. O(len(qubits)).
std::string instruction_label(std::string_view name, std::span<const std::uint32_t> qubits);

// ---- TranspilerError: what Qiskit's passes also refuse, naming the instruction ----------------

/// "{label}: no duration for it in the target or the durations"
void raise_no_duration(const std::string& label);
/// "{label}: control flow cannot be scheduled"
void raise_control_flow(const std::string& label);
/// "{label}: the delay's duration was not given"
void raise_delay_not_given(const std::string& label);
/// "{label}: the delay's duration cannot be given in ns" (with " without the target's dt" for a
/// delay in dt).
void raise_delay_not_in_ns(const std::string& label, bool in_dt);
/// "{label}: no start time: it was added after the circuit was scheduled; schedule the circuit again"
void raise_no_start_time(const std::string& label);
/// "the idle time of {length} dt on qubit {qubit} between {before} and {after} is not a multiple of
/// the pulse alignment {alignment}"
void raise_misaligned(double length_dt, std::uint64_t qubit, const std::string& before,
                      const std::string& after, double alignment_dt);
/// "extra_slack_distribution must be 'middle' or 'edges'"
void raise_split_refused();

// ---- the output ----------------------------------------------------------------------------

/// RuntimeError "tarvex_qiskit: Qiskit refused {what} (exit code {code})"
void raise_refused_by_qiskit(const char* what, int code);
/// ValueError "a symbolic global phase cannot take the sequences' phase natively"
void raise_symbolic_phase();
/// ValueError "the padded circuit's times reach {value} dt, beyond the 2**63 dt a circuit holds"
void raise_time_overflow(double value_dt);

// ---- request values (ValueError unless said), each naming its argument -------------------------

/// "argument '{argument}': {value} is not a whole number of dt from {low} to 2**53"
void raise_not_whole_dt(const char* argument, double value, int low);
/// "argument 'durations': not every duration is a whole number of dt up to 2**53"
void raise_durations_not_whole();
/// "argument '{argument}': {value} is not a finite number"
void raise_not_finite(const char* argument, double value);
/// "argument '{argument}': {value} is not a fraction from 0 to 1"
void raise_not_a_fraction(const char* argument, double value);
/// "argument '{argument}': {given} entries where {expected} are needed, {why}"
void raise_count_mismatch(const char* argument, std::size_t given, std::size_t expected, const char* why);
/// "argument '{argument}': must be {choices}"
void raise_not_a_choice(const char* argument, const char* choices);
/// "argument 'start_times': a mapping is needed when scheduling is 'given', and None otherwise"
void raise_start_times_mismatch();
/// TypeError "each item is a (name, size, quantum) tuple" (binding names the argument)
void raise_not_a_register();
/// "argument 'registers': a register's name holds a NUL character"
void raise_register_name_nul();
/// "argument 'registers': {q} qubits and {c} clbits in the registers, where the DAG has {nq} and {nc}"
void raise_registers_mismatch(std::uint64_t qubits, std::uint64_t clbits, std::uint64_t dag_qubits,
                              std::uint64_t dag_clbits);

/// "argument '{argument}': {gate} is not a standard gate on one qubit"
void raise_not_a_pulse_gate(const char* argument, std::uint64_t gate);
/// "argument '{argument}': gate {gate} takes {expected} parameters, {given} given"
void raise_pulse_params(const char* argument, std::uint64_t gate, std::size_t expected, std::size_t given);
/// "argument '{argument}': {value} is not a positive finite number of seconds"
void raise_not_seconds(const char* argument, double value);
/// "argument 'out': {q} qubits and {c} clbits where 'top' has {tq} and {tc}"
void raise_out_mismatch(std::uint32_t qubits, std::uint32_t clbits, std::uint32_t top_qubits,
                        std::uint32_t top_clbits);
/// "argument 'given': a start time is not from 0 to 2**62"
void raise_given_start_out_of_range();
/// "argument 'entries': item {index} is not a (name, qubits or None, duration) tuple"
void raise_not_an_entry(std::size_t index);
/// "argument 'entries': the duration of {name} is {value}, not a finite number from 0 up"
void raise_bad_entry_duration(std::string_view name, double value);
/// OverflowError "argument '{argument}': {value} is beyond Qiskit's indices (up to 2**32 - 1)"
void raise_beyond_qiskit(const char* argument, std::uint64_t value);

// ---- from_quantum_dag (ValueError) -------------------------------------------------------------

/// "node {i} has no start time: call build_schedule() first"
void raise_node_unscheduled(std::size_t node);
/// "node {i} ({label}) acts on qubit {q} of a {n}-qubit circuit"
void raise_node_qubit_out_of_range(std::size_t node, const std::string& label, std::uint32_t qubit,
                                   std::uint32_t n_qubits);
/// "node {i} ({label}) has no counterpart in the source circuit"
void raise_node_without_counterpart(std::size_t node, const std::string& label);
/// "node {i} ({label}) does not match the source's instruction {k} ({source_label})"
void raise_node_mismatch(std::size_t node, const std::string& label, std::size_t k,
                         const std::string& source_label);
/// "node {i} ({label}) cannot be made into a Qiskit instruction: without a source circuit only
/// standard gates without parameters, measure, reset, barrier, delay, DD_X and DD_Y can"
void raise_node_not_buildable(std::size_t node, const std::string& label);
/// "{label} in the source circuit cannot be copied"
void raise_source_not_copyable(const std::string& label);
/// "qubit {q} idles for {length}, not a whole number of dt"
void raise_idle_not_whole(std::uint32_t qubit, double length);
/// TypeError "get_all_nodes() must return a list of (name, qubits, duration)"
void raise_not_an_export();

// ---- import ------------------------------------------------------------------------------------

/// ImportError for a Qiskit of another minor series than the one the module was built against.
void raise_series_mismatch(const char* installed);

// The dynamic-circuit passes' refusals (the runtime's exception types).

/// TranspilerError "Duration of <name> on qubits [..] is not found." (the runtime's wording), for
/// operation `name` on root qubits `qubits`.
void raise_duration_not_found(std::string_view name, std::span<const std::uint32_t> qubits);
/// TranspilerError: the duration of <name> on qubits [..] is a parameter, not a number.
void raise_unbounded_duration(std::string_view name, std::span<const std::uint32_t> qubits);
/// TranspilerError: the durations add up to more than the block schedule can count.
void raise_durations_too_long();
/// TranspilerError: a block ordering callable did not yield each of the block's `n` nodes once.
void raise_bad_block_order(std::size_t n);
/// RuntimeError: the DAG writer.topological() gave for a body does not hold its instructions.
void raise_foreign_body_dag();
/// RuntimeError: "tarvex_qiskit: writer.body() gave a circuit of {q} qubits and {c} clbits where
/// {wq} and {wc} are needed"
void raise_body_width(std::uint32_t qubits, std::uint32_t clbits, std::uint32_t want_qubits,
                      std::uint32_t want_clbits);

}  // namespace tarvex::qiskit_plugin
