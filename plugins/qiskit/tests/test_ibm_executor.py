"""tarvex_qiskit.ibm's executor functions against qiskit-ibm-runtime's own, on device snapshots.

The oracle is the installed runtime's `generate_dd_pass_manager` with the same backend and options:
outputs must be the same circuits (outputs.assert_same_circuit: order, exact parameters, start
times, duration), or both sides must raise the same exception type.
"""

import copy
import itertools
import pickle
import subprocess
import sys
import types

import pytest

pytest.importorskip("qiskit_ibm_runtime")

from devices import CASES, backend, case_id, transpiled  # noqa: E402
from outputs import assert_same_circuit  # noqa: E402
from qiskit import QuantumCircuit  # noqa: E402
from qiskit.circuit import Parameter  # noqa: E402
from qiskit.transpiler import PassManager  # noqa: E402
from qiskit.utils import should_run_in_parallel  # noqa: E402
from qiskit_ibm_runtime.executor import dynamical_decoupling as runtime  # noqa: E402
from qiskit_ibm_runtime.fake_provider import FakeManilaV2  # noqa: E402
from qiskit_ibm_runtime.options_models.dynamical_decoupling import DynamicalDecouplingOptions  # noqa: E402
from qiskit_ibm_runtime.quantum_program.quantum_program import CircuitItem, QuantumProgram, SamplexItem  # noqa: E402

from tarvex_qiskit import ibm  # noqa: E402
from tarvex_qiskit.ibm.executor import ExecutorDecoupling, dd_sequence  # noqa: E402

# Every combination of the four options the pass manager reads, and four that show every value.
PRODUCT = list(itertools.product(("XX", "XpXm", "XY4"), ("alap", "asap"), (False, True), ("middle", "edges")))
COVERING = [("XX", "alap", False, "middle"), ("XpXm", "asap", True, "edges"), ("XY4", "alap", True, "edges"), ("XY4", "asap", False, "middle")]
# The full product on the circuit with resets, measurements, delays and a barrier; the covering
# options on the others.
OPTION_CASES = [(case, option) for case in CASES for option in (PRODUCT if case[1] == "mid-circuit" else COVERING)]


def options(sequence_type, scheduling_method, skip_reset_qubits, extra_slack_distribution):
    return DynamicalDecouplingOptions(
        enable=True,
        sequence_type=sequence_type,
        scheduling_method=scheduling_method,
        skip_reset_qubits=skip_reset_qubits,
        extra_slack_distribution=extra_slack_distribution,
    )


def outcome(run):
    """What `run` returns, or the type of the exception it raises."""
    try:
        return run()
    except Exception as err:  # compared by type
        return type(err)


def assert_same_outcome(got, expected):
    if isinstance(expected, type):
        assert got is expected
    else:
        assert_same_circuit(got, expected)


@pytest.mark.parametrize(("case", "option"), OPTION_CASES, ids=[f"{case_id(c)}-{case_id(o)}" for c, o in OPTION_CASES])
def test_pass_manager_output_equals_runtimes(case, option):
    device, source, level = case
    circuit = transpiled(device, source, level)
    expected = outcome(lambda: runtime.generate_dd_pass_manager(backend(device), options(*option)).run(circuit))
    got = outcome(lambda: ibm.generate_dd_pass_manager(backend(device), options(*option)).run(circuit))
    assert_same_outcome(got, expected)


# Options as plain attributes, with values the runtime's options model would refuse but its function
# reads anyway: the same reading on both sides.
LOOSE_OPTIONS = [
    ("namespace", types.SimpleNamespace(sequence_type="XY4", scheduling_method="asap", skip_reset_qubits=True, extra_slack_distribution="edges")),
    ("other-method-is-asap", types.SimpleNamespace(sequence_type="XX", scheduling_method="ALAP", skip_reset_qubits=False, extra_slack_distribution="middle")),
    ("truthy-skip", types.SimpleNamespace(sequence_type="XpXm", scheduling_method="alap", skip_reset_qubits=1, extra_slack_distribution="middle")),
    ("bad-distribution", types.SimpleNamespace(sequence_type="XX", scheduling_method="alap", skip_reset_qubits=False, extra_slack_distribution="left")),
    ("bad-sequence", types.SimpleNamespace(sequence_type="XY8", scheduling_method="alap", skip_reset_qubits=False, extra_slack_distribution="middle")),
]


