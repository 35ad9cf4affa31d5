"""Times tarvex_qiskit.ibm.scheduling against qiskit-ibm-runtime's dynamic-circuit passes, circuit
in to circuit out, and checks that the outputs are equal.

The circuit: random dynamic circuits transpiled to FakeTorino at optimization level 1 (as the
figures of the runtime's cost were measured): WIDTH virtual qubits; per layer, one of h, sx, x or
rz on each qubit and CX on alternate neighbouring pairs; every EVERY layers a mid-circuit
measurement of one qubit and an if_test on its bit that flips that qubit (the runtime's fast path)
or its neighbour. The number of layers is chosen for the instruction count after transpiling.

Pipelines, each a PassManager run on the circuit (so every figure includes Qiskit's conversions
from circuit to DAG and back, which both sides pay), but for the direct path:
- runtime ALAP: the runtime's ALAPScheduleAnalysis alone;
- runtime ALAP + PadDelay: the runtime's ALAPScheduleAnalysis and PadDelay, the reference;
- tarvex ALAP: tarvex_qiskit.ibm.scheduling.ALAPScheduleAnalysis alone (it builds the runtime's
  node_start_time and node_block_dags, one Python object per node);
- tarvex PadDelay: tarvex_qiskit.ibm.scheduling.PadDelay alone (fused: it schedules, ALAP), keeping
  every label as the runtime does (the default);
- tarvex PadDelay, keep_labels=False: the same without the walk over the instructions in Python
  that finding labels takes (Qiskit's C API does not carry them);
- tarvex pad_delays (direct): tarvex_qiskit.ibm.direct.pad_delays, circuit to circuit with no
  PassManager and no DAG (the same output as tarvex PadDelay, labels kept);
- runtime ALAP + DD: the runtime's ALAPScheduleAnalysis and PadDynamicalDecoupling with [x, x],
  with only the padder mends PadDelay's reference has (its DD faults kept: gate lengths in seconds,
  so it decouples every window), the reference;
- mended runtime ALAP + DD: the same with every mend of tarvex_qiskit.ibm.mended, the oracle;
- tarvex DD: tarvex_qiskit.ibm.scheduling.PadDynamicalDecoupling with [x, x] alone (fused, ALAP);
- tarvex decouple (direct): tarvex_qiskit.ibm.direct.decouple with [x, x], circuit to circuit.
"pass alone" is the fused PadDelay's own run on a DAG made beforehand: the figure without the
PassManager's conversions, whose cost per instruction is not flat on a 133-qubit device (a fixed
cost per wire, and more per instruction at 10^6).
The runtime runs once per size, on a copy of the circuit whose control-flow bodies use fresh qubit
objects and with its wire-map lookups and barrier widths mended (tests/runtime_oracle.py): on the circuit as it
is, equal nodes of different bodies share one start time and its output is wrong. Those mends
change no cost. Every tarvex output is asserted equal to the runtime's (Qiskit's ==, global phase
exactly) where the runtime ran; our DD output equal to the mended runtime's (the runtime's own
differs: it takes its gate lengths in seconds for dt; on the circuit as it is it raises KeyError).

Figures are ns of CPU time of the benchmark thread per source instruction, the garbage collector
off while timing; tarvex's the median of the repeats, where a repeat times one call, or on
circuits under 20,000 instructions a batch of calls on the same circuit (20,000 instructions in
all), after a garbage collection: a single short call right after a collection runs with cold
caches, up to about twice as slow on this machine, which says more about the machine than the pass.
The runtime's single run takes seconds and needs no batch. Peak memory is the resident set's high-water
mark while one pipeline runs once, in a fresh process that builds the circuit first (the mark is
reset once the circuit is built, since transpiling it can peak above any pipeline; the least of
three such processes), every process on the fresh-bodies copy the runtime is given; "circuit
only" builds it and runs none; in brackets, how far the peak rose above the process's resident
set when the pipeline started (the least of the three, which need not be the same process's).
Identical processes' peaks differ by up to about 2 MiB, the rises by about as much at the small
sizes, so the verdicts compare peaks within dynamic_report.MEMORY_RESOLUTION. "PassManager conversions" is the part no pass can avoid: Qiskit's conversion of
the input to a DAG and of the (equal) output back.

Usage: python benchmarks/dynamic_passes.py [--runtime-sizes 1e3,3e3,5e3] [--sizes 1e3,...,1e6]
       [--repeats 5] [--passes pad,dd] [--report FILE]
Needs Qiskit 2.6, qiskit-ibm-runtime 0.51 and the plugin (pip install "./plugins/qiskit[ibm]").
Writes benchmarks/results/dynamic-*.json and prints the table docs/dynamic-circuits.md shows.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import platform
import random
import statistics
import subprocess
import sys
import time
import warnings
from pathlib import Path
from typing import Any

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import qiskit  # noqa: E402
import qiskit_ibm_runtime  # noqa: E402
from qiskit import QuantumCircuit, transpile  # noqa: E402
from qiskit.circuit.library import XGate  # noqa: E402
from qiskit.converters import circuit_to_dag, dag_to_circuit  # noqa: E402
from qiskit.transpiler import PassManager  # noqa: E402
from qiskit_ibm_runtime.fake_provider import FakeTorino  # noqa: E402

from qiskit_ibm_runtime.transpiler.passes import scheduling as runtime  # noqa: E402

from tarvex_qiskit.ibm import direct, mended  # noqa: E402
from tarvex_qiskit.ibm import scheduling as tarvex  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "plugins" / "qiskit" / "tests"))
import runtime_oracle  # noqa: E402
from dynamic_report import report, verdicts  # noqa: E402

RESULTS_DIR = Path(__file__).resolve().parent / "results"
WIDTH = 20
EVERY = 3
SEED = 5
BATCH = 20_000  # instructions a repeat of ours times at least (see calls_for)
DD_SEQUENCE = [XGate(), XGate()]
DESCRIPTIONS = {
    "runtime_alap": "qiskit-ibm-runtime ALAPScheduleAnalysis alone",
    "runtime_alap_pad_delay": "qiskit-ibm-runtime ALAPScheduleAnalysis + PadDelay (the reference)",
    "tarvex_alap": "tarvex_qiskit.ibm.scheduling.ALAPScheduleAnalysis alone",
    "tarvex_pad_delay": "tarvex_qiskit.ibm.scheduling.PadDelay alone (fused, ALAP), labels kept (the default)",
    "tarvex_pad_delay_no_labels": "the same with keep_labels=False",
    "tarvex_pad_delay_pass": "the fused PadDelay's run on a DAG made beforehand (labels kept), no PassManager",
    "tarvex_pad_delays_direct": "tarvex_qiskit.ibm.direct.pad_delays (ALAP, labels kept): circuit to circuit, no"
                                " PassManager",
    "runtime_alap_dd": "qiskit-ibm-runtime ALAPScheduleAnalysis + PadDynamicalDecoupling [x, x], padder mends only"
                       " (the reference)",
    "mended_alap_dd": "qiskit-ibm-runtime ALAPScheduleAnalysis + PadDynamicalDecoupling [x, x], every mend (the oracle)",
    "tarvex_dd": "tarvex_qiskit.ibm.scheduling.PadDynamicalDecoupling [x, x] alone (fused, ALAP)",
    "tarvex_dd_direct": "tarvex_qiskit.ibm.direct.decouple [x, x] (ALAP, labels kept): circuit to circuit, no"
                        " PassManager",
    "conversions": "PassManager's circuit-to-DAG and DAG-to-circuit conversions (the floor)",
}
REFERENCE = {"tarvex_alap": "runtime_alap", "tarvex_pad_delay": "runtime_alap_pad_delay",
             "tarvex_pad_delay_no_labels": "runtime_alap_pad_delay", "tarvex_pad_delays_direct": "runtime_alap_pad_delay",
             "tarvex_dd": "runtime_alap_dd", "tarvex_dd_direct": "runtime_alap_dd"}
# --passes: the pipelines each group times, runtime's first
GROUPS = {"pad": ("runtime_alap", "runtime_alap_pad_delay", "tarvex_alap", "tarvex_pad_delay", "tarvex_pad_delay_no_labels",
                 "tarvex_pad_delays_direct"),
          "dd": ("runtime_alap_dd", "mended_alap_dd", "tarvex_dd", "tarvex_dd_direct")}


def virtual_circuit(n_layers: int, seed: int = SEED) -> QuantumCircuit:
    rng = random.Random(seed)
    qc = QuantumCircuit(WIDTH, WIDTH)
    for layer in range(n_layers):
        for q in range(WIDTH):
            if rng.random() < 0.7:
                rng.choice([qc.h, qc.sx, qc.x])(q)
            else:
                qc.rz(rng.uniform(-3.0, 3.0), q)
        for q in range(layer % 2, WIDTH - 1, 2):
            qc.cx(q, q + 1)
        if layer % EVERY == EVERY - 1:
            q = rng.randrange(WIDTH)
            qc.measure(q, q)
            with qc.if_test((qc.clbits[q], 1)):
                qc.x(q if rng.random() < 0.5 else (q + 1) % WIDTH)
    return qc


def dynamic_circuit(be, n_instructions: int, seed: int = SEED) -> QuantumCircuit:
    """A circuit of about n_instructions instructions once transpiled to `be`."""
    def transpiled(n_layers: int) -> QuantumCircuit:
        return transpile(virtual_circuit(n_layers, seed), be, optimization_level=1, seed_transpiler=seed)

    pilot = 30
    per_layer = len(transpiled(pilot).data) / pilot
    return transpiled(max(1, round(n_instructions / per_layer)))


class Direct:
    """The direct path where the others hold a PassManager: `run` from circuit to circuit."""

    def __init__(self, target, dd: bool):
        self.target = target
        self.dd = dd

    def run(self, circuit: QuantumCircuit) -> QuantumCircuit:
        if self.dd:
            return direct.decouple(circuit, self.target, DD_SEQUENCE)
        return direct.pad_delays(circuit, self.target)


def pipelines(target) -> dict[str, Any]:
    """name -> function making a fresh PassManager (or the direct path's stand-in)."""
    return {
        "tarvex_pad_delays_direct": lambda: Direct(target, dd=False),
        "tarvex_dd_direct": lambda: Direct(target, dd=True),
        "runtime_alap": lambda: PassManager([runtime_oracle.ANALYSES["alap"](target=target)]),
        "runtime_alap_pad_delay": lambda: PassManager(
            [runtime_oracle.ANALYSES["alap"](target=target), runtime_oracle.MendedPadDelay(target=target)]
        ),
        "tarvex_alap": lambda: PassManager([tarvex.ALAPScheduleAnalysis(target=target)]),
        "tarvex_pad_delay": lambda: PassManager([tarvex.PadDelay(target=target)]),
        "tarvex_pad_delay_no_labels": lambda: PassManager([tarvex.PadDelay(target=target, keep_labels=False)]),
        "runtime_alap_dd": lambda: PassManager(
            [runtime.ALAPScheduleAnalysis(target=target),
             mended.PadderMendedDynamicalDecoupling(dd_sequences=DD_SEQUENCE, target=target)]
        ),
        "mended_alap_dd": lambda: PassManager(
            [runtime.ALAPScheduleAnalysis(target=target),
             mended.MendedPadDynamicalDecoupling(dd_sequences=DD_SEQUENCE, target=target)]
        ),
        "tarvex_dd": lambda: PassManager([tarvex.PadDynamicalDecoupling(dd_sequences=DD_SEQUENCE, target=target)]),
    }


def calls_for(circuit: QuantumCircuit) -> int:
    """How many calls one repeat of ours times: one, or on circuits under BATCH instructions as
    many as make BATCH in all, so that a repeat times the steady cost of a call, as a user running
    a pass on many circuits sees it, rather than that of a first call after a garbage collection."""
    return max(1, BATCH // len(circuit.data))


def timed(make, circuit, calls: int = 1) -> tuple[float, QuantumCircuit]:
    """CPU seconds per call of make().run(circuit), over `calls` calls, and the last output."""
    gc.collect()
    gc.disable()
    try:
        start = time.thread_time()
        for _ in range(calls):
            out = make().run(circuit)
        return (time.thread_time() - start) / calls, out
    finally:
        gc.enable()


def conversions(circuit: QuantumCircuit, output: QuantumCircuit, calls: int = 1) -> float:
    out_dag = circuit_to_dag(output)
    gc.collect()
    gc.disable()
    try:
        start = time.thread_time()
        for _ in range(calls):
            circuit_to_dag(circuit, copy_operations=True)
            dag_to_circuit(out_dag, copy_operations=False)
        return (time.thread_time() - start) / calls
    finally:
        gc.enable()


def pass_alone(target, circuit, calls: int = 1) -> float:
    dag = circuit_to_dag(circuit)
    step = tarvex.PadDelay(target=target)
    gc.collect()
    gc.disable()
    try:
        start = time.thread_time()
        for _ in range(calls):
            step.run(dag)
        return (time.thread_time() - start) / calls
    finally:
        gc.enable()


def measure_size(n: int, repeats: int, with_runtime: bool, names: tuple[str, ...]) -> dict[str, Any]:
    be = FakeTorino()
    circuit = dynamic_circuit(be, n)
    prepared = runtime_oracle.fresh_bodies(circuit)
    makers = pipelines(be.target)
    seconds: dict[str, list[float]] = {}
    outputs: dict[str, QuantumCircuit] = {}
    ours = [name for name in names if name.startswith("tarvex")]
    for name in [name for name in names if not name.startswith("tarvex")] if with_runtime else ():
        elapsed, outputs[name] = timed(makers[name], prepared)
        seconds[name] = [elapsed]
    floor = []
    calls = calls_for(circuit)
    for rep in range(repeats):
        for name in ours:
            elapsed, out = timed(makers[name], circuit, calls)
            seconds.setdefault(name, []).append(elapsed)
            if rep == 0:
                outputs[name] = out
        if "tarvex_pad_delay" in ours:
            seconds.setdefault("tarvex_pad_delay_pass", []).append(pass_alone(be.target, circuit, calls))
        floor.append(conversions(circuit, outputs[ours[-1]], calls))
        print(f"  N={n:.0e} repeat {rep + 1}/{repeats} done", file=sys.stderr, flush=True)
    equal = None
    if with_runtime:
        equal = True
        for padder in ("tarvex_pad_delay", "tarvex_pad_delay_no_labels", "tarvex_pad_delays_direct"):
            if padder not in outputs:
                continue
            got, expected = outputs[padder], outputs["runtime_alap_pad_delay"]
            equal = got == expected and got.global_phase == expected.global_phase
            assert equal, f"tarvex PadDelay differs from the runtime's at {n:.0e}"
        for padder in ("tarvex_dd", "tarvex_dd_direct"):
            if padder not in outputs:
                continue
            got, expected = outputs[padder], outputs["mended_alap_dd"]
            equal = got == expected and mended.phase_distance(got.global_phase, expected.global_phase) < 1e-9
            assert equal, f"{padder} differs from the mended runtime's at {n:.0e}"
    size = len(circuit.data)
    ns = {name: statistics.median(v) / size * 1e9 for name, v in seconds.items()}
    ns["conversions"] = statistics.median(floor) / size * 1e9
    speedup = {name: ns[ref] / ns[name] for name, ref in REFERENCE.items() if ref in ns and name in ns}
    if "mended_alap_dd" in ns:
        speedup["tarvex_dd_over_mended"] = ns["mended_alap_dd"] / ns["tarvex_dd"]
    memory_names = ("none", *[name for name in names if name.startswith("tarvex") and name != "tarvex_alap"
                              or with_runtime and name in ("runtime_alap_pad_delay", "runtime_alap_dd")])
    measured = {name: peak_rss(name, n) for name in memory_names}
    return {"instructions": size, "ns_per_instruction": ns, "speedup": speedup,
            "peak_rss_mib": {name: peak for name, (peak, _) in measured.items()},
            "peak_added_mib": {name: added for name, (_, added) in measured.items()}, "equal_to_runtime": equal}


def peak_rss(name: str, n: int, tries: int = 3) -> tuple[float, float]:
    """In MiB, of fresh processes that build the circuit and run `name` once: the peak resident set
    while it runs, and how far that peak rose above the resident set it started from; the least of
    `tries` processes each (a process's resident set varies by a few MiB)."""
    peaks, added = [], []
    for _ in range(tries):
        out = subprocess.run([sys.executable, __file__, "--peak", name, str(n)], capture_output=True, text=True,
                             check=True).stdout.split()
        peaks.append(float(out[0]))
        added.append(float(out[1]))
    return min(peaks), min(added)


def peak_child(name: str, n: int) -> None:
    be = FakeTorino()
    circuit = dynamic_circuit(be, n)
    # Every process runs on the same circuit, the one the runtime is given (ours give the same
    # output on it), so that each starts from the same resident set.
    circuit = runtime_oracle.fresh_bodies(circuit)
    make = pipelines(be.target)[name] if name != "none" else None
    gc.collect()
    # The high-water mark from here on (Linux's clear_refs 5 resets it to the current resident set):
    # building and transpiling the circuit can peak above what any pipeline needs, hiding it.
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")
    start = status_mib("VmRSS")
    if make is not None:
        make().run(circuit)
    peak = status_mib("VmHWM")
    print(peak, peak - start)


def status_mib(field: str) -> float:
    """A field of /proc/self/status in MiB."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    raise RuntimeError(f"{field} not in /proc/self/status")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runtime-sizes", default="1e3,3e3,5e3")
    parser.add_argument("--sizes", default="1e3,3e3,5e3,1e4,1e5,1e6")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--passes", default="pad,dd", help="the groups of pipelines to time: pad, dd or both")
    parser.add_argument("--report", type=Path, help="print the table of a saved run and exit")
    parser.add_argument("--peak", nargs=2, metavar=("PIPELINE", "N"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    warnings.simplefilter("ignore")  # the device's durations round to whole dt, with a warning each
    if args.peak:
        peak_child(args.peak[0], int(float(args.peak[1])))
        return
    if args.report:
        print(report(json.loads(args.report.read_text())))
        return
    runtime_sizes = {int(float(s)) for s in args.runtime_sizes.split(",") if s}
    sizes = [int(float(s)) for s in args.sizes.split(",")]
    names = tuple(name for group in args.passes.split(",") for name in GROUPS[group])
    result: dict[str, Any] = {
        "benchmark": "dynamic_passes",
        "batch_instructions": BATCH,
        "command": "python benchmarks/dynamic_passes.py " + " ".join(sys.argv[1:]),
        "machine": {"platform": platform.platform(), "python": platform.python_version(), "qiskit": qiskit.__version__,
                    "qiskit_ibm_runtime": qiskit_ibm_runtime.__version__},
        "circuit": {"device": "FakeTorino", "virtual_qubits": WIDTH, "measure_and_if_every_layers": EVERY,
                    "transpiled": "optimization_level=1", "seed": SEED},
        "unit": "ns of CPU per source instruction; tarvex: median of the repeats (each a batch of calls under 20,000 instructions), runtime: one run",
        "repeats": args.repeats,
        "pipelines": {name: DESCRIPTIONS[name] for name in (*names, "conversions")},
        "rows": [],
        "targets": [],
    }
    RESULTS_DIR.mkdir(exist_ok=True)
    path = RESULTS_DIR / time.strftime("dynamic-%Y%m%d-%H%M%S.json")
    for n in sizes:  # saved after each size, so a long run that stops keeps what it measured
        repeats = args.repeats if n < 10**6 else max(1, args.repeats // 2)
        result["rows"].append(measure_size(n, repeats, n in runtime_sizes, names))
        result["targets"] = verdicts(result["rows"])
        path.write_text(json.dumps(result, indent=1))
    print(report(result))
    print(f"\nsaved {path}")


if __name__ == "__main__":
    main()
