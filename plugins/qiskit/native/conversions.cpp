// Conversions between Qiskit circuits and the core module's QuantumDAG through the C API.
#include "conversions.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "durations.hpp"
#include "parameterized_gate.h"
#include "qiskit_capi.hpp"
#include "ref.hpp"

namespace tarvex::qiskit_plugin {

namespace {

constexpr int kNumGates = 52;  // QkGate_GlobalPhase .. QkGate_RC3X

// Standard gate names, read from Qiskit itself at import: name -> QkGate, and parameter counts.
std::unordered_map<std::string, int>& gate_by_name() {
  static std::unordered_map<std::string, int> table;
  return table;
}
std::array<std::uint32_t, kNumGates> g_gate_params{};

bool learn_gate_names() {
  QkCircuit* qc = qk_circuit_new(4, 0);
  const std::uint32_t qubits[4] = {0, 1, 2, 3};
  const double params[4] = {0, 0, 0, 0};
  for (int g = 0; g < kNumGates; ++g) {
    g_gate_params[g] = qk_gate_num_params(static_cast<QkGate>(g));
    if (qk_circuit_gate(qc, static_cast<QkGate>(g), qubits, params) != QkExitCode_Success) continue;
    QkCircuitInstructionView view;
    qk_circuit_view_instruction(qc, qk_circuit_num_instructions(qc) - 1, &view);
    gate_by_name().emplace(std::string(view.name, view.name_len), g);
  }
  qk_circuit_free(qc);
  return true;
}

// A delay's duration in ns, as the Python side converts the delays of a DAG: SI units by exact
// powers of ten, dt through the target's dt in ns (NaN without one).
double delay_ns(double value, QkDelayUnit unit, double dt_ns) {
  switch (unit) {
    case QkDelayUnit_S:
      return value * 1e9;
    case QkDelayUnit_MS:
      return value * 1e6;
    case QkDelayUnit_US:
      return value * 1e3;
    case QkDelayUnit_NS:
      return value;
    case QkDelayUnit_PS:
      return value / 1000;
    case QkDelayUnit_DT:
      return value * dt_ns;
    default:
      return std::nan("");
  }
}

double param_value(const QkParam* p) {
  std::int64_t i;
  if (qk_param_kind(p) == QkParamKind_Int && qk_param_as_int(p, &i)) return static_cast<double>(i);
  return qk_param_as_real(p);
}

std::string label(std::string_view name, const std::uint32_t* qubits, std::uint32_t n) {
  std::string s(name);
  s += " on qubits [";
  for (std::uint32_t i = 0; i < n; ++i) s += (i ? ", " : "") + std::to_string(qubits[i]);
  return s + "]";
}

// One Python str per distinct instruction name, found by the name's address first: standard
// operations share static names, so nearly every lookup is one pointer comparison.
class NameCache {
 public:
  explicit NameCache(const DurationTable& table) : table_(table) {}
  struct Entry {
    Ref text;
    int slot;
  };
  Entry* get(const char* name, std::size_t len) {
    auto it = by_address_.find(name);
    if (it != by_address_.end() && it->second.first == len) return it->second.second;
    std::string key(name, len);
    auto [at, added] = by_text_.try_emplace(key);
    if (added) {
      at->second.text = Ref::steal(PyUnicode_FromStringAndSize(name, static_cast<Py_ssize_t>(len)));
      if (!at->second.text) {
        by_text_.erase(at);
        return nullptr;
      }
      at->second.slot = table_.slot(key);
    }
    by_address_[name] = {len, &at->second};
    return &at->second;
  }

