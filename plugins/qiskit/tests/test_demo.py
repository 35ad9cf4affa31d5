"""The demonstration's Qiskit part: both outputs equal, and the timeline shows the DD pulses."""

import argparse
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

pytest.importorskip("tarvex.timeline", reason="the drawing is part of the tarvex package")

from tarvex_qiskit.demo import qiskit_part  # noqa: E402

NS = {"svg": "http://www.w3.org/2000/svg"}


def test_qiskit_part_reports_equal_outputs_and_draws_the_pulses(tmp_path: Path) -> None:
    summary = dict(qiskit_part(argparse.Namespace(min_idle_ns=100.0, width=800), tmp_path))
    assert summary["outputs"].startswith("equal")
    n_in, n_out = (int(word) for word in summary["circuit"].split() if word.isdigit())
    root = ET.parse(tmp_path / "timeline-qiskit.svg").getroot()
    n_dd = len(root.findall(".//svg:g[@class='gate dd']", NS))
    # [x, x] sequences: an even number of pulses; delays pad the rest of the output
    assert n_dd > 0 and n_dd % 2 == 0 and n_in + n_dd < n_out
