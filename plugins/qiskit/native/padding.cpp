// The padding entry point: read the DAG, schedule it or take its start times, plan, write.
#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <string_view>

#include "circuit_writer.hpp"
#include "dag_reader.hpp"
#include "graph/padding_plan.hpp"
#include "padding.hpp"
#include "ref.hpp"

namespace tarvex::qiskit_plugin {

namespace {

// Qiskit keeps a DAG's global phase in [0, 2*pi) with the remainder that takes the sign of the
// divisor (Rust's rem_euclid), so -0.0 stays -0.0. Each sequence adds its phase and normalises.
double add_phase(double phase, double added) {
  constexpr double kTwoPi = 2.0 * std::numbers::pi;
  const double r = std::fmod(phase + added, kTwoPi);
  return r < 0.0 ? r + kTwoPi : r;
}

struct PulseGate {
  std::uint8_t gate;
  std::vector<double> params;
};

// The options the Python side prepared, converted once.
struct Request {
  PyObject* dag = nullptr;
  DurationTable parsed;
  const DurationTable* durations = nullptr;
  std::unordered_map<std::uint32_t, double> delay_dt;
  PyObject* scheduling = nullptr;  // "asap", "alap", or a dict of start times
  std::vector<QubitPadding> qubits;
  PaddingOptions options;
  std::vector<double> spacing;
  std::vector<PulseGate> sequence;
  std::vector<double> pulse_durations;
  double sequence_phase = 0.0;
  bool record = false;
  // Qiskit refuses an unknown extra_slack_distribution only where a sequence is placed.
  bool split_refused = false;
};

bool parse_doubles(PyObject* seq, std::vector<double>& out, const char* what) {
  Ref fast = Ref::steal(PySequence_Fast(seq, what));
  if (!fast) return false;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.get());
  out.resize(n);
  for (Py_ssize_t i = 0; i < n; ++i) {
    out[i] = PyFloat_AsDouble(PySequence_Fast_GET_ITEM(fast.get(), i));
    if (out[i] == -1.0 && PyErr_Occurred()) return false;
  }
  return true;
}

bool parse_request(PyObject* args, PyObject* kwargs, Request& r) {
  static const char* keywords[] = {"dag",      "durations",   "delays",          "scheduling", "qubits",
                                   "decouple", "fill_to_end", "skip_reset",      "alignment",  "split",
                                   "spacing",  "sequence",    "pulse_durations", "phase",      "record",
                                   nullptr};
  PyObject *durations, *delays, *qubits, *split, *spacing, *sequence, *pulse_durations;
  int decouple, fill_to_end, skip_reset, record;
  double alignment;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O$OO!OSpppdUOOOdp:pad", const_cast<char**>(keywords),
                                   &r.dag, &durations, &PyDict_Type, &delays, &r.scheduling, &qubits,
                                   &decouple, &fill_to_end, &skip_reset, &alignment, &split, &spacing,
                                   &sequence, &pulse_durations, &r.sequence_phase, &record))
    return false;
  r.durations = table_from(durations, r.parsed);
  if (r.durations == nullptr) return false;
  PyObject *key, *value;
  Py_ssize_t pos = 0;
  while (PyDict_Next(delays, &pos, &key, &value)) {
    const unsigned long id = PyLong_AsUnsignedLong(key);
    const double dt = PyFloat_AsDouble(value);
    if (PyErr_Occurred()) return false;
    r.delay_dt[static_cast<std::uint32_t>(id)] = dt;
  }
  // One byte per qubit: bit 0 pads the qubit, bit 1 lets it take a sequence.
  const std::string_view flags(PyBytes_AS_STRING(qubits), PyBytes_GET_SIZE(qubits));
  r.qubits.resize(flags.size());
  for (std::size_t q = 0; q < flags.size(); ++q)
    r.qubits[q] = QubitPadding{.pad = (flags[q] & 1) != 0, .decouple = (flags[q] & 2) != 0};
  if (!parse_doubles(spacing, r.spacing, "spacing must be a sequence") ||
      !parse_doubles(pulse_durations, r.pulse_durations, "pulse_durations must be a sequence"))
    return false;
  Ref gates = Ref::steal(PySequence_Fast(sequence, "sequence must be a sequence of (gate, params)"));
  if (!gates) return false;
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(gates.get()); ++i) {
    int gate;
    PyObject* params;
    if (!PyArg_ParseTuple(PySequence_Fast_GET_ITEM(gates.get(), i), "iO:sequence entry", &gate, &params))
      return false;
    PulseGate& p = r.sequence.emplace_back(PulseGate{static_cast<std::uint8_t>(gate), {}});
    if (!parse_doubles(params, p.params, "gate params must be a sequence")) return false;
  }
  const std::string_view split_name(PyUnicode_AsUTF8(split));
  r.options = PaddingOptions{
      .qubits = r.qubits,
      .decouple = decouple != 0,
      .fill_to_end = fill_to_end != 0,
      .skip_after_reset = skip_reset != 0,
      .alignment = alignment,
      .slack_split = split_name == "edges" ? SlackSplit::kEdges : SlackSplit::kMiddle,
      .spacing = r.spacing,
      .n_pulses = r.sequence.size(),
      .pulse_durations = r.pulse_durations,
  };
  r.record = record != 0;
  r.split_refused = split_name != "middle" && split_name != "edges";
  if (r.options.decouple && r.pulse_durations.size() != r.qubits.size() * r.sequence.size()) {
    PyErr_SetString(PyExc_ValueError, "pulse_durations must hold one duration per qubit and pulse");
    return false;
  }
  return true;
}

