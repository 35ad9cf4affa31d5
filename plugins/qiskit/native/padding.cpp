// The padding entry points: read the DAG or circuit, schedule it (or take its start times), plan, write.
#include "padding.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "boundary_kit/fault.hpp"
#include "boundary_kit/py_ref.hpp"
#include "boundary_kit/results.hpp"
#include "circuit_reader.hpp"
#include "circuit_writer.hpp"
#include "conversions.hpp"
#include "dag_reader.hpp"
#include "graph/padding_plan.hpp"
#include "messages.hpp"
#include "qiskit_objects.hpp"

namespace tarvex::qiskit_plugin {

namespace {

using kit::made;
using kit::PyRef;
using kit::PythonErrorSet;

constexpr std::uint32_t kAbsent = UINT32_MAX;

// Qiskit keeps a DAG's global phase in [0, 2*pi) with the remainder that takes the sign of the
// divisor (Rust's rem_euclid), so -0.0 stays -0.0. Each sequence adds its phase and normalises.
double add_phase(double phase, double added) {
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  const double r = std::fmod(phase + added, kTwoPi);
  return r < 0.0 ? r + kTwoPi : r;
}

// Qiskit op node id -> node of the core's graph (kAbsent where none). O(nodes).
std::vector<std::uint32_t> core_index(const ReadOperations& read) {
  std::uint32_t max_id = 0;
  for (std::uint32_t id : read.source_ids) max_id = std::max(max_id, id);
  std::vector<std::uint32_t> index(std::size_t{max_id} + 1, kAbsent);
  for (std::size_t i = 0; i < read.source_ids.size(); ++i) index[read.source_ids[i]] = static_cast<std::uint32_t>(i);
  return index;
}

std::uint32_t lookup(const std::vector<std::uint32_t>& index, std::uint32_t qk_id) {
  return qk_id < index.size() ? index[qk_id] : kAbsent;
}

// The given start times by core node. Entries for nodes of some other DAG are ignored, as Qiskit's
// padding ignores them; a node of this DAG without one was added after the circuit was scheduled.
std::vector<double> given_start_times(const PadRequest& r, const ReadOperations& read,
                                      const std::vector<std::uint32_t>& index) {
  std::vector<double> starts(read.source_ids.size(), std::nan(""));
  for (const auto& [qk_id, t] : r.start_times)
    if (const std::uint32_t i = lookup(index, qk_id); i != kAbsent) starts[i] = t;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    if (std::isnan(starts[i])) {
      raise_no_start_time(node_label(r.dag, read.source_ids[i]));
      throw PythonErrorSet{};
    }
  }
  return starts;
}

// Receives the plan and writes it, copying operations from `source` (a QkDag or QkCircuit). It
// ends the walk by throwing where Qiskit refuses the output.
template <class Source>
struct WritingSink {
  const Source* source;
  const PadOptions& options;
  const ReadOperations& read;
  CircuitWriter& writer;
  std::vector<double>* starts;            // filled in output order when recording
  std::vector<std::uint32_t>* positions;  // output position of each core node, when asked

  void node(NodeId id, double t) {
    if (positions) (*positions)[id] = static_cast<std::uint32_t>(writer.written());
    writer.copy(source, read.source_ids[id], read.kinds[id], read.gates[id], read.graph.qubits(id), read.n_qubits);
    if (starts) starts->push_back(t);
  }
  void delay(Qubit q, double t, double length) {
    writer.delay(static_cast<std::uint32_t>(q), length);
    if (starts) starts->push_back(t);
  }
  void pulse(Qubit q, std::size_t k, double t) {
    if (!options.split) {
      raise_split_refused();
      throw PythonErrorSet{};
    }
    const PulseGate& g = options.sequence[k];
    writer.gate(static_cast<std::uint8_t>(g.gate), static_cast<std::uint32_t>(q), g.params.data());
    if (starts) starts->push_back(t);
  }
};

[[noreturn]] void refuse_misaligned(const PadRequest& r, const ReadOperations& read, const PaddingOutcome& out) {
  const std::string before =
      out.before == kNoNode ? std::string("the circuit's start") : node_label(r.dag, read.source_ids[out.before]);
  const std::string after =
      out.after == kNoNode ? std::string("the circuit's end") : node_label(r.dag, read.source_ids[out.after]);
  raise_misaligned(out.stop - out.start, out.qubit, before, after, r.options->alignment);
  throw PythonErrorSet{};
}

// The writer's start times as int64 bytes, for the Python side's lazy node_start_time mapping.
PyObject* start_time_bytes(const std::vector<double>& starts) {
  PyRef bytes =
      PyRef::steal(made(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(starts.size() * 8))));
  auto* out = reinterpret_cast<std::int64_t*>(PyBytes_AS_STRING(bytes.get()));
  for (std::size_t k = 0; k < starts.size(); ++k) out[k] = dt_count(starts[k]);
  return bytes.release();
}

