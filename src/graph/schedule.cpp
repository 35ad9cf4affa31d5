// ASAP schedule computation.
#include <limits>

#include "graph/quantum_dag.hpp"

namespace tarvex {

void QuantumDAG::build_schedule() {
  // A qubit never used reads as -inf: it never wins the strict "t > start" test, exactly as a
  // missing entry. A NaN free time never wins either, so a NaN end time delays nothing.
  QubitMap<double> free_at_ns(-std::numeric_limits<double>::infinity());
  free_at_ns.reserve_like(last_on_qubit_);
  const std::size_t n = node_count();
  schedule_.resize_uninitialized(n);  // the last allocation; from here on nothing can fail

  for (NodeId id = 0; id < n; ++id) {
    const Qubit* q = qubit_pool_.data() + qubit_begin_[id];
    const Qubit* q_end = qubit_pool_.data() + qubit_begin_[id + 1];
    double start_ns = 0.0;
    for (const Qubit* p = q; p != q_end; ++p) {
      double t = free_at_ns.get(*p);
      if (t > start_ns) start_ns = t;
    }
    const double end_ns = start_ns + durations_ns_[id];
    schedule_[id] = NodeSchedule{start_ns, end_ns};
    for (const Qubit* p = q; p != q_end; ++p) free_at_ns.set(*p, end_ns);
  }
}

}  // namespace tarvex
