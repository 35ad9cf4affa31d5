// Dynamical-decoupling insertion pass.
#include "graph/quantum_dag.hpp"

namespace tarvex {

QuantumDAG QuantumDAG::apply_dd_pass() const {
  QuantumDAG out;
  const std::size_t n = node_count();
  if (n == 0) return out;

  // The copies keep their source names, so the result starts from the source's name table and the
  // copied nodes keep their name ids.
  out.names_ = names_;
  const NameId dd_first = out.names_.intern(kDdFirstName);
  const NameId dd_second = out.names_.intern(kDdSecondName);

  // Only scheduled nodes are carried over; the schedule always covers ids 0 .. scheduled_count() - 1.
  const std::size_t n_scheduled = schedule_.size();
  out.reserve(n_scheduled, qubit_begin_[n_scheduled]);
  QubitMap<double> busy_until_ns(0.0);  // a qubit not seen yet has been idle since time 0
  busy_until_ns.reserve_like(last_on_qubit_);

  for (NodeId id = 0; id < n_scheduled; ++id) {
    const auto [start_ns, end_ns] = schedule_[id];
    const std::span<const Qubit> qs = qubits(id);
    for (Qubit q : qs) {
      // False for a NaN on either side, so a NaN end time before never earns a pair.
      if (start_ns - busy_until_ns.get(q) >= DD_MIN_IDLE_NS) {
        const Qubit single[1] = {q};
        out.reserve_insert(single);
        out.insert(dd_first, single, DD_PULSE_NS);
        out.reserve_insert(single);
        out.insert(dd_second, single, DD_PULSE_NS);
      }
      // A qubit listed again in the same gate now sees a gap of 0 and gets no second pair.
      busy_until_ns.set(q, start_ns);
    }
    out.reserve_insert(qs);
    out.insert(name_ids_[id], qs, duration_ns(id));
    for (Qubit q : qs) busy_until_ns.set(q, end_ns);
  }
  return out;
}

}  // namespace tarvex
