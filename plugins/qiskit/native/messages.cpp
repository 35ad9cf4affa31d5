// Every text the native module shows a user, and the small helpers that raise them.
#include "messages.hpp"

#include <qiskit/version.h>

#include <span>
#include <string>

#include "qiskit_objects.hpp"

namespace tarvex::qiskit_plugin {

namespace {

// A double as Python's repr() writes it ("1.5", "inf", "1e+300"); empty if even that fails.
std::string float_text(double value) {
  char* text = PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
  if (text == nullptr) return {};
  std::string out(text);
  PyMem_Free(text);
  return out;
}

// A count of dt as a plain integer ("48"); other values as float_text gives them.
std::string dt_text(double value) {
  constexpr double kLimit = 9223372036854775808.0;  // 2**63
  if (value > -kLimit && value < kLimit && value == static_cast<double>(static_cast<long long>(value)))
    return std::to_string(static_cast<long long>(value));
  return float_text(value);
}

void raise_transpiler_error(const std::string& label, const char* what) {
  PyErr_Format(transpiler_error_type(), "%s: %s", label.c_str(), what);
}

std::string duration_label(std::string_view name, std::span<const std::uint32_t> qubits) {
  std::string s = "of " + std::string(name) + " on qubits [";
  for (std::size_t i = 0; i < qubits.size(); ++i) s += (i ? ", " : "") + std::to_string(qubits[i]);
  return s + "]";
}

}  // namespace

void raise_duration_not_found(std::string_view name, std::span<const std::uint32_t> qubits) {
  PyErr_Format(transpiler_error_type(), "Duration %s is not found.", duration_label(name, qubits).c_str());
}

void raise_unbounded_duration(std::string_view name, std::span<const std::uint32_t> qubits) {
  PyErr_Format(transpiler_error_type(), "The duration %s is a parameter: it is not bounded.",
               duration_label(name, qubits).c_str());
}

void raise_durations_too_long() {
  PyErr_SetString(transpiler_error_type(),
                  "The circuit's durations add up to more than 2**62 dt: too long to schedule.");
}

void raise_bad_block_order(std::size_t n) {
  PyErr_Format(transpiler_error_type(),
               "block_ordering_callable must yield each of the block's %zu operation nodes once.", n);
}

void raise_foreign_body_dag() {
  PyErr_SetString(PyExc_RuntimeError, "tarvex_qiskit: a body's DAG does not hold the body's instructions");
}

void raise_body_width(std::uint32_t qubits, std::uint32_t clbits, std::uint32_t want_qubits,
                      std::uint32_t want_clbits) {
  PyErr_Format(PyExc_RuntimeError,
               "tarvex_qiskit: writer.body() gave a circuit of %u qubits and %u clbits where %u and %u are needed",
               qubits, clbits, want_qubits, want_clbits);
}

std::string unexpected_object_text(std::string_view what) {
  return "tarvex_qiskit: " + std::string(what) + " is not what this module was built for";
}

std::string instruction_label(std::string_view name, std::span<const std::uint32_t> qubits) {
  std::string label(name);
  label += " on qubits [";
  for (std::size_t i = 0; i < qubits.size(); ++i) label += (i ? ", " : "") + std::to_string(qubits[i]);
  return label + "]";
}

void raise_no_duration(const std::string& label) {
  raise_transpiler_error(label, "no duration for it in the target or the durations");
}

void raise_control_flow(const std::string& label) {
  raise_transpiler_error(label, "control flow cannot be scheduled");
}

void raise_delay_not_given(const std::string& label) {
  raise_transpiler_error(label, "the delay's duration was not given");
}

void raise_delay_not_in_ns(const std::string& label, bool in_dt) {
  raise_transpiler_error(label, in_dt ? "the delay's duration cannot be given in ns without the target's dt"
                                      : "the delay's duration cannot be given in ns");
}

void raise_no_start_time(const std::string& label) {
  raise_transpiler_error(
      label, "no start time: it was added after the circuit was scheduled; schedule the circuit again");
}

void raise_misaligned(double length_dt, std::uint64_t qubit, const std::string& before,
                      const std::string& after, double alignment_dt) {
  PyErr_Format(
      transpiler_error_type(),
      "the idle time of %s dt on qubit %llu between %s and %s is not a multiple of the pulse alignment %s",
      dt_text(length_dt).c_str(), static_cast<unsigned long long>(qubit), before.c_str(), after.c_str(),
      dt_text(alignment_dt).c_str());
}

void raise_split_refused() {
  PyErr_SetString(transpiler_error_type(), "extra_slack_distribution must be 'middle' or 'edges'");
}

void raise_refused_by_qiskit(const char* what, int code) {
  PyErr_Format(PyExc_RuntimeError, "tarvex_qiskit: Qiskit refused %s (exit code %d)", what, code);
}

void raise_symbolic_phase() {
  PyErr_SetString(PyExc_ValueError, "a symbolic global phase cannot take the sequences' phase natively");
}

void raise_time_overflow(double value_dt) {
  PyErr_Format(PyExc_ValueError,
               "the padded circuit's times reach %s dt, beyond the 2**63 dt a circuit holds",
               float_text(value_dt).c_str());
}

void raise_not_whole_dt(const char* argument, double value, int low) {
  PyErr_Format(PyExc_ValueError, "argument '%s': %s is not a whole number of dt from %d to 2**53", argument,
               float_text(value).c_str(), low);
}

void raise_durations_not_whole() {
  PyErr_SetString(PyExc_ValueError,
                  "argument 'durations': not every duration is a whole number of dt up to 2**53");
}

void raise_not_finite(const char* argument, double value) {
  PyErr_Format(PyExc_ValueError, "argument '%s': %s is not a finite number", argument,
               float_text(value).c_str());
}

void raise_not_a_fraction(const char* argument, double value) {
  PyErr_Format(PyExc_ValueError, "argument '%s': %s is not a fraction from 0 to 1", argument,
               float_text(value).c_str());
}

void raise_count_mismatch(const char* argument, std::size_t given, std::size_t expected, const char* why) {
  PyErr_Format(PyExc_ValueError, "argument '%s': %zu entries where %zu are needed, %s", argument, given,
               expected, why);
}

void raise_not_a_choice(const char* argument, const char* choices) {
  PyErr_Format(PyExc_ValueError, "argument '%s': must be %s", argument, choices);
}

void raise_start_times_mismatch() {
  PyErr_SetString(
      PyExc_ValueError,
      "argument 'start_times': a mapping is needed when scheduling is 'given', and None otherwise");
}

void raise_not_a_register() {
  PyErr_SetString(PyExc_TypeError, "each item is a (name, size, quantum) tuple");
}

void raise_register_name_nul() {
  PyErr_SetString(PyExc_ValueError, "argument 'registers': a register's name holds a NUL character");
}

void raise_registers_mismatch(std::uint64_t qubits, std::uint64_t clbits, std::uint64_t dag_qubits,
                              std::uint64_t dag_clbits) {
  PyErr_Format(PyExc_ValueError,
               "argument 'registers': %llu qubits and %llu clbits in the registers, where the DAG has %llu and %llu",
               static_cast<unsigned long long>(qubits), static_cast<unsigned long long>(clbits),
               static_cast<unsigned long long>(dag_qubits), static_cast<unsigned long long>(dag_clbits));
}

void raise_not_a_pulse_gate(const char* argument, std::uint64_t gate) {
  PyErr_Format(PyExc_ValueError, "argument '%s': %llu is not a standard gate on one qubit", argument,
               static_cast<unsigned long long>(gate));
}

void raise_pulse_params(const char* argument, std::uint64_t gate, std::size_t expected, std::size_t given) {
  PyErr_Format(PyExc_ValueError, "argument '%s': gate %llu takes %zu parameters, %zu given", argument,
               static_cast<unsigned long long>(gate), expected, given);
}

void raise_not_seconds(const char* argument, double value) {
  PyErr_Format(PyExc_ValueError, "argument '%s': %s is not a positive finite number of seconds", argument,
               float_text(value).c_str());
}

void raise_out_mismatch(std::uint32_t qubits, std::uint32_t clbits, std::uint32_t top_qubits,
                        std::uint32_t top_clbits) {
  PyErr_Format(PyExc_ValueError, "argument 'out': %u qubits and %u clbits where 'top' has %u and %u", qubits,
               clbits, top_qubits, top_clbits);
}

void raise_given_start_out_of_range() {
  PyErr_SetString(PyExc_ValueError, "argument 'given': a start time is not from 0 to 2**62");
}

void raise_not_an_entry(std::size_t index) {
  PyErr_Format(PyExc_ValueError,
               "argument 'entries': item %zu is not a (name, qubits or None, duration) tuple", index);
}

void raise_bad_entry_duration(std::string_view name, double value) {
  PyErr_Format(PyExc_ValueError,
               "argument 'entries': the duration of %s is %s, not a finite number from 0 up",
               std::string(name).c_str(), float_text(value).c_str());
}

void raise_beyond_qiskit(const char* argument, std::uint64_t value) {
  PyErr_Format(PyExc_OverflowError, "argument '%s': %llu is beyond Qiskit's indices (up to 2**32 - 1)",
               argument, static_cast<unsigned long long>(value));
}

void raise_node_unscheduled(std::size_t node) {
  PyErr_Format(PyExc_ValueError, "node %zu has no start time: call build_schedule() first", node);
}

void raise_node_qubit_out_of_range(std::size_t node, const std::string& label, std::uint32_t qubit,
                                   std::uint32_t n_qubits) {
  PyErr_Format(PyExc_ValueError, "node %zu (%s) acts on qubit %u of a %u-qubit circuit", node, label.c_str(),
               qubit, n_qubits);
}

void raise_node_without_counterpart(std::size_t node, const std::string& label) {
  PyErr_Format(PyExc_ValueError, "node %zu (%s) has no counterpart in the source circuit", node,
               label.c_str());
}

void raise_node_mismatch(std::size_t node, const std::string& label, std::size_t k,
                         const std::string& source_label) {
  PyErr_Format(PyExc_ValueError, "node %zu (%s) does not match the source's instruction %zu (%s)", node,
               label.c_str(), k, source_label.c_str());
}

void raise_node_not_buildable(std::size_t node, const std::string& label) {
  PyErr_Format(
      PyExc_ValueError,
      "node %zu (%s) cannot be made into a Qiskit instruction: without a source circuit only standard "
      "gates without parameters, measure, reset, barrier, delay, DD_X and DD_Y can",
      node, label.c_str());
}

void raise_source_not_copyable(const std::string& label) {
  PyErr_Format(PyExc_ValueError, "%s in the source circuit cannot be copied", label.c_str());
}

void raise_idle_not_whole(std::uint32_t qubit, double length) {
  PyErr_Format(PyExc_ValueError, "qubit %u idles for %s, not a whole number of dt", qubit,
               float_text(length).c_str());
}

void raise_not_an_export() {
  PyErr_SetString(PyExc_TypeError, "get_all_nodes() must return a list of (name, qubits, duration)");
}

void raise_series_mismatch(const char* installed) {
  PyErr_Format(PyExc_ImportError,
               "tarvex_qiskit was built against Qiskit %s, but Qiskit %s is installed; Qiskit's C API is "
               "compatible only within one minor series (%d.%d.x). Install a matching Qiskit with "
               "pip install 'qiskit~=%d.%d.0', or rebuild the plugin for the installed Qiskit: set the "
               "qiskit pins in plugins/qiskit/pyproject.toml to its series and run "
               "pip install --force-reinstall ./plugins/qiskit",
               QISKIT_VERSION, installed, QISKIT_VERSION_MAJOR, QISKIT_VERSION_MINOR, QISKIT_VERSION_MAJOR,
               QISKIT_VERSION_MINOR);
}

}  // namespace tarvex::qiskit_plugin
