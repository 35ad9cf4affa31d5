"""The SVG timeline read back with xml.etree: lanes, gate boxes, idle shading and the time axis
against known schedules, odd durations, awkward names and stale schedules."""

import math
import xml.etree.ElementTree as ET

import pytest

from tarvex import QuantumDAG, TarvexError
from tarvex.timeline import COLOURS, render_svg

NS = {"svg": "http://www.w3.org/2000/svg"}
PLOT_WIDTH_PX = 1100.0


def build(*gates: tuple[str, list[int], float]) -> QuantumDAG:
    dag = QuantumDAG()
    for gate in gates:
        dag.add_gate(*gate)
    return dag


def parse(dag: QuantumDAG, min_idle_ns: float = 100.0, title: str | None = None) -> ET.Element:
    return ET.fromstring(
        render_svg(dag, min_idle_ns=min_idle_ns, plot_width_px=PLOT_WIDTH_PX, title=title)
    )


def lane_rows(root: ET.Element) -> dict[int, tuple[float, float, float]]:
    """qubit -> (plot left x, lane top y, lane bottom y)."""
    rows = {}
    for lane in root.iterfind(".//svg:g[@class='lane']", NS):
        bg = lane.find("svg:rect", NS)
        assert bg is not None and float(bg.get("width", "")) == PLOT_WIDTH_PX
        y = float(bg.get("y", ""))
        rows[int(lane.get("data-qubit", ""))] = (
            float(bg.get("x", "")),
            y,
            y + float(bg.get("height", "")),
        )
    return rows


def boxes(root: ET.Element) -> dict[tuple[int, int], tuple[str, float, float, ET.Element]]:
    """(node id, qubit) -> (kind, start ns, end ns, rect)."""
    found = {}
    for gate in root.iterfind(".//svg:g[@data-node]", NS):
        kind = gate.get("class", "").split()[1]
        for rect in gate.iterfind("svg:rect", NS):
            key = (int(gate.get("data-node", "")), int(rect.get("data-qubit", "")))
            assert key not in found
            found[key] = (
                kind,
                float(rect.get("data-start-ns", "")),
                float(rect.get("data-end-ns", "")),
                rect,
            )
    return found


def notes(root: ET.Element) -> list[str]:
    return [n.text or "" for n in root.iterfind("svg:text[@class='note']", NS)]


def test_boxes_lanes_and_idle_shading_follow_the_schedule() -> None:
    source = build(("h", [0], 10.0), ("x", [1], 200.0), ("cx", [0, 1], 20.0))
    source.build_schedule()
    dag = source.apply_dd_pass()
    dag.build_schedule()
    root = parse(dag, min_idle_ns=50.0, title="DD example")

    rows = lane_rows(root)
    assert sorted(rows) == [0, 1]
    assert [t.text for t in root.iterfind(".//svg:text[@class='lane-label']", NS)] == ["q0", "q1"]
    title = root.find("svg:title", NS)
    assert title is not None and title.text == "DD example"

    # h 0-10, x 0-200, DD_X 10-60, DD_Y 60-110, cx 200-220 on both lanes
    expected = {
        (0, 0): ("gate", 0.0, 10.0),
        (1, 1): ("gate", 0.0, 200.0),
        (2, 0): ("dd", 10.0, 60.0),
        (3, 0): ("dd", 60.0, 110.0),
        (4, 0): ("multi", 200.0, 220.0),
        (4, 1): ("multi", 200.0, 220.0),
    }
    found = boxes(root)
    assert {key: value[:3] for key, value in found.items()} == expected
    px_per_ns = PLOT_WIDTH_PX / 220.0
    for (_, qubit), (kind, start, end, rect) in found.items():
        left, top, bottom = rows[qubit]
        assert float(rect.get("x", "")) == pytest.approx(left + start * px_per_ns, abs=0.01)
        assert float(rect.get("width", "")) == pytest.approx((end - start) * px_per_ns, abs=0.01)
        y = float(rect.get("y", ""))
        assert top <= y and y + float(rect.get("height", "")) <= bottom
        assert rect.get("fill") == COLOURS[kind]
    labels = {t.text for t in root.iterfind(".//svg:g[@data-node]/svg:text", NS)}
    assert labels == {"h", "x", "DD_X", "DD_Y", "cx"}

    # q0 is idle from the end of DD_Y (110) until cx (200); every other gap is 0
    shades = root.findall(".//svg:rect[@class='idle']", NS)
    assert [
        (s.get("data-qubit"), s.get("data-start-ns"), s.get("data-end-ns")) for s in shades
    ] == [("0", "110.0", "200.0")]
    assert float(shades[0].get("x", "")) == pytest.approx(rows[0][0] + 110.0 * px_per_ns, abs=0.01)

    ticks = [
        float(t.get("data-ns", "")) for t in root.iterfind(".//svg:text[@class='tick-label']", NS)
    ]
    assert ticks[0] == 0.0 and ticks[-1] <= 220.0 and len(ticks) >= 5
    assert len({round(b - a, 9) for a, b in zip(ticks, ticks[1:], strict=False)}) == 1
    caption = root.find(".//svg:text[@class='axis-caption']", NS)
    assert caption is not None and caption.text == "time (ns)"
    assert notes(root) == []


