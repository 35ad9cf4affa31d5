// The dynamic-circuit DD entry point: read the blocks, order and schedule them, pad them with pulse
// sequences and write.
#include "dynamic_dd.hpp"

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>

#include "block_writer.hpp"
#include "boundary_kit/entry.hpp"
#include "boundary_kit/py_ref.hpp"
#include "graph/block_decoupling.hpp"
#include "graph/block_padding.hpp"
#include "graph/lexicographic_blocks.hpp"
#include "qiskit_objects.hpp"
#include "requests.hpp"
#include "scheduled_blocks.hpp"
#include "u3_compose.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_decoupling() { return qk_import() == 0; }

namespace {

// A node a one-pulse sequence can merge its inverse into: a one-qubit U or U3 with numeric angles.
enum class Absorber : char { kNone = 0, kU = 1, kU3 = 2 };

using Overrides = std::unordered_map<NodeId, std::array<double, 3>>;

// Which pulse gates carry a label, from writer.labelled_pulses (None: none do). False with a
// Python error set.
bool load_labelled(const DecouplingRequest& r, std::vector<char>& out) {
  Ref flags = Ref::steal(PyObject_GetAttrString(r.writer, "labelled_pulses"));
  if (!flags) return false;
  if (flags.get() == Py_None) return true;
  if (!PyBytes_Check(flags.get()) || static_cast<std::size_t>(PyBytes_GET_SIZE(flags.get())) != r.gates.size()) {
    PyErr_SetString(PyExc_TypeError, "tarvex_qiskit: labelled_pulses must be bytes, one per pulse gate");
    return false;
  }
  const char* at = PyBytes_AS_STRING(flags.get());
  out.assign(at, at + r.gates.size());
  return true;
}

// The end of the line: hands the walk's output to the block writer and writes the pulses and the
// gates a pulse merged into natively, keeping where each labelled pulse went, per output block.
class PulseWriter {
 public:
  PulseWriter(BlockWriter& writer, const ReadBlocks& read, const DecouplingRequest& r,
              const std::vector<char>& absorbers, const std::vector<char>& labelled, const Overrides& overrides)
      : w_(writer), read_(read), r_(r), absorbers_(absorbers), labelled_(labelled), overrides_(overrides) {}

  void node(NodeId id) { w_.node(id); }
  void delay(Wire q, Ticks length) { w_.delay(q, length); }
  void barrier(std::span<const Wire> qubits) { w_.barrier(qubits); }
  void begin_body(NodeId cf, std::uint32_t k, bool fast_path, std::span<const Wire> qubits) {
    labelled_at_.emplace_back();
    w_.begin_body(cf, k, fast_path, qubits);
  }
  void end_body(NodeId cf, std::uint32_t k, Ticks duration) {
    report_labelled(static_cast<Py_ssize_t>(read_.program.control_flow_index(cf)), k);
    w_.end_body(cf, k, duration);
  }
  void control_flow(NodeId cf, std::span<const Wire> qubits) { w_.control_flow(cf, qubits); }
  void end(Ticks duration) {
    report_labelled(-1, static_cast<std::uint32_t>(-1));
    w_.end(duration);
  }
  // Pulse gate `gate` of the sequences (flattened) on qubit q.
  void pulse(Wire q, std::uint32_t gate) {
    QkCircuit* circ = w_.circuit();
    if (circ == nullptr) return;
    const PulseGate& g = r_.gates[gate];
    const std::uint32_t local = w_.local_qubit(q);
    if (check(qk_circuit_gate(circ, g.gate, &local, g.params.empty() ? nullptr : g.params.data())) &&
        !labelled_.empty() && labelled_[gate] != 0) {
      std::vector<std::uint32_t>& at = labelled_at_.back();
      at.push_back(static_cast<std::uint32_t>(qk_circuit_num_instructions(circ) - 1));
      at.push_back(gate);
    }
  }
  // The copy of U or U3 node `id` with the angles a pulse's inverse merged into.
  void overridden(NodeId id) {
    QkCircuit* circ = w_.circuit();
    if (circ == nullptr) return;
    w_.own_copy(id);
    const std::uint32_t local = w_.local_qubit(read_.program.qubits(id)[0]);
    const QkGate gate = static_cast<Absorber>(absorbers_[id]) == Absorber::kU ? QkGate_U : QkGate_U3;
    check(qk_circuit_gate(circ, gate, &local, overrides_.at(id).data()));
  }

 private:
  bool check(QkExitCode code) {
    if (code == QkExitCode_Success) return true;
    PyErr_Format(PyExc_RuntimeError, "tarvex_qiskit: Qiskit refused a pulse of the decoupled circuit (exit code %d)",
                 static_cast<int>(code));
    w_.fail();
    return false;
  }

