// Reading a Qiskit DAGCircuit through the C API: operations, wires and durations per node.
#include "dag_reader.hpp"

#include <array>
#include <cmath>
#include <string>
#include <string_view>

#include "ref.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_dag_reader() { return qk_import() == 0; }

QkDag* borrow_dag(PyObject* dag) { return qk_dag_borrow_from_python(dag); }

std::string node_label(const QkDag* dag, std::uint32_t qk_id) {
  QkCircuitInstructionView view;
  qk_dag_view_instruction(dag, qk_id, &view);
  std::string label(view.name, view.name_len);
  label += " on qubits [";
  for (std::uint32_t i = 0; i < view.num_qubits; ++i)
    label += (i ? ", " : "") + std::to_string(view.qubits[i]);
  return label + "]";
}

void raise_for_node(const QkDag* dag, std::uint32_t qk_id, const char* what) {
  PyErr_Format(transpiler_error(), "%s: %s", node_label(dag, qk_id).c_str(), what);
}

bool real_global_phase(const QkDag* dag, double& phase) {
  QkParam* p = qk_dag_global_phase(dag);
  const bool real = qk_param_kind(p) == QkParamKind_Real;
  if (real) phase = qk_param_as_real(p);
  qk_param_free(p);
  return real;
}

namespace {

constexpr int kUnresolved = -2;

// Per-read cache from an operation to its slot in the duration table: standard gates by their
// QkGate, the other kinds by their fixed names. A name is hashed at most once per read.
class SlotCache {
 public:
  explicit SlotCache(const DurationTable& table) : table_(table) {
    gate_slots_.fill(kUnresolved);
    kind_slots_.fill(kUnresolved);
  }
  int gate(const QkDag* dag, std::uint32_t qk_id, QkGate g) {
    int& s = gate_slots_[static_cast<std::uint8_t>(g)];
    if (s == kUnresolved) s = by_view(dag, qk_id);
    return s;
  }
  int kind(const QkDag* dag, std::uint32_t qk_id, OpKind k) {
    int& s = kind_slots_[static_cast<std::size_t>(k)];
    if (s == kUnresolved) s = by_view(dag, qk_id);
    return s;
  }

 private:
  int by_view(const QkDag* dag, std::uint32_t qk_id) const {
    QkCircuitInstructionView view;
    qk_dag_view_instruction(dag, qk_id, &view);
    return table_.slot(std::string_view(view.name, view.name_len));
  }
  const DurationTable& table_;
  std::array<int, 256> gate_slots_;
  std::array<int, 8> kind_slots_;
};

// The core's name for each kind: the core needs no more than the kind to tell delays and resets.
constexpr std::string_view kKindNames[] = {"gate", "measure", "reset", "barrier", "delay", "unitary"};

}  // namespace

bool read_dag(const QkDag* dag, const DurationTable& table,
              const std::unordered_map<std::uint32_t, double>& delay_dt, ReadDag& out) {
  out.n_qubits = qk_dag_num_qubits(dag);
  out.n_clbits = qk_dag_num_clbits(dag);
  const std::size_t n = qk_dag_num_op_nodes(dag);
  out.qk_ids.resize(n);
  qk_dag_topological_op_nodes(dag, out.qk_ids.data());
  out.kinds.resize(n);
  out.gates.assign(n, 0);
  out.graph.reserve(n, 2 * n);

  SlotCache slots(table);
  std::vector<Qubit> wires;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t id = out.qk_ids[i];
    const std::uint32_t nq = qk_dag_op_node_num_qubits(dag, id);
    const std::uint32_t* qs = qk_dag_op_node_qubits(dag, id);
    const std::span<const std::uint32_t> qubits(qs, nq);
    wires.assign(qs, qs + nq);
    OpKind kind;
    double duration = 0.0;
    switch (qk_dag_op_node_kind(dag, id)) {
      case QkOperationKind_Gate: {
        kind = OpKind::kGate;
        const QkGate g = qk_dag_op_node_gate_op(dag, id, nullptr);
        out.gates[i] = static_cast<std::uint8_t>(g);
        duration = table.get(slots.gate(dag, id, g), qubits);
        break;
      }
      case QkOperationKind_Measure: {
        kind = OpKind::kMeasure;
        const std::uint32_t nc = qk_dag_op_node_num_clbits(dag, id);
        const std::uint32_t* cs = qk_dag_op_node_clbits(dag, id);
        for (std::uint32_t k = 0; k < nc; ++k) wires.push_back(Qubit{out.n_qubits} + cs[k]);
        duration = table.get(slots.kind(dag, id, kind), qubits);
        break;
      }
      case QkOperationKind_Reset:
        kind = OpKind::kReset;
        duration = table.get(slots.kind(dag, id, kind), qubits);
        break;
      case QkOperationKind_Barrier:
        kind = OpKind::kBarrier;
        break;
      case QkOperationKind_Delay: {
        kind = OpKind::kDelay;
        auto it = delay_dt.find(id);
        if (it == delay_dt.end()) {
          raise_for_node(dag, id, "the delay's duration was not given");
          return false;
        }
        duration = it->second;
        break;
      }
      case QkOperationKind_Unitary:
        kind = OpKind::kUnitary;
        duration = table.get(slots.kind(dag, id, kind), qubits);
        break;
      case QkOperationKind_ControlFlow:
        raise_for_node(dag, id, "control flow cannot be scheduled");
        return false;
      default:
        raise_for_node(dag, id, "an operation the Qiskit C API cannot read is not supported");
        return false;
    }
    if (std::isnan(duration)) {
      raise_for_node(dag, id, "no duration for it in the target or the durations");
      return false;
    }
    out.kinds[i] = kind;
    out.graph.add_gate(kKindNames[static_cast<std::size_t>(kind)], wires, duration);
  }
  return true;
}

}  // namespace tarvex::qiskit_plugin
