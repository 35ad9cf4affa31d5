// The tarvex_qiskit._native module: the Qiskit series check, the C API imports and the entry points.
// Qiskit's header brings Python.h, which must come first.
#include "qiskit_capi.hpp"

#include <cstdio>

#include "boundary_kit/entry.hpp"
#include "boundary_kit/fault.hpp"
#include "boundary_kit/py_ref.hpp"
#include "conversions.hpp"
#include "durations.hpp"
#include "dynamic.hpp"
#include "dynamic_dd.hpp"
#include "gate_params.hpp"
#include "messages.hpp"
#include "padding.hpp"
#include "parameterized_gate.h"
#include "qiskit_objects.hpp"
#include "requests.hpp"

namespace tarvex::qiskit_plugin {

namespace {

using kit::PyRef;

// ---- entry points: bind the arguments into the request, then do the work ----------------------

PyObject* pad(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kPad>(args, nargsf, kwnames,
                          [](PyObject* const* slots) { return pad_impl(bind_pad(slots)); });
}

PyObject* pad_circuit(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kPadCircuit>(args, nargsf, kwnames,
                                 [](PyObject* const* slots) { return pad_circuit_impl(bind_pad_circuit(slots)); });
}

PyObject* pad_options(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kPadOptions>(args, nargsf, kwnames, bind_pad_options);
}

PyObject* duration_table(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kDurationTable>(args, nargsf, kwnames, [](PyObject* const* slots) {
    return table_capsule(std::move(bind_duration_table(slots).table));
  });
}

PyObject* to_quantum_dag(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kToQuantumDag>(args, nargsf, kwnames, [](PyObject* const* slots) {
    return to_quantum_dag_impl(bind_to_quantum_dag(slots));
  });
}

PyObject* from_quantum_dag(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return kit::entry<kFromQuantumDag>(args, nargsf, kwnames, [](PyObject* const* slots) {
    return from_quantum_dag_impl(bind_from_quantum_dag(slots));
  });
}

// ---- module ------------------------------------------------------------------------------------

// The C API's binary interface holds only within one minor series: refuse any other series
// before a single function of its table is called.
void check_qiskit_series() {
  PyRef qiskit = PyRef::steal(PyImport_ImportModule("qiskit"));
  PyRef version = qiskit ? PyRef::steal(PyObject_GetAttrString(qiskit.get(), "__version__")) : PyRef();
  const char* text = version ? PyUnicode_AsUTF8(version.get()) : nullptr;
  if (text == nullptr) kit::python_call_failed();
  int major = -1, minor = -1;
  if (std::sscanf(text, "%d.%d", &major, &minor) == 2 && major == QISKIT_VERSION_MAJOR &&
      minor == QISKIT_VERSION_MINOR)
    return;
  raise_series_mismatch(text);
  throw kit::PythonErrorSet{};
}

#define TARVEX_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

PyMethodDef module_methods[] = {
    {"pad", TARVEX_FASTCALL(pad), METH_FASTCALL | METH_KEYWORDS, text::kPadDoc},
    {"pad_circuit", TARVEX_FASTCALL(pad_circuit), METH_FASTCALL | METH_KEYWORDS, text::kPadCircuitDoc},
    {"pad_options", TARVEX_FASTCALL(pad_options), METH_FASTCALL | METH_KEYWORDS, text::kPadOptionsDoc},
    {"duration_table", TARVEX_FASTCALL(duration_table), METH_FASTCALL | METH_KEYWORDS,
     text::kDurationTableDoc},
    {"to_quantum_dag", TARVEX_FASTCALL(to_quantum_dag), METH_FASTCALL | METH_KEYWORDS,
     text::kToQuantumDagDoc},
    {"from_quantum_dag", TARVEX_FASTCALL(from_quantum_dag), METH_FASTCALL | METH_KEYWORDS,
     text::kFromQuantumDagDoc},
    {"dynamic", TARVEX_FASTCALL(dynamic), METH_FASTCALL | METH_KEYWORDS, text::kDynamicDoc},
    {"dynamic_decoupling", TARVEX_FASTCALL(dynamic_decoupling), METH_FASTCALL | METH_KEYWORDS,
     text::kDynamicDecouplingDoc},
    {"greedy_colouring", TARVEX_FASTCALL(greedy_colouring), METH_FASTCALL | METH_KEYWORDS, text::kColouringDoc},
    {nullptr, nullptr, 0, nullptr},
};

#undef TARVEX_FASTCALL

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tarvex_qiskit._native",
    .m_doc = text::kModuleDoc,
    .m_size = -1,
    .m_methods = module_methods,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

PyObject* init_module() {
  check_qiskit_series();
  for (bool (*import)() :
       {import_capi_for_dag_reader, import_capi_for_circuit_reader, import_capi_for_circuit_writer,
        import_capi_for_conversions, import_capi_for_gate_params, import_capi_for_requests,
        import_capi_for_dynamic_passes, import_capi_for_decoupling})
    if (!import()) kit::python_call_failed();
  if (tarvex_import_capi_for_parameterized_gate() != 0) kit::python_call_failed();
  (void)transpiler_error_type();  // made now, so that raising it later cannot fail to find it
  PyRef module = PyRef::steal(PyModule_Create(&module_def));
  if (!module) kit::python_call_failed();
  if (PyModule_AddStringConstant(module.get(), "QISKIT_BUILD_VERSION", QISKIT_VERSION) < 0)
    kit::python_call_failed();
  return module.release();
}

}  // namespace

}  // namespace tarvex::qiskit_plugin

PyMODINIT_FUNC PyInit__native() { return tarvex::kit::entry(tarvex::qiskit_plugin::init_module); }
