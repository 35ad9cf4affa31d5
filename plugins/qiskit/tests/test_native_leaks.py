"""Every `_native` call, good and hostile, many times over: no reference may be left behind, neither
on the arguments nor (on a debug build) in the interpreter's total."""

import gc
import sys

import pytest
from native_cases import REPEATABLE as CASES

pytestmark = pytest.mark.debug_build

HAS_TOTAL = hasattr(sys, "gettotalrefcount")
CALLS = 200  # per round; a reference lost per call shows as >= this many


def attempt(case):
    function, args, kwargs = case.make()

    def call():
        try:
            function(*args, **kwargs)
        except case.error or ():
            pass

    return call, [function, *args, *kwargs.values()]


@pytest.mark.parametrize("name", CASES)
def test_no_reference_is_left_behind(name):
    call, watched = attempt(CASES[name])
    for _ in range(20):
        call()
    gc.collect()
    before = [sys.getrefcount(obj) for obj in watched]
    growth = []
    for _ in range(3):
        total = sys.gettotalrefcount() if HAS_TOTAL else 0
        for _ in range(CALLS):
            call()
        gc.collect()
        growth.append(sys.gettotalrefcount() - total if HAS_TOTAL else 0)
    assert [sys.getrefcount(obj) for obj in watched] == before
    assert min(growth) < CALLS // 10, f"the total reference count grew by {growth} per {CALLS} calls"
