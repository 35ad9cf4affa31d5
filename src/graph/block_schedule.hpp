// Block schedule: the start of every node of a block program, in timing blocks that restart at zero
// after control flow and resets.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/block_program.hpp"

namespace tarvex {

enum class SchedulePolicy : std::uint8_t {
  kAsap,  ///< every node as early as its wires allow
  kAlap,  ///< the ASAP blocks, then every node as late as its block allows
};

/// Per node: its timing block (1, 2, ... in visit order) and its start within that block.
struct BlockSchedule {
  std::vector<std::uint32_t> block;
  std::vector<Ticks> start;
};

/// Schedules `program`, visiting each block's nodes in `order` and a control-flow node's bodies
/// right after it, depth first.
///
/// Timing blocks: every block visit opens one, and so does the end of each control-flow node.
/// Within a block, wires start free at 0.
/// - A measurement or reset starts when its qubits are free. If its qubits are disjoint from the
///   current group's, it joins the group and all members start at the group's latest start; if
///   they overlap, a group holding a reset ends the block (the node starts at 0 in the next) and
///   any other group is closed, the node opening a new one. A reset marks its group before the
///   check, so a reset overlapping any group ends the block, and its new group counts as
///   reset-free. A clbit written by several members is free after the latest of them.
/// - Any other node first closes the group if it shares a qubit with it (ending the block if the
///   group holds a reset), then starts when all its wires are free.
/// - A control-flow node starts when all its wires are free and takes no time.
/// - Under kAlap, the first node after a reset that is neither a measurement, a reset nor control
///   flow opens a new block, whatever its qubits.
/// - Every node leaves its wires free at its end. A node without wires starts at 0.
///
/// kAlap then sweeps each block backwards: the nodes sorted by (block, latest end first, barriers
/// first, shortest first, visit order) each move to end when the earliest later node on its qubits
/// starts (at first the block's end); a group moves as one, to the earliest such time over its
/// members. Clbits are not considered there.
///
/// The program's durations must be non-negative with a total below 2^62. O(nodes + entries + group sizes^2),
/// plus a sort of the nodes under kAlap.
BlockSchedule schedule_blocks(const BlockProgram& program, const BlockOrder& order, SchedulePolicy policy);

}  // namespace tarvex
