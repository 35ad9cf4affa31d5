// Writing the padded circuit through the C API: copies of the input's operations, delays and pulses.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dag_reader.hpp"
#include "gate_params.hpp"
#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

/// One register of a circuit, for an output made from scratch: its name, size and kind.
struct RegisterSpec {
  std::string name;
  std::uint32_t size;
  bool quantum;
  bool operator==(const RegisterSpec&) const = default;
};

/// Builds the output as a native circuit with the registers and global phase of the input, then
/// hands it to Python as a DAGCircuit or, for a circuit's input, as a CircuitData. Every call
/// appends one instruction (O(1) amortised); if Qiskit refuses it, the call raises RuntimeError and
/// throws (see boundary_kit/fault.hpp).
class CircuitWriter {
 public:
  /// Starts an empty circuit shaped like `like`: its qubits, clbits, registers and global phase.
  explicit CircuitWriter(const QkDag* like);
  /// The same for a DAG whose bits are exactly those of `registers`, in order: a copy of a kept
  /// empty circuit with such registers (made once for each of the last few register layouts),
  /// with the DAG's global phase. O(registers) for the copy, against O(bits) for an empty copy of
  /// the DAG, which also makes a DAG and then a circuit of it.
  CircuitWriter(const QkDag* like, const std::vector<RegisterSpec>& registers);
  /// Appends to `into`, an empty circuit shaped like the input that the caller owns and keeps (a
  /// CircuitData made by Python's copy_empty_like: the C API's own empty copy of a circuit Python
  /// has touched can abort the process, cloning Python objects without the interpreter attached).
  explicit CircuitWriter(QkCircuit* into);
  CircuitWriter(const CircuitWriter&) = delete;
  CircuitWriter& operator=(const CircuitWriter&) = delete;
  ~CircuitWriter();

  /// A copy of Qiskit node `qk_id` of `src`, of kind `kind` (and QkGate `gate` for gates), on the
  /// `wires` read_dag stored for it (clbits numbered after the `n_qubits` qubits). Delays are
  /// never copied: their time is padded anew.
  void copy(const QkDag* src, std::uint32_t qk_id, OpKind kind, std::uint8_t gate,
            std::span<const Qubit> wires, std::uint32_t n_qubits);
  /// The same for instruction `index` of the circuit `src`.
  void copy(const QkCircuit* src, std::size_t index, OpKind kind, std::uint8_t gate,
            std::span<const Qubit> wires, std::uint32_t n_qubits);
  /// A delay of `duration_dt` cycles on `qubit`; ValueError beyond 2**63 dt.
  void delay(std::uint32_t qubit, double duration_dt);
  /// Standard gate `gate` on one qubit with `params` (as many as the gate takes).
  void gate(std::uint8_t gate, std::uint32_t qubit, const double* params);
  void set_global_phase(double phase);
  /// Instructions written so far: the next one is number written(). O(1).
  std::size_t written() const noexcept { return written_; }
  /// The finished circuit as a new Python DAGCircuit; the writer is empty afterwards. With
  /// `first_op`, the k-th instruction written is op node *first_op + k, checked on the wire nodes
  /// (O(wires) C API calls, left out without it). O(output) for the conversion.
  PyObject* finish(std::uint32_t* first_op);

 private:
  // `view()` gives the source instruction's view, `unitary(out)` writes its matrix.
  template <class View, class Unitary>
  void copy_with(OpKind kind, std::uint8_t gate, std::span<const Qubit> wires, std::uint32_t n_qubits,
                 View&& view, Unitary&& unitary);
  void check(QkExitCode code, const char* what);
  void appended(QkExitCode code, const char* what);  // check, and count the instruction
  static std::array<std::int16_t, 256> filled(std::int16_t v) {
    std::array<std::int16_t, 256> a;
    a.fill(v);
    return a;
  }
  QkCircuit* circuit_ = nullptr;
  bool owned_ = true;
  std::size_t written_ = 0;
  std::array<std::int16_t, 256> gate_params_ = filled(-1);  // parameters per QkGate, learned on first use
  std::vector<std::uint32_t> qubits_;
  GateParams params_;
  std::vector<QkComplex64> matrix_;
};

/// `value` as a count of dt for the C API: a whole number from 0 below 2**63, else ValueError and
/// a throw. Every time the planner hands out is whole once its inputs are. O(1).
std::int64_t dt_count(double value);

}  // namespace tarvex::qiskit_plugin
