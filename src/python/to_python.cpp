// Result conversion: the graph's native results as the Python objects the methods return.
#include "python/to_python.hpp"

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace tarvex::py {

using namespace kit;

namespace {

/// Float objects for the durations of one export: a node's duration very often repeats an earlier
/// one (gates of one kind share it), and floats are immutable, so equal bit patterns share one.
class DurationCache {
 public:
  PyObject* get(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Entry& e = entries_[(bits * 0x9e3779b97f4a7c15ULL) >> (64 - kLogSize)];
    if (!e.object || e.bits != bits) {
      e.object = PyRef::steal(made(PyFloat_FromDouble(value)));
      e.bits = bits;
    }
    return Py_NewRef(e.object.get());
  }

 private:
  static constexpr int kLogSize = 8;
  struct Entry {
    std::uint64_t bits = 0;
    PyRef object;
  };
  Entry entries_[1 << kLogSize];
};

}  // namespace

PyObject* to_python(const std::vector<IdleWindow>& windows) {
  PyRef list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(windows.size()))));
  for (std::size_t i = 0; i < windows.size(); ++i) {
    PyRef qubit = PyRef::steal(made(PyLong_FromUnsignedLongLong(windows[i].qubit)));
    PyRef start = PyRef::steal(made(PyFloat_FromDouble(windows[i].start)));
    PyRef end = PyRef::steal(made(PyFloat_FromDouble(windows[i].end)));
    PyObject* t = made(PyTuple_New(3));
    PyTuple_SET_ITEM(t, 0, qubit.release());
    PyTuple_SET_ITEM(t, 1, start.release());
    PyTuple_SET_ITEM(t, 2, end.release());
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), t);
  }
  return list.release();
}

PyObject* export_nodes(const QuantumDAG& dag) {
  const std::size_t n = dag.node_count();
  PyRef list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(n))));
  std::vector<PyRef> name_strs(dag.names().size());
  DurationCache durations;
  for (NodeId id = 0; id < n; ++id) {
    PyRef& name = name_strs[dag.name_id(id)];
    if (!name) {
      const std::string& s = dag.name(id);
      name = PyRef::steal(made(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()))));
    }
    const std::span<const Qubit> qubits = dag.qubits(id);
    PyRef qubit_list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(qubits.size()))));
    for (std::size_t k = 0; k < qubits.size(); ++k)
      PyList_SET_ITEM(qubit_list.get(), static_cast<Py_ssize_t>(k),
                      made(PyLong_FromUnsignedLongLong(qubits[k])));
    PyRef duration = PyRef::steal(durations.get(dag.duration(id)));
    PyObject* t = made(PyTuple_New(3));
    PyTuple_SET_ITEM(t, 0, Py_NewRef(name.get()));
    PyTuple_SET_ITEM(t, 1, qubit_list.release());
    PyTuple_SET_ITEM(t, 2, duration.release());
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(id), t);
  }
  return list.release();
}

}  // namespace tarvex::py
