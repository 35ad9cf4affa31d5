// The _tarvex module: single-phase initialisation, one module per process, and its two classes.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "boundary_kit/entry.hpp"
#include "boundary_kit/fault.hpp"
#include "boundary_kit/messages.hpp"
#include "boundary_kit/once_cell.hpp"
#include "boundary_kit/py_ref.hpp"
#include "python/messages.hpp"
#include "python/quantum_dag_type.hpp"
#include "python/tarvex_error.hpp"

namespace tarvex::py {

using namespace kit;

namespace {

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_tarvex",
    .m_doc = text::kModuleDoc,
    // Not -1: a re-import calls the initialisation again, which hands back the same module.
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

std::atomic<std::int64_t> owning_interpreter{-1};
OnceCell module_cell;

/// Adds `value` to the module under `name` and appends the name to `__all__`.
void add_to_module(PyObject* module, const char* name, PyObject* value) {
  PyRef key = PyRef::steal(PyUnicode_FromString(name));
  if (!key) python_call_failed();
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) python_call_failed();
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) python_call_failed();
  } else if (!PyList_Check(all.get())) {
    raise_cast_error(Py_TYPE(all.get()), "list");
    throw PythonErrorSet{};
  }
  if (PyList_Append(all.get(), key.get()) < 0) {
    PyErr_Clear();
    raise_fault(text::kAppendAllFailed);
  }
  if (PyObject_SetAttr(module, key.get(), value) < 0) python_call_failed();
}

PyObject* create_module() {
  PyRef module = PyRef::steal(PyModule_Create2(&module_def, PYTHON_API_VERSION));
  if (!module) python_call_failed();
#ifdef Py_GIL_DISABLED
  if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_USED) < 0) python_call_failed();
#endif
  add_to_module(module.get(), "TarvexError", tarvex_error_type());
  PyObject* dag_type = quantum_dag_type();
  if (dag_type == nullptr) python_call_failed();
  add_to_module(module.get(), "QuantumDAG", dag_type);
  return module.release();
}

PyObject* init_module() {
  const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) python_call_failed();
  std::int64_t owner = -1;
  if (!owning_interpreter.compare_exchange_strong(owner, id, std::memory_order_acq_rel) && owner != id) {
    PyErr_SetString(PyExc_ImportError, text::kSubinterpreters);
    throw PythonErrorSet{};
  }
  PyObject* module = module_cell.get_or_init(create_module);
  if (module == nullptr) python_call_failed();
  return Py_NewRef(module);
}

}  // namespace

}  // namespace tarvex::py

PyMODINIT_FUNC PyInit__tarvex(void) { return tarvex::kit::entry(tarvex::py::init_module); }
