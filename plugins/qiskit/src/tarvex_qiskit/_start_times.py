"""node_start_time for a DAG the native passes wrote, looked up by node id instead of stored per node.

Qiskit keeps start times in a mapping keyed by DAGOpNode objects. Building one costs a Python
object per node of the output; this mapping answers from the native start times by the node's
id, and becomes a plain dict only when someone changes it.
"""

from __future__ import annotations

from collections.abc import Iterator, MutableMapping
from typing import Any

from qiskit.dagcircuit import DAGCircuit, DAGOpNode


class StartTimes(MutableMapping[DAGOpNode, int]):
    """Start time in dt of each op node of `dag`, whose op nodes are numbered `first`, `first` + 1,
    ... in the order of `times` (int64 values)."""

    __slots__ = ("_dag", "_first", "_times", "_dict")

    def __init__(self, dag: DAGCircuit, first: int, times: bytes):
        self._dag = dag
        self._first = first
        self._times = memoryview(times).cast("q")
        self._dict: dict[DAGOpNode, int] | None = None

    def _as_dict(self) -> dict[DAGOpNode, int]:
        if self._dict is None:
            self._dict = {node: self._times[node._node_id - self._first] for node in self._dag.op_nodes()}
        return self._dict

    def __getitem__(self, node: DAGOpNode) -> int:
        if self._dict is not None:
            return self._dict[node]
        index = getattr(node, "_node_id", -1) - self._first
        if 0 <= index < len(self._times):
            return self._times[index]
        raise KeyError(node)

    def __setitem__(self, node: DAGOpNode, time: int) -> None:
        self._as_dict()[node] = time

    def __delitem__(self, node: DAGOpNode) -> None:
        del self._as_dict()[node]

    def __iter__(self) -> Iterator[DAGOpNode]:
        return iter(self._as_dict())

    def __len__(self) -> int:
        return len(self._times) if self._dict is None else len(self._dict)

    def clear(self) -> None:
        self._dict = {}

    def copy(self) -> dict[DAGOpNode, int]:
        return dict(self._as_dict())

    def __repr__(self) -> str:
        return f"StartTimes({len(self)} nodes)"

    def __reduce__(self) -> Any:
        return (dict, (self._as_dict(),))
