// Writing the padded circuit through the C API: copies of the input's operations, delays and pulses.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "dag_reader.hpp"
#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

/// Builds the output as a native circuit with the registers and global phase of the input, then
/// hands it to Python as a DAGCircuit. Every call appends one instruction (O(1) amortised) and
/// returns false with a Python error set if Qiskit refuses it.
class CircuitWriter {
 public:
  CircuitWriter() = default;
  CircuitWriter(const CircuitWriter&) = delete;
  CircuitWriter& operator=(const CircuitWriter&) = delete;
  ~CircuitWriter();

  /// Starts an empty circuit shaped like `like`: its qubits, clbits, registers and global phase.
  bool begin(const QkDag* like);
  /// A copy of Qiskit node `qk_id` of `src`, of kind `kind` (and QkGate `gate` for gates), on the
  /// `wires` read_dag stored for it (clbits numbered after the `n_qubits` qubits).
  bool copy(const QkDag* src, std::uint32_t qk_id, OpKind kind, std::uint8_t gate,
            std::span<const Qubit> wires, std::uint32_t n_qubits);
  /// A delay of `duration_dt` cycles on `qubit`.
  bool delay(std::uint32_t qubit, double duration_dt);
  /// Standard gate `gate` on one qubit with `params` (as many as the gate takes).
  bool gate(std::uint8_t gate, std::uint32_t qubit, const double* params);
  bool set_global_phase(double phase);
  /// The finished circuit as a new Python DAGCircuit whose k-th instruction written is op node
  /// `first_op` + k; the writer is empty afterwards.
  PyObject* finish(std::uint32_t& first_op);

 private:
  bool check(QkExitCode code, const char* what);
  static std::array<std::int16_t, 256> filled(std::int16_t v) {
    std::array<std::int16_t, 256> a;
    a.fill(v);
    return a;
  }
  QkCircuit* circuit_ = nullptr;
  std::array<std::int16_t, 256> gate_params_ = filled(-1);  // parameters per QkGate, learned on first use
  std::vector<std::uint32_t> qubits_;
  std::vector<double> params_;
  std::vector<const QkParam*> symbolic_;
  std::vector<QkComplex64> matrix_;
};

}  // namespace tarvex::qiskit_plugin
