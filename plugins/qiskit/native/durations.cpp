// DurationTable: building the table from the entries the Python side collects.
#include "durations.hpp"

#include <cmath>
#include <memory>

#include "boundary_kit/arguments.hpp"
#include "boundary_kit/fault.hpp"
#include "boundary_kit/messages.hpp"
#include "boundary_kit/py_ref.hpp"
#include "boundary_kit/results.hpp"
#include "messages.hpp"

namespace tarvex::qiskit_plugin {

namespace {

constexpr double kMaxWhole = 9007199254740992.0;  // 2**53: every whole number up to it is exact

void free_table(PyObject* capsule) {
  delete static_cast<DurationTable*>(PyCapsule_GetPointer(capsule, text::kDurationTableName));
}

}  // namespace

int DurationTable::slot(std::string_view name) const {
  auto it = by_name_.find(std::string(name));
  return it == by_name_.end() ? kNoSlot : it->second;
}

void DurationTable::add(std::string_view name, const std::vector<std::uint32_t>* qubits, double value) {
  whole_ = whole_ && value <= kMaxWhole && value == std::floor(value);
  auto [it, added] = by_name_.try_emplace(std::string(name), static_cast<int>(slots_.size()));
  if (added) slots_.emplace_back();
  Slot& s = slots_[it->second];
  if (qubits == nullptr) {
    s.any = value;
  } else if (qubits->size() == 1) {
    const std::uint32_t q = (*qubits)[0];
    if (q >= s.one.size()) s.one.resize(std::size_t{q} + 1, kMissing);
    s.one[q] = value;
  } else if (qubits->size() == 2) {
    s.two[pair_key((*qubits)[0], (*qubits)[1])] = value;
  } else {
    s.more[*qubits] = value;
  }
}

DurationTable DurationTable::parse(PyObject* entries) {
  if (!PyList_Check(entries) && !PyTuple_Check(entries)) {
    kit::raise_cast_error(Py_TYPE(entries), "list");
    throw kit::PythonErrorSet{};
  }
  DurationTable table;
  std::vector<std::uint32_t> qubits;
  // The size is read again for every item: a conversion may run Python code that shrinks a list.
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(entries); ++i) {
    kit::PyRef entry = kit::PyRef::borrow(PySequence_Fast_GET_ITEM(entries, i));
    if (!PyTuple_Check(entry.get()) || PyTuple_GET_SIZE(entry.get()) != 3) {
      raise_not_an_entry(static_cast<std::size_t>(i));
      throw kit::PythonErrorSet{};
    }
    const std::string_view name = kit::extract_str(PyTuple_GET_ITEM(entry.get(), 0));
    PyObject* qargs = PyTuple_GET_ITEM(entry.get(), 1);
    if (qargs != Py_None) {
      const kit::U64List list = kit::extract_u64_list(qargs);
      qubits.clear();
      for (std::uint64_t q : list.view()) {
        if (q > UINT32_MAX) {
          raise_beyond_qiskit("entries", q);
          throw kit::PythonErrorSet{};
        }
        qubits.push_back(static_cast<std::uint32_t>(q));
      }
    }
    const double value = kit::extract_f64(PyTuple_GET_ITEM(entry.get(), 2));
    if (!(value >= 0.0) || !std::isfinite(value)) {
      raise_bad_entry_duration(name, value);
      throw kit::PythonErrorSet{};
    }
    table.add(name, qargs == Py_None ? nullptr : &qubits, value);
  }
  return table;
}

PyObject* table_capsule(DurationTable table) {
  auto owned = std::make_unique<DurationTable>(std::move(table));
  PyObject* capsule = kit::made(PyCapsule_New(owned.get(), text::kDurationTableName, free_table));
  (void)owned.release();  // the capsule owns it now
  return capsule;
}

const DurationTable* extract_duration_table(PyObject* obj) {
  if (!PyCapsule_IsValid(obj, text::kDurationTableName)) {
    kit::raise_cast_error(Py_TYPE(obj), "DurationTable");
    throw kit::PythonErrorSet{};
  }
  return static_cast<const DurationTable*>(PyCapsule_GetPointer(obj, text::kDurationTableName));
}

}  // namespace tarvex::qiskit_plugin
