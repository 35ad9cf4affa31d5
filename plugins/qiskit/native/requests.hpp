// The typed request of each native entry point, and the binding of a call's arguments into it.
//
// Each struct is one call's arguments, converted and checked; tarvex_qiskit/_requests.py mirrors
// it field for field (a pass binds its PadOptions once, through pad_options(), and hands the bound
// options to every pad() or pad_circuit() call). Binding runs
// every piece of Python code the arguments bring (__index__, a mapping's items, attribute lookups) before the
// entry point reads a DAG or circuit through the C API, so nothing can change those while they are read. Each
// bind_* throws (see boundary_kit/fault.hpp) on the first argument it refuses, with a message naming it.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "boundary_kit/arguments.hpp"
#include "circuit_writer.hpp"
#include "dag_reader.hpp"
#include "delay_units.hpp"
#include "durations.hpp"
#include "graph/padding_plan.hpp"
#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

/// How pad() gets its start times.
enum class Scheduling : std::uint8_t { kAlap, kAsap, kGiven };

/// One gate of a DD sequence: a standard gate on one qubit with numeric parameters.
struct PulseGate {
  QkGate gate;
  std::vector<double> params;
};

/// _native.pad_options(qubits, *, decouple, ..., phase): the fields of a padding request that
/// depend only on the pass, its durations and the number of qubits (tarvex_qiskit/_requests.py's
/// PadOptions), bound once into an opaque object that pad() and pad_circuit() take as `options`,
/// so that a call binds them in O(1). Times are whole numbers of dt; with `decouple`,
/// pulse_durations holds one entry per qubit and pulse (checked when bound).
struct PadOptions {
  std::vector<QubitPadding> qubits;  ///< qubits: bytes, one per qubit: bit 0 pads, bit 1 decouples
  bool decouple;                     ///< decouple: pulse sequences, not only delays
  bool fill_to_end;                  ///< fill_to_end: pad each qubit up to the circuit's end
  bool skip_reset;                   ///< skip_reset: no sequence after the start or a reset
  double alignment;                  ///< alignment: the pulse alignment, whole dt from 1
  /// split: "middle" or "edges"; any other str is kept as none, and refused (TranspilerError) where
  /// the first sequence would be placed, as Qiskit refuses it.
  std::optional<SlackSplit> split;
  std::vector<double> spacing;      ///< spacing: fractions of the slack around the pulses
  std::vector<PulseGate> sequence;  ///< sequence: ((QkGate value, params), ...)
  /// pulse_durations: with `decouple`, the duration of pulse k on qubit q at [q * pulses + k].
  std::vector<double> pulse_durations;
  double phase;  ///< phase: the global phase one sequence adds
};

/// _native.pad(dag, *, durations, delays, scheduling, start_times, options, record=False,
/// labelled=(), registers=None).
struct PadRequest {
  QkDag* dag;                      ///< dag: a DAGCircuit, borrowed
  const DurationTable* durations;  ///< durations: a table made by duration_table()
  DelayDurations delays;           ///< delays: {op node id: duration in dt} of every delay
  Scheduling scheduling;           ///< scheduling: "alap", "asap" or "given"
  /// start_times: with "given", a mapping {DAGOpNode: start in dt} (Qiskit's node_start_time),
  /// read into (op node id, start); None otherwise.
  std::vector<std::pair<std::uint32_t, double>> start_times;
  const PadOptions* options;  ///< options: made by pad_options(), one qubit entry per qubit of the DAG
  bool record;                          ///< record: also return the output's start times
  std::vector<std::uint32_t> labelled;  ///< labelled: op node ids whose output node ids to return
  /// registers: None, or the DAG's registers as (name, size, quantum) in order, when its bits are
  /// exactly theirs: the output is then made from a kept empty circuit with such registers, a copy
  /// much cheaper than an empty copy of the DAG.
  std::optional<std::vector<RegisterSpec>> registers;
};

/// _native.pad_circuit(circuit, *, durations, dt, scheduling, options, record=False, labelled=(),
/// barriers=False): the direct path, from a QuantumCircuit's CircuitData to a new one.
struct PadCircuitRequest {
  PyObject* data;                  ///< circuit: a CircuitData, borrowed ...
  const QkCircuit* circuit;        ///< ... and the circuit inside it
  const DurationTable* durations;  ///< durations: a table made by duration_table()
  double dt;                       ///< dt: one dt in seconds, for delays in SI units; None: NaN
  Scheduling scheduling;           ///< scheduling: "alap" or "asap"
  const PadOptions* options;       ///< options: made by pad_options(), one qubit entry per qubit
  bool record;                          ///< record: also return the output's start times
  std::vector<std::uint32_t> labelled;  ///< labelled: instruction indices whose output indices to return
  bool barriers;                        ///< barriers: also return where every barrier went
};

