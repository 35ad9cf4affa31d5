#!/usr/bin/env bash
# Sets up everything the tests need and runs every test: the core's unit tests (ctest); the pytest
# suite on CPython 3.13, 3.14, 3.15 and a free-threaded 3.13; the leak and allocation-failure
# tests on debug builds of 3.13, 3.14 and 3.15; the Qiskit plugin's build and tests on 3.13, 3.14
# and 3.15 (Qiskit has no free-threaded wheel); and the tests under AddressSanitizer and UBSan.
# The free-threaded and debug 3.13 are built once into ~/.cache/tarvex (TARVEX_CACHE) by
# tools/build-python.sh. 3.14 and 3.15 are Debian unstable's packages, which run only on that
# suite's libc, so they run in a Debian unstable root that tools/unstable-root.sh builds once into
# the same cache. Safe to run again; exits non-zero when any stage fails or is skipped.
#
# Three lanes run side by side, since most stages keep one core busy and the machine has two:
#   main      system packages, CPython 3.13, the core's unit tests, the sanitizers;
#   cpython   builds the free-threaded and the debug 3.13 and runs their stages;
#   unstable  builds the Debian unstable root and runs the 3.14 and 3.15 stages in it.
# The main lane prints as it goes. The other two write to build/test-logs/lane-*.log, print a line
# when one of their stages starts or ends, and their whole output follows when they finish.
# Quiet steps (builds) write to a log of their own and print a line every 30 s naming it; a failed
# one prints the end of its log. Every stage that cannot run says why.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=progress.sh
. tools/progress.sh
# shellcheck source=debian-apt.sh
. tools/debian-apt.sh
log() { echo "test: $*" >&2; }

logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
results=$logs/stages.tsv  # name, passed|FAILED|skipped, wall s, CPU s, reason, lane
: >"$results"
exec 3>&1  # the terminal, for the side lanes' stage lines
lane_name=main

# ---------------------------------------------------------------------------------------------
# Stages. Each is recorded in $results, where stages of any lane can look up how another went.

say() {  # say LINE: to this lane's output, and from a side lane to the terminal as well
  echo "$*"
  [ "$lane_name" = main ] || echo "[$lane_name] $*" >&3
}
record() { printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@" "$lane_name" >>"$results"; }
status_of() { awk -F'\t' -v name="$1" '$1 == name { s = $2 } END { print s }' "$results"; }
# cpu_now: sets $cpu to the CPU time (user and system, in s) of the finished child processes of
# this shell. `times` runs in this shell, not in a command substitution, whose fresh process would
# have no children to count.
cpu_now() {
  times >"$logs/times-$lane_name"
  cpu=$(awk 'NR == 2 { t = 0; for (i = 1; i <= 2; i++) { split($i, p, "m"); t += p[1] * 60 + p[2] }
    printf "%d", t }' "$logs/times-$lane_name")
}

stage() {  # stage NAME COMMAND...: runs one stage and records how it went; returns its status
  local name=$1 began=$SECONDS cpu cpu_before
  shift
  cpu_now
  cpu_before=$cpu
  say "==> $name"
  echo "$name" >"$logs/lane-$lane_name.current"
  if "$@"; then
    cpu_now
    say "<== $name: passed in $((SECONDS - began)) s"
    record "$name" passed $((SECONDS - began)) $((cpu - cpu_before)) ""
    return 0
  fi
  cpu_now
  say "<== $name: FAILED after $((SECONDS - began)) s"
  record "$name" FAILED $((SECONDS - began)) $((cpu - cpu_before)) ""
  return 1
}

skip() {  # skip NAME REASON: a stage that cannot run, and why
  say "==> $1: skipped: $2"
  record "$1" skipped 0 0 "$2"
}

not_applicable() {  # not_applicable NAME REASON: a stage that has nothing to run here by design
  say "==> $1: not applicable: $2"
  record "$1" "n/a" 0 0 "$2"
}

# because STAGE: "'STAGE' failed" (or "was skipped"), the reason given for a stage skipped after it.
because() {
  case $(status_of "$1") in
    FAILED) echo "because '$1' failed" ;;
    skipped) echo "because '$1' was skipped" ;;
    *) echo "because '$1' did not run" ;;
  esac
}

