// Reading a QuantumCircuit's CircuitData through the C API into the core's graph, in its own order.
#pragma once

#include <cstdint>

#include "durations.hpp"
#include "qiskit_capi.hpp"
#include "read_operations.hpp"

namespace tarvex::qiskit_plugin {

/// Reads every instruction of `circuit` into `out`, in the circuit's order (a topological order:
/// each instruction comes after those it depends on). Durations come from `table`; a delay's is
/// its own, converted to dt (of `dt_s` seconds, NaN when unknown) as Qiskit's unit conversion does;
/// barriers take none. False, with nothing raised, where only Qiskit's code gives the padding
/// passes' exact output or message: an instruction that is not a standard gate, measure, reset,
/// barrier, unitary or delay (control flow among them), one on no qubit, one without a duration,
/// a delay as an expression, in dt but not an integer, or converted with a rounding Qiskit warns
/// about, and a duration beyond 2**53 dt. O(instructions), O(1) expected each.
bool read_circuit(const QkCircuit* circuit, const DurationTable& table, double dt_s, ReadOperations& out);

/// The circuit's global phase, when it is a plain number. O(1).
bool real_global_phase(const QkCircuit* circuit, double& phase);

}  // namespace tarvex::qiskit_plugin
