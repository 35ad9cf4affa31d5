// Reading a circuit with control flow through Qiskit's C API: blocks, durations and conditions.
#include "block_reader.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "boundary_kit/messages.hpp"
#include "boundary_kit/py_ref.hpp"
#include "graph/lexicographic_order.hpp"
#include "messages.hpp"
#include "qiskit_objects.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_block_reader() { return qk_import() == 0; }

ReadBlocks::~ReadBlocks() {
  for (QkControlFlowInstruction* cf : flows) qk_control_flow_instruction_free(cf);
}

namespace {

// Durations above this in total could overflow the schedule's sums.
constexpr double kMaxTotalTicks = 4611686018427387904.0;  // 2^62

// A delay's duration in dt as Qiskit's TimeUnitConversion gives it: SI values scaled by an exact
// power of ten, then divided by dt and rounded half to even. False for expressions and parameters.
bool delay_ticks(const QkCircuit* circ, std::size_t i, const QkCircuitInstructionView& v, double dt, Ticks& out,
                 bool& unbounded) {
  unbounded = false;
  const QkDelayUnit unit = qk_circuit_delay_unit(circ, i);
  if (unit == QkDelayUnit_EXPR || unit == QkDelayUnit_Unknown || v.num_params != 1) return false;
  const QkParam* p = v.params;
  std::int64_t whole;
  const bool is_int = qk_param_as_int(p, &whole);
  if (!is_int && qk_param_kind(p) != QkParamKind_Real) {
    unbounded = true;
    return false;
  }
  const double value = is_int ? static_cast<double>(whole) : qk_param_as_real(p);
  if (unit == QkDelayUnit_DT) {
    if (is_int) {
      out = whole;
      return true;
    }
    if (value != std::floor(value) || !(std::fabs(value) <= kMaxTotalTicks)) return false;
    out = static_cast<Ticks>(value);
    return true;
  }
  static constexpr double kDivisor[] = {1.0, 1e3, 1e6, 1e9, 1e12};  // s, ms, us, ns, ps
  const double ticks = std::nearbyint(value / kDivisor[unit] / dt);
  if (!(std::fabs(ticks) <= kMaxTotalTicks)) return false;
  out = static_cast<Ticks>(ticks);
  return true;
}

// Per-read cache from an operation name to its duration slot; standard names are static strings in
// Qiskit, so the pointer alone finds them after the first lookup.
class SlotCache {
 public:
  explicit SlotCache(const DurationTable& table) : table_(table) {}
  int slot(const QkCircuitInstructionView& v) {
    auto it = by_pointer_.find(v.name);
    if (it != by_pointer_.end() && it->second.second == v.name_len) return it->second.first;
    const int s = table_.slot(std::string_view(v.name, v.name_len));
    by_pointer_[v.name] = {s, v.name_len};
    return s;
  }

 private:
  const DurationTable& table_;
  std::unordered_map<const char*, std::pair<int, std::size_t>> by_pointer_;
};

struct Flow {
  NodeId node;
  QkControlFlowInstruction* inst;
};

// One block being read: its circuit, its wires as root wires, and its control flow, whose bodies
// are read after all of its nodes.
struct Level {
  BlockId block;
  const QkCircuit* circ;
  const QkControlFlowInstruction* parent;  // the control flow this block is a body of
  long parent_index;                        // its control-flow index, or -1
  long k;                                   // which body, or -1
  std::vector<Wire> qmap, cmap;             // local index -> root wire
  std::vector<Flow> flows;
  std::size_t next_flow = 0;
  std::uint32_t next_body = 0;
};

class Reader {
 public:
  Reader(const ReadRequest& r, ReadBlocks& out, BlockOrder& order, std::string& reason)
      : r_(r), out_(out), order_(order), reason_(reason), slots_(*r.durations) {}

