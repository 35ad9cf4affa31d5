// The typed request of each native entry point, and the binding of a call's arguments into it.
#include "requests.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>

#include "boundary_kit/fault.hpp"
#include "boundary_kit/messages.hpp"
#include "boundary_kit/py_ref.hpp"
#include "boundary_kit/results.hpp"
#include "conversions.hpp"
#include "gate_params.hpp"
#include "messages.hpp"
#include "qiskit_objects.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_requests() { return qk_import() == 0; }

namespace {

using kit::extract_argument;
using kit::PyRef;
using kit::PythonErrorSet;

constexpr double kMaxWhole = 9007199254740992.0;  // 2**53: every whole number up to it is exact

std::uint32_t qiskit_index(const char* argument, std::uint64_t value) {
  if (value > UINT32_MAX) {
    raise_beyond_qiskit(argument, value);
    throw PythonErrorSet{};
  }
  return static_cast<std::uint32_t>(value);
}

double whole_dt(const char* argument, double value, int low) {
  if (!(value >= low && value <= kMaxWhole && value == std::floor(value))) {
    raise_not_whole_dt(argument, value, low);
    throw PythonErrorSet{};
  }
  return value;
}

// The pairs of a mapping as a new list of (key, value) tuples: a snapshot, so that Python code the
// conversion of an item runs cannot change what is being walked.
PyRef mapping_items(PyObject* obj, bool dict_only) {
  if (dict_only ? !PyDict_Check(obj) : !PyMapping_Check(obj)) {
    kit::raise_cast_error(Py_TYPE(obj), dict_only ? "dict" : "Mapping");
    throw PythonErrorSet{};
  }
  PyRef items = PyRef::steal(PyMapping_Items(obj));
  if (!items) kit::python_call_failed();
  return items;
}

// Calls `each(key, value)` for every pair of `items` (made by mapping_items).
template <class Each>
void for_each_pair(PyObject* items, Each&& each) {
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items); ++i) {
    PyRef item = PyRef::borrow(PyList_GET_ITEM(items, i));
    if (!PyTuple_Check(item.get()) || PyTuple_GET_SIZE(item.get()) != 2) {
      kit::raise_cast_error(Py_TYPE(item.get()), "tuple");
      throw PythonErrorSet{};
    }
    each(PyTuple_GET_ITEM(item.get(), 0), PyTuple_GET_ITEM(item.get(), 1));
  }
}

DelayDurations extract_delays(PyObject* obj) {
  PyRef items = mapping_items(obj, true);
  DelayDurations delays;
  for_each_pair(items.get(), [&](PyObject* key, PyObject* value) {
    delays[qiskit_index("delays", kit::extract_u64(key))] = whole_dt("delays", kit::extract_f64(value), 0);
  });
  return delays;
}

std::vector<std::pair<std::uint32_t, double>> extract_start_times(PyObject* obj) {
  std::vector<std::pair<std::uint32_t, double>> starts;
  if (obj == Py_None) return starts;
  PyRef items = mapping_items(obj, false);
  starts.reserve(static_cast<std::size_t>(PyList_GET_SIZE(items.get())));
  for_each_pair(items.get(), [&](PyObject* node, PyObject* value) {
    PyRef id = PyRef::steal(PyObject_GetAttr(node, node_id_attribute()));
    if (!id) kit::python_call_failed();
    starts.emplace_back(qiskit_index("start_times", kit::extract_u64(id.get())),
                        whole_dt("start_times", kit::extract_f64(value), 0));
  });
  return starts;
}

Scheduling extract_scheduling(PyObject* obj) {
  const std::string_view how = kit::extract_str(obj);
  if (how == "alap") return Scheduling::kAlap;
  if (how == "asap") return Scheduling::kAsap;
  if (how == "given") return Scheduling::kGiven;
  raise_not_a_choice("scheduling", "'alap', 'asap' or 'given'");
  throw PythonErrorSet{};
}

