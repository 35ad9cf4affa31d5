#!/usr/bin/env bash
# Sets up everything the tests need and runs every test, as the stages of tools/testplan.py (its
# docstring says which run where): the core's unit tests; the suite on CPython 3.13, 3.14, 3.15 and
# a free-threaded 3.13; the leak and allocation tests on debug builds of 3.13, 3.14 and 3.15; the
# Qiskit plugin on 3.13, 3.14, 3.15 and their debug builds; the tests under ASan and UBSan; the
# tools' own tests. Safe to run again; exits non-zero when any stage fails or is skipped.
# Usage: tools/test.sh [--list] [--only NAME]...   (needs only a python3, 3.9 or later)
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=python3.sh
. tools/python3.sh
exec_python 9 tools/testplan.py "$@"
