// QuantumDAG: the circuit graph of timed gates, and the compiler passes that run on it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "graph/name_table.hpp"
#include "graph/pod_vector.hpp"
#include "graph/qubit_map.hpp"
#include "graph/vocabulary.hpp"

namespace tarvex {

/// One gate, as the export hands it out.
struct DagNode {
  NodeId id;
  std::string name;
  std::vector<Qubit> qubits;
  double duration;
  bool operator==(const DagNode&) const = default;
};

/// Start and end time of one scheduled node, in the graph's unit.
struct NodeSchedule {
  double start;
  double end;
};

/// A gap on one qubit between two consecutive scheduled operations: from the earlier one's end
/// (`start`) to the later one's start (`end`).
struct IdleWindow {
  Qubit qubit;
  double start;
  double end;
};

/// One outgoing dependency edge: `successor` waited on this node for `qubit`.
struct Edge {
  NodeId successor;
  Qubit qubit;
  bool operator==(const Edge&) const = default;
};

/// The circuit graph. Gates are appended in program order and never removed or changed.
///
/// Times (durations, starts, ends, gaps) are in the graph's unit, which is its caller's: ns for
/// _tarvex, cycles of the hardware clock (dt) for the Qiskit plugin. Only the DD pass assumes ns.
///
/// Invariants (checked by `check_invariants`):
/// - Node ids are dense: the graph holds exactly the ids 0 .. node_count() - 1, in insertion order.
/// - Every qubit-list entry (node s, position k, qubit q) records its predecessor: the last node
///   that held q when s reached position k, or kNoNode. Together these entries are the edge set: an
///   edge p -> s for qubit q exists exactly where an entry of s names p. Every edge runs from a
///   lower id to a higher one, except the self-edge of a qubit repeated within one gate.
/// - `last_on_qubit(q)` is the highest id whose qubit list contains q.
/// - The schedule covers a prefix of the ids: nodes 0 .. scheduled_count() - 1 have times, later
///   ones were added after the last build_schedule and have none.
///
/// Storage is a structure of arrays indexed by node id (about 20 bytes per node plus 16 per
/// qubit-list entry, and 8 per scheduled node: the start; the end is start + duration, the very
/// sum the scheduler computed), so the passes walk memory in order.
/// Every operation leaves the graph unchanged if it throws std::bad_alloc.
class QuantumDAG {
 public:
  QuantumDAG();

  /// Appends a gate and links it to the last earlier gate on each of its qubits; returns its id.
  /// O(len(name) + len(qubits)) expected. Never fails on any argument value.
  NodeId add_gate(std::string_view name, std::span<const Qubit> qubits, double duration) {
    // Everything that can allocate runs before the first change, so a failed allocation leaves
    // the graph as it was. A name interned just before a failure stays in the table unused, unseen.
    reserve_insert(qubits.size());
    last_on_qubit_.reserve_for(qubits);
    return insert(names_.intern(name), qubits, duration);
  }

  /// Number of nodes. O(1).
  std::size_t node_count() const noexcept { return durations_.size(); }

  /// Reserves room for `n_nodes` more gates with `n_entries` more qubit-list entries in all, for a
  /// caller about to add exactly those: large room is mapped ahead (see PodVector::reserve_to_fill).
  void reserve(std::size_t n_nodes, std::size_t n_entries);

  // Node accessors; `id` must be below node_count().
  NameId name_id(NodeId id) const noexcept { return name_ids_[id]; }
  const std::string& name(NodeId id) const noexcept { return names_[name_ids_[id]]; }
  const NameTable& names() const noexcept { return names_; }
  double duration(NodeId id) const noexcept { return durations_[id]; }
  std::span<const Qubit> qubits(NodeId id) const noexcept {
    return {qubit_pool_.data() + qubit_begin_[id], qubit_pool_.data() + qubit_begin_[id + 1]};
  }
  /// Total number of qubit-list entries over all nodes. O(1).
  std::size_t entry_count() const noexcept { return qubit_pool_.size(); }

  /// Every node as (id, name, qubits, duration) in ascending id order: a topological order, since
  /// every edge but a self-edge runs from a lower id to a higher one. O(nodes + entries).
  std::vector<DagNode> get_all_nodes() const;

  /// Gives every node its ASAP start and end: a node starts at the latest end time of the previous
  /// nodes on its qubits, or 0.0; a NaN end time never delays anything. O(nodes + entries).
  void build_schedule();

  /// The stored times of `id`, or nothing if it has none (never scheduled, or added since). O(1).
  std::optional<NodeSchedule> node_schedule(NodeId id) const noexcept {
    if (id >= starts_.size()) return std::nullopt;
    return NodeSchedule{start_time(id), end_time(id)};
  }
  /// Number of nodes the stored schedule covers (always ids 0 .. scheduled_count() - 1). O(1).
  std::size_t scheduled_count() const noexcept { return starts_.size(); }

  /// Gives every node its ALAP start and end, stored like build_schedule's: the ASAP walk run from
  /// the last node with time mirrored, so that each node ends when the earliest later node on its
  /// qubits starts, and the last node of each qubit at the circuit's end (the longest chain of
  /// durations). Exact for whole-number durations below 2^53, such as counts of hardware cycles;
  /// NaN and negative durations flow through IEEE arithmetic. O(nodes + entries).
  void build_alap_schedule();

