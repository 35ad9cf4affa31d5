// Conversions between Qiskit circuits and the core module's QuantumDAG through the C API.
#include "conversions.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>

#include "boundary_kit/arguments.hpp"
#include "boundary_kit/fault.hpp"
#include "boundary_kit/messages.hpp"
#include "boundary_kit/py_ref.hpp"
#include "boundary_kit/results.hpp"
#include "delay_units.hpp"
#include "durations.hpp"
#include "gate_params.hpp"
#include "graph/quantum_dag.hpp"
#include "messages.hpp"
#include "qiskit_objects.hpp"

namespace tarvex::qiskit_plugin {

namespace {

using kit::made;
using kit::PyRef;
using kit::PythonErrorSet;

// Parameter counts of the standard gates, read from Qiskit at import.
std::array<std::uint32_t, kNumStandardGates> gate_params{};

bool learn_gate_params() {
  for (std::uint64_t g = 0; g < kNumStandardGates; ++g) gate_params[g] = qk_gate_num_params(static_cast<QkGate>(g));
  return true;
}

// A delay's duration in the output's unit, NaN where it has none (an expression, or dt without
// the length of one dt).
double delay_in_output_unit(double value, const DelayUnit* unit, double dt_ns) {
  return unit == nullptr ? std::nan("") : unit->to_ns(value, dt_ns);
}

// One Python str per distinct instruction name, found by the name's address first: standard
// operations share static names, so nearly every lookup is one pointer comparison.
class NameCache {
 public:
  explicit NameCache(const DurationTable& table) : table_(table) {}
  struct Entry {
    PyRef text;
    int slot;
  };
  const Entry& get(const char* name, std::size_t len) {
    auto it = by_address_.find(name);
    if (it != by_address_.end() && it->second.first == len) return *it->second.second;
    std::string key(name, len);
    auto [at, added] = by_text_.try_emplace(key);
    if (added) {
      at->second.text = PyRef::steal(PyUnicode_FromStringAndSize(name, static_cast<Py_ssize_t>(len)));
      if (!at->second.text) {
        by_text_.erase(at);
        kit::python_call_failed();
      }
      at->second.slot = table_.slot(key);
    }
    by_address_[name] = {len, &at->second};
    return at->second;
  }

 private:
  const DurationTable& table_;
  std::unordered_map<const char*, std::pair<std::size_t, Entry*>> by_address_;
  std::unordered_map<std::string, Entry> by_text_;
};

// Appends through _tarvex's own add_gate, one call per gate with the qubit ints cached. Each call
// is the C method itself on exact types, so it runs no Python code while the source is read.
class GraphFiller {
 public:
  GraphFiller() : methods_(quantum_dag_methods()), graph_(PyRef::steal(PyObject_CallNoArgs(methods_.type))) {
    if (!graph_) kit::python_call_failed();
  }
  void add(PyObject* name, std::span<const std::uint32_t> qubits, double duration) {
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(qubits.size())));
    if (!tuple) kit::python_call_failed();
    for (std::size_t k = 0; k < qubits.size(); ++k)
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(k), Py_NewRef(qubit(qubits[k])));
    PyRef value = PyRef::steal(PyFloat_FromDouble(duration));
    if (!value) kit::python_call_failed();
    PyObject* args[] = {graph_.get(), name, tuple.get(), value.get()};
    PyRef id = PyRef::steal(PyObject_Vectorcall(methods_.add_gate, args, 4, nullptr));
    if (!id) kit::python_call_failed();
  }
  PyObject* finish() { return graph_.release(); }

 private:
  PyObject* qubit(std::uint32_t q) {
    if (q >= qubits_.size()) qubits_.resize(std::size_t{q} + 1);
    if (!qubits_[q]) {
      qubits_[q] = PyRef::steal(PyLong_FromUnsignedLong(q));
      if (!qubits_[q]) kit::python_call_failed();
    }
    return qubits_[q].get();
  }
  const QuantumDagMethods& methods_;
  PyRef graph_;
  std::vector<PyRef> qubits_;
};

std::string view_label(const QkCircuitInstructionView& v) {
  return instruction_label({v.name, v.name_len}, {v.qubits, v.num_qubits});
}

