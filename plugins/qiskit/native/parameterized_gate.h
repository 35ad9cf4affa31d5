/* A gate with symbolic parameters, appended through the C shim in parameterized_gate.c. */
#pragma once

#ifdef __cplusplus
#include "qiskit_capi.hpp"
extern "C" {
#else
#include <qiskit.h> /* after parameterized_gate.c's defines */
#endif

int tarvex_import_capi_for_parameterized_gate(void);

/* qk_circuit_parameterized_gate, callable from C++. */
QkExitCode tarvex_circuit_parameterized_gate(QkCircuit* circuit, QkGate gate, const uint32_t* qubits,
                                             const QkParam* const* params);

#ifdef __cplusplus
}
#endif
