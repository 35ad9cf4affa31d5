// Reading a Qiskit DAGCircuit through the C API: operations, wires and durations per node.
#include "dag_reader.hpp"

#include <array>
#include <cmath>
#include <string_view>

#include "boundary_kit/fault.hpp"
#include "gate_params.hpp"
#include "boundary_kit/messages.hpp"
#include "messages.hpp"
#include "qiskit_objects.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_dag_reader() { return qk_import() == 0; }

QkDag* extract_dag(PyObject* obj) {
  // Checked here, not left to the C API, whose refusal leaks a reference each time.
  if (!PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(dag_circuit_type()))) {
    kit::raise_cast_error(Py_TYPE(obj), "DAGCircuit");
    throw kit::PythonErrorSet{};
  }
  QkDag* dag = qk_dag_borrow_from_python(obj);
  if (dag == nullptr) kit::python_call_failed();
  return dag;
}

std::string node_label(const QkDag* dag, std::uint32_t qk_id) {
  QkCircuitInstructionView view;
  qk_dag_view_instruction(dag, qk_id, &view);
  return instruction_label({view.name, view.name_len}, {view.qubits, view.num_qubits});
}

bool real_global_phase(const QkDag* dag, double& phase) { return real_value(qk_dag_global_phase(dag), phase); }

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

// The kind of each node, or false where one cannot be copied natively. Control flow is kept (as a
// barrier, never read further): it is refused by name in the second walk, as Qiskit refuses it.
bool read_kinds(const QkDag* dag, ReadOperations& out, std::vector<bool>& control_flow) {
  const std::size_t n = out.source_ids.size();
  out.kinds.resize(n);
  control_flow.assign(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    switch (qk_dag_op_node_kind(dag, out.source_ids[i])) {
      case QkOperationKind_Gate:
        out.kinds[i] = OpKind::kGate;
        break;
      case QkOperationKind_Measure:
        out.kinds[i] = OpKind::kMeasure;
        break;
      case QkOperationKind_Reset:
        out.kinds[i] = OpKind::kReset;
        break;
      case QkOperationKind_Barrier:
        out.kinds[i] = OpKind::kBarrier;
        break;
      case QkOperationKind_Delay:
        out.kinds[i] = OpKind::kDelay;
        break;
      case QkOperationKind_Unitary:
        out.kinds[i] = OpKind::kUnitary;
        break;
      case QkOperationKind_ControlFlow:
        out.kinds[i] = OpKind::kBarrier;
        control_flow[i] = true;
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

bool read_dag(const QkDag* dag, const DurationTable& table, const DelayDurations& delays, ReadOperations& out) {
  out.n_qubits = qk_dag_num_qubits(dag);
  out.n_clbits = qk_dag_num_clbits(dag);
  const std::size_t n = qk_dag_num_op_nodes(dag);
  out.source_ids.resize(n);
  qk_dag_topological_op_nodes(dag, out.source_ids.data());
  std::vector<bool> control_flow;
  if (!read_kinds(dag, out, control_flow)) return false;
  out.gates.assign(n, 0);
  out.graph.reserve(n, 2 * n);

  SlotCache slots(table);
  std::vector<Qubit> wires;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t id = out.source_ids[i];
    const std::uint32_t nq = qk_dag_op_node_num_qubits(dag, id);
    const std::uint32_t* qs = qk_dag_op_node_qubits(dag, id);
    const std::span<const std::uint32_t> qubits(qs, nq);
    wires.assign(qs, qs + nq);
    const OpKind kind = out.kinds[i];
    double duration = 0.0;
    if (control_flow[i]) {
      raise_control_flow(node_label(dag, id));
      throw kit::PythonErrorSet{};
    }
    switch (kind) {
      case OpKind::kGate: {
        const QkGate g = qk_dag_op_node_gate_op(dag, id, nullptr);
        out.gates[i] = static_cast<std::uint8_t>(g);
        duration = table.get(slots.gate(dag, id, g), qubits);
        break;
      }
      case OpKind::kMeasure: {
        const std::uint32_t nc = qk_dag_op_node_num_clbits(dag, id);
        const std::uint32_t* cs = qk_dag_op_node_clbits(dag, id);
        for (std::uint32_t k = 0; k < nc; ++k) wires.push_back(Qubit{out.n_qubits} + cs[k]);
        duration = table.get(slots.kind(dag, id, kind), qubits);
        break;
      }
      case OpKind::kReset:
      case OpKind::kUnitary:
        duration = table.get(slots.kind(dag, id, kind), qubits);
        break;
      case OpKind::kBarrier:
        break;
      case OpKind::kDelay: {
        auto it = delays.find(id);
        if (it == delays.end()) {
          raise_delay_not_given(node_label(dag, id));
          throw kit::PythonErrorSet{};
        }
        duration = it->second;
        break;
      }
    }
    if (std::isnan(duration)) {
      raise_no_duration(node_label(dag, id));
      throw kit::PythonErrorSet{};
    }
    out.graph.add_gate(kKindNames[static_cast<std::size_t>(kind)], wires, duration);
  }
  return true;
}

}  // namespace tarvex::qiskit_plugin