// The duration of an instruction other than a delay, from `table` (a barrier's is 0); control flow
// and an operation the table has no duration for are refused with TranspilerError.
double fixed_duration(QkOperationKind kind, const QkCircuitInstructionView& v, int slot,
                      const DurationTable& table) {
  if (kind == QkOperationKind_ControlFlow) {
    raise_control_flow(view_label(v));
    throw PythonErrorSet{};
  }
  const double duration = kind == QkOperationKind_Barrier ? 0.0 : table.get(slot, {v.qubits, v.num_qubits});
  if (std::isnan(duration)) {
    raise_no_duration(view_label(v));
    throw PythonErrorSet{};
  }
  return duration;
}

double checked_delay(double duration, const QkCircuitInstructionView& v, const DelayUnit* unit) {
  if (std::isnan(duration)) {
    raise_delay_not_in_ns(view_label(v), unit != nullptr && unit->code == QkDelayUnit_DT);
    throw PythonErrorSet{};
  }
  return duration;
}

void fill_from_dag(const ToQuantumDagRequest& r, NameCache& names, GraphFiller& filler) {
  const std::size_t n = qk_dag_num_op_nodes(r.dag);
  std::vector<std::uint32_t> order(n);
  qk_dag_topological_op_nodes(r.dag, order.data());
  for (std::uint32_t id : order) {
    QkCircuitInstructionView v;
    qk_dag_view_instruction(r.dag, id, &v);
    const NameCache::Entry& e = names.get(v.name, v.name_len);
    double duration;
    const QkOperationKind kind = qk_dag_op_node_kind(r.dag, id);
    if (kind == QkOperationKind_Delay) {
      auto it = r.delays.find(id);
      if (it == r.delays.end()) {
        raise_delay_not_given(view_label(v));
        throw PythonErrorSet{};
      }
      const GivenDelay& delay = it->second;
      duration = checked_delay(delay_in_output_unit(delay.value, delay.unit, r.dt_ns), v, delay.unit);
    } else {
      duration = fixed_duration(kind, v, e.slot, *r.durations);
    }
    filler.add(e.text.get(), {v.qubits, v.num_qubits}, duration);
  }
}

void fill_from_circuit(const ToQuantumDagRequest& r, NameCache& names, GraphFiller& filler) {
  const std::size_t n = qk_circuit_num_instructions(r.circuit);
  for (std::size_t i = 0; i < n; ++i) {
    QkCircuitInstructionView v;
    qk_circuit_view_instruction(r.circuit, i, &v);
    const NameCache::Entry& e = names.get(v.name, v.name_len);
    double duration;
    const QkOperationKind kind = qk_circuit_instruction_kind(r.circuit, i);
    if (kind == QkOperationKind_Delay) {
      const DelayUnit* unit = find_delay_unit(qk_circuit_delay_unit(r.circuit, i));
      duration = checked_delay(delay_in_output_unit(param_value(v.params), unit, r.dt_ns), v, unit);
    } else {
      duration = fixed_duration(kind, v, e.slot, *r.durations);
    }
    filler.add(e.text.get(), {v.qubits, v.num_qubits}, duration);
  }
}

// --- reading a graph ------------------------------------------------------------------------

