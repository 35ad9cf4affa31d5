// Binding of call arguments to parameters, and conversion of Python arguments to native values.
#include "python/arguments.hpp"

#include <algorithm>
#include <cstring>

#include "python/messages.hpp"
#include "python/once_cell.hpp"
#include "python/panic.hpp"
#include "python/py_ref.hpp"

namespace tarvex::py {

namespace {

// A length hint above this is not trusted for reservation: the list grows as items arrive.
constexpr Py_ssize_t kMaxReservedQubits = 1 << 12;

OnceCell sequence_abc_cell;

bool bind_keyword(const FunctionDescription& desc, PyObject* keyword, PyObject* value, PyObject** slots) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
  if (utf8 == nullptr) {
    PyErr_Clear();
  } else {
    for (std::size_t i = 0; i < desc.parameter_names.size(); ++i) {
      const char* name = desc.parameter_names[i];
      if (std::strlen(name) != static_cast<std::size_t>(size) || std::memcmp(name, utf8, size) != 0) continue;
      if (slots[i] != nullptr) {
        raise_multiple_values(desc.full_name, name);
        return false;
      }
      slots[i] = value;
      return true;
    }
  }
  raise_unexpected_keyword(desc.full_name, keyword);
  return false;
}

bool bind_positional(const FunctionDescription& desc, PyObject* const* args, Py_ssize_t n_positional,
                     PyObject** slots) {
  const std::size_t n_params = desc.parameter_names.size();
  if (static_cast<std::size_t>(n_positional) > n_params) {
    raise_too_many_positional(desc.full_name, n_params, n_positional);
    return false;
  }
  std::copy(args, args + n_positional, slots);
  std::fill(slots + n_positional, slots + n_params, nullptr);
  return true;
}

bool check_required(const FunctionDescription& desc, PyObject** slots) {
  const std::size_t n_params = desc.parameter_names.size();
  const char* missing[8];
  std::size_t n_missing = 0;
  for (std::size_t i = 0; i < n_params && n_missing < std::size(missing); ++i)
    if (slots[i] == nullptr) missing[n_missing++] = desc.parameter_names[i];
  if (n_missing == 0) return true;
  raise_missing(desc.full_name, std::span<const char* const>(missing, n_missing));
  return false;
}

PyObject* create_sequence_abc() {
  PyRef name = PyRef::steal(PyUnicode_FromString("collections.abc"));
  PyRef module = name ? PyRef::steal(PyImport_Import(name.get())) : PyRef();
  PyRef cls = module ? PyRef::steal(PyObject_GetAttrString(module.get(), "Sequence")) : PyRef();
  if (!cls) {
    resume_if_panic();
    PyErr_Clear();
    raise_fault("failed to look up collections.abc.Sequence");
  }
  if (!PyType_Check(cls.get())) raise_fault("collections.abc.Sequence is not a class");
  return cls.release();
}

void raise_not_a_sequence(PyObject* obj) {
  PyObject* sequence_abc = sequence_abc_cell.get_or_init(create_sequence_abc);
  if (sequence_abc == nullptr) throw PythonErrorSet{};
  PyRef qualname = PyRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(sequence_abc)));
  if (!qualname || PyUnicode_AsUTF8AndSize(qualname.get(), nullptr) == nullptr) {
    resume_if_panic();
    return;
  }
  raise_cast_error(Py_TYPE(obj), PyUnicode_AsUTF8AndSize(qualname.get(), nullptr));
}

// Converts each item of an exact list or tuple by position; the same items, in the same order, as
// iterating it would give, without the iterator.
template <bool kIsList>
bool extract_items(PyObject* seq, QubitBuffer& out) {
  auto size = [seq] { return kIsList ? PyList_GET_SIZE(seq) : PyTuple_GET_SIZE(seq); };
  out.reserve(static_cast<std::size_t>(std::min(size(), kMaxReservedQubits)));
  for (Py_ssize_t i = 0; i < size(); ++i) {
    PyObject* item = kIsList ? PyList_GET_ITEM(seq, i) : PyTuple_GET_ITEM(seq, i);
    std::uint64_t q;
    if (PyLong_CheckExact(item)) {
      if (!extract_u64(item, q)) return false;
    } else {
      // A conversion that runs Python code may shrink the list: keep the item alive meanwhile.
      PyRef hold = PyRef::borrow(item);
      if (!extract_u64(item, q)) return false;
    }
    out.push_back(q);
  }
  return true;
}

}  // namespace

