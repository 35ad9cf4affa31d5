#!/usr/bin/env bash
# A minimal Debian unstable root for testing on the CPython releases that only that suite packages
# (3.14 and 3.15 with their debug builds, which need its libc): built once with debootstrap into
# the cache folder beside the interpreters, and entered for one command at a time.
# Usage:
#   tools/unstable-root.sh build            builds the root unless it is there; prints its path last
#   tools/unstable-root.sh run COMMAND...   runs COMMAND inside, in the current folder
#   tools/unstable-root.sh remove           deletes the root (the next build starts afresh)
# The root is $TARVEX_CACHE/debian-unstable (TARVEX_CACHE defaults to ~/.cache/tarvex). The build
# takes a few minutes, most of it downloading about 400 MB from the mirror that the machine's apt
# configuration names; progress goes to standard error. Nothing of the machine's own apt state is
# touched: debootstrap and the root's apt keep their state inside the root.
#
# `run` enters the root in a mount namespace of its own: /proc, a small /dev and the current folder
# (at the same path) are mounted there and vanish with the command, however it ends, so nothing of
# the machine stays bound into the cache. The command gets a clean environment: the machine's pip
# configuration names folders that exist only outside the root. Only the machine's CA bundle and
# resolver configuration are copied in, without which pip cannot reach the package index here.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=debian-apt.sh
. "$tools/debian-apt.sh"
log() { echo "unstable-root: $*" >&2; }
die() { log "$*"; exit 1; }

cache=${TARVEX_CACHE:-$HOME/.cache/tarvex}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd -P)
root=$cache/debian-unstable
base_stamp=$root/.tarvex-base-complete  # debootstrap finished
stamp=$root/.tarvex-root-complete       # everything installed and checked; holds the recipe
lock=$cache/.unstable-root.lock

# What goes into the root. A change here is installed into an existing root at the next build.
packages=(
  python3.14-dev python3.14-dbg python3.14-venv
  python3.15-dev python3.15-dbg python3.15-venv
  g++ make cmake
)
recipe="unstable minbase: ${packages[*]}"
# Added to the list after roots were made from it, and installed into a finished root without
# unmaking it: several checkouts share one cache, and a checkout whose list lacks these must still
# find the root finished (the stamp holds the recipe above) while another installs them.
# python3-orjson: CPython 3.15 has no orjson wheel on the package index, and the test command's
# 3.15 venvs copy Debian's build of it from /usr/lib/python3/dist-packages.
added_packages=(python3-orjson)
host_ca=${SSL_CERT_FILE:-/etc/ssl/certs/ca-certificates.crt}
ca_in_root=/etc/tarvex/host-ca-certificates.crt

