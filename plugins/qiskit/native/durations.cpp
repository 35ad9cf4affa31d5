// DurationTable: building the table from the entries the Python side collects.
#include "durations.hpp"

#include <memory>

#include "ref.hpp"

namespace tarvex::qiskit_plugin {

int DurationTable::slot(std::string_view name) const {
  auto it = by_name_.find(std::string(name));
  return it == by_name_.end() ? kNoSlot : it->second;
}

bool DurationTable::parse(PyObject* entries) {
  Ref seq = Ref::steal(PySequence_Fast(entries, "durations must be a sequence of (name, qubits, duration)"));
  if (!seq) return false;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* entry = PySequence_Fast_GET_ITEM(seq.get(), i);
    PyObject *name_obj, *qargs, *value_obj;
    if (!PyArg_ParseTuple(entry, "UOO:durations entry", &name_obj, &qargs, &value_obj)) return false;
    Py_ssize_t len;
    const char* name = PyUnicode_AsUTF8AndSize(name_obj, &len);
    if (name == nullptr) return false;
    const double value = PyFloat_AsDouble(value_obj);
    if (value == -1.0 && PyErr_Occurred()) return false;
    auto [it, added] = by_name_.try_emplace(std::string(name, len), static_cast<int>(slots_.size()));
    if (added) slots_.emplace_back();
    Slot& s = slots_[it->second];
    if (qargs == Py_None) {
      s.any = value;
      continue;
    }
    Ref qs = Ref::steal(PySequence_Fast(qargs, "durations entry: qubits must be a sequence or None"));
    if (!qs) return false;
    std::vector<std::uint32_t> qubits;
    for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(qs.get()); ++k) {
      const unsigned long q = PyLong_AsUnsignedLong(PySequence_Fast_GET_ITEM(qs.get(), k));
      if (PyErr_Occurred()) return false;
      if (q > UINT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "durations entry: qubit index too large");
        return false;
      }
      qubits.push_back(static_cast<std::uint32_t>(q));
    }
    if (qubits.size() == 1) {
      if (qubits[0] >= s.one.size()) s.one.resize(qubits[0] + 1, kMissing);
      s.one[qubits[0]] = value;
    } else if (qubits.size() == 2) {
      s.two[pair_key(qubits[0], qubits[1])] = value;
    } else {
      s.more[qubits] = value;
    }
  }
  return true;
}

namespace {

constexpr const char* kCapsuleName = "tarvex_qiskit.DurationTable";

void free_table(PyObject* capsule) {
  delete static_cast<DurationTable*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

}  // namespace

PyObject* duration_table(PyObject*, PyObject* entries) {
  return guarded([&]() -> PyObject* {
    auto table = std::make_unique<DurationTable>();
    if (!table->parse(entries)) return nullptr;
    PyObject* capsule = PyCapsule_New(table.get(), kCapsuleName, free_table);
    if (capsule != nullptr) table.release();
    return capsule;
  });
}

const DurationTable* table_from(PyObject* obj, DurationTable& scratch) {
  if (PyCapsule_CheckExact(obj))
    return static_cast<const DurationTable*>(PyCapsule_GetPointer(obj, kCapsuleName));
  return scratch.parse(obj) ? &scratch : nullptr;
}

}  // namespace tarvex::qiskit_plugin
