// Standard gates: found by name, and appended with the parameters of an instruction that is read.
#include "gate_params.hpp"

#include <string>
#include <unordered_map>

#include "parameterized_gate.h"

namespace tarvex::qiskit_plugin {

namespace {

std::unordered_map<std::string, QkGate> learn_gate_names() {
  std::unordered_map<std::string, QkGate> table;
  QkCircuit* qc = qk_circuit_new(4, 0);
  const std::uint32_t qubits[4] = {0, 1, 2, 3};
  const double params[4] = {0, 0, 0, 0};
  for (std::uint64_t g = 0; g < kNumStandardGates; ++g) {
    const auto gate = static_cast<QkGate>(g);
    if (qk_circuit_gate(qc, gate, qubits, params) != QkExitCode_Success) continue;
    QkCircuitInstructionView view;
    qk_circuit_view_instruction(qc, qk_circuit_num_instructions(qc) - 1, &view);
    table.emplace(std::string(view.name, view.name_len), gate);
  }
  qk_circuit_free(qc);
  return table;
}

const std::unordered_map<std::string, QkGate>& gate_names() {
  static const std::unordered_map<std::string, QkGate> table = learn_gate_names();
  return table;
}

}  // namespace

bool import_capi_for_gate_params() {
  if (qk_import() != 0) return false;
  (void)gate_names();  // learned at import, where a failure can still be reported
  return true;
}

std::optional<QkGate> standard_gate_named(std::string_view name) {
  auto it = gate_names().find(std::string(name));
  if (it == gate_names().end()) return std::nullopt;
  return it->second;
}

QkExitCode GateParams::append(QkCircuit* circuit, QkGate gate, const std::uint32_t* qubits,
                              const QkCircuitInstructionView& view, std::size_t n) {
  // The parameters sit qk_param_stride() bytes apart: QkParam's size is not part of the API.
  const std::size_t stride = qk_param_stride();
  const char* base = reinterpret_cast<const char*>(view.params);
  reals_.resize(n);
  params_.resize(n);
  bool all_real = true;
  for (std::size_t k = 0; k < n; ++k) {
    const QkParam* p = reinterpret_cast<const QkParam*>(base + k * stride);
    params_[k] = p;
    all_real = all_real && qk_param_kind(p) == QkParamKind_Real;
    if (all_real) reals_[k] = qk_param_as_real(p);
  }
  if (all_real) return qk_circuit_gate(circuit, gate, qubits, n == 0 ? nullptr : reals_.data());
  return tarvex_circuit_parameterized_gate(circuit, gate, qubits, params_.data());
}

double param_value(const QkParam* p) {
  std::int64_t i;
  if (qk_param_kind(p) == QkParamKind_Int && qk_param_as_int(p, &i)) return static_cast<double>(i);
  return qk_param_as_real(p);
}

bool real_value(QkParam* owned, double& value) {
  const bool real = qk_param_kind(owned) == QkParamKind_Real;
  if (real) value = qk_param_as_real(owned);
  qk_param_free(owned);
  return real;
}

}  // namespace tarvex::qiskit_plugin
