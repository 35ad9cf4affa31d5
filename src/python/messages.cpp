// Every text of _tarvex's own that it shows a user, and the small helpers that raise them.
#include "python/messages.hpp"

#include <string>

namespace tarvex::py {

void report_dropped_elsewhere() {
  PyErr_Format(PyExc_RuntimeError, "%s%s", text::kTypeName, text::kUnsendableDropped);
  PyErr_WriteUnraisable(nullptr);
}

void raise_dd_needs_schedule(PyObject* error_type, std::size_t n_scheduled, std::size_t n_nodes) {
  PyErr_Format(error_type,
               "QuantumDAG.apply_dd_pass() needs a schedule for every gate: %zu of %zu gates are "
               "scheduled; call build_schedule() first",
               n_scheduled, n_nodes);
}

std::string unsendable_fault_text(std::uint64_t caller, std::uint64_t owner) {
  return "assertion `left == right` failed: " + std::string(text::kTypeName) + text::kUnsendableSent +
         "\n  left: " + std::to_string(caller) + "\n right: " + std::to_string(owner);
}

}  // namespace tarvex::py
