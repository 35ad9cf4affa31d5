// Writing the padded output of a block walk through the C API, with Python placing control flow.
#include "block_writer.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "gate_params.hpp"
#include "boundary_kit/messages.hpp"
#include "messages.hpp"
#include "boundary_kit/py_ref.hpp"
#include "qiskit_objects.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_block_writer() { return qk_import() == 0; }

BlockWriter::BlockWriter(const ReadBlocks& read, QkCircuit* top, PyObject* top_data, PyObject* writer,
                         std::span<const Wire> kept)
    : read_(read),
      writer_(writer),
      top_data_(top_data),
      bodies_at_(read.program.control_flow_count(), 0),
      kept_index_(read.program.n_qubits(), 0) {
  for (std::uint32_t i = 0; i < kept.size(); ++i) kept_index_[kept[i]] = i;
  frames_.push_back(Frame{top, Frame::Map::kRoot, {}, Ref(), Ref()});
}

PyObject* BlockWriter::frame_data(Frame& f) {
  if (frames_.size() == 1) return top_data_;
  if (!f.data) f.data = Ref::steal(PyObject_GetAttrString(f.circuit.get(), "_data"));
  return f.data.get();
}

std::uint32_t BlockWriter::local(Wire q) const {
  const Frame& f = frames_.back();
  switch (f.map) {
    case Frame::Map::kRoot:
      return q;
    case Frame::Map::kKept:
      return kept_index_[q];
    case Frame::Map::kList:
      break;
  }
  return static_cast<std::uint32_t>(std::find(f.list.begin(), f.list.end(), q) - f.list.begin());
}

void BlockWriter::locals(std::span<const Wire> qs) {
  qubits_.resize(qs.size());
  for (std::size_t i = 0; i < qs.size(); ++i) qubits_[i] = local(qs[i]);
}

bool BlockWriter::check(QkExitCode code) {
  if (code == QkExitCode_Success) return true;
  PyErr_Format(PyExc_RuntimeError, "tarvex_qiskit: Qiskit refused an instruction of the padded circuit (exit code %d)",
               static_cast<int>(code));
  failed_ = true;
  return false;
}

bool BlockWriter::copy_gate(const QkCircuitInstructionView& v) {
  // Standard gate names are static strings in Qiskit: after the first lookup the pointer finds them.
  auto cached = gates_.find(v.name);
  if (cached == gates_.end() || cached->second.first != v.name_len) {
    const std::optional<QkGate> gate = standard_gate_named({v.name, v.name_len});
    if (!gate) return check(QkExitCode_CInputError);
    cached = gates_.insert_or_assign(v.name, std::pair<std::size_t, QkGate>{v.name_len, *gate}).first;
  }
  return check(params_.append(frames_.back().circ, cached->second.second, qubits_.data(), v, v.num_params));
}

// Notes that the copy of `id` about to be appended to the current output block is its next
// instruction.
void BlockWriter::record(NodeId id) {
  Frame& f = frames_.back();
  const std::uint32_t index = read_.index[id];
  if (f.at.size() <= index) f.at.resize(index + 1, UINT32_MAX);
  f.at[index] = static_cast<std::uint32_t>(qk_circuit_num_instructions(f.circ));
}

void BlockWriter::report_positions(long cf, long k, PyObject* data) {
  const std::vector<std::uint32_t>& at = frames_.back().at;
  Ref positions = Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(at.data()),
                                                       static_cast<Py_ssize_t>(at.size() * sizeof(std::uint32_t))));
  Ref done = positions ? Ref::steal(PyObject_CallMethod(writer_, "labels", "llOO", cf, k, data, positions.get()))
                       : Ref();
  failed_ = !done;
}

void BlockWriter::node(NodeId id) {
  if (failed_) return;
  if (keep_positions_) record(id);
  const BlockProgram& p = read_.program;
  const QkCircuit* src = read_.source[id];
  const std::uint32_t index = read_.index[id];
  QkCircuitInstructionView v;
  qk_circuit_view_instruction(src, index, &v);
  locals(p.qubits(id));
  QkCircuit* out = frames_.back().circ;
  switch (qk_circuit_instruction_kind(src, index)) {
    case QkOperationKind_Gate:
      copy_gate(v);
      return;
    case QkOperationKind_Unitary:
      matrix_.resize(std::size_t{1} << (2 * v.num_qubits));
      qk_circuit_inst_unitary(const_cast<QkCircuit*>(src), index, matrix_.data());
      check(qk_circuit_unitary(out, matrix_.data(), qubits_.data(), v.num_qubits, false));
      return;
    case QkOperationKind_Measure:
      // An output block keeps its input block's clbits, in order.
      check(qk_circuit_measure(out, qubits_[0], v.clbits[0]));
      return;
    case QkOperationKind_Reset:
      check(qk_circuit_reset(out, qubits_[0]));
      return;
    case QkOperationKind_Barrier:
      check(qk_circuit_barrier(out, qubits_.data(), static_cast<std::uint32_t>(qubits_.size())));
      return;
    default:
      check(QkExitCode_CInputError);  // the reader lets through nothing else
  }
}

void BlockWriter::delay(Wire qubit, Ticks length) {
  if (failed_) return;
  check(qk_circuit_delay_dt(frames_.back().circ, local(qubit), length));
}

