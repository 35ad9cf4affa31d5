/* One C API call that C++ cannot make: Qiskit 2.6's generated header declares the parameter array
   of qk_circuit_parameterized_gate as "const const QkParam **", a repeated qualifier that C
   accepts and C++ rejects. This C file makes the call for the C++ code. */
#define PY_SSIZE_T_CLEAN
#define QISKIT_PYTHON_EXTENSION
#include <qiskit.h>

#include "parameterized_gate.h"

int tarvex_import_capi_for_parameterized_gate(void) { return qk_import(); }

QkExitCode tarvex_circuit_parameterized_gate(QkCircuit* circuit, QkGate gate, const uint32_t* qubits,
                                             const QkParam* const* params) {
  return qk_circuit_parameterized_gate(circuit, gate, qubits, (const QkParam**)params);
}