await() {  # await STAGE: waits until STAGE, run by another lane, has a result
  until [ -n "$(status_of "$1")" ]; do sleep 2; done
}

quietly() {  # quietly LOGNAME COMMAND...: a quiet step, its output in $logs/LOGNAME.log
  local logfile=$logs/$1.log
  shift
  logged "$(cat "$logs/lane-$lane_name.current")" "$logfile" "$@" && return 0
  echo "---- the last lines of $logfile:"
  tail -n 40 "$logfile"
  return 1
}

# ---------------------------------------------------------------------------------------------
# The module in an interpreter. A stage runs on this machine ("host") or in the Debian unstable
# root ("root"); the checkout is at the same path in both.

within() {  # within host|root COMMAND...
  local where=$1
  shift
  if [ "$where" = root ]; then
    tools/unstable-root.sh run "$@"
  else
    "$@"
  fi
}

# build_in WHERE PYTHON VENV: builds and installs the module, warnings as errors, into VENV made
# with PYTHON (empty: a CPython 3.13 of the machine). Only wheels are taken for the test tools:
# some of their newest releases have no wheel for the newer interpreters, and their source
# distributions need toolchains and downloads this machine lacks.
build_in() {
  quietly "build-$(basename "${3#.}")" within "$1" env PIP_ONLY_BINARY=:all: \
    PYTHONWARNINGS=ignore::ResourceWarning tools/dev-env.sh "$3" "$2"
}

# pytest_in WHERE VENV FUZZ_SCALE [ARGS...]: pytest in VENV, on ARGS or the whole suite. The
# generated-input tests run FUZZ_SCALE times their length: in full once, on CPython 3.13, and
# shorter where a stage repeats them.
pytest_in() {
  local where=$1 venv=$2 scale=$3
  shift 3
  [ $# -gt 0 ] || set -- tests
  within "$where" env TARVEX_FUZZ_SCALE="$scale" "$venv/bin/python" -m pytest -q \
    -p no:cacheprovider "$@"
}

# debug_tests: what a debug build adds to the suite: the leak test that reads the interpreter's
# reference total (the resident-size leak test runs on the release builds), and the
# allocation-failure tests, which need _testcapi: test modules named for memory or marked nomemory.
debug_tests() {
  local file
  echo tests/test_leaks.py::test_no_reference_is_left_behind
  for file in tests/test_*.py; do
    [ "$file" != tests/test_leaks.py ] || continue
    case $file in
      tests/test_*memory*.py) echo "$file" ;;
      *) if grep -q nomemory "$file"; then echo "$file"; fi ;;
    esac
  done
}

# interpreter_stages LABEL WHERE PYTHON VENV FUZZ_SCALE suite|debug: the module built with one
# interpreter, then the suite or (debug) the debug builds' tests on it.
interpreter_stages() {
  local label=$1 where=$2 python=$3 venv=$4 scale=$5 what=$6 tests_name tests=()
  if [ "$what" = debug ]; then
    tests_name="leak and allocation tests ($label)"
    mapfile -t tests < <(debug_tests)
  else
    tests_name="pytest ($label)"
  fi
  if stage "build ($label)" build_in "$where" "$python" "$venv"; then
    stage "$tests_name" pytest_in "$where" "$venv" "$scale" "${tests[@]}"
  else
    skip "$tests_name" "the module missing $(because "build ($label)")"
  fi
}

# skip_interpreter LABEL suite|debug REASON: both stages of an interpreter that is not there.
skip_interpreter() {
  skip "build ($1)" "$3"
  if [ "$2" = debug ]; then skip "leak and allocation tests ($1)" "$3"; else skip "pytest ($1)" "$3"; fi
}

