// Writing the padded output of a block walk: the root block and every body natively, the
// control-flow operations that hold the bodies from Python, once per operation.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "block_reader.hpp"
#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

/// The sink of pad_blocks (see graph/block_padding.hpp). Copies, delays and barriers go natively
/// into the output block being written: `top` for the root, for a body the circuit Python made for
/// it. Python callbacks on `writer`, once per control-flow operation or body:
///   writer.begin_body(cf, k, fast_path, n_qubits) -> CircuitData of an empty circuit for body k
///     of control-flow node `cf` (its control-flow index) with n_qubits qubits;
///   writer.place(cf, qubits, clbits): the operation with its bodies, on those indices of the
///     output block that holds it.
/// Every call appends in O(1) amortised; after a failure (a Python error set) the rest are no-ops.
class BlockWriter {
 public:
  BlockWriter(const ReadBlocks& read, QkCircuit* top, PyObject* writer, std::span<const Wire> kept_qubits);

  void node(NodeId id);
  void delay(Wire qubit, Ticks length);
  void barrier(std::span<const Wire> qubits);
  void begin_body(NodeId cf, std::uint32_t k, bool fast_path, std::span<const Wire> qubits);
  void end_body(NodeId cf, std::uint32_t k, Ticks duration);
  void control_flow(NodeId cf, std::span<const Wire> qubits);
  void end(Ticks duration);

  bool failed() const { return failed_; }

 private:
  // An output block: its circuit and how a root qubit finds its index there.
  struct Frame {
    QkCircuit* circ;
    enum class Map : std::uint8_t { kRoot, kKept, kList } map;
    std::span<const Wire> list;  // kList: the block's qubits as root wires
  };
  std::uint32_t local(Wire q) const;
  void locals(std::span<const Wire> qs);
  bool check(QkExitCode code);
  bool copy_gate(const QkCircuitInstructionView& v);

  const ReadBlocks& read_;
  PyObject* writer_;
  std::vector<std::uint32_t> kept_index_;  // per root qubit: its index among the kept qubits
  std::vector<Frame> frames_;
  std::vector<std::uint32_t> qubits_;
  std::vector<double> reals_;
  std::vector<const QkParam*> params_;
  std::vector<QkComplex64> matrix_;
  bool failed_ = false;
};

}  // namespace tarvex::qiskit_plugin
