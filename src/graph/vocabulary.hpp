// The core's vocabulary: the scalar kinds and constants that every part of the circuit graph speaks.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace tarvex {

/// A qubit index, chosen by the caller: any 64-bit value. Qubits are not declared in advance and
/// need not be contiguous; a boundary may also map other wires (classical bits) onto indices.
using Qubit = std::uint64_t;

/// A node id: 0, 1, 2, ... in insertion order, never reused. Ascending id order is program order
/// and a dependency order.
using NodeId = std::uint64_t;

/// An interned gate name: a dense index into the graph's NameTable.
using NameId = std::uint32_t;

/// Marks "no node" in per-entry predecessor slots and in `last_on_qubit`.
inline constexpr NodeId kNoNode = std::numeric_limits<NodeId>::max();

/// A qubit idle for at least this long before a gate (inclusive) gets a DD pair ahead of it.
inline constexpr double DD_MIN_IDLE_NS = 100.0;
/// Duration of each of the two DD gates of a pair.
inline constexpr double DD_PULSE_NS = 50.0;
/// Names of the first and second gate of a DD pair.
inline constexpr std::string_view kDdFirstName = "DD_X";
inline constexpr std::string_view kDdSecondName = "DD_Y";

}  // namespace tarvex