// Start times from a mapping keyed by the DAG's op nodes (Qiskit's node_start_time: a dict, or
// the mapping its scheduling analyses return), by core node.
bool given_start_times(const QkDag* dag, const ReadDag& read, PyObject* starts, std::vector<double>& out) {
  std::uint32_t max_id = 0;
  for (std::uint32_t id : read.qk_ids) max_id = std::max(max_id, id);
  std::vector<std::uint32_t> index_of(std::size_t{max_id} + 1, UINT32_MAX);
  for (std::size_t i = 0; i < read.qk_ids.size(); ++i)
    index_of[read.qk_ids[i]] = static_cast<std::uint32_t>(i);
  out.assign(read.qk_ids.size(), std::nan(""));
  static PyObject* node_id_name = PyUnicode_InternFromString("_node_id");
  Ref items = Ref::steal(PyObject_CallMethod(starts, "items", nullptr));
  Ref iter = items ? Ref::steal(PyObject_GetIter(items.get())) : Ref();
  if (!iter) return false;
  while (Ref item = Ref::steal(PyIter_Next(iter.get()))) {
    PyObject *key, *value;
    if (!PyArg_ParseTuple(item.get(), "OO:node_start_time item", &key, &value)) return false;
    Ref id_obj = Ref::steal(PyObject_GetAttr(key, node_id_name));
    if (!id_obj) return false;
    const unsigned long id = PyLong_AsUnsignedLong(id_obj.get());
    if (id == static_cast<unsigned long>(-1) && PyErr_Occurred()) return false;
    if (id > max_id || index_of[id] == UINT32_MAX) continue;  // a node of some other DAG
    const double t = PyFloat_AsDouble(value);
    if (t == -1.0 && PyErr_Occurred()) return false;
    out[index_of[id]] = t;
  }
  if (PyErr_Occurred()) return false;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (std::isnan(out[i])) {
      raise_for_node(dag, read.qk_ids[i],
                     "no start time: it was added after the circuit was scheduled; "
                     "schedule the circuit again");
      return false;
    }
  }
  return true;
}

// Receives the plan and writes it; after the first refusal it only keeps the error.
struct WritingSink {
  const QkDag* dag;
  const ReadDag& read;
  const std::vector<PulseGate>& sequence;
  CircuitWriter& writer;
  std::vector<double>* starts;  // filled in output order when recording
  bool split_refused;
  bool failed = false;

  void node(NodeId id, double t) {
    if (failed) return;
    failed = !writer.copy(dag, read.qk_ids[id], read.kinds[id], read.gates[id], read.graph.qubits(id),
                          read.n_qubits);
    if (starts) starts->push_back(t);
  }
  void delay(Qubit q, double t, double length) {
    if (failed) return;
    failed = !writer.delay(static_cast<std::uint32_t>(q), length);
    if (starts) starts->push_back(t);
  }
  void pulse(Qubit q, std::size_t k, double t) {
    if (failed) return;
    if (split_refused) {
      PyErr_SetString(transpiler_error(), "extra_slack_distribution must be 'middle' or 'edges'");
      failed = true;
      return;
    }
    const PulseGate& g = sequence[k];
    failed = !writer.gate(g.gate, static_cast<std::uint32_t>(q), g.params.data());
    if (starts) starts->push_back(t);
  }
};

