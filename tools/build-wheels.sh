#!/usr/bin/env bash
# Builds and tests the release files (the sdist and every wheel) through tools/release.py, whose
# docstring says how; it needs a python3 of 3.11 or later to start.
# Usage: tools/build-wheels.sh [--only LABELS] [--allow-missing] [OUT_DIR]   (default OUT_DIR: dist)
cd "$(dirname "$0")/.." || exit 1
for python in python3 python3.13 python3.12 python3.11 /usr/bin/python3; do
  if command -v "$python" >/dev/null 2>&1 &&
    "$python" -c 'import sys; sys.exit(sys.version_info < (3, 11))' 2>/dev/null; then
    exec "$python" tools/release.py "$@"
  fi
done
echo "build-wheels: needs a python3 of version 3.11 or later, found none" >&2
exit 1
