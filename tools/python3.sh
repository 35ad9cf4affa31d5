# Sourced by the entry scripts that run a program of tools/ with the machine's python3.
# shellcheck shell=bash

# exec_python MINOR PROGRAM ARGS...: replaces the shell with PROGRAM run by the first python3 found
# whose version is 3.MINOR or later, or fails saying so.
exec_python() {
  local minor=$1 python
  shift
  for python in python3 python3.13 python3.12 python3.11 python3.10 python3.9 /usr/bin/python3; do
    if command -v "$python" >/dev/null 2>&1 &&
      "$python" -c "import sys; sys.exit(sys.version_info < (3, $minor))" 2>/dev/null; then
      exec "$python" "$@"
    fi
  done
  echo "$(basename "$1" .py): needs a python3 of version 3.$minor or later, found none" >&2
  exit 1
}
