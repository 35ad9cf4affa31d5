// The dynamic-circuit entry point: read the blocks, order and schedule them, pad and write.
#include "dynamic.hpp"

#include <vector>

#include "block_writer.hpp"
#include "boundary_kit/entry.hpp"
#include "boundary_kit/py_ref.hpp"
#include "graph/block_padding.hpp"
#include "graph/lexicographic_blocks.hpp"
#include "requests.hpp"
#include "scheduled_blocks.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_block_reader();
bool import_capi_for_block_writer();
bool import_capi_for_scheduled_blocks();

bool import_capi_for_dynamic_passes() {
  return qk_import() == 0 && import_capi_for_block_reader() && import_capi_for_block_writer() &&
         import_capi_for_scheduled_blocks();
}

namespace {

template <class T>
PyObject* to_bytes(const std::vector<T>& v) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(v.data()),
                                   static_cast<Py_ssize_t>(v.size() * sizeof(T)));
}

PyObject* dynamic_impl(const DynamicRequest& r) {
  const QkCircuit* top = qk_circuit_borrow_from_python(r.top);
  if (top == nullptr) return nullptr;
  QkCircuit* out = nullptr;
  if (r.pad) {
    out = qk_circuit_borrow_from_python(r.out);
    if (out == nullptr) return nullptr;
  }
  ScheduledBlocks blocks;
  switch (read_and_schedule(top, {{r.durations, r.dt, r.writer, r.custom_order, r.in_own_order}, r.given, r.scheduling},
                            blocks)) {
    case ScheduleStatus::kScheduled:
      break;
    case ScheduleStatus::kFailed:
      return nullptr;
    case ScheduleStatus::kUnsupported:
      Py_RETURN_NONE;
  }
  const BlockProgram& program = blocks.read->program;
  const BlockSchedule& schedule = blocks.schedule;
  if (!r.pad) {
    Ref block_of = Ref::steal(to_bytes(schedule.block));
    Ref starts = block_of ? Ref::steal(to_bytes(schedule.start)) : Ref();
    if (!starts) return nullptr;
    return PyTuple_Pack(2, block_of.get(), starts.get());
  }

  BlockWriter writer(*blocks.read, out, r.out, r.writer, kept_qubits(program, r.schedule_idle_qubits));
  if (r.keep_labels) writer.keep_positions();
  const BlockPaddingOptions options{.pad_unused_qubits = r.schedule_idle_qubits};
  Ticks duration;
  if (r.in_own_order) {
    // Every block is written as its DAG lists it: the order Qiskit's conversions would give.
    LexicographicBlocks<BlockWriter> ordered(program, writer);
    DelayFiller<LexicographicBlocks<BlockWriter>> filler{ordered, r.fill_very_end};
    duration = pad_blocks(program, blocks.order, schedule, options, filler, ordered);
    if (writer.failed()) return nullptr;
    if (!ordered.in_order()) Py_RETURN_NONE;
  } else {
    DelayFiller<BlockWriter> filler{writer, r.fill_very_end};
    duration = pad_blocks(program, blocks.order, schedule, options, filler, writer);
    if (writer.failed()) return nullptr;
  }
  return PyLong_FromLongLong(duration);
}

}  // namespace

PyObject* dynamic(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kDynamic>(args, nargsf, kwnames,
                              [](PyObject* const* slots) { return dynamic_impl(bind_dynamic(slots)); });
}

}  // namespace tarvex::qiskit_plugin
