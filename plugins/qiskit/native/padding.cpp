// The padding entry point: read the DAG, schedule it or take its start times, plan, write.
#include "padding.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "boundary_kit/fault.hpp"
#include "boundary_kit/py_ref.hpp"
#include "boundary_kit/results.hpp"
#include "circuit_writer.hpp"
#include "dag_reader.hpp"
#include "graph/padding_plan.hpp"
#include "messages.hpp"

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
std::vector<std::uint32_t> core_index(const ReadDag& read) {
  std::uint32_t max_id = 0;
  for (std::uint32_t id : read.qk_ids) max_id = std::max(max_id, id);
  std::vector<std::uint32_t> index(std::size_t{max_id} + 1, kAbsent);
  for (std::size_t i = 0; i < read.qk_ids.size(); ++i) index[read.qk_ids[i]] = static_cast<std::uint32_t>(i);
  return index;
}

std::uint32_t lookup(const std::vector<std::uint32_t>& index, std::uint32_t qk_id) {
  return qk_id < index.size() ? index[qk_id] : kAbsent;
}

// The given start times by core node. Entries for nodes of some other DAG are ignored, as Qiskit's
// padding ignores them; a node of this DAG without one was added after the circuit was scheduled.
std::vector<double> given_start_times(const PadRequest& r, const ReadDag& read,
                                      const std::vector<std::uint32_t>& index) {
  std::vector<double> starts(read.qk_ids.size(), std::nan(""));
  for (const auto& [qk_id, t] : r.start_times)
    if (const std::uint32_t i = lookup(index, qk_id); i != kAbsent) starts[i] = t;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    if (std::isnan(starts[i])) {
      raise_no_start_time(node_label(r.dag, read.qk_ids[i]));
      throw PythonErrorSet{};
    }
  }
  return starts;
}

// Receives the plan and writes it. It ends the walk by throwing where Qiskit refuses the output.
struct WritingSink {
  const PadRequest& r;
  const ReadDag& read;
  CircuitWriter& writer;
  std::vector<double>* starts;            // filled in output order when recording
  std::vector<std::uint32_t>* positions;  // output position of each core node, when asked

  void node(NodeId id, double t) {
    if (positions) (*positions)[id] = static_cast<std::uint32_t>(writer.written());
    writer.copy(r.dag, read.qk_ids[id], read.kinds[id], read.gates[id], read.graph.qubits(id), read.n_qubits);
    if (starts) starts->push_back(t);
  }
  void delay(Qubit q, double t, double length) {
    writer.delay(static_cast<std::uint32_t>(q), length);
    if (starts) starts->push_back(t);
  }
  void pulse(Qubit q, std::size_t k, double t) {
    if (!r.split) {
      raise_split_refused();
      throw PythonErrorSet{};
    }
    const PulseGate& g = r.sequence[k];
    writer.gate(static_cast<std::uint8_t>(g.gate), static_cast<std::uint32_t>(q), g.params.data());
    if (starts) starts->push_back(t);
  }
};

[[noreturn]] void refuse_misaligned(const PadRequest& r, const ReadDag& read, const PaddingOutcome& out) {
  const std::string before =
      out.before == kNoNode ? std::string("the circuit's start") : node_label(r.dag, read.qk_ids[out.before]);
  const std::string after =
      out.after == kNoNode ? std::string("the circuit's end") : node_label(r.dag, read.qk_ids[out.after]);
  raise_misaligned(out.stop - out.start, out.qubit, before, after, r.alignment);
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

}  // namespace

PyObject* pad_impl(const PadRequest& r) {
  double phase = 0.0;
  const bool real_phase = real_global_phase(r.dag, phase);
  auto read = std::make_unique<ReadDag>();
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

  const PaddingOptions options{
      .qubits = r.qubits,
      .decouple = r.decouple,
      .fill_to_end = r.fill_to_end,
      .skip_after_reset = r.skip_reset,
      .alignment = r.alignment,
      .slack_split = r.split.value_or(SlackSplit::kMiddle),  // a refused split never gets to split
      .spacing = r.spacing,
      .n_pulses = r.sequence.size(),
      .pulse_durations = r.pulse_durations,
  };
  CircuitWriter writer(r.dag);
  std::vector<double> emitted;
  if (r.record) emitted.reserve(2 * read->qk_ids.size());
  std::vector<std::uint32_t> positions(r.labelled.empty() ? 0 : read->qk_ids.size(), kAbsent);
  WritingSink sink{r, *read, writer, r.record ? &emitted : nullptr,
                   r.labelled.empty() ? nullptr : &positions};
  const std::vector<OpKind>& kinds = read->kinds;
  const PaddingOutcome outcome =
      plan_padding(read->graph, starts, options, [&kinds](NodeId id) { return role_of(kinds[id]); }, sink);
  if (outcome.status == PaddingStatus::kMisaligned) refuse_misaligned(r, *read, outcome);
  if (r.decouple && outcome.n_sequences > 0) {
    if (!real_phase) {
      raise_symbolic_phase();
      throw PythonErrorSet{};
    }
    for (std::size_t k = 0; k < outcome.n_sequences; ++k) phase = add_phase(phase, r.phase);
    writer.set_global_phase(phase);
  }
  read.reset();  // the core graph is not needed any more: less memory at the peak of the conversion

  const std::int64_t end = dt_count(outcome.end);
  std::uint32_t first_op = 0;
  PyRef out = PyRef::steal(writer.finish(first_op));
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

}  // namespace tarvex::qiskit_plugin
