// The dynamic-circuit entry point: read the blocks, order and schedule them, pad and write.
#include "dynamic.hpp"

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "block_reader.hpp"
#include "boundary_kit/entry.hpp"
#include "block_writer.hpp"
#include "requests.hpp"
#include "graph/block_order.hpp"
#include "graph/block_padding.hpp"
#include "graph/block_schedule.hpp"
#include "boundary_kit/py_ref.hpp"
#include "qiskit_objects.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_block_reader();
bool import_capi_for_block_writer();

bool import_capi_for_dynamic_passes() {
  return qk_import() == 0 && import_capi_for_block_reader() && import_capi_for_block_writer();
}

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
  auto read = std::make_unique<ReadBlocks>(qk_circuit_num_qubits(top), qk_circuit_num_clbits(top));
  BlockOrder order;
  std::string reason;
  const ReadRequest request{r.durations, r.dt, r.writer, r.custom_order};
  switch (read_blocks(top, request, *read, order, reason)) {
    case ReadStatus::kRead:
      break;
    case ReadStatus::kFailed:
      return nullptr;
    case ReadStatus::kUnsupported: {
      Ref said = Ref::steal(PyObject_CallMethod(r.writer, "unsupported", "s#", reason.data(),
                                                static_cast<Py_ssize_t>(reason.size())));
      if (!said) return nullptr;
      Py_RETURN_NONE;
    }
  }
  const BlockProgram& program = read->program;
  if (!r.custom_order) order = order_blocks(program);

  BlockSchedule schedule;
  if (r.given != Py_None) {
    PyObject *blocks, *starts;
    if (!PyArg_ParseTuple(r.given, "OO:given", &blocks, &starts) ||
        !from_buffer(blocks, program.node_count(), schedule.block) ||
        !from_buffer(starts, program.node_count(), schedule.start))
      return nullptr;
  } else {
    const char* how = PyUnicode_AsUTF8(r.scheduling);
    if (how == nullptr) return nullptr;
    schedule = schedule_blocks(program, order,
                               std::string_view(how) == "alap" ? SchedulePolicy::kAlap : SchedulePolicy::kAsap);
  }
  if (!r.pad) {
    Ref blocks = Ref::steal(to_bytes(schedule.block));
    Ref starts = blocks ? Ref::steal(to_bytes(schedule.start)) : Ref();
    if (!starts) return nullptr;
    return PyTuple_Pack(2, blocks.get(), starts.get());
  }

  std::vector<Wire> kept;
  {
    std::vector<char> used(program.n_qubits(), r.schedule_idle_qubits ? 1 : 0);
    for (NodeId id = program.node_begin(0); id < program.node_end(0); ++id)
      for (Wire q : program.qubits(id)) used[q] = 1;
    for (Wire q = 0; q < program.n_qubits(); ++q)
      if (used[q]) kept.push_back(q);
  }
  BlockWriter writer(*read, out, r.out, r.writer, kept);
  if (r.keep_labels) writer.keep_positions();
  DelayFiller<BlockWriter> filler{writer, r.fill_very_end};
  const Ticks duration = pad_blocks(program, order, schedule,
                                    BlockPaddingOptions{.pad_unused_qubits = r.schedule_idle_qubits}, filler, writer);
  if (writer.failed()) return nullptr;
  return PyLong_FromLongLong(duration);
}

}  // namespace

PyObject* dynamic(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kDynamic>(args, nargsf, kwnames,
                              [](PyObject* const* slots) { return dynamic_impl(bind_dynamic(slots)); });
}

}  // namespace tarvex::qiskit_plugin
