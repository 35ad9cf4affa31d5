"""The tables of a FakeFez run of benchmarks/qiskit_passes.py (--table fez), and its targets' verdicts.

Reads the run's JSON result only (no Qiskit needed), like qiskit_report.py. The result holds
"sizes" (one row per circuit size: "ns_per_instruction" of every runner), "fixed_cost" (one row
per GHZ circuit: "us_per_call" of every runner) and "columns" (what each runner is).
"""

from __future__ import annotations

from qiskit_report import render

BENCHMARK = "qiskit_passes fez"

# What the issue asks for, by name: (bound, the comparison that meets it).
DIRECT_AT = {10**5: 100.0, 10**3: 50.0}  # direct path speed-up against Qiskit's pipeline, at least
DIRECT_AIM_1E5 = 150.0
EXECUTOR_AT = {10**4: 50.0, 10**5: 50.0}  # executor pass manager against the runtime's, at least
FLAT_MAX = 1.5  # direct path ns per instruction, largest over smallest from 10^3 on, at most
ALONE_MAX_US = 100.0  # the fused pass alone on the 13-instruction circuit, below
PM_OVER_EMPTY_MAX = 1.3  # the fused pass in a PassManager over an empty PassManager, at most


def speedup(ns: dict, name: str, reference: str) -> float:
    return ns[reference] / ns[name]


def cell(values: dict, name: str, reference: str) -> str:
    return f"{values[name]:,.0f} ({speedup(values, name, reference):.1f}x)"


def sizes_table(result: dict) -> str:
    """ns of CPU per instruction from circuit in to circuit out; speed-ups in brackets, against
    Qiskit's ALAP + DD pipeline or the runtime's executor pass manager."""
    rows = []
    for row in result["sizes"]:
        ns = row["ns_per_instruction"]
        rows.append([f"{row['n_instructions']:,}", f"{ns['qiskit']:,.0f}", cell(ns, "fused_pm", "qiskit"),
                     cell(ns, "direct", "qiskit"), cell(ns, "direct_unlabelled", "qiskit"),
                     f"{ns['runtime']:,.0f}", cell(ns, "executor", "runtime")])
    return render(["N instructions", "Qiskit ALAP + DD", "fused, PassManager", "direct", "direct, keep_labels=False",
                   "runtime's executor DD", "tarvex_qiskit.ibm"], rows)


def fixed_cost_table(result: dict) -> str:
    """us of CPU per call on the GHZ circuits: the fixed cost every call pays."""
    rows = []
    for row in result["fixed_cost"]:
        us = row["us_per_call"]
        rows.append([f"{row['n_instructions']:,}", f"{us['empty_pm']:,.0f}",
                     f"{us['fused_pm']:,.0f} ({us['fused_pm'] / us['empty_pm']:.2f}x empty)", f"{us['pass_alone']:,.0f}",
                     f"{us['qiskit']:,.0f}", cell(us, "direct", "qiskit"), cell(us, "direct_unlabelled", "qiskit"),
                     f"{us['runtime']:,.0f}", cell(us, "executor", "runtime")])
    return render(["GHZ, instructions", "empty PassManager", "fused, PassManager", "fused pass alone",
                   "Qiskit ALAP + DD", "direct", "direct, keep_labels=False", "runtime's executor DD",
                   "tarvex_qiskit.ibm"], rows)


def near(result: dict, n: int) -> dict | None:
    """The row of about n instructions (the layered circuits overshoot by their measurements)."""
    return next((row for row in result["sizes"] if abs(row["n_instructions"] - n) / n < 0.1), None)


def targets(result: dict) -> list[dict]:
    """Each target of the run: what, bound, measured value, met."""
    checks = []

    def check(what: str, bound: str, value: float, met: bool) -> None:
        checks.append({"what": what, "bound": bound, "value": round(value, 3), "met": met})

    for n, bound in DIRECT_AT.items():
        if (row := near(result, n)) is not None:
            value = speedup(row["ns_per_instruction"], "direct", "qiskit")
            check(f"direct path / Qiskit's pipeline at {row['n_instructions']:,}", f">= {bound:g}x", value, value >= bound)
            value = speedup(row["ns_per_instruction"], "direct_unlabelled", "qiskit")
            check(f"direct path, keep_labels=False, at {row['n_instructions']:,}", f">= {bound:g}x", value, value >= bound)
    if (row := near(result, 10**5)) is not None:
        for name, label in (("direct", "direct path"), ("direct_unlabelled", "direct path, keep_labels=False,")):
            value = speedup(row["ns_per_instruction"], name, "qiskit")
            check(f"{label} at {row['n_instructions']:,} (aim)", f">= {DIRECT_AIM_1E5:g}x", value, value >= DIRECT_AIM_1E5)
    for n, bound in EXECUTOR_AT.items():
        if (row := near(result, n)) is not None:
            value = speedup(row["ns_per_instruction"], "executor", "runtime")
            check(f"executor pass manager / the runtime's at {row['n_instructions']:,}", f">= {bound:g}x", value, value >= bound)
    flat = [row for row in result["sizes"] if row["n_instructions"] >= 950]
    if len(flat) > 1:
        per = [row["ns_per_instruction"]["direct"] for row in flat]
        value = max(per) / min(per)
        check(f"direct path ns per instruction, largest / smallest, {flat[0]['n_instructions']:,} to "
              f"{flat[-1]['n_instructions']:,}", f"<= {FLAT_MAX:g}x", value, value <= FLAT_MAX)
    if result["fixed_cost"]:
        small = result["fixed_cost"][0]
        us = small["us_per_call"]
        n = small["n_instructions"]
        check(f"fused pass alone, {n} instructions on {result['backend']['num_qubits']} qubits", f"< {ALONE_MAX_US:g} us",
              us["pass_alone"], us["pass_alone"] < ALONE_MAX_US)
        value = us["fused_pm"] / us["empty_pm"]
        check(f"fused pass in a PassManager / an empty PassManager, {n} instructions", f"<= {PM_OVER_EMPTY_MAX:g}x",
              value, value <= PM_OVER_EMPTY_MAX)
    return checks


def targets_table(result: dict) -> str:
    rows = [[c["what"], c["bound"], f"{c['value']:,.2f}", "met" if c["met"] else "missed"] for c in targets(result)]
    return render(["target", "bound", "measured", "verdict"], rows)


def report(result: dict) -> str:
    """Every table of a run, as `qiskit_passes.py --table fez` prints it and with --report."""
    return "\n\n".join([sizes_table(result), fixed_cost_table(result), targets_table(result)])
