"""The printed tables of a benchmark run (benchmarks/run.py), and the verdicts on its targets.

Everything here reads the run's JSON result only, so `run.py --report FILE` prints a saved run's
tables again without measuring anything. A figure a run did not measure leaves its row or table
out rather than failing.
"""

from __future__ import annotations

# Targets at N = 1e6 unless noted: (what, peer, bound, kind). "max_ratio": tarvex / peer at most
# bound; "min_speedup": peer / tarvex at least bound.
TARGETS = [
    ("add_gate", "call floor", 1.3, "max_ratio"),
    ("build_schedule", "reference", 100.0, "min_speedup"),
    ("find_idle_windows", "reference", 30.0, "min_speedup"),
    ("apply_dd_pass", "reference", 30.0, "min_speedup"),
    ("get_all_nodes", "reference", 3.0, "min_speedup"),
]
PIPELINE_TARGET_N = 100_000
PIPELINE_MIN_SPEEDUP = 30.0
SCALING_MAX = 1.5
GRAPH_BYTES_MAX = 80.0
SCHEDULE_BYTES_MAX = 16.0
RSS_SLACK_BYTES = 2 * 4096
# Rows that explain others; no target refers to them.
DIAGNOSTIC_ONLY = ("build_schedule rerun",)

OPERATIONS = (
    "add_gate",
    "build_schedule",
    "build_schedule rerun",
    "find_idle_windows",
    "apply_dd_pass",
    "get_all_nodes",
    "get_node_schedule",
    "pipeline",
)


def fmt_ns(v):
    if v is None:
        return "-"
    if v >= 1e5:
        return f"{v:,.0f}"
    return f"{v:.1f}" if v < 100 else f"{v:.0f}"


def fmt_ratio(r):
    return f"{r:.1f}x" if r < 10 else f"{r:.0f}x"


def fmt_n(n):
    return f"10^{len(str(n)) - 1}" if str(n).strip("0") == "1" else f"{n:,}"


def render(header: list[str], rows: list[list[str]]) -> str:
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    return "\n".join(lines)


def speed_rows(sizes: list[dict]) -> list[list[str]]:
    """One row per operation and N: ours, its page faults, and each peer with its ratio to ours."""
    rows = []
    for op in OPERATIONS:
        for s in sizes:
            m = s["median_ns_per_gate"]
            ours = m.get(f"{op}/tarvex")
            if ours is None:
                continue
            faults = s["median_faults_per_gate"].get(f"{op}/tarvex", 0.0)
            cells = [op, fmt_n(s["n_gates"]), fmt_ns(ours), f"{faults * 1000:.0f}"]
            for peer in ("call floor", "reference", "qiskit"):
                theirs = m.get(f"{op}/{peer}")
                if theirs is None:
                    cells.append("-")
                elif peer == "call floor":
                    cells.append(f"{fmt_ns(theirs)} ({ours / theirs:.2f}x)")
                else:
                    cells.append(f"{fmt_ns(theirs)} ({fmt_ratio(theirs / ours)} faster)")
            rows.append(cells)
    return rows


def loop_table(sizes: list[dict]) -> str | None:
    """add_gate against the call floor and its id-returning variant, per N, with the empty loop
    subtracted in the last column; None when the call floor was not measured."""
    rows = []
    for s in sizes:
        m = s["median_ns_per_gate"]
        if "add_gate/call floor" not in m:
            continue
        loop, floor, ours = m["loop_overhead"], m["add_gate/call floor"], m["add_gate/tarvex"]
        with_id = m["add_gate/call floor + id"]
        rows.append([
            fmt_n(s["n_gates"]),
            fmt_ns(loop),
            fmt_ns(floor),
            f"{fmt_ns(with_id)} ({with_id / floor:.2f}x)",
            f"{fmt_ns(ours)} ({ours / floor:.2f}x)",
            f"{(ours - loop) / (floor - loop):.2f}x",
        ])
    header = ["N", "empty loop", "call floor", "call floor returning an int", "add_gate",
              "add_gate / call floor, loop subtracted"]
    return render(header, rows) if rows else None


