// The _tarvex module: single-phase initialisation, one module per process, and TarvexError.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "python/messages.hpp"
#include "python/once_cell.hpp"
#include "python/panic.hpp"
#include "python/py_ref.hpp"
#include "python/quantum_dag_type.hpp"

namespace tarvex::py {

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
OnceCell error_type_cell;

PyObject* create_error_type() {
  PyObject* type = PyErr_NewExceptionWithDoc(text::kErrorTypeName, nullptr, PyExc_Exception, nullptr);
  if (type != nullptr) return type;
  std::string message = text::kNewExceptionTypeFailed;
  PyRef exc = PyRef::steal(PyErr_GetRaisedException());
  if (PyRef str = exc ? PyRef::steal(PyObject_Str(exc.get())) : PyRef()) {
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(str.get(), nullptr)) message += std::string(" ") + utf8;
  }
  PyErr_Clear();
  raise_fault(std::move(message));
}

/// Adds `value` to the module under `name` and appends the name to `__all__`.
bool add_to_module(PyObject* module, const char* name, PyObject* value) {
  PyRef key = PyRef::steal(PyUnicode_FromString(name));
  if (!key) return false;
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  } else if (!PyList_Check(all.get())) {
    raise_cast_error(Py_TYPE(all.get()), "list");
    return false;
  }
  if (PyList_Append(all.get(), key.get()) < 0) {
    PyErr_Clear();
    raise_fault(text::kAppendAllFailed);
  }
  return PyObject_SetAttr(module, key.get(), value) == 0;
}

PyObject* create_module() {
  PyRef module = PyRef::steal(PyModule_Create2(&module_def, PYTHON_API_VERSION));
  if (!module) return nullptr;
#ifdef Py_GIL_DISABLED
  if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_USED) < 0) return nullptr;
#endif
  PyObject* error_type = error_type_cell.get_or_init(create_error_type);
  if (error_type == nullptr || !add_to_module(module.get(), "TarvexError", error_type)) return nullptr;
  PyObject* dag_type = quantum_dag_type();
  if (dag_type == nullptr || !add_to_module(module.get(), "QuantumDAG", dag_type)) return nullptr;
  return module.release();
}

PyObject* init_module() {
  const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) {
    if (PyErr_Occurred() == nullptr) PyErr_SetString(PyExc_SystemError, text::kNoExceptionSet);
    return nullptr;
  }
  std::int64_t owner = -1;
  if (!owning_interpreter.compare_exchange_strong(owner, id, std::memory_order_acq_rel) && owner != id) {
    PyErr_SetString(PyExc_ImportError, text::kSubinterpreters);
    return nullptr;
  }
  return Py_XNewRef(module_cell.get_or_init(create_module));
}

}  // namespace

PyObject* tarvex_error_type() {
  PyObject* type = error_type_cell.get_or_init(create_error_type);
  if (type == nullptr) throw PythonErrorSet{};
  return type;
}

}  // namespace tarvex::py

PyMODINIT_FUNC PyInit__tarvex(void) {
  return tarvex::py::trap(tarvex::py::init_module, static_cast<PyObject*>(nullptr));
}
