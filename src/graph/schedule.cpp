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
void QuantumDAG::schedule_walk(FreeAt& free_at) {
  const std::size_t n = node_count();
  const Qubit* pool = qubit_pool_.data();
  const std::size_t* begin = qubit_begin_.data();
  for (NodeId id = 0; id < n; ++id) {
    const Qubit* q = pool + begin[id];
    const std::size_t k = begin[id + 1] - begin[id];
    double start = 0.0;
    // The two tests compile to one unsigned compare, k - 1 < 2, which a gate without qubits fails.
    if (k == 1 || k == 2) {
      // One or two qubits, nearly every gate: no loop. For one qubit, q1 is q0 again.
      const Qubit q0 = q[0], q1 = q[k - 1];
      const double t0 = free_at.get(q0), t1 = free_at.get(q1);
      start = t0 > start ? t0 : start;
      start = t1 > start ? t1 : start;
      const double end = start + durations_[id];
      free_at.set(q0, end);
      free_at.set(q1, end);
    } else {
      for (std::size_t i = 0; i < k; ++i) {
        const double t = free_at.get(q[i]);
        if (t > start) start = t;
      }
      const double end = start + durations_[id];
      for (std::size_t i = 0; i < k; ++i) free_at.set(q[i], end);
    }
    starts_[id] = start;
  }
}

void QuantumDAG::build_schedule() {
  // All allocation happens first; if it fails, the old schedule stays as it was.
  with_qubit_values(last_on_qubit_, kNeverBusy, [&](auto& free_at) {
    starts_.resize_uninitialized(node_count());
    schedule_walk(free_at);
  });
}

}  // namespace tarvex
