#!/usr/bin/env bash
# Builds CPython 3.13 from the python3.13 source package of Debian 13 (trixie) into a cache folder
# outside the repository and prints the path of its python executable as the last line of output.
# Usage: tools/build-python.sh ft|debug
#   ft     free-threaded build (--disable-gil)       -> $TARVEX_CACHE/python-3.13t
#   debug  debug build (--with-pydebug, refcounts)   -> $TARVEX_CACHE/python-3.13d
# TARVEX_CACHE defaults to ~/.cache/tarvex. A finished build is reused: a second run only prints
# the path. Progress goes to standard error, the interpreter's path alone to standard output.
# The source is fetched with apt from the mirror that the machine's apt configuration names, using
# a private sources list and list directory, so the machine's own apt state is not touched.
set -euo pipefail

flavour=${1:-}
case "$flavour" in
  ft) configure_flags=(--disable-gil); suffix=t ;;
  debug) configure_flags=(--with-pydebug); suffix=d ;;
  *) echo "usage: $0 ft|debug" >&2; exit 2 ;;
esac

cache=${TARVEX_CACHE:-$HOME/.cache/tarvex}
prefix=$cache/python-3.13$suffix
stamp=$prefix/.tarvex-build-complete
log() { echo "build-python: $*" >&2; }

# Fast path without taking the lock.
if [ -f "$stamp" ] && [ -x "$(cat "$stamp")" ]; then
  cat "$stamp"
  exit 0
fi

mkdir -p "$cache"
exec 9>"$cache/.build-python.lock"
flock 9  # one build at a time per cache, also across concurrent runs
if [ -f "$stamp" ] && [ -x "$(cat "$stamp")" ]; then
  cat "$stamp"
  exit 0
fi

apt_install() {  # apt_install PACKAGE...: installs those of the packages that are missing
  local missing=() pkg
  for pkg in "$@"; do
    dpkg -s "$pkg" 2>/dev/null | grep -q '^Status: install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  apt-get -o DPkg::Lock::Timeout=600 update -qq >&2
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}" >&2
}

# The deb822 stanza of the machine's main archive (the one that carries the release's own suite):
# prints its first URI and its keyring.
main_archive() {
  local codename sources=/etc/apt/sources.list.d/debian.sources
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  if [ -f "$sources" ]; then
    awk -v suite="$codename" 'BEGIN { RS = ""; FS = "\n" }
      {
        types = uris = suites = key = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^Types:/) types = " " substr($i, 7) " "
          else if ($i ~ /^URIs:/) uris = substr($i, 6)
          else if ($i ~ /^Suites:/) suites = " " substr($i, 8) " "
          else if ($i ~ /^Signed-By:/) key = substr($i, 11)
        }
        gsub(/[ \t]+/, " ", suites); gsub(/[ \t]+/, " ", types)
        if (types ~ / deb / && suites ~ (" " suite " ")) {
          split(uris, u, " "); sub(/^[ \t]+/, "", key)
          print u[1] ? u[1] : u[2]; print key; exit
        }
      }' "$sources"
  elif [ -f /etc/apt/sources.list ]; then
    awk -v suite="$codename" '$1 == "deb" && $0 ~ (" " suite " ") {
        key = ""; uri = ""
        for (i = 2; i <= NF; i++) {
          if ($i ~ /^\[?signed-by=/) { key = $i; sub(/^\[?signed-by=/, "", key); sub(/\]$/, "", key) }
          else if ($i ~ /^[a-z+]+:\/\//) { uri = $i; break }
        }
        print uri; print key; exit
      }' /etc/apt/sources.list
  fi
}

fetch_source() {  # downloads the trixie python3.13 source package into $cache/src
  local srcdir=$cache/src
  if compgen -G "$srcdir/python3.13_*.orig.tar.xz" >/dev/null; then return 0; fi
  local info uri key
  info=$(main_archive)
  uri=$(sed -n 1p <<<"$info")
  key=$(sed -n 2p <<<"$info")
  [ -n "$uri" ] || { log "no Debian archive found in the apt configuration"; return 1; }
  [ -n "$key" ] || key=/usr/share/keyrings/debian-archive-keyring.gpg
  local aptdir=$cache/apt
  rm -rf "$aptdir" "$srcdir.part"
  mkdir -p "$aptdir/parts" "$aptdir/lists/partial" "$aptdir/cache" "$srcdir.part"
  cat >"$aptdir/parts/trixie-src.sources" <<EOF
Types: deb-src
URIs: $uri
Suites: trixie
Components: main
Signed-By: $key
EOF
  local opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$aptdir/parts"
    -o "Dir::State::Lists=$aptdir/lists" -o "Dir::Cache=$aptdir/cache"
    -o APT::Sandbox::User=root -qq)
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
  if ! (cd "$build" && "$@") >>"$build.log" 2>&1; then
    tail -n 40 "$build.log" >&2
    log "$name failed, see $build.log"
    exit 1
  fi
  log "$name: $((SECONDS - began)) s"
}
: >"$build.log"
step configure ./configure --prefix="$prefix" --with-ensurepip=install --disable-test-modules \
  "${configure_flags[@]}"
step make make -j2
step install make install

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
echo "$python" >"$stamp"
log "done in $((SECONDS - start)) s"
echo "$python"