bool extract_arguments_fastcall(const FunctionDescription& desc, PyObject* const* args,
                                Py_ssize_t n_positional, PyObject* kwnames, PyObject** slots) {
  // The common call: every parameter by position.
  if (kwnames == nullptr && static_cast<std::size_t>(n_positional) == desc.parameter_names.size()) {
    std::copy(args, args + n_positional, slots);
    return true;
  }
  if (!bind_positional(desc, args, n_positional, slots)) return false;
  if (kwnames != nullptr) {
    const Py_ssize_t n_keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < n_keywords; ++k)
      if (!bind_keyword(desc, PyTuple_GET_ITEM(kwnames, k), args[n_positional + k], slots)) return false;
  }
  return check_required(desc, slots);
}

bool extract_arguments_tuple_dict(const FunctionDescription& desc, PyObject* args, PyObject* kwargs,
                                  PyObject** slots) {
  if (!bind_positional(desc, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), slots)) return false;
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &key, &value))
      if (!bind_keyword(desc, key, value, slots)) return false;
  }
  return check_required(desc, slots);
}

bool extract_str(PyObject* obj, std::string_view& out) {
  if (!PyUnicode_Check(obj)) {
    raise_cast_error(Py_TYPE(obj), "str");
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (utf8 == nullptr) {
    resume_if_panic();
    return false;
  }
  out = std::string_view(utf8, static_cast<std::size_t>(size));
  return true;
}

namespace {

bool long_to_u64(PyObject* obj, std::uint64_t& out) {
  if (PyLong_CheckExact(obj) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(obj))) {
    Py_ssize_t v = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(obj));
    if (v >= 0) {
      out = static_cast<std::uint64_t>(v);
      return true;
    }
  }
  unsigned long long v = PyLong_AsUnsignedLongLong(obj);
  // All ones is also a valid value: only a pending exception makes it a failure.
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    resume_if_panic();
    return false;
  }
  out = v;
  return true;
}

}  // namespace

bool extract_u64(PyObject* obj, std::uint64_t& out) {
  if (PyLong_Check(obj)) return long_to_u64(obj, out);
  PyRef index = PyRef::steal(PyNumber_Index(obj));
  if (!index) {
    resume_if_panic();
    return false;
  }
  return long_to_u64(index.get(), out);
}

bool extract_f64(PyObject* obj, double& out) {
  if (PyFloat_CheckExact(obj)) {
    out = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) {
    resume_if_panic();
    return false;
  }
  out = v;
  return true;
}

bool extract_u64_list(PyObject* obj, QubitBuffer& out) {
  if (PyUnicode_Check(obj)) {
    raise_str_to_vec();
    return false;
  }
  if (PyList_CheckExact(obj)) return extract_items<true>(obj, out);
  if (PyTuple_CheckExact(obj)) return extract_items<false>(obj, out);
  if (!PySequence_Check(obj)) {
    raise_not_a_sequence(obj);
    return false;
  }
  const Py_ssize_t length = PyObject_Size(obj);
  if (length < 0) {
    // The length is only a hint: an ordinary exception from it is dropped. An interrupt
    // (KeyboardInterrupt, SystemExit, ... anything that is not an Exception) is not.
    resume_if_panic();
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
  } else {
    out.reserve(static_cast<std::size_t>(std::min(length, kMaxReservedQubits)));
  }
  PyRef iter = PyRef::steal(PyObject_GetIter(obj));
  if (!iter) {
    resume_if_panic();
    return false;
  }
  while (PyRef item = PyRef::steal(PyIter_Next(iter.get()))) {
    std::uint64_t q;
    if (!extract_u64(item.get(), q)) return false;
    out.push_back(q);
  }
  if (PyErr_Occurred()) {
    resume_if_panic();
    return false;
  }
  return true;
}

void argument_extraction_error(const char* name) {
  PyRef failed = PyRef::steal(PyErr_GetRaisedException());
  if (Py_TYPE(failed.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(failed.release());
    return;
  }
  PyRef message;
  if (PyRef str = PyRef::steal(PyObject_Str(failed.get()))) {
    message = lossy_text(str.get());
  }
  if (!message) {
    PyErr_WriteUnraisable(failed.get());
    message = PyRef::steal(PyUnicode_FromString("<unprintable TypeError object>"));
    if (!message) throw PythonErrorSet{};
  }
  PyRef text = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
  PyRef replacement = text ? PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, text.get())) : PyRef();
  if (!replacement) throw PythonErrorSet{};
  // Setting the cause, even to none, also sets __suppress_context__: the failed TypeError is
  // dropped, not chained.
  PyException_SetCause(replacement.get(), PyException_GetCause(failed.get()));
  PyErr_SetRaisedException(replacement.release());
}

}  // namespace tarvex::py
