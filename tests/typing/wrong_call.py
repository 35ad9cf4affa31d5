"""Calls that the stubs refuse; each `# E: code` marks the one error that `mypy --strict` must
report on its line, and no other line may have one."""

from tarvex import QuantumDAG

dag = QuantumDAG()
dag.add_gate("h", "01", 35.0)  # E: arg-type
dag.add_gate(b"h", [0], 35.0)  # E: arg-type
dag.add_gate("h", [0.5], 35.0)  # E: list-item
dag.add_gate("h", [0], "35")  # E: arg-type
dag.add_gate("h", [0])  # E: call-arg
dag.add_gate("h", [0], 35.0, gate_ns=1)  # E: call-arg
dag.get_node_schedule(1.0)  # E: arg-type
dag.get_node_schedule(id=1)  # E: call-arg
dag.find_idle_windows()  # E: call-arg
dag.node_count(1)  # E: call-arg
QuantumDAG(1)  # E: call-arg
start_ns, end_ns = dag.get_node_schedule(0)  # E: misc
name: int = dag.get_all_nodes()[0][0]  # E: assignment
qubit: str = dag.find_idle_windows(100.0)[0][0]  # E: assignment


class MyDAG(QuantumDAG):  # E: misc
    pass
