// Binding of call arguments to parameters, and conversion of Python arguments to native values.
//
// Every function here either succeeds or throws (see fault.hpp): PythonErrorSet with the caller's
// exception pending, a Fault for a PanicException that came back from Python code, std::bad_alloc.
//
// Functions marked noinline stay out of their callers, as functions of a source file of their own
// would: a method's fast path keeps the size it was measured at, and error paths stay out of it.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

#include "boundary_kit/fault.hpp"
#include "boundary_kit/messages.hpp"
#include "boundary_kit/once_cell.hpp"
#include "boundary_kit/py_ref.hpp"

namespace tarvex::kit {

/// The constant parameter list of one function. The first `n_positional` parameters may come by
/// position or by keyword, the others only by keyword; every parameter is required unless its bit
/// in `optional` is set, and an optional one left out keeps a null slot (its extraction supplies
/// the default).
struct FunctionDescription {
  static constexpr std::size_t kAllPositional = std::numeric_limits<std::size_t>::max();
  static constexpr std::size_t kMaxParameters = 64;

  const char* full_name;  // "QuantumDAG.add_gate()": the start of every binding message
  std::span<const char* const> parameter_names;
  std::size_t n_positional = kAllPositional;  // kAllPositional: every parameter
  std::uint64_t optional = 0;                 // bit i: parameter i may be left out

  constexpr std::size_t positional_count() const noexcept {
    return n_positional == kAllPositional ? parameter_names.size() : n_positional;
  }
  constexpr bool required(std::size_t i) const noexcept { return ((optional >> i) & 1) == 0; }
};

namespace detail {

// A length hint above this is not trusted for reservation: the list grows as items arrive.
constexpr Py_ssize_t kMaxReserved = 1 << 12;

inline OnceCell sequence_abc_cell;

inline void bind_keyword(const FunctionDescription& desc, PyObject* keyword, PyObject* value,
                         PyObject** slots) {
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

inline void bind_positional(const FunctionDescription& desc, PyObject* const* args, Py_ssize_t n_positional,
                            PyObject** slots) {
  const std::size_t n_accepted = desc.positional_count();
  if (static_cast<std::size_t>(n_positional) > n_accepted) {
    raise_too_many_positional(desc.full_name, n_accepted, n_positional);
    throw PythonErrorSet{};
  }
  std::copy(args, args + n_positional, slots);
  std::fill(slots + n_positional, slots + desc.parameter_names.size(), nullptr);
}

// Writes the required parameters of [from, to) whose slot is empty to `missing`; returns how many.
inline std::size_t find_missing(const FunctionDescription& desc, PyObject** slots, std::size_t from,
                                std::size_t to, const char** missing) {
  std::size_t n_missing = 0;
  for (std::size_t i = from; i < to && n_missing < FunctionDescription::kMaxParameters; ++i)
    if (slots[i] == nullptr && desc.required(i)) missing[n_missing++] = desc.parameter_names[i];
  return n_missing;
}

// Missing positional parameters are named first, as the interpreter does; keyword-only ones only
// when no positional one is missing.
inline void check_required(const FunctionDescription& desc, PyObject** slots) {
  const char* missing[FunctionDescription::kMaxParameters];
  const std::size_t n_positional = desc.positional_count();
  const char* kind = "positional";
  std::size_t n_missing = find_missing(desc, slots, 0, n_positional, missing);
  if (n_missing == 0) {
    kind = "keyword-only";
    n_missing = find_missing(desc, slots, n_positional, desc.parameter_names.size(), missing);
  }
  if (n_missing == 0) return;
  raise_missing(desc.full_name, kind, std::span<const char* const>(missing, n_missing));
  throw PythonErrorSet{};
}

[[gnu::noinline]] inline PyObject* create_sequence_abc() {
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

inline std::uint64_t long_to_u64(PyObject* obj) {
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
template <bool kIsList, class Item, class Out>
[[gnu::always_inline]] inline void extract_items(PyObject* seq, Out& out) {
  auto size = [seq] { return kIsList ? PyList_GET_SIZE(seq) : PyTuple_GET_SIZE(seq); };
  out.reserve(static_cast<std::size_t>(std::min(size(), kMaxReserved)));
  for (Py_ssize_t i = 0; i < size(); ++i) {
    PyObject* item = kIsList ? PyList_GET_ITEM(seq, i) : PyTuple_GET_ITEM(seq, i);
    decltype(Item::convert(item)) value;
    if (Item::inert(item)) {
      value = Item::convert(item);
    } else {
      // A conversion that runs Python code may shrink the list: keep the item alive meanwhile.
      PyRef hold = PyRef::borrow(item);
      value = Item::convert(item);
    }
    out.push_back(value);
  }
}

}  // namespace detail

/// Binds any vectorcall argument array that is not every parameter by position. See below.
[[gnu::noinline]] inline void extract_arguments_fastcall_general(const FunctionDescription& desc,
                                                                 PyObject* const* args,
                                                                 Py_ssize_t n_positional, PyObject* kwnames,
                                                                 PyObject** slots) {
  detail::bind_positional(desc, args, n_positional, slots);
  if (kwnames != nullptr) {
    const Py_ssize_t n_keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < n_keywords; ++k)
      detail::bind_keyword(desc, PyTuple_GET_ITEM(kwnames, k), args[n_positional + k], slots);
  }
  detail::check_required(desc, slots);
}

/// Binds a vectorcall argument array; fills `slots` (one per parameter) with borrowed references,
/// null for an optional parameter left out. O(1) when every parameter comes by position, else
/// O(parameters x keywords).
inline void extract_arguments_fastcall(const FunctionDescription& desc, PyObject* const* args,
                                       Py_ssize_t nargsf, PyObject* kwnames, PyObject** slots) {
  const Py_ssize_t n_positional = PyVectorcall_NARGS(nargsf);
  // The common call: every parameter by position.
  if (kwnames == nullptr && desc.positional_count() == desc.parameter_names.size() &&
      static_cast<std::size_t>(n_positional) == desc.parameter_names.size()) [[likely]] {
    std::copy(args, args + n_positional, slots);
    return;
  }
  extract_arguments_fastcall_general(desc, args, n_positional, kwnames, slots);
}

/// Binds a positional tuple and keyword dict (or null) the same way; for a constructor.
[[gnu::noinline]] inline void extract_arguments_tuple_dict(const FunctionDescription& desc, PyObject* args,
                                                           PyObject* kwargs, PyObject** slots) {
  detail::bind_positional(desc, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), slots);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) detail::bind_keyword(desc, key, value, slots);
  }
  detail::check_required(desc, slots);
}

