"""SVG timeline of a scheduled circuit graph, drawn with the standard library alone.

One horizontal lane per qubit, in ascending qubit order, under a time axis in ns. Every gate is a
box from its start to its end time; a gate on several qubits gets one box on each of its lanes,
joined by a thin vertical line (a qubit listed twice in one gate still gets one box). Its name is
written in the box when it fits, and every box carries it as a tooltip (``<title>``). Single-qubit
gates are drawn lower than multi-qubit gates and in another colour, so that the two stay apart
even where a box is only a few px wide. The DD gates that `QuantumDAG.apply_dd_pass` inserts are
drawn in their own colour, at least ``MIN_DD_WIDTH_PX`` wide and above every other gate, so that
they stay visible at any scale. Idle windows of at least ``min_idle_ns``, as
`QuantumDAG.find_idle_windows` reports them, are shaded in their lane.

Times are drawn as the schedule holds them, with these exceptions, each counted in a note under
the legend: a gate whose start or end is NaN or infinite is not drawn (its lane still is); a gate
with a negative duration, whose end lies before its start, is drawn with zero duration at its
start; a gate without qubits has no lane and is not drawn. Other boxes narrower than
``MIN_BOX_WIDTH_PX`` are widened to it, to the right of their start. Only finite idle windows of
positive length are shaded.

Every box, idle shade and lane carries ``data-*`` attributes (node id, qubit, start and end in ns,
written with `repr`) so that tools and tests can read the picture back.
"""

from __future__ import annotations

import math
import os
import re
import xml.etree.ElementTree as ET
from collections.abc import Collection
from dataclasses import dataclass
from pathlib import Path

from _tarvex import QuantumDAG, TarvexError

__all__ = ["DD_GATE_NAMES", "render_svg", "write_svg"]

#: Names of the gates that `QuantumDAG.apply_dd_pass` inserts.
DD_GATE_NAMES = frozenset({"DD_X", "DD_Y"})

COLOURS = {
    "gate": "#2a9d8f",  # single-qubit gate
    "multi": "#27408b",  # gate on two or more qubits
    "dd": "#f07800",  # DD_X / DD_Y
    "idle": "#f2b134",
    "lane_even": "#f4f5f7",
    "lane_odd": "#ffffff",
    "axis": "#333333",
    "label": "#ffffff",
}

#: Narrowest drawn box of a DD gate, in px: wide enough to see in its colour.
MIN_DD_WIDTH_PX = 4.0
#: Narrowest drawn box of any other gate, in px.
MIN_BOX_WIDTH_PX = 2.0

_SVG_NS = "http://www.w3.org/2000/svg"
_MARGIN_PX = 16.0
_LABEL_WIDTH_PX = 64.0
_RIGHT_PAD_PX = 40.0  # room for the last tick label
_TITLE_HEIGHT_PX = 24.0
_LANE_HEIGHT_PX = 26.0
_BOX_HEIGHT_PX = {"gate": 12.0, "multi": 18.0, "dd": 18.0}
_FONT_PX = 11.0
_CHAR_WIDTH_PX = 0.62 * _FONT_PX  # a generous average advance, so a label never overflows its box
# A white outline and round corners set neighbouring boxes apart, but they would wash out the
# colour of a narrow box or round it away.
_OUTLINE_FROM_WIDTH_PX = 4.0
# Drawing order: a box widened to its minimum may reach into the next gate on its lane, so the
# narrow kinds go on top (DD gates last, they are what the picture is for).
_LAYER = {"multi": 0, "gate": 1, "dd": 2}

# Characters that XML 1.0 cannot carry; gate names may hold any text, NUL included.
_NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ud800-\udfff\ufffe\uffff]")


def _text(value: str) -> str:
    return _NOT_XML.sub("\ufffd", value)


def _px(value: float) -> str:
    return f"{value:.2f}"


def _ns(value: float) -> str:
    return f"{value:g}"