  ReadStatus run(const QkCircuit* top) {
    top_ = top;
    const Wire nq = out_.program.n_qubits(), nc = out_.program.n_wires() - nq;
    Level root{0, top, nullptr, -1, -1, {}, {}, {}};
    root.qmap.resize(nq);
    root.cmap.resize(nc);
    std::iota(root.qmap.begin(), root.qmap.end(), 0);
    std::iota(root.cmap.begin(), root.cmap.end(), nq);
    out_.block_source.push_back(top);
    std::vector<Level> stack;
    stack.push_back(std::move(root));
    if (ReadStatus s = read_nodes(stack.back()); s != ReadStatus::kRead) return s;
    while (!stack.empty()) {
      Level& level = stack.back();
      if (level.next_flow == level.flows.size()) {
        stack.pop_back();
        continue;
      }
      const Flow flow = level.flows[level.next_flow];
      const std::uint32_t n_bodies = static_cast<std::uint32_t>(qk_control_flow_num_blocks(flow.inst));
      if (level.next_body == n_bodies) {
        ++level.next_flow;
        level.next_body = 0;
        continue;
      }
      const std::uint32_t k = level.next_body++;
      const QkCircuit* body = qk_control_flow_block_circuit(flow.inst, k);
      Level child{0, body, flow.inst, static_cast<long>(out_.program.control_flow_index(flow.node)), k, {}, {}, {}};
      const std::uint32_t* qm = qk_control_flow_qubit_map(flow.inst);
      const std::uint32_t* cm = qk_control_flow_clbit_map(flow.inst);
      child.qmap.assign(qm, qm + qk_circuit_num_qubits(body));
      child.cmap.resize(qk_circuit_num_clbits(body));
      for (std::size_t i = 0; i < child.cmap.size(); ++i) child.cmap[i] = nq + cm[i];
      if (child.qmap.size() != out_.program.qubits(flow.node).size() ||
          child.cmap.size() != out_.program.clbits(flow.node).size()) {
        reason_ = "a control-flow body whose width differs from its instruction's";
        return ReadStatus::kUnsupported;
      }
      child.block = out_.program.begin_body(flow.node, k, child.qmap, child.cmap);
      out_.block_source.push_back(body);
      stack.push_back(std::move(child));
      if (ReadStatus s = read_nodes(stack.back()); s != ReadStatus::kRead) return s;
    }
    if (total_ > kMaxTotalTicks) {
      raise_durations_too_long();
      return ReadStatus::kFailed;
    }
    return ReadStatus::kRead;
  }

 private:
  // The block's instruction indices in the topological order of its DAG. The root circuit comes in
  // that order already. A body's DAG comes from Python (writer.topological), where converting a
  // circuit with registers Python has seen is safe; it numbers its operations after its wire
  // nodes, in circuit order.
  // Every instruction shares a wire with the one before: the circuit order is the only
  // topological order, and no DAG is needed to find it.
  static bool is_chain(const QkCircuit* circ, std::size_t n) {
    QkCircuitInstructionView prev, cur;
    if (n != 0) qk_circuit_view_instruction(circ, 0, &prev);
    for (std::size_t i = 1; i < n; ++i) {
      qk_circuit_view_instruction(circ, i, &cur);
      auto shares = [](const std::uint32_t* a, std::uint32_t na, const std::uint32_t* b, std::uint32_t nb) {
        for (std::uint32_t x = 0; x < na; ++x)
          for (std::uint32_t y = 0; y < nb; ++y)
            if (a[x] == b[y]) return true;
        return false;
      };
      if (!shares(prev.qubits, prev.num_qubits, cur.qubits, cur.num_qubits) &&
          !shares(prev.clbits, prev.num_clbits, cur.clbits, cur.num_clbits))
        return false;
      prev = cur;
    }
    return true;
  }

  // The root circuit's DAG order from its wires (see lexicographic_order): false if an
  // instruction acts on no qubit, which that order does not cover.
  bool root_dag_order(std::size_t n, std::vector<std::uint32_t>& idx) {
    const Wire nq = out_.program.n_qubits();
    std::vector<std::size_t> begin(n + 1, 0);
    std::vector<Wire> wires;
    for (std::size_t i = 0; i < n; ++i) {
      QkCircuitInstructionView v;
      qk_circuit_view_instruction(top_, i, &v);
      if (v.num_qubits == 0) return false;
      wires.insert(wires.end(), v.qubits, v.qubits + v.num_qubits);
      for (std::uint32_t k = 0; k < v.num_clbits; ++k) wires.push_back(nq + v.clbits[k]);
      begin[i + 1] = wires.size();
    }
    lexicographic_order(n, nq, out_.program.n_wires(),
                        [&](std::size_t i) { return std::span<const Wire>(wires.data() + begin[i], begin[i + 1] - begin[i]); },
                        idx);
    return true;
  }

