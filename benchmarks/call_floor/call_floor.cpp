// The call floor: add_gate's argument binding and conversion, with the module's own code, and nothing else.
//
// `_call_floor.add_gate(name, qubits, duration_ns)` runs exactly the steps that QuantumDAG.add_gate
// runs around the graph: the same entry (fault trap, error value, binding with kAddGate) and the
// same convert_add_gate, with the same error path. It then drops the values and returns None. What
// add_gate costs above this (receiver and thread check, borrow, insertion, the id's int) is the
// price of the graph itself. `add_gate_returning_id` also returns a new int, as add_gate does, to
// show the id's own share.
#include <Python.h>

#include <cstdint>
#include <cstdlib>

#include "boundary_kit/entry.hpp"
#include "boundary_kit/fault.hpp"
#include "boundary_kit/py_ref.hpp"
#include "python/add_gate_arguments.hpp"

namespace {

using namespace tarvex::kit;
using tarvex::py::convert_add_gate;
using tarvex::py::kAddGate;

// Keeps the converted values observable, so that no optimiser can drop the conversions.
template <class T>
void keep(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

PyObject* add_gate(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return entry<kAddGate>(args, nargsf, kwnames, [](PyObject* const* slots) {
    keep(convert_add_gate(slots));
    Py_RETURN_NONE;
  });
}

// The same, returning a new int made as add_gate makes the node id: shows what the id alone costs.
std::uint64_t next_id = 0;

PyObject* add_gate_returning_id(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                                PyObject* kwnames) noexcept {
  return entry<kAddGate>(args, nargsf, kwnames, [](PyObject* const* slots) {
    keep(convert_add_gate(slots));
    return PyLong_FromLongLong(static_cast<long long>(next_id++));
  });
}

// ---- floors of the other operations ---------------------------------------------------------------

PyObject* new_float(double v) {
  PyObject* f = PyFloat_FromDouble(v);
  if (f == nullptr) throw PythonErrorSet{};
  return f;
}

Py_ssize_t size_argument(PyObject* const* args, Py_ssize_t nargs, Py_ssize_t i) {
  if (nargs <= i) {
    PyErr_SetString(PyExc_TypeError, "missing argument");
    throw PythonErrorSet{};
  }
  Py_ssize_t v = PyLong_AsSsize_t(args[i]);
  if (v < 0) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "negative size");
    throw PythonErrorSet{};
  }
  return v;
}

// make_windows(count): the objects find_idle_windows returns for `count` windows, a list of
// (int, float, float) with small qubit ints and two new floats each, made the same way, from
// values already at hand. What is left of find_idle_windows' time above it is the walk.
PyObject* make_windows(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry([&]() -> PyObject* {
    const Py_ssize_t count = size_argument(args, nargs, 0);
    PyRef list = PyRef::steal(PyList_New(count));
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyRef qubit = PyRef::steal(PyLong_FromLongLong(i % 100));
      PyRef start = PyRef::steal(new_float(static_cast<double>(i)));
      PyRef end = PyRef::steal(new_float(static_cast<double>(i) + 150.0));
      PyObject* t = PyTuple_New(3);
      if (!qubit || t == nullptr) throw PythonErrorSet{};
      PyTuple_SET_ITEM(t, 0, qubit.release());
      PyTuple_SET_ITEM(t, 1, start.release());
      PyTuple_SET_ITEM(t, 2, end.release());
      PyList_SET_ITEM(list.get(), i, t);
    }
    return list.release();
  });
}

// make_export(count, two_qubit_count): the objects get_all_nodes returns for `count` gates, of
// which `two_qubit_count` (spread evenly) have two qubits: a list of (str, list of int, float) with
// one shared str and one shared float, as the export shares repeated names and durations, and a new
// tuple and a new qubit list per gate. What is left of get_all_nodes' time above it is the walk.
PyObject* make_export(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry([&]() -> PyObject* {
    const Py_ssize_t count = size_argument(args, nargs, 0);
    const Py_ssize_t two = size_argument(args, nargs, 1);
    PyRef name = PyRef::steal(PyUnicode_FromString("cx"));
    PyRef duration = PyRef::steal(new_float(40.0));
    PyRef list = PyRef::steal(PyList_New(count));
    if (!name || !list) return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
      const Py_ssize_t k = (i + 1) * two / count != i * two / count ? 2 : 1;
      PyRef qubits = PyRef::steal(PyList_New(k));
      if (!qubits) return nullptr;
      for (Py_ssize_t j = 0; j < k; ++j) PyList_SET_ITEM(qubits.get(), j, PyLong_FromLongLong(j));
      PyObject* t = PyTuple_New(3);
      if (t == nullptr) return nullptr;
      PyTuple_SET_ITEM(t, 0, Py_NewRef(name.get()));
      PyTuple_SET_ITEM(t, 1, qubits.release());
      PyTuple_SET_ITEM(t, 2, Py_NewRef(duration.get()));
      PyList_SET_ITEM(list.get(), i, t);
    }
    return list.release();
  });
}

// touch_fresh(nbytes): allocates nbytes, writes a double every 8 bytes (as build_schedule writes
// one start time per gate) and frees them. Shows what memory the process does not hold yet costs.
PyObject* touch_fresh(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return entry([&]() -> PyObject* {
    const Py_ssize_t nbytes = size_argument(args, nargs, 0);
    const std::size_t count = static_cast<std::size_t>(nbytes) / sizeof(double);
    auto* p = static_cast<double*>(std::malloc(count * sizeof(double) + 1));
    if (p == nullptr) return PyErr_NoMemory();
    for (std::size_t i = 0; i < count; ++i) p[i] = static_cast<double>(i);
    keep(p);
    std::free(p);
    Py_RETURN_NONE;
  });
}

PyMethodDef call_floor_methods[] = {
    {"add_gate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(add_gate)),
     METH_FASTCALL | METH_KEYWORDS,
     "add_gate(name, qubits, duration_ns)\n--\n\nConverts add_gate's arguments and drops them."},
    {"add_gate_returning_id",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(add_gate_returning_id)),
     METH_FASTCALL | METH_KEYWORDS,
     "add_gate_returning_id(name, qubits, duration_ns)\n--\n\nConverts add_gate's arguments, drops them and "
     "returns a new int."},
    {"make_windows", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(make_windows)), METH_FASTCALL,
     "make_windows(count)\n--\n\nA list of count new (int, float, float) tuples."},
    {"make_export", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(make_export)), METH_FASTCALL,
     "make_export(count, two_qubit_count)\n--\n\nA list of count new (str, list of int, float) tuples."},
    {"touch_fresh", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(touch_fresh)), METH_FASTCALL,
     "touch_fresh(nbytes)\n--\n\nWrites nbytes of newly allocated memory and frees it."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef call_floor_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_call_floor",
    .m_doc = "Benchmark peer: the cost of calling add_gate without the graph, and of the other results.",
    .m_size = 0,
    .m_methods = call_floor_methods,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__call_floor() { return PyModule_Create(&call_floor_module); }