def _tick_step_ns(span_ns: float, target_ticks: int = 10) -> float:
    """The 1-2-5 step that divides `span_ns` into at most about `target_ticks` intervals."""
    raw = span_ns / target_ticks
    magnitude = 10.0 ** math.floor(math.log10(raw))
    for factor in (1.0, 2.0, 5.0, 10.0):
        if factor * magnitude >= raw:
            return factor * magnitude
    return 10.0 * magnitude


def _sub(parent: ET.Element, tag: str, text: str | None = None, **attrs: str) -> ET.Element:
    # `class_` stands for `class`; other underscores for the hyphens of SVG attribute names.
    element = ET.SubElement(
        parent, tag, {k.rstrip("_").replace("_", "-"): v for k, v in attrs.items()}
    )
    if text is not None:
        element.text = _text(text)
    return element


@dataclass(frozen=True, slots=True)
class _Box:
    """One drawn gate: its boxes share `x` and `width` on the lanes of `qubits`."""

    node_id: int
    name: str
    kind: str  # "gate" (single-qubit), "multi" or "dd": the key of its colour and height
    qubits: list[int]  # distinct, in lane order
    start_ns: float
    end_ns: float  # as drawn: never before `start_ns`
    x: float
    width: float  # px, at least the kind's minimum


@dataclass(frozen=True, slots=True)
class _Layout:
    """Where everything goes; the drawing steps only read it."""

    title: str | None
    min_idle_ns: float
    lane_top: dict[int, float]  # qubit -> y of its lane's top, in ascending qubit order
    boxes: list[_Box]  # in drawing order
    idle: list[tuple[int, float, float]]  # (qubit, start ns, end ns), finite, positive length
    notes: list[str]
    span_ns: float  # time at the right end of the axis
    x0: float  # x of time 0
    plot_width_px: float
    y_axis: float
    y_legend: float
    width: float
    height: float

    def x_of(self, t_ns: float) -> float:
        return self.x0 + t_ns * self.plot_width_px / self.span_ns