  ReadStatus base_order(const Level& level, std::vector<std::uint32_t>& idx) {
    const std::size_t n = qk_circuit_num_instructions(level.circ);
    if (level.block == 0 && r_.root_in_own_order) {
      if (root_dag_order(n, idx)) return ReadStatus::kRead;
      reason_ = "an instruction on no qubit in the circuit's own order";
      return ReadStatus::kUnsupported;
    }
    idx.resize(n);
    std::iota(idx.begin(), idx.end(), 0);
    if (level.block == 0 || is_chain(level.circ, n)) return ReadStatus::kRead;
    Ref body = Ref::steal(PyObject_CallMethod(r_.writer, "topological", "ll", level.parent_index, level.k));
    // Checked here: the C API's own refusal of another object leaks a reference.
    if (body && !PyObject_TypeCheck(body.get(), reinterpret_cast<PyTypeObject*>(dag_circuit_type()))) {
      kit::raise_cast_error(Py_TYPE(body.get()), "DAGCircuit");
      return ReadStatus::kFailed;
    }
    QkDag* dag = body ? qk_dag_borrow_from_python(body.get()) : nullptr;
    if (dag == nullptr) return ReadStatus::kFailed;
    if (qk_dag_num_op_nodes(dag) != n) {
      raise_foreign_body_dag();
      return ReadStatus::kFailed;
    }
    qk_dag_topological_op_nodes(dag, idx.data());
    // Its operation nodes must be numbered n in a row: a DAG that lost some (another object's, or
    // one edited in Python) would send the instruction indices past the body's end.
    const std::uint32_t first = *std::min_element(idx.begin(), idx.end());
    std::vector<char> seen(n, 0);
    for (std::uint32_t& i : idx) {
      i -= first;
      if (i >= n || seen[i]) {
        raise_foreign_body_dag();
        return ReadStatus::kFailed;
      }
      seen[i] = 1;
    }
    return ReadStatus::kRead;
  }

  ReadStatus read_nodes(Level& level) {
    std::vector<std::uint32_t> idx;
    if (ReadStatus s = base_order(level, idx); s != ReadStatus::kRead) return s;
    const NodeId begin = out_.program.node_count();
    for (std::uint32_t i : idx) {
      QkCircuitInstructionView v;
      qk_circuit_view_instruction(level.circ, i, &v);
      qubits_.assign(v.num_qubits, 0);
      clbits_.assign(v.num_clbits, 0);
      for (std::uint32_t k = 0; k < v.num_qubits; ++k) qubits_[k] = level.qmap[v.qubits[k]];
      for (std::uint32_t k = 0; k < v.num_clbits; ++k) clbits_[k] = level.cmap[v.clbits[k]];
      const ReadStatus s = read_node(level, i, v);
      if (s != ReadStatus::kRead) return s;
      out_.source.push_back(level.circ);
      out_.index.push_back(i);
    }
    if (r_.custom_order) return read_custom_order(level, begin, idx.size());
    return ReadStatus::kRead;
  }

  ReadStatus read_node(Level& level, std::uint32_t i, const QkCircuitInstructionView& v) {
    BlockProgram& p = out_.program;
    const QkOperationKind kind = qk_circuit_instruction_kind(level.circ, i);
    switch (kind) {
      case QkOperationKind_Gate:
      case QkOperationKind_Unitary:
        return timed(BlockOp::kGate, v);
      case QkOperationKind_Measure:
        return timed(BlockOp::kMeasure, v);
      case QkOperationKind_Reset:
        return timed(BlockOp::kReset, v);
      case QkOperationKind_Barrier:
        p.add(BlockOp::kBarrier, 0, qubits_, clbits_);
        return ReadStatus::kRead;
      case QkOperationKind_Delay: {
        Ticks t = 0;
        bool unbounded = false;
        if (!delay_ticks(level.circ, i, v, r_.dt, t, unbounded)) {
          if (unbounded) {
            raise_unbounded_duration({v.name, v.name_len}, qubits_);
            return ReadStatus::kFailed;
          }
          reason_ = "a delay whose duration is an expression";
          return ReadStatus::kUnsupported;
        }
        total_ += static_cast<double>(t);
        p.add(BlockOp::kDelay, t, qubits_, clbits_);
        return ReadStatus::kRead;
      }
      case QkOperationKind_ControlFlow:
        return control_flow(level, i);
      default:
        reason_ = "an operation the Qiskit C API cannot copy: " + std::string(v.name, v.name_len);
        return ReadStatus::kUnsupported;
    }
  }

