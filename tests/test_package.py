"""The `tarvex` package: the native objects re-exported, one version, a picklable error and the
files an installation carries."""

import importlib.metadata
import pickle
import tomllib
from pathlib import Path

import pytest

import _tarvex
import tarvex

ROOT = Path(__file__).resolve().parent.parent


def test_reexports_the_native_objects() -> None:
    assert tarvex.QuantumDAG is _tarvex.QuantumDAG
    assert tarvex.TarvexError is _tarvex.TarvexError
    assert tarvex.__all__ == ["QuantumDAG", "TarvexError", "__version__"]


def test_version_is_the_project_version() -> None:
    project = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
    assert tarvex.__version__ == project["version"] == importlib.metadata.version("tarvex")


def raised_by_the_module() -> tarvex.TarvexError:
    dag = tarvex.QuantumDAG()
    dag.add_gate("h", [0], 35.0)
    with pytest.raises(tarvex.TarvexError) as caught:
        dag.apply_dd_pass()
    return caught.value


@pytest.mark.parametrize("protocol", [0, pickle.DEFAULT_PROTOCOL, pickle.HIGHEST_PROTOCOL])
def test_errors_survive_pickling(protocol: int) -> None:
    for error in (
        tarvex.TarvexError(),
        tarvex.TarvexError("text", 3, None),
        raised_by_the_module(),
    ):
        copy = pickle.loads(pickle.dumps(error, protocol))
        assert type(copy) is tarvex.TarvexError
        assert copy.args == error.args
    assert str(copy) == (
        "QuantumDAG.apply_dd_pass() needs a schedule for every gate: 0 of 1 gates are scheduled; "
        "call build_schedule() first"
    )


def test_installation_carries_the_type_information() -> None:
    files = {str(path): path for path in importlib.metadata.files("tarvex") or []}
    stub = (ROOT / "src/python/_tarvex.pyi").read_text()
    for name in ("_tarvex.pyi", "_tarvex-stubs/__init__.pyi"):
        assert Path(files[name].locate()).read_text() == stub
    assert "tarvex/py.typed" in files
    assert {"tarvex/__init__.py", "tarvex/timeline.py", "tarvex/demo.py"} <= files.keys()
    assert any(name.startswith("_tarvex.") and name.endswith(".so") for name in files)
