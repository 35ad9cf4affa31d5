"""Every name of `tarvex`, called the ways its stubs allow: `mypy --strict` accepts this file, and
running it checks that the keyword names and results match the module's."""

from typing import Any, SupportsFloat, SupportsIndex, assert_type

import _tarvex
import tarvex
from tarvex import QuantumDAG, TarvexError
from tarvex.timeline import render_svg


class Qubit:
    def __init__(self, index: int) -> None:
        self.index = index

    def __index__(self) -> int:
        return self.index


class Nanoseconds:
    def __float__(self) -> float:
        return 12.5


assert_type(tarvex.__version__, str)
assert tarvex.QuantumDAG is _tarvex.QuantumDAG and tarvex.TarvexError is _tarvex.TarvexError

dag = QuantumDAG()
assert_type(dag.add_gate("h", [0], 35.0), int)
dag.add_gate(name="cx", qubits=(0, 1), duration_ns=300)
dag.add_gate("rz", b"\x01", True)
dag.add_gate("x", range(2, 3), Nanoseconds())
qubits: list[SupportsIndex] = [Qubit(1), 2]
duration: SupportsFloat | SupportsIndex = 35
assert dag.add_gate(duration_ns=duration, name="cx", qubits=qubits) == 4
assert_type(dag.node_count(), int)

unscheduled = QuantumDAG()
unscheduled.add_gate("h", [0], 35.0)
try:
    unscheduled.apply_dd_pass()
except TarvexError as error:
    assert_type(error.args, tuple[Any, ...])
else:
    raise AssertionError("apply_dd_pass() accepted a graph without a schedule")

assert_type(dag.build_schedule(), None)
span = dag.get_node_schedule(0)
assert_type(span, tuple[float, float] | None)
assert span == (0.0, 35.0)
assert dag.get_node_schedule(node_id=Qubit(99)) is None
windows = dag.find_idle_windows(100.0)
assert_type(windows, list[tuple[int, float, float]])
assert dag.find_idle_windows(min_gap_ns=0) != []
decoupled = dag.apply_dd_pass()
assert_type(decoupled, QuantumDAG)
nodes = decoupled.get_all_nodes()
assert_type(nodes, list[tuple[str, list[int], float]])
assert nodes[:2] == [("h", [0], 35.0), ("cx", [0, 1], 300.0)]
decoupled.build_schedule()
assert_type(render_svg(decoupled, min_idle_ns=100.0, title="typed"), str)