def objects_table(sizes: list[dict]) -> str | None:
    """find_idle_windows and get_all_nodes against their result objects made from values at hand,
    and the best ratio to the model those objects allow; None when they were not measured."""
    rows = []
    for op in ("find_idle_windows", "get_all_nodes"):
        for s in sizes:
            m = s["median_ns_per_gate"]
            if f"{op}/objects only" not in m:
                continue
            ours, objects, model = m[f"{op}/tarvex"], m[f"{op}/objects only"], m.get(f"{op}/reference")
            rows.append([
                op,
                fmt_n(s["n_gates"]),
                fmt_ns(ours),
                fmt_ns(objects),
                fmt_ns(ours - objects),
                fmt_ns(model),
                "-" if model is None else fmt_ratio(model / objects),
            ])
    header = ["operation", "N", "tarvex", "its result objects alone", "the rest", "reference model",
              "model / objects alone (the best ratio possible)"]
    return render(header, rows) if rows else None


def fresh_memory_table(sizes: list[dict]) -> str | None:
    """build_schedule, first and again, beside the cost of writing 8 bytes per gate into new
    memory, per N; None when that cost was not measured."""
    rows = []
    for s in sizes:
        m = s["median_ns_per_gate"]
        if "fresh memory/8 bytes per gate" in m:
            rows.append([
                fmt_n(s["n_gates"]),
                fmt_ns(m["build_schedule/tarvex"]),
                fmt_ns(m["build_schedule rerun/tarvex"]),
                fmt_ns(m["fresh memory/8 bytes per gate"]),
            ])
    header = ["N", "build_schedule", "build_schedule rerun", "writing 8 bytes per gate into new memory"]
    return render(header, rows) if rows else None


def memory_table(memory: list[dict]) -> str | None:
    """Resident-set growth per gate of each peer and N; None when memory was not measured."""
    rows = [
        [
            m["peer"],
            fmt_n(m["n_gates"]),
            f"{m['graph_bytes_per_gate']:.2f}",
            f"{m['schedule_bytes_per_gate']:.2f}",
            f"{m['total_peak_bytes_per_gate']:.2f}",
            f"{m['peak_rss'] / 2**20:,.0f}",
        ]
        for m in memory
    ]
    header = ["memory", "N", "graph B/gate", "schedule B/gate", "peak growth B/gate", "peak RSS MiB"]
    return render(header, rows) if rows else None


def verdict(ok: bool) -> str:
    return "met" if ok else "MISSED"


def ratio_targets(by_n: dict[int, dict]) -> list[list[str]]:
    """The TARGETS at 10^6 whose peer was measured there."""
    checks = []
    m6 = by_n.get(1_000_000)
    for op, peer, bound, kind in TARGETS:
        if m6 is None or f"{op}/{peer}" not in m6:
            continue
        ours, theirs = m6[f"{op}/tarvex"], m6[f"{op}/{peer}"]
        if kind == "max_ratio":
            value = ours / theirs
            checks.append([f"{op} / {peer} at 10^6", f"<= {bound}x", f"{value:.2f}x", verdict(value <= bound)])
        else:
            value = theirs / ours
            checks.append(
                [f"{op}: {peer} / tarvex at 10^6", f">= {bound:.0f}x", fmt_ratio(value), verdict(value >= bound)]
            )
    return checks


def pipeline_target(by_n: dict[int, dict]) -> list[list[str]]:
    """Qiskit's pipeline against ours at PIPELINE_TARGET_N, if Qiskit ran there."""
    m5 = by_n.get(PIPELINE_TARGET_N)
    if m5 is None or "pipeline/qiskit" not in m5:
        return []
    value = m5["pipeline/qiskit"] / m5["pipeline/tarvex"]
    return [["pipeline: qiskit / tarvex at 10^5", f">= {PIPELINE_MIN_SPEEDUP:.0f}x", fmt_ratio(value),
             verdict(value >= PIPELINE_MIN_SPEEDUP)]]


