"""The share of the large tables that the interpreters after CPython 3.13 run."""

from dataclasses import dataclass, field
from pathlib import Path

import pytest
from table_share import kept, share


@dataclass
class Item:
    nodeid: str
    originalname: str
    callspec: object = True
    debug_build: bool = False
    path: Path = field(default_factory=lambda: Path("tests/test_x.py"))

    def get_closest_marker(self, name):
        return name if name == "debug_build" and self.debug_build else None


def table(name, n, **kw):
    return [Item(f"tests/test_x.py::{name}[{i}]", name, **kw) for i in range(n)]


def test_each_large_table_keeps_its_share_and_every_function_runs():
    items = table("big", 40) + table("small", 7) + table("odd", 9) + table("debug", 30, debug_build=True) \
        + [Item("tests/test_x.py::plain", "plain", callspec=None)]
    keep, drop = kept(items, 0.25)
    names = [i.originalname for i in keep]
    assert names.count("big") == 10 and names.count("odd") == 2
    assert names.count("small") == 7 and names.count("debug") == 30 and names.count("plain") == 1
    assert len(keep) + len(drop) == len(items) and not set(map(id, keep)) & set(map(id, drop))
    assert [i for i in items if i in keep] == keep  # collection order kept
    assert [i.nodeid for i in kept(list(reversed(items)), 0.25)[0]] == [i.nodeid for i in reversed(keep)]
    assert kept(items, 1.0)[1] == []


@pytest.mark.parametrize("value", ["0", "-1", "1.5", "nan"])
def test_a_share_outside_zero_to_one_is_refused(monkeypatch, value):
    monkeypatch.setenv("TARVEX_TABLE_SHARE", value)
    with pytest.raises(ValueError, match="TARVEX_TABLE_SHARE"):
        share()