std::vector<QubitPadding> extract_qubit_flags(PyObject* obj) {
  const std::string_view flags = kit::extract_bytes(obj);
  std::vector<QubitPadding> qubits(flags.size());
  for (std::size_t q = 0; q < flags.size(); ++q)
    qubits[q] = QubitPadding{.pad = (flags[q] & 1) != 0, .decouple = (flags[q] & 2) != 0};
  return qubits;
}

std::optional<SlackSplit> extract_split(PyObject* obj) {
  const std::string_view split = kit::extract_str(obj);
  if (split == "middle") return SlackSplit::kMiddle;
  if (split == "edges") return SlackSplit::kEdges;
  return std::nullopt;
}

std::vector<double> extract_fractions(const char* argument, PyObject* obj) {
  std::vector<double> fractions = kit::extract_f64_list(obj);
  for (double f : fractions) {
    if (!(f >= 0.0 && f <= 1.0)) {
      raise_not_a_fraction(argument, f);
      throw PythonErrorSet{};
    }
  }
  return fractions;
}

std::vector<double> extract_pulse_durations(PyObject* obj) {
  std::vector<double> durations = kit::extract_f64_list(obj);
  for (double d : durations) whole_dt("pulse_durations", d, 0);
  return durations;
}

double extract_finite(const char* argument, PyObject* obj) {
  const double value = kit::extract_f64(obj);
  if (!std::isfinite(value)) {
    raise_not_finite(argument, value);
    throw PythonErrorSet{};
  }
  return value;
}

// One (QkGate value, params) pair of a DD sequence.
constexpr char kSequenceArgument[] = "sequence";
constexpr char kGatesArgument[] = "gates";

// One (gate, params) pulse of the argument named kArgument.
template <const char* kArgument>
struct PulseGateItem {
  static PulseGate convert(PyObject* obj) {
    if (!PyTuple_Check(obj) || PyTuple_GET_SIZE(obj) != 2) {
      kit::raise_cast_error(Py_TYPE(obj), "tuple");
      throw PythonErrorSet{};
    }
    const std::uint64_t gate = kit::extract_u64(PyTuple_GET_ITEM(obj, 0));
    if (gate >= kNumStandardGates || qk_gate_num_qubits(static_cast<QkGate>(gate)) != 1) {
      raise_not_a_pulse_gate(kArgument, gate);
      throw PythonErrorSet{};
    }
    std::vector<double> params = kit::extract_f64_list(PyTuple_GET_ITEM(obj, 1));
    const std::size_t expected = qk_gate_num_params(static_cast<QkGate>(gate));
    if (params.size() != expected) {
      raise_pulse_params(kArgument, gate, expected, params.size());
      throw PythonErrorSet{};
    }
    return PulseGate{static_cast<QkGate>(gate), std::move(params)};
  }
  static bool inert(PyObject*) { return false; }
};

// One (name, size, quantum) tuple of `registers`.
struct RegisterItem {
  static RegisterSpec convert(PyObject* obj) {
    if (!PyTuple_Check(obj) || PyTuple_GET_SIZE(obj) != 3) {
      raise_not_a_register();
      throw PythonErrorSet{};
    }
    RegisterSpec spec{std::string(kit::extract_str(PyTuple_GET_ITEM(obj, 0))),
                      qiskit_index("registers", kit::extract_u64(PyTuple_GET_ITEM(obj, 1))),
                      kit::extract_bool(PyTuple_GET_ITEM(obj, 2))};
    if (spec.name.find('\0') != std::string::npos) {
      raise_register_name_nul();
      throw PythonErrorSet{};
    }
    return spec;
  }
  static bool inert(PyObject*) { return false; }
};

std::optional<std::vector<RegisterSpec>> extract_registers(PyObject* obj) {
  if (obj == Py_None) return std::nullopt;
  return kit::extract_sequence<RegisterItem, std::vector<RegisterSpec>>(obj);
}

