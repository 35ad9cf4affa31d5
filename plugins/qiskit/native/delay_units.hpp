// The units of a delay's duration, by the C API's code and by the name Python gives them.
#pragma once

#include <string_view>

#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

/// One unit: ns per unit (SI units by exact powers of ten, "ps" dividing so that whole picoseconds
/// stay exact), or for "dt" the length of one dt, which the caller knows; and units per second, by
/// which Qiskit's unit conversion divides a duration to get seconds (1 for "s" and "dt").
struct DelayUnit {
  QkDelayUnit code;
  std::string_view name;
  double ns;
  bool divides;
  double per_second;

  /// `value` of this unit in ns; `dt_ns` is the length of one dt in ns (NaN when unknown). O(1).
  double to_ns(double value, double dt_ns) const {
    if (code == QkDelayUnit_DT) return value * dt_ns;
    return divides ? value / ns : value * ns;
  }
};

inline constexpr DelayUnit kDelayUnits[] = {
    {QkDelayUnit_S, "s", 1e9, false, 1.0},    {QkDelayUnit_MS, "ms", 1e6, false, 1e3},
    {QkDelayUnit_US, "us", 1e3, false, 1e6},  {QkDelayUnit_NS, "ns", 1.0, false, 1e9},
    {QkDelayUnit_PS, "ps", 1e3, true, 1e12},  {QkDelayUnit_DT, "dt", 0.0, false, 1.0},
};

/// The unit with this code or name, or null for one without a duration in ns (an expression).
inline const DelayUnit* find_delay_unit(QkDelayUnit code) {
  for (const DelayUnit& u : kDelayUnits)
    if (u.code == code) return &u;
  return nullptr;
}
inline const DelayUnit* find_delay_unit(std::string_view name) {
  for (const DelayUnit& u : kDelayUnits)
    if (u.name == name) return &u;
  return nullptr;
}

}  // namespace tarvex::qiskit_plugin
