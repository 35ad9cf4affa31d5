#!/usr/bin/env bash
# Prepares the benchmark environment: tarvex built into .venv-bench, Qiskit and numpy there, the
# benchmark-only call-floor extension and the Qiskit plugin (for benchmarks/qiskit_passes.py; its
# FakeFez table also needs qiskit-ibm-runtime).
# Qiskit is never a dependency of the module itself.
# Usage: benchmarks/setup.sh [VENV_DIR]   (default .venv-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
venv=${1:-.venv-bench}
tools/dev-env.sh "$venv"
pip=("$venv/bin/python" -m pip install --quiet --disable-pip-version-check)
"${pip[@]}" numpy "qiskit~=2.6.0" "qiskit-ibm-runtime~=0.51.0"
"${pip[@]}" --no-build-isolation -Cbuild-dir="$PWD/build/$(basename "$venv")-call-floor" ./benchmarks/call_floor
"${pip[@]}" --no-build-isolation -Cbuild-dir="$PWD/build/$(basename "$venv")-qiskit-plugin" ./plugins/qiskit
"$venv/bin/python" -c 'import _tarvex, _call_floor, qiskit, tarvex_qiskit; print("benchmark environment ready: qiskit", qiskit.__version__)'
