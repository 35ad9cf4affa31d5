"""The demonstration's Qiskit parts: both outputs equal, the timeline shows the DD pulses, and the
dynamic circuit is decoupled soundly and alike by the mended runtime and by us."""

import argparse
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

pytest.importorskip("tarvex.timeline", reason="the drawing is part of the tarvex package")

from tarvex_qiskit.demo import compare_dynamic_dd, dynamic_part, qiskit_part, syndrome_circuit  # noqa: E402

NS = {"svg": "http://www.w3.org/2000/svg"}


def test_qiskit_part_reports_equal_outputs_and_draws_the_pulses(tmp_path: Path) -> None:
    summary = dict(qiskit_part(argparse.Namespace(min_idle_ns=100.0, width=800), tmp_path))
    assert summary["outputs"].startswith("equal")
    n_in, n_out = (int(word) for word in summary["circuit"].split() if word.isdigit())
    root = ET.parse(tmp_path / "timeline-qiskit.svg").getroot()
    n_dd = len(root.findall(".//svg:g[@class='gate dd']", NS))
    # [x, x] sequences: an even number of pulses; delays pad the rest of the output
    assert n_dd > 0 and n_dd % 2 == 0 and n_in + n_dd < n_out


def test_the_syndrome_circuit_measures_and_corrects_every_round() -> None:
    qc = syndrome_circuit(rounds=3, n_data=3)
    ops = qc.count_ops()
    assert ops["measure"] == ops["if_else"] == ops["reset"] == 3 * 2
    assert qc.num_clbits == 6


def test_dynamic_part_decouples_alike(tmp_path: Path) -> None:
    pytest.importorskip("qiskit_ibm_runtime")
    result = compare_dynamic_dd(rounds=2, runs=1)
    assert result.equal
    # the input has no x at top level (corrections are in bodies): every x there is a DD pulse
    assert "x" not in result.circuit.count_ops()
    assert result.native_output.count_ops()["x"] % 2 == 0 < result.native_output.count_ops()["x"]
    summary = dict(dynamic_part(argparse.Namespace(), tmp_path))
    assert list(summary) == ["circuit", "outputs", "time taken"]
    assert summary["outputs"].startswith("equal")
    n_in, n_if, n_out = (int(word.strip("(")) for word in summary["circuit"].split() if word.strip("(").isdigit())
    assert 0 < n_if < n_in < n_out


def test_dynamic_part_says_when_the_runtime_is_missing(monkeypatch: pytest.MonkeyPatch) -> None:
    import tarvex_qiskit.demo as demo

    def missing(*_, **__):
        raise ImportError("No module named 'qiskit_ibm_runtime'")

    monkeypatch.setattr(demo, "compare_dynamic_dd", missing)
    (line,) = demo.dynamic_part(argparse.Namespace(), Path("."))
    assert line[0] == "dynamic" and line[1].startswith("skipped") and "tarvex-qiskit[ibm]" in line[1]
