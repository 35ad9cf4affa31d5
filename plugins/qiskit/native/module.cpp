// Module initialisation: the Qiskit series check, the C API imports and the method table.
// Qiskit's header brings Python.h, which must come first.
#include "qiskit_capi.hpp"

#include <cstdio>
#include <cstdlib>

#include "conversions.hpp"
#include "durations.hpp"
#include "dynamic.hpp"
#include "padding.hpp"
#include "parameterized_gate.h"
#include "ref.hpp"

namespace tarvex::qiskit_plugin {

namespace {

PyObject* g_transpiler_error = nullptr;

// The C API's binary interface holds only within one minor series: refuse any other series
// before a single function of its table is called.
bool check_qiskit_series() {
  Ref qiskit = Ref::steal(PyImport_ImportModule("qiskit"));
  if (!qiskit) return false;
  Ref version = Ref::steal(PyObject_GetAttrString(qiskit.get(), "__version__"));
  if (!version) return false;
  const char* text = PyUnicode_AsUTF8(version.get());
  if (text == nullptr) return false;
  int major = -1, minor = -1;
  if (std::sscanf(text, "%d.%d", &major, &minor) == 2 && major == QISKIT_VERSION_MAJOR &&
      minor == QISKIT_VERSION_MINOR)
    return true;
  PyErr_Format(PyExc_ImportError,
               "tarvex_qiskit was built against Qiskit %s, but Qiskit %s is installed; Qiskit's C API is "
               "compatible only within one minor series (%d.%d.x). Install a matching Qiskit with "
               "pip install 'qiskit~=%d.%d.0', or rebuild the plugin for the installed Qiskit: set the "
               "qiskit pins in plugins/qiskit/pyproject.toml to its series and run "
               "pip install --force-reinstall ./plugins/qiskit",
               QISKIT_VERSION, text, QISKIT_VERSION_MAJOR, QISKIT_VERSION_MINOR, QISKIT_VERSION_MAJOR,
               QISKIT_VERSION_MINOR);
  return false;
}

PyMethodDef kMethods[] = {
    {"pad", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(pad)),
     METH_VARARGS | METH_KEYWORDS,
     PyDoc_STR("Schedules or takes the start times of a DAGCircuit and pads its idle time.")},
    {"duration_table", duration_table, METH_O,
     PyDoc_STR("Parses (name, qubits or None, duration) entries once into a table for pad().")},
    {"to_quantum_dag", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(to_quantum_dag)),
     METH_VARARGS | METH_KEYWORDS, PyDoc_STR("Fills a _tarvex.QuantumDAG from a DAGCircuit.")},
    {"from_quantum_dag", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(from_quantum_dag)),
     METH_VARARGS | METH_KEYWORDS, PyDoc_STR("Builds a DAGCircuit from a scheduled _tarvex.QuantumDAG.")},
    {"dynamic", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(dynamic)), METH_VARARGS | METH_KEYWORDS,
     PyDoc_STR("Schedules a DAGCircuit with control flow in blocks, and pads it.")},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tarvex_qiskit._native",
    .m_doc = PyDoc_STR("Native passes of tarvex_qiskit, built on Qiskit's C API and the Tarvex core."),
    .m_size = -1,
    .m_methods = kMethods,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

PyObject* transpiler_error() noexcept { return g_transpiler_error; }

}  // namespace tarvex::qiskit_plugin

PyMODINIT_FUNC PyInit__native() {
  using namespace tarvex::qiskit_plugin;
  if (!check_qiskit_series()) return nullptr;
  if (!import_capi_for_dag_reader() || !import_capi_for_circuit_writer() || !import_capi_for_conversions() ||
      tarvex_import_capi_for_parameterized_gate() != 0 || !import_capi_for_dynamic_passes())
    return nullptr;
  if (g_transpiler_error == nullptr) {
    Ref exceptions = Ref::steal(PyImport_ImportModule("qiskit.transpiler.exceptions"));
    if (!exceptions) return nullptr;
    g_transpiler_error = PyObject_GetAttrString(exceptions.get(), "TranspilerError");
    if (g_transpiler_error == nullptr) return nullptr;
  }
  Ref module = Ref::steal(PyModule_Create(&kModule));
  if (!module) return nullptr;
  if (PyModule_AddStringConstant(module.get(), "QISKIT_BUILD_VERSION", QISKIT_VERSION) < 0) return nullptr;
  return module.release();
}
