// The QuantumDAG Python class: type object, construction, borrowing and the seven methods.
#include "python/quantum_dag_type.hpp"

#include <climits>
#include <cstring>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "graph/quantum_dag.hpp"
#include "python/arguments.hpp"
#include "python/borrow.hpp"
#include "python/messages.hpp"
#include "python/once_cell.hpp"
#include "python/panic.hpp"
#include "python/py_ref.hpp"
#include "python/thread_number.hpp"

namespace tarvex::py {

namespace {

/// One instance: the owned graph, its borrow state and the thread it belongs to. It holds no
/// Python references, so it takes no part in cyclic garbage collection.
struct PyQuantumDAG {
  PyObject_HEAD QuantumDAG dag;
  BorrowFlag borrow_flag;
  std::uint64_t owner_thread;
};

OnceCell type_cell;

enum class Access { kShared, kExclusive };

// ---- result conversion --------------------------------------------------------------------------

/// A result object the interpreter failed to create: MemoryError passes through as it is, any
/// other failure is printed and becomes a fault.
[[noreturn]] void result_failed() {
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw PythonErrorSet{};
  if (PyErr_Occurred() != nullptr) PyErr_Print();
  raise_fault(text::kPythonApiFailed);
}

PyObject* made(PyObject* o) {
  if (o == nullptr) result_failed();
  return o;
}

/// A node id as an int. Ids never reach 2**63; of the interpreter's conversions, the one from a
/// signed long long has the shortest path for ids of up to 30 bits (one int digit), by far the
/// common case.
PyObject* node_id_to_python(NodeId id) {
  if (id <= static_cast<NodeId>(LLONG_MAX)) return PyLong_FromLongLong(static_cast<long long>(id));
  return PyLong_FromUnsignedLongLong(id);
}

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

PyObject* to_python(const std::optional<NodeSchedule>& s) {
  if (!s) Py_RETURN_NONE;
  PyRef start = PyRef::steal(made(PyFloat_FromDouble(s->start_ns)));
  PyRef end = PyRef::steal(made(PyFloat_FromDouble(s->end_ns)));
  PyObject* pair = made(PyTuple_New(2));
  PyTuple_SET_ITEM(pair, 0, start.release());
  PyTuple_SET_ITEM(pair, 1, end.release());
  return pair;
}

PyObject* to_python(const std::vector<IdleWindow>& windows) {
  PyRef list = PyRef::steal(made(PyList_New(static_cast<Py_ssize_t>(windows.size()))));
  for (std::size_t i = 0; i < windows.size(); ++i) {
    PyRef qubit = PyRef::steal(made(PyLong_FromUnsignedLongLong(windows[i].qubit)));
    PyRef start = PyRef::steal(made(PyFloat_FromDouble(windows[i].start_ns)));
    PyRef end = PyRef::steal(made(PyFloat_FromDouble(windows[i].end_ns)));
    PyObject* t = made(PyTuple_New(3));
    PyTuple_SET_ITEM(t, 0, qubit.release());
    PyTuple_SET_ITEM(t, 1, start.release());
    PyTuple_SET_ITEM(t, 2, end.release());
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), t);
  }
  return list.release();
}

/// The export: (name, qubits, duration) per node in id order. Each distinct name becomes one str
/// shared by all its tuples (strs are immutable, so sharing is invisible).
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
    PyRef duration = PyRef::steal(durations.get(dag.duration_ns(id)));
    PyObject* t = made(PyTuple_New(3));
    PyTuple_SET_ITEM(t, 0, Py_NewRef(name.get()));
    PyTuple_SET_ITEM(t, 1, qubit_list.release());
    PyTuple_SET_ITEM(t, 2, duration.release());
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(id), t);
  }
  return list.release();
}

// ---- instances ----------------------------------------------------------------------------------

