# Sourced by the tool scripts: apt calls that wait for the machine's apt locks, and the Debian
# mirror that the machine's apt configuration names.
# Callers define log() (one line to standard error, prefixed with their own name) before use.
# shellcheck shell=bash

# How long an apt call waits for another apt or dpkg process (an unattended upgrade, a concurrent
# run of these scripts) to let go of the machine's locks.
APT_LOCK_WAIT=600

# apt_update: `apt-get update` of the machine's lists. apt waits for the dpkg lock when asked to,
# but not for the lock of its list folder, which a concurrent `apt-get update` holds: that wait
# is done here, with a line naming the wait every 30 s.
apt_update() {
  local began=$SECONDS err next_note=30
  err=$(mktemp)
  while ! apt-get -o DPkg::Lock::Timeout=$APT_LOCK_WAIT -qq update 2>"$err" >&2; do
    if ! grep -q 'Could not get lock' "$err" || [ $((SECONDS - began)) -ge $APT_LOCK_WAIT ]; then
      cat "$err" >&2
      rm -f "$err"
      return 1
    fi
    if [ $((SECONDS - began)) -ge $next_note ]; then
      log "still waiting for the apt list lock ($((SECONDS - began)) s): $(grep -m1 'held by' "$err")"
      next_note=$((next_note + 30))
    fi
    sleep 5
  done
  cat "$err" >&2
  rm -f "$err"
}

# apt_install PACKAGE...: installs those of the packages that are missing, waiting for the locks.
apt_install() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg -s "$pkg" 2>/dev/null | grep -q '^Status: install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]} (apt waits up to $APT_LOCK_WAIT s for another apt to finish)"
  apt_update || return 1
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=$APT_LOCK_WAIT install -y -q \
    --no-install-recommends "${missing[@]}" >&2
}

# main_archive: the deb822 stanza (or sources.list line) of the machine's main archive, the one
# that carries the release's own suite; prints its first URI and its keyring, one per line.
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

# private_apt_options DIR: apt options that keep lists, caches and sources in DIR, so that a
# download from another suite touches none of the machine's own apt state.
private_apt_options() {
  local dir=$1
  mkdir -p "$dir/parts" "$dir/lists/partial" "$dir/cache"
  printf '%s\n' -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$dir/parts" \
    -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache" -o APT::Sandbox::User=root -qq
}