NOT_FINITE = "not drawn, NaN or infinite start or end time: {} gate{}"


@pytest.mark.parametrize(
    ("duration_ns", "drawn", "expected_notes"),
    [
        # "a" on q0 0-10, the odd gate on q0 from 10, then "b" on (0, 1)
        (math.nan, {0: (0.0, 10.0), 2: (0.0, 10.0)}, [NOT_FINITE.format(1, "")]),
        (-math.inf, {0: (0.0, 10.0), 2: (0.0, 10.0)}, [NOT_FINITE.format(1, "")]),
        (math.inf, {0: (0.0, 10.0)}, [NOT_FINITE.format(2, "s")]),
        (
            -5.0,
            {0: (0.0, 10.0), 1: (10.0, 10.0), 2: (5.0, 15.0)},
            ["drawn with zero duration at their start, negative duration: 1 gate"],
        ),
    ],
)
def test_odd_durations_are_skipped_or_clamped(
    duration_ns: float, drawn: dict[int, tuple[float, float]], expected_notes: list[str]
) -> None:
    dag = build(
        ("a", [0], 10.0), ("odd", [0], duration_ns), ("b", [0, 1], 10.0), ("global", [], 1.0)
    )
    dag.build_schedule()
    root = parse(dag)
    assert {node: (start, end) for (node, _), (_, start, end, _) in boxes(root).items()} == drawn
    assert sorted(lane_rows(root)) == [0, 1]
    assert notes(root) == expected_notes + ["not drawn, no qubits: 1 gate"]
    for rect in root.iter(f"{{{NS['svg']}}}rect"):
        for attribute in ("x", "width"):
            assert math.isfinite(float(rect.get(attribute, "0").rstrip("%")))


def test_any_gate_name_gives_well_formed_xml() -> None:
    names = ["<&>\"'", "a\x00b\x1f", "", "ψ†"]
    dag = build(*((name, [i], 500.0) for i, name in enumerate(names)))
    dag.build_schedule()
    root = parse(dag, title="<title> & \x00")
    titles = [t.text for t in root.iterfind(".//svg:g[@data-node]/svg:title", NS)]
    shown = ["<&>\"'", "a\ufffdb\ufffd", "", "ψ†"]  # characters XML cannot carry become U+FFFD
    assert titles == [f"{name} #{i} on q{i}: 0–500 ns" for i, name in enumerate(shown)]


def test_empty_graph_draws_an_empty_axis() -> None:
    root = parse(QuantumDAG())
    assert lane_rows(root) == {} and boxes(root) == {}
    assert root.find(".//svg:g[@class='axis']", NS) is not None


@pytest.mark.parametrize(("scheduled_first", "expected"), [(False, "0 of 2"), (True, "2 of 3")])
def test_refuses_a_stale_schedule(scheduled_first: bool, expected: str) -> None:
    dag = build(("h", [0], 35.0), ("x", [1], 35.0))
    if scheduled_first:
        dag.build_schedule()
        dag.add_gate("cx", [0, 1], 300.0)
    with pytest.raises(TarvexError) as caught:
        render_svg(dag)
    assert str(caught.value) == (
        f"render_svg() needs a schedule for every gate: {expected} gates are scheduled; "
        "call build_schedule() first"
    )


def test_dd_gates_stay_visible_and_single_qubit_gates_apart_at_any_scale() -> None:
    # q0 waits 10^6 ns for q1, so at 1100 px the 50 ns DD gates and the 10 ns gates are < 0.1 px
    source = build(("a", [0], 10.0), ("long", [1], 1e6), ("b", [0, 1], 10.0), ("c", [1], 10.0))
    source.build_schedule()
    dag = source.apply_dd_pass()
    dag.build_schedule()
    root = parse(dag)
    found = boxes(root)
    assert (
        sorted(kind for kind, *_ in found.values())
        == ["dd", "dd", "gate", "gate", "gate"] + ["multi"] * 2
    )
    heights = {}
    for kind, _, _, rect in found.values():
        assert rect.get("fill") == COLOURS[kind]
        assert float(rect.get("width", "")) >= (4.0 if kind == "dd" else 2.0)  # as documented
        heights[kind] = float(rect.get("height", ""))
    assert heights["gate"] < heights["multi"] and COLOURS["gate"] != COLOURS["multi"]
    # DD boxes come last, so that no widened neighbour covers them
    drawn = [g.get("class") for g in root.iterfind(".//svg:g[@data-node]", NS)]
    assert drawn[-2:] == ["gate dd", "gate dd"] and "gate dd" not in drawn[:-2]


def test_hidden_names_keep_their_lanes_and_time_but_draw_no_box() -> None:
    dag = build(("x", [0], 100.0), ("delay", [1], 300.0), ("cx", [0, 1], 200.0))
    dag.build_schedule()
    root = ET.fromstring(render_svg(dag, plot_width_px=PLOT_WIDTH_PX, hidden_names={"delay"}))
    assert set(lane_rows(root)) == {0, 1}
    assert {node for node, _ in boxes(root)} == {0, 2}
    assert boxes(root)[(2, 1)][1:3] == (300.0, 500.0)
