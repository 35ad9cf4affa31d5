#!/usr/bin/env bash
# Builds and tests the release files (the sdist and every wheel) through tools/release.py, whose
# docstring says how; it needs a python3 of 3.11 or later to start.
# Usage: tools/build-wheels.sh [--only LABELS] [--allow-missing] [OUT_DIR]   (default OUT_DIR: dist)
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=python3.sh
. tools/python3.sh
exec_python 11 tools/release.py "$@"
