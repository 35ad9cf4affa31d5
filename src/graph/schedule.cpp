// ASAP schedule computation.
#include <limits>

#include "graph/quantum_dag.hpp"

namespace tarvex {

namespace {

// A qubit never used reads as -inf: it never wins the strict "t > start" test, exactly as a
// missing entry. A NaN free time never wins either, so a NaN end time delays nothing.
constexpr double kNeverBusy = -std::numeric_limits<double>::infinity();

}  // namespace

template <class FreeAt>
void QuantumDAG::schedule_walk(FreeAt& free_at_ns) {
  const std::size_t n = node_count();
  const Qubit* pool = qubit_pool_.data();
  const std::size_t* begin = qubit_begin_.data();
  for (NodeId id = 0; id < n; ++id) {
    const Qubit* q = pool + begin[id];
    const std::size_t k = begin[id + 1] - begin[id];
    double start_ns = 0.0;
    // The two tests compile to one unsigned compare, k - 1 < 2, which a gate without qubits fails.
    if (k == 1 || k == 2) {
      // One or two qubits, nearly every gate: no loop. For one qubit, q1 is q0 again.
      const Qubit q0 = q[0], q1 = q[k - 1];
      const double t0 = free_at_ns.get(q0), t1 = free_at_ns.get(q1);
      start_ns = t0 > start_ns ? t0 : start_ns;
      start_ns = t1 > start_ns ? t1 : start_ns;
      const double end_ns = start_ns + durations_ns_[id];
      free_at_ns.set(q0, end_ns);
      free_at_ns.set(q1, end_ns);
    } else {
      for (std::size_t i = 0; i < k; ++i) {
        const double t = free_at_ns.get(q[i]);
        if (t > start_ns) start_ns = t;
      }
      const double end_ns = start_ns + durations_ns_[id];
      for (std::size_t i = 0; i < k; ++i) free_at_ns.set(q[i], end_ns);
    }
    start_ns_[id] = start_ns;
  }
}

void QuantumDAG::build_schedule() {
  // All allocation happens first; if it fails, the old schedule stays as it was.
  with_qubit_values(last_on_qubit_, kNeverBusy, [&](auto& free_at_ns) {
    start_ns_.resize_uninitialized(node_count());
    schedule_walk(free_at_ns);
  });
}

}  // namespace tarvex
