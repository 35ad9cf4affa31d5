"""`python -m tarvex.demo` end to end: its summary figures and the two timelines it writes."""

import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

NS = {"svg": "http://www.w3.org/2000/svg"}


def run_demo(cwd: Path, *args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "tarvex.demo", *args],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=300,
    )


def floats(text: str) -> list[float]:
    return [float(x) for x in re.findall(r"-?\d+(?:\.\d+)?", text)]


@pytest.mark.parametrize("n_qubits", [20, 1])
def test_demo_summary_and_timelines(tmp_path: Path, n_qubits: int) -> None:
    args = ["out/svg"] + (
        [] if n_qubits == 20 else ["--qubits", str(n_qubits)]
    )  # 20 is the default
    result = run_demo(tmp_path, *args)
    assert result.returncode == 0, result.stderr
    listing, _, summary_text = result.stdout.partition("\n\n")
    summary = dict(line.split(":", 1) for line in summary_text.splitlines())
    assert list(summary) == [
        "circuit",
        "gates",
        "qubits",
        "makespan",
        "idle time",
        "DD pairs",
        "time taken",
        "timelines",
    ]

    # h per qubit, five gates per controlled phase, three cx per swap; entries count qubit slots
    n_pairs_of_qubits = n_qubits * (n_qubits - 1) // 2
    n_gates = n_qubits + 5 * n_pairs_of_qubits + 3 * (n_qubits // 2)
    n_entries = n_qubits + 7 * n_pairs_of_qubits + 6 * (n_qubits // 2)
    (n_pairs,) = floats(summary["DD pairs"])
    assert floats(summary["gates"]) == [n_gates, n_gates + 2 * n_pairs]
    assert floats(summary["qubits"]) == [n_qubits]
    # a pair fills part of an idle window of at least 100 ns, so it never delays a gate
    before, after = floats(summary["makespan"])
    assert before == after > 0
    idle_before, idle_after, threshold = floats(summary["idle time"])
    assert threshold == 100 and 0 <= idle_after <= idle_before

    n_windows = int(floats(listing.splitlines()[0])[-1])
    assert listing.splitlines()[0] == f"idle windows of at least 100 ns before DD: {n_windows}"
    assert (n_windows > 0) == (n_pairs > 0) == (n_qubits > 1)
    assert len(listing.splitlines()) == 1 + min(n_windows, 5) + (n_windows > 5)

    for name, n_boxes, n_dd_boxes in [
        ("before", n_entries, 0),
        ("after", n_entries + 2 * n_pairs, 2 * n_pairs),
    ]:
        root = ET.parse(tmp_path / "out/svg" / f"timeline-{name}.svg").getroot()
        assert len(root.findall(".//svg:g[@class='lane']", NS)) == n_qubits
        assert len(root.findall(".//svg:g[@data-node]/svg:rect", NS)) == n_boxes
        assert len(root.findall(".//svg:g[@class='gate dd']/svg:rect", NS)) == n_dd_boxes


def test_help_and_a_refused_option(tmp_path: Path) -> None:
    shown = run_demo(tmp_path, "--help")
    assert shown.returncode == 0 and shown.stdout.startswith("usage: python -m tarvex.demo [-h]")
    refused = run_demo(tmp_path, "--qubits", "0")
    assert refused.returncode == 2
    assert refused.stderr.splitlines()[-1] == (
        "python -m tarvex.demo: error: argument --qubits: must be at least 1, not 0"
    )
    assert list(tmp_path.iterdir()) == []
