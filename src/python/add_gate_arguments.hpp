// add_gate's parameters and the conversion of its arguments, one copy for the method and the call floor.
#pragma once

#include <Python.h>

#include <string_view>

#include "boundary_kit/arguments.hpp"

namespace tarvex::py {

inline constexpr const char* kAddGateParameters[] = {"name", "qubits", "duration_ns"};
inline constexpr kit::FunctionDescription kAddGate{"QuantumDAG.add_gate()", kAddGateParameters};

/// One gate as add_gate's arguments give it. `name` views the UTF-8 of the str argument and lives
/// as long as that str.
struct GateArguments {
  std::string_view name;
  kit::U64List qubits;
  double duration_ns;
};

/// Converts add_gate's bound arguments (`slots` in parameter order), first to last, so that the
/// first bad one names the error. Conversions may run Python code (__index__, __float__, a
/// sequence's __len__ and __iter__). O(len(qubits)).
inline GateArguments convert_add_gate(PyObject* const* slots) {
  return GateArguments{
      kit::extract_argument("name", kit::extract_str, slots[0]),
      kit::extract_argument("qubits", kit::extract_u64_list, slots[1]),
      kit::extract_argument("duration_ns", kit::extract_f64, slots[2]),
  };
}

}  // namespace tarvex::py
