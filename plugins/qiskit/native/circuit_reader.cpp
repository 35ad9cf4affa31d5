// Reading a QuantumCircuit's CircuitData through the C API: operations, wires and durations.
#include "circuit_reader.hpp"

#include <cmath>
#include <span>
#include <string_view>
#include <unordered_map>

#include "delay_units.hpp"
#include "gate_params.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_circuit_reader() { return qk_import() == 0; }

bool real_global_phase(const QkCircuit* circuit, double& phase) {
  return real_value(qk_circuit_global_phase(circuit), phase);
}

namespace {

constexpr double kMaxWhole = 9007199254740992.0;  // 2**53: every whole number up to it is exact
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// What an instruction's name tells: its slot in the duration table and, for a gate, its QkGate
// (kNotStandard where no standard gate has the name).
struct NameFacts {
  int slot;
  int gate;
};
constexpr int kNotStandard = -1;

// NameFacts by the address of the name: standard operations share static names, so nearly every
// lookup is one pointer comparison or hash, and each distinct name is hashed as text once per read.
class NameCache {
 public:
  explicit NameCache(const DurationTable& table) : table_(table) {}
  const NameFacts& get(const QkCircuitInstructionView& v) {
    if (v.name == last_name_ && v.name_len == last_len_) return *last_;
    auto [it, added] = by_address_.try_emplace(v.name);
    if (added || it->second.first != v.name_len) {
      const std::string_view name(v.name, v.name_len);
      const std::optional<QkGate> gate = standard_gate_named(name);
      it->second = {v.name_len, NameFacts{table_.slot(name), gate ? static_cast<int>(*gate) : kNotStandard}};
    }
    last_name_ = v.name;
    last_len_ = v.name_len;
    last_ = &it->second.second;
    return *last_;
  }

 private:
  const DurationTable& table_;
  std::unordered_map<const char*, std::pair<std::size_t, NameFacts>> by_address_;
  const char* last_name_ = nullptr;
  std::size_t last_len_ = 0;
  const NameFacts* last_ = nullptr;
};

// A delay's duration in dt as Qiskit's unit conversion gives it: in dt, the integer itself; in
// seconds or an SI prefix of them, round(seconds / dt) after dividing by the exact power of ten,
// accepted only where the rounding error is within what Qiskit lets pass without a warning. NaN
// where only Qiskit's code gives it (an expression, a warning, no dt, a value out of range).
double delay_dt(const QkCircuit* circuit, std::size_t index, const QkCircuitInstructionView& v, double dt_s) {
  const DelayUnit* unit = find_delay_unit(qk_circuit_delay_unit(circuit, index));
  if (unit == nullptr || v.num_params != 1) return kNaN;
  const QkParam* p = v.params;
  double count;
  if (unit->code == QkDelayUnit_DT) {
    std::int64_t k;
    if (qk_param_kind(p) != QkParamKind_Int || !qk_param_as_int(p, &k)) return kNaN;
    count = static_cast<double>(k);
  } else {
    if (!(dt_s > 0.0)) return kNaN;
    const double seconds = param_value(p) / unit->per_second;
    count = std::nearbyint(seconds / dt_s);  // Python's round(): halves to even
    if (!(std::fabs(seconds - count * dt_s) <= 1e-15)) return kNaN;
  }
  return count >= 0.0 && count <= kMaxWhole ? count : kNaN;
}

// The core's name for each kind: the core needs no more than the kind to tell delays and resets.
constexpr std::string_view kKindNames[] = {"gate", "measure", "reset", "barrier", "delay", "unitary"};

}  // namespace

bool read_circuit(const QkCircuit* circuit, const DurationTable& table, double dt_s, ReadOperations& out) {
  out.n_qubits = qk_circuit_num_qubits(circuit);
  out.n_clbits = qk_circuit_num_clbits(circuit);
  const std::size_t n = qk_circuit_num_instructions(circuit);
  out.source_ids.reserve(n);
  out.kinds.reserve(n);
  out.gates.reserve(n);
  out.graph.reserve(n, 2 * n);

  NameCache names(table);
  std::vector<Qubit> wires;
  for (std::size_t i = 0; i < n; ++i) {
    QkCircuitInstructionView v;
    qk_circuit_view_instruction(circuit, i, &v);
    if (v.num_qubits == 0) return false;
    const std::span<const std::uint32_t> qubits(v.qubits, v.num_qubits);
    wires.assign(qubits.begin(), qubits.end());
    OpKind kind;
    std::uint8_t gate = 0;
    double duration;
    switch (qk_circuit_instruction_kind(circuit, i)) {
      case QkOperationKind_Gate: {
        const NameFacts& facts = names.get(v);
        if (facts.gate == kNotStandard) return false;
        kind = OpKind::kGate;
        gate = static_cast<std::uint8_t>(facts.gate);
        duration = table.get(facts.slot, qubits);
        break;
      }
      case QkOperationKind_Measure:
        kind = OpKind::kMeasure;
        for (std::uint32_t k = 0; k < v.num_clbits; ++k) wires.push_back(Qubit{out.n_qubits} + v.clbits[k]);
        duration = table.get(names.get(v).slot, qubits);
        break;
      case QkOperationKind_Reset:
        kind = OpKind::kReset;
        duration = table.get(names.get(v).slot, qubits);
        break;
      case QkOperationKind_Unitary:
        kind = OpKind::kUnitary;
        duration = table.get(names.get(v).slot, qubits);
        break;
      case QkOperationKind_Barrier:
        kind = OpKind::kBarrier;
        duration = 0.0;
        break;
      case QkOperationKind_Delay:
        kind = OpKind::kDelay;
        duration = delay_dt(circuit, i, v, dt_s);
        break;
      default:
        return false;
    }
    if (std::isnan(duration)) return false;
    out.source_ids.push_back(static_cast<std::uint32_t>(i));
    out.kinds.push_back(kind);
    out.gates.push_back(gate);
    out.graph.add_gate(kKindNames[static_cast<std::size_t>(kind)], wires, duration);
  }
  return true;
}

}  // namespace tarvex::qiskit_plugin
