"""A whole compilation on a quantum Fourier transform: schedule, idle windows, DD pass, timelines.

Run as ``python -m tarvex.demo [OUT_DIR]``; ``--help`` lists the options.

The demonstration is a sequence of parts (`PARTS`), each a function that does its work, writes
its pictures into OUT_DIR and returns a `Report`, which `print_report` prints.

Only the standard library is imported at module level: `tools/demo.sh --help` runs this file
with any Python 3 before the extension is built, so the options must not need it.
"""

from __future__ import annotations

import argparse
import importlib
import math
import sys
import tempfile
import time
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, NoReturn

if TYPE_CHECKING:
    from _tarvex import QuantumDAG

__all__ = ["PARTS", "Report", "dynamic_part", "main", "print_report", "qft_gates", "qft_part", "qiskit_part"]

PROG = "python -m tarvex.demo"


@dataclass(frozen=True, slots=True)
class Report:
    """What one part of the demonstration prints: `listing` lines, a blank line, then one
    ``label: value`` line per `summary` entry, the values aligned."""

    listing: list[str]
    summary: list[tuple[str, str]]


def print_report(report: Report) -> None:
    """Prints `report` to standard output."""
    for line in report.listing:
        print(line)
    if report.listing:
        print()
    for label, value in report.summary:
        print(f"{label + ':':<12}{value}")


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


def qft_part(args: argparse.Namespace, out_dir: Path) -> Report:
    """Builds the QFT that `args` describe, schedules it, finds its idle windows, applies the DD
    pass, schedules the result, writes both timelines into `out_dir` and reports the figures.

    Raises `OSError` when a timeline cannot be written.
    """
    from _tarvex import QuantumDAG

    from tarvex.timeline import DD_GATE_NAMES, write_svg

    n_qubits: int = args.qubits
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
    # a pair is one gate of each DD name
    n_dd_gates = sum(name in DD_GATE_NAMES for name, _, _ in decoupled.get_all_nodes())
    n_pairs = n_dd_gates // len(DD_GATE_NAMES)
    makespan_ns, makespan_after_ns = _makespan_ns(dag), _makespan_ns(decoupled)
    idle_ns = sum(end - start for _, start, end in windows)
    idle_after_ns = sum(end - start for _, start, end in windows_after)

    label = f"{n_qubits}-qubit QFT"
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

    listing = [f"idle windows of at least {min_idle_ns:g} ns before DD: {len(windows)}"]
    for q, start, end in sorted(windows, key=lambda w: w[1] - w[2])[: args.list]:
        listing.append(f"  q{q:<3} {start:>10.1f} – {end:>10.1f} ns  ({end - start:g} ns)")
    if len(windows) > args.list > 0:
        listing.append(f"  ... {len(windows) - args.list} more")
    marks = (t0, t1, t2, t3, t4, t5)
    steps = ("build", "schedule", "idle windows", "DD pass", "schedule again")
    laps = ", ".join(
        f"{step} {(b - a) * 1e3:.3f}" for step, a, b in zip(steps, marks, marks[1:], strict=False)
    )
    durations = f"{args.single_ns:g} ns single-qubit and {args.two_ns:g} ns two-qubit gates"
    idle_time = (
        f"{idle_ns:.1f} ns before DD, {idle_after_ns:.1f} ns after "
        f"(windows of at least {min_idle_ns:g} ns)"
    )
    summary = [
        ("circuit", f"{label}, {durations}"),
        ("gates", f"{n_gates} before DD, {n_gates_after} after"),
        ("qubits", f"{n_qubits}"),
        ("makespan", f"{makespan_ns:.1f} ns before DD, {makespan_after_ns:.1f} ns after"),
        ("idle time", idle_time),
        ("DD pairs", f"{n_pairs} inserted"),
        ("time taken", f"{(t5 - t0) * 1e3:.3f} ms ({laps})"),
        ("timelines", f"{before_svg}, {after_svg}"),
    ]
    return Report(listing, summary)


def qiskit_part(args: argparse.Namespace, out_dir: Path) -> Report:
    """Dynamical decoupling of a transpiled circuit by Qiskit's passes and by the plugin
    `tarvex_qiskit`, compared, timed and drawn (timeline-qiskit.svg); where the plugin is not
    installed, a report that says so."""
    # Imported by name: the plugin is an optional, separate distribution, not a dependency.
    try:
        part = importlib.import_module("tarvex_qiskit.demo").qiskit_part
    except ImportError as error:
        reason = f"{error}; pip install tarvex-qiskit, or ./plugins/qiskit from a checkout, adds it"
        return Report([], [("qiskit", f"skipped, the plugin tarvex_qiskit is missing ({reason})")])
    summary: list[tuple[str, str]] = part(args, out_dir)
    return Report([], summary)