def _layout(
    dag: QuantumDAG,
    min_idle_ns: float,
    plot_width_px: float,
    title: str | None,
    hidden_names: Collection[str] = (),
) -> _Layout:
    """Reads `dag`'s gates, stored schedule and idle windows and places every lane, box and shade.
    Gates named in `hidden_names` keep their lanes but get no box.

    Raises `TarvexError` when a gate has no stored times. Gates that cannot be drawn are left out
    and counted in `notes`. Cost: one `get_all_nodes`, one `get_node_schedule` per gate, one
    `find_idle_windows`, and O(G log G) for G gates (the boxes are sorted into drawing order).
    """
    nodes = dag.get_all_nodes()
    times = [dag.get_node_schedule(node_id) for node_id in range(len(nodes))]
    n_scheduled = sum(t is not None for t in times)
    if n_scheduled != len(nodes):
        raise TarvexError(
            f"render_svg() needs a schedule for every gate: {n_scheduled} of {len(nodes)} gates "
            "are scheduled; call build_schedule() first"
        )

    lanes = sorted({q for _, qubits, _ in nodes for q in qubits})
    lane_of = {q: i for i, q in enumerate(lanes)}
    # (node id, name, distinct qubits in lane order, start, drawn end)
    spans: list[tuple[int, str, list[int], float, float]] = []
    n_not_finite = n_negative = n_no_qubits = 0
    for node_id, ((name, qubits, _), span) in enumerate(zip(nodes, times, strict=True)):
        assert span is not None
        start_ns, end_ns = span
        if name in hidden_names:
            continue
        if not qubits:
            n_no_qubits += 1
        elif not (math.isfinite(start_ns) and math.isfinite(end_ns)):
            n_not_finite += 1
        else:
            if end_ns < start_ns:
                n_negative += 1
                end_ns = start_ns
            spans.append(
                (node_id, name, sorted(set(qubits), key=lane_of.__getitem__), start_ns, end_ns)
            )
    notes = [
        f"{what}: {count} gate{'' if count == 1 else 's'}"
        for count, what in (
            (n_not_finite, "not drawn, NaN or infinite start or end time"),
            (n_negative, "drawn with zero duration at their start, negative duration"),
            (n_no_qubits, "not drawn, no qubits"),
        )
        if count
    ]
    idle = [
        (q, start_ns, end_ns)
        for q, start_ns, end_ns in dag.find_idle_windows(min_idle_ns)
        if math.isfinite(start_ns) and math.isfinite(end_ns) and end_ns > start_ns
    ]

    span_ns = max([end for *_, end in spans] + [end for *_, end in idle] + [0.0])
    if span_ns <= 0.0:
        span_ns = 1.0
    px_per_ns = plot_width_px / span_ns
    x0 = _MARGIN_PX + _LABEL_WIDTH_PX
    y0 = _MARGIN_PX + (_TITLE_HEIGHT_PX if title else 0.0)
    boxes = []
    for node_id, name, qubits, start_ns, end_ns in spans:
        kind = "dd" if name in DD_GATE_NAMES else "multi" if len(qubits) > 1 else "gate"
        min_width = MIN_DD_WIDTH_PX if kind == "dd" else MIN_BOX_WIDTH_PX
        width = max((end_ns - start_ns) * px_per_ns, min_width)
        x = x0 + start_ns * px_per_ns
        boxes.append(_Box(node_id, name, kind, qubits, start_ns, end_ns, x, width))
    boxes.sort(key=lambda box: (_LAYER[box.kind], box.node_id))

    y_axis = y0 + len(lanes) * _LANE_HEIGHT_PX + 4.0
    y_legend = y_axis + 52.0
    return _Layout(
        title=title,
        min_idle_ns=min_idle_ns,
        lane_top={q: y0 + i * _LANE_HEIGHT_PX for i, q in enumerate(lanes)},
        boxes=boxes,
        idle=idle,
        notes=notes,
        span_ns=span_ns,
        x0=x0,
        plot_width_px=plot_width_px,
        y_axis=y_axis,
        y_legend=y_legend,
        width=x0 + plot_width_px + _RIGHT_PAD_PX,
        height=y_legend + 16.0 + 16.0 * len(notes) + _MARGIN_PX,
    )


def _draw_frame(layout: _Layout) -> ET.Element:
    """The `<svg>` root sized to `layout`, with a white background and the title if any."""
    svg = ET.Element(
        "svg",
        {
            "xmlns": _SVG_NS,
            "width": _px(layout.width),
            "height": _px(layout.height),
            "viewBox": f"0 0 {_px(layout.width)} {_px(layout.height)}",
            "font-family": "DejaVu Sans, Arial, Helvetica, sans-serif",
            "font-size": _ns(_FONT_PX),
        },
    )
    _sub(svg, "rect", width="100%", height="100%", fill="#ffffff")
    if layout.title:
        _sub(svg, "title", layout.title)
        _sub(
            svg,
            "text",
            layout.title,
            class_="title",
            x=_px(_MARGIN_PX),
            y=_px(_MARGIN_PX + 14.0),
            font_size="14",
            font_weight="bold",
        )
    return svg


def _draw_lanes(svg: ET.Element, layout: _Layout) -> None:
    """Appends one `g.lane` per qubit: a striped background the width of the plot and a label."""
    lane_group = _sub(svg, "g", class_="lanes")
    for i, (q, top) in enumerate(layout.lane_top.items()):
        lane = _sub(lane_group, "g", class_="lane", data_qubit=str(q))
        _sub(
            lane,
            "rect",
            class_="lane-bg",
            x=_px(layout.x0),
            y=_px(top),
            width=_px(layout.plot_width_px),
            height=_px(_LANE_HEIGHT_PX),
            fill=COLOURS["lane_even" if i % 2 == 0 else "lane_odd"],
        )
        _sub(
            lane,
            "text",
            f"q{q}",
            class_="lane-label",
            x=_px(layout.x0 - 8.0),
            y=_px(top + _LANE_HEIGHT_PX / 2 + 4.0),
            text_anchor="end",
        )


