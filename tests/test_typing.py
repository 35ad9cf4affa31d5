"""The installed type information: `mypy --strict` accepts correct use of every method and of the
package, refuses wrong calls exactly where marked, and the stub agrees with the runtime module."""

import re
import runpy
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy", reason="mypy is a test requirement (tools/dev-env.sh installs it)")

TYPING = Path(__file__).parent / "typing"
USES = TYPING / "uses_every_method.py"
WRONG = TYPING / "wrong_call.py"
ERROR_LINE = re.compile(r"^(?P<file>[^:]+):(?P<line>\d+): error: .*\[(?P<code>[a-z-]+)\]$")


def run_mypy(tmp_path: Path, *args: str) -> subprocess.CompletedProcess[str]:
    # From an empty folder, so that mypy reads the installed package, not the source tree.
    return subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-error-summary",
            "--cache-dir",
            str(tmp_path / "mypy-cache"),
            *args,
        ],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=600,
    )


def test_mypy_accepts_correct_use_and_refuses_each_wrong_call(tmp_path: Path) -> None:
    package = run_mypy(tmp_path, "-p", "tarvex")
    assert (package.returncode, package.stdout) == (0, ""), package.stderr
    result = run_mypy(tmp_path, str(USES), str(WRONG))
    reported = {
        (Path(m["file"]).name, int(m["line"]), m["code"])
        for m in map(ERROR_LINE.match, result.stdout.splitlines())
        if m
    }
    expected = {
        (WRONG.name, number, code)
        for number, line in enumerate(WRONG.read_text().splitlines(), 1)
        for code in re.findall(r"# E: ([a-z-]+)$", line)
    }
    assert len(expected) >= 10
    assert reported == expected, result.stdout + result.stderr
    assert result.returncode == 1


def test_correct_use_runs() -> None:
    runpy.run_path(str(USES), run_name="uses_every_method")


def test_stub_agrees_with_the_module(tmp_path: Path) -> None:
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "_tarvex"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert result.returncode == 0, result.stdout + result.stderr
