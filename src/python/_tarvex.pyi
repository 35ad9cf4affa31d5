"""The Tarvex high-performance quantum compiler module."""

from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, final

__all__ = ["TarvexError", "QuantumDAG"]

class TarvexError(Exception): ...

@final
class QuantumDAG:
    """Python wrapper for the core QuantumDAG."""

    def __init__(self) -> None: ...
    def node_count(self) -> int:
        """Returns the total number of nodes in the DAG."""
    def add_gate(
        self,
        name: str,
        qubits: Sequence[SupportsIndex],
        duration_ns: SupportsFloat | SupportsIndex,
    ) -> int:
        """Adds a gate node to the graph and connects dependent edges."""
    def build_schedule(self) -> None:
        """Computes the schedule (start and end times) for all nodes."""
    def get_node_schedule(self, node_id: SupportsIndex) -> tuple[float, float] | None:
        """Retrieves the schedule for a specific node as (start_time, end_time)."""
    def find_idle_windows(
        self, min_gap_ns: SupportsFloat | SupportsIndex
    ) -> list[tuple[int, float, float]]:
        """Finds idle windows on qubits where the gap between operations is >= min_gap_ns."""
    def apply_dd_pass(self) -> QuantumDAG:
        """Dynamically inserts Dynamical Decoupling (DD) sequences on idle qubits."""
    def get_all_nodes(self) -> list[tuple[str, list[int], float]]:
        """Exports all operations in topological order a list of tuples (name, qubits, duration)."""