def _draw_idle(svg: ET.Element, layout: _Layout) -> None:
    """Appends one translucent `rect.idle` per idle window, in its lane, with a tooltip."""
    idle_group = _sub(svg, "g", class_="idle-windows")
    for q, start_ns, end_ns in layout.idle:
        x = layout.x_of(start_ns)
        shade = _sub(
            idle_group,
            "rect",
            class_="idle",
            data_qubit=str(q),
            data_start_ns=repr(start_ns),
            data_end_ns=repr(end_ns),
            x=_px(x),
            y=_px(layout.lane_top[q] + 2.0),
            width=_px(layout.x_of(end_ns) - x),
            height=_px(_LANE_HEIGHT_PX - 4.0),
            fill=COLOURS["idle"],
            fill_opacity="0.35",
        )
        _sub(
            shade,
            "title",
            f"q{q} idle {_ns(start_ns)}–{_ns(end_ns)} ns ({_ns(end_ns - start_ns)} ns)",
        )


def _draw_gates(svg: ET.Element, layout: _Layout) -> None:
    """Appends one `g.gate` per box in layout order: a tooltip, the line joining the lanes of a
    multi-qubit gate, and a `rect.box` (with the name when it fits) on each of its lanes."""
    gate_group = _sub(svg, "g", class_="gates")
    for box in layout.boxes:
        colour = COLOURS[box.kind]
        height = _BOX_HEIGHT_PX[box.kind]
        gate = _sub(gate_group, "g", class_=f"gate {box.kind}", data_node=str(box.node_id))
        _sub(
            gate,
            "title",
            f"{box.name} #{box.node_id} on {', '.join(f'q{q}' for q in box.qubits)}: "
            f"{_ns(box.start_ns)}–{_ns(box.end_ns)} ns",
        )
        x_mid = _px(box.x + box.width / 2)
        if len(box.qubits) > 1:
            _sub(
                gate,
                "line",
                class_="link",
                x1=x_mid,
                x2=x_mid,
                y1=_px(layout.lane_top[box.qubits[0]] + _LANE_HEIGHT_PX / 2),
                y2=_px(layout.lane_top[box.qubits[-1]] + _LANE_HEIGHT_PX / 2),
                stroke=colour,
                stroke_width="1",
            )
        outline = {"rx": "2", "stroke": "#ffffff", "stroke_width": "0.5"}
        if box.width <= _OUTLINE_FROM_WIDTH_PX:
            outline = {}
        fits = len(box.name) * _CHAR_WIDTH_PX + 4.0 <= box.width
        for q in box.qubits:
            top = layout.lane_top[q] + (_LANE_HEIGHT_PX - height) / 2
            _sub(
                gate,
                "rect",
                class_="box",
                data_qubit=str(q),
                data_start_ns=repr(box.start_ns),
                data_end_ns=repr(box.end_ns),
                x=_px(box.x),
                y=_px(top),
                width=_px(box.width),
                height=_px(height),
                fill=colour,
                **outline,
            )
            if fits:
                _sub(
                    gate,
                    "text",
                    box.name,
                    class_="gate-label",
                    x=x_mid,
                    y=_px(top + height / 2 + 4.0),
                    text_anchor="middle",
                    fill=COLOURS["label"],
                )