// The registers' bits add up to the DAG's.
void check_registers(const std::optional<std::vector<RegisterSpec>>& registers, const QkDag* dag) {
  if (!registers) return;
  std::uint64_t qubits = 0, clbits = 0;
  for (const RegisterSpec& r : *registers) (r.quantum ? qubits : clbits) += r.size;
  if (qubits != qk_dag_num_qubits(dag) || clbits != qk_dag_num_clbits(dag)) {
    raise_registers_mismatch(qubits, clbits, qk_dag_num_qubits(dag), qk_dag_num_clbits(dag));
    throw PythonErrorSet{};
  }
}

std::vector<std::uint32_t> extract_node_ids(PyObject* obj) {
  const kit::U64List ids = kit::extract_u64_list(obj);
  std::vector<std::uint32_t> out;
  out.reserve(ids.view().size());
  for (std::uint64_t id : ids.view()) out.push_back(qiskit_index("labelled", id));
  return out;
}

// The ten PadOptions fields from consecutive slots, in the struct's order.
PadOptions read_pad_options(PyObject* const* slots) {
  return PadOptions{
      .qubits = extract_argument("qubits", extract_qubit_flags, slots[0]),
      .decouple = extract_argument("decouple", kit::extract_bool, slots[1]),
      .fill_to_end = extract_argument("fill_to_end", kit::extract_bool, slots[2]),
      .skip_reset = extract_argument("skip_reset", kit::extract_bool, slots[3]),
      .alignment = extract_argument(
          "alignment", [](PyObject* o) { return whole_dt("alignment", kit::extract_f64(o), 1); }, slots[4]),
      .split = extract_argument("split", extract_split, slots[5]),
      .spacing = extract_argument("spacing", [](PyObject* o) { return extract_fractions("spacing", o); }, slots[6]),
      .sequence = extract_argument("sequence", kit::extract_sequence<PulseGateItem<kSequenceArgument>, std::vector<PulseGate>>,
                                   slots[7]),
      .pulse_durations = extract_argument("pulse_durations", extract_pulse_durations, slots[8]),
      .phase = extract_argument(
          "phase", [](PyObject* o) { return extract_finite("phase", o); }, slots[9]),
  };
}

void free_pad_options(PyObject* capsule) {
  delete static_cast<PadOptions*>(PyCapsule_GetPointer(capsule, text::kPadOptionsName));
}

// The options inside an object made by bind_pad_options; TypeError for any other object. They
// live as long as the object, which the caller's arguments hold for the whole call.
const PadOptions* extract_pad_options(PyObject* obj) {
  if (!PyCapsule_IsValid(obj, text::kPadOptionsName)) {
    kit::raise_cast_error(Py_TYPE(obj), "PadOptions");
    throw PythonErrorSet{};
  }
  return static_cast<const PadOptions*>(PyCapsule_GetPointer(obj, text::kPadOptionsName));
}

// The cross-field facts of the options and durations of a source with `n_qubits` qubits. O(1).
void check_pad_options(const PadOptions& o, const DurationTable& durations, std::size_t n_qubits, const char* per) {
  if (!durations.whole()) {
    raise_durations_not_whole();
    throw PythonErrorSet{};
  }
  if (o.qubits.size() != n_qubits) {
    raise_count_mismatch("options", o.qubits.size(), n_qubits, per);
    throw PythonErrorSet{};
  }
}

GivenDelay extract_given_delay(PyObject* obj) {
  if (!PyTuple_Check(obj) || PyTuple_GET_SIZE(obj) != 2) {
    kit::raise_cast_error(Py_TYPE(obj), "tuple");
    throw PythonErrorSet{};
  }
  const DelayUnit* unit = find_delay_unit(kit::extract_str(PyTuple_GET_ITEM(obj, 1)));
  return GivenDelay{unit == nullptr ? std::nan("") : kit::extract_f64(PyTuple_GET_ITEM(obj, 0)), unit};
}

std::unordered_map<std::uint32_t, GivenDelay> extract_given_delays(PyObject* obj) {
  PyRef items = mapping_items(obj, true);
  std::unordered_map<std::uint32_t, GivenDelay> delays;
  for_each_pair(items.get(), [&](PyObject* key, PyObject* value) {
    delays.insert_or_assign(qiskit_index("delays", kit::extract_u64(key)), extract_given_delay(value));
  });
  return delays;
}

