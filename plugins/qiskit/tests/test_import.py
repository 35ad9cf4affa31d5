"""Importing the plugin under another Qiskit minor series fails clearly."""

import subprocess
import sys

import qiskit

import tarvex_qiskit


def test_series_mismatch_raises_import_error_naming_both_versions():
    # Pretend the installed Qiskit is of the next minor series; the check must refuse before any
    # call into the C API.
    major, minor = (int(p) for p in qiskit.__version__.split(".")[:2])
    other = f"{major}.{minor + 1}.0"
    code = (
        "import qiskit\n"
        f"qiskit.__version__ = {other!r}\n"
        "try:\n"
        "    import tarvex_qiskit\n"
        "except ImportError as err:\n"
        "    print(err)\n"
        "else:\n"
        "    print('imported')\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert tarvex_qiskit.QISKIT_BUILD_VERSION in out and other in out
    assert "pip install" in out
