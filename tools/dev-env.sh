#!/usr/bin/env bash
# Creates (or reuses) a Python 3.13 virtual environment and builds and installs tarvex into it.
# Usage: tools/dev-env.sh [VENV_DIR] [PYTHON]   (defaults: .venv, a CPython 3.13 found on the machine)
set -euo pipefail
cd "$(dirname "$0")/.."
venv=${1:-.venv}
python=${2:-}
if [ -z "$python" ]; then
  for candidate in python3.13 "$HOME/.pyenv/versions/3.13.0/bin/python3.13" /usr/bin/python3.13; do
    if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c 'import sys; assert sys.version_info[:2] >= (3, 13)' 2>/dev/null; then
      python=$candidate
      break
    fi
  done
fi
[ -n "$python" ] || { echo "no CPython 3.13 found" >&2; exit 1; }
if [ ! -x "$venv/bin/python" ]; then
  "$python" -m venv "$venv"
fi
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check --upgrade pip
# Pinned: later releases of both need a Rust toolchain to build on the free-threaded interpreter.
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check \
  "scikit-build-core>=0.10" "pytest>=8" "hypothesis==6.155.7" "mypy==1.18.2"
tag=$(basename "$venv")
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-build-isolation \
  -Cbuild-dir="build/$tag" -Ccmake.define.TARVEX_WERROR=ON ${TARVEX_PIP_EXTRA:-} .
