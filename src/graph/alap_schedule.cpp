// ALAP schedule computation: the ASAP walk run from the last node, mirrored in time.
#include <limits>

#include "graph/quantum_dag.hpp"

namespace tarvex {

namespace {

// As in the ASAP walk: a wire not seen yet, or one whose time is NaN, never wins "t > start".
constexpr double kNeverBusy = -std::numeric_limits<double>::infinity();

}  // namespace

void QuantumDAG::build_alap_schedule() {
  const std::size_t n = node_count();
  // All allocation happens first; if it fails, the old schedule stays as it was.
  with_qubit_values(last_on_qubit_, kNeverBusy, [&](auto& busy_from_end) {
    starts_.resize_uninitialized(n);
    double* const rev_ends = starts_.data();
    const Qubit* pool = qubit_pool_.data();
    const NodeId* preds = pred_pool_.data();
    const std::size_t* begin = qubit_begin_.data();
    // Reverse time: a node's distance from the circuit's end to its own end is the latest reverse
    // end among the nodes after it on its wires. The circuit's length is the largest reverse end
    // of a wire's first node (an entry without predecessor), which is where each wire's reverse
    // time stops.
    double length = 0.0;
    for (NodeId id = n; id-- > 0;) {
      const std::size_t e0 = begin[id], e1 = begin[id + 1];
      double from_end = 0.0;
      for (std::size_t e = e0; e < e1; ++e) {
        const double t = busy_from_end.get(pool[e]);
        from_end = t > from_end ? t : from_end;
      }
      const double rev_end = from_end + durations_[id];
      for (std::size_t e = e0; e < e1; ++e) {
        busy_from_end.set(pool[e], rev_end);
        if (preds[e] == kNoNode && rev_end > length) length = rev_end;
      }
      rev_ends[id] = rev_end;
    }
    for (NodeId id = 0; id < n; ++id) rev_ends[id] = length - rev_ends[id];
  });
}

}  // namespace tarvex