std::optional<std::uint32_t> extract_count(const char* argument, PyObject* obj) {
  if (obj == Py_None) return std::nullopt;
  return qiskit_index(argument, kit::extract_u64(obj));
}

}  // namespace

PyObject* bind_pad_options(PyObject* const* slots) {
  auto options = std::make_unique<PadOptions>(read_pad_options(slots));
  if (options->decouple && options->pulse_durations.size() != options->qubits.size() * options->sequence.size()) {
    raise_count_mismatch("pulse_durations", options->pulse_durations.size(),
                         options->qubits.size() * options->sequence.size(), "one per qubit and pulse");
    throw PythonErrorSet{};
  }
  PyObject* capsule = kit::made(PyCapsule_New(options.get(), text::kPadOptionsName, free_pad_options));
  (void)options.release();  // the capsule owns them now
  return capsule;
}

PadRequest bind_pad(PyObject* const* slots) {
  PadRequest r{
      .dag = extract_argument("dag", extract_dag, slots[0]),
      .durations = extract_argument("durations", extract_duration_table, slots[1]),
      .delays = extract_argument("delays", extract_delays, slots[2]),
      .scheduling = extract_argument("scheduling", extract_scheduling, slots[3]),
      .start_times = extract_argument("start_times", extract_start_times, slots[4]),
      .options = extract_argument("options", extract_pad_options, slots[5]),
      .record = kit::extract_optional("record", kit::extract_bool, slots[6], false),
      .labelled =
          kit::extract_optional("labelled", extract_node_ids, slots[7], std::vector<std::uint32_t>{}),
      .registers = kit::extract_optional("registers", extract_registers, slots[8],
                                         std::optional<std::vector<RegisterSpec>>{}),
  };
  if ((r.scheduling == Scheduling::kGiven) != (slots[4] != Py_None)) {
    raise_start_times_mismatch();
    throw PythonErrorSet{};
  }
  check_pad_options(*r.options, *r.durations, qk_dag_num_qubits(r.dag), "one qubit entry per qubit of the DAG");
  check_registers(r.registers, r.dag);
  return r;
}

PadCircuitRequest bind_pad_circuit(PyObject* const* slots) {
  PadCircuitRequest r{
      .data = slots[0],
      .circuit = extract_argument("circuit", extract_circuit, slots[0]),
      .durations = extract_argument("durations", extract_duration_table, slots[1]),
      .dt = slots[2] == Py_None ? std::nan("") : extract_argument("dt", kit::extract_f64, slots[2]),
      .scheduling = extract_argument("scheduling", extract_scheduling, slots[3]),
      .options = extract_argument("options", extract_pad_options, slots[4]),
      .record = kit::extract_optional("record", kit::extract_bool, slots[5], false),
      .labelled =
          kit::extract_optional("labelled", extract_node_ids, slots[6], std::vector<std::uint32_t>{}),
      .barriers = kit::extract_optional("barriers", kit::extract_bool, slots[7], false),
  };
  if (r.scheduling == Scheduling::kGiven) {
    raise_not_a_choice("scheduling", "'alap' or 'asap'");
    throw PythonErrorSet{};
  }
  check_pad_options(*r.options, *r.durations, qk_circuit_num_qubits(r.circuit),
                    "one qubit entry per qubit of the circuit");
  return r;
}

