// The dynamic-circuit passes' native messages: every text they raise, built here only.
#pragma once

#include <span>

#include "graph/block_program.hpp"
#include "qiskit_capi.hpp"

namespace tarvex::qiskit_plugin {

namespace text {

inline constexpr const char kDynamicDoc[] =
    "dynamic(top, *, out, durations, dt, scheduling, given, fill_very_end, schedule_idle_qubits, custom_order, writer)\n--\n\n"
    "Schedules a circuit with control flow in blocks, or takes its start times, and pads it.";

}  // namespace text

/// TranspilerError "Duration of <name> on qubits [..] is not found." (the runtime's wording).
void raise_duration_not_found(const QkCircuitInstructionView& v, std::span<const Wire> qubits);
/// TranspilerError: the duration of <name> on qubits [..] is a parameter, not a number.
void raise_unbounded_duration(const QkCircuitInstructionView& v, std::span<const Wire> qubits);
/// TranspilerError: the durations add up to more than the schedule can count.
void raise_durations_too_long();
/// TranspilerError: a block ordering callable did not yield each of the block's `n` nodes once.
void raise_bad_block_order(std::size_t n);

}  // namespace tarvex::qiskit_plugin
