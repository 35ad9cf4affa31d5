"""The check of a release wheel beyond auditwheel: the newest glibc symbol version its extensions
use, the libraries they need, what they export, and nothing copied in beside them.

Run by tools/release.py after the repair of every wheel, and by cibuildwheel through
`repair-wheel-command` in pyproject.toml, so that both release paths refuse the same faults.
Needs objdump and readelf (binutils) and nothing but the standard library.
Usage: python tools/wheel_check.py WHEEL_OR_FOLDER...   (a folder: every wheel in it)
"""

from __future__ import annotations

import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path
from typing import List, Tuple

GLIBC_FLOOR = (2, 28)
SYSTEM_CXX_RUNTIMES = re.compile(r"libstdc\+\+|libgcc_s|libc\+\+")
INIT_FUNCTION = re.compile(r"PyInit_[A-Za-z0-9_]+")


def version_text(version: Tuple[int, ...]) -> str:
    return ".".join(map(str, version))


def dynamic_symbols(so: Path) -> Tuple[Tuple[int, ...], List[str]]:
    """(the newest GLIBC_x.y version among the symbols `so` uses, the symbols it exports). O(symbols)."""
    table = subprocess.run(["objdump", "-T", str(so)], capture_output=True, text=True, check=True).stdout
    newest: Tuple[int, ...] = ()
    exports = []
    for line in table.splitlines():
        for found in re.findall(r"GLIBC_([0-9.]+)", line):
            newest = max(newest, tuple(int(part) for part in found.split(".")))
        fields = line.split()
        # "ADDRESS FLAGS... SECTION SIZE [VERSION] NAME": defined (not *UND*), global, weak or unique
        if len(fields) >= 4 and "*UND*" not in line and fields[1] in ("g", "w", "u"):
            exports.append(fields[-1])
    return newest, sorted(exports)


def needed_libraries(so: Path) -> List[str]:
    dynamic = subprocess.run(["readelf", "-d", str(so)], capture_output=True, text=True, check=True).stdout
    return sorted(re.findall(r"\(NEEDED\)[^\[]*\[([^\]]+)\]", dynamic))


def check_wheel(wheel: Path) -> Tuple[List[str], List[str]]:
    """(one report line per extension, the faults found); the wheel is sound when there are none."""
    lines: List[str] = []
    faults: List[str] = []
    with tempfile.TemporaryDirectory(prefix="tarvex-check.") as tmp:
        with zipfile.ZipFile(wheel) as archive:
            archive.extractall(tmp)
        copied = sorted(p.name for p in Path(tmp).glob("*.libs"))
        if copied:
            faults.append(f"{wheel.name}: auditwheel copied libraries into it: {', '.join(copied)}")
            return lines, faults
        modules = sorted(p for p in Path(tmp).rglob("*.so") if p.is_file())
        for so in modules:
            newest, exports = dynamic_symbols(so)
            needed = needed_libraries(so)
            lines.append(f"{so.name}: newest glibc symbol version {version_text(newest) or 'none'}; "
                         f"needs: {' '.join(needed)}; exports: {' '.join(exports)}")
            if newest > GLIBC_FLOOR:
                faults.append(f"{so.name} needs glibc {version_text(newest)}, newer than {version_text(GLIBC_FLOOR)}")
            runtimes = [lib for lib in needed if SYSTEM_CXX_RUNTIMES.search(lib)]
            if runtimes:
                faults.append(f"{so.name} needs a C++ runtime of the system: {' '.join(runtimes)}")
            if not exports or not all(INIT_FUNCTION.fullmatch(name) for name in exports):
                faults.append(f"{so.name} exports more than its init function: {' '.join(exports) or 'nothing'}")
        if not modules:
            faults.append(f"{wheel.name} holds no extension module")
    return lines, faults


def main(argv: List[str]) -> int:
    if not argv:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    wheels = [w for arg in map(Path, argv) for w in (sorted(arg.glob("*.whl")) if arg.is_dir() else [arg])]
    if not wheels:
        print(f"wheel check: no wheel in {' '.join(argv)}", file=sys.stderr)
        return 1
    status = 0
    for wheel in wheels:
        lines, faults = check_wheel(wheel)
        print("\n".join(lines))
        for fault in faults:
            print(f"wheel check: {fault}", file=sys.stderr)
        status |= bool(faults)
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