base_complete() { [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; }

# added_missing: prints those of added_packages that the root's dpkg does not list as installed.
added_missing() {
  local pkg
  for pkg in "${added_packages[@]}"; do
    dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' "$pkg" 2>/dev/null |
      grep -q 'install ok installed' || echo "$pkg"
  done
}

complete() { base_complete && [ -z "$(added_missing)" ]; }

# install_in_root PACKAGE...: apt inside the root, which keeps its own lists and caches there.
install_in_root() {
  log "installing $*"
  enter "" apt-get -q update >&2
  enter "" env DEBIAN_FRONTEND=noninteractive apt-get -q install -y "$@" >&2
  enter "" apt-get clean >&2
}

# mounts_under DIR: mount points at or below DIR in this mount namespace, deepest first.
mounts_under() {
  awk -v dir="$1" '$5 == dir || index($5, dir "/") == 1 { print $5 }' /proc/self/mountinfo |
    sort -r
}

# remove_root: deletes the root. A recursive delete through a bound /dev or a bound checkout would
# delete the machine's device nodes or the checkout, so whatever is mounted below the root is
# unmounted first, the delete is refused if anything still is, and rm stays on the root's own file
# system as a second guard.
remove_root() {
  [ -e "$root" ] || return 0
  local mount left
  for mount in $(mounts_under "$root"); do
    log "unmounting $mount"
    umount "$mount" || umount --lazy "$mount" || true
  done
  left=$(mounts_under "$root")
  [ -z "$left" ] || die "not deleting $root: still mounted there: $left"
  log "deleting $root"
  rm -rf --one-file-system -- "$root"
}

# enter DIR COMMAND...: runs COMMAND as root inside the root, in a private mount namespace and a
# clean environment; in DIR, a folder of the machine bound at the same path, or in / for DIR "".
enter() {
  local dir=$1
  shift
  [ "$dir" != / ] || die "refusing to bind / into the root; run from a project folder"
  mkdir -p "$root/etc/tarvex" "$root$dir"
  # Copied under a new name and renamed, since a command of another run may be reading them.
  cp "$host_ca" "$root$ca_in_root.$$"
  mv -f "$root$ca_in_root.$$" "$root$ca_in_root"
  cp /etc/resolv.conf "$root/etc/resolv.conf.$$"
  mv -f "$root/etc/resolv.conf.$$" "$root/etc/resolv.conf"
  # /dev inside is a tmpfs holding only bound copies of the harmless nodes: no directory of the
  # machine's /dev is ever reachable from the root.
  unshare --mount --propagation private -- bash -euc '
    root=$1 dir=$2 ca=$3
    shift 3
    mount -t tmpfs -o mode=755,size=16m tarvex-dev "$root/dev"
    for node in null zero full random urandom tty; do
      : >"$root/dev/$node"
      mount --bind "/dev/$node" "$root/dev/$node"
    done
    mkdir "$root/dev/pts" "$root/dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 tarvex-pts "$root/dev/pts"
    ln -s pts/ptmx "$root/dev/ptmx"
    mount -t tmpfs -o mode=1777,size=256m tarvex-shm "$root/dev/shm"
    ln -s /proc/self/fd "$root/dev/fd"
    ln -s /proc/self/fd/0 "$root/dev/stdin"
    ln -s /proc/self/fd/1 "$root/dev/stdout"
    ln -s /proc/self/fd/2 "$root/dev/stderr"
    mount -t proc proc "$root/proc"
    [ -z "$dir" ] || mount --bind "$dir" "$root$dir"
    exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      PIP_CERT="$ca" SSL_CERT_FILE="$ca" PIP_DISABLE_PIP_VERSION_CHECK=1 \
      /bin/bash -c '\''cd "${1:-/}" && shift && exec "$@"'\'' bash "$dir" "$@"
  ' bash "$root" "$dir" "$ca_in_root" "$@"
}

# verified_keyring MIRROR HOST_KEYRING: prints a keyring that verifies unstable's Release file.
# Unstable is signed with the archive's current signing keys; the keyring of an older host release
# may lack them, since it learns new keys only through its own updates. Then the newest
# debian-archive-keyring package of the host's own suites or of stable is fetched through the same
# mirror with apt, which verifies it with the host's keyring (the Release signature, then the
# package's hash), so trust only moves forward through signed packages.
verified_keyring() {
  local mirror=$1 host_key=$2 dir=$cache/keyring
  rm -rf "$dir"
  mkdir -p "$dir"
  wget -q -O "$dir/InRelease" "$mirror/dists/unstable/InRelease" ||
    die "cannot fetch $mirror/dists/unstable/InRelease"
  if gpgv --keyring "$host_key" "$dir/InRelease" >/dev/null 2>&1; then
    rm -rf "$dir"
    echo "$host_key"
    return 0
  fi
  log "the machine's keyring ($host_key) does not verify unstable's Release file; fetching a newer"
  log "debian-archive-keyring through the mirror, verified with the machine's keyring"
  local codename opts
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mapfile -t opts < <(private_apt_options "$dir/apt")
  cat >"$dir/apt/parts/keyring.sources" <<EOF
Types: deb
URIs: $mirror
Suites: $codename $codename-updates stable
Components: main
Signed-By: $host_key
EOF
  apt-get "${opts[@]}" update >&2 || die "apt could not verify the mirror's lists with $host_key"
  (cd "$dir" && apt-get "${opts[@]}" download debian-archive-keyring >&2) ||
    die "cannot download debian-archive-keyring"
  dpkg-deb -x "$dir"/debian-archive-keyring_*.deb "$dir/pkg"
  local key=$dir/pkg/usr/share/keyrings/debian-archive-keyring.gpg
  gpgv --keyring "$key" "$dir/InRelease" >/dev/null 2>&1 ||
    die "no keyring at hand verifies unstable's Release file on $mirror"
  cp "$key" "$cache/debian-archive-keyring.gpg"
  rm -rf "$dir"
  echo "$cache/debian-archive-keyring.gpg"
}

build() {
  if complete; then
    echo "$root"
    return 0
  fi
  exec 9>"$lock"
  flock 9  # one build at a time, and none while a command runs inside (run takes it shared)
  if complete; then
    echo "$root"
    return 0
  fi
  local began=$SECONDS
  if base_complete; then
    local missing
    mapfile -t missing < <(added_missing)
    install_in_root "${missing[@]}"
    log "done in $((SECONDS - began)) s"
    echo "$root"
    return 0
  fi
  apt_install debootstrap wget gpgv
  if [ ! -f "$base_stamp" ]; then
    local info mirror host_key keyring
    info=$(main_archive)
    mirror=$(sed -n 1p <<<"$info")
    host_key=$(sed -n 2p <<<"$info")
    [ -n "$mirror" ] || die "no Debian archive found in the apt configuration"
    [ -n "$host_key" ] || host_key=/usr/share/keyrings/debian-archive-keyring.gpg
    keyring=$(verified_keyring "$mirror" "$host_key")
    remove_root
    log "debootstrap of unstable (minbase) into $root"
    # In a mount namespace of its own, so that what debootstrap mounts inside (/proc, /sys) goes
    # away even if it is killed before it unmounts.
    unshare --mount --propagation private -- \
      debootstrap --variant=minbase --keyring="$keyring" unstable "$root" "$mirror" >&2 ||
      die "debootstrap failed (its log: $root/debootstrap/debootstrap.log)"
    touch "$base_stamp"
    log "base system: $((SECONDS - began)) s"
  fi
  rm -f "$stamp"
  # The mirror may serve a snapshot of unstable whose Release file is past its Valid-Until date;
  # the root takes what the machine's mirror serves, as the machine's own apt does.
  mkdir -p "$root/etc/apt/apt.conf.d" "$root/etc/dpkg/dpkg.cfg.d"
  cat >"$root/etc/apt/apt.conf.d/90tarvex" <<'EOF'
Acquire::Check-Valid-Until "false";
Acquire::Languages "none";
APT::Install-Recommends "false";
EOF
  # Documentation is a third of what gets unpacked and nobody reads it here.
  cat >"$root/etc/dpkg/dpkg.cfg.d/90tarvex-nodoc" <<'EOF'
path-exclude=/usr/share/doc/*
path-exclude=/usr/share/man/*
path-exclude=/usr/share/info/*
path-exclude=/usr/share/locale/*
EOF
  install_in_root "${packages[@]}" "${added_packages[@]}"
  # The interpreters the test stages use, with what they need: venv, and on the debug builds the
  # reference totals and _testcapi.
  local version
  for version in 3.14 3.15; do
    enter "" "python$version" -c 'import ensurepip, sys; print(sys.version)' >&2
    enter "" "python${version}d" -c \
      'import _testcapi, sys; sys.gettotalrefcount(); print(sys.version, "(debug)")' >&2
  done
  echo "$recipe" >"$stamp"
  log "done in $((SECONDS - began)) s"
  echo "$root"
}

run() {
  [ $# -gt 0 ] || die "usage: $0 run COMMAND..."
  base_complete || die "no finished root at $root; build it with: $0 build"
  exec 9>"$lock"
  flock --shared 9
  enter "$(pwd -P)" "$@"
}

case "${1:-}" in
  build) build ;;
  run) shift; run "$@" ;;
  remove)
    exec 9>"$lock"
    flock 9
    remove_root
    ;;
  *) echo "usage: $0 build | run COMMAND... | remove" >&2; exit 2 ;;
esac