  ReadStatus timed(BlockOp op, const QkCircuitInstructionView& v) {
    const double d = r_.durations->get(slots_.slot(v), qubits_);
    if (std::isnan(d)) {
      raise_duration_not_found({v.name, v.name_len}, qubits_);
      return ReadStatus::kFailed;
    }
    total_ += d;
    out_.program.add(op, static_cast<Ticks>(d), qubits_, clbits_);
    return ReadStatus::kRead;
  }

  ReadStatus control_flow(Level& level, std::uint32_t i) {
    QkControlFlowInstruction* inst = qk_circuit_get_control_flow_instruction(level.circ, i, level.parent);
    out_.flows.push_back(inst);
    const QkControlFlowKind kind = qk_control_flow_kind(inst);
    const bool if_else = kind == QkControlFlowKind_IfElse;
    long local_bit = -1;
    bool wants_condition = false;
    if (if_else) {
      switch (qk_control_flow_condition_type(inst)) {
        case QkConditionType_ClBit:
          local_bit = qk_control_flow_condition_bit_info(inst).clbit;
          break;
        case QkConditionType_ClReg: {
          const QkClassicalRegister* reg = qk_control_flow_condition_reg(inst);
          if (qk_classical_register_num_bits(reg) == 1) {
            std::uint32_t bit = UINT32_MAX;
            qk_classical_register_circuit_bits(reg, level.circ, &bit);
            if (bit != UINT32_MAX) local_bit = bit;
          }
          break;
        }
        default:
          wants_condition = true;
      }
    }
    const std::size_t cf_index = out_.program.control_flow_count();
    Ref answer = Ref::steal(PyObject_CallMethod(r_.writer, "control_flow", "nllnO", static_cast<Py_ssize_t>(cf_index),
                                                level.parent_index, level.k, static_cast<Py_ssize_t>(i),
                                                wants_condition ? Py_True : Py_False));
    if (!answer) return ReadStatus::kFailed;
    if (wants_condition) {
      local_bit = PyLong_AsLong(answer.get());
      if (local_bit == -1 && PyErr_Occurred()) return ReadStatus::kFailed;
    }
    const Wire bit = local_bit >= 0 && static_cast<std::size_t>(local_bit) < level.cmap.size() ? level.cmap[local_bit]
                                                                                               : kNoWire;
    const NodeId node = out_.program.add_control_flow(
        qubits_, clbits_, static_cast<std::uint32_t>(qk_control_flow_num_blocks(inst)), if_else, bit);
    level.flows.push_back(Flow{node, inst});
    return ReadStatus::kRead;
  }

  // The callback's order for the block just read: a permutation of 0 .. n - 1.
  ReadStatus read_custom_order(const Level& level, NodeId begin, std::size_t n) {
    order_.resize(out_.program.node_count());
    Ref positions = Ref::steal(PyObject_CallMethod(r_.writer, "order", "nll", static_cast<Py_ssize_t>(level.block),
                                                   level.parent_index, level.k));
    Ref fast = positions ? Ref::steal(PySequence_Fast(positions.get(), "the block order must be a sequence")) : Ref();
    if (!fast) return ReadStatus::kFailed;
    std::vector<char> seen(n, 0);
    bool permutation = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(fast.get())) == n;
    for (std::size_t i = 0; permutation && i < n; ++i) {
      const long pos = PyLong_AsLong(PySequence_Fast_GET_ITEM(fast.get(), i));
      if (pos == -1 && PyErr_Occurred()) return ReadStatus::kFailed;
      permutation = pos >= 0 && static_cast<std::size_t>(pos) < n && !seen[pos];
      if (permutation) {
        seen[pos] = 1;
        order_[begin + i] = begin + static_cast<NodeId>(pos);
      }
    }
    if (!permutation) {
      raise_bad_block_order(n);
      return ReadStatus::kFailed;
    }
    return ReadStatus::kRead;
  }

  const ReadRequest& r_;
  ReadBlocks& out_;
  BlockOrder& order_;
  std::string& reason_;
  SlotCache slots_;
  const QkCircuit* top_ = nullptr;
  std::vector<Wire> qubits_, clbits_;
  double total_ = 0.0;
};

}  // namespace

ReadStatus read_blocks(const QkCircuit* top, const ReadRequest& request, ReadBlocks& out, BlockOrder& order,
                       std::string& reason) {
  Reader reader(request, out, order, reason);
  return reader.run(top);
}

}  // namespace tarvex::qiskit_plugin
