"""Pure-Python reference model of the circuit graph core, written to follow each algorithm step by step.

`ReferenceDAG` has the method names and results of `_tarvex.QuantumDAG`. It keeps the graph in
dicts (`nodes`, `edges`, `last_on_qubit`, `schedule`) and works on plain Python floats, so every
time value follows IEEE double arithmetic exactly as the native core does: ordered comparisons
with a NaN operand are false, `inf - inf` is NaN, and so on. It validates nothing: arguments are
taken as the native module would hold them after conversion (str, iterable of ints, float).

Where the native core leaves an order open, the model fixes the one the module documents:
`find_idle_windows` lists the qubit groups in the order of each qubit's first use (the lowest
scheduled node id listing it), and gathers intervals in ascending id order, so equal start times
keep that order through the stable sort.

The differential tests run random circuits through both; benchmarks time the model as the
pure-Python peer of the native module.
"""

from __future__ import annotations

from operator import itemgetter

__all__ = [
    "DD_FIRST_NAME",
    "DD_MIN_IDLE_NS",
    "DD_PULSE_NS",
    "DD_SECOND_NAME",
    "DagNode",
    "ReferenceDAG",
    "ScheduleMissingError",
    "schedule_missing_message",
]

DD_MIN_IDLE_NS = 100.0
DD_PULSE_NS = 50.0
DD_FIRST_NAME = "DD_X"
DD_SECOND_NAME = "DD_Y"

_start_of = itemgetter(0)


class ScheduleMissingError(Exception):
    """Raised by `ReferenceDAG.apply_dd_pass` (by default) when some gate has no scheduled times."""


def schedule_missing_message(n_scheduled: int, n_gates: int) -> str:
    """The message the decoupling pass raises when only `n_scheduled` of `n_gates` have times."""
    return (
        f"QuantumDAG.apply_dd_pass() needs a schedule for every gate: {n_scheduled} of {n_gates} "
        "gates are scheduled; call build_schedule() first"
    )


class DagNode:
    """One gate: its id, name, qubit list (caller's order, repeats kept) and duration in ns."""

    __slots__ = ("id", "name", "qubits", "duration_ns")

    def __init__(self, node_id: int, name: str, qubits: list[int], duration_ns: float) -> None:
        self.id = node_id
        self.name = name
        self.qubits = qubits
        self.duration_ns = duration_ns

    def __repr__(self) -> str:
        return f"DagNode({self.id}, {self.name!r}, {self.qubits!r}, {self.duration_ns!r})"