namespace {

// The dynamic passes' circuits: `top`, and `out` (unless None where `optional_out`), as wide.
// Checked here: the C API's own refusal of another object leaks a reference.
const QkCircuit* check_dynamic_circuits(PyObject* top, PyObject* out, bool optional_out) {
  const QkCircuit* t = extract_argument("top", extract_circuit, top);
  if (optional_out && out == Py_None) return t;
  const QkCircuit* o = extract_argument("out", extract_circuit, out);
  if (qk_circuit_num_qubits(o) != qk_circuit_num_qubits(t) || qk_circuit_num_clbits(o) != qk_circuit_num_clbits(t)) {
    raise_out_mismatch(qk_circuit_num_qubits(o), qk_circuit_num_clbits(o), qk_circuit_num_qubits(t),
                       qk_circuit_num_clbits(t));
    throw PythonErrorSet{};
  }
  return t;
}

double extract_seconds(const char* argument, PyObject* obj) {
  const double value = kit::extract_f64(obj);
  if (!(std::isfinite(value) && value > 0.0)) {
    raise_not_seconds(argument, value);
    throw PythonErrorSet{};
  }
  return value;
}

// `scheduling`: read only without given start times, then "alap" or "asap".
PyObject* check_block_scheduling(PyObject* scheduling, PyObject* given) {
  if (given != Py_None) return scheduling;
  const std::string_view how = extract_argument("scheduling", kit::extract_str, scheduling);
  if (how != "alap" && how != "asap") {
    raise_not_a_choice("scheduling", "'alap' or 'asap'");
    throw PythonErrorSet{};
  }
  return scheduling;
}

// `given`: None, or (blocks, starts) with every start (int64 in a buffer) from 0 to 2**62, the
// schedule's bound. Their count is checked against the program once it is read.
PyObject* check_given(PyObject* given) {
  if (given == Py_None) return given;
  if (!PyTuple_Check(given) || PyTuple_GET_SIZE(given) != 2) {
    kit::raise_cast_error(Py_TYPE(given), "tuple");
    throw PythonErrorSet{};
  }
  Py_buffer view;
  if (PyObject_GetBuffer(PyTuple_GET_ITEM(given, 1), &view, PyBUF_SIMPLE) < 0) throw PythonErrorSet{};
  bool ok = true;
  const std::size_t n = static_cast<std::size_t>(view.len) / sizeof(std::int64_t);
  for (std::size_t i = 0; ok && i < n; ++i) {
    std::int64_t start;
    std::memcpy(&start, static_cast<const char*>(view.buf) + i * sizeof start, sizeof start);
    ok = start >= 0 && start <= (std::int64_t{1} << 62);
  }
  PyBuffer_Release(&view);
  if (!ok) {
    raise_given_start_out_of_range();
    throw PythonErrorSet{};
  }
  return given;
}

const DurationTable* extract_whole_durations_table(PyObject* obj) {
  const DurationTable* table = extract_argument("durations", extract_duration_table, obj);
  if (!table->whole()) {
    raise_durations_not_whole();
    throw PythonErrorSet{};
  }
  return table;
}

}  // namespace

DynamicRequest bind_dynamic(PyObject* const* slots) {
  check_dynamic_circuits(slots[0], slots[1], true);
  return DynamicRequest{
      .top = slots[0],
      .out = slots[1],
      .durations = extract_whole_durations_table(slots[2]),
      .dt = extract_argument("dt", [](PyObject* o) { return extract_seconds("dt", o); }, slots[3]),
      .scheduling = check_block_scheduling(slots[4], slots[5]),
      .given = extract_argument("given", check_given, slots[5]),
      .fill_very_end = extract_argument("fill_very_end", kit::extract_bool, slots[6]),
      .schedule_idle_qubits = extract_argument("schedule_idle_qubits", kit::extract_bool, slots[7]),
      .custom_order = extract_argument("custom_order", kit::extract_bool, slots[8]),
      .writer = slots[9],
      .pad = slots[1] != Py_None,
      .keep_labels = kit::extract_optional("keep_labels", kit::extract_bool, slots[10], false),
      .in_own_order = kit::extract_optional("in_own_order", kit::extract_bool, slots[11], false),
  };
}

DurationTableRequest bind_duration_table(PyObject* const* slots) {
  return DurationTableRequest{extract_argument("entries", DurationTable::parse, slots[0])};
}

