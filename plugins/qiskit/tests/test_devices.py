"""The native passes against Qiskit's own on IBM device snapshots and circuits transpiled to them.

The oracle is `PassManager([<Qiskit analysis>, <Qiskit pass>])` on the same circuit; the native pass
runs fused or drop-in (see test_passes.py), and the outputs must be the same circuits
(outputs.assert_same_circuit), or both sides must refuse with the same exception type.
"""

import pytest

pytest.importorskip("qiskit_ibm_runtime")

from devices import CASES, backend, case_id, transpiled  # noqa: E402
from outputs import assert_same_circuit  # noqa: E402
from qiskit.circuit.library import RZGate, XGate  # noqa: E402
from qiskit.transpiler import PassManager  # noqa: E402
from qiskit.transpiler.passes import ALAPScheduleAnalysis, ASAPScheduleAnalysis  # noqa: E402
from qiskit.transpiler.passes import PadDelay as QiskitPadDelay  # noqa: E402
from qiskit.transpiler.passes import PadDynamicalDecoupling as QiskitPadDD  # noqa: E402

import tarvex_qiskit  # noqa: E402

XPXM = ([XGate(), RZGate(3.141592653589793), XGate(), RZGate(-3.141592653589793)], [0.25, 0.5, 0.0, 0.0, 0.25])

# (id, pass, options, use, scheduling, record_start_times)
PASSES = [
    ("delay-fused-alap", "delay", {}, "fused", "alap", None),
    ("delay-not-to-end-dropin-asap", "delay", {"fill_very_end": False}, "drop-in", "asap", None),
    ("dd-xx-fused-asap-recorded", "dd", {"dd_sequence": [XGate(), XGate()]}, "fused", "asap", True),
    ("dd-xpxm-edges-dropin-alap", "dd", {"dd_sequence": XPXM[0], "spacing": XPXM[1], "extra_slack_distribution": "edges"}, "drop-in", "alap", None),
    ("dd-xpxm-after-reset-fused-alap", "dd", {"dd_sequence": XPXM[0], "spacing": XPXM[1], "skip_reset_qubits": False}, "fused", "alap", None),
]
ANALYSIS = {"alap": ALAPScheduleAnalysis, "asap": ASAPScheduleAnalysis}


def outcome(run):
    try:
        return run()
    except Exception as err:  # compared by type
        return type(err)


@pytest.mark.parametrize("config", PASSES, ids=lambda p: p[0])
@pytest.mark.parametrize("case", CASES, ids=case_id)
def test_output_equals_qiskits_on_devices(case, config):
    _, kind, options, use, scheduling, record = config
    device, source, level = case
    target = backend(device).target
    circuit = transpiled(device, source, level)
    ours_cls, theirs_cls = (tarvex_qiskit.PadDelay, QiskitPadDelay) if kind == "delay" else (tarvex_qiskit.PadDynamicalDecoupling, QiskitPadDD)
    ours = ours_cls(**options, target=target, scheduling=scheduling, record_start_times=record)
    expected = outcome(lambda: PassManager([ANALYSIS[scheduling](target=target), theirs_cls(**options, target=target)]).run(circuit))
    pm = PassManager([ours] if use == "fused" else [ANALYSIS[scheduling](target=target), ours])
    got = outcome(lambda: pm.run(circuit))
    if isinstance(expected, type):
        assert got is expected
        return
    recorded = record if record is not None else use == "drop-in"
    if not recorded:
        expected._op_start_times = None  # the native pass keeps start times only when asked to
    assert_same_circuit(got, expected)
