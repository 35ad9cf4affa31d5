"""The _tarvex module object: its attributes, TarvexError, re-import and sub-interpreters."""
import importlib
import subprocess
import sys
import textwrap

import pytest

import _tarvex
from conftest import FREE_THREADED

# The free-threaded interpreter checks every sub-interpreter for multi-phase modules itself, so its
# own refusal comes before the module's.
SUBINTERPRETER_REFUSAL = (
    "module _tarvex does not support loading in subinterpreters" if FREE_THREADED
    else "_tarvex does not support sub-interpreters; import it in the main interpreter only"
)
INTERPRETER_SET = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}


def test_doc_and_all():
    assert _tarvex.__doc__ == "The Tarvex high-performance quantum compiler module."
    assert type(_tarvex.__all__) is list
    assert _tarvex.__all__ == ["TarvexError", "QuantumDAG"]


def test_public_attributes_in_order_of_addition():
    own = [n for n in vars(_tarvex) if not (n.startswith("__") and n.endswith("__"))]
    assert own == ["TarvexError", "QuantumDAG"]
    dunders = {n for n in vars(_tarvex) if n.startswith("__") and n.endswith("__")}
    assert dunders - INTERPRETER_SET == {"__all__"}
    assert not hasattr(_tarvex, "PanicException")


@pytest.mark.parametrize(
    "attribute, expected",
    [
        ("__name__", "TarvexError"),
        ("__qualname__", "TarvexError"),
        ("__module__", "tarvex"),
        ("__doc__", None),
        ("__bases__", (Exception,)),
    ],
)
def test_error_type_shape(attribute, expected):
    assert getattr(_tarvex.TarvexError, attribute) == expected


def test_error_type_is_an_ordinary_exception_class():
    error = _tarvex.TarvexError
    assert repr(error) == "<class 'tarvex.TarvexError'>"

    class Narrower(error):
        pass

    with pytest.raises(Exception) as caught:
        raise Narrower(1, "two")
    assert isinstance(caught.value, error)
    assert caught.value.args == (1, "two")


def test_reimport_returns_the_same_module_without_rerunning_its_body():
    module, dag_type, error_type = _tarvex, _tarvex.QuantumDAG, _tarvex.TarvexError
    original_all = module.__all__
    replaced_all = ["replaced"]
    module.set_in_between = 42
    module.__all__ = replaced_all
    try:
        del sys.modules["_tarvex"]
        again = importlib.import_module("_tarvex")
        assert again is module
        assert sys.modules["_tarvex"] is module
        assert again.QuantumDAG is dag_type
        assert again.TarvexError is error_type
        assert again.set_in_between == 42
        assert again.__all__ is replaced_all
        assert replaced_all == ["replaced"]
    finally:
        sys.modules["_tarvex"] = module
        module.__all__ = original_all
        del module.set_in_between


try:
    import _interpreters
except ImportError:
    _interpreters = None
needs_subinterpreters = pytest.mark.skipif(_interpreters is None, reason="no _interpreters module")


def import_in_subinterpreter():
    """Imports _tarvex in a new sub-interpreter with the legacy configuration, which lets the
    interpreter load single-phase modules there, so the refusal is the module's own."""
    interp = _interpreters.create("legacy")
    try:
        code = f"import sys; sys.path[:] = {sys.path!r}; import _tarvex"
        return _interpreters.exec(interp, code)
    finally:
        _interpreters.destroy(interp)


@needs_subinterpreters
@pytest.mark.parametrize("attempt", [1, 2])
def test_subinterpreter_import_is_refused_after_the_main_import(attempt):
    failure = import_in_subinterpreter()
    assert failure is not None, "the sub-interpreter imported _tarvex"
    assert failure.type.__name__ == "ImportError"
    assert failure.msg == SUBINTERPRETER_REFUSAL
    assert _tarvex.QuantumDAG().node_count() == 0


@needs_subinterpreters
def test_subinterpreter_import_before_any_main_import_is_refused():
    """The interpreter runs a single-phase init function in the main interpreter first, so the main
    interpreter owns the module even when a sub-interpreter asks for it first."""
    script = textwrap.dedent(
        f"""
        import sys, _interpreters
        interp = _interpreters.create("legacy")
        failure = _interpreters.exec(interp, "import sys; sys.path[:] = {sys.path!r}; import _tarvex")
        _interpreters.destroy(interp)
        print(failure.type.__name__, failure.msg)
        import _tarvex
        print(_tarvex.QuantumDAG().add_gate("h", [0], 1.0))
        """
    )
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout == f"ImportError {SUBINTERPRETER_REFUSAL}\n0\n"
