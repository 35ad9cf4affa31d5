"""A whole compilation on a quantum Fourier transform: schedule, idle windows, DD pass, timelines.

Run as ``python -m tarvex.demo [OUT_DIR]``; ``--help`` lists the options.
"""

from __future__ import annotations

import argparse
import math
import sys
import time
from collections.abc import Iterator, Sequence
from pathlib import Path

from _tarvex import QuantumDAG

from tarvex import __version__
from tarvex.timeline import write_svg

__all__ = ["main", "qft_gates"]


def qft_gates(
    n_qubits: int, single_ns: float, two_ns: float
) -> Iterator[tuple[str, list[int], float]]:
    """The gates of an `n_qubits` quantum Fourier transform on qubits 0 .. n_qubits - 1, in order.

    Each qubit j gets a Hadamard "h", then a controlled phase from every later qubit k, written as
    "rz" on k, "cx" k->j, "rz" on j, "cx" k->j, "rz" on j; the qubit order is reversed at the end
    by swaps of three "cx" each. Single-qubit gates last `single_ns`, "cx" `two_ns`. That is
    n + 5 n (n - 1) / 2 + 3 floor(n / 2) gates (rotation angles are not part of the graph).
    """
    for j in range(n_qubits):
        yield "h", [j], single_ns
        for k in range(j + 1, n_qubits):
            yield "rz", [k], single_ns
            yield "cx", [k, j], two_ns
            yield "rz", [j], single_ns
            yield "cx", [k, j], two_ns
            yield "rz", [j], single_ns
    for j in range(n_qubits // 2):
        a, b = j, n_qubits - 1 - j
        yield "cx", [a, b], two_ns
        yield "cx", [b, a], two_ns
        yield "cx", [a, b], two_ns


def _makespan_ns(dag: QuantumDAG) -> float:
    ends = (
        span[1] for node_id in range(dag.node_count()) if (span := dag.get_node_schedule(node_id))
    )
    return max((end for end in ends if math.isfinite(end)), default=0.0)


def _positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def _positive_ns(text: str) -> float:
    value = float(text)
    if not (math.isfinite(value) and value > 0.0):
        raise argparse.ArgumentTypeError(f"must be a positive number of ns, not {text}")
    return value


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m tarvex.demo",
        description="Builds a quantum Fourier transform from timed gates, schedules it, lists its "
        "idle windows, inserts dynamical-decoupling pairs, schedules the result and writes both "
        "timelines (timeline-before.svg, timeline-after.svg).",
    )
    parser.add_argument(
        "out_dir",
        nargs="?",
        metavar="OUT_DIR",
        default=".",
        type=Path,
        help="folder for the two SVG files (created if missing; default: current folder)",
    )
    parser.add_argument(
        "--qubits",
        type=_positive_int,
        default=20,
        metavar="N",
        help="number of qubits (default: 20)",
    )
    parser.add_argument(
        "--single-ns",
        type=_positive_ns,
        default=35.0,
        metavar="NS",
        help="duration of a single-qubit gate in ns (default: 35)",
    )
    parser.add_argument(
        "--two-ns",
        type=_positive_ns,
        default=300.0,
        metavar="NS",
        help="duration of a two-qubit gate in ns (default: 300)",
    )
    parser.add_argument(
        "--min-idle-ns",
        type=float,
        default=100.0,
        metavar="NS",
        help="shortest idle window listed and shaded, in ns (default: 100)",
    )
    parser.add_argument(
        "--list",
        type=int,
        default=5,
        metavar="N",
        help="how many of the longest idle windows to list (default: 5)",
    )
    parser.add_argument(
        "--width",
        type=_positive_int,
        default=1600,
        metavar="PX",
        help="width of the timelines' time axis in px (default: 1600)",
    )
    parser.add_argument("--version", action="version", version=f"tarvex {__version__}")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    n_qubits: int = args.qubits
    out_dir: Path = args.out_dir
    min_idle_ns: float = args.min_idle_ns

    t0 = time.perf_counter()
    dag = QuantumDAG()
    for name, qubits, duration_ns in qft_gates(n_qubits, args.single_ns, args.two_ns):
        dag.add_gate(name, qubits, duration_ns)
    t1 = time.perf_counter()
    dag.build_schedule()
    t2 = time.perf_counter()
    windows = dag.find_idle_windows(min_idle_ns)
    t3 = time.perf_counter()
    decoupled = dag.apply_dd_pass()
    t4 = time.perf_counter()
    decoupled.build_schedule()
    t5 = time.perf_counter()
    windows_after = decoupled.find_idle_windows(min_idle_ns)

    n_gates, n_gates_after = dag.node_count(), decoupled.node_count()
    n_pairs = sum(name == "DD_X" for name, _, _ in decoupled.get_all_nodes())
    makespan_ns, makespan_after_ns = _makespan_ns(dag), _makespan_ns(decoupled)
    idle_ns = sum(end - start for _, start, end in windows)
    idle_after_ns = sum(end - start for _, start, end in windows_after)

    label = f"{n_qubits}-qubit QFT"
    out_dir.mkdir(parents=True, exist_ok=True)
    before_svg = write_svg(
        dag,
        out_dir / "timeline-before.svg",
        min_idle_ns=min_idle_ns,
        plot_width_px=args.width,
        title=f"{label}: {n_gates} gates, makespan {makespan_ns:g} ns, before DD",
    )
    after_svg = write_svg(
        decoupled,
        out_dir / "timeline-after.svg",
        min_idle_ns=min_idle_ns,
        plot_width_px=args.width,
        title=f"{label}: {n_gates_after} gates, makespan {makespan_after_ns:g} ns, "
        f"after DD ({n_pairs} pairs)",
    )

    print(f"idle windows of at least {min_idle_ns:g} ns before DD: {len(windows)}")
    for q, start, end in sorted(windows, key=lambda w: w[1] - w[2])[: max(args.list, 0)]:
        print(f"  q{q:<3} {start:>10.1f} – {end:>10.1f} ns  ({end - start:g} ns)")
    if len(windows) > args.list > 0:
        print(f"  ... {len(windows) - args.list} more")
    print()
    durations = f"{args.single_ns:g} ns single-qubit and {args.two_ns:g} ns two-qubit gates"
    print(f"circuit:    {label}, {durations}")
    print(f"gates:      {n_gates} before DD, {n_gates_after} after")
    print(f"qubits:     {n_qubits}")
    print(f"makespan:   {makespan_ns:.1f} ns before DD, {makespan_after_ns:.1f} ns after")
    print(
        f"idle time:  {idle_ns:.1f} ns before DD, {idle_after_ns:.1f} ns after "
        f"(windows of at least {min_idle_ns:g} ns)"
    )
    print(f"DD pairs:   {n_pairs} inserted")
    marks = (t0, t1, t2, t3, t4, t5)
    steps = ("build", "schedule", "idle windows", "DD pass", "schedule again")
    laps = ", ".join(
        f"{step} {(b - a) * 1e3:.3f}" for step, a, b in zip(steps, marks, marks[1:], strict=False)
    )
    print(f"time taken: {(t5 - t0) * 1e3:.3f} ms ({laps})")
    print(f"timelines:  {before_svg}, {after_svg}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
