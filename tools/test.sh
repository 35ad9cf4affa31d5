#!/usr/bin/env bash
# Sets up everything the tests need and runs every test: the core's unit tests (ctest) and the
# module's pytest suite on CPython 3.13, then the suite on a free-threaded interpreter and on a
# debug interpreter (leak checks), and everything under AddressSanitizer and UBSan.
# The free-threaded and debug interpreters are built once into ~/.cache/tarvex (TARVEX_CACHE) by
# tools/build-python.sh and reused. Safe to run again; exits non-zero when any stage fails.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

failed=()
stage() {  # stage NAME COMMAND...: runs one stage, remembers a failure and goes on
  local name=$1 began=$SECONDS; shift
  echo "==> $name"
  if "$@"; then
    echo "<== $name: passed in $((SECONDS - began)) s"
    return 0
  fi
  echo "<== $name: FAILED after $((SECONDS - began)) s"
  failed+=("$name")
  return 1
}
skip() {  # skip NAME: a stage that cannot run because one it needs failed
  echo "==> $1: skipped"
  failed+=("$1 (skipped)")
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

# build_venv FLAVOUR VENV: builds the interpreter of that flavour if needed, then the venv with it.
# Only wheels are taken for the test tools: some of their newest releases have no wheel for these
# interpreters, and their source distributions need a toolchain and downloads this machine lacks.
build_venv() {
  local python
  python=$(tools/build-python.sh "$1") &&
    PIP_ONLY_BINARY=:all: PYTHONWARNINGS=ignore::ResourceWarning tools/dev-env.sh "$2" "$python"
}

pytest_in() {  # pytest_in VENV [ARGS...]
  local venv=$1; shift
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@"
}

stage "system packages" install_system_packages || true
stage "build (CPython 3.13)" tools/dev-env.sh .venv
built=$?
stage "core unit tests (ctest)" core_tests
if [ $built -eq 0 ]; then
  stage "pytest (CPython 3.13)" pytest_in .venv tests
else
  skip "pytest (CPython 3.13)"
fi

if stage "build (free-threaded CPython 3.13)" build_venv ft .venv-ft; then
  stage "pytest (free-threaded CPython 3.13)" pytest_in .venv-ft tests
else
  skip "pytest (free-threaded CPython 3.13)"
fi

# The debug interpreter counts every reference (sys.gettotalrefcount, which the leak tests use) and
# checks its own invariants. The generated-input tests already ran at full length above, so they
# run a quarter of their examples here.
if stage "build (debug CPython 3.13)" build_venv debug .venv-debug; then
  TARVEX_FUZZ_SCALE=0.25 stage "pytest with leak checks (debug CPython 3.13)" \
    pytest_in .venv-debug tests
else
  skip "pytest with leak checks (debug CPython 3.13)"
fi

stage "sanitizers (ASan, UBSan)" tools/sanitize.sh

if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED stages: ${failed[*]}"
  exit 1
fi
echo "all stages passed"
