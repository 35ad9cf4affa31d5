// The call floor: add_gate's argument binding and conversion, with the module's own code, and nothing else.
//
// `_call_floor.add_gate(name, qubits, duration_ns)` runs exactly the steps that QuantumDAG.add_gate
// runs before and after it touches the graph: the fault trap, extract_arguments_fastcall with the
// same FunctionDescription, extract_str, extract_u64_list into a QubitBuffer and extract_f64, with
// the same error path. It then drops the values and returns None. What add_gate costs above this
// (receiver and thread check, borrow, insertion, the id's int) is the price of the graph itself.
// `add_gate_returning_id` also returns a new int, as add_gate does, to show the id's own share.
#include <Python.h>

#include <cstdint>
#include <string_view>

#include "python/arguments.hpp"
#include "python/panic.hpp"

namespace {

using namespace tarvex::py;

constexpr const char* kAddGateParams[] = {"name", "qubits", "duration_ns"};
constexpr FunctionDescription kAddGate{"QuantumDAG.add_gate()", kAddGateParams};

// Keeps the converted values observable, so that no optimiser can drop the conversions.
template <class T>
void keep(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

bool conversion_failed(const char* name) {
  argument_extraction_error(name);
  return false;
}

// Binds and converts the arguments; true with the values dropped, or false with the error set.
bool bind_and_convert(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  PyObject* slots[3];
  if (!extract_arguments_fastcall(kAddGate, args, PyVectorcall_NARGS(nargsf), kwnames, slots)) return false;
  std::string_view name;
  QubitBuffer qubits;
  double duration_ns;
  if (!extract_str(slots[0], name)) return conversion_failed("name");
  if (!extract_u64_list(slots[1], qubits)) return conversion_failed("qubits");
  if (!extract_f64(slots[2], duration_ns)) return conversion_failed("duration_ns");
  keep(name);
  keep(qubits);
  keep(duration_ns);
  return true;
}

PyObject* add_gate(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return trap([&]() -> PyObject* {
    if (!bind_and_convert(args, nargsf, kwnames)) return nullptr;
    Py_RETURN_NONE;
  }, static_cast<PyObject*>(nullptr));
}

// The same, returning a new int made as add_gate makes the node id: shows what the id alone costs.
std::uint64_t next_id = 0;

PyObject* add_gate_returning_id(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return trap([&]() -> PyObject* {
    if (!bind_and_convert(args, nargsf, kwnames)) return nullptr;
    return PyLong_FromLongLong(static_cast<long long>(next_id++));
  }, static_cast<PyObject*>(nullptr));
}

PyMethodDef call_floor_methods[] = {
    {"add_gate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(add_gate)), METH_FASTCALL | METH_KEYWORDS,
     "add_gate(name, qubits, duration_ns)\n--\n\nConverts add_gate's arguments and drops them."},
    {"add_gate_returning_id", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(add_gate_returning_id)),
     METH_FASTCALL | METH_KEYWORDS,
     "add_gate_returning_id(name, qubits, duration_ns)\n--\n\nConverts add_gate's arguments, drops them and "
     "returns a new int."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef call_floor_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_call_floor",
    .m_doc = "Benchmark peer: the cost of calling add_gate without the graph.",
    .m_size = 0,
    .m_methods = call_floor_methods,
};

}  // namespace

PyMODINIT_FUNC PyInit__call_floor() { return PyModule_Create(&call_floor_module); }