ToQuantumDagRequest bind_to_quantum_dag(PyObject* const* slots) {
  // is_dag first: it says what `source` must be. Reading it runs no Python code.
  const bool is_dag = extract_argument("is_dag", kit::extract_bool, slots[1]);
  ToQuantumDagRequest r{
      .dag = is_dag ? extract_argument("source", extract_dag, slots[0]) : nullptr,
      .circuit = is_dag ? nullptr : extract_argument("source", extract_circuit, slots[0]),
      .durations = extract_argument("durations", extract_duration_table, slots[2]),
      .delays = extract_argument("delays", extract_given_delays, slots[3]),
      .dt_ns = slots[4] == Py_None ? std::nan("") : extract_argument("dt_ns", kit::extract_f64, slots[4]),
  };
  return r;
}

FromQuantumDagRequest bind_from_quantum_dag(PyObject* const* slots) {
  FromQuantumDagRequest r{
      .nodes = extract_argument("graph", read_graph, slots[0]),
      .source_data = slots[1] == Py_None ? nullptr : slots[1],
      .source = slots[1] == Py_None ? nullptr : extract_argument("source", extract_circuit, slots[1]),
      .num_qubits = extract_argument(
          "num_qubits", [](PyObject* o) { return extract_count("num_qubits", o); }, slots[2]),
      .num_clbits = extract_argument(
          "num_clbits", [](PyObject* o) { return extract_count("num_clbits", o); }, slots[3]),
      .in_dt = extract_argument("in_dt", kit::extract_bool, slots[4]),
  };
  return r;
}

namespace {

std::vector<std::uint32_t> extract_u32_list(const char* argument, PyObject* obj) {
  const kit::U64List values = kit::extract_u64_list(obj);
  std::vector<std::uint32_t> out;
  out.reserve(values.view().size());
  for (std::uint64_t v : values.view()) out.push_back(qiskit_index(argument, v));
  return out;
}

std::vector<std::int64_t> extract_whole_durations(PyObject* obj) {
  const kit::U64List values = kit::extract_u64_list(obj);
  std::vector<std::int64_t> out;
  out.reserve(values.view().size());
  for (std::uint64_t v : values.view()) out.push_back(static_cast<std::int64_t>(whole_dt("pulse_durations", static_cast<double>(v), 0)));
  return out;
}

std::size_t total(const std::vector<std::uint32_t>& counts) {
  std::size_t n = 0;
  for (std::uint32_t c : counts) n += c;
  return n;
}

}  // namespace

namespace {

// `given` entries of `argument` where `expected` are needed, `why`: ValueError.
void check_count(const char* argument, std::size_t given, std::size_t expected, const char* why) {
  if (given == expected) return;
  raise_count_mismatch(argument, given, expected, why);
  throw PythonErrorSet{};
}

}  // namespace

