// Reading a circuit with control flow through Qiskit's C API into the core's block program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "boundary_kit/py_ref.hpp"
#include "durations.hpp"
#include "graph/block_program.hpp"
#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

/// The owning reference of the boundary kit.
using Ref = kit::PyRef;

/// A block program and where each of its nodes came from, for writing their copies. Owns the
/// control-flow handles its body circuits are borrowed from.
struct ReadBlocks {
  explicit ReadBlocks(Wire n_qubits, Wire n_clbits) : program(n_qubits, n_clbits) {}
  ReadBlocks(const ReadBlocks&) = delete;
  ReadBlocks& operator=(const ReadBlocks&) = delete;
  ~ReadBlocks();

  BlockProgram program;
  std::vector<const QkCircuit*> source;         // per node: the circuit it was read from
  std::vector<std::uint32_t> index;             // per node: its instruction index there
  std::vector<const QkCircuit*> block_source;   // per block
  std::vector<QkControlFlowInstruction*> flows;  // per control-flow index
};

/// How the reader resolves what the C API does not tell: Python callbacks on `writer`.
///   writer.control_flow(cf, parent, k, j, wants_condition) -> int
///     control-flow node `cf` (its control-flow index) is instruction j of body k of `parent`
///     (-1, -1, j for the root circuit); with `wants_condition` (an if/else whose condition is an
///     expression) the result is the index, in that circuit, of the one clbit the condition reads,
///     or -1.
///   writer.topological(cf, k) -> DAGCircuit of body k of `cf`, for its topological order
///   writer.order(block, cf, k) -> sequence of int
///     only with a custom ordering: the visit order of block `block` (body k of `cf`, or the root
///     when cf is -1), as positions in the block's topological order.
struct ReadRequest {
  const DurationTable* durations = nullptr;
  double dt = 0.0;  // seconds per dt, > 0
  PyObject* writer = nullptr;
  bool custom_order = false;
  /// The root circuit comes in an order of its own, not its DAG's: its DAG's (lexicographic) order
  /// is found from its wires. An instruction on no qubit gives kUnsupported.
  bool root_in_own_order = false;
};

enum class ReadStatus : std::uint8_t {
  kRead,
  kFailed,       ///< a Python exception is set
  kUnsupported,  ///< the circuit holds what only the runtime's own passes handle; `reason` says what
};

/// Reads `top` (the root circuit, in the DAG's topological order unless `root_in_own_order`) and its bodies at every depth
/// into `out`: each block's nodes in the topological order of the block's DAG, then its bodies
/// depth first. Durations: the table's entry for the name on the root qubits, in dt; delays
/// converted to dt as Qiskit's unit conversion does; control flow and barriers 0. A missing or
/// unbounded duration raises TranspilerError; operations the C API cannot read or copy,
/// expression durations and an order the callback gets wrong give kUnsupported or kFailed.
/// With `custom_order`, `order` gets every block's visit order. O(nodes log nodes) for the bodies'
/// topological orders, then O(1) expected per wire.
ReadStatus read_blocks(const QkCircuit* top, const ReadRequest& request, ReadBlocks& out, BlockOrder& order,
                       std::string& reason);

}  // namespace tarvex::qiskit_plugin