/// A str (or subclass) as its UTF-8 bytes, NULs included. The view lives as long as `obj`. O(1)
/// once the str has cached its UTF-8, else O(len).
[[gnu::noinline]] inline std::string_view extract_str(PyObject* obj) {
  if (!PyUnicode_Check(obj)) {
    raise_cast_error(Py_TYPE(obj), "str");
    throw PythonErrorSet{};
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (utf8 == nullptr) python_call_failed();
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

/// A bytes object (or subclass) as a view of its bytes, which lives as long as `obj`. O(1).
[[gnu::noinline]] inline std::string_view extract_bytes(PyObject* obj) {
  if (!PyBytes_Check(obj)) {
    raise_cast_error(Py_TYPE(obj), "bytes");
    throw PythonErrorSet{};
  }
  return std::string_view(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
}

/// True or False, and nothing else: an int or another truthy object is refused, so that a field
/// given the wrong value does not pass as a flag. O(1).
[[gnu::noinline]] inline bool extract_bool(PyObject* obj) {
  if (obj == Py_True) return true;
  if (obj == Py_False) return false;
  raise_cast_error(Py_TYPE(obj), "bool");
  throw PythonErrorSet{};
}

/// An int (or subclass, or any object with __index__) in 0 .. 2**64 - 1. O(1) for an int.
[[gnu::noinline]] inline std::uint64_t extract_u64(PyObject* obj) {
  if (PyLong_Check(obj)) return detail::long_to_u64(obj);
  PyRef index = PyRef::steal(PyNumber_Index(obj));
  if (!index) python_call_failed();
  return detail::long_to_u64(index.get());
}

/// A float, or anything with __float__ or __index__. O(1) for a float.
[[gnu::noinline]] inline double extract_f64(PyObject* obj) {
  if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
  double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) python_call_failed();
  return v;
}

/// 64-bit values with room for a few inline, so that a typical qubit list converts without
/// allocating.
class U64List {
 public:
  void push_back(std::uint64_t v) {
    if (size_ < kInline) {
      inline_[size_++] = v;
      return;
    }
    if (size_ == kInline) heap_.assign(inline_, inline_ + kInline);
    heap_.push_back(v);
    ++size_;
  }
  void reserve(std::size_t n) {
    if (n > kInline) heap_.reserve(n);
  }
  std::span<const std::uint64_t> view() const noexcept {
    return size_ <= kInline ? std::span<const std::uint64_t>(inline_, size_)
                            : std::span<const std::uint64_t>(heap_);
  }

 private:
  static constexpr std::size_t kInline = 4;
  std::uint64_t inline_[kInline];
  std::size_t size_ = 0;
  std::vector<std::uint64_t> heap_;
};

/// Item conversions for extract_sequence: `convert`, and `inert`, true where converting the object
/// runs no Python code.
struct U64Item {
  static std::uint64_t convert(PyObject* obj) { return extract_u64(obj); }
  static bool inert(PyObject* obj) { return PyLong_CheckExact(obj); }
};
struct F64Item {
  static double convert(PyObject* obj) { return extract_f64(obj); }
  static bool inert(PyObject* obj) { return PyFloat_CheckExact(obj); }
};

/// Any sequence except a str (list, tuple, range, bytes, bytearray, ...), each item converted by
/// `Item`, into an `Out` (with reserve and push_back). The length is a capacity hint only. O(len).
/// Inlined into each list conversion below, so that each is one function as measured.
template <class Item, class Out>
[[gnu::always_inline]] inline Out extract_sequence(PyObject* obj) {
  if (PyUnicode_Check(obj)) {
    raise_str_to_vec();
    throw PythonErrorSet{};
  }
  Out out;
  if (PyList_CheckExact(obj)) {
    detail::extract_items<true, Item>(obj, out);
    return out;
  }
  if (PyTuple_CheckExact(obj)) {
    detail::extract_items<false, Item>(obj, out);
    return out;
  }
  if (!PySequence_Check(obj)) {
    PyObject* sequence_abc = detail::sequence_abc_cell.get_or_init(detail::create_sequence_abc);
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
    out.reserve(static_cast<std::size_t>(std::min(length, detail::kMaxReserved)));
  }
  PyRef iter = PyRef::steal(PyObject_GetIter(obj));
  if (!iter) python_call_failed();
  while (PyRef item = PyRef::steal(PyIter_Next(iter.get()))) out.push_back(Item::convert(item.get()));
  if (PyErr_Occurred()) python_call_failed();
  return out;
}

/// A sequence of ints except a str (see extract_sequence). O(len).
[[gnu::noinline]] inline U64List extract_u64_list(PyObject* obj) {
  return extract_sequence<U64Item, U64List>(obj);
}

/// A sequence of floats (or of anything extract_f64 takes) except a str. O(len).
[[gnu::noinline]] inline std::vector<double> extract_f64_list(PyObject* obj) {
  return extract_sequence<F64Item, std::vector<double>>(obj);
}

/// Replaces the pending exception of a failed conversion of parameter `name` by the one the caller
/// sees: an exact TypeError gains the prefix "argument '{name}': "; anything else stays as it is.
[[gnu::noinline]] inline void argument_extraction_error(const char* name) {
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

/// `extract(obj)` as the argument for parameter `name`: a conversion that fails ends the call with
/// the exception argument_extraction_error makes of it.
template <class Extract>
auto extract_argument(const char* name, Extract extract, PyObject* obj) -> decltype(extract(obj)) {
  try {
    return extract(obj);
  } catch (const PythonErrorSet&) {
    argument_extraction_error(name);
    throw;
  }
}

/// As extract_argument for an optional parameter: `fallback` when it was left out (null slot).
template <class Extract, class T>
auto extract_optional(const char* name, Extract extract, PyObject* obj, T fallback)
    -> decltype(extract(obj)) {
  if (obj == nullptr) return fallback;
  return extract_argument(name, extract, obj);
}

}  // namespace tarvex::kit