# package_stages PACKAGE DIR LABEL WHERE VENV: another distribution of this repository (a plugin),
# installed into an interpreter's venv after the module and tested with its own tests, e.g.
#   package_stages tarvex-qiskit plugins/qiskit "CPython 3.14" root .venv-3.14
# after that interpreter's interpreter_stages, in the same lane.
package_stages() {
  local package=$1 dir=$2 label=$3 where=$4 venv=$5
  if [ "$(status_of "build ($label)")" != passed ]; then
    skip "build ($package, $label)" "the module missing $(because "build ($label)")"
    skip "pytest ($package, $label)" "$package missing $(because "build ($label)")"
    return 1
  fi
  if stage "build ($package, $label)" quietly "build-$package-${venv#.}" \
    within "$where" env PIP_ONLY_BINARY=:all: "$venv/bin/python" -m pip install "$dir"; then
    stage "pytest ($package, $label)" pytest_in "$where" "$venv" 0.25 "$dir/tests"
  else
    skip "pytest ($package, $label)" "$package missing $(because "build ($package, $label)")"
  fi
}

# qiskit_plugin_stages LABEL WHERE VENV: the Qiskit plugin (its build pulls the pinned Qiskit
# series into VENV) and its tests.
qiskit_plugin_stages() { package_stages tarvex-qiskit plugins/qiskit "$@"; }

# ---------------------------------------------------------------------------------------------
# The lanes.

have_build_tools() { command -v cmake >/dev/null && command -v g++ >/dev/null; }
have_gtest() { [ -f /usr/include/gtest/gtest.h ]; }

# host_stage NAME gtest|- COMMAND...: a stage that needs the system packages (cmake, g++ and, when
# asked, GoogleTest): skipped with the reason when they are missing.
host_stage() {
  local name=$1 gtest=$2
  shift 2
  if ! have_build_tools; then
    skip "$name" "cmake or g++ missing $(because "system packages")"
  elif [ "$gtest" = gtest ] && ! have_gtest; then
    skip "$name" "GoogleTest missing $(because "system packages")"
  else
    stage "$name" "$@"
  fi
}

core_tests() {
  quietly build-cpp bash -c 'cmake -S . -B build/cpp -DTARVEX_BUILD_EXTENSION=OFF \
      -DTARVEX_BUILD_TESTS=ON -DTARVEX_WERROR=ON -DCMAKE_BUILD_TYPE=Debug &&
    cmake --build build/cpp -j2' &&
    (cd build/cpp && ctest --output-on-failure)
}

main_lane() {
  stage "system packages" apt_install libgtest-dev cmake g++
  if host_stage "build (CPython 3.13)" - build_in host "" .venv; then
    stage "pytest (CPython 3.13)" pytest_in host .venv 1
  else
    skip "pytest (CPython 3.13)" "the module missing $(because "build (CPython 3.13)")"
  fi
  host_stage "core unit tests (ctest)" gtest core_tests
  # The sanitizer stage is the longest. Its generated-input tests repeat, much slower, what ran in
  # full on CPython 3.13, so they run at a quarter length; the typing tests run mypy on the stubs,
  # where the sanitizers have nothing to find, and run on every other interpreter.
  host_stage "sanitizers (ASan, UBSan)" gtest env TARVEX_FUZZ_SCALE=0.25 tools/sanitize.sh tests \
    --ignore=tests/test_typing.py
}