// The export of a graph, get_all_nodes(), as nodes without times.
std::vector<GraphNode> export_to_nodes(PyObject* all) {
  if (!PyList_Check(all)) {
    raise_not_an_export();
    throw PythonErrorSet{};
  }
  std::vector<GraphNode> nodes;
  nodes.reserve(static_cast<std::size_t>(PyList_GET_SIZE(all)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(all); ++i) {
    PyRef item = PyRef::borrow(PyList_GET_ITEM(all, i));
    if (!PyTuple_Check(item.get()) || PyTuple_GET_SIZE(item.get()) != 3) {
      raise_not_an_export();
      throw PythonErrorSet{};
    }
    GraphNode& node = nodes.emplace_back();
    node.name = kit::extract_str(PyTuple_GET_ITEM(item.get(), 0));
    const kit::U64List qubits = kit::extract_u64_list(PyTuple_GET_ITEM(item.get(), 1));
    for (std::uint64_t q : qubits.view()) {
      if (q > UINT32_MAX) {
        raise_beyond_qiskit("graph", q);
        throw PythonErrorSet{};
      }
      node.qubits.push_back(static_cast<std::uint32_t>(q));
    }
    node.duration = kit::extract_f64(PyTuple_GET_ITEM(item.get(), 2));
  }
  return nodes;
}

// graph.get_node_schedule(i), as the exact method or by name.
PyRef node_schedule(PyObject* graph, PyObject* method, std::size_t i) {
  PyRef id = PyRef::steal(PyLong_FromSize_t(i));
  if (!id) kit::python_call_failed();
  PyRef times;
  if (method != nullptr) {
    PyObject* args[] = {graph, id.get()};
    times = PyRef::steal(PyObject_Vectorcall(method, args, 2, nullptr));
  } else {
    times = PyRef::steal(PyObject_CallMethod(graph, "get_node_schedule", "O", id.get()));
  }
  if (!times) kit::python_call_failed();
  return times;
}

void read_times(PyObject* times, GraphNode& node) {
  if (!PyTuple_Check(times) || PyTuple_GET_SIZE(times) != 2) {
    kit::raise_cast_error(Py_TYPE(times), "tuple");
    throw PythonErrorSet{};
  }
  node.start = kit::extract_f64(PyTuple_GET_ITEM(times, 0));
  node.end = kit::extract_f64(PyTuple_GET_ITEM(times, 1));
}

// The times of a _tarvex.QuantumDAG's nodes. Its stored schedule covers the ids 0 .. k - 1 and is
// the ASAP schedule of those nodes as they are (a node's times depend only on lower ids, and
// adding gates leaves older entries alone), so k is found by bisection and the times recomputed
// with the same scheduler, exactly.
void recompute_times(PyObject* graph, const QuantumDagMethods& methods, std::vector<GraphNode>& nodes) {
  std::size_t lo = 0, hi = nodes.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (node_schedule(graph, methods.get_node_schedule, mid).get() == Py_None) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  if (lo < nodes.size()) {
    raise_node_unscheduled(lo);
    throw PythonErrorSet{};
  }
  QuantumDAG core;
  std::vector<Qubit> qubits;
  for (const GraphNode& node : nodes) {
    qubits.assign(node.qubits.begin(), node.qubits.end());
    core.add_gate(node.name, qubits, node.duration);
  }
  core.build_schedule();
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    nodes[i].start = core.start_time(i);
    nodes[i].end = core.end_time(i);
  }
}

// --- building a circuit ---------------------------------------------------------------------

void copy_from_source(QkCircuit* out, const QkCircuit* src, std::size_t index, GateParams& params,
                      std::vector<QkComplex64>& matrix) {
  QkCircuitInstructionView v;
  qk_circuit_view_instruction(src, index, &v);
  QkExitCode code = QkExitCode_Success;
  switch (qk_circuit_instruction_kind(src, index)) {
    case QkOperationKind_Gate: {
      const std::optional<QkGate> gate = standard_gate_named({v.name, v.name_len});
      if (!gate) break;
      code = params.append(out, *gate, v.qubits, v, v.num_params);
      if (code != QkExitCode_Success) break;
      return;
    }
    case QkOperationKind_Measure:
      if (qk_circuit_measure(out, v.qubits[0], v.clbits[0]) == QkExitCode_Success) return;
      break;
    case QkOperationKind_Reset:
      if (qk_circuit_reset(out, v.qubits[0]) == QkExitCode_Success) return;
      break;
    case QkOperationKind_Barrier:
      if (qk_circuit_barrier(out, v.qubits, v.num_qubits) == QkExitCode_Success) return;
      break;
    case QkOperationKind_Unitary:
      matrix.resize(std::size_t{1} << (2 * v.num_qubits));
      qk_circuit_inst_unitary(const_cast<QkCircuit*>(src), index, matrix.data());
      if (qk_circuit_unitary(out, matrix.data(), v.qubits, v.num_qubits, false) == QkExitCode_Success) return;
      break;
    default:
      break;
  }
  raise_source_not_copyable(view_label(v));
  throw PythonErrorSet{};
}

// The source's instructions other than delays, in order: what the graph's other nodes copy.
std::vector<std::size_t> source_operations(const QkCircuit* src) {
  std::vector<std::size_t> ops;
  const std::size_t n = qk_circuit_num_instructions(src);
  for (std::size_t i = 0; i < n; ++i)
    if (qk_circuit_instruction_kind(src, i) != QkOperationKind_Delay) ops.push_back(i);
  return ops;
}

// An empty circuit with registers "q" and "c", as QuantumCircuit(num_qubits, num_clbits) has.
QkCircuit* registers_like_quantum_circuit(std::uint32_t num_qubits, std::uint32_t num_clbits) {
  QkCircuit* qc = qk_circuit_new(0, 0);
  if (num_qubits > 0) {
    QkQuantumRegister* q = qk_quantum_register_new(num_qubits, "q");
    qk_circuit_add_quantum_register(qc, q);
    qk_quantum_register_free(q);
  }
  if (num_clbits > 0) {
    QkClassicalRegister* c = qk_classical_register_new(num_clbits, "c");
    qk_circuit_add_classical_register(qc, c);
    qk_classical_register_free(c);
  }
  return qc;
}