 private:
  const DurationTable& table_;
  std::unordered_map<const char*, std::pair<std::size_t, Entry*>> by_address_;
  std::unordered_map<std::string, Entry> by_text_;
};

// Appends through QuantumDAG.add_gate, one vectorcall per gate with the qubit ints cached.
class GraphFiller {
 public:
  bool start(PyObject* factory) {
    graph_ = Ref::steal(PyObject_CallNoArgs(factory));
    add_gate_ = Ref::steal(PyUnicode_InternFromString("add_gate"));
    return graph_ && add_gate_;
  }
  bool add(PyObject* name, const std::uint32_t* qubits, std::uint32_t n, double duration_ns) {
    Ref tuple = Ref::steal(PyTuple_New(n));
    if (!tuple) return false;
    for (std::uint32_t k = 0; k < n; ++k) {
      PyObject* q = qubit(qubits[k]);
      if (q == nullptr) return false;
      PyTuple_SET_ITEM(tuple.get(), k, Py_NewRef(q));
    }
    Ref duration = Ref::steal(PyFloat_FromDouble(duration_ns));
    if (!duration) return false;
    PyObject* call[] = {graph_.get(), name, tuple.get(), duration.get()};
    Ref id = Ref::steal(
        PyObject_VectorcallMethod(add_gate_.get(), call, 4 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    return static_cast<bool>(id);
  }
  PyObject* finish() { return graph_.release(); }

 private:
  PyObject* qubit(std::uint32_t q) {
    if (q >= qubits_.size()) qubits_.resize(std::size_t{q} + 1);
    if (!qubits_[q]) qubits_[q] = Ref::steal(PyLong_FromUnsignedLong(q));
    return qubits_[q].get();
  }
  Ref graph_;
  Ref add_gate_;
  std::vector<Ref> qubits_;
};

bool raise_no_duration(std::string_view name, const std::uint32_t* qubits, std::uint32_t n) {
  PyErr_Format(transpiler_error(), "%s: no duration for it in the target", label(name, qubits, n).c_str());
  return false;
}

// The duration in ns of an instruction other than a delay, from `table` (a barrier's is 0); control
// flow and an operation the table has no duration for raise TranspilerError.
bool fixed_duration_ns(QkOperationKind kind, const QkCircuitInstructionView& v, int slot,
                       const DurationTable& table, double& ns) {
  if (kind == QkOperationKind_ControlFlow) {
    PyErr_Format(transpiler_error(), "%s: control flow has no duration",
                 label({v.name, v.name_len}, v.qubits, v.num_qubits).c_str());
    return false;
  }
  ns = kind == QkOperationKind_Barrier ? 0.0 : table.get(slot, {v.qubits, v.num_qubits});
  return !std::isnan(ns) || raise_no_duration({v.name, v.name_len}, v.qubits, v.num_qubits);
}

bool fill_from_dag(const QkDag* dag, PyObject* delays, NameCache& names, const DurationTable& table,
                   GraphFiller& filler) {
  const std::size_t n = qk_dag_num_op_nodes(dag);
  std::vector<std::uint32_t> order(n);
  qk_dag_topological_op_nodes(dag, order.data());
  for (std::uint32_t id : order) {
    QkCircuitInstructionView v;
    qk_dag_view_instruction(dag, id, &v);
    NameCache::Entry* e = names.get(v.name, v.name_len);
    if (e == nullptr) return false;
    double ns = 0.0;
    const QkOperationKind kind = qk_dag_op_node_kind(dag, id);
    if (kind == QkOperationKind_Delay) {
      Ref key = Ref::steal(PyLong_FromUnsignedLong(id));
      PyObject* value = key ? PyDict_GetItemWithError(delays, key.get()) : nullptr;
      if (value == nullptr) {
        if (!PyErr_Occurred())
          PyErr_Format(transpiler_error(), "%s: the delay's duration was not given",
                       label({v.name, v.name_len}, v.qubits, v.num_qubits).c_str());
        return false;
      }
      ns = PyFloat_AsDouble(value);
      if (ns == -1.0 && PyErr_Occurred()) return false;
    } else if (!fixed_duration_ns(kind, v, e->slot, table, ns)) {
      return false;
    }
    if (!filler.add(e->text.get(), v.qubits, v.num_qubits, ns)) return false;
  }
  return true;
}

bool fill_from_circuit(const QkCircuit* qc, double dt_ns, NameCache& names, const DurationTable& table,
                       GraphFiller& filler) {
  const std::size_t n = qk_circuit_num_instructions(qc);
  for (std::size_t i = 0; i < n; ++i) {
    QkCircuitInstructionView v;
    qk_circuit_view_instruction(qc, i, &v);
    NameCache::Entry* e = names.get(v.name, v.name_len);
    if (e == nullptr) return false;
    double ns = 0.0;
    const QkOperationKind kind = qk_circuit_instruction_kind(qc, i);
    if (kind == QkOperationKind_Delay) {
      const QkDelayUnit unit = qk_circuit_delay_unit(qc, i);
      ns = delay_ns(param_value(v.params), unit, dt_ns);
      if (std::isnan(ns)) {
        PyErr_Format(transpiler_error(), "%s: the delay's duration cannot be given in ns%s",
                     label({v.name, v.name_len}, v.qubits, v.num_qubits).c_str(),
                     unit == QkDelayUnit_DT ? " without the target's dt" : "");
        return false;
      }
    } else if (!fixed_duration_ns(kind, v, e->slot, table, ns)) {
      return false;
    }
    if (!filler.add(e->text.get(), v.qubits, v.num_qubits, ns)) return false;
  }
  return true;
}

PyObject* to_quantum_dag_impl(PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"source", "is_dag", "factory", "durations", "delays", "dt_ns", nullptr};
  PyObject *source, *factory, *entries, *delays, *dt_obj;
  int is_dag;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O$pOOO!O:to_quantum_dag", const_cast<char**>(keywords),
                                   &source, &is_dag, &factory, &entries, &PyDict_Type, &delays, &dt_obj))
    return nullptr;
  DurationTable table;
  if (!table.parse(entries)) return nullptr;
  const double dt_ns = dt_obj == Py_None ? std::nan("") : PyFloat_AsDouble(dt_obj);
  if (PyErr_Occurred()) return nullptr;
  NameCache names(table);
  GraphFiller filler;
  if (!filler.start(factory)) return nullptr;
  if (is_dag) {
    QkDag* dag = qk_dag_borrow_from_python(source);
    if (dag == nullptr || !fill_from_dag(dag, delays, names, table, filler)) return nullptr;
  } else {
    QkCircuit* qc = qk_circuit_borrow_from_python(source);
    if (qc == nullptr || !fill_from_circuit(qc, dt_ns, names, table, filler)) return nullptr;
  }
  return filler.finish();
}

// --- from_quantum_dag ------------------------------------------------------------------------

bool copy_from_source(QkCircuit* out, const QkCircuit* src, std::size_t index,
                      std::vector<const QkParam*>& ps, std::vector<double>& reals,
                      std::vector<QkComplex64>& matrix) {
  QkCircuitInstructionView v;
  qk_circuit_view_instruction(src, index, &v);
  QkExitCode code = QkExitCode_Success;
  switch (qk_circuit_instruction_kind(src, index)) {
    case QkOperationKind_Gate: {
      auto it = gate_by_name().find(std::string(v.name, v.name_len));
      if (it == gate_by_name().end()) break;
      const std::size_t stride = qk_param_stride();
      ps.resize(v.num_params);
      reals.resize(v.num_params);
      bool all_real = true;
      for (std::size_t k = 0; k < v.num_params; ++k) {
        ps[k] = reinterpret_cast<const QkParam*>(reinterpret_cast<const char*>(v.params) + k * stride);
        all_real = all_real && qk_param_kind(ps[k]) == QkParamKind_Real;
        if (all_real) reals[k] = qk_param_as_real(ps[k]);
      }
      code = all_real ? qk_circuit_gate(out, static_cast<QkGate>(it->second), v.qubits, reals.data())
                      : tarvex_circuit_parameterized_gate(out, static_cast<QkGate>(it->second), v.qubits,
                                                          ps.data());
      return code == QkExitCode_Success;
    }
    case QkOperationKind_Measure:
      return qk_circuit_measure(out, v.qubits[0], v.clbits[0]) == QkExitCode_Success;
    case QkOperationKind_Reset:
      return qk_circuit_reset(out, v.qubits[0]) == QkExitCode_Success;
    case QkOperationKind_Barrier:
      return qk_circuit_barrier(out, v.qubits, v.num_qubits) == QkExitCode_Success;
    case QkOperationKind_Unitary:
      matrix.resize(std::size_t{1} << (2 * v.num_qubits));
      qk_circuit_inst_unitary(const_cast<QkCircuit*>(src), index, matrix.data());
      return qk_circuit_unitary(out, matrix.data(), v.qubits, v.num_qubits, false) == QkExitCode_Success;
    default:
      break;
  }
  PyErr_Format(PyExc_ValueError, "%s in the source circuit cannot be copied",
               label({v.name, v.name_len}, v.qubits, v.num_qubits).c_str());
  return false;
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

struct Node {
  std::string_view name;
  std::vector<std::uint32_t> qubits;
  double start_ns;
  double end_ns;
};

bool read_nodes(PyObject* graph, std::vector<Node>& nodes, std::vector<Ref>& keep) {
  Ref all = Ref::steal(PyObject_CallMethod(graph, "get_all_nodes", nullptr));
  if (!all) return false;
  if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "get_all_nodes() must return a list");
    return false;
  }
  Ref method = Ref::steal(PyUnicode_InternFromString("get_node_schedule"));
  if (!method) return false;
  const Py_ssize_t n = PyList_GET_SIZE(all.get());
  nodes.resize(n);
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject *name, *qubits;
    double duration;
    if (!PyArg_ParseTuple(PyList_GET_ITEM(all.get(), i), "UOd", &name, &qubits, &duration)) return false;
    Py_ssize_t len;
    const char* text = PyUnicode_AsUTF8AndSize(name, &len);
    if (text == nullptr) return false;
    nodes[i].name = std::string_view(text, len);
    Ref fast = Ref::steal(PySequence_Fast(qubits, "qubits must be a list"));
    if (!fast) return false;
    for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(fast.get()); ++k) {
      const unsigned long q = PyLong_AsUnsignedLong(PySequence_Fast_GET_ITEM(fast.get(), k));
      if (PyErr_Occurred()) return false;
      if (q > UINT32_MAX) {
        PyErr_Format(PyExc_ValueError, "node %zd: qubit %lu is beyond Qiskit's qubit range", i, q);
        return false;
      }
      nodes[i].qubits.push_back(static_cast<std::uint32_t>(q));
    }
    Ref id = Ref::steal(PyLong_FromSsize_t(i));
    if (!id) return false;
    PyObject* call[] = {graph, id.get()};
    Ref times = Ref::steal(
        PyObject_VectorcallMethod(method.get(), call, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!times) return false;
    if (times.get() == Py_None) {
      PyErr_Format(PyExc_ValueError, "node %zd has no start time: call build_schedule() first", i);
      return false;
    }
    if (!PyArg_ParseTuple(times.get(), "dd", &nodes[i].start_ns, &nodes[i].end_ns)) return false;
  }
  keep.push_back(std::move(all));  // the names point into its strings
  return true;
}