def dynamic_part(args: argparse.Namespace, out_dir: Path) -> Report:
    """Dynamical decoupling of a dynamic circuit (a repeated syndrome measurement on FakeTorino) by
    qiskit-ibm-runtime's passes, mended, and by the plugin, compared and timed; where the plugin
    is not installed, a report that says so (the plugin's part says so where the runtime is not)."""
    try:
        part = importlib.import_module("tarvex_qiskit.demo").dynamic_part
    except ImportError as error:
        reason = (
            f"{error}; pip install tarvex-qiskit[ibm], or ./plugins/qiskit[ibm] from a checkout, "
            "adds it"
        )
        return Report([], [("dynamic", f"skipped, the plugin tarvex_qiskit is missing ({reason})")])
    except AttributeError:
        # An installed plugin older than this package: its demonstration has no dynamic part.
        return Report([], [("dynamic", "skipped, the installed tarvex_qiskit is older than this demonstration and"
                                       " has no dynamic part; reinstall it")])
    return Report([], part(args, out_dir))


#: The parts of the demonstration, run in this order.
PARTS: tuple[Callable[[argparse.Namespace, Path], Report], ...] = (qft_part, qiskit_part, dynamic_part)


# Option values: each parser states its rule in the one-line error, whatever the text was.
def _whole_number(minimum: int) -> Callable[[str], int]:
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            value = minimum - 1
        if value < minimum:
            raise argparse.ArgumentTypeError(
                f"must be a whole number of at least {minimum}, not {text!r}"
            )
        return value

    return parse


def _ns(*, zero_allowed: bool) -> Callable[[str], float]:
    rule = "a finite number of ns, 0 or more" if zero_allowed else "a finite number of ns above 0"

    def parse(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            value = math.nan
        if not (math.isfinite(value) and (value > 0.0 or (zero_allowed and value == 0.0))):
            raise argparse.ArgumentTypeError(f"must be {rule}, not {text!r}")
        return value

    return parse


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # One line: the usage text argparse would print first buries the message.
        self.exit(2, f"{self.prog}: error: {message}\n")


class _Version(argparse.Action):
    # Looked up only when asked for, so that --help works before the package is installed.
    def __call__(self, parser: argparse.ArgumentParser, *_: object) -> NoReturn:
        from importlib.metadata import version

        parser.exit(0, f"tarvex {version('tarvex')}\n")


def _parser() -> _Parser:
    parser = _Parser(
        prog=PROG,
        description="Builds a quantum Fourier transform from timed gates, schedules it, lists its "
        "idle windows, inserts dynamical-decoupling pairs, schedules the result and writes both "
        "timelines (timeline-before.svg, timeline-after.svg); then, with the Qiskit plugin, "
        "decouples a transpiled circuit with Qiskit's passes and the plugin's and draws the "
        "result (timeline-qiskit.svg), and a dynamic circuit with qiskit-ibm-runtime's passes "
        "(mended) and the plugin's.",
    )
    parser.add_argument(
        "out_dir",
        nargs="?",
        metavar="OUT_DIR",
        default=".",
        type=Path,
        help="folder for the SVG files (created if missing; default: current folder)",
    )
    for flag, parse, default, metavar, text in (
        ("--qubits", _whole_number(1), 20, "N", "number of qubits"),
        ("--single-ns", _ns(zero_allowed=False), 35.0, "NS", "duration of a single-qubit gate"),
        ("--two-ns", _ns(zero_allowed=False), 300.0, "NS", "duration of a two-qubit gate"),
        (
            "--min-idle-ns",
            _ns(zero_allowed=True),
            100.0,
            "NS",
            "shortest idle window listed and shaded",
        ),
        ("--list", _whole_number(0), 5, "N", "how many of the longest idle windows to list"),
        ("--width", _whole_number(1), 1600, "PX", "width of the timelines' time axis"),
    ):
        unit = {"NS": " in ns", "PX": " in px"}.get(metavar, "")
        parser.add_argument(
            flag,
            type=parse,
            default=default,
            metavar=metavar,
            help=f"{text}{unit} (default: {default:g})",
        )
    parser.add_argument("--version", action=_Version, nargs=0, help="show the version and exit")
    return parser


def _writable_folder(parser: _Parser, path: Path) -> Path:
    """`path`, created if missing, once a file could be made in it; else a usage error."""
    rule = "argument OUT_DIR: must be a folder that can be created and written"
    try:
        path.mkdir(parents=True, exist_ok=True)
    except FileExistsError:
        parser.error(f"{rule}; {str(path)!r} is a file")
    except OSError as error:
        parser.error(f"{rule}; cannot create {str(path)!r} ({error.strerror})")
    try:
        with tempfile.NamedTemporaryFile(dir=path, prefix=".tarvex-demo-"):
            pass
    except OSError as error:
        parser.error(f"{rule}; cannot write in {str(path)!r} ({error.strerror})")
    return path


def main(argv: Sequence[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    out_dir = _writable_folder(parser, args.out_dir)
    for i, part in enumerate(PARTS):
        if i:
            print()
        try:
            report = part(args, out_dir)
        except OSError as error:
            where = str(error.filename or out_dir)
            print(f"{PROG}: error: cannot write {where!r} ({error.strerror})", file=sys.stderr)
            return 1
        print_report(report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