cpython_lane() {
  local flavour label venv what python stage_name
  for flavour in ft debug; do
    case $flavour in
      ft) label="free-threaded CPython 3.13" venv=.venv-ft what=suite ;;
      debug) label="debug CPython 3.13" venv=.venv-debug what=debug ;;
    esac
    if ! stage "interpreter ($label)" quietly "interpreter-$flavour" tools/build-python.sh "$flavour"
    then
      skip_interpreter "$label" $what "the interpreter missing $(because "interpreter ($label)")"
      continue
    fi
    python=$(tail -n1 "$logs/interpreter-$flavour.log")
    await "system packages"
    if have_build_tools; then
      interpreter_stages "$label" host "$python" "$venv" 0.25 $what
    else
      skip_interpreter "$label" $what "cmake or g++ missing $(because "system packages")"
    fi
    if [ $flavour = ft ]; then
      for stage_name in "build (tarvex-qiskit, $label)" "pytest (tarvex-qiskit, $label)"; do
        not_applicable "$stage_name" "Qiskit publishes no wheel for free-threaded CPython"
      done
    fi
  done
  # The plugin goes into the main lane's .venv once the suite there is done (so nothing is
  # installed under a running suite); it runs in this lane, which is the shortest once the
  # interpreters are cached.
  await "pytest (CPython 3.13)"
  qiskit_plugin_stages "CPython 3.13" host .venv
}

unstable_lane() {
  local version
  if ! stage "Debian unstable root" quietly unstable-root tools/unstable-root.sh build; then
    for version in 3.14 3.15; do
      skip_interpreter "CPython $version" suite "CPython $version missing $(because "Debian unstable root")"
      skip_interpreter "debug CPython $version" debug \
        "CPython $version missing $(because "Debian unstable root")"
      skip "build (tarvex-qiskit, CPython $version)" \
        "CPython $version missing $(because "Debian unstable root")"
      skip "pytest (tarvex-qiskit, CPython $version)" \
        "CPython $version missing $(because "Debian unstable root")"
    done
    return
  fi
  for version in 3.14 3.15; do
    interpreter_stages "CPython $version" root "python$version" ".venv-$version" 0.25 suite
    qiskit_plugin_stages "CPython $version" root ".venv-$version"
    interpreter_stages "debug CPython $version" root "python${version}d" ".venv-${version}d" 1 debug
  done
}

lane() {  # lane NAME FUNCTION: runs FUNCTION in the background, its output in lane-NAME.log
  (
    lane_name=$1
    "$2"
  ) >"$logs/lane-$1.log" 2>&1 </dev/null &
  lane_pids+=($!)
  lane_names+=("$1")
}

began=$SECONDS
lane_pids=()
lane_names=()
lane unstable unstable_lane
lane cpython cpython_lane
# In a subshell of its own, so that the CPU time of the side lanes, which this shell collects when
# they end, is not counted to a stage of the main lane.
(main_lane)

for i in "${!lane_pids[@]}"; do
  name=${lane_names[$i]}
  waited=$SECONDS
  while kill -0 "${lane_pids[$i]}" 2>/dev/null; do
    sleep 2
    if [ $((SECONDS - waited)) -ge 30 ]; then
      echo "... waiting for lane $name: '$(cat "$logs/lane-$name.current")' is running" \
        "(log: $logs/lane-$name.log)"
      waited=$SECONDS
    fi
  done
  wait "${lane_pids[$i]}"
  echo
  echo "======== lane $name ($logs/lane-$name.log)"
  cat "$logs/lane-$name.log"
done

echo
echo "======== stages: wall time, CPU time ($((SECONDS - began)) s in all)"
for name in main "${lane_names[@]}"; do
  echo "  lane $name:"
  awk -F'\t' -v lane="$name" '$6 == lane {
    printf "    %-8s %5d s %5d s  %s%s\n", $2, $3, $4, $1, ($5 == "" ? "" : ": " $5) }' "$results"
done
passed=$(awk -F'\t' '$2 == "passed"' "$results" | wc -l)
failed=$(awk -F'\t' '$2 == "FAILED"' "$results" | wc -l)
skipped=$(awk -F'\t' '$2 == "skipped"' "$results" | wc -l)
excluded=$(awk -F'\t' '$2 == "n/a"' "$results" | wc -l)
echo "stages: $passed passed, $failed failed, $skipped skipped, $excluded not applicable"
[ "$failed" -eq 0 ] && [ "$skipped" -eq 0 ]