// The output node id of each labelled node, None where it was not copied.
PyObject* labelled_output(const PadRequest& r, const std::vector<std::uint32_t>& index,
                          const std::vector<std::uint32_t>& positions, std::uint32_t first_op) {
  PyRef list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(r.labelled.size()))));
  for (std::size_t k = 0; k < r.labelled.size(); ++k) {
    const std::uint32_t i = lookup(index, r.labelled[k]);
    const std::uint32_t at = i == kAbsent ? kAbsent : positions[i];
    PyObject* id =
        at == kAbsent ? Py_NewRef(Py_None) : made(PyLong_FromUnsignedLongLong(std::uint64_t{first_op} + at));
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), id);
  }
  return list.release();
}

// The planner's view of the options. A refused split never gets to split: the first pulse refuses it.
PaddingOptions planner_options(const PadOptions& o) {
  return PaddingOptions{
      .qubits = o.qubits,
      .decouple = o.decouple,
      .fill_to_end = o.fill_to_end,
      .skip_after_reset = o.skip_reset,
      .alignment = o.alignment,
      .slack_split = o.split.value_or(SlackSplit::kMiddle),
      .spacing = o.spacing,
      .n_pulses = o.sequence.size(),
      .pulse_durations = o.pulse_durations,
  };
}

// `phase` with `n` sequences' phase added, one at a time as Qiskit adds them.
double with_sequences(double phase, std::size_t n, double sequence_phase) {
  for (std::size_t k = 0; k < n; ++k) phase = add_phase(phase, sequence_phase);
  return phase;
}

PaddingRole role_of(OpKind kind) {
  switch (kind) {
    case OpKind::kDelay:
      return PaddingRole::kIdle;
    case OpKind::kReset:
      return PaddingRole::kReset;
    default:
      return PaddingRole::kOperation;
  }
}

// (instruction index, output index) of every barrier of the circuit read.
PyObject* barrier_positions(const ReadOperations& read, const std::vector<std::uint32_t>& positions) {
  PyRef list = PyRef::steal(made(PyList_New(0)));
  for (std::size_t i = 0; i < read.kinds.size(); ++i) {
    if (read.kinds[i] != OpKind::kBarrier) continue;
    PyRef pair = PyRef::steal(made(Py_BuildValue("(II)", read.source_ids[i], positions[i])));
    if (PyList_Append(list.get(), pair.get()) < 0) kit::result_failed();
  }
  return list.release();
}

// Start times as a list of ints, for QuantumCircuit.op_start_times.
PyObject* start_time_list(const std::vector<double>& starts) {
  PyRef list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(starts.size()))));
  for (std::size_t k = 0; k < starts.size(); ++k)
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), made(PyLong_FromLongLong(dt_count(starts[k]))));
  return list.release();
}

}  // namespace

PyObject* pad_impl(const PadRequest& r) {
  double phase = 0.0;
  const bool real_phase = real_global_phase(r.dag, phase);
  auto read = std::make_unique<ReadOperations>();
  if (!read_dag(r.dag, *r.durations, r.delays, *read)) Py_RETURN_NONE;
  std::vector<std::uint32_t> index;
  if (r.scheduling == Scheduling::kGiven || !r.labelled.empty()) index = core_index(*read);
  std::vector<double> given;
  std::span<const double> starts;
  switch (r.scheduling) {
    case Scheduling::kGiven:
      given = given_start_times(r, *read, index);
      starts = given;
      break;
    case Scheduling::kAlap:
      read->graph.build_alap_schedule();
      starts = read->graph.start_times();
      break;
    case Scheduling::kAsap:
      read->graph.build_schedule();
      starts = read->graph.start_times();
      break;
  }

  const PaddingOptions options = planner_options(*r.options);
  CircuitWriter writer = r.registers ? CircuitWriter(r.dag, *r.registers) : CircuitWriter(r.dag);
  std::vector<double> emitted;
  if (r.record) emitted.reserve(2 * read->source_ids.size());
  std::vector<std::uint32_t> positions(r.labelled.empty() ? 0 : read->source_ids.size(), kAbsent);
  WritingSink<QkDag> sink{r.dag, *r.options, *read, writer, r.record ? &emitted : nullptr,
                          r.labelled.empty() ? nullptr : &positions};
  const std::vector<OpKind>& kinds = read->kinds;
  const PaddingOutcome outcome =
      plan_padding(read->graph, starts, options, [&kinds](NodeId id) { return role_of(kinds[id]); }, sink);
  if (outcome.status == PaddingStatus::kMisaligned) refuse_misaligned(r, *read, outcome);
  if (r.options->decouple && outcome.n_sequences > 0) {
    if (!real_phase) {
      raise_symbolic_phase();
      throw PythonErrorSet{};
    }
    writer.set_global_phase(with_sequences(phase, outcome.n_sequences, r.options->phase));
  }
  read.reset();  // the core graph is not needed any more: less memory at the peak of the conversion

  const std::int64_t end = dt_count(outcome.end);
  std::uint32_t first_op = 0;
  // The numbering is needed only to describe the output's nodes: start times and labels.
  PyRef out = PyRef::steal(writer.finish(r.record || !r.labelled.empty() ? &first_op : nullptr));
  PyRef start_times = r.record ? PyRef::steal(start_time_bytes(emitted)) : PyRef::borrow(Py_None);
  PyRef labelled = PyRef::steal(labelled_output(r, index, positions, first_op));
  PyRef n_sequences = PyRef::steal(made(PyLong_FromSize_t(outcome.n_sequences)));
  PyRef end_dt = PyRef::steal(made(PyLong_FromLongLong(end)));
  PyRef first = PyRef::steal(made(PyLong_FromUnsignedLong(first_op)));
  PyObject* result = made(PyTuple_New(6));
  PyTuple_SET_ITEM(result, 0, out.release());
  PyTuple_SET_ITEM(result, 1, n_sequences.release());
  PyTuple_SET_ITEM(result, 2, end_dt.release());
  PyTuple_SET_ITEM(result, 3, start_times.release());
  PyTuple_SET_ITEM(result, 4, first.release());
  PyTuple_SET_ITEM(result, 5, labelled.release());
  return result;
}

