// The Qiskit C API as this extension includes it, and the per-file import it requires.
#pragma once

// Qiskit's header includes Python.h first, as the interpreter requires.
#define PY_SSIZE_T_CLEAN
#define QISKIT_PYTHON_EXTENSION
#include <qiskit.h>

// The header keeps the API's function table in file-local statics: every .cpp that calls a qk_*
// function must run qk_import() itself. Each such file exports one import function below, and
// the module's initialisation calls them all.
namespace tarvex::qiskit_plugin {

bool import_capi_for_dag_reader();
bool import_capi_for_circuit_reader();
bool import_capi_for_circuit_writer();
bool import_capi_for_conversions();
bool import_capi_for_gate_params();
bool import_capi_for_requests();

}  // namespace tarvex::qiskit_plugin