// Owns the circuit being built until it is handed to Python.
struct OwnedCircuit {
  explicit OwnedCircuit(QkCircuit* circuit) : qc(circuit) {}
  OwnedCircuit(const OwnedCircuit&) = delete;
  OwnedCircuit& operator=(const OwnedCircuit&) = delete;
  ~OwnedCircuit() {
    if (qc != nullptr) qk_circuit_free(qc);
  }
  QkCircuit* qc;
};

// Appends the one instruction of graph node `i` that is not idle time.
void append_node(QkCircuit* out, const FromQuantumDagRequest& r, std::size_t i, std::uint32_t num_clbits,
                 const std::vector<std::size_t>& ops, std::size_t& next_op, GateParams& params,
                 std::vector<QkComplex64>& matrix) {
  const GraphNode& node = r.nodes[i];
  const std::uint32_t* qs = node.qubits.data();
  const auto n_qs = static_cast<std::uint32_t>(node.qubits.size());
  bool ok;
  if (node.name == "DD_X" || node.name == "DD_Y") {
    ok = n_qs == 1 &&
         qk_circuit_gate(out, node.name == "DD_X" ? QkGate_X : QkGate_Y, qs, nullptr) == QkExitCode_Success;
  } else if (r.source != nullptr) {
    if (next_op >= ops.size()) {
      raise_node_without_counterpart(i, instruction_label(node.name, node.qubits));
      throw PythonErrorSet{};
    }
    QkCircuitInstructionView v;
    qk_circuit_view_instruction(r.source, ops[next_op], &v);
    if (std::string_view(v.name, v.name_len) != node.name || v.num_qubits != n_qs ||
        !std::equal(qs, qs + n_qs, v.qubits)) {
      raise_node_mismatch(i, instruction_label(node.name, node.qubits), ops[next_op], view_label(v));
      throw PythonErrorSet{};
    }
    copy_from_source(out, r.source, ops[next_op++], params, matrix);
    return;
  } else if (node.name == "measure") {
    ok = n_qs == 1 && qs[0] < num_clbits && qk_circuit_measure(out, qs[0], qs[0]) == QkExitCode_Success;
  } else if (node.name == "reset") {
    ok = n_qs == 1 && qk_circuit_reset(out, qs[0]) == QkExitCode_Success;
  } else if (node.name == "barrier") {
    ok = qk_circuit_barrier(out, qs, n_qs) == QkExitCode_Success;
  } else {
    const std::optional<QkGate> gate = standard_gate_named(node.name);
    ok = gate && gate_params[*gate] == 0 && qk_gate_num_qubits(*gate) == n_qs &&
         qk_circuit_gate(out, *gate, qs, nullptr) == QkExitCode_Success;
  }
  if (!ok) {
    raise_node_not_buildable(i, instruction_label(node.name, node.qubits));
    throw PythonErrorSet{};
  }
}

}  // namespace

bool import_capi_for_conversions() { return qk_import() == 0 && learn_gate_params(); }

const QkCircuit* extract_circuit(PyObject* obj) {
  // Checked here, not left to the C API, whose refusal leaks a reference each time.
  if (!PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(circuit_data_type()))) {
    kit::raise_cast_error(Py_TYPE(obj), "CircuitData");
    throw PythonErrorSet{};
  }
  QkCircuit* circuit = qk_circuit_borrow_from_python(obj);
  if (circuit == nullptr) kit::python_call_failed();
  return circuit;
}

PyRef empty_copy_of(PyObject* data, std::size_t reserve) {
  PyRef out = PyRef::steal(PyObject_CallMethodNoArgs(data, copy_empty_like_name()));
  if (!out) kit::python_call_failed();
  PyRef count = PyRef::steal(made(PyLong_FromSize_t(reserve)));
  PyRef none = PyRef::steal(PyObject_CallMethodOneArg(out.get(), reserve_name(), count.get()));
  if (!none) kit::python_call_failed();
  return out;
}

