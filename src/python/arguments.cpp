// Binding of call arguments to parameters, and conversion of Python arguments to native values.
#include "python/arguments.hpp"

#include <cstring>

#include "python/messages.hpp"
#include "python/once_cell.hpp"
#include "python/py_ref.hpp"

namespace tarvex::py {

namespace {

// A length hint above this is not trusted for reservation: the list grows as items arrive.
constexpr Py_ssize_t kMaxReservedQubits = 1 << 12;

OnceCell sequence_abc_cell;

void bind_keyword(const FunctionDescription& desc, PyObject* keyword, PyObject* value, PyObject** slots) {
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
        throw PythonErrorSet{};
      }
      slots[i] = value;
      return;
    }
  }
  raise_unexpected_keyword(desc.full_name, keyword);
  throw PythonErrorSet{};
}

void bind_positional(const FunctionDescription& desc, PyObject* const* args, Py_ssize_t n_positional,
                     PyObject** slots) {
  const std::size_t n_params = desc.parameter_names.size();
  if (static_cast<std::size_t>(n_positional) > n_params) {
    raise_too_many_positional(desc.full_name, n_params, n_positional);
    throw PythonErrorSet{};
  }
  std::copy(args, args + n_positional, slots);
  std::fill(slots + n_positional, slots + n_params, nullptr);
}

void check_required(const FunctionDescription& desc, PyObject** slots) {
  const std::size_t n_params = desc.parameter_names.size();
  const char* missing[8];
  std::size_t n_missing = 0;
  for (std::size_t i = 0; i < n_params && n_missing < std::size(missing); ++i)
    if (slots[i] == nullptr) missing[n_missing++] = desc.parameter_names[i];
  if (n_missing == 0) return;
  raise_missing(desc.full_name, std::span<const char* const>(missing, n_missing));
  throw PythonErrorSet{};
}

PyObject* create_sequence_abc() {
  PyRef name = PyRef::steal(PyUnicode_FromString("collections.abc"));
  PyRef module = name ? PyRef::steal(PyImport_Import(name.get())) : PyRef();
  PyRef cls = module ? PyRef::steal(PyObject_GetAttrString(module.get(), "Sequence")) : PyRef();
  if (!cls) {
    resume_if_panic();
    // Running out of memory is the caller's MemoryError, as everywhere else; the cell stays empty
    // and the next non-sequence looks again.
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw PythonErrorSet{};
    PyErr_Clear();
    raise_fault(text::kSequenceAbcLookupFailed);
  }
  if (!PyType_Check(cls.get())) raise_fault(text::kSequenceAbcNotAClass);
  return cls.release();
}

std::uint64_t long_to_u64(PyObject* obj) {
  if (PyLong_CheckExact(obj) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(obj))) {
    Py_ssize_t v = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(obj));
    if (v >= 0) return static_cast<std::uint64_t>(v);
  }
  unsigned long long v = PyLong_AsUnsignedLongLong(obj);
  // All ones is also a valid value: only a pending exception makes it a failure.
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) python_call_failed();
  return v;
}

// Converts each item of an exact list or tuple by position; the same items, in the same order, as
// iterating it would give, without the iterator.
template <bool kIsList>
void extract_items(PyObject* seq, QubitBuffer& out) {
  auto size = [seq] { return kIsList ? PyList_GET_SIZE(seq) : PyTuple_GET_SIZE(seq); };
  out.reserve(static_cast<std::size_t>(std::min(size(), kMaxReservedQubits)));
  for (Py_ssize_t i = 0; i < size(); ++i) {
    PyObject* item = kIsList ? PyList_GET_ITEM(seq, i) : PyTuple_GET_ITEM(seq, i);
    std::uint64_t q;
    if (PyLong_CheckExact(item)) {
      q = extract_u64(item);
    } else {
      // A conversion that runs Python code may shrink the list: keep the item alive meanwhile.
      PyRef hold = PyRef::borrow(item);
      q = extract_u64(item);
    }
    out.push_back(q);
  }
}

}  // namespace

void extract_arguments_fastcall_general(const FunctionDescription& desc, PyObject* const* args,
                                        Py_ssize_t n_positional, PyObject* kwnames, PyObject** slots) {
  bind_positional(desc, args, n_positional, slots);
  if (kwnames != nullptr) {
    const Py_ssize_t n_keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < n_keywords; ++k)
      bind_keyword(desc, PyTuple_GET_ITEM(kwnames, k), args[n_positional + k], slots);
  }
  check_required(desc, slots);
}

void extract_arguments_tuple_dict(const FunctionDescription& desc, PyObject* args, PyObject* kwargs,
                                  PyObject** slots) {
  bind_positional(desc, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), slots);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(desc, key, value, slots);
  }
  check_required(desc, slots);
}

std::string_view extract_str(PyObject* obj) {
  if (!PyUnicode_Check(obj)) {
    raise_cast_error(Py_TYPE(obj), "str");
    throw PythonErrorSet{};
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (utf8 == nullptr) python_call_failed();
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

std::uint64_t extract_u64(PyObject* obj) {
  if (PyLong_Check(obj)) return long_to_u64(obj);
  PyRef index = PyRef::steal(PyNumber_Index(obj));
  if (!index) python_call_failed();
  return long_to_u64(index.get());
}

double extract_f64(PyObject* obj) {
  if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
  double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) python_call_failed();
  return v;
}

QubitBuffer extract_u64_list(PyObject* obj) {
  if (PyUnicode_Check(obj)) {
    raise_str_to_vec();
    throw PythonErrorSet{};
  }
  QubitBuffer out;
  if (PyList_CheckExact(obj)) {
    extract_items<true>(obj, out);
    return out;
  }
  if (PyTuple_CheckExact(obj)) {
    extract_items<false>(obj, out);
    return out;
  }
  if (!PySequence_Check(obj)) {
    PyObject* sequence_abc = sequence_abc_cell.get_or_init(create_sequence_abc);
    if (sequence_abc == nullptr) python_call_failed();
    raise_not_a_sequence(obj, sequence_abc);
    throw PythonErrorSet{};
  }
  const Py_ssize_t length = PyObject_Size(obj);
  if (length < 0) {
    // The length is only a hint: an ordinary exception from it is dropped. An interrupt
    // (KeyboardInterrupt, SystemExit, ... anything that is not an Exception, PanicException
    // included) is not.
    if (!PyErr_ExceptionMatches(PyExc_Exception)) python_call_failed();
    PyErr_Clear();
  } else {
    out.reserve(static_cast<std::size_t>(std::min(length, kMaxReservedQubits)));
  }
  PyRef iter = PyRef::steal(PyObject_GetIter(obj));
  if (!iter) python_call_failed();
  while (PyRef item = PyRef::steal(PyIter_Next(iter.get()))) out.push_back(extract_u64(item.get()));
  if (PyErr_Occurred()) python_call_failed();
  return out;
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
    message = PyRef::steal(PyUnicode_FromString(text::kUnprintableTypeError));
    if (!message) throw PythonErrorSet{};
  }
  PyRef text = argument_error_text(name, message.get());
  PyRef replacement = text ? PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, text.get())) : PyRef();
  if (!replacement) throw PythonErrorSet{};
  // Setting the cause, even to none, also sets __suppress_context__: the failed TypeError is
  // dropped, not chained.
  PyException_SetCause(replacement.get(), PyException_GetCause(failed.get()));
  PyErr_SetRaisedException(replacement.release());
}

}  // namespace tarvex::py
