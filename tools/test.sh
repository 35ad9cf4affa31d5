#!/usr/bin/env bash
# Sets up everything the tests need and runs every test: the core's unit tests (ctest) and the
# module's pytest suite. Safe to run again; exits non-zero when any stage fails.
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
stage() {  # stage NAME COMMAND...: runs one stage, remembers a failure and goes on
  local name=$1; shift
  echo "==> $name"
  if ! "$@"; then failed+=("$name"); fi
}

install_system_packages() {
  local missing=()
  for pkg in libgtest-dev cmake g++; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

core_tests() {
  cmake -S . -B build/cpp -DTARVEX_BUILD_EXTENSION=OFF -DTARVEX_BUILD_TESTS=ON \
    -DTARVEX_WERROR=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
    cmake --build build/cpp -j2 &&
    (cd build/cpp && ctest --output-on-failure)
}

stage "system packages" install_system_packages || true
stage "build (CPython 3.13)" tools/dev-env.sh .venv
stage "core unit tests (ctest)" core_tests
stage "pytest (CPython 3.13)" .venv/bin/python -m pytest -q -p no:cacheprovider tests

if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED stages: ${failed[*]}"
  exit 1
fi
echo "all stages passed"
