// Binding of call arguments to parameters, and conversion of Python arguments to native values.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "graph/vocabulary.hpp"

namespace tarvex::py {

/// The constant parameter list of one method; every parameter is required and may be passed by
/// position or by keyword.
struct FunctionDescription {
  const char* full_name;  // "QuantumDAG.add_gate()": the start of every binding message
  std::span<const char* const> parameter_names;
};

// Every function below returns false (or nullptr) with the interpreter's exception set on failure.

/// Binds a vectorcall argument array; fills `slots` (one per parameter) with borrowed references.
bool extract_arguments_fastcall(const FunctionDescription& desc, PyObject* const* args,
                                Py_ssize_t n_positional, PyObject* kwnames, PyObject** slots);
/// Binds a positional tuple and keyword dict (or null) the same way; for the constructor.
bool extract_arguments_tuple_dict(const FunctionDescription& desc, PyObject* args, PyObject* kwargs,
                                  PyObject** slots);

/// A str (or subclass) as its UTF-8 bytes, NULs included. The view lives as long as `obj`.
bool extract_str(PyObject* obj, std::string_view& out);
/// An int (or subclass, or any object with __index__) in 0 .. 2**64 - 1.
bool extract_u64(PyObject* obj, std::uint64_t& out);
/// A float, or anything with __float__ or __index__.
bool extract_f64(PyObject* obj, double& out);

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

/// Any sequence of ints except a str: list, tuple, range, bytes, bytearray, ...
bool extract_u64_list(PyObject* obj, QubitBuffer& out);

/// Replaces the pending exception of a failed conversion of parameter `name` by the one the caller
/// sees: an exact TypeError gains the prefix "argument '{name}': "; anything else stays as it is.
void argument_extraction_error(const char* name);

}  // namespace tarvex::py
