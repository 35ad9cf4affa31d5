// The QuantumDAG Python class: type object, construction, borrowing and the seven methods.
#include "python/quantum_dag_type.hpp"

#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "boundary_kit/arguments.hpp"
#include "boundary_kit/entry.hpp"
#include "boundary_kit/fault.hpp"
#include "boundary_kit/messages.hpp"
#include "boundary_kit/once_cell.hpp"
#include "boundary_kit/thread_number.hpp"
#include "graph/quantum_dag.hpp"
#include "python/add_gate_arguments.hpp"
#include "python/borrow.hpp"
#include "python/messages.hpp"
#include "python/tarvex_error.hpp"
#include "python/to_python.hpp"

namespace tarvex::py {

using namespace kit;

namespace {

/// One instance: the owned graph, its borrow state and the thread it belongs to. It holds no
/// Python references, so it takes no part in cyclic garbage collection.
struct PyQuantumDAG {
  PyObject_HEAD QuantumDAG dag;
  BorrowFlag borrow_flag;
  std::uint64_t owner_thread;
};

OnceCell type_cell;

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
  if (self == nullptr) python_call_failed();  // `dag` is destroyed by its owner
  auto* obj = reinterpret_cast<PyQuantumDAG*>(self);
  new (&obj->dag) QuantumDAG(std::move(dag));
  new (&obj->borrow_flag) BorrowFlag(0);
  obj->owner_thread = current_thread_number();
  return self;
}

// ---- the method entry ---------------------------------------------------------------------------

enum class Access { kShared, kExclusive };

/// Checks the receiver and the calling thread, takes the borrow and runs `body` on the graph; the
/// borrow is given back on every exit.
template <Access kAccess, class Body>
PyObject* with_graph(PyObject* self, Body&& body) {
  PyTypeObject* type = reinterpret_cast<PyTypeObject*>(type_cell.get());
  if (Py_TYPE(self) != type && !PyObject_TypeCheck(self, type_or_fault())) {
    raise_cast_error(Py_TYPE(self), "QuantumDAG");
    throw PythonErrorSet{};
  }
  auto* obj = reinterpret_cast<PyQuantumDAG*>(self);
  const std::uint64_t caller = current_thread_number();
  if (caller != obj->owner_thread) [[unlikely]]
    raise_fault(unsendable_fault_text(caller, obj->owner_thread));
  if constexpr (kAccess == Access::kExclusive) {
    if (!try_borrow_exclusive(obj->borrow_flag)) {
      PyErr_SetString(PyExc_RuntimeError, text::kAlreadyBorrowed);
      throw PythonErrorSet{};
    }
  } else {
    if (!try_borrow_shared(obj->borrow_flag)) {
      PyErr_SetString(PyExc_RuntimeError, text::kAlreadyMutablyBorrowed);
      throw PythonErrorSet{};
    }
  }
  BorrowGuard guard(obj->borrow_flag, kAccess == Access::kExclusive);
  // A shared borrow hands out the graph read-only.
  std::conditional_t<kAccess == Access::kExclusive, QuantumDAG, const QuantumDAG>& dag = obj->dag;
  return body(dag);
}

/// The entry of a method without parameters (METH_NOARGS): the fault trap and error value, the
/// receiver and thread checks and the borrow kAccess asks for, then `body(graph)`.
template <Access kAccess, class Body>
PyObject* method(PyObject* self, Body&& body) noexcept {
  return entry([&] { return with_graph<kAccess>(self, body); });
}

/// The entry of a method with the parameters of `kDesc` (METH_FASTCALL | METH_KEYWORDS): as above,
/// with the arguments bound first, then `body(graph, slots)`. Converting the arguments is the
/// body's first step, so that Python code it runs meets the borrow.
template <Access kAccess, const FunctionDescription& kDesc, class Body>
PyObject* method(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                 Body&& body) noexcept {
  return entry<kDesc>(args, nargsf, kwnames, [&](PyObject* const* slots) {
    return with_graph<kAccess>(self, [&](auto& dag) { return body(dag, slots); });
  });
}

// ---- methods ------------------------------------------------------------------------------------

constexpr const char* kNodeIdParameters[] = {"node_id"};
constexpr const char* kMinGapParameters[] = {"min_gap_ns"};
constexpr FunctionDescription kConstructor{"QuantumDAG.__new__()", {}};
constexpr FunctionDescription kGetNodeSchedule{"QuantumDAG.get_node_schedule()", kNodeIdParameters};
constexpr FunctionDescription kFindIdleWindows{"QuantumDAG.find_idle_windows()", kMinGapParameters};

PyObject* node_count(PyObject* self, PyObject*) noexcept {
  return method<Access::kShared>(self,
                                 [](const QuantumDAG& dag) { return count_to_python(dag.node_count()); });
}

PyObject* add_gate(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  // The id object is made before the insertion: failing to make it afterwards would report
  // MemoryError for a call that changed the graph.
  return method<Access::kExclusive, kAddGate>(
      self, args, nargsf, kwnames, [](QuantumDAG& dag, PyObject* const* slots) {
        const GateArguments gate = convert_add_gate(slots);
        PyRef id = PyRef::steal(node_id_to_python(dag.node_count()));
        (void)dag.add_gate(gate.name, gate.qubits.view(), gate.duration_ns);
        return id.release();
      });
}

PyObject* build_schedule(PyObject* self, PyObject*) noexcept {
  return method<Access::kExclusive>(self, [](QuantumDAG& dag) {
    dag.build_schedule();
    return Py_NewRef(Py_None);
  });
}

PyObject* get_node_schedule(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) noexcept {
  return method<Access::kShared, kGetNodeSchedule>(
      self, args, nargsf, kwnames, [](const QuantumDAG& dag, PyObject* const* slots) {
        const NodeId id = extract_argument("node_id", extract_u64, slots[0]);
        return to_python(dag.node_schedule(id));
      });
}

PyObject* find_idle_windows(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) noexcept {
  return method<Access::kShared, kFindIdleWindows>(
      self, args, nargsf, kwnames, [](const QuantumDAG& dag, PyObject* const* slots) {
        const double min_gap_ns = extract_argument("min_gap_ns", extract_f64, slots[0]);
        return to_python(dag.find_idle_windows(min_gap_ns));
      });
}

PyObject* apply_dd_pass(PyObject* self, PyObject*) noexcept {
  return method<Access::kShared>(self, [](const QuantumDAG& dag) {
    // A pass over a schedule that misses gates would silently drop them from the result.
    if (dag.node_count() != 0 && dag.scheduled_count() != dag.node_count()) {
      raise_dd_needs_schedule(tarvex_error_type(), dag.scheduled_count(), dag.node_count());
      throw PythonErrorSet{};
    }
    PyTypeObject* type = type_or_fault();
    return wrap_graph(type, dag.apply_dd_pass());
  });
}

PyObject* get_all_nodes(PyObject* self, PyObject*) noexcept {
  return method<Access::kShared>(self, [](const QuantumDAG& dag) { return export_nodes(dag); });
}

// ---- type object --------------------------------------------------------------------------------

PyObject* quantum_dag_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return entry([&] {
    PyObject* no_slots[1];
    extract_arguments_tuple_dict(kConstructor, args, kwargs, no_slots);
    return wrap_graph(type, QuantumDAG());
  });
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
    {"node_count", node_count, METH_NOARGS, text::kNodeCountDoc},
    {"add_gate", TARVEX_FASTCALL(add_gate), METH_FASTCALL | METH_KEYWORDS, text::kAddGateDoc},
    {"build_schedule", build_schedule, METH_NOARGS, text::kBuildScheduleDoc},
    {"get_node_schedule", TARVEX_FASTCALL(get_node_schedule), METH_FASTCALL | METH_KEYWORDS,
     text::kGetNodeScheduleDoc},
    {"find_idle_windows", TARVEX_FASTCALL(find_idle_windows), METH_FASTCALL | METH_KEYWORDS,
     text::kFindIdleWindowsDoc},
    {"apply_dd_pass", apply_dd_pass, METH_NOARGS, text::kApplyDdPassDoc},
    {"get_all_nodes", get_all_nodes, METH_NOARGS, text::kGetAllNodesDoc},
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
