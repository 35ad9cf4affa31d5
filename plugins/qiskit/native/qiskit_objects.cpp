// The process-wide Python objects the native module uses: made once, checked, never released.
#include "qiskit_objects.hpp"

#include <string>
#include "boundary_kit/fault.hpp"
#include "boundary_kit/once_cell.hpp"
#include "boundary_kit/py_ref.hpp"

#include "messages.hpp"

namespace tarvex::qiskit_plugin {

using kit::OnceCell;
using kit::PyRef;

namespace {

OnceCell transpiler_error_cell;
OnceCell node_id_cell;
OnceCell copy_empty_like_cell;
OnceCell reserve_cell;
OnceCell dag_circuit_cell;
OnceCell circuit_data_cell;
OnceCell quantum_dag_cell;
// Written once, under quantum_dag_cell's creation, before the cell publishes the class.
QuantumDagMethods methods;

// The class `name` of module `module`: a new reference; ends the call if it cannot be found.
PyRef qiskit_class(const char* module, const char* name) {
  PyRef mod = PyRef::steal(PyImport_ImportModule(module));
  PyRef cls = mod ? PyRef::steal(PyObject_GetAttrString(mod.get(), name)) : PyRef();
  if (!cls) kit::python_call_failed();
  if (!PyType_Check(cls.get())) kit::raise_fault(unexpected_object_text(std::string(module) + "." + name));
  return cls;
}

PyObject* create_transpiler_error() {
  PyRef cls = qiskit_class("qiskit.transpiler.exceptions", "TranspilerError");
  if (!PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls.get()),
                        reinterpret_cast<PyTypeObject*>(PyExc_Exception)))
    kit::raise_fault(unexpected_object_text("qiskit.transpiler.exceptions.TranspilerError"));
  return cls.release();
}

// A new reference to the C method of `type` named `name`, as the class holds it now; kept for the
// life of the process, so that deleting it from the class later leaves it valid here.
PyRef own_method(PyObject* type, const char* name) {
  PyObject* method = PyDict_GetItemString(reinterpret_cast<PyTypeObject*>(type)->tp_dict, name);
  if (method == nullptr || !Py_IS_TYPE(method, &PyMethodDescr_Type) ||
      PyDescr_TYPE(method) != reinterpret_cast<PyTypeObject*>(type))
    kit::raise_fault(unexpected_object_text(std::string("_tarvex.QuantumDAG.") + name));
  return PyRef::borrow(method);
}

PyObject* create_quantum_dag() {
  PyRef module = PyRef::steal(PyImport_ImportModule("_tarvex"));
  PyRef cls = module ? PyRef::steal(PyObject_GetAttrString(module.get(), "QuantumDAG")) : PyRef();
  if (!cls) kit::python_call_failed();
  if (!PyType_Check(cls.get())) kit::raise_fault(unexpected_object_text("_tarvex.QuantumDAG"));
  PyRef add_gate = own_method(cls.get(), "add_gate");
  PyRef get_all_nodes = own_method(cls.get(), "get_all_nodes");
  PyRef get_node_schedule = own_method(cls.get(), "get_node_schedule");
  methods = QuantumDagMethods{
      .type = cls.get(),
      .add_gate = add_gate.release(),
      .get_all_nodes = get_all_nodes.release(),
      .get_node_schedule = get_node_schedule.release(),
  };
  return cls.release();
}

}  // namespace

PyObject* transpiler_error_type() {
  PyObject* type = transpiler_error_cell.get_or_init(create_transpiler_error);
  if (type == nullptr) kit::python_call_failed();
  return type;
}

PyObject* dag_circuit_type() {
  PyObject* type =
      dag_circuit_cell.get_or_init([] { return qiskit_class("qiskit.dagcircuit", "DAGCircuit").release(); });
  if (type == nullptr) kit::python_call_failed();
  return type;
}

PyObject* circuit_data_type() {
  PyObject* type =
      circuit_data_cell.get_or_init([] { return qiskit_class("qiskit.circuit", "CircuitData").release(); });
  if (type == nullptr) kit::python_call_failed();
  return type;
}

PyObject* node_id_attribute() {
  PyObject* name = node_id_cell.get_or_init([] { return PyUnicode_InternFromString("_node_id"); });
  if (name == nullptr) kit::python_call_failed();
  return name;
}

PyObject* copy_empty_like_name() {
  PyObject* name = copy_empty_like_cell.get_or_init([] { return PyUnicode_InternFromString("copy_empty_like"); });
  if (name == nullptr) kit::python_call_failed();
  return name;
}

PyObject* reserve_name() {
  PyObject* name = reserve_cell.get_or_init([] { return PyUnicode_InternFromString("reserve"); });
  if (name == nullptr) kit::python_call_failed();
  return name;
}

const QuantumDagMethods& quantum_dag_methods() {
  if (quantum_dag_cell.get_or_init(create_quantum_dag) == nullptr) kit::python_call_failed();
  return methods;
}

}  // namespace tarvex::qiskit_plugin