DecouplingRequest bind_decoupling(PyObject* const* slots) {
  const QkCircuit* top = check_dynamic_circuits(slots[0], slots[1], false);
  DecouplingRequest r{
      .top = slots[0],
      .out = slots[1],
      .durations = extract_whole_durations_table(slots[2]),
      .dt = extract_argument("dt", [](PyObject* o) { return extract_seconds("dt", o); }, slots[3]),
      .scheduling = check_block_scheduling(slots[4], slots[5]),
      .given = extract_argument("given", check_given, slots[5]),
      .schedule_idle_qubits = extract_argument("schedule_idle_qubits", kit::extract_bool, slots[6]),
      .custom_order = extract_argument("custom_order", kit::extract_bool, slots[7]),
      .writer = slots[8],
      .n_pulses = extract_argument("n_pulses", [](PyObject* o) { return extract_u32_list("n_pulses", o); }, slots[9]),
      .ratios = extract_argument("ratios", kit::extract_f64_list, slots[10]),
      .integral_ratios = std::string(extract_argument("integral_ratios", kit::extract_bytes, slots[11])),
      .spacings = extract_argument("spacings", [](PyObject* o) { return extract_fractions("spacings", o); }, slots[12]),
      .spacing_counts =
          extract_argument("spacing_counts", [](PyObject* o) { return extract_u32_list("spacing_counts", o); }, slots[13]),
      .alt_spacings =
          extract_argument("alt_spacings", [](PyObject* o) { return extract_fractions("alt_spacings", o); }, slots[14]),
      .alt_counts = extract_argument("alt_counts", [](PyObject* o) { return extract_u32_list("alt_counts", o); }, slots[15]),
      .gates = extract_argument("gates", kit::extract_sequence<PulseGateItem<kGatesArgument>, std::vector<PulseGate>>,
                                slots[16]),
      .selected = std::string(extract_argument("selected", kit::extract_bytes, slots[17])),
      .pulse_durations = extract_argument("pulse_durations", extract_whole_durations, slots[18]),
      .colours = std::string(extract_argument("colours", kit::extract_bytes, slots[19])),
      .dd_barrier = extract_argument("dd_barrier", kit::extract_bool, slots[20]),
      .alignment = whole_dt("alignment", extract_argument("alignment", kit::extract_f64, slots[21]), 1),
      .split = extract_argument("split", extract_split, slots[22]),
      .skip_reset = extract_argument("skip_reset", kit::extract_bool, slots[23]),
      .multiple_cycles = extract_argument("multiple_cycles", kit::extract_bool, slots[24]),
      .phases = extract_argument("phases", kit::extract_f64_list, slots[25]),
      .inverses = extract_argument("inverses", kit::extract_f64_list, slots[26]),
      .periods = extract_argument("periods", [](PyObject* o) { return extract_u32_list("periods", o); }, slots[27]),
      .keep_labels = extract_argument("keep_labels", kit::extract_bool, slots[28]),
      .in_own_order = kit::extract_optional("in_own_order", kit::extract_bool, slots[29], false),
  };
  const std::size_t n_seq = r.n_pulses.size();
  constexpr const char* kPerSequence = "one per sequence as in 'n_pulses'";
  check_count("ratios", r.ratios.size(), n_seq, kPerSequence);
  check_count("integral_ratios", r.integral_ratios.size(), n_seq, kPerSequence);
  check_count("spacing_counts", r.spacing_counts.size(), n_seq, kPerSequence);
  check_count("alt_counts", r.alt_counts.size(), n_seq, kPerSequence);
  check_count("phases", r.phases.size(), n_seq, kPerSequence);
  check_count("inverses", r.inverses.size(), 4 * n_seq, "four per sequence");
  check_count("periods", r.periods.size(), n_seq, kPerSequence);
  check_count("spacings", r.spacings.size(), total(r.spacing_counts), "as many as 'spacing_counts' gives");
  check_count("alt_spacings", r.alt_spacings.size(), total(r.alt_counts), "as many as 'alt_counts' gives");
  check_count("gates", r.gates.size(), total(r.n_pulses), "as many as 'n_pulses' gives");
  for (std::uint32_t n : r.n_pulses) check_count("n_pulses", n == 0 ? 0 : 1, 1, "at least one pulse per sequence");
  const std::size_t n_qubits = qk_circuit_num_qubits(top);
  check_count("selected", r.selected.size(), n_qubits, "one per qubit of the circuit");
  check_count("pulse_durations", r.pulse_durations.size(), n_qubits * r.gates.size(), "one per qubit and pulse");
  if (!r.colours.empty()) check_count("colours", r.colours.size(), n_qubits, "none or one per qubit");
  return r;
}

ColouringRequest bind_colouring(PyObject* const* slots) {
  ColouringRequest r{.n = qiskit_index("n", extract_argument("n", kit::extract_u64, slots[0])), .edges = {}};
  const kit::U64List flat = extract_argument("edges", kit::extract_u64_list, slots[1]);
  const std::span<const std::uint64_t> v = flat.view();
  if (v.size() % 2 != 0) {
    raise_count_mismatch("edges", v.size(), v.size() + 1, "two ends per edge");
    throw PythonErrorSet{};
  }
  for (std::size_t i = 0; i < v.size(); i += 2) r.edges.emplace_back(qiskit_index("edges", v[i]), qiskit_index("edges", v[i + 1]));
  return r;
}

}  // namespace tarvex::qiskit_plugin
