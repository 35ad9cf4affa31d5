"""The release program: what it reads from [tool.cibuildwheel], what it says is missing, its table,
and the steps on a wheel's interpreter that need no build (a PATH without compilers, Debian's builds)."""

from __future__ import annotations

import shutil
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import release  # noqa: E402
import wheel_steps  # noqa: E402
from lanes import Matrix, Need, Skip, Stage  # noqa: E402

REPO = Path(__file__).resolve().parents[2]


def test_the_checks_shared_with_cibuildwheel():
    checks = release.Checks.read(REPO / "pyproject.toml")
    assert checks.test_sources[0] == "tests"
    for source in checks.test_sources:
        assert (REPO / source).exists(), f"test-sources names {source}, which is not in the checkout"
    assert checks.test_command == ("python", "-m", "pytest", "-q", "-p", "no:cacheprovider", "tests")
    # the release fills these two in; the check runs after the repair, on what it wrote
    assert checks.repair.index("{wheel}") < checks.repair.index("&& python tools/wheel_check.py {dest_dir}")


def test_missing_system_programs_are_named_and_nothing_is_installed(monkeypatch, capsys):
    monkeypatch.setattr(shutil, "which", lambda program: None if program in ("cmake", "readelf") else "/usr/bin/x")
    assert release.main(["--only", "cp313"]) == 1
    assert capsys.readouterr().err == ('build-wheels: missing cmake, readelf: tools/test.sh --only "system packages" '
                                       "installs them (apt: g++ cmake binutils)\n")


def test_a_missing_interpreter_says_what_provides_it(monkeypatch, tmp_path):
    monkeypatch.setenv("TARVEX_CACHE", str(tmp_path))
    monkeypatch.chdir(REPO)
    with pytest.raises(Skip) as skip:
        release.find_interpreter("cp313t")
    assert str(skip.value) == ('no free-threaded CPython 3.13 here; tools/test.sh --only "interpreter '
                               '(free-threaded CPython 3.13)" builds it')


def table_of(tmp_path, outcomes):
    """release.table() after a run whose wheel stages end as OUTCOMES says (name -> run function)."""
    rel = release.Release(tmp_path, ["cp314", "cp313t"], release.Checks.read(REPO / "pyproject.toml"))
    stages = [Stage(name, "one", run, needs=(Need(after, "the tarvex wheel"),) if after else ())
              for name, (run, after) in outcomes.items()]
    matrix = Matrix(stages, tmp_path / "logs", out=open("/dev/null", "w"))
    matrix.run()
    return rel.table(matrix)


def missing(run):
    raise Skip("no CPython 3.14: it runs in the Debian unstable root")


def broken(run):
    return False


HEADER = "file                 tag                                        size  checks\n"


@pytest.mark.parametrize(
    ("outcomes", "only_missing", "rows"),
    [
        pytest.param(
            {"tarvex cp314": (missing, None), "tarvex-qiskit cp314": (broken, "tarvex cp314")}, True,
            "tarvex cp314         not built                                     -  no CPython 3.14: it runs in the "
            "Debian unstable root\n"
            "tarvex-qiskit cp314  not built                                     -  the tarvex wheel missing because "
            "'tarvex cp314' was skipped\n",
            id="missing-interpreter"),
        pytest.param(
            {"tarvex cp314": (broken, None), "tarvex-qiskit cp314": (broken, "tarvex cp314")}, False,
            "tarvex cp314         FAILED                                        -  see above\n"
            "tarvex-qiskit cp314  not built                                     -  the tarvex wheel missing because "
            "'tarvex cp314' failed\n",
            id="failed"),
    ],
)
def test_the_table_and_what_allow_missing_forgives(tmp_path, outcomes, only_missing, rows):
    assert table_of(tmp_path, outcomes) == ("\n" + HEADER + rows, only_missing)


def test_a_path_without_compilers_keeps_the_other_programs(tmp_path):
    path = wheel_steps.no_compiler_path(tmp_path / "bin")
    assert [p for p in ("cc", "gcc", "g++", "c++", "ld", "as", "cmake") if shutil.which(p, path=path)] == []
    assert shutil.which("ls", path=path) and shutil.which("env", path=path)


def test_copy_from_debian(tmp_path, monkeypatch, capsys):
    debian, site = tmp_path / "dist-packages", tmp_path / "site"
    (debian / "orjson").mkdir(parents=True)
    (debian / "orjson/__init__.py").write_text("")
    (debian / "orjson-3.13.0.dist-info").mkdir()
    (debian / "orjson-3.13.0.dist-info/METADATA").write_text("Name: orjson\n")
    site.mkdir()
    monkeypatch.setattr(wheel_steps, "DEBIAN_SITE", debian)
    wheel_steps.copy_from_debian(site, ["orjson"])
    assert sorted(p.name for p in site.iterdir()) == ["orjson", "orjson-3.13.0.dist-info"]
    assert capsys.readouterr().out == f"orjson: copied from {debian} into {site}\n"
    with pytest.raises(SystemExit) as gone:
        wheel_steps.copy_from_debian(site, ["samplomatic"])
    assert str(gone.value) == f"no samplomatic in {debian} (Debian's python3-samplomatic package)"