  // writer.label_pulses(cf, k, data, entries) for the output block ending, if it holds labelled
  // pulses; -1 for the root, whose k is ignored.
  void report_labelled(Py_ssize_t cf, std::uint32_t k) {
    std::vector<std::uint32_t> at = std::move(labelled_at_.back());
    labelled_at_.pop_back();
    if (at.empty() || w_.failed()) return;
    Ref entries = Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(at.data()),
                                                       static_cast<Py_ssize_t>(at.size() * sizeof(std::uint32_t))));
    Ref done = entries ? Ref::steal(PyObject_CallMethod(r_.writer, "label_pulses", "nnOO", cf,
                                                        cf < 0 ? Py_ssize_t{-1} : static_cast<Py_ssize_t>(k),
                                                        w_.block_object(), entries.get()))
                       : Ref();
    if (!done) w_.fail();
  }

  BlockWriter& w_;
  const ReadBlocks& read_;
  const DecouplingRequest& r_;
  const std::vector<char>& absorbers_;
  const std::vector<char>& labelled_;  // per pulse gate: whether it carries a label
  const Overrides& overrides_;
  // per output block being written: (index there, pulse gate) of its labelled pulses
  std::vector<std::vector<std::uint32_t>> labelled_at_ = std::vector<std::vector<std::uint32_t>>(1);
};

// Stands between the padding walk and `Out` (a PulseWriter, or one that orders each block before
// it): passes the walk's output on, adds the pulses, keeps each output block's added phase, and
// holds back the U and U3 gates a one-pulse sequence may still merge into until their qubit's next
// instruction.
template <class Out>
class DecouplingSink {
 public:
  DecouplingSink(Out& out, BlockWriter& writer, const ReadBlocks& read, const DecouplingRequest& r,
                 const std::vector<char>& absorbers, Overrides& overrides)
      : out_(out),
        w_(writer),
        read_(read),
        r_(r),
        absorbers_(absorbers),
        overrides_(overrides),
        pending_(read.program.n_qubits(), kNoNode) {
    std::uint32_t offset = 0;
    for (std::uint32_t n : r.n_pulses) {
      offsets_.push_back(offset);
      offset += n;
    }
  }

  void set_filler(DecouplingFiller<DecouplingSink>* filler) { filler_ = filler; }
  double root_phase() const { return phases_.front(); }
  std::uint32_t odd() const { return odd_; }

  // The padding walk's sink.
  void node(NodeId id) {
    filler_->touched(id);
    for (Wire q : read_.program.qubits(id)) flush(q);
    if (!absorbers_.empty() && absorbers_[id] != 0) {
      const Wire q = read_.program.qubits(id)[0];
      pending_[q] = id;
      pending_list_.push_back(q);
      return;
    }
    out_.node(id);
  }
  void delay(Wire q, Ticks length) {
    flush(q);
    out_.delay(q, length);
  }
  void barrier(std::span<const Wire> qubits) {
    for (Wire q : qubits) flush(q);
    out_.barrier(qubits);
  }
  void begin_body(NodeId cf, std::uint32_t k, bool fast_path, std::span<const Wire> qubits) {
    flush_all();
    phases_.push_back(0.0);
    out_.begin_body(cf, k, fast_path, qubits);
  }
  void end_body(NodeId cf, std::uint32_t k, Ticks duration) {
    flush_all();
    const double phase = phases_.back();
    phases_.pop_back();
    if (phase != 0.0 && !w_.failed()) {
      Ref done = Ref::steal(PyObject_CallMethod(r_.writer, "phase", "nId",
                                                static_cast<Py_ssize_t>(read_.program.control_flow_index(cf)), k,
                                                phase));
      if (!done) w_.fail();
    }
    out_.end_body(cf, k, duration);
  }
  void control_flow(NodeId cf, std::span<const Wire> qubits) {
    flush_all();
    out_.control_flow(cf, qubits);
  }
  void end(Ticks duration) {
    flush_all();
    out_.end(duration);
  }

  // The decoupling filler's sink.
  void pulse(Wire q, std::uint32_t s, std::uint32_t k) {
    flush(q);
    out_.pulse(q, offsets_[s] + k);
  }
  void absorb(Wire, std::uint32_t s, NodeId node, bool into_next) {
    const std::array<double, 3> current = angles(node);
    const double* inv = r_.inverses.data() + 4 * std::size_t{s};
    const U3Angles node_angles{current[0], current[1], current[2]};
    const U3Angles inverse{inv[0], inv[1], inv[2]};
    // Into the next gate: it follows the pulse, so the inverse acts first; into the previous one, last.
    const ComposedU3 merged = into_next ? compose_u3(node_angles, inverse) : compose_u3(inverse, node_angles);
    overrides_[node] = {merged.angles.theta, merged.angles.phi, merged.angles.lam};
    phases_.back() += inv[3] + merged.phase;
  }
  void placed(Wire, std::uint32_t s, Ticks cycles) {
    if (r_.n_pulses[s] > 1) {
      phases_.back() += static_cast<double>(cycles) * r_.phases[s];
    } else if (cycles >= 2) {  // a whole number of periods (the filler's rule)
      phases_.back() += static_cast<double>(cycles / r_.periods[s]) * r_.phases[s];
    }
  }
  void odd_cycles() { ++odd_; }

