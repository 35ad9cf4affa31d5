// What both dynamic-circuit entry points start from: the circuit read as a block program, its
// visit order and its schedule, computed or given.
#pragma once

#include <Python.h>

#include <memory>
#include <vector>

#include "block_reader.hpp"
#include "graph/block_order.hpp"
#include "graph/block_schedule.hpp"

namespace tarvex::qiskit_plugin {

struct ScheduledBlocks {
  std::unique_ptr<ReadBlocks> read;
  BlockOrder order;
  BlockSchedule schedule;
};

/// How an entry point's shared arguments ask for the schedule.
struct ScheduleRequest {
  ReadRequest read;
  PyObject* given = nullptr;       // None, or (blocks, starts): uint32 and int64 buffers per node
  PyObject* scheduling = nullptr;  // "alap" or "asap" when nothing is given
};

enum class ScheduleStatus : std::uint8_t {
  kScheduled,
  kFailed,       ///< a Python exception is set
  kUnsupported,  ///< only the runtime's own passes handle the circuit; writer.unsupported(reason) was called
};

/// Reads `top` (see read_blocks), orders its blocks (natively unless the request's ordering is
/// custom) and schedules them, or copies the given schedule, which must cover every node
/// (ValueError otherwise). O(nodes log nodes), as reading.
ScheduleStatus read_and_schedule(const QkCircuit* top, const ScheduleRequest& request, ScheduledBlocks& out);

/// The root's qubits the output keeps, in order: every one with `schedule_idle_qubits`, else those
/// some root instruction acts on. O(root wires + qubits).
std::vector<Wire> kept_qubits(const BlockProgram& program, bool schedule_idle_qubits);

}  // namespace tarvex::qiskit_plugin
