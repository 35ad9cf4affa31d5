// Binding of call arguments to parameters, and conversion of Python arguments to native values.
//
// Every function here either succeeds or throws (see panic.hpp): PythonErrorSet with the caller's
// exception pending, a Fault for a PanicException that came back from Python code, std::bad_alloc.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "graph/vocabulary.hpp"
#include "python/panic.hpp"

namespace tarvex::py {

/// The constant parameter list of one method; every parameter is required and may be passed by
/// position or by keyword.
struct FunctionDescription {
  const char* full_name;  // "QuantumDAG.add_gate()": the start of every binding message
  std::span<const char* const> parameter_names;
};

/// Binds any vectorcall argument array that is not every parameter by position. See below.
void extract_arguments_fastcall_general(const FunctionDescription& desc, PyObject* const* args,
                                        Py_ssize_t n_positional, PyObject* kwnames, PyObject** slots);

/// Binds a vectorcall argument array; fills `slots` (one per parameter) with borrowed references.
/// O(1) when every parameter comes by position, else O(parameters x keywords).
inline void extract_arguments_fastcall(const FunctionDescription& desc, PyObject* const* args,
                                       Py_ssize_t nargsf, PyObject* kwnames, PyObject** slots) {
  const Py_ssize_t n_positional = PyVectorcall_NARGS(nargsf);
  // The common call: every parameter by position.
  if (kwnames == nullptr && static_cast<std::size_t>(n_positional) == desc.parameter_names.size())
      [[likely]] {
    std::copy(args, args + n_positional, slots);
    return;
  }
  extract_arguments_fastcall_general(desc, args, n_positional, kwnames, slots);
}

/// Binds a positional tuple and keyword dict (or null) the same way; for the constructor.
void extract_arguments_tuple_dict(const FunctionDescription& desc, PyObject* args, PyObject* kwargs,
                                  PyObject** slots);

/// A str (or subclass) as its UTF-8 bytes, NULs included. The view lives as long as `obj`. O(1)
/// once the str has cached its UTF-8, else O(len).
std::string_view extract_str(PyObject* obj);
/// An int (or subclass, or any object with __index__) in 0 .. 2**64 - 1. O(1) for an int.
std::uint64_t extract_u64(PyObject* obj);
/// A float, or anything with __float__ or __index__. O(1) for a float.
double extract_f64(PyObject* obj);

/// Qubit indices with room for a few inline, so that a typical gate converts without allocating.
class QubitBuffer {
 public:
  void push_back(Qubit q) {
    if (size_ < kInline) {
      inline_[size_++] = q;
      return;
    }
    if (size_ == kInline) heap_.assign(inline_, inline_ + kInline);
    heap_.push_back(q);
    ++size_;
  }
  void reserve(std::size_t n) {
    if (n > kInline) heap_.reserve(n);
  }
  std::span<const Qubit> view() const noexcept {
    return size_ <= kInline ? std::span<const Qubit>(inline_, size_) : std::span<const Qubit>(heap_);
  }

 private:
  static constexpr std::size_t kInline = 4;
  Qubit inline_[kInline];
  std::size_t size_ = 0;
  std::vector<Qubit> heap_;
};

/// Any sequence of ints except a str: list, tuple, range, bytes, bytearray, ... O(len).
QubitBuffer extract_u64_list(PyObject* obj);

/// Replaces the pending exception of a failed conversion of parameter `name` by the one the caller
/// sees: an exact TypeError gains the prefix "argument '{name}': "; anything else stays as it is.
void argument_extraction_error(const char* name);

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

}  // namespace tarvex::py
