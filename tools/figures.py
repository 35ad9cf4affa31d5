"""The documents' figures, filled from the quoted runs in benchmarks/quoted/ so that none is copied
by hand: one registry of (document, marker, quoted runs, renderer).

In a document, a figure is the block between
    <!-- figures: MARKER ... -->
    <!-- /figures: MARKER -->
which this script rewrites whole (the opening line names the quoted runs). Add a figure by adding
its two marker lines to the document and a row to FIGURES; the renderer takes the quoted runs'
JSON in order, as (file name, result) pairs when `named` is set, and returns Markdown.
Usage: python tools/figures.py [--check]   (--check writes nothing and fails if a document differs)
"""

from __future__ import annotations

import argparse
import json
import re
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Dict, List, Tuple

REPO = Path(__file__).resolve().parents[1]
QUOTED = REPO / "benchmarks/quoted"
sys.path.insert(0, str(REPO / "benchmarks"))

sys.path.insert(0, str(REPO / "tools"))

import dynamic_report  # noqa: E402
import lanes  # noqa: E402
import qiskit_fez_report  # noqa: E402
import qiskit_report  # noqa: E402
import run_report  # noqa: E402
import scale_report  # noqa: E402
import testplan  # noqa: E402

CORE_RUN = "run-20261208-213143.json"
CORE_PREVIOUS_RUN = "run-20261208-212217.json"
QISKIT_RUN = "qiskit-20261209-094453.json"
IBM_RUN = "qiskit-fez-20261209-234659.json"
DYNAMIC_RUN = "dynamic-20261210-125754.json"
DYNAMIC_DD_RUN = "dynamic-20261210-130634.json"
SCALE_RUNS = ("scale-20261208-213354.json", "scale-20261208-213404.json")
TEST_FIRST_RUN = "test-20261209-165522.json"
TEST_CACHED_RUN = "test-20261210-101534.json"
RELEASE_RUN = "release-20261209-172944.json"


def headline(core: dict, plugin: dict) -> str:
    """The README's two speed-ups against Qiskit at 10^6 gates: the core's pipeline, and the
    plugin's fused pass in a PassManager."""
    at = {s["n_gates"]: s["median_ns_per_gate"] for s in core["sizes"]}[1_000_000]
    fused = next(s for s in plugin["sizes"] if abs(s["n_gates"] - 1_000_000) < 50_000)
    ns = fused["ns_per_gate"]
    rows = [
        ["`_tarvex`: add the gates, schedule, DD, schedule, export", f"{at['pipeline/qiskit']:,.0f}",
         f"{at['pipeline/tarvex']:,.0f}", f"{at['pipeline/qiskit'] / at['pipeline/tarvex']:.0f}x"],
        ["`tarvex_qiskit`: ALAP + DD `[x, x]` in a `PassManager`, circuit in and out", f"{ns['qiskit_dd']:,.0f}",
         f"{ns['fused_dd']:,.0f}", f"{ns['qiskit_dd'] / ns['fused_dd']:.0f}x"],
    ]
    return run_report.render(["10^6 gates, ns of CPU per gate", f"Qiskit {core['qiskit_version']}", "Tarvex",
                              "speed-up"], rows)


def dynamic_headline(pad: dict, dd: dict) -> str:
    """The README's table of the dynamic-circuit passes: ns of CPU per instruction at every size,
    our speed-up against the runtime's pipeline in brackets where the runtime ran; through a
    PassManager and, where the run has them, the direct path."""
    def near(rows: list, n: int) -> dict | None:
        return next((r for r in rows if abs(r["instructions"] - n) / n < 0.1), None)

    def cell(row: dict | None, name: str) -> str:
        if row is None or name not in row["ns_per_instruction"]:
            return ""
        ns, sp = row["ns_per_instruction"][name], row["speedup"].get(name)
        return f"{ns:,.0f}" + (f" ({sp:,.0f}x)" if sp is not None else "")

    direct = any("tarvex_pad_delays_direct" in r["ns_per_instruction"] for r in pad["rows"])
    if not direct:  # an earlier run: the speed-ups at the runtime's sizes only
        sizes = [r["instructions"] for r in dd["rows"] if "runtime_alap_dd" in r["ns_per_instruction"]]
        rows = [[f"{n:,}", f"{near(pad['rows'], n)['speedup']['tarvex_pad_delay']:,.0f}x",
                 f"{near(dd['rows'], n)['speedup']['tarvex_dd']:,.0f}x"] for n in sizes]
        return run_report.render(["FakeTorino, instructions", "ALAP + PadDelay", "ALAP + DD `[x, x]`"], rows)
    columns = [(pad, "runtime_alap_pad_delay"), (pad, "tarvex_pad_delay"), (pad, "tarvex_pad_delays_direct"),
               (dd, "runtime_alap_dd"), (dd, "tarvex_dd"), (dd, "tarvex_dd_direct")]
    rows = []
    for p in pad["rows"]:
        n = p["instructions"]
        rows.append([f"{n:,}", *(cell(near(run["rows"], n), name) for run, name in columns)])
    return run_report.render(["FakeTorino, instructions", "runtime ALAP + PadDelay", "tarvex PadDelay",
                              "`pad_delays` (direct)", "runtime ALAP + DD `[x, x]`", "tarvex DD",
                              "`decouple` (direct)"], rows)


@dataclass(frozen=True)
class Figure:
    document: str
    marker: str
    quoted: Tuple[str, ...]
    render: Callable[..., str]
    named: bool = False  # the renderer takes one list of (file name, result) pairs
    source: str = ""  # where the figure comes from when it quotes no run