@pytest.mark.parametrize("loose", LOOSE_OPTIONS, ids=lambda c: c[0])
@pytest.mark.parametrize("device", ["sherbrooke", "fez"])
def test_options_are_read_as_the_runtime_reads_them(device, loose):
    _, opts = loose
    circuit = transpiled(device, "mid-circuit", 1)
    expected = outcome(lambda: runtime.generate_dd_pass_manager(backend(device), opts).run(circuit))
    got = outcome(lambda: ibm.generate_dd_pass_manager(backend(device), opts).run(circuit))
    assert_same_outcome(got, expected)


@pytest.mark.parametrize("sequence_type", ["XX", "XpXm", "XY4"])
def test_sequences_and_spacings_are_the_runtimes(sequence_type):
    gates, spacing = dd_sequence(sequence_type)
    their_gates, their_spacing = runtime.make_dd_sequence(sequence_type)
    assert [(g.name, g.params) for g in gates] == [(g.name, g.params) for g in their_gates]
    assert spacing == their_spacing


def symbolic_phase(device):
    circuit = transpiled(device, "mid-circuit", 1).copy()
    circuit.global_phase = Parameter("g") + 0.5
    return circuit


@pytest.mark.parametrize("device", ["kyiv", "torino"])
def test_fallback_runs_the_runtimes_passes(device, monkeypatch):
    # A symbolic global phase cannot take the sequences' phase natively.
    circuit = symbolic_phase(device)
    runs = []
    qiskit_passes = ExecutorDecoupling.qiskit_passes
    monkeypatch.setattr(ExecutorDecoupling, "qiskit_passes", lambda self: runs.append(1) or qiskit_passes(self))
    for option in COVERING:
        expected = runtime.generate_dd_pass_manager(backend(device), options(*option)).run(circuit)
        assert_same_circuit(ibm.generate_dd_pass_manager(backend(device), options(*option)).run(circuit), expected)
    assert len(runs) == len(COVERING)


def test_errors():
    with pytest.raises(ValueError) as err:
        ibm.generate_dd_pass_manager(types.SimpleNamespace(target=None), options("XX", "alap", False, "middle"))
    assert str(err.value) == "dynamical decoupling needs the backend's target for its timing; this backend has none"
    with pytest.raises(ValueError) as err:
        ibm.generate_dd_pass_manager(backend("fez"), types.SimpleNamespace(sequence_type="XY8"))
    assert str(err.value) == "sequence_type must be 'XX', 'XpXm' or 'XY4', not 'XY8'"


def program(plain, bound, template):
    """A QuantumProgram of two circuit items and a samplex item on 5-qubit FakeManilaV2."""
    samplex_item = SamplexItem(*template, samplex_arguments={"parameter_values": [[0.1], [0.2]]})
    items = [CircuitItem(plain, circuit_arguments=[[0.5]]), samplex_item, CircuitItem(bound)]
    return QuantumProgram(shots=100, items=items)


def parametric_circuit():
    qc = QuantumCircuit(3)
    qc.cx(0, 1)
    qc.rz(Parameter("a"), 2)
    qc.measure_all()
    return qc


def samplex_template():
    from samplomatic import Twirl, build

    qc = QuantumCircuit(2)
    with qc.box(annotations=[Twirl()]):
        qc.rx(Parameter("theta"), 0)
        qc.cx(0, 1)
    with qc.box(annotations=[Twirl()]):
        qc.measure_all()
    return build(qc)


def test_apply_dynamical_decoupling_equals_runtimes():
    template, plain = samplex_template(), parametric_circuit()
    opts = options("XY4", "alap", False, "middle")
    bound = plain.assign_parameters([0.25])
    ours, theirs = program(plain, bound, template), program(plain, bound, template)
    assert ibm.apply_dynamical_decoupling(FakeManilaV2(), opts, ours) is ours
    runtime.apply_dynamical_decoupling(FakeManilaV2(), opts, theirs)
    assert len(ours.items) == 3
    for got, expected in zip(ours.items, theirs.items):
        assert_same_circuit(got.circuit, expected.circuit)


