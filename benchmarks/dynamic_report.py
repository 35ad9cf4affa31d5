"""The tables of a run of benchmarks/dynamic_passes.py, from its JSON result alone (no Qiskit
needed), for the benchmark's own printout and for tools/figures.py.

The result holds "rows" (one per circuit size: "ns_per_instruction" and "speedup" of every
pipeline, "peak_rss_mib" of the fresh processes) and "targets" (the verdicts the run computed).
"""

from __future__ import annotations

from qiskit_report import render


def _ns(row: dict, name: str) -> str:
    ns, sp = row["ns_per_instruction"], row["speedup"]
    if name not in ns:
        return ""
    return f"{ns[name]:,.0f}" + (f" ({sp[name]:,.0f}x)" if name in sp else "")


def speed_table(result: dict) -> str:
    """ns of CPU per source instruction, circuit in to circuit out through a PassManager; the
    speed-up against the runtime's pipeline of the same kind in brackets."""
    names = ["runtime_alap", "runtime_alap_pad_delay", "tarvex_alap", "tarvex_pad_delay", "tarvex_pad_delay_no_labels",
             "tarvex_pad_delay_pass", "conversions"]
    header = ["instructions", "runtime ALAP", "runtime ALAP + PadDelay", "tarvex ALAP", "tarvex PadDelay",
              "tarvex PadDelay, keep_labels=False", "tarvex PadDelay, pass alone", "PassManager conversions"]
    return render(header, [[f"{row['instructions']:,}", *(_ns(row, name) for name in names)] for row in result["rows"]])


def memory_table(result: dict) -> str:
    """Peak resident set of a fresh process that loads the circuit and runs one pipeline once."""
    names = ["none", "runtime_alap_pad_delay", "tarvex_pad_delay", "tarvex_pad_delay_no_labels"]
    header = ["instructions", "circuit only", "runtime ALAP + PadDelay", "tarvex PadDelay",
              "tarvex PadDelay, keep_labels=False"]
    rows = []
    for row in result["rows"]:
        mem = row["peak_rss_mib"]
        rows.append([f"{row['instructions']:,}", *(f"{mem[n]:,.1f} MiB" if n in mem else "" for n in names)])
    return render(header, rows)


def targets_table(result: dict) -> str:
    rows = [[v["what"], v["bound"], f"{v['value']:,.2f}", "met" if v["met"] else "missed"] for v in result["targets"]]
    return render(["target", "bound", "measured", "verdict"], rows)


def report(result: dict) -> str:
    return "\n\n".join([speed_table(result), memory_table(result), targets_table(result)])