def scaling_targets(by_n: dict[int, dict]) -> list[list[str]]:
    """Per-gate cost at 10^7 over 10^5 of every operation but the diagnostic ones, if both ran."""
    small, large = by_n.get(100_000), by_n.get(10_000_000)
    if small is None or large is None:
        return []
    checks = []
    for op in OPERATIONS:
        key = f"{op}/tarvex"
        if op in DIAGNOSTIC_ONLY or key not in small or key not in large:
            continue
        value = large[key] / small[key]
        checks.append(
            [f"{op} per gate, 10^7 / 10^5", f"<= {SCALING_MAX}x", f"{value:.2f}x", verdict(value <= SCALING_MAX)]
        )
    return checks


def memory_targets(memory: list[dict]) -> list[list[str]]:
    """Graph and schedule bytes per gate of ours at each N, and the peak at 10^7."""
    checks = []
    for mem in memory:
        if mem["peer"] != "tarvex":
            continue
        n = fmt_n(mem["n_gates"])
        g, s = mem["graph_bytes_per_gate"], mem["schedule_bytes_per_gate"]
        # RSS moves in pages: growth within RSS_SLACK_BYTES of the bound counts as meeting it.
        slack = RSS_SLACK_BYTES / mem["n_gates"]
        checks.append(
            [f"graph memory at {n}", f"<= {GRAPH_BYTES_MAX:.0f} B/gate", f"{g:.2f} B/gate",
             verdict(g <= GRAPH_BYTES_MAX + slack)]
        )
        checks.append(
            [f"schedule memory at {n}", f"<= {SCHEDULE_BYTES_MAX:.0f} B/gate", f"{s:.2f} B/gate",
             verdict(s <= SCHEDULE_BYTES_MAX + slack)]
        )
        if mem["n_gates"] == 10_000_000:
            gib = mem["peak_rss"] / 2**30
            checks.append(
                ["peak RSS, 10^7 gates scheduled", "< 1 GiB (well under 2)", f"{gib:.2f} GiB", verdict(gib < 1.0)]
            )
    return checks


def check_targets(sizes: list[dict], memory: list[dict]) -> list[list[str]]:
    """Every target the run measured: (target, bound, measured, verdict) rows, also saved in the
    run's JSON."""
    by_n = {s["n_gates"]: s["median_ns_per_gate"] for s in sizes}
    return ratio_targets(by_n) + pipeline_target(by_n) + scaling_targets(by_n) + memory_targets(memory)


def report(result: dict) -> str:
    """All tables of a run's result, as printed after the run and by --report."""
    sizes, memory = result["sizes"], result["memory"]
    parts = [
        f"ns per gate of the source circuit, median of {result['repeats']} repeats "
        "(more for N < 10^5); "
        f"reference model up to N = {fmt_n(result['ref_max_n'])}, Qiskit {result['qiskit_version'] or 'not installed'} "
        f"up to N = {fmt_n(result['qiskit_max_n'])}.",
        "",
        render(
            ["operation", "N", "tarvex", "page faults / 1000 gates", "call floor", "reference model", "Qiskit"],
            speed_rows(sizes),
        ),
    ]
    checks = check_targets(sizes, memory)
    for title, table in (
        ("add_gate's loop, ns per call:", loop_table(sizes)),
        ("Result objects made from values at hand, ns per gate:", objects_table(sizes)),
        ("New memory, ns per gate:", fresh_memory_table(sizes)),
        (None, memory_table(memory)),
        (None, render(["target", "bound", "measured", "verdict"], checks) if checks else None),
    ):
        if table is not None:
            parts += ["", table] if title is None else ["", title, "", table]
    return "\n".join(parts)


# -- the documents' tables (tools/figures.py) -----------------------------------------------------