PyTypeObject* type_or_fault() {
  PyObject* type = quantum_dag_type();
  if (type == nullptr) {
    PyErr_WriteUnraisable(nullptr);
    raise_fault(text::kClassInitFailed);
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

/// A new instance of `type` that owns `dag`, owned by the calling thread.
PyObject* wrap_graph(PyTypeObject* type, QuantumDAG&& dag) {
  allocfunc alloc = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
  PyObject* self = alloc(type, 0);
  if (self == nullptr) {
    if (PyErr_Occurred() == nullptr) PyErr_SetString(PyExc_SystemError, text::kNoExceptionSet);
    return nullptr;  // `dag` is destroyed by its owner
  }
  auto* obj = reinterpret_cast<PyQuantumDAG*>(self);
  new (&obj->dag) QuantumDAG(std::move(dag));
  new (&obj->borrow_flag) BorrowFlag(0);
  obj->owner_thread = current_thread_number();
  return self;
}

/// Checks the receiver and the calling thread, takes the borrow and runs `body` on the graph; the
/// borrow is given back on every exit.
template <Access kAccess, class Body>
PyObject* with_graph(PyObject* self, Body&& body) {
  PyTypeObject* type = reinterpret_cast<PyTypeObject*>(type_cell.get());
  if (Py_TYPE(self) != type && !PyObject_TypeCheck(self, type_or_fault())) {
    raise_cast_error(Py_TYPE(self), "QuantumDAG");
    return nullptr;
  }
  auto* obj = reinterpret_cast<PyQuantumDAG*>(self);
  const std::uint64_t caller = current_thread_number();
  if (caller != obj->owner_thread) fault_unsendable(caller, obj->owner_thread);
  if constexpr (kAccess == Access::kExclusive) {
    if (!try_borrow_exclusive(obj->borrow_flag)) {
      PyErr_SetString(PyExc_RuntimeError, text::kAlreadyBorrowed);
      return nullptr;
    }
  } else {
    if (!try_borrow_shared(obj->borrow_flag)) {
      PyErr_SetString(PyExc_RuntimeError, text::kAlreadyMutablyBorrowed);
      return nullptr;
    }
  }
  BorrowGuard guard(obj->borrow_flag, kAccess == Access::kExclusive);
  return body(obj->dag);
}

/// The caller's exception for a failed conversion of parameter `name`; ends the call.
PyObject* conversion_failed(const char* name) {
  argument_extraction_error(name);
  return nullptr;
}

// ---- methods ------------------------------------------------------------------------------------

constexpr const char* kAddGateParams[] = {"name", "qubits", "duration_ns"};
constexpr const char* kNodeIdParams[] = {"node_id"};
constexpr const char* kMinGapParams[] = {"min_gap_ns"};
constexpr FunctionDescription kConstructor{"QuantumDAG.__new__()", {}};
constexpr FunctionDescription kAddGate{"QuantumDAG.add_gate()", kAddGateParams};
constexpr FunctionDescription kGetNodeSchedule{"QuantumDAG.get_node_schedule()", kNodeIdParams};
constexpr FunctionDescription kFindIdleWindows{"QuantumDAG.find_idle_windows()", kMinGapParams};

PyObject* node_count(PyObject* self, PyObject*) noexcept {
  return trap(
      [&] {
        return with_graph<Access::kShared>(
            self, [](const QuantumDAG& dag) { return made(PyLong_FromUnsignedLongLong(dag.node_count())); });
      },
      static_cast<PyObject*>(nullptr));
}

PyObject* add_gate(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return trap(
      [&]() -> PyObject* {
        PyObject* slots[3];
        if (!extract_arguments_fastcall(kAddGate, args, PyVectorcall_NARGS(nargsf), kwnames, slots))
          return nullptr;
        return with_graph<Access::kExclusive>(self, [&](QuantumDAG& dag) -> PyObject* {
          std::string_view name;
          QubitBuffer qubits;
          double duration_ns;
          if (!extract_str(slots[0], name)) return conversion_failed("name");
          if (!extract_u64_list(slots[1], qubits)) return conversion_failed("qubits");
          if (!extract_f64(slots[2], duration_ns)) return conversion_failed("duration_ns");
          // The id object comes first: failing to make it after the insertion would report
          // MemoryError for a call that changed the graph.
          PyRef id = PyRef::steal(made(node_id_to_python(dag.node_count())));
          dag.add_gate(name, qubits.view(), duration_ns);
          return id.release();
        });
      },
      static_cast<PyObject*>(nullptr));
}

PyObject* build_schedule(PyObject* self, PyObject*) noexcept {
  return trap(
      [&] {
        return with_graph<Access::kExclusive>(self, [](QuantumDAG& dag) {
          dag.build_schedule();
          return Py_NewRef(Py_None);
        });
      },
      static_cast<PyObject*>(nullptr));
}

PyObject* get_node_schedule(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) noexcept {
  return trap(
      [&]() -> PyObject* {
        PyObject* slots[1];
        if (!extract_arguments_fastcall(kGetNodeSchedule, args, PyVectorcall_NARGS(nargsf), kwnames, slots))
          return nullptr;
        return with_graph<Access::kShared>(self, [&](const QuantumDAG& dag) -> PyObject* {
          std::uint64_t node_id;
          if (!extract_u64(slots[0], node_id)) return conversion_failed("node_id");
          return to_python(dag.node_schedule(node_id));
        });
      },
      static_cast<PyObject*>(nullptr));
}

PyObject* find_idle_windows(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) noexcept {
  return trap(
      [&]() -> PyObject* {
        PyObject* slots[1];
        if (!extract_arguments_fastcall(kFindIdleWindows, args, PyVectorcall_NARGS(nargsf), kwnames, slots))
          return nullptr;
        return with_graph<Access::kShared>(self, [&](const QuantumDAG& dag) -> PyObject* {
          double min_gap_ns;
          if (!extract_f64(slots[0], min_gap_ns)) return conversion_failed("min_gap_ns");
          return to_python(dag.find_idle_windows(min_gap_ns));
        });
      },
      static_cast<PyObject*>(nullptr));
}

PyObject* apply_dd_pass(PyObject* self, PyObject*) noexcept {
  return trap(
      [&] {
        return with_graph<Access::kShared>(self, [](const QuantumDAG& dag) -> PyObject* {
          // A pass over a schedule that misses gates would silently drop them from the result.
          if (dag.node_count() != 0 && dag.scheduled_count() != dag.node_count()) {
            raise_dd_needs_schedule(tarvex_error_type(), dag.scheduled_count(), dag.node_count());
            return nullptr;
          }
          PyTypeObject* type = type_or_fault();
          return wrap_graph(type, dag.apply_dd_pass());
        });
      },
      static_cast<PyObject*>(nullptr));
}

PyObject* get_all_nodes(PyObject* self, PyObject*) noexcept {
  return trap(
      [&] {
        return with_graph<Access::kShared>(self, [](const QuantumDAG& dag) { return export_nodes(dag); });
      },
      static_cast<PyObject*>(nullptr));
}

// ---- type object --------------------------------------------------------------------------------

PyObject* quantum_dag_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return trap(
      [&]() -> PyObject* {
        PyObject* no_slots[1];
        if (!extract_arguments_tuple_dict(kConstructor, args, kwargs, no_slots)) return nullptr;
        return wrap_graph(type, QuantumDAG());
      },
      static_cast<PyObject*>(nullptr));
}

void quantum_dag_dealloc(PyObject* self) noexcept {
  PyObject* pending = PyErr_GetRaisedException();
  trap_unraisable([&] {
    auto* obj = reinterpret_cast<PyQuantumDAG*>(self);
    if (obj->owner_thread == current_thread_number()) {
      obj->dag.~QuantumDAG();
    } else {
      // The graph may be in use on its owner thread's stack: abandon it rather than free it here.
      report_dropped_elsewhere();
    }
  });
  PyErr_SetRaisedException(pending);
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

#define TARVEX_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

PyMethodDef quantum_dag_methods[] = {
    {"node_count", node_count, METH_NOARGS,
     "node_count($self)\n--\n\nReturns the total number of nodes in the DAG."},
    {"add_gate", TARVEX_FASTCALL(add_gate), METH_FASTCALL | METH_KEYWORDS,
     "add_gate($self, name, qubits, duration_ns)\n--\n\nAdds a gate node to the graph and connects dependent "
     "edges."},
    {"build_schedule", build_schedule, METH_NOARGS,
     "build_schedule($self)\n--\n\nComputes the schedule (start and end times) for all nodes."},
    {"get_node_schedule", TARVEX_FASTCALL(get_node_schedule), METH_FASTCALL | METH_KEYWORDS,
     "get_node_schedule($self, node_id)\n--\n\nRetrieves the schedule for a specific node as (start_time, "
     "end_time)."},
    {"find_idle_windows", TARVEX_FASTCALL(find_idle_windows), METH_FASTCALL | METH_KEYWORDS,
     "find_idle_windows($self, min_gap_ns)\n--\n\nFinds idle windows on qubits where the gap between "
     "operations is >= min_gap_ns."},
    {"apply_dd_pass", apply_dd_pass, METH_NOARGS,
     "apply_dd_pass($self)\n--\n\nDynamically inserts Dynamical Decoupling (DD) sequences on idle qubits."},
    {"get_all_nodes", get_all_nodes, METH_NOARGS,
     "get_all_nodes($self)\n--\n\nExports all operations in topological order a list of tuples (name, "
     "qubits, duration)."},
    {nullptr, nullptr, 0, nullptr},
};

#undef TARVEX_FASTCALL

PyType_Slot quantum_dag_slots[] = {
    {Py_tp_doc, const_cast<char*>(text::kClassDoc)},
    {Py_tp_new, reinterpret_cast<void*>(quantum_dag_new)},
    {Py_tp_methods, quantum_dag_methods},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(quantum_dag_dealloc)},
    {0, nullptr},
};

PyType_Spec quantum_dag_spec = {
    .name = "builtins.QuantumDAG",
    .basicsize = sizeof(PyQuantumDAG),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = quantum_dag_slots,
};

}  // namespace

PyObject* quantum_dag_type() {
  return type_cell.get_or_init([] { return PyType_FromSpec(&quantum_dag_spec); });
}

}  // namespace tarvex::py
