"""The table of runs of benchmarks/scale_10m.py (10^7 gates through every stage), from their JSON."""

from __future__ import annotations


def scale_table(results: list[tuple[str, dict]]) -> str:
    """ns of CPU per source gate of each stage, one column per run (named by its file), then the
    total and the peak resident set."""
    stages = [s["stage"] for s in results[0][1]["stages"] if s["cpu_ns_per_gate"] > 0]
    rows = []
    for stage in stages:
        cells = []
        for _, run in results:
            found = next(s for s in run["stages"] if s["stage"] == stage)
            cells.append(f"{found['cpu_ns_per_gate']:.1f}")
        rows.append([f"`{stage}`", *cells])
    rows.append(["all stages", *[f"{run['total_cpu_ns_per_gate']:.0f}" for _, run in results]])
    rows.append(["peak RSS", *[f"{run['maxrss_bytes'] / 2**30:.2f} GiB" for _, run in results]])
    header = ["stage, ns per gate", *[f"`{name}`" for name, _ in results]]
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    return "\n".join(lines + ["| " + " | ".join(r) + " |" for r in rows])
