#!/usr/bin/env bash
# Runs the tests under AddressSanitizer and UndefinedBehaviorSanitizer:
#   1. the core's unit tests (ctest), built with the sanitizers, with leak detection on;
#   2. the whole pytest suite against an extension built with the sanitizers (debug build, so
#      assertions are on), installed into .venv-asan, with the ASan runtime preloaded into the
#      (uninstrumented) interpreter and Python's allocator switched to malloc so that ASan sees
#      every object allocation.
# Any sanitizer report fails the run, also one written by a subprocess that a test started:
# reports go to log files that are checked and printed at the end (in the core's unit tests UBSan
# writes to standard error, which ctest shows for the failing test).
# Tests marked `asan_incompatible` are deselected: they need what ASan cannot give, such as a
# failing allocation that throws (ASan's operator new aborts instead). None is marked now; the
# resident-size check of tests/test_leaks.py skips itself when it finds the ASan runtime loaded,
# since ASan's quarantine keeps freed memory resident.
# Usage: tools/sanitize.sh [PYTEST ARGS...]   (default: the whole suite)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

sanitizers=address,undefined
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-sanitize.XXXXXX")
trap 'rm -rf "$work"' EXIT
reports=$work/reports
mkdir -p "$reports" "$work/site"
failed=()
runtime() { readlink -f "$(g++ -print-file-name="$1")"; }  # runtime NAME: a runtime library's path

common_asan=detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
common_asan+=:halt_on_error=1:abort_on_error=1:print_summary=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Beside ASan, the UBSan runtime ignores log_path and writes to standard error, which pytest
# captures and loses when the process halts. Every interpreter of the pytest run (the run itself
# and the Python subprocesses that tests start) sets the UBSan report file at start-up instead.
cat >"$work/site/sitecustomize.py" <<'EOF'
import ctypes
import os

ctypes.CDLL(os.environ["TARVEX_UBSAN_RUNTIME"]).__sanitizer_set_report_path(
    os.environ["TARVEX_UBSAN_LOG"].encode()
)
EOF

echo "==> core unit tests (ctest, $sanitizers)"
if ! (
  cmake -S . -B build/cpp-asan -DTARVEX_BUILD_EXTENSION=OFF -DTARVEX_BUILD_TESTS=ON \
    -DTARVEX_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DTARVEX_SANITIZE=$sanitizers >/dev/null &&
    cmake --build build/cpp-asan -j2 &&
    cd build/cpp-asan &&
    ASAN_OPTIONS=$common_asan:detect_leaks=1:log_path=$reports/asan ctest --output-on-failure
); then
  failed+=("ctest")
fi

echo "==> build (.venv-asan, $sanitizers)"
if TARVEX_PIP_EXTRA="-Ccmake.define.TARVEX_SANITIZE=$sanitizers -Ccmake.build-type=Debug" \
  tools/dev-env.sh .venv-asan; then
  echo "==> pytest ($sanitizers)"
  # The ASan runtime must come first; the C++ runtime is preloaded with it so that ASan's
  # interceptor of __cxa_throw finds the real one at start-up, before the extension loads it.
  preload="$(runtime libasan.so) $(runtime libstdc++.so)"
  ubsan_runtime=$(runtime libubsan.so)
  # The interpreter is not instrumented and keeps memory alive until exit on purpose, so leaks
  # are not checked here; the core's leak check is the ctest run above.
  if ! LD_PRELOAD=$preload PYTHONMALLOC=malloc PYTHONPATH=$work/site${PYTHONPATH:+:$PYTHONPATH} \
    TARVEX_UBSAN_RUNTIME=$ubsan_runtime TARVEX_UBSAN_LOG=$reports/ubsan \
    ASAN_OPTIONS=$common_asan:detect_leaks=0:log_path=$reports/asan \
    .venv-asan/bin/python -m pytest -q -p no:cacheprovider -m "not asan_incompatible" \
    "${@:-tests}"; then
    failed+=("pytest")
  fi
else
  failed+=("build")
fi

if compgen -G "$reports/*" >/dev/null; then
  for report in "$reports"/*; do
    echo "==> sanitizer report $(basename "$report")"
    cat "$report"
  done
  failed+=("sanitizer reports")
fi

if [ ${#failed[@]} -ne 0 ]; then
  echo "sanitize: FAILED: ${failed[*]}"
  exit 1
fi
echo "sanitize: no sanitizer reports"
