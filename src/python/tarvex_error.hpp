// TarvexError: the module's exception class for a call the graph's state cannot serve.
#pragma once

#include <Python.h>

namespace tarvex::py {

/// The TarvexError class (a subclass of Exception), created once per process on first use. A
/// borrowed reference; faults if the class cannot be created.
PyObject* tarvex_error_type();

}  // namespace tarvex::py