 private:
  std::array<double, 3> angles(NodeId id) const {
    auto it = overrides_.find(id);
    if (it != overrides_.end()) return it->second;
    QkCircuitInstructionView v;
    qk_circuit_view_instruction(read_.source[id], read_.index[id], &v);
    const char* base = reinterpret_cast<const char*>(v.params);
    std::array<double, 3> a{};
    for (std::size_t k = 0; k < 3; ++k) a[k] = qk_param_as_real(reinterpret_cast<const QkParam*>(base + k * qk_param_stride()));
    return a;
  }

  void flush(Wire q) {
    const NodeId id = pending_[q];
    if (id == kNoNode) return;
    pending_[q] = kNoNode;
    if (overrides_.count(id) == 0) {
      out_.node(id);
    } else {
      out_.overridden(id);
    }
  }
  void flush_all() {
    for (Wire q : pending_list_) flush(q);
    pending_list_.clear();
  }

  Out& out_;
  BlockWriter& w_;
  const ReadBlocks& read_;
  const DecouplingRequest& r_;
  const std::vector<char>& absorbers_;
  Overrides& overrides_;
  DecouplingFiller<DecouplingSink>* filler_ = nullptr;
  std::vector<std::uint32_t> offsets_;
  std::vector<NodeId> pending_;  // per qubit: a held-back gate, or kNoNode
  std::vector<Wire> pending_list_;
  std::vector<double> phases_{0.0};  // per output block being written
  std::uint32_t odd_ = 0;
};

// Per node: the U and U3 gates one-pulse sequences can merge into.
std::vector<char> find_absorbers(const ReadBlocks& read) {
  const BlockProgram& p = read.program;
  std::vector<char> out(p.node_count(), 0);
  for (NodeId id = 0; id < p.node_count(); ++id) {
    if (p.op(id) != BlockOp::kGate || p.qubits(id).size() != 1) continue;
    QkCircuitInstructionView v;
    qk_circuit_view_instruction(read.source[id], read.index[id], &v);
    const std::string_view name(v.name, v.name_len);
    if ((name != "u" && name != "u3") || v.num_params != 3) continue;
    const char* base = reinterpret_cast<const char*>(v.params);
    bool real = true;
    for (std::size_t k = 0; k < 3; ++k)
      real = real && qk_param_kind(reinterpret_cast<const QkParam*>(base + k * qk_param_stride())) == QkParamKind_Real;
    if (real) out[id] = static_cast<char>(name == "u" ? Absorber::kU : Absorber::kU3);
  }
  return out;
}

// Per node: the barriers before which sequences may go, as the writer judges their labels.
bool find_named_barriers(const ReadBlocks& read, PyObject* writer, std::vector<char>& out) {
  const BlockProgram& p = read.program;
  out.assign(p.node_count(), 0);
  for (BlockId b = 0; b < p.block_count(); ++b) {
    Py_ssize_t cf = -1, k = -1;
    if (b != 0) {
      const NodeId parent = p.parent(b);
      const std::span<const BlockId> bodies = p.bodies(parent);
      cf = static_cast<Py_ssize_t>(p.control_flow_index(parent));
      k = std::find(bodies.begin(), bodies.end(), b) - bodies.begin();
    }
    for (NodeId id = p.node_begin(b); id < p.node_end(b); ++id) {
      if (p.op(id) != BlockOp::kBarrier) continue;
      Ref said = Ref::steal(PyObject_CallMethod(writer, "labelled", "nnn", cf, k, static_cast<Py_ssize_t>(read.index[id])));
      if (!said) return false;
      const int yes = PyObject_IsTrue(said.get());
      if (yes < 0) return false;
      out[id] = static_cast<char>(yes);
    }
  }
  return true;
}