def _draw_axis(svg: ET.Element, layout: _Layout) -> None:
    """Appends the time axis under the lanes: a 1-2-5 tick every so many ns, labelled, and its
    caption."""
    y_axis = layout.y_axis
    axis = _sub(svg, "g", class_="axis", stroke=COLOURS["axis"])
    x_end = _px(layout.x0 + layout.plot_width_px)
    _sub(axis, "line", x1=_px(layout.x0), x2=x_end, y1=_px(y_axis), y2=_px(y_axis))
    step_ns = _tick_step_ns(layout.span_ns)
    for k in range(int(layout.span_ns / step_ns + 1e-9) + 1):
        t_ns = k * step_ns
        x_tick = _px(layout.x_of(t_ns))
        label = f"{t_ns:.0f}" if step_ns.is_integer() else _ns(round(t_ns, 9))
        _sub(
            axis, "line", class_="tick", x1=x_tick, x2=x_tick, y1=_px(y_axis), y2=_px(y_axis + 5.0)
        )
        _sub(
            axis,
            "text",
            label,
            class_="tick-label",
            data_ns=repr(t_ns),
            x=x_tick,
            y=_px(y_axis + 18.0),
            text_anchor="middle",
            stroke="none",
            fill=COLOURS["axis"],
        )
    _sub(
        axis,
        "text",
        "time (ns)",
        class_="axis-caption",
        x=_px(layout.x0 + layout.plot_width_px / 2),
        y=_px(y_axis + 34.0),
        text_anchor="middle",
        stroke="none",
        fill=COLOURS["axis"],
    )


def _draw_legend(svg: ET.Element, layout: _Layout) -> None:
    """Appends the legend (a swatch shaped like each kind of box) and the notes under it."""
    legend = _sub(svg, "g", class_="legend")
    x = layout.x0
    for colour, height, text, opacity in (
        (COLOURS["gate"], 8.0, "single-qubit gate", "1"),
        (COLOURS["multi"], 12.0, "multi-qubit gate", "1"),
        (COLOURS["dd"], 12.0, "DD gate (" + ", ".join(sorted(DD_GATE_NAMES)) + ")", "1"),
        (COLOURS["idle"], 12.0, f"idle ≥ {_ns(layout.min_idle_ns)} ns", "0.35"),
    ):
        _sub(
            legend,
            "rect",
            x=_px(x),
            y=_px(layout.y_legend - 4.0 - height / 2),
            width="14",
            height=_ns(height),
            fill=colour,
            fill_opacity=opacity,
        )
        _sub(legend, "text", text, x=_px(x + 20.0), y=_px(layout.y_legend))
        x += 20.0 + len(text) * _CHAR_WIDTH_PX + 16.0
    for i, text in enumerate(layout.notes):
        _sub(
            svg,
            "text",
            text,
            class_="note",
            x=_px(layout.x0),
            y=_px(layout.y_legend + 16.0 * (i + 1)),
            font_style="italic",
        )


def render_svg(
    dag: QuantumDAG,
    *,
    min_idle_ns: float = 100.0,
    plot_width_px: float = 1200.0,
    title: str | None = None,
    hidden_names: Collection[str] = (),
) -> str:
    """The timeline of `dag`'s stored schedule as an SVG document.

    `dag` must be scheduled: every gate needs times from `build_schedule`, else `TarvexError` is
    raised. `min_idle_ns` is the shortest idle window that is shaded; `plot_width_px` the width of
    the time axis, which spans 0 to the latest drawn time. Gates named in `hidden_names` (delays
that pad a circuit, say) are not drawn; their time reads as blank. Cost: O(G log G) for G gates; the text
    takes about 400 bytes per gate.
    """
    if not plot_width_px > 0.0:
        raise ValueError(f"plot_width_px must be positive, not {plot_width_px!r}")
    layout = _layout(dag, min_idle_ns, plot_width_px, title, frozenset(hidden_names))
    svg = _draw_frame(layout)
    for draw in (_draw_lanes, _draw_idle, _draw_gates, _draw_axis, _draw_legend):
        draw(svg, layout)
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(svg, encoding="unicode") + "\n"


def write_svg(
    dag: QuantumDAG,
    path: str | os.PathLike[str],
    *,
    min_idle_ns: float = 100.0,
    plot_width_px: float = 1200.0,
    title: str | None = None,
    hidden_names: Collection[str] = (),
) -> Path:
    """Writes `render_svg(dag, ...)` to `path` as UTF-8 and returns the path."""
    path = Path(path)
    path.write_text(
        render_svg(
            dag,
            min_idle_ns=min_idle_ns,
            plot_width_px=plot_width_px,
            title=title,
            hidden_names=hidden_names,
        ),
        encoding="utf-8",
    )
    return path
