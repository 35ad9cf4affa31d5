"""A share of each large table of cases, for the interpreters that repeat what CPython 3.13 runs in full.

TARVEX_TABLE_SHARE (default 1) below 1 keeps that share, at least one case, of every test function
parametrized over 8 or more cases; the same cases on every run, chosen by a hash of their ids, so
that every function still runs and a failure can be repeated. Tests marked debug_build (reference
counts, allocation failures, hostile arguments) always run in full.
"""

from __future__ import annotations

import os
import zlib
from collections import defaultdict

SMALLEST_TABLE = 8


def share() -> float:
    value = float(os.environ.get("TARVEX_TABLE_SHARE", "1"))
    if not 0 < value <= 1:
        raise ValueError(f"TARVEX_TABLE_SHARE must be in (0, 1], not {value}")
    return value


def kept(items: list, fraction: float) -> tuple[list, list]:
    """(kept, dropped) of collected `items`, in their collection order."""
    tables: dict[tuple[str, str], list] = defaultdict(list)
    for item in items:
        if getattr(item, "callspec", None) is not None and item.get_closest_marker("debug_build") is None:
            tables[(str(item.path), item.originalname)].append(item)
    dropped: set[int] = set()
    for cases in tables.values():
        if len(cases) < SMALLEST_TABLE:
            continue
        keep = max(1, round(len(cases) * fraction))
        ranked = sorted(cases, key=lambda item: zlib.crc32(item.nodeid.encode()))
        dropped.update(id(item) for item in ranked[keep:])
    return [i for i in items if id(i) not in dropped], [i for i in items if id(i) in dropped]


def pytest_collection_modifyitems(config, items) -> None:
    fraction = share()
    if fraction == 1:
        return
    items[:], dropped = kept(items, fraction)
    if dropped:
        config.hook.pytest_deselected(items=dropped)
