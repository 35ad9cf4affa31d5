#!/usr/bin/env bash
# Sets up the development environment (.venv, via tools/dev-env.sh) and runs the demonstration:
# a quantum Fourier transform scheduled, decoupled and drawn as two SVG timelines, then a circuit
# transpiled with Qiskit decoupled by Qiskit's passes and by the plugin tarvex_qiskit, compared
# and drawn, then a dynamic circuit decoupled by qiskit-ibm-runtime's passes (mended) and the
# plugin's, compared.
# Usage: tools/demo.sh [OUT_DIR] [OPTIONS]   (OPTIONS as `tools/demo.sh --help` lists them)
# Setup messages go to standard error, the demonstration's report to standard output. Each setup
# step writes its output to a log in build/demo-setup/, says every 30 s that it is still running,
# and shows the end of its log if it fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# --help needs no setup: the demonstration reads its options with the standard library alone, so
# any Python 3 prints them straight from the source file.
for arg in "$@"; do
  [ "$arg" = -- ] && break
  if [ "$arg" = -h ] || [ "$arg" = --help ]; then
    for py in python3 python3.{13..19} "$HOME/.pyenv/versions/3.13.0/bin/python3.13"; do
      command -v "$py" >/dev/null 2>&1 && exec "$py" "$root/tarvex/demo.py" "$@"
    done
  fi
done

logs=$root/build/demo-setup
mkdir -p "$logs"
ticker=
trap '[ -z "$ticker" ] || kill "$ticker" 2>/dev/null' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# step WHAT LOG COMMAND...: runs COMMAND with its output in LOG.
step() {
  local what=$1 log=$2 status=0
  shift 2
  echo "==> $what (log: $log)" >&2
  (
    trap '[ -z "${nap:-}" ] || kill "$nap" 2>/dev/null; exit 0' TERM
    waited=0
    while :; do
      sleep 30 &
      nap=$!
      wait "$nap"
      waited=$((waited + 30))
      echo "==> still $what after ${waited} s (log: $log)" >&2
    done
  ) &
  ticker=$!
  "$@" >"$log" 2>&1 || status=$?
  kill "$ticker" 2>/dev/null
  wait "$ticker" 2>/dev/null || true
  ticker=
  if [ "$status" -ne 0 ]; then
    echo "==> $what failed (exit status $status); the end of $log:" >&2
    tail -n 25 "$log" >&2
    exit "$status"
  fi
}

missing=()
for tool in cmake g++; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
install_missing() {
  apt-get -o DPkg::Lock::Timeout=600 update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}"
}
if [ ${#missing[@]} -ne 0 ]; then
  step "installing ${missing[*]}" "$logs/apt.log" install_missing
fi

# dev-env.sh takes a CPython 3.13 found on the machine; where there is none, it gets the
# free-threaded one that tools/build-python.sh builds once and caches (it prints the interpreter's
# path last).
python=()
if ! command -v python3.13 >/dev/null 2>&1 && [ ! -x "$HOME/.pyenv/versions/3.13.0/bin/python3.13" ] &&
  [ ! -x /usr/bin/python3.13 ]; then
  build_python() { "$root/tools/build-python.sh" ft >"$logs/python-path"; }
  step "no CPython 3.13 found: building one (tools/build-python.sh ft)" "$logs/build-python.log" \
    build_python
  python=("$(tail -n 1 "$logs/python-path")")
fi

step "setting up $root/.venv" "$logs/dev-env.log" "$root/tools/dev-env.sh" .venv "${python[@]}"
# The Qiskit parts need the pinned Qiskit series and the plugin with its ibm extra
# (qiskit-ibm-runtime, for the dynamic-circuit part); Qiskit publishes no wheel for a free-threaded
# interpreter, where the demonstration says the parts are skipped.
install_plugin() {
  local pip=("$root/.venv/bin/python" -m pip install --disable-pip-version-check)
  "${pip[@]}" "qiskit~=2.6.0" &&
    "${pip[@]}" --no-build-isolation -Cbuild-dir="$root/build/demo-qiskit-plugin" "$root/plugins/qiskit[ibm]"
}
if "$root/.venv/bin/python" -c 'import sys, sysconfig; sys.exit(0 if sysconfig.get_config_var("Py_GIL_DISABLED") else 1)'; then
  echo "==> no Qiskit plugin: Qiskit publishes no wheel for free-threaded CPython" >&2
else
  step "installing Qiskit, qiskit-ibm-runtime and the Qiskit plugin" "$logs/qiskit-plugin.log" install_plugin
fi
# Run from the caller's folder, so that a relative OUT_DIR means what the caller meant.
exec "$root/.venv/bin/python" -m tarvex.demo "$@"
