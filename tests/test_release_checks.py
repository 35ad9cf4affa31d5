"""The check of every release wheel beyond auditwheel (tools/wheel_check.py): each fault it looks
for, planted in a small extension built here, is refused with its reason."""

import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
SCRIPT = ROOT / "tools/wheel_check.py"

pytestmark = [
    pytest.mark.skipif(not SCRIPT.is_file(), reason="runs from a checkout, not from a wheel's suite"),
    pytest.mark.skipif(
        not all(shutil.which(tool) for tool in ("cc", "c++", "objdump", "readelf")),
        reason="needs a C and a C++ compiler, objdump and readelf",
    ),
]

INIT = "void *PyInit_fake(void) { return 0; }\n"
MODULE = "fake.cpython-313-x86_64-linux-gnu.so"


def shared_object(tmp_path: Path, compiler: str, source: str) -> Path:
    suffix = ".cpp" if compiler == "c++" else ".c"
    (tmp_path / f"fake{suffix}").write_text(source)
    built = subprocess.run(
        [compiler, "-shared", "-fPIC", "-O1", "-o", "fake.so", f"fake{suffix}"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
    )
    if built.returncode != 0:
        pytest.skip(f"cannot build the planted extension here: {built.stderr.strip()[:200]}")
    return tmp_path / "fake.so"


def check(tmp_path: Path, members: dict[str, Path | str]) -> subprocess.CompletedProcess[str]:
    wheel = tmp_path / "fake-0.1-cp313-cp313-linux_x86_64.whl"
    with zipfile.ZipFile(wheel, "w") as archive:
        for name, content in members.items():
            if isinstance(content, Path):
                archive.write(content, name)
            else:
                archive.writestr(name, content)
    return subprocess.run([sys.executable, str(SCRIPT), str(wheel)], capture_output=True, text=True)


@pytest.mark.parametrize(
    ("compiler", "source", "refusal"),
    [
        pytest.param("cc", INIT, None, id="sound"),
        pytest.param(
            "cc", INIT + "int helper(int x) { return x + 1; }\n",
            re.escape(f"{MODULE} exports more than its init function: PyInit_fake helper"), id="extra-export"
        ),
        pytest.param("cc", "int helper(int x) { return x; }\n",
                     re.escape(f"{MODULE} exports more than its init function: helper"), id="no-init"),
        pytest.param(
            "c++",
            'extern "C" __attribute__((visibility("default"))) void *PyInit_fake() { return new int(1); }\n',
            # which of GCC's runtimes the linker keeps is the toolchain's choice
            re.escape(f"{MODULE} needs a C++ runtime of the system: ") + r"(libgcc_s\.so\.1 )?libstdc\+\+\.so\.6",
            id="system-cxx-runtime",
        ),
        # arc4random came with glibc 2.36: a machine with an older glibc cannot build this case
        pytest.param(
            "cc",
            "#include <stdlib.h>\nvoid *PyInit_fake(void) { return (void *)(unsigned long)arc4random(); }\n",
            re.escape(f"{MODULE} needs glibc 2.36, newer than 2.28"),
            id="new-glibc-symbol",
        ),
    ],
)
def test_extension_checks(tmp_path: Path, compiler: str, source: str, refusal: str | None) -> None:
    result = check(tmp_path, {MODULE: shared_object(tmp_path, compiler, source)})
    if refusal is None:
        assert (result.returncode, result.stderr) == (0, "")
        assert re.fullmatch(rf"{re.escape(MODULE)}: newest glibc symbol version (none|[0-9.]+); needs: [^;]*; "
                            r"exports: PyInit_fake\n", result.stdout)
    else:
        assert result.returncode == 1
        assert re.fullmatch(f"wheel check: {refusal}\n", result.stderr), result.stderr


@pytest.mark.parametrize(
    ("extra", "refusal"),
    [
        pytest.param({"fake.libs/libcopied.so.1": "not a library"},
                     "fake-0.1-cp313-cp313-linux_x86_64.whl: auditwheel copied libraries into it: fake.libs",
                     id="libs-folder"),
        pytest.param(None, "fake-0.1-cp313-cp313-linux_x86_64.whl holds no extension module", id="no-module"),
    ],
)
def test_wheel_contents_checks(tmp_path: Path, extra: dict[str, str] | None, refusal: str) -> None:
    members: dict[str, Path | str] = {"fake/__init__.py": ""}
    if extra is not None:
        members |= {MODULE: shared_object(tmp_path, "cc", INIT), **extra}
    result = check(tmp_path, members)
    assert (result.returncode, result.stderr) == (1, f"wheel check: {refusal}\n")
