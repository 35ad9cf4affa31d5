// Writing the padded output of a block walk: the root block and every body natively, the
// control-flow operations that hold the bodies from Python, once per operation.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "block_reader.hpp"
#include "gate_params.hpp"
#include "boundary_kit/py_ref.hpp"
#include "qiskit_objects.hpp"
#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

/// The sink of pad_blocks (see graph/block_padding.hpp). Copies, delays and barriers go natively
/// into the output block being written: `top` (whose CircuitData is `top_data`) for the root, for
/// a body the empty circuit Python hands over. Python callbacks on `writer`, once per body or
/// control-flow operation:
///   writer.body(cf, k, fast_path, n_qubits) -> an empty QuantumCircuit for body k of control-flow
///     node `cf` (its control-flow index), n_qubits wide, laid out as the runtime lays it out;
///   writer.place(cf, bodies, data, qubits, clbits): the operation `cf` with the padded `bodies`
///     (a tuple of QuantumCircuit), appended to the CircuitData `data` on those indices.
/// With keep_positions(), where each input instruction's copy went, once per output block:
///   writer.labels(cf, k, data, positions): body k of `cf` (-1, -1 for the root) is complete in the
///     QuantumCircuit or CircuitData `data`; `positions` (bytes of uint32) gives, per instruction
///     index of the input block, the index of its copy in `data`, or 2**32 - 1 where none was made
///     (delays, which are padded anew) or `place` made it (control flow, whose operation Python
///     builds with its label); shorter than the input block where its last are not copied.
/// Every call appends in O(1) amortised; after a failure (a Python error set) the rest are no-ops.
class BlockWriter {
 public:
  BlockWriter(const ReadBlocks& read, QkCircuit* top, PyObject* top_data, PyObject* writer,
              std::span<const Wire> kept_qubits);

  void node(NodeId id);
  void delay(Wire qubit, Ticks length);
  void barrier(std::span<const Wire> qubits);
  void begin_body(NodeId cf, std::uint32_t k, bool fast_path, std::span<const Wire> qubits);
  void end_body(NodeId cf, std::uint32_t k, Ticks duration);
  void control_flow(NodeId cf, std::span<const Wire> qubits);
  void end(Ticks duration);

  /// Record where copies go and report it per output block (writer.labels); call before the walk.
  void keep_positions() { keep_positions_ = true; }
  bool failed() const { return failed_; }

  // For a filler that appends instructions of its own between the writer's: the output block
  // being written (null after a failure), a root qubit's index there, and recording a failure it
  // met (with a Python error set).
  QkCircuit* circuit() const { return failed_ ? nullptr : frames_.back().circ; }
  /// The same block as Python holds it: the root's CircuitData, or a body's QuantumCircuit.
  PyObject* block_object() const { return frames_.size() == 1 ? top_data_ : frames_.back().circuit.get(); }
  std::uint32_t local_qubit(Wire q) const { return local(q); }
  void fail() { failed_ = true; }
  /// The filler's own copy of `id` (changed, say) is about to be appended: it counts as id's copy.
  void own_copy(NodeId id) {
    if (keep_positions_) record(id);
  }

 private:
  // An output block: its circuit and how a root qubit finds its index there.
  struct Frame {
    QkCircuit* circ;
    enum class Map : std::uint8_t { kRoot, kKept, kList } map;
    std::span<const Wire> list;  // kList: the block's qubits as root wires
    Ref circuit;                 // a body's QuantumCircuit
    Ref data;                    // its CircuitData, fetched when a control-flow operation goes in
    std::vector<std::uint32_t> at;  // with keep_positions: per input instruction, its copy's index
  };
  // The bodies written so far for the control-flow node `cf`.
  struct Bodies {
    NodeId cf;
    std::vector<Ref> circuits;
  };
  PyObject* frame_data(Frame& f);
  std::uint32_t local(Wire q) const;
  void locals(std::span<const Wire> qs);
  bool check(QkExitCode code);
  bool copy_gate(const QkCircuitInstructionView& v);
  void record(NodeId id);
  void report_positions(long cf, long k, PyObject* data);

  const ReadBlocks& read_;
  PyObject* writer_;
  PyObject* top_data_;
  std::vector<Bodies> bodies_;
  std::vector<std::size_t> bodies_at_;  // per control-flow index: its entry in bodies_
  std::vector<std::uint32_t> kept_index_;  // per root qubit: its index among the kept qubits
  std::vector<Frame> frames_;
  std::vector<std::uint32_t> qubits_;
  GateParams params_;
  std::vector<QkComplex64> matrix_;
  std::unordered_map<const char*, std::pair<std::size_t, QkGate>> gates_;  // name pointer -> (length, gate)
  bool keep_positions_ = false;
  bool failed_ = false;
};

}  // namespace tarvex::qiskit_plugin
