"""The tables of a run of benchmarks/dynamic_passes.py and its targets' verdicts: PadDelay's
(runtime ALAP + PadDelay against ours) and DD's (runtime ALAP + PadDynamicalDecoupling [x, x]
against ours).

Reads the run's JSON result only (no Qiskit needed), for the benchmark and tools/figures.py.
"""

from __future__ import annotations

from typing import Any

from qiskit_report import render

TARGETS = {10**3: 100.0, 5 * 10**3: 1000.0}  # tarvex PadDelay speed-up at least
DD_TARGETS = {5 * 10**3: 1000.0}  # tarvex DD speed-up at least
SCALING_MAX = 1.5  # tarvex ns per instruction, largest over smallest size, at most
# MiB: how far identical fresh processes' peaks differ, so a peak within it of the runtime's is no
# higher than the runtime's
MEMORY_RESOLUTION = 1.0
# ours -> (its name in verdicts, the runtime's pipeline it is measured against, speed-up targets)
KINDS = {
    "tarvex_pad_delay": ("tarvex PadDelay", "the runtime's ALAP + PadDelay", TARGETS),
    "tarvex_pad_delay_no_labels": ("tarvex PadDelay, keep_labels=False", "the runtime's ALAP + PadDelay", TARGETS),
    "tarvex_pad_delay_pass": ("tarvex PadDelay, pass alone", "", {}),
    "tarvex_pad_delays_direct": ("tarvex pad_delays (direct)", "the runtime's ALAP + PadDelay", TARGETS),
    "tarvex_dd": ("tarvex DD", "the runtime's ALAP + DD", DD_TARGETS),
    "tarvex_dd_direct": ("tarvex decouple (direct)", "the runtime's ALAP + DD", DD_TARGETS),
}


def _near(row: dict, n: int) -> bool:
    return abs(row["instructions"] - n) / n < 0.1


def verdicts(rows: list[dict[str, Any]]) -> list[dict[str, Any]]:
    out = []
    for ours, (label, against, targets) in KINDS.items():
        measured = [row for row in rows if ours in row["ns_per_instruction"]]
        for n, bound in targets.items():
            for row in measured:
                if ours in row["speedup"] and _near(row, n):
                    value = row["speedup"][ours]
                    out.append({"what": f"{label} speed-up over {against} at {n:.0e}",
                                "value": value, "bound": f">= {bound:g}", "met": value >= bound})
        if len(measured) > 1:
            ns = [row["ns_per_instruction"][ours] for row in measured]
            value = max(ns) / min(ns)
            out.append({"what": f"{label} ns per instruction, highest over lowest of all sizes", "value": value,
                        "bound": f"<= {SCALING_MAX:g}", "met": value <= SCALING_MAX})
    for row in rows:
        mem = row["peak_rss_mib"]
        for ours, theirs in (("tarvex_pad_delay", "runtime_alap_pad_delay"),
                             ("tarvex_pad_delay_no_labels", "runtime_alap_pad_delay"),
                             ("tarvex_pad_delays_direct", "runtime_alap_pad_delay"), ("tarvex_dd", "runtime_alap_dd"),
                             ("tarvex_dd_direct", "runtime_alap_dd")):
            if theirs in mem and ours in mem:
                out.append({"what": f"peak RSS at {row['instructions']:,}: {KINDS[ours][0]} against the runtime's",
                            "value": mem[ours], "bound": f"<= {mem[theirs]:.1f} MiB (+{MEMORY_RESOLUTION:g})",
                            "met": mem[ours] <= mem[theirs] + MEMORY_RESOLUTION})
    return out


def _cell(row: dict, name: str) -> str:
    ns, sp = row["ns_per_instruction"], row["speedup"]
    if name not in ns:
        return ""
    return f"{ns[name]:,.0f}" + (f" ({sp[name]:,.0f}x)" if name in sp else "")


def _mib(row: dict, name: str, digits: int = 0) -> str:
    """A pipeline's peak, with its rise above its process's start in brackets where measured."""
    mem, added = row["peak_rss_mib"], row.get("peak_added_mib", {})
    if name not in mem:
        return ""
    return f"{mem[name]:,.{digits}f} MiB" + (f" (+{added[name]:,.{max(digits, 1)}f})" if name in added else "")


