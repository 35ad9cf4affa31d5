// Block ordering: the order in which the block passes visit each block's nodes, so that gates feeding
// no measurement wait for the blocks after it.
#pragma once

#include "graph/block_program.hpp"

namespace tarvex {

/// The default visit order of every block (see BlockOrder), the one the round-based ordering below
/// gives, computed without its rounds. Per block, on its base order as the list:
///
///   Round r walks the list. A measurement, reset or control-flow node that has no such node among
///   its ancestors in the list is a trigger; its descendants are held back. Every other node that is
///   not held back is emitted if some descendant is a measurement, reset or control-flow node, or a
///   direct successor of a trigger of this round; otherwise it is deferred. The round outputs the
///   emitted nodes, then the triggering measurements and resets, then the triggering control flow,
///   each in list order; the next list is the deferred nodes followed by those held back. A round
///   without triggers outputs what remains, and is the last.
///
/// In closed form: with a(n) the largest number of measurement/reset/control-flow nodes on a path
/// ending just before n, such a node is output in round a(n) + 1, as is every node with such a
/// descendant; any other node in the first round r > a(n) in which a descendant of it is a direct
/// successor of a trigger, else in the last round. Within a round the nodes stand by class (others,
/// measurements and resets, control flow), then by a(n), then by base order; the list of round r
/// is ordered by min(a(n), r - 1) and base order, which is how deferral and holding back shuffle it.
///
/// O(nodes + edges + the ancestors searched from the few nodes right after each wire's last
/// measurement, reset or control flow): each wire contributes at most one such search.
BlockOrder order_blocks(const BlockProgram& program);

}  // namespace tarvex
