// Appending a standard gate with the parameters of an instruction that is read, numeric or symbolic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

/// The number of standard gates: QkGate values run from 0 below it.
inline constexpr std::uint64_t kNumStandardGates = QkGate_RC3X + 1;

/// Scratch space for the parameters of one gate at a time, reused from gate to gate.
class GateParams {
 public:
  /// Appends standard gate `gate` on `qubits` to `circuit` with the first `n` parameters of `view`:
  /// as numbers when all of them are real numbers, else as the parameter objects themselves (so a
  /// symbolic parameter stays symbolic). Qiskit's exit code. O(n).
  QkExitCode append(QkCircuit* circuit, QkGate gate, const std::uint32_t* qubits,
                    const QkCircuitInstructionView& view, std::size_t n);

 private:
  std::vector<double> reals_;
  std::vector<const QkParam*> params_;
};

/// The standard gate Qiskit names `name`, or nothing: every name read from Qiskit itself, once, by
/// appending each standard gate to a scratch circuit (the C API reads an instruction's name, not its
/// gate). O(len(name)) expected.
std::optional<QkGate> standard_gate_named(std::string_view name);

/// The value of a numeric parameter (a delay's duration): an int or a real number. O(1).
double param_value(const QkParam* p);

/// Whether `owned` (a parameter the caller owns, such as a global phase, freed here) is a real
/// number, written to `value` if so. O(1).
bool real_value(QkParam* owned, double& value);

}  // namespace tarvex::qiskit_plugin
