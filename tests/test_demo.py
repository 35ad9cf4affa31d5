"""`python -m tarvex.demo` end to end: its summary figures and the two timelines it writes."""

import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from tarvex.demo import main

NS = {"svg": "http://www.w3.org/2000/svg"}
ROOT = Path(__file__).resolve().parents[1]


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
    # the QFT part's listing and summary; the Qiskit part follows (the plugin's tests check it)
    listing, summary_text = result.stdout.split("\n\n")[:2]
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


def test_help_prints_without_any_setup(tmp_path: Path) -> None:
    # A copy of the script beside the demonstration's source alone: any setup step would fail here.
    for name in ("tools/demo.sh", "tarvex/demo.py"):
        (tmp_path / name).parent.mkdir(exist_ok=True)
        shutil.copy(ROOT / name, tmp_path / name)
    for flag in ("--help", "-h"):
        shown = subprocess.run(
            ["bash", "tools/demo.sh", "out", flag], cwd=tmp_path, capture_output=True, text=True
        )
        assert shown.returncode == 0, shown.stderr
        assert shown.stdout.startswith("usage: python -m tarvex.demo [-h]") and shown.stderr == ""
    assert sorted(path.name for path in tmp_path.iterdir()) == ["tarvex", "tools"]


def run_main(argv: list[str], capsys: pytest.CaptureFixture[str]) -> tuple[object, str, str]:
    """Exit status, standard output and standard error of the demonstration run in-process."""
    try:
        status: object = main(argv)
    except SystemExit as leaving:
        status = leaving.code
    return (status, *capsys.readouterr())


@pytest.mark.parametrize(
    ("args", "error"),
    [
        ("--qubits abc", "--qubits: must be a whole number of at least 1, not 'abc'"),
        ("--qubits 0", "--qubits: must be a whole number of at least 1, not '0'"),
        ("--list -1", "--list: must be a whole number of at least 0, not '-1'"),
        ("--width 1.5", "--width: must be a whole number of at least 1, not '1.5'"),
        ("--single-ns 0", "--single-ns: must be a finite number of ns above 0, not '0'"),
        ("--two-ns=-inf", "--two-ns: must be a finite number of ns above 0, not '-inf'"),
        ("--two-ns 3ns", "--two-ns: must be a finite number of ns above 0, not '3ns'"),
        ("--min-idle-ns nan", "--min-idle-ns: must be a finite number of ns, 0 or more, not 'nan'"),
        ("--min-idle-ns -5", "--min-idle-ns: must be a finite number of ns, 0 or more, not '-5'"),
        (
            "--min-idle-ns 1e999",
            "--min-idle-ns: must be a finite number of ns, 0 or more, not '1e999'",
        ),
    ],
    ids=[
        "qubits-text",
        "qubits-zero",
        "list-negative",
        "width-fraction",
        "single-ns-zero",
        "two-ns-infinite",
        "two-ns-text",
        "min-idle-nan",
        "min-idle-negative",
        "min-idle-infinite",
    ],
)
def test_a_bad_option_gets_one_line_naming_it_and_the_rule(
    tmp_path: Path,
    monkeypatch: pytest.MonkeyPatch,
    capsys: pytest.CaptureFixture[str],
    args: str,
    error: str,
) -> None:
    monkeypatch.chdir(tmp_path)  # the default OUT_DIR
    assert run_main(args.split(), capsys) == (
        2,
        "",
        f"python -m tarvex.demo: error: argument {error}\n",
    )
    assert list(tmp_path.iterdir()) == []


FOLDER = "error: argument OUT_DIR: must be a folder that can be created and written;"


@pytest.mark.parametrize(
    ("out_dir", "status", "error"),
    [
        pytest.param(
            "{tmp}/file/out",
            2,
            FOLDER + " cannot create '{tmp}/file/out' (Not a directory)",
            id="below-a-file",
        ),
        pytest.param("{tmp}/file", 2, FOLDER + " '{tmp}/file' is a file", id="a-file"),
        # sysfs takes no new file from anyone, root included, whom permission bits do not stop
        pytest.param(
            "/sys",
            2,
            FOLDER + " cannot write in '/sys' (Permission denied)",
            id="unwritable",
            marks=pytest.mark.skipif(not Path("/sys/kernel").is_dir(), reason="no sysfs here"),
        ),
        pytest.param(
            "{tmp}/taken",
            1,
            "error: cannot write '{tmp}/taken/timeline-before.svg' (Is a directory)",
            id="file-name-taken",
        ),
    ],
)
def test_an_unusable_output_folder_gets_one_line(
    tmp_path: Path, capsys: pytest.CaptureFixture[str], out_dir: str, status: int, error: str
) -> None:
    (tmp_path / "file").touch()
    (tmp_path / "taken/timeline-before.svg").mkdir(parents=True)
    argv = [out_dir.format(tmp=tmp_path), "--qubits", "2"]
    line = f"python -m tarvex.demo: {error.format(tmp=tmp_path)}\n"
    assert run_main(argv, capsys) == (status, "", line)
    assert sorted(path.name for path in tmp_path.rglob("*")) == [
        "file",
        "taken",
        "timeline-before.svg",
    ]