std::vector<GraphNode> read_graph(PyObject* graph) {
  const QuantumDagMethods& methods = quantum_dag_methods();
  const bool exact = Py_IS_TYPE(graph, reinterpret_cast<PyTypeObject*>(methods.type));
  PyRef all;
  if (exact) {
    PyObject* args[] = {graph};
    all = PyRef::steal(PyObject_Vectorcall(methods.get_all_nodes, args, 1, nullptr));
  } else {
    all = PyRef::steal(PyObject_CallMethod(graph, "get_all_nodes", nullptr));
  }
  if (!all) kit::python_call_failed();
  std::vector<GraphNode> nodes = export_to_nodes(all.get());
  if (exact) {
    recompute_times(graph, methods, nodes);
    return nodes;
  }
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    PyRef times = node_schedule(graph, nullptr, i);
    if (times.get() == Py_None) {
      raise_node_unscheduled(i);
      throw PythonErrorSet{};
    }
    read_times(times.get(), nodes[i]);
  }
  return nodes;
}

PyObject* to_quantum_dag_impl(const ToQuantumDagRequest& r) {
  NameCache names(*r.durations);
  GraphFiller filler;
  if (r.dag != nullptr) {
    fill_from_dag(r, names, filler);
  } else {
    fill_from_circuit(r, names, filler);
  }
  return filler.finish();
}

PyObject* from_quantum_dag_impl(const FromQuantumDagRequest& r) {
  std::vector<std::size_t> ops;
  if (r.source != nullptr) ops = source_operations(r.source);
  std::uint32_t num_qubits = r.num_qubits.value_or(0), num_clbits = r.num_clbits.value_or(0);
  if (r.source == nullptr && (!r.num_qubits || !r.num_clbits)) {
    // Unless given: as many qubits as the graph uses, and a clbit per qubit when it measures.
    std::uint32_t used = 0;
    bool measures = false;
    for (const GraphNode& node : r.nodes) {
      for (std::uint32_t q : node.qubits) used = std::max(used, q + 1);
      measures = measures || node.name == "measure";
    }
    if (!r.num_qubits) num_qubits = used;
    if (!r.num_clbits) num_clbits = measures ? num_qubits : 0;
  }
  // With a source, the output is a CircuitData Python makes (see empty_copy_of) and this call fills.
  PyRef data = r.source ? empty_copy_of(r.source_data, r.nodes.size()) : PyRef();
  OwnedCircuit owned{r.source ? nullptr : registers_like_quantum_circuit(num_qubits, num_clbits)};
  QkCircuit* out = r.source ? const_cast<QkCircuit*>(extract_circuit(data.get())) : owned.qc;
  const std::uint32_t n_qubits = qk_circuit_num_qubits(out);
  if (r.source != nullptr) num_clbits = qk_circuit_num_clbits(out);

  std::vector<double> idle_from(n_qubits, 0.0);
  double end = 0.0;
  for (const GraphNode& node : r.nodes) end = std::max(end, node.end);
  // The idle time from `from` to `to` on qubit q as one delay, in the graph's unit.
  auto wait = [&](std::uint32_t q, double from, double to) {
    if (!(to - from > 0.0)) return;
    QkExitCode code;
    if (r.in_dt) {
      if (to - from != std::floor(to - from) || !(to - from < 9223372036854775808.0)) {
        raise_idle_not_whole(q, to - from);
        throw PythonErrorSet{};
      }
      code = qk_circuit_delay_dt(out, q, static_cast<std::int64_t>(to - from));
    } else {
      code = qk_circuit_delay(out, q, to - from, QkDelayUnit_NS);
    }
    if (code != QkExitCode_Success) {
      raise_refused_by_qiskit("a delay", static_cast<int>(code));
      throw PythonErrorSet{};
    }
  };

  GateParams params;
  std::vector<QkComplex64> matrix;
  std::size_t next_op = 0;
  for (std::size_t i = 0; i < r.nodes.size(); ++i) {
    const GraphNode& node = r.nodes[i];
    for (std::uint32_t q : node.qubits) {
      if (q >= n_qubits) {
        raise_node_qubit_out_of_range(i, instruction_label(node.name, node.qubits), q, n_qubits);
        throw PythonErrorSet{};
      }
    }
    if (node.name == "delay") continue;  // idle time, padded below like any other
    for (std::uint32_t q : node.qubits) {
      wait(q, idle_from[q], node.start);
      idle_from[q] = node.end;
    }
    append_node(out, r, i, num_clbits, ops, next_op, params, matrix);
  }
  for (std::uint32_t q = 0; q < n_qubits; ++q) wait(q, idle_from[q], end);
  if (r.source) return data.release();
  owned.qc = nullptr;
  PyObject* made_data = qk_circuit_to_python(out);
  if (made_data == nullptr) kit::python_call_failed();
  return made_data;
}

}  // namespace tarvex::qiskit_plugin