// One padding walk through a DecouplingSink before `Out`, and its result tuple.
template <class Out>
struct Decoupled {
  Decoupled(Out& out, BlockWriter& writer, const ReadBlocks& read, const DecouplingRequest& r,
            const std::vector<char>& absorbers, Overrides& overrides, const BlockDecouplingOptions& options)
      : writer(writer), r(r), sink(out, writer, read, r, absorbers, overrides), filler(read.program, options, sink) {
    sink.set_filler(&filler);
  }
  // False with a Python error set.
  bool pad(const ScheduledBlocks& blocks) {
    duration = pad_blocks(blocks.read->program, blocks.order, blocks.schedule,
                          BlockPaddingOptions{.pad_unused_qubits = r.schedule_idle_qubits}, filler, sink);
    return !writer.failed();
  }
  PyObject* result() {
    return Py_BuildValue("(LdiI)", static_cast<long long>(duration), sink.root_phase(),
                         static_cast<int>(filler.status()), sink.odd());
  }

  BlockWriter& writer;
  const DecouplingRequest& r;
  DecouplingSink<Out> sink;
  DecouplingFiller<DecouplingSink<Out>> filler;
  Ticks duration = 0;
};

PyObject* decoupling_impl(const DecouplingRequest& r) {
  const QkCircuit* top = qk_circuit_borrow_from_python(r.top);
  if (top == nullptr) return nullptr;
  QkCircuit* out = qk_circuit_borrow_from_python(r.out);
  if (out == nullptr) return nullptr;
  if (r.selected.size() != qk_circuit_num_qubits(top) || (!r.colours.empty() && r.colours.size() != r.selected.size())) {
    PyErr_SetString(PyExc_ValueError, "the per-qubit fields do not match the circuit's qubits");
    return nullptr;
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
  const ReadBlocks& read = *blocks.read;
  const BlockProgram& program = read.program;

  std::vector<char> named;
  if (r.dd_barrier && !find_named_barriers(read, r.writer, named)) return nullptr;
  bool one_pulse = false;
  for (std::uint32_t n : r.n_pulses) one_pulse = one_pulse || n == 1;
  const std::vector<char> absorbers = one_pulse ? find_absorbers(read) : std::vector<char>{};

  std::vector<DecouplingSequence> sequences;
  std::size_t spacing_at = 0, alt_at = 0;
  for (std::size_t s = 0; s < r.n_pulses.size(); ++s) {
    const std::span<const double> spacing(r.spacings.data() + spacing_at, r.spacing_counts[s]);
    const std::span<const double> alt(r.alt_spacings.data() + alt_at, r.alt_counts[s]);
    spacing_at += r.spacing_counts[s];
    alt_at += r.alt_counts[s];
    sequences.push_back(DecouplingSequence{r.n_pulses[s], r.ratios[s], r.integral_ratios[s] != 0, spacing, alt,
                                           r.periods[s]});
  }
  const BlockDecouplingOptions options{
      .sequences = sequences,
      .selected = {r.selected.data(), r.selected.size()},
      .pulse_durations = r.pulse_durations,
      .colours = {reinterpret_cast<const std::uint8_t*>(r.colours.data()), r.colours.size()},
      .decouple_before = named,
      .absorbs = absorbers,
      .alignment = r.alignment,
      .split = r.split,
      .skip_reset = r.skip_reset,
      .multiple_cycles = r.multiple_cycles,
  };

  std::vector<char> labelled;
  if (!load_labelled(r, labelled)) return nullptr;
  BlockWriter writer(read, out, r.out, r.writer, kept_qubits(program, r.schedule_idle_qubits));
  if (r.keep_labels) writer.keep_positions();
  Overrides overrides;
  PulseWriter pulses(writer, read, r, absorbers, labelled, overrides);
  if (r.in_own_order) {
    // Every block is written as its DAG lists it: the order Qiskit's conversions would give.
    LexicographicBlocks<PulseWriter> ordered(program, pulses);
    Decoupled<LexicographicBlocks<PulseWriter>> run(ordered, writer, read, r, absorbers, overrides, options);
    if (!run.pad(blocks)) return nullptr;
    if (!ordered.in_order()) Py_RETURN_NONE;
    return run.result();
  }
  Decoupled<PulseWriter> run(pulses, writer, read, r, absorbers, overrides, options);
  if (!run.pad(blocks)) return nullptr;
  return run.result();
}

PyObject* colouring_impl(const ColouringRequest& r) {
  const std::vector<std::uint32_t> colours = tarvex::greedy_colouring(r.n, r.edges);
  std::string bytes(colours.size(), '\0');
  for (std::size_t i = 0; i < colours.size(); ++i) bytes[i] = static_cast<char>(std::min<std::uint32_t>(colours[i], 255));
  return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
}

}  // namespace

PyObject* dynamic_decoupling(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kDecoupling>(args, nargsf, kwnames,
                                 [](PyObject* const* slots) { return decoupling_impl(bind_decoupling(slots)); });
}

PyObject* greedy_colouring(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kColouring>(args, nargsf, kwnames,
                                [](PyObject* const* slots) { return colouring_impl(bind_colouring(slots)); });
}

}  // namespace tarvex::qiskit_plugin
