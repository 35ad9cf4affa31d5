// NameTable: gate names interned to dense 32-bit ids.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "graph/vocabulary.hpp"

namespace tarvex {

/// Interns gate names. A circuit of millions of gates uses a handful of distinct names ("sx",
/// "cx", ...), so a node stores a 4-byte id instead of its own string, and the export converts each
/// distinct name to a Python str once. Names are arbitrary bytes, NULs included.
class NameTable {
 public:
  /// The id of `name`, added if new. O(len(name)) expected. Leaves the table unchanged if it throws.
  NameId intern(std::string_view name) {
    std::uint64_t h = hash(name);
    if (!slots_.empty()) {
      for (std::size_t i = h & mask();; i = (i + 1) & mask()) {
        const Slot& s = slots_[i];
        if (s.id == kEmpty) break;
        if (s.hash == h && same_bytes(names_[s.id], name)) return s.id;
      }
    }
    if (names_.size() >= kEmpty) throw std::bad_alloc();
    if ((names_.size() + 1) * 4 > slots_.size() * 3) rehash(std::max<std::size_t>(16, slots_.size() * 2));
    names_.emplace_back(name);
    NameId id = static_cast<NameId>(names_.size() - 1);
    std::size_t i = h & mask();
    while (slots_[i].id != kEmpty) i = (i + 1) & mask();
    slots_[i] = Slot{h, id};
    return id;
  }

  const std::string& operator[](NameId id) const noexcept { return names_[id]; }
  std::size_t size() const noexcept { return names_.size(); }

 private:
  static constexpr NameId kEmpty = 0xffffffffu;
  struct Slot {
    std::uint64_t hash;
    NameId id;
  };

  std::size_t mask() const noexcept { return slots_.size() - 1; }

  // Names are a few bytes long: a plain loop beats a call to memcmp.
  static bool same_bytes(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (a[i] != b[i]) return false;
    return true;
  }

  // Eight bytes at a time, little-endian, the last word zero-padded: one multiply per word instead
  // of one per byte, so a 15-byte name costs two dependent multiplies rather than fifteen.
  static std::uint64_t hash(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ n;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) h = mix(h ^ word(p + i, 8));
    if (i < n) h = mix(h ^ word(p + i, n - i));
    return h;
  }

  static std::uint64_t word(const unsigned char* p, std::size_t len) noexcept {
    std::uint64_t w = 0;
    for (std::size_t k = 0; k < len; ++k) w |= static_cast<std::uint64_t>(p[k]) << (8 * k);
    return w;
  }

  static std::uint64_t mix(std::uint64_t x) noexcept {
    x = (x ^ (x >> 32)) * 0xd6e8feb86659fd93ULL;
    return x ^ (x >> 32);
  }

  void rehash(std::size_t size) {
    std::vector<Slot> fresh(size, Slot{0, kEmpty});
    names_.reserve(names_.size() + 1);
    for (const Slot& s : slots_) {
      if (s.id == kEmpty) continue;
      std::size_t i = s.hash & (size - 1);
      while (fresh[i].id != kEmpty) i = (i + 1) & (size - 1);
      fresh[i] = s;
    }
    slots_.swap(fresh);
  }

  std::vector<std::string> names_;
  std::vector<Slot> slots_;
};

}  // namespace tarvex
