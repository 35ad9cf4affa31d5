"""The tables of a run of benchmarks/qiskit_passes.py, and the verdicts on its targets.

Reads the run's JSON result only (no Qiskit needed), so that `qiskit_passes.py --report FILE` and
tools/figures.py, which fills the documents from the quoted runs, render the same tables.
"""

from __future__ import annotations

TARGETS = {10**4: 30.0, 10**5: 50.0}  # fused DD speed-up at least
SCALING_MAX = 1.5  # fused DD ns/gate at 10^6 over 10^4 at most


def render(header: list[str], rows: list[list[str]]) -> str:
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    return "\n".join(lines + ["| " + " | ".join(r) + " |" for r in rows])


def cell(ns: dict, name: str, reference: str) -> str:
    """ns per gate of NAME with its speed-up against REFERENCE in brackets."""
    return f"{ns[name]:,.0f} ({ns[reference] / ns[name]:.1f}x)"


def pipelines_table(result: dict) -> str:
    """Each pipeline from circuit in to circuit out, ns of CPU per source gate, speed-up against
    Qiskit's pipeline of the same kind."""
    rows = []
    for row in result["sizes"]:
        ns = row["ns_per_gate"]
        rows.append([f"{row['n_gates']:,}", f"{ns['qiskit_dd']:,.0f}", cell(ns, "fused_dd", "qiskit_dd"),
                     cell(ns, "fused_dd_recorded", "qiskit_dd"), cell(ns, "dropin_dd", "qiskit_dd"),
                     f"{ns['qiskit_delay']:,.0f}", cell(ns, "fused_delay", "qiskit_delay")])
    return render(["N gates", "Qiskit ALAP + DD", "fused DD", "fused DD, recorded", "drop-in DD",
                   "Qiskit ALAP + PadDelay", "fused PadDelay"], rows)


def where_table(result: dict) -> str:
    """Where the fused pipeline's time goes: PassManager's own conversions (which bound the
    speed-up of any pass) and the DD passes timed alone on a DAG, ns per gate."""
    rows = []
    for row in result["sizes"]:
        ns = row["ns_per_gate"]
        rows.append([f"{row['n_gates']:,}", f"{ns['fused_dd']:,.0f}", f"{ns['conversions']:,.0f}",
                     f"{ns['qiskit_dd'] / ns['conversions']:.0f}x", f"{ns['qiskit_dd_passes']:,.0f}",
                     cell(ns, "fused_dd_pass", "qiskit_dd_passes")])
    return render(["N gates", "fused DD pipeline", "PassManager conversions", "ceiling: Qiskit's pipeline / conversions",
                   "DD passes alone: Qiskit", "fused pass alone"], rows)


def memory_table(result: dict) -> str:
    """Peak resident set of a fresh process that builds the circuit and runs one pipeline once."""
    rows = []
    for row in result["sizes"]:
        mem = row["peak_rss_mib"]
        rows.append([f"{row['n_gates']:,}", f"{mem['none']:,.0f} MiB", f"{mem['qiskit_dd']:,.0f} MiB",
                     f"{mem['fused_dd']:,.0f} MiB", f"{mem['fused_dd_recorded']:,.0f} MiB"])
    return render(["N gates", "circuit only", "Qiskit ALAP + DD", "fused DD", "fused DD, recorded"], rows)


def targets_table(result: dict) -> str:
    """The fused DD pass's targets: speed-up at 10^4 and 10^5, per-gate scaling, peak memory."""
    rows = []
    by_n = {row["n_gates"]: row["ns_per_gate"] for row in result["sizes"]}
    for n, bound in TARGETS.items():
        for k, ns in by_n.items():
            if abs(k - n) / n < 0.05:
                ratio = ns["qiskit_dd"] / ns["fused_dd"]
                rows.append([f"fused DD / Qiskit's pipeline at {k:,}", f">= {bound:.0f}x", f"{ratio:.1f}x",
                             "met" if ratio >= bound else "missed"])
    sizes = result["sizes"]
    if len(sizes) > 1:
        scale = sizes[-1]["ns_per_gate"]["fused_dd"] / sizes[0]["ns_per_gate"]["fused_dd"]
        rows.append([f"fused DD per gate, {sizes[-1]['n_gates']:,} / {sizes[0]['n_gates']:,}", f"<= {SCALING_MAX}x",
                     f"{scale:.2f}x", "met" if scale <= SCALING_MAX else "missed"])
    for row in sizes:
        mem = row["peak_rss_mib"]
        rows.append([f"peak RSS at {row['n_gates']:,}", "fused <= Qiskit's",
                     f"{mem['fused_dd']:,.0f} against {mem['qiskit_dd']:,.0f} MiB",
                     "met" if mem["fused_dd"] <= mem["qiskit_dd"] else "missed"])
    return render(["target", "bound", "measured", "verdict"], rows)


def labels_table(result: dict) -> str:
    """What keeping every instruction's label costs: the fused DD pipeline as it is (it finds the
    labelled instructions with a Python object per instruction; the C API does not read labels)
    and with keep_labels=False, which keeps only the barriers' labels. Empty for runs saved before
    the second pipeline existed."""
    rows = []
    for row in result["sizes"]:
        ns = row["ns_per_gate"]
        if "fused_dd_no_label_scan" not in ns:
            continue
        scan = ns["fused_dd"] - ns["fused_dd_no_label_scan"]
        rows.append([f"{row['n_gates']:,}", cell(ns, "fused_dd", "qiskit_dd"),
                     cell(ns, "fused_dd_no_label_scan", "qiskit_dd"), f"{scan:,.0f} ({scan / ns['fused_dd']:.0%})"])
    if not rows:
        return ""
    return render(["N gates", "fused DD, labels kept", "fused DD, keep_labels=False", "the label scan"], rows)


def report(result: dict) -> str:
    """Every table of a run, as `qiskit_passes.py` prints it after measuring and with --report."""
    tables = [pipelines_table(result), where_table(result), memory_table(result), labels_table(result),
              targets_table(result)]
    return "\n\n".join(table for table in tables if table)
