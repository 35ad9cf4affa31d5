#!/usr/bin/env bash
# Sets up the development environment (.venv, via tools/dev-env.sh) and runs the demonstration:
# a quantum Fourier transform scheduled, decoupled and drawn as two SVG timelines.
# Usage: tools/demo.sh [OUT_DIR] [OPTIONS]   (OPTIONS as `tools/demo.sh --help` lists them)
# Setup messages go to standard error, the demonstration's report to standard output.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

missing=()
for tool in cmake g++; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "==> installing ${missing[*]}" >&2
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >&2
fi

# dev-env.sh takes a CPython 3.13 found on the machine; where there is none, it gets the
# free-threaded one that tools/build-python.sh builds once and caches.
python=()
if ! command -v python3.13 >/dev/null 2>&1 && [ ! -x "$HOME/.pyenv/versions/3.13.0/bin/python3.13" ] &&
  [ ! -x /usr/bin/python3.13 ]; then
  echo "==> no CPython 3.13 found: building one (tools/build-python.sh ft)" >&2
  python=("$("$root/tools/build-python.sh" ft)")
fi

echo "==> setting up $root/.venv" >&2
"$root/tools/dev-env.sh" .venv "${python[@]}" >&2
# Run from the caller's folder, so that a relative OUT_DIR means what the caller meant.
exec "$root/.venv/bin/python" -m tarvex.demo "$@"