void BlockWriter::barrier(std::span<const Wire> qubits) {
  if (failed_) return;
  locals(qubits);
  check(qk_circuit_barrier(frames_.back().circ, qubits_.data(), static_cast<std::uint32_t>(qubits_.size())));
}

void BlockWriter::begin_body(NodeId cf, std::uint32_t k, bool fast_path, std::span<const Wire> qubits) {
  const Frame::Map map = fast_path ? Frame::Map::kList
                         : qubits.size() == read_.program.n_qubits() ? Frame::Map::kRoot
                                                                     : Frame::Map::kKept;
  if (k == 0) {
    bodies_at_[read_.program.control_flow_index(cf)] = bodies_.size();
    bodies_.push_back(Bodies{cf, {}});
  }
  Frame frame{nullptr, map, qubits, Ref(), Ref()};
  if (!failed_) {
    frame.circuit = Ref::steal(PyObject_CallMethod(writer_, "body", "nIOn",
                                                   static_cast<Py_ssize_t>(read_.program.control_flow_index(cf)), k,
                                                   fast_path ? Py_True : Py_False,
                                                   static_cast<Py_ssize_t>(qubits.size())));
    if (frame.circuit) frame.data = Ref::steal(PyObject_GetAttrString(frame.circuit.get(), "_data"));
    // Checked here: the C API's own refusal of another object leaks a reference.
    if (frame.data && !PyObject_TypeCheck(frame.data.get(), reinterpret_cast<PyTypeObject*>(circuit_data_type()))) {
      kit::raise_cast_error(Py_TYPE(frame.data.get()), "CircuitData");
      frame.data = Ref();
    }
    frame.circ = frame.data ? qk_circuit_borrow_from_python(frame.data.get()) : nullptr;
    // The copies go onto the body's own qubits and clbits: a circuit without them all would hold
    // instructions on bits it lacks, which Qiskit cannot read back.
    if (frame.circ != nullptr) {
      const std::uint32_t nq = qk_circuit_num_qubits(frame.circ), nc = qk_circuit_num_clbits(frame.circ);
      const auto want_clbits = static_cast<std::uint32_t>(read_.program.block_clbits(read_.program.bodies(cf)[k]).size());
      if (nq != qubits.size() || nc != want_clbits) {
        raise_body_width(nq, nc, static_cast<std::uint32_t>(qubits.size()), want_clbits);
        frame.circ = nullptr;
      }
    }
    failed_ = frame.circ == nullptr;
  }
  frames_.push_back(std::move(frame));
}

void BlockWriter::end_body(NodeId cf, std::uint32_t k, Ticks) {
  if (!failed_ && keep_positions_)
    report_positions(static_cast<long>(read_.program.control_flow_index(cf)), static_cast<long>(k),
                     frames_.back().circuit.get());
  if (!failed_) bodies_[bodies_at_[read_.program.control_flow_index(cf)]].circuits.push_back(std::move(frames_.back().circuit));
  frames_.pop_back();
}

void BlockWriter::control_flow(NodeId cf, std::span<const Wire> qubits) {
  // Its bodies: the last written, or, behind a sink that holds each block's operations back until
  // the block ends, any written before (taken ones are popped once nothing written later is left).
  std::vector<Ref> circuits;
  const std::size_t at = bodies_at_[read_.program.control_flow_index(cf)];
  if (at < bodies_.size() && bodies_[at].cf == cf) {
    circuits = std::move(bodies_[at].circuits);
    bodies_[at].cf = kNoNode;
    while (!bodies_.empty() && bodies_.back().cf == kNoNode) bodies_.pop_back();
  }
  if (failed_) return;
  locals(qubits);
  QkCircuitInstructionView v;
  qk_circuit_view_instruction(read_.source[cf], read_.index[cf], &v);
  Ref bodies = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(circuits.size())));
  Ref qs = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(qubits_.size())));
  Ref cs = Ref::steal(PyTuple_New(v.num_clbits));
  PyObject* data = frame_data(frames_.back());
  failed_ = !bodies || !qs || !cs || data == nullptr;
  for (std::size_t i = 0; !failed_ && i < circuits.size(); ++i)
    PyTuple_SET_ITEM(bodies.get(), static_cast<Py_ssize_t>(i), circuits[i].release());
  for (std::size_t i = 0; !failed_ && i < qubits_.size(); ++i) {
    PyObject* q = PyLong_FromUnsignedLong(qubits_[i]);
    failed_ = q == nullptr;
    if (q) PyTuple_SET_ITEM(qs.get(), static_cast<Py_ssize_t>(i), q);
  }
  for (std::uint32_t i = 0; !failed_ && i < v.num_clbits; ++i) {
    PyObject* c = PyLong_FromUnsignedLong(v.clbits[i]);
    failed_ = c == nullptr;
    if (c) PyTuple_SET_ITEM(cs.get(), i, c);
  }
  if (failed_) return;
  Ref done = Ref::steal(PyObject_CallMethod(writer_, "place", "nOOOO",
                                            static_cast<Py_ssize_t>(read_.program.control_flow_index(cf)), bodies.get(),
                                            data, qs.get(), cs.get()));
  failed_ = !done;
}

void BlockWriter::end(Ticks) {
  if (!failed_ && keep_positions_) report_positions(-1, -1, top_data_);
}

}  // namespace tarvex::qiskit_plugin