def speed_table(result: dict) -> str:
    """ns of CPU per source instruction, circuit in to circuit out (through a PassManager but for
    the direct path); the speed-up against the runtime's pipeline of the same kind in brackets.
    Columns a run did not measure are left out."""
    columns = [("runtime_alap", "runtime ALAP"), ("runtime_alap_pad_delay", "runtime ALAP + PadDelay"),
               ("tarvex_alap", "tarvex ALAP"), ("tarvex_pad_delay", "tarvex PadDelay"),
               ("tarvex_pad_delay_no_labels", "tarvex PadDelay, keep_labels=False"),
               ("tarvex_pad_delays_direct", "tarvex pad_delays (direct)"),
               ("tarvex_pad_delay_pass", "tarvex PadDelay, pass alone"), ("conversions", "PassManager conversions")]
    columns = [(name, title) for name, title in columns
               if name in ("runtime_alap", "runtime_alap_pad_delay") or any(name in row["ns_per_instruction"] for row in result["rows"])]
    header = ["instructions", *(title for _, title in columns)]
    return render(header, [[f"{row['instructions']:,}", *(_cell(row, name) for name, _ in columns)] for row in result["rows"]])


def memory_table(result: dict) -> str:
    """Peak resident set of a fresh process that loads the circuit and runs one pipeline once."""
    names = ["none", "runtime_alap_pad_delay", "tarvex_pad_delay", "tarvex_pad_delay_no_labels"]
    header = ["instructions", "circuit only", "runtime ALAP + PadDelay", "tarvex PadDelay",
              "tarvex PadDelay, keep_labels=False"]
    if any("tarvex_pad_delays_direct" in row["peak_rss_mib"] for row in result["rows"]):
        names.append("tarvex_pad_delays_direct")
        header.append("tarvex pad_delays (direct)")
    rows = [[f"{row['instructions']:,}", *(_mib(row, n, 1) for n in names)] for row in result["rows"]]
    return render(header, rows)


def targets_table(result: dict) -> str:
    rows = [[v["what"], v["bound"], f"{v['value']:,.2f}", "met" if v["met"] else "missed"] for v in result["targets"]]
    return render(["target", "bound", "measured", "verdict"], rows)


def dd_table(result: dict[str, Any]) -> str:
    """ns of CPU per source instruction; our speed-up against the runtime (and against the mended
    runtime, in its column) in brackets."""
    direct = any("tarvex_dd_direct" in row["ns_per_instruction"] for row in result["rows"])
    header = ["instructions", "runtime ALAP + DD `[x, x]`", "mended runtime ALAP + DD", "tarvex DD `[x, x]` (fused)",
              *(["tarvex decouple (direct)"] if direct else []), "PassManager conversions", "peak RSS: circuit only",
              "runtime ALAP + DD", "tarvex DD", *(["tarvex decouple (direct)"] if direct else [])]
    rows = []
    for row in result["rows"]:
        over_mended = row["speedup"].get("tarvex_dd_over_mended")
        mended = _cell(row, "mended_alap_dd") + (f" ({over_mended:,.0f}x)" if over_mended else "")
        rows.append([f"{row['instructions']:,}", _cell(row, "runtime_alap_dd"), mended, _cell(row, "tarvex_dd"),
                     *([_cell(row, "tarvex_dd_direct")] if direct else []), _cell(row, "conversions"),
                     _mib(row, "none"), _mib(row, "runtime_alap_dd"), _mib(row, "tarvex_dd"),
                     *([_mib(row, "tarvex_dd_direct")] if direct else [])])
    return render(header, rows)


def targets_list(result: dict[str, Any], kind: str | None = None) -> str:
    """The verdicts, one a line (those of one kind, "tarvex PadDelay" or "tarvex DD", if given)."""
    return "\n".join(
        f"- {v['what']}: {v['value']:,.2f} (target {v['bound']}): {'met' if v['met'] else 'missed'}"
        for v in result["targets"] if kind is None or v["what"].startswith(kind) or kind in v["what"]
    )


def report(result: dict[str, Any]) -> str:
    parts = []
    rows = result["rows"]
    if any("tarvex_pad_delay" in row["ns_per_instruction"] for row in rows):
        parts += [speed_table(result), memory_table(result)]
    if any("tarvex_dd" in row["ns_per_instruction"] for row in rows):
        parts.append(dd_table(result))
    lines = [f"{v['what']}: {v['value']:,.2f} (target {v['bound']}): {'met' if v['met'] else 'missed'}"
             for v in result["targets"]]
    return "\n\n".join(parts) + "\n\n" + "\n".join(lines)
