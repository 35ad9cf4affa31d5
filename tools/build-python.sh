#!/usr/bin/env bash
# Builds CPython 3.13 from the python3.13 source package of Debian 13 (trixie) into a cache folder
# outside the repository and prints the path of its python executable as the last line of output.
# Usage: tools/build-python.sh ft|debug [--built]
#   --built   only prints the path of a finished build, builds nothing, and fails if there is none
#   ft     free-threaded build (--disable-gil)                        -> $TARVEX_CACHE/python-3.13t
#   debug  debug build (--with-pydebug: reference totals; _testcapi)   -> $TARVEX_CACHE/python-3.13d
# TARVEX_CACHE defaults to ~/.cache/tarvex. A finished build is reused: a second run only prints
# the path. A finished build records its configure options beside its stamp, so that a build made
# with other options (by an older version of this script) is made again. Progress goes to
# standard error, the interpreter's path alone to standard output.
# The source is fetched with apt from the mirror that the machine's apt configuration names, using
# a private sources list and list directory, so the machine's own apt state is not touched.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=debian-apt.sh
. "$tools/debian-apt.sh"
# shellcheck source=progress.sh
. "$tools/progress.sh"

# The debug interpreter gets CPython's test modules, for _testcapi, which the allocation-failure
# tests use; CPython's own test package is not installed with them (TEST_MODULES=no at install),
# which would about double the install time.
flavour=${1:-}
case "$flavour" in
  ft) configure_flags=(--with-ensurepip=install --disable-test-modules --disable-gil); suffix=t ;;
  debug) configure_flags=(--with-ensurepip=install --with-pydebug); suffix=d ;;
  *) echo "usage: $0 ft|debug" >&2; exit 2 ;;
esac

cache=${TARVEX_CACHE:-$HOME/.cache/tarvex}
prefix=$cache/python-3.13$suffix
# The stamp holds the python path alone, as older versions of this script expect to find it.
stamp=$prefix/.tarvex-build-complete
options_file=$prefix/.tarvex-configure-options
options="${configure_flags[*]}"
log() { echo "build-python: $*" >&2; }
finished() {
  [ -f "$stamp" ] && [ -x "$(cat "$stamp")" ] && [ "$(cat "$options_file" 2>/dev/null)" = "$options" ]
}

# Fast path without taking the lock.
if finished; then
  cat "$stamp"
  exit 0
fi
if [ "${2:-}" = --built ]; then
  log "no finished $flavour build at $prefix (tools/build-python.sh $flavour builds it)"
  exit 1
fi

mkdir -p "$cache"
exec 9>"$cache/.build-python.lock"
flock 9  # one build at a time per cache, also across concurrent runs
if finished; then
  cat "$stamp"
  exit 0
fi

fetch_source() {  # downloads the trixie python3.13 source package into $cache/src
  local srcdir=$cache/src
  if compgen -G "$srcdir/python3.13_*.orig.tar.xz" >/dev/null; then return 0; fi
  local info uri key
  info=$(main_archive)
  uri=$(sed -n 1p <<<"$info")
  key=$(sed -n 2p <<<"$info")
  [ -n "$uri" ] || { log "no Debian archive found in the apt configuration"; return 1; }
  [ -n "$key" ] || key=/usr/share/keyrings/debian-archive-keyring.gpg
  local aptdir=$cache/apt opts
  rm -rf "$aptdir" "$srcdir.part"
  mkdir -p "$srcdir.part"
  mapfile -t opts < <(private_apt_options "$aptdir")
  cat >"$aptdir/parts/trixie-src.sources" <<EOF
Types: deb-src
URIs: $uri
Suites: trixie
Components: main
Signed-By: $key
EOF
  log "fetching the python3.13 source package of trixie"
  apt-get "${opts[@]}" update >&2
  (cd "$srcdir.part" && apt-get "${opts[@]}" source --download-only python3.13 >&2)
  rm -rf "$srcdir" "$aptdir"
  mv "$srcdir.part" "$srcdir"
}

apt_install build-essential pkg-config xz-utils libssl-dev zlib1g-dev libffi-dev libbz2-dev \
  liblzma-dev libsqlite3-dev uuid-dev libreadline-dev libncurses-dev
fetch_source

# The upstream tarball of the source package; Debian's own patches adapt the interpreter to the
# system layout (dist-packages, ensurepip from system wheels) and are not wanted for a private prefix.
tarball=$(compgen -G "$cache/src/python3.13_*.orig.tar.xz" | head -n1)
build=$cache/build-$flavour
rm -rf "$build" "$prefix"
mkdir -p "$build"
log "building $(basename "$tarball") ($flavour) in $build, log in $build.log"
start=$SECONDS
tar -xJf "$tarball" -C "$build" --strip-components=1
step() {  # step NAME COMMAND...: runs one build step in the build folder, output to the log
  local name=$1 began=$SECONDS; shift
  if ! logged "build-python: $name ($flavour)" "$build.log" bash -c 'cd "$1" && shift && exec "$@"' \
    bash "$build" "$@"; then
    tail -n 40 "$build.log" >&2
    log "$name failed, see $build.log"
    exit 1
  fi
  log "$name: $((SECONDS - began)) s"
}
: >"$build.log"
step configure ./configure --prefix="$prefix" "${configure_flags[@]}"
step make make -j2
step install make install TEST_MODULES=no

python=$prefix/bin/python3.13
[ -x "$python" ] || python=$(compgen -G "$prefix/bin/python3.13*" | head -n1)
# The modules pip needs must have been built, and the flavour must be the one asked for.
"$python" - "$flavour" <<'EOF' >&2
import sys, sysconfig
import ctypes, ssl, zlib, bz2, lzma, sqlite3, pip  # noqa: F401
flavour = sys.argv[1]
if flavour == "ft":
    assert sysconfig.get_config_var("Py_GIL_DISABLED") == 1, "GIL not disabled"
else:
    assert hasattr(sys, "gettotalrefcount"), "no sys.gettotalrefcount"
print(sys.version)
EOF
rm -rf "$build"
echo "$options" >"$options_file"
echo "$python" >"$stamp"
log "done in $((SECONDS - start)) s"
echo "$python"