DOC_ROWS = (
    ("add_gate", "`add_gate` (the loop above)"),
    ("build_schedule", "`build_schedule`"),
    ("build_schedule rerun", "`build_schedule`, run again"),
    ("find_idle_windows", "`find_idle_windows(100.0)`"),
    ("apply_dd_pass", "`apply_dd_pass`"),
    ("get_all_nodes", "`get_all_nodes`"),
    ("get_node_schedule", "`get_node_schedule`, per call"),
    ("pipeline", "whole pipeline"),
)


def fmt_doc(v: float) -> str:
    return f"{v:.1f}" if v < 100 else f"{v:,.0f}"


def summary_table(result: dict, model_n: int = 1_000_000) -> str:
    """ns per gate of each operation at every N of the run from 10^5 up, the reference model's at
    MODEL_N, and ours against it there."""
    sizes = [s for s in result["sizes"] if s["n_gates"] >= 100_000]
    at = {s["n_gates"]: s["median_ns_per_gate"] for s in sizes}
    header = ["operation", *[f"N = {fmt_n(s['n_gates'])}" for s in sizes],
              f"pure-Python model, N = {fmt_n(model_n)}", f"speed-up at {fmt_n(model_n)}"]
    rows = []
    for op, label in DOC_ROWS:
        model, ours = at[model_n].get(f"{op}/reference"), at[model_n][f"{op}/tarvex"]
        rows.append([label, *[fmt_doc(at[s["n_gates"]][f"{op}/tarvex"]) for s in sizes],
                     "-" if model is None else fmt_doc(model), "-" if model is None else fmt_ratio(model / ours)])
    return render(header, rows)


def qiskit_pipeline_table(result: dict) -> str:
    """The whole pipeline against the same job in Qiskit, at every N where Qiskit ran."""
    rows = []
    for s in result["sizes"]:
        m = s["median_ns_per_gate"]
        if "pipeline/qiskit" in m and s["n_gates"] >= 100_000:
            rows.append([fmt_n(s["n_gates"]), fmt_doc(m["pipeline/tarvex"]), fmt_doc(m["pipeline/qiskit"]),
                         fmt_ratio(m["pipeline/qiskit"] / m["pipeline/tarvex"])])
    return render(["N", "tarvex pipeline", f"Qiskit {result['qiskit_version']}: circuit, ASAPScheduleAnalysis, "
                   "PadDynamicalDecoupling (X Y X Y)", "Qiskit / tarvex"], rows)


def targets_table(result: dict) -> str:
    return render(["target", "bound", "measured", "verdict"], check_targets(result["sizes"], result["memory"]))


def compared_targets_table(results: list[tuple[str, dict]]) -> str:
    """The targets' measurements and verdicts of several runs side by side, named by their files."""
    checks = [{row[0]: row for row in check_targets(r["sizes"], r["memory"])} for _, r in results]
    rows = [[target, row[1], *[f"{c[target][2]} ({c[target][3]})" if target in c else "-" for c in checks]]
            for target, row in checks[0].items()]
    return render(["target", "bound", *[f"`{name}`" for name, _ in results]], rows)


def new_memory_table(result: dict) -> str:
    """build_schedule and apply_dd_pass, with their page faults, beside the cost of writing 8 bytes
    per gate into new memory, per N."""
    rows = []
    for s in result["sizes"]:
        m, f = s["median_ns_per_gate"], s["median_faults_per_gate"]
        rows.append([fmt_n(s["n_gates"]), fmt_ns(m["build_schedule/tarvex"]), fmt_ns(m["build_schedule rerun/tarvex"]),
                     fmt_ns(m["apply_dd_pass/tarvex"]), f"{f.get('apply_dd_pass/tarvex', 0.0) * 1000:.0f}",
                     fmt_ns(m["fresh memory/8 bytes per gate"])])
    return render(["N", "build_schedule", "build_schedule rerun", "apply_dd_pass",
                   "apply_dd_pass page faults / 1000 gates", "writing 8 bytes per gate into new memory"], rows)