/// _native.duration_table(entries): entries (name, qubits or None, duration), parsed.
struct DurationTableRequest {
  DurationTable table;
};

/// A delay of a DAG as to_quantum_dag gets it: its duration and its unit (null for one without a
/// duration in ns, whose value is not read).
struct GivenDelay {
  double value;
  const DelayUnit* unit;
};

/// _native.to_quantum_dag(source, *, is_dag, durations, delays, dt_ns). Durations in the output's
/// unit; dt_ns is the length of one dt in that unit (NaN when not given).
struct ToQuantumDagRequest {
  const QkDag* dag;          ///< source, when is_dag: a DAGCircuit
  const QkCircuit* circuit;  ///< source, otherwise: a QuantumCircuit's CircuitData
  const DurationTable* durations;
  std::unordered_map<std::uint32_t, GivenDelay>
      delays;    ///< delays: {op node id: (value, unit)} of a DAG's delays
  double dt_ns;  ///< dt_ns: a float, or None
};

/// One gate of a _tarvex.QuantumDAG as its export gives it, with its stored times.
struct GraphNode {
  std::string name;
  std::vector<std::uint32_t> qubits;
  double duration;
  double start = 0.0;
  double end = 0.0;
};

/// _native.from_quantum_dag(graph, *, source, num_qubits, num_clbits, in_dt). The graph is read
/// during binding: every node, with its scheduled times.
struct FromQuantumDagRequest {
  std::vector<GraphNode> nodes;             ///< graph: a scheduled _tarvex.QuantumDAG (or alike)
  PyObject* source_data;                    ///< source: a CircuitData, borrowed, or None (null) ...
  const QkCircuit* source;                  ///< ... and the circuit inside it
  std::optional<std::uint32_t> num_qubits;  ///< num_qubits: an int, or None: as the graph uses
  std::optional<std::uint32_t> num_clbits;  ///< num_clbits: an int, or None
  bool in_dt;                               ///< in_dt: delays in whole dt, else in ns
};

/// _native.dynamic(top, *, out, durations, dt, scheduling, given, fill_very_end,
/// schedule_idle_qubits, custom_order, writer, keep_labels=False, in_own_order=False): the dynamic-circuit passes' one call (see
/// native/dynamic.hpp). The objects are borrowed; they are read when the call runs.
struct DynamicRequest {
  PyObject* top;                   ///< top: the CircuitData of the DAG's root, in topological order
  PyObject* out;                   ///< out: the CircuitData of the empty output, or None (schedule only)
  const DurationTable* durations;  ///< durations: a table made by duration_table()
  double dt;                       ///< dt: seconds per dt
  PyObject* scheduling;            ///< scheduling: "alap", "asap", or None with `given`
  PyObject* given;                 ///< given: (blocks, starts) buffers in the program's node order, or None
  bool fill_very_end;              ///< fill_very_end: pad up to every block's end
  bool schedule_idle_qubits;       ///< schedule_idle_qubits: pad qubits the root never uses
  bool custom_order;               ///< custom_order: the writer gives every block's order
  PyObject* writer;                ///< writer: the Python side's callbacks
  bool pad;                        ///< out is not None
  bool keep_labels;                ///< keep_labels: tell the writer where every copy went (writer.labels)
  bool in_own_order;               ///< in_own_order: `top` is a circuit in its own order, not its DAG's;
                                   ///< every block is written as its DAG lists it (None where it cannot be)
};

/// _native.dynamic_decoupling(top, *, out, durations, dt, scheduling, given, schedule_idle_qubits,
/// custom_order, writer, <decoupling fields>): the dynamic-circuit DD pass's one call (see
/// native/dynamic_dd.hpp). Per sequence s: n_pulses[s] pulses (their gates in `gates`, sequence
/// after sequence), a ratio, its spacings (spacing_counts[s] entries of `spacings`, alt_counts[s]
/// of `alt_spacings`), the phase one cycle adds (for a one-pulse sequence: periods[s] cycles), for a
/// one-pulse sequence the U3 angles and phase of its pulse's inverse at [4 s .. 4 s + 3] of
/// `inverses`, and its period (DecouplingSequence::period; 0 for longer sequences). With
/// keep_labels the copies keep their input instructions' labels (writer.labels).
struct DecouplingRequest {
  PyObject* top;
  PyObject* out;
  const DurationTable* durations;
  double dt;
  PyObject* scheduling;  ///< "alap", "asap", or None with `given`
  PyObject* given;
  bool schedule_idle_qubits;
  bool custom_order;
  PyObject* writer;
  std::vector<std::uint32_t> n_pulses;
  std::vector<double> ratios;
  std::string integral_ratios;  ///< one byte per sequence, nonzero: the ratio is an int
  std::vector<double> spacings;
  std::vector<std::uint32_t> spacing_counts;
  std::vector<double> alt_spacings;
  std::vector<std::uint32_t> alt_counts;
  std::vector<PulseGate> gates;
  std::string selected;              ///< one byte per qubit, nonzero: it may take sequences
  std::vector<std::int64_t> pulse_durations;  ///< [q * total pulses + pulse], whole dt
  std::string colours;               ///< empty, or one byte per qubit (0xff: none)
  bool dd_barrier;                   ///< sequences only before barriers writer.labelled() accepts
  double alignment;
  std::optional<SlackSplit> split;
  bool skip_reset;
  bool multiple_cycles;
  std::vector<double> phases;
  std::vector<double> inverses;
  std::vector<std::uint32_t> periods;
  bool keep_labels;
  bool in_own_order;  ///< as DynamicRequest's
};

