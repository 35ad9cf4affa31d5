"""The scheduling-stage plugins in transpile give Qiskit's circuit, start times included."""

import pytest
from conftest import aligned_target, backend, qft_circuit, random_circuit
from qiskit import transpile


@pytest.mark.parametrize("method", ["alap", "asap"])
@pytest.mark.parametrize("timing", ["generic", "aligned16"])  # aligned: Qiskit's analysis, native padding
@pytest.mark.parametrize("circuit", ["qft", "random"])
def test_transpile_with_the_stage_plugin(circuit, timing, method):
    source = qft_circuit() if circuit == "qft" else random_circuit(3, si_delays=False)
    where = {"backend": backend()} if timing == "generic" else {"target": aligned_target()}
    theirs = transpile(source, **where, scheduling_method=method, seed_transpiler=5)
    ours = transpile(source, **where, scheduling_method=f"tarvex_{method}", seed_transpiler=5)
    assert ours == theirs
    assert ours.op_start_times == theirs.op_start_times
