// QubitMap: a map from qubit index to a small value, dense for small indices, hashed for the rest.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "graph/vocabulary.hpp"

namespace tarvex {

/// Map qubit index -> V in which a missing key reads as a fixed default value.
///
/// Circuits nearly always number their qubits 0, 1, 2, ..., so indices below `kDenseLimit` live in a
/// vector indexed by the qubit (one load, no hashing); any other index goes to an open-addressing
/// table with linear probing. Growth happens only in `reserve_for`/`reserve_like`, never in `set`,
/// so a caller can reserve first and then update without any allocation that could fail halfway.
template <class V>
class QubitMap {
 public:
  /// Qubits below this index are stored densely: at most 64 Ki entries, whatever the circuit.
  static constexpr Qubit kDenseLimit = Qubit{1} << 16;

  explicit QubitMap(V missing) : missing_(missing) {}

  /// The value of `q`, or the default when `q` has none. O(1) expected.
  V get(Qubit q) const noexcept {
    if (q < kDenseLimit) return q < dense_.size() ? dense_[q] : missing_;
    if (slots_.empty()) return missing_;
    for (std::size_t i = home(q);; i = (i + 1) & mask()) {
      if (slots_[i].key == q) return slots_[i].value;
      if (slots_[i].key == kEmptyKey) return missing_;
    }
  }

  /// Sets `q` to `v`. `q` must have been covered by an earlier reserve call. O(1) expected.
  void set(Qubit q, V v) noexcept { *slot(q) = v; }

  /// A reference to the value of `q`, holding the default if `q` had none; same precondition as `set`.
  V& at(Qubit q) noexcept { return *slot(q); }

  /// Makes room so that `set` on every qubit of `qubits` cannot allocate. O(len) unless it grows.
  void reserve_for(std::span<const Qubit> qubits) {
    // Nearly always every qubit is a small index seen before: one compare each, nothing to grow.
    bool covered = true;
    for (Qubit q : qubits) covered &= q < dense_.size();
    if (!covered) [[unlikely]]
      grow_for(qubits);
  }

 private:
  void grow_for(std::span<const Qubit> qubits) {
    Qubit dense_max = 0;
    bool any_dense = false;
    std::size_t n_sparse = 0;
    for (Qubit q : qubits) {
      if (q < kDenseLimit) {
        dense_max = std::max(dense_max, q);
        any_dense = true;
      } else {
        ++n_sparse;
      }
    }
    if (any_dense && dense_max >= dense_.size()) grow_dense(dense_max + 1);
    if (n_sparse != 0) reserve_sparse(sparse_count_ + n_sparse);
  }

 public:
  /// Makes room for every qubit that `other` holds, so that they can be set without allocating.
  template <class U>
  void reserve_like(const QubitMap<U>& other) {
    if (other.dense_size() > dense_.size()) grow_dense(other.dense_size());
    if (other.sparse_count() != 0) reserve_sparse(other.sparse_count());
  }

  std::size_t dense_size() const noexcept { return dense_.size(); }
  /// True when every key ever set is a dense index below dense_size().
  bool all_dense() const noexcept { return sparse_count_ == 0; }
  std::size_t sparse_count() const noexcept { return sparse_count_; }

  /// Calls `f(qubit, value)` for every entry whose value differs from the default; for tests and checks.
  template <class F>
  void for_each(F&& f) const {
    for (std::size_t q = 0; q < dense_.size(); ++q)
      if (!(dense_[q] == missing_)) f(Qubit{q}, dense_[q]);
    for (const Slot& s : slots_)
      if (s.key != kEmptyKey) f(s.key, s.value);
  }

 private:
  // Key 0 is always dense, so it can mark an empty hashed slot.
  static constexpr Qubit kEmptyKey = 0;
  struct Slot {
    Qubit key;
    V value;
  };

  std::size_t mask() const noexcept { return slots_.size() - 1; }

  std::size_t home(Qubit q) const noexcept {
    // splitmix64 finaliser: spreads clustered indices over the table.
    q ^= q >> 30;
    q *= 0xbf58476d1ce4e5b9ULL;
    q ^= q >> 27;
    q *= 0x94d049bb133111ebULL;
    q ^= q >> 31;
    return static_cast<std::size_t>(q) & mask();
  }

  V* slot(Qubit q) noexcept {
    if (q < kDenseLimit) {
      assert(q < dense_.size() && "qubit not reserved before set");
      return &dense_[q];
    }
    assert(!slots_.empty() && "qubit not reserved before set");
    for (std::size_t i = home(q);; i = (i + 1) & mask()) {
      if (slots_[i].key == q) return &slots_[i].value;
      if (slots_[i].key == kEmptyKey) {
        assert((sparse_count_ + 1) * 4 <= slots_.size() * 3 && "qubit not reserved before set");
        slots_[i] = Slot{q, missing_};
        ++sparse_count_;
        return &slots_[i].value;
      }
    }
  }

  void grow_dense(std::size_t needed) {
    std::size_t size = std::max<std::size_t>(std::bit_ceil(needed), 16);
    dense_.resize(std::min<std::size_t>(size, kDenseLimit), missing_);
  }

  // Keeps the load factor at or below 3/4 for `count` entries.
  void reserve_sparse(std::size_t count) {
    if (count * 4 <= slots_.size() * 3) return;
    if (count > (std::size_t{1} << 60)) throw std::bad_alloc();
    std::size_t size = std::max<std::size_t>(std::bit_ceil(count * 4 / 3 + 1), 16);
    std::vector<Slot> old(size, Slot{kEmptyKey, missing_});
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.key == kEmptyKey) continue;
      std::size_t i = home(s.key);
      while (slots_[i].key != kEmptyKey) i = (i + 1) & mask();
      slots_[i] = s;
    }
  }

  V missing_;
  std::vector<V> dense_;
  std::vector<Slot> slots_;
  std::size_t sparse_count_ = 0;
};

/// The qubit -> value interface of QubitMap over a plain array, for passes over a graph whose
/// qubits are all dense indices: no range test, no hashing.
template <class V>
struct DenseQubitArray {
  V* values;
  V get(Qubit q) const noexcept { return values[q]; }
  void set(Qubit q, V v) noexcept { values[q] = v; }
  V& at(Qubit q) noexcept { return values[q]; }
};

/// Runs `f(map)` with a fresh working map from qubit to V that reads `initial` for every qubit
/// that `like` holds: a plain array when those are all dense indices, else a QubitMap. Everything
/// is allocated before `f` runs. O(qubits in `like`).
template <class V, class U, class F>
void with_qubit_values(const QubitMap<U>& like, V initial, F&& f) {
  if (like.all_dense()) {
    std::vector<V> values(like.dense_size(), initial);
    DenseQubitArray<V> map{values.data()};
    f(map);
  } else {
    QubitMap<V> map(initial);
    map.reserve_like(like);
    f(map);
  }
}

}  // namespace tarvex