/// _native.greedy_colouring(n, edges): one colour byte per node 0 .. n - 1 (255 for 255 and up).
struct ColouringRequest {
  std::uint32_t n;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
};

// The parameters, in the order of each struct's fields; the first comes by position or keyword,
// the others by keyword only.
inline constexpr const char* kPadOptionsParameters[] = {
    "qubits", "decouple", "fill_to_end", "skip_reset",      "alignment",
    "split",  "spacing",  "sequence",    "pulse_durations", "phase"};
inline constexpr kit::FunctionDescription kPadOptions{"pad_options()", kPadOptionsParameters, 1};
inline constexpr const char* kPadParameters[] = {"dag",     "durations", "delays",   "scheduling", "start_times",
                                                 "options", "record",    "labelled", "registers"};
inline constexpr kit::FunctionDescription kPad{"pad()", kPadParameters, 1, (1u << 6) | (1u << 7) | (1u << 8)};
inline constexpr const char* kPadCircuitParameters[] = {"circuit", "durations", "dt",       "scheduling",
                                                        "options", "record",    "labelled", "barriers"};
inline constexpr kit::FunctionDescription kPadCircuit{"pad_circuit()", kPadCircuitParameters, 1,
                                                      (1u << 5) | (1u << 6) | (1u << 7)};
inline constexpr const char* kDurationTableParameters[] = {"entries"};
inline constexpr kit::FunctionDescription kDurationTable{"duration_table()", kDurationTableParameters};
inline constexpr const char* kToQuantumDagParameters[] = {"source", "is_dag", "durations", "delays", "dt_ns"};
inline constexpr kit::FunctionDescription kToQuantumDag{"to_quantum_dag()", kToQuantumDagParameters, 1};
inline constexpr const char* kFromQuantumDagParameters[] = {"graph", "source", "num_qubits", "num_clbits",
                                                            "in_dt"};
inline constexpr kit::FunctionDescription kFromQuantumDag{"from_quantum_dag()", kFromQuantumDagParameters, 1};

inline constexpr const char* kDynamicParameters[] = {
    "top", "out", "durations", "dt", "scheduling", "given", "fill_very_end", "schedule_idle_qubits", "custom_order",
    "writer", "keep_labels", "in_own_order"};
inline constexpr kit::FunctionDescription kDynamic{"dynamic()", kDynamicParameters, 1, (1u << 10) | (1u << 11)};

inline constexpr const char* kDecouplingParameters[] = {
    "top",         "out",          "durations",       "dt",           "scheduling",      "given",
    "schedule_idle_qubits", "custom_order", "writer", "n_pulses",     "ratios",          "integral_ratios",
    "spacings",    "spacing_counts", "alt_spacings",  "alt_counts",   "gates",           "selected",
    "pulse_durations", "colours",  "dd_barrier",      "alignment",    "split",           "skip_reset",
    "multiple_cycles", "phases",   "inverses",        "periods",      "keep_labels", "in_own_order"};
inline constexpr kit::FunctionDescription kDecoupling{"dynamic_decoupling()", kDecouplingParameters, 1, 1ull << 29};
inline constexpr const char* kColouringParameters[] = {"n", "edges"};
inline constexpr kit::FunctionDescription kColouring{"greedy_colouring()", kColouringParameters, 1};

DecouplingRequest bind_decoupling(PyObject* const* slots);
ColouringRequest bind_colouring(PyObject* const* slots);
/// The bound options in a new opaque object (a capsule that owns them), for pad()'s `options`.
PyObject* bind_pad_options(PyObject* const* slots);
PadRequest bind_pad(PyObject* const* slots);
PadCircuitRequest bind_pad_circuit(PyObject* const* slots);
DynamicRequest bind_dynamic(PyObject* const* slots);
DurationTableRequest bind_duration_table(PyObject* const* slots);
ToQuantumDagRequest bind_to_quantum_dag(PyObject* const* slots);
FromQuantumDagRequest bind_from_quantum_dag(PyObject* const* slots);

}  // namespace tarvex::qiskit_plugin
