// TarvexError: the module's exception class for a call the graph's state cannot serve.
#include "python/tarvex_error.hpp"

#include <string>

#include "boundary_kit/fault.hpp"
#include "boundary_kit/once_cell.hpp"
#include "boundary_kit/py_ref.hpp"
#include "python/messages.hpp"

namespace tarvex::py {

using namespace kit;

namespace {

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

}  // namespace

PyObject* tarvex_error_type() {
  PyObject* type = error_type_cell.get_or_init(create_error_type);
  if (type == nullptr) python_call_failed();
  return type;
}

}  // namespace tarvex::py