FIGURES: List[Figure] = [
    Figure("README.md", "headline", (CORE_RUN, QISKIT_RUN), headline),
    Figure("docs/performance.md", "core-speed", (CORE_RUN,), run_report.summary_table),
    Figure("docs/performance.md", "core-qiskit", (CORE_RUN,), run_report.qiskit_pipeline_table),
    Figure("docs/performance.md", "core-targets", (CORE_RUN,), run_report.targets_table),
    Figure("docs/performance.md", "core-loop", (CORE_RUN,), lambda r: run_report.loop_table(r["sizes"])),
    Figure("docs/performance.md", "core-objects", (CORE_RUN,), lambda r: run_report.objects_table(r["sizes"])),
    Figure("docs/performance.md", "core-fresh-memory", (CORE_RUN,), run_report.new_memory_table),
    Figure("docs/performance.md", "core-memory", (CORE_RUN,), lambda r: run_report.memory_table(r["memory"])),
    Figure("docs/performance.md", "core-runs-compared", (CORE_RUN, CORE_PREVIOUS_RUN),
           run_report.compared_targets_table, named=True),
    Figure("docs/performance.md", "scale", SCALE_RUNS, scale_report.scale_table, named=True),
    Figure("docs/testing.md", "test-stages", (), testplan.stage_table, source="tools/testplan.py"),
    Figure("docs/testing.md", "test-cached", (TEST_CACHED_RUN,), lanes.run_table),
    Figure("docs/testing.md", "test-first", (TEST_FIRST_RUN,), lanes.run_table),
    Figure("docs/release.md", "release-run", (RELEASE_RUN,), lanes.run_table),
    Figure("docs/qiskit.md", "qiskit-pipelines", (QISKIT_RUN,), qiskit_report.pipelines_table),
    Figure("docs/qiskit.md", "qiskit-where", (QISKIT_RUN,), qiskit_report.where_table),
    Figure("docs/qiskit.md", "qiskit-memory", (QISKIT_RUN,), qiskit_report.memory_table),
    Figure("docs/qiskit.md", "qiskit-targets", (QISKIT_RUN,), qiskit_report.targets_table),
    Figure("docs/ibm-primitives.md", "ibm-speed", (IBM_RUN,), qiskit_fez_report.sizes_table),
    Figure("docs/ibm-primitives.md", "ibm-fixed-cost", (IBM_RUN,), qiskit_fez_report.fixed_cost_table),
    Figure("docs/ibm-primitives.md", "ibm-targets", (IBM_RUN,), qiskit_fez_report.targets_table),
    Figure("README.md", "dynamic-headline", (DYNAMIC_RUN, DYNAMIC_DD_RUN), dynamic_headline),
    Figure("docs/dynamic-circuits.md", "dynamic-speed", (DYNAMIC_RUN,), dynamic_report.speed_table),
    Figure("docs/dynamic-circuits.md", "dynamic-memory", (DYNAMIC_RUN,), dynamic_report.memory_table),
    Figure("docs/dynamic-circuits.md", "dynamic-targets", (DYNAMIC_RUN,), dynamic_report.targets_table),
    Figure("docs/dynamic-circuits.md", "dynamic-dd", (DYNAMIC_DD_RUN,), dynamic_report.dd_table),
    Figure("docs/dynamic-circuits.md", "dynamic-dd-targets", (DYNAMIC_DD_RUN,), dynamic_report.targets_list),
]


class FigureError(ValueError):
    pass


def block(figure: Figure, body: str) -> str:
    sources = ", ".join(f"benchmarks/quoted/{name}" for name in figure.quoted) or figure.source
    return (f"<!-- figures: {figure.marker} (from {sources}; written by tools/figures.py) -->\n"
            f"{body.rstrip()}\n<!-- /figures: {figure.marker} -->")


def fill(text: str, figure: Figure, body: str) -> str:
    """TEXT with the block of FIGURE replaced by BODY; FigureError unless it has that block once."""
    pattern = re.compile(rf"<!-- figures: {re.escape(figure.marker)}[ (].*?-->\n.*?<!-- /figures: "
                         rf"{re.escape(figure.marker)} -->", re.DOTALL)
    found = pattern.findall(text)
    if len(found) != 1:
        raise FigureError(f"{figure.document} has {len(found)} blocks of the figure {figure.marker!r}, not one")
    return pattern.sub(lambda _: block(figure, body), text)


def rendered(figure: Figure, quoted: Path = QUOTED) -> str:
    results = [(name, json.loads((quoted / name).read_text())) for name in figure.quoted]
    if figure.named:
        return figure.render(results)
    return figure.render(*[result for _, result in results])


def documents(figures: List[Figure] = FIGURES, repo: Path = REPO, quoted: Path = QUOTED) -> Dict[str, Tuple[str, str]]:
    """Each document's (text now, text with every figure filled)."""
    texts: Dict[str, Tuple[str, str]] = {}
    for figure in figures:
        if figure.document not in texts:
            now = (repo / figure.document).read_text()
            texts[figure.document] = (now, now)
        now, filled = texts[figure.document]
        texts[figure.document] = (now, fill(filled, figure, rendered(figure, quoted)))
    return texts


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(prog="tools/figures.py", description=__doc__.split("\n")[0])
    parser.add_argument("--check", action="store_true", help="write nothing; fail if a document differs")
    args = parser.parse_args(argv)
    stale = []
    for document, (now, filled) in documents().items():
        if now != filled:
            stale.append(document)
            if not args.check:
                (REPO / document).write_text(filled)
    if args.check and stale:
        print(f"figures: {', '.join(stale)} differ from the quoted runs; python tools/figures.py writes them",
              file=sys.stderr)
        return 1
    print(f"figures: {'written' if stale and not args.check else 'up to date'}: "
          f"{', '.join(stale) or ', '.join(sorted({f.document for f in FIGURES}))}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
