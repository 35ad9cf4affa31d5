// DurationTable: operation durations by name and qubits, as the target or the user gave them.
#pragma once

#include <Python.h>

#include <cstdint>
#include <limits>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvex::qiskit_plugin {

/// Durations looked up the way Qiskit's InstructionDurations does: an entry for the name on
/// exactly these qubits first, else the name's entry for any qubits, else none (NaN). A name is
/// resolved to a slot once, so the per-node lookup is one array or hash access.
class DurationTable {
 public:
  static constexpr int kNoSlot = -1;

  /// The table of `entries`, a list or tuple of (name, qubits or None, duration) tuples with
  /// qubit indices below 2**32 and finite durations from 0 up. Throws (see boundary_kit/fault.hpp)
  /// with TypeError, ValueError or OverflowError for anything else. O(entries).
  static DurationTable parse(PyObject* entries);

  /// The slot of `name`, or kNoSlot when the table has no entry for it. O(len(name)) expected.
  int slot(std::string_view name) const;

  /// Every duration is a whole number up to 2**53, as a count of dt must be. O(1).
  bool whole() const noexcept { return whole_; }

  /// The duration of the operation in `slot` on `qubits`, or NaN. O(1) expected.
  double get(int slot, std::span<const std::uint32_t> qubits) const {
    if (slot == kNoSlot) return kMissing;
    const Slot& s = slots_[slot];
    double found = kMissing;
    if (qubits.size() == 1) {
      if (qubits[0] < s.one.size()) found = s.one[qubits[0]];
    } else if (qubits.size() == 2) {
      auto it = s.two.find(pair_key(qubits[0], qubits[1]));
      if (it != s.two.end()) found = it->second;
    } else if (!s.more.empty()) {
      auto it = s.more.find(std::vector<std::uint32_t>(qubits.begin(), qubits.end()));
      if (it != s.more.end()) found = it->second;
    }
    return found == found ? found : s.any;
  }

 private:
  static constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
  static std::uint64_t pair_key(std::uint32_t a, std::uint32_t b) { return (std::uint64_t{a} << 32) | b; }
  void add(std::string_view name, const std::vector<std::uint32_t>* qubits, double value);

  struct Slot {
    std::vector<double> one;  // by qubit; NaN where absent
    std::unordered_map<std::uint64_t, double> two;
    std::map<std::vector<std::uint32_t>, double> more;
    double any = kMissing;
  };
  std::unordered_map<std::string, int> by_name_;
  std::vector<Slot> slots_;
  bool whole_ = true;
};

/// A new capsule that owns `table`, as duration_table() returns it. O(1).
PyObject* table_capsule(DurationTable table);

/// The table inside a capsule made by table_capsule; TypeError for any other object. The table
/// lives as long as the capsule. O(1).
const DurationTable* extract_duration_table(PyObject* obj);

}  // namespace tarvex::qiskit_plugin