void raise_for_outcome(const QkDag* dag, const ReadDag& read, const PaddingOutcome& out, double alignment) {
  const std::string before =
      out.before == kNoNode ? std::string("the circuit's start") : node_label(dag, read.qk_ids[out.before]);
  const std::string after =
      out.after == kNoNode ? std::string("the circuit's end") : node_label(dag, read.qk_ids[out.after]);
  PyErr_Format(transpiler_error(),
               "the idle time of %lld dt on qubit %llu between %s and %s is not a multiple of the pulse "
               "alignment %lld",
               static_cast<long long>(out.stop - out.start), static_cast<unsigned long long>(out.qubit),
               before.c_str(), after.c_str(), static_cast<long long>(alignment));
}

// The writer's start times as int64 bytes, for the Python side's lazy node_start_time mapping.
PyObject* start_time_bytes(const std::vector<double>& starts) {
  Ref bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(starts.size() * 8)));
  if (!bytes) return nullptr;
  auto* out = reinterpret_cast<std::int64_t*>(PyBytes_AS_STRING(bytes.get()));
  for (std::size_t k = 0; k < starts.size(); ++k) out[k] = static_cast<std::int64_t>(starts[k]);
  return bytes.release();
}

PyObject* pad_impl(PyObject* args, PyObject* kwargs) {
  Request r;
  if (!parse_request(args, kwargs, r)) return nullptr;
  QkDag* dag = borrow_dag(r.dag);
  if (dag == nullptr) return nullptr;
  double phase = 0.0;
  const bool real_phase = real_global_phase(dag, phase);

  auto read = std::make_unique<ReadDag>();
  if (!read_dag(dag, *r.durations, r.delay_dt, *read)) return nullptr;
  std::vector<double> given;
  std::span<const double> start_ns;
  if (!PyUnicode_Check(r.scheduling)) {
    if (!given_start_times(dag, *read, r.scheduling, given)) return nullptr;
    start_ns = given;
  } else {
    const char* how = PyUnicode_AsUTF8(r.scheduling);
    if (how == nullptr) return nullptr;
    if (std::string_view(how) == "alap") {
      read->graph.build_alap_schedule();
    } else {
      read->graph.build_schedule();
    }
    start_ns = read->graph.start_times();
  }

  CircuitWriter writer;
  if (!writer.begin(dag)) return nullptr;
  std::vector<double> emitted;
  if (r.record) emitted.reserve(2 * read->qk_ids.size());
  WritingSink sink{dag, *read, r.sequence, writer, r.record ? &emitted : nullptr, r.split_refused};
  const std::vector<OpKind>& kinds = read->kinds;
  auto role = [&kinds](NodeId id) {
    switch (kinds[id]) {
      case OpKind::kDelay:
        return PaddingRole::kIdle;
      case OpKind::kReset:
        return PaddingRole::kReset;
      default:
        return PaddingRole::kOperation;
    }
  };
  const PaddingOutcome outcome = plan_padding(read->graph, start_ns, r.options, role, sink);
  if (sink.failed) return nullptr;
  if (outcome.status != PaddingStatus::kDone) {
    raise_for_outcome(dag, *read, outcome, r.options.alignment);
    return nullptr;
  }
  if (r.options.decouple && outcome.n_sequences > 0) {
    if (!real_phase) {
      PyErr_SetString(PyExc_ValueError, "a symbolic global phase cannot take the sequences' phase natively");
      return nullptr;
    }
    for (std::size_t k = 0; k < outcome.n_sequences; ++k) phase = add_phase(phase, r.sequence_phase);
    if (!writer.set_global_phase(phase)) return nullptr;
  }
  read.reset();  // the core graph is not needed any more: less memory at the peak of the conversion
  std::uint32_t first_op = 0;
  Ref out = Ref::steal(writer.finish(first_op));
  if (!out) return nullptr;
  Ref starts = Ref::borrow(Py_None);
  if (r.record) {
    starts = Ref::steal(start_time_bytes(emitted));
    if (!starts) return nullptr;
  }
  return Py_BuildValue("(NnLNI)", out.release(), static_cast<Py_ssize_t>(outcome.n_sequences),
                       static_cast<long long>(outcome.end), starts.release(), first_op);
}

}  // namespace

PyObject* pad(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] { return pad_impl(args, kwargs); });
}

}  // namespace tarvex::qiskit_plugin