PyObject* pad_circuit_impl(const PadCircuitRequest& r) {
  double phase = 0.0;
  const bool real_phase = real_global_phase(r.circuit, phase);
  auto read = std::make_unique<ReadOperations>();
  if (!read_circuit(r.circuit, *r.durations, r.dt, *read)) Py_RETURN_NONE;
  if (r.scheduling == Scheduling::kAlap) {
    read->graph.build_alap_schedule();
  } else {
    read->graph.build_schedule();
  }
  const std::size_t n = read->source_ids.size();
  PyRef data = empty_copy_of(r.data, 2 * n);
  CircuitWriter writer(const_cast<QkCircuit*>(extract_circuit(data.get())));
  std::vector<double> written_starts;
  if (r.record) written_starts.reserve(2 * n);
  // Output position of each copied operation; a circuit's instruction i is core node i.
  std::vector<std::uint32_t> positions(!r.labelled.empty() || r.barriers ? n : 0, kAbsent);
  WritingSink<QkCircuit> sink{r.circuit,
                              *r.options,
                              *read,
                              writer,
                              r.record ? &written_starts : nullptr,
                              positions.empty() ? nullptr : &positions};
  const std::vector<OpKind>& kinds = read->kinds;
  const PaddingOutcome outcome = plan_padding_lexicographic(
      read->graph, read->graph.start_times(), planner_options(*r.options),
      std::size_t{read->n_qubits} + read->n_clbits, [&kinds](NodeId id) { return role_of(kinds[id]); }, sink);
  // Qiskit's message names the misaligned stretch its own walk meets first: left to the DAG path.
  if (outcome.status == PaddingStatus::kMisaligned) Py_RETURN_NONE;
  const bool sequences = r.options->decouple && outcome.n_sequences > 0;
  if (sequences && !real_phase) Py_RETURN_NONE;
  if (sequences) writer.set_global_phase(with_sequences(phase, outcome.n_sequences, r.options->phase));
  PyRef barriers = r.barriers ? PyRef::steal(barrier_positions(*read, positions)) : PyRef::borrow(Py_None);
  read.reset();

  const std::int64_t end = dt_count(outcome.end);
  PyRef start_times = r.record ? PyRef::steal(start_time_list(written_starts)) : PyRef::borrow(Py_None);
  PyRef labelled = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(r.labelled.size()))));
  for (std::size_t k = 0; k < r.labelled.size(); ++k) {
    const std::uint32_t i = r.labelled[k];
    const std::uint32_t at = i < positions.size() ? positions[i] : kAbsent;
    PyObject* index = at == kAbsent ? Py_NewRef(Py_None) : made(PyLong_FromUnsignedLong(at));
    PyList_SET_ITEM(labelled.get(), static_cast<Py_ssize_t>(k), index);
  }
  PyRef n_sequences = PyRef::steal(made(PyLong_FromSize_t(outcome.n_sequences)));
  PyRef end_dt = PyRef::steal(made(PyLong_FromLongLong(end)));
  PyObject* result = made(PyTuple_New(6));
  PyTuple_SET_ITEM(result, 0, data.release());
  PyTuple_SET_ITEM(result, 1, n_sequences.release());
  PyTuple_SET_ITEM(result, 2, end_dt.release());
  PyTuple_SET_ITEM(result, 3, start_times.release());
  PyTuple_SET_ITEM(result, 4, labelled.release());
  PyTuple_SET_ITEM(result, 5, barriers.release());
  return result;
}

}  // namespace tarvex::qiskit_plugin
