"""The documents' figures: they match the quoted runs, come from them, and only their blocks change."""

from __future__ import annotations

import json
import re
import shutil
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import figures  # noqa: E402
from figures import FIGURES, Figure, FigureError, documents, fill  # noqa: E402

REPO = Path(__file__).resolve().parents[2]


@pytest.mark.parametrize("document", sorted({f.document for f in FIGURES}))
def test_the_documents_match_the_quoted_runs(document):
    now, filled = documents()[document]
    assert now == filled, f"{document} differs from the quoted runs: python tools/figures.py writes it"


def test_every_block_in_the_documents_has_its_figure():
    registered = {(f.document, f.marker) for f in FIGURES}
    for path in [REPO / "README.md", *sorted((REPO / "docs").glob("*.md"))]:
        document = str(path.relative_to(REPO))
        for marker in re.findall(r"<!-- figures: ([\w-]+)", path.read_text()):
            assert (document, marker) in registered, f"{document}: no figure fills the block {marker!r}"


def test_a_figure_comes_from_its_quoted_run(tmp_path):
    quoted = tmp_path / "quoted"
    shutil.copytree(figures.QUOTED, quoted)
    run = json.loads((quoted / figures.CORE_RUN).read_text())
    at = next(s for s in run["sizes"] if s["n_gates"] == 1_000_000)["median_ns_per_gate"]
    at["pipeline/qiskit"] = at["pipeline/tarvex"] * 1234.4
    (quoted / figures.CORE_RUN).write_text(json.dumps(run))
    headline = next(f for f in FIGURES if f.marker == "headline")
    assert "| 1234x |" in figures.rendered(headline, quoted)


FIG = Figure("doc.md", "speed", ("a.json",), lambda result: "")
BLOCK_OF = "<!-- figures: speed (from benchmarks/quoted/a.json; written by tools/figures.py) -->\n{}\n<!-- /figures: speed -->"


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        pytest.param("intro\n<!-- figures: speed -->\n<!-- /figures: speed -->\nafter\n",
                     "intro\n" + BLOCK_OF.format("| new |") + "\nafter\n", id="empty-block"),
        pytest.param("a\n<!-- figures: speed (old sources) -->\n| old |\n| rows |\n<!-- /figures: speed -->\nb",
                     "a\n" + BLOCK_OF.format("| new |") + "\nb", id="old-block"),
        # a block of another figure whose name starts the same is left alone
        pytest.param("<!-- figures: speed-2 -->\nx\n<!-- /figures: speed-2 -->\n<!-- figures: speed -->\n"
                     "<!-- /figures: speed -->",
                     "<!-- figures: speed-2 -->\nx\n<!-- /figures: speed-2 -->\n" + BLOCK_OF.format("| new |"),
                     id="similar-name"),
    ],
)
def test_fill_rewrites_the_block_alone(text, expected):
    assert fill(text, FIG, "| new |\n") == expected
    assert fill(expected, FIG, "| new |") == expected


@pytest.mark.parametrize(
    ("text", "count"),
    [
        pytest.param("no block here", 0, id="none"),
        pytest.param("<!-- figures: speed -->\n<!-- /figures: speed -->\n" * 2, 2, id="twice"),
    ],
)
def test_fill_refuses_a_document_without_exactly_one_block(text, count):
    with pytest.raises(FigureError) as error:
        fill(text, FIG, "x")
    assert str(error.value) == f"doc.md has {count} blocks of the figure 'speed', not one"