  /// The stored start times, one per scheduled node in id order. O(1).
  std::span<const double> start_times() const noexcept { return {starts_.data(), starts_.size()}; }
  /// The stored start of `id`; `id` must be below scheduled_count(). O(1).
  double start_time(NodeId id) const noexcept { return starts_[id]; }
  /// The end of `id`: start + duration, the very sum the scheduler computed, so it is not stored;
  /// `id` must be below scheduled_count(). O(1).
  double end_time(NodeId id) const noexcept { return starts_[id] + durations_[id]; }

  /// Per qubit, every gap between consecutive intervals of the stored schedule that is >= min_gap
  /// (NaN gaps never). Windows of one qubit stand together in ascending time; the qubits' groups
  /// follow in order of each qubit's first use (the lowest scheduled node id that lists it, and
  /// within that node its position in the qubit list).
  /// O(nodes + entries) expected, plus a stable sort per qubit only where its starts are out of order.
  std::vector<IdleWindow> find_idle_windows(double min_gap) const;

  /// A new graph holding every scheduled node in id order, with a DD_X/DD_Y pair on each qubit that
  /// idled at least DD_MIN_IDLE_NS before the node (idle time counted from 0 for a qubit's first
  /// node); the graph's unit must be ns. The new graph has no schedule. O(nodes + entries) expected.
  QuantumDAG apply_dd_pass() const;

  // Introspection for tests and checks; none of it is on a hot path.

  /// Outgoing edges of `id` in the order they were recorded. O(entries after id).
  std::vector<Edge> edges_from(NodeId id) const;
  /// The last node on `q`, or nothing if no node used `q`. O(1) expected.
  std::optional<NodeId> last_on_qubit(Qubit q) const noexcept {
    NodeId id = last_on_qubit_.get(q);
    if (id == kNoNode) return std::nullopt;
    return id;
  }
  /// An empty string when every invariant above holds, else a description of the first broken one.
  /// O(nodes + entries) expected.
  std::string check_invariants() const;

 private:
  // Defined only by the core's unit tests, to read every column and to plant broken facts.
  friend struct QuantumDAGTestAccess;

  // Makes room in the per-node and per-entry columns for one more node of `n_qubits` entries.
  // Doubling keeps appends amortised O(1).
  void reserve_insert(std::size_t n_qubits) {
    if (qubit_begin_.size() == qubit_begin_.capacity()) [[unlikely]]
      grow_nodes(std::max<std::size_t>(16, 2 * qubit_begin_.capacity()));
    if (qubit_pool_.capacity() - qubit_pool_.size() < n_qubits) [[unlikely]]
      grow_entries(qubit_pool_.size(), n_qubits);
  }
  // Capacity for `capacity` nodes in all three per-node columns, grown together so that one
  // check per gate covers them.
  void grow_nodes(std::size_t capacity);
  // Capacity for `extra` entries past `size` in both per-entry columns, at least doubling.
  void grow_entries(std::size_t size, std::size_t extra);

  // Appends a node whose name is already interned, within room made by reserve_insert and
  // last_on_qubit_.reserve_for: the one insertion path of add_gate and the DD pass. Cannot fail.
  NodeId insert(NameId name_id, std::span<const Qubit> qubits, double duration) noexcept {
    const NodeId id = node_count();
    name_ids_.push_unchecked(name_id);
    durations_.push_unchecked(duration);
    for (Qubit q : qubits) {
      // Updating last_on_qubit per position makes a repeated qubit find this node: a self-edge.
      NodeId& last = last_on_qubit_.at(q);
      qubit_pool_.push_unchecked(q);
      pred_pool_.push_unchecked(last);
      last = id;
    }
    qubit_begin_.push_unchecked(qubit_pool_.size());
    return id;
  }

  // The ASAP walk over every id, with `free_at` a map from qubit to free time.
  template <class FreeAt>
  void schedule_walk(FreeAt& free_at);
  // The DD walk over the scheduled ids: counts the pairs, and inserts into `out` unless it is null.
  template <class BusyUntil>
  std::size_t dd_walk(BusyUntil& busy_until, QuantumDAG* out, NameId dd_first, NameId dd_second) const;
  // The gap walk of find_idle_windows over the scheduled ids, with `walks` a map from qubit to its
  // walk state; `scan` gathers the windows and the qubits in order of first use.
  template <class Walks, class Scan>
  void walk_gaps(Walks& walks, double min_gap, Scan& scan) const;

  NameTable names_;
  PodVector<NameId> name_ids_;          // per node
  PodVector<double> durations_;         // per node
  PodVector<std::size_t> qubit_begin_;  // per node + 1: node i's entries are [begin[i], begin[i+1])
  PodVector<Qubit> qubit_pool_;         // per entry: the qubit
  PodVector<NodeId> pred_pool_;         // per entry: the node this entry's edge comes from, or kNoNode
  QubitMap<NodeId> last_on_qubit_{kNoNode};
  PodVector<double> starts_;  // per scheduled node, a prefix of the ids
};

}  // namespace tarvex