PyObject* from_quantum_dag_impl(PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"graph", "source", "num_qubits", "num_clbits", "in_dt", nullptr};
  PyObject *graph, *source;
  Py_ssize_t num_qubits, num_clbits;
  int in_dt;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O$Onnp:from_quantum_dag", const_cast<char**>(keywords),
                                   &graph, &source, &num_qubits, &num_clbits, &in_dt))
    return nullptr;
  std::vector<Node> nodes;
  std::vector<Ref> keep;
  if (!read_nodes(graph, nodes, keep)) return nullptr;

  const QkCircuit* src = nullptr;
  std::vector<std::size_t> ops;
  if (source != Py_None) {
    src = qk_circuit_borrow_from_python(source);
    if (src == nullptr) return nullptr;
    ops = source_operations(src);
  }
  if (src == nullptr && (num_qubits < 0 || num_clbits < 0)) {
    // Unless given: as many qubits as the graph uses, and a clbit per qubit when it measures.
    Py_ssize_t used = 0;
    bool measures = false;
    for (const Node& node : nodes) {
      for (std::uint32_t q : node.qubits) used = std::max<Py_ssize_t>(used, Py_ssize_t{q} + 1);
      measures = measures || node.name == "measure";
    }
    if (num_qubits < 0) num_qubits = used;
    if (num_clbits < 0) num_clbits = measures ? num_qubits : 0;
  }
  QkCircuit* out = src ? qk_circuit_copy_empty_like(src, QkVarsMode_Alike, QkBlocksMode_Drop)
                       : registers_like_quantum_circuit(static_cast<std::uint32_t>(num_qubits),
                                                        static_cast<std::uint32_t>(num_clbits));
  struct Owner {
    QkCircuit* qc;
    ~Owner() {
      if (qc) qk_circuit_free(qc);
    }
  } owner{out};
  const std::uint32_t n_qubits = qk_circuit_num_qubits(out);

  std::vector<double> idle_from(n_qubits, 0.0);
  double end_ns = 0.0;
  for (const Node& node : nodes) end_ns = std::max(end_ns, node.end_ns);
  // The idle time from `from` to `to` on qubit q as one delay, in the graph's unit.
  auto wait = [&](std::uint32_t q, double from, double to) -> bool {
    if (!(to - from > 0.0)) return true;
    if (!in_dt) return qk_circuit_delay(out, q, to - from, QkDelayUnit_NS) == QkExitCode_Success;
    if (to - from != std::floor(to - from)) {
      PyErr_Format(PyExc_ValueError, "qubit %u idles for %g, not a whole number of dt", q, to - from);
      return false;
    }
    return qk_circuit_delay_dt(out, q, static_cast<std::int64_t>(to - from)) == QkExitCode_Success;
  };
  auto refused = [] {
    return PyErr_Occurred() ? nullptr : PyErr_Format(PyExc_ValueError, "Qiskit refused a delay");
  };

  std::vector<const QkParam*> ps;
  std::vector<double> reals;
  std::vector<QkComplex64> matrix;
  std::size_t next_op = 0;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const Node& node = nodes[i];
    for (std::uint32_t q : node.qubits) {
      if (q >= n_qubits) {
        PyErr_Format(PyExc_ValueError, "node %zu (%.*s) acts on qubit %u of a %u-qubit circuit", i,
                     static_cast<int>(node.name.size()), node.name.data(), q, n_qubits);
        return nullptr;
      }
    }
    if (node.name == "delay") continue;  // idle time, padded below like any other
    for (std::uint32_t q : node.qubits) {
      if (!wait(q, idle_from[q], node.start_ns)) return refused();
      idle_from[q] = node.end_ns;
    }
    const std::uint32_t* qs = node.qubits.data();
    const auto n_qs = static_cast<std::uint32_t>(node.qubits.size());
    bool ok;
    if (node.name == "DD_X" || node.name == "DD_Y") {
      ok = n_qs == 1 &&
           qk_circuit_gate(out, node.name == "DD_X" ? QkGate_X : QkGate_Y, qs, nullptr) == QkExitCode_Success;
    } else if (src != nullptr) {
      if (next_op >= ops.size()) {
        PyErr_Format(PyExc_ValueError, "node %zu (%.*s) has no counterpart in the source circuit", i,
                     static_cast<int>(node.name.size()), node.name.data());
        return nullptr;
      }
      QkCircuitInstructionView v;
      qk_circuit_view_instruction(src, ops[next_op], &v);
      if (std::string_view(v.name, v.name_len) != node.name || v.num_qubits != n_qs ||
          !std::equal(qs, qs + n_qs, v.qubits)) {
        PyErr_Format(PyExc_ValueError, "node %zu (%s) does not match the source's instruction %zu (%s)", i,
                     label(node.name, qs, n_qs).c_str(), ops[next_op],
                     label({v.name, v.name_len}, v.qubits, v.num_qubits).c_str());
        return nullptr;
      }
      ok = copy_from_source(out, src, ops[next_op++], ps, reals, matrix);
      if (!ok && PyErr_Occurred()) return nullptr;
    } else if (node.name == "measure") {
      ok = n_qs == 1 && qs[0] < static_cast<std::uint32_t>(num_clbits) &&
           qk_circuit_measure(out, qs[0], qs[0]) == QkExitCode_Success;
    } else if (node.name == "reset") {
      ok = n_qs == 1 && qk_circuit_reset(out, qs[0]) == QkExitCode_Success;
    } else if (node.name == "barrier") {
      ok = qk_circuit_barrier(out, qs, n_qs) == QkExitCode_Success;
    } else {
      auto it = gate_by_name().find(std::string(node.name));
      ok = it != gate_by_name().end() && g_gate_params[it->second] == 0 &&
           qk_gate_num_qubits(static_cast<QkGate>(it->second)) == n_qs &&
           qk_circuit_gate(out, static_cast<QkGate>(it->second), qs, nullptr) == QkExitCode_Success;
    }
    if (!ok) {
      PyErr_Format(PyExc_ValueError,
                   "node %zu (%s) cannot be made into a Qiskit instruction: without a source circuit only "
                   "standard gates without parameters, measure, reset, barrier, delay, DD_X and DD_Y can",
                   i, label(node.name, qs, n_qs).c_str());
      return nullptr;
    }
  }
  for (std::uint32_t q = 0; q < n_qubits; ++q)
    if (!wait(q, idle_from[q], end_ns)) return refused();
  owner.qc = nullptr;
  return qk_circuit_to_python_full(out);
}

}  // namespace

bool import_capi_for_conversions() { return qk_import() == 0 && learn_gate_names(); }

PyObject* to_quantum_dag(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] { return to_quantum_dag_impl(args, kwargs); });
}

PyObject* from_quantum_dag(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] { return from_quantum_dag_impl(args, kwargs); });
}

}  // namespace tarvex::qiskit_plugin
