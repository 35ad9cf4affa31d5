// Reading, ordering and scheduling a dynamic circuit for the entry points that pad it.
#include "scheduled_blocks.hpp"

#include <cstring>
#include <string>
#include <string_view>

#include "boundary_kit/py_ref.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_scheduled_blocks() { return qk_import() == 0; }

namespace {

// Copies a buffer of `n` values of T into `out`; false with ValueError on a size mismatch.
template <class T>
bool from_buffer(PyObject* obj, std::size_t n, std::vector<T>& out) {
  Py_buffer view;
  if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) < 0) return false;
  const bool ok = static_cast<std::size_t>(view.len) == n * sizeof(T);
  if (ok) {
    out.resize(n);
    if (n != 0) std::memcpy(out.data(), view.buf, n * sizeof(T));
  } else {
    PyErr_SetString(PyExc_ValueError, "the given start times do not cover the circuit's nodes");
  }
  PyBuffer_Release(&view);
  return ok;
}

}  // namespace

ScheduleStatus read_and_schedule(const QkCircuit* top, const ScheduleRequest& request, ScheduledBlocks& out) {
  out.read = std::make_unique<ReadBlocks>(qk_circuit_num_qubits(top), qk_circuit_num_clbits(top));
  std::string reason;
  switch (read_blocks(top, request.read, *out.read, out.order, reason)) {
    case ReadStatus::kRead:
      break;
    case ReadStatus::kFailed:
      return ScheduleStatus::kFailed;
    case ReadStatus::kUnsupported: {
      Ref said = Ref::steal(PyObject_CallMethod(request.read.writer, "unsupported", "s#", reason.data(),
                                                static_cast<Py_ssize_t>(reason.size())));
      return said ? ScheduleStatus::kUnsupported : ScheduleStatus::kFailed;
    }
  }
  const BlockProgram& program = out.read->program;
  if (!request.read.custom_order) out.order = order_blocks(program);

  if (request.given != Py_None) {
    PyObject *blocks, *starts;
    if (!PyArg_ParseTuple(request.given, "OO:given", &blocks, &starts) ||
        !from_buffer(blocks, program.node_count(), out.schedule.block) ||
        !from_buffer(starts, program.node_count(), out.schedule.start))
      return ScheduleStatus::kFailed;
    return ScheduleStatus::kScheduled;
  }
  const char* how = PyUnicode_AsUTF8(request.scheduling);
  if (how == nullptr) return ScheduleStatus::kFailed;
  out.schedule = schedule_blocks(program, out.order,
                                 std::string_view(how) == "alap" ? SchedulePolicy::kAlap : SchedulePolicy::kAsap);
  return ScheduleStatus::kScheduled;
}

std::vector<Wire> kept_qubits(const BlockProgram& program, bool schedule_idle_qubits) {
  std::vector<char> used(program.n_qubits(), schedule_idle_qubits ? 1 : 0);
  for (NodeId id = program.node_begin(0); id < program.node_end(0); ++id)
    for (Wire q : program.qubits(id)) used[q] = 1;
  std::vector<Wire> kept;
  for (Wire q = 0; q < program.n_qubits(); ++q)
    if (used[q]) kept.push_back(q);
  return kept;
}

}  // namespace tarvex::qiskit_plugin
