// The dynamic-circuit passes' native messages.
#include "dynamic_messages.hpp"

#include <string>

#include "boundary_kit/py_ref.hpp"
#include "qiskit_objects.hpp"

namespace tarvex::qiskit_plugin {

namespace {

std::string label(const QkCircuitInstructionView& v, std::span<const Wire> qubits) {
  std::string s = "of " + std::string(v.name, v.name_len) + " on qubits [";
  for (std::size_t i = 0; i < qubits.size(); ++i) s += (i ? ", " : "") + std::to_string(qubits[i]);
  return s + "]";
}

}  // namespace

void raise_duration_not_found(const QkCircuitInstructionView& v, std::span<const Wire> qubits) {
  PyErr_Format(transpiler_error_type(), "Duration %s is not found.", label(v, qubits).c_str());
}

void raise_unbounded_duration(const QkCircuitInstructionView& v, std::span<const Wire> qubits) {
  PyErr_Format(transpiler_error_type(), "The duration %s is a parameter: it is not bounded.", label(v, qubits).c_str());
}

void raise_durations_too_long() {
  PyErr_SetString(transpiler_error_type(), "The circuit's durations add up to more than 2**62 dt: too long to schedule.");
}

void raise_bad_block_order(std::size_t n) {
  PyErr_Format(transpiler_error_type(), "block_ordering_callable must yield each of the block's %zu operation nodes once.",
               n);
}

}  // namespace tarvex::qiskit_plugin