def sampler_options(dd_enabled, twirled):
    from qiskit_ibm_runtime.options_models.sampler import SamplerOptions

    opts = SamplerOptions()
    opts.dynamical_decoupling.enable = dd_enabled
    opts.dynamical_decoupling.sequence_type = "XY4"
    opts.twirling.enable_gates = twirled
    return opts


def test_decoupled_locally_the_sampler_submits_the_same_circuits():
    from qiskit_ibm_runtime.executor_sampler.prepare import prepare

    circuits = [transpiled("fez", "mid-circuit", 1), transpiled("fez", "su2", 3)]
    expected, _ = prepare([(c,) for c in circuits], sampler_options(True, False), backend=backend("fez"))
    pm = ibm.generate_dd_pass_manager(backend("fez"), sampler_options(True, False).dynamical_decoupling)
    got, _ = prepare([(c,) for c in pm.run(circuits)], sampler_options(False, False), backend=backend("fez"))
    assert len(got.items) == 2
    for g, e in zip(got.items, expected.items):
        assert_same_circuit(g.circuit, e.circuit)


def test_in_place_of_the_samplers_own_function_twirled_templates_are_the_same(monkeypatch):
    # Twirling builds the templates inside the primitive, after which it applies DD: there the
    # function replaces the runtime's, given the same program.
    from qiskit_ibm_runtime.executor_sampler import prepare as sampler_prepare

    compared = []

    def both(backend, dd_options, quantum_program):
        expected = runtime.apply_dynamical_decoupling(backend, dd_options, copy.deepcopy(quantum_program))
        got = ibm.apply_dynamical_decoupling(backend, dd_options, quantum_program)
        for g, e in zip(got.items, expected.items):
            assert type(g) is SamplexItem
            assert_same_circuit(g.circuit, e.circuit)
            compared.append(g)
        return got

    monkeypatch.setattr(sampler_prepare, "apply_dynamical_decoupling", both)
    circuits = [transpiled("fez", "mid-circuit", 1), transpiled("fez", "qft", 1)]
    sampler_prepare.prepare([(c,) for c in circuits], sampler_options(True, True), backend=backend("fez"))
    assert len(compared) == 2


def test_module_import_leaves_the_runtime_unimported():
    code = "import sys, tarvex_qiskit.ibm; print('qiskit_ibm_runtime' in sys.modules)"
    assert subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout == "False\n"


def fez_batch():
    return [transpiled("fez", source, level) for level in (1, 3) for source in ("ghz", "qft", "su2", "mid-circuit")]


def test_batch_in_two_processes_keeps_order_after_pickling():
    # The pass pickles and runs in Qiskit's worker processes; the generated pass manager's own run
    # takes the direct path in this process.
    opts = options("XpXm", "alap", True, "middle")
    circuits = fez_batch()
    assert len(circuits) == 8
    expected = runtime.generate_dd_pass_manager(backend("fez"), opts).run(circuits)
    pm = ibm.generate_dd_pass_manager(backend("fez"), opts)
    assert isinstance(pm, PassManager)
    plain = PassManager(pm.to_flow_controller().passes)
    plain.run(circuits[0])  # a used pass travels with what it keeps
    with should_run_in_parallel.override(True):
        for got in (plain.run(circuits, num_processes=2), pm.run(circuits, num_processes=2)):
            assert len(got) == 8
            for g, e in zip(got, expected):
                assert_same_circuit(g, e)
    copied = pickle.loads(pickle.dumps(pm))
    assert_same_circuit(copied.run(circuits[3]), expected[3])


def test_run_takes_the_direct_path_while_the_pass_manager_holds_only_its_pass(monkeypatch):
    circuit = transpiled("fez", "su2", 1)
    opts = options("XY4", "asap", False, "edges")
    expected = runtime.generate_dd_pass_manager(backend("fez"), opts).run(circuit, output_name="named")
    pm = ibm.generate_dd_pass_manager(backend("fez"), opts)

    def no_dag(self, dag):
        raise AssertionError("the DAG path ran")

    monkeypatch.setattr(ExecutorDecoupling, "run", no_dag)
    assert_same_circuit(pm.run(circuit, output_name="named"), expected)
    pm.append(ExecutorDecoupling(backend("fez").target, *dd_sequence("XX"), "alap", False, "middle"))
    with pytest.raises(AssertionError, match="the DAG path ran"):
        pm.run(circuit)
