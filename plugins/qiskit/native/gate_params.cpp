// Appending a standard gate with the parameters of an instruction that is read, numeric or symbolic.
#include "gate_params.hpp"

#include "parameterized_gate.h"

namespace tarvex::qiskit_plugin {

bool import_capi_for_gate_params() { return qk_import() == 0; }

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

}  // namespace tarvex::qiskit_plugin
