// Writing the padded circuit through the C API.
#include "circuit_writer.hpp"

#include <algorithm>
#include <cmath>

#include "boundary_kit/fault.hpp"
#include "messages.hpp"

namespace tarvex::qiskit_plugin {

bool import_capi_for_circuit_writer() { return qk_import() == 0; }

std::int64_t dt_count(double value) {
  constexpr double kLimit = 9223372036854775808.0;  // 2**63
  if (!(value >= 0.0 && value < kLimit)) {
    raise_time_overflow(value);
    throw kit::PythonErrorSet{};
  }
  if (value != std::floor(value))
    kit::raise_fault("a time that is not a whole number of dt reached the writer");
  return static_cast<std::int64_t>(value);
}

CircuitWriter::CircuitWriter(const QkDag* like) {
  // An empty copy keeps every bit, register and the global phase; the C API turns it into a
  // circuit that later appends extend.
  QkDag* empty = qk_dag_copy_empty_like(like, QkVarsMode_Alike, QkBlocksMode_Drop);
  circuit_ = qk_dag_to_circuit(empty);
  qk_dag_free(empty);
}

namespace {

// Empty circuits by register layout, newest last; never shown to Python, so their copies clone
// nothing of Python's.
constexpr std::size_t kKeptLayouts = 8;
std::vector<std::pair<std::vector<RegisterSpec>, QkCircuit*>>& empty_circuits() {
  static std::vector<std::pair<std::vector<RegisterSpec>, QkCircuit*>> kept;
  return kept;
}

const QkCircuit* empty_circuit_with(const std::vector<RegisterSpec>& registers) {
  auto& kept = empty_circuits();
  for (const auto& [layout, circuit] : kept)
    if (layout == registers) return circuit;
  QkCircuit* circuit = qk_circuit_new(0, 0);
  for (const RegisterSpec& r : registers) {
    if (r.quantum) {
      QkQuantumRegister* reg = qk_quantum_register_new(r.size, r.name.c_str());
      qk_circuit_add_quantum_register(circuit, reg);
      qk_quantum_register_free(reg);
    } else {
      QkClassicalRegister* reg = qk_classical_register_new(r.size, r.name.c_str());
      qk_circuit_add_classical_register(circuit, reg);
      qk_classical_register_free(reg);
    }
  }
  if (kept.size() == kKeptLayouts) {
    qk_circuit_free(kept.front().second);
    kept.erase(kept.begin());
  }
  kept.emplace_back(registers, circuit);
  return circuit;
}

}  // namespace

CircuitWriter::CircuitWriter(const QkDag* like, const std::vector<RegisterSpec>& registers)
    : circuit_(qk_circuit_copy(empty_circuit_with(registers))) {
  QkParam* phase = qk_dag_global_phase(like);
  const QkExitCode code = qk_circuit_set_global_phase(circuit_, phase);
  qk_param_free(phase);
  if (code != QkExitCode_Success) {
    qk_circuit_free(circuit_);  // no destructor runs for a constructor that throws
    circuit_ = nullptr;
    check(code, "the global phase");
  }
}

CircuitWriter::CircuitWriter(QkCircuit* into) : circuit_(into), owned_(false) {}

CircuitWriter::~CircuitWriter() {
  if (owned_ && circuit_ != nullptr) qk_circuit_free(circuit_);
}

void CircuitWriter::check(QkExitCode code, const char* what) {
  if (code != QkExitCode_Success) {
    raise_refused_by_qiskit(what, static_cast<int>(code));
    throw kit::PythonErrorSet{};
  }
}

void CircuitWriter::appended(QkExitCode code, const char* what) {
  check(code, what);
  ++written_;
}

void CircuitWriter::copy(const QkDag* src, std::uint32_t qk_id, OpKind kind, std::uint8_t gate,
                         std::span<const Qubit> wires, std::uint32_t n_qubits) {
  copy_with(
      kind, gate, wires, n_qubits,
      [&] {
        QkCircuitInstructionView view;
        qk_dag_view_instruction(src, qk_id, &view);
        return view;
      },
      [&](QkComplex64* matrix) { qk_dag_op_node_unitary(src, qk_id, matrix); });
}

void CircuitWriter::copy(const QkCircuit* src, std::size_t index, OpKind kind, std::uint8_t gate,
                         std::span<const Qubit> wires, std::uint32_t n_qubits) {
  copy_with(
      kind, gate, wires, n_qubits,
      [&] {
        QkCircuitInstructionView view;
        qk_circuit_view_instruction(src, index, &view);
        return view;
      },
      // The C API reads the matrix without changing the circuit; its signature lacks the const.
      [&](QkComplex64* matrix) { qk_circuit_inst_unitary(const_cast<QkCircuit*>(src), index, matrix); });
}

template <class View, class Unitary>
void CircuitWriter::copy_with(OpKind kind, std::uint8_t gate, std::span<const Qubit> wires,
                              std::uint32_t n_qubits, View&& view, Unitary&& unitary) {
  // The wires the reader stored: the qubits, then for a measurement its clbit after all qubits.
  // Reading them back from the core saves the C API a lookup per instruction.
  qubits_.assign(wires.begin(), wires.end());
  const std::uint32_t* qubits = qubits_.data();
  const auto n_wires = static_cast<std::uint32_t>(qubits_.size());
  switch (kind) {
    case OpKind::kGate: {
      std::int16_t& n_params = gate_params_[gate];
      if (n_params < 0) n_params = static_cast<std::int16_t>(qk_gate_num_params(static_cast<QkGate>(gate)));
      if (n_params == 0)
        return appended(qk_circuit_gate(circuit_, static_cast<QkGate>(gate), qubits, nullptr), "a gate");
      return appended(params_.append(circuit_, static_cast<QkGate>(gate), qubits, view(), n_params), "a gate");
    }
    case OpKind::kMeasure:
      return appended(qk_circuit_measure(circuit_, qubits[0], qubits[1] - n_qubits), "a measurement");
    case OpKind::kReset:
      return appended(qk_circuit_reset(circuit_, qubits[0]), "a reset");
    case OpKind::kBarrier:
      return appended(qk_circuit_barrier(circuit_, qubits, n_wires), "a barrier");
    case OpKind::kUnitary: {
      matrix_.resize(std::size_t{1} << (2 * n_wires));
      unitary(matrix_.data());
      return appended(qk_circuit_unitary(circuit_, matrix_.data(), qubits, n_wires, false), "a unitary");
    }
    case OpKind::kDelay:
      break;
  }
}

void CircuitWriter::delay(std::uint32_t qubit, double duration_dt) {
  appended(qk_circuit_delay_dt(circuit_, qubit, dt_count(duration_dt)), "a delay");
}

void CircuitWriter::gate(std::uint8_t gate, std::uint32_t qubit, const double* params) {
  appended(qk_circuit_gate(circuit_, static_cast<QkGate>(gate), &qubit, params), "a pulse gate");
}

void CircuitWriter::set_global_phase(double phase) {
  QkParam* p = qk_param_from_double(phase);
  const QkExitCode code = qk_circuit_set_global_phase(circuit_, p);
  qk_param_free(p);
  check(code, "the global phase");
}

PyObject* CircuitWriter::finish(std::uint32_t* first_op) {
  QkDag* dag = qk_circuit_to_dag(circuit_);
  qk_circuit_free(circuit_);
  circuit_ = nullptr;
  if (first_op != nullptr) {
    // A DAG made from a circuit numbers an input and an output node per wire first, then the
    // operations in the circuit's order: the k-th instruction written is op node first + k.
    // Checked on the wire nodes, which must take exactly the ids below first.
    const std::uint32_t n_qubits = qk_dag_num_qubits(dag), n_clbits = qk_dag_num_clbits(dag);
    const std::uint32_t first = 2 * (n_qubits + n_clbits);
    std::uint32_t highest = 0;
    for (std::uint32_t q = 0; q < n_qubits; ++q)
      highest = std::max({highest, qk_dag_qubit_in_node(dag, q), qk_dag_qubit_out_node(dag, q)});
    for (std::uint32_t c = 0; c < n_clbits; ++c)
      highest = std::max({highest, qk_dag_clbit_in_node(dag, c), qk_dag_clbit_out_node(dag, c)});
    if (first != 0 && highest + 1 != first) {
      qk_dag_free(dag);
      kit::raise_fault(text::kUnexpectedNumbering);
    }
    *first_op = first;
  }
  PyObject* out = qk_dag_to_python(dag);
  if (out == nullptr) kit::python_call_failed();
  return out;
}

}  // namespace tarvex::qiskit_plugin
