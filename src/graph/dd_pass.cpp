// Dynamical-decoupling insertion pass.
#include "graph/quantum_dag.hpp"

namespace tarvex {

template <class BusyUntil>
std::size_t QuantumDAG::dd_walk(BusyUntil& busy_until, QuantumDAG* out, NameId dd_first,
                                NameId dd_second) const {
  std::size_t n_pairs = 0;
  const std::size_t n_scheduled = starts_.size();
  for (NodeId id = 0; id < n_scheduled; ++id) {
    const double start = this->start_time(id);
    const double end = this->end_time(id);
    const std::span<const Qubit> qs = qubits(id);
    for (const Qubit& q : qs) {
      // False for a NaN on either side, so a NaN end time before never earns a pair.
      if (start - busy_until.get(q) >= DD_MIN_IDLE_NS) {
        ++n_pairs;
        if (out != nullptr) {
          out->insert(dd_first, {&q, 1}, DD_PULSE_NS);
          out->insert(dd_second, {&q, 1}, DD_PULSE_NS);
        }
      }
      // A qubit listed again in the same gate now sees a gap of 0 and gets no second pair.
      busy_until.set(q, start);
    }
    if (out != nullptr) out->insert(name_ids_[id], qs, durations_[id]);
    for (Qubit q : qs) busy_until.set(q, end);
  }
  return n_pairs;
}

QuantumDAG QuantumDAG::apply_dd_pass() const {
  QuantumDAG out;
  if (node_count() == 0) return out;

  // The copies keep their source names, so the result starts from the source's name table and the
  // copied nodes keep their name ids.
  out.names_ = names_;
  const NameId dd_first = out.names_.intern(kDdFirstName);
  const NameId dd_second = out.names_.intern(kDdSecondName);

  // Two walks over the scheduled nodes (the schedule covers ids 0 .. scheduled_count() - 1): the
  // first counts the pairs so that the result is allocated once, the second fills it. A qubit not
  // seen yet has been idle since time 0.
  const std::size_t n_scheduled = starts_.size();
  std::size_t n_pairs = 0;
  with_qubit_values(last_on_qubit_, 0.0,
                    [&](auto& busy_until) { n_pairs = dd_walk(busy_until, nullptr, dd_first, dd_second); });
  out.reserve(n_scheduled + 2 * n_pairs, qubit_begin_[n_scheduled] + 2 * n_pairs);
  out.last_on_qubit_.reserve_like(last_on_qubit_);
  with_qubit_values(last_on_qubit_, 0.0,
                    [&](auto& busy_until) { dd_walk(busy_until, &out, dd_first, dd_second); });
  return out;
}

}  // namespace tarvex