class ReferenceDAG:
    """Dependency graph of timed gates, kept in dicts; mirrors `_tarvex.QuantumDAG`.

    `nodes` maps id -> DagNode, `edges` maps id -> [(successor id, qubit), ...] in recording
    order, `last_on_qubit` maps qubit -> highest id using it, `schedule` maps id -> (start, end).
    """

    __slots__ = ("nodes", "edges", "last_on_qubit", "schedule", "next_id")

    def __init__(self) -> None:
        self.nodes: dict[int, DagNode] = {}
        self.edges: dict[int, list[tuple[int, int]]] = {}
        self.last_on_qubit: dict[int, int] = {}
        self.schedule: dict[int, tuple[float, float]] = {}
        self.next_id = 0

    def node_count(self) -> int:
        """Number of gates. O(1)."""
        return len(self.nodes)

    def add_gate(self, name: str, qubits, duration_ns: float) -> int:
        """Appends a gate, links it to the last earlier gate on each of its qubits; returns its id.

        O(len(qubits)). Each list position is handled on its own, so a qubit repeated within one
        gate records a self-edge. The schedule is left as it is.
        """
        node_id = self.next_id
        self.next_id = node_id + 1
        qubits = list(qubits)
        self.nodes[node_id] = DagNode(node_id, name, qubits, float(duration_ns))
        last_on_qubit = self.last_on_qubit
        edges = self.edges
        for qubit in qubits:
            predecessor = last_on_qubit.get(qubit)
            if predecessor is not None:
                successors = edges.get(predecessor)
                if successors is None:
                    edges[predecessor] = [(node_id, qubit)]
                else:
                    successors.append((node_id, qubit))
            last_on_qubit[qubit] = node_id
        return node_id

    def get_all_nodes(self) -> list[tuple[str, list[int], float]]:
        """(name, qubits, duration_ns) of every gate in ascending id order. O(total qubits)."""
        nodes = self.nodes
        result = []
        for node_id in range(self.next_id):
            node = nodes[node_id]
            result.append((node.name, list(node.qubits), node.duration_ns))
        return result

    def build_schedule(self) -> None:
        """Gives every gate (start, end): start is the latest end among its qubits, at least 0.0.

        O(total qubits). Only a strictly later free time moves the start, so a NaN end time on a
        qubit never delays the gates after it.
        """
        schedule = self.schedule
        schedule.clear()
        qubit_free_at: dict[int, float] = {}
        nodes = self.nodes
        for node_id in range(self.next_id):
            node = nodes[node_id]
            qubits = node.qubits
            start_ns = 0.0
            for qubit in qubits:
                free_at = qubit_free_at.get(qubit)
                if free_at is not None and free_at > start_ns:
                    start_ns = free_at
            end_ns = start_ns + node.duration_ns
            schedule[node_id] = (start_ns, end_ns)
            for qubit in qubits:
                qubit_free_at[qubit] = end_ns

    def get_node_schedule(self, node_id: int) -> tuple[float, float] | None:
        """The stored (start, end) of `node_id`, or None when it has none. O(1)."""
        return self.schedule.get(node_id)

    def find_idle_windows(self, min_gap_ns: float) -> list[tuple[int, float, float]]:
        """(qubit, end of earlier op, start of later op) for every gap >= `min_gap_ns`.

        Reads the stored schedule as it is; gates without times take no part. Qubit groups come
        in order of first use, each in ascending time. O(total qubits * log).
        """
        schedule = self.schedule
        if not schedule or not self.nodes:
            return []
        intervals_by_qubit: dict[int, list[tuple[float, float]]] = {}
        for node in self.nodes.values():  # insertion order, which is ascending id
            interval = schedule.get(node.id)
            if interval is None:
                continue
            for qubit in node.qubits:
                intervals = intervals_by_qubit.get(qubit)
                if intervals is None:
                    intervals_by_qubit[qubit] = [interval]
                else:
                    intervals.append(interval)
        min_gap_ns = float(min_gap_ns)
        windows = []
        for qubit, intervals in intervals_by_qubit.items():
            if len(intervals) < 2:
                continue
            intervals.sort(key=_start_of)  # stable; start times are never NaN
            earlier_end_ns = intervals[0][1]
            for later_start_ns, later_end_ns in intervals[1:]:
                if later_start_ns - earlier_end_ns >= min_gap_ns:
                    windows.append((qubit, earlier_end_ns, later_start_ns))
                earlier_end_ns = later_end_ns
        return windows

    def apply_dd_pass(self, error_type: type[Exception] = ScheduleMissingError) -> ReferenceDAG:
        """A new graph with the scheduled gates and a DD_X, DD_Y pair ahead of each long idle.

        A qubit idle for at least DD_MIN_IDLE_NS before a gate (counted from 0.0 for its first
        gate) gets the pair. Raises `error_type` with the module's message when the graph has
        gates and some of them have no schedule. O(total qubits).
        """
        result = ReferenceDAG()
        nodes = self.nodes
        schedule = self.schedule
        if self.next_id == 0 or not nodes:
            return result
        if len(schedule) < len(nodes):
            raise error_type(schedule_missing_message(len(schedule), len(nodes)))
        qubit_busy_until: dict[int, float] = {}
        add_gate = result.add_gate
        for node_id in range(self.next_id):
            node = nodes.get(node_id)
            if node is None:
                continue
            interval = schedule.get(node_id)
            if interval is None:
                continue
            start_ns, end_ns = interval
            qubits = node.qubits
            for qubit in qubits:
                if start_ns - qubit_busy_until.get(qubit, 0.0) >= DD_MIN_IDLE_NS:
                    add_gate(DD_FIRST_NAME, (qubit,), DD_PULSE_NS)
                    add_gate(DD_SECOND_NAME, (qubit,), DD_PULSE_NS)
                qubit_busy_until[qubit] = start_ns
            add_gate(node.name, qubits, node.duration_ns)
            for qubit in qubits:
                qubit_busy_until[qubit] = end_ns
        return result
