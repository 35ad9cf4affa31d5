"""SVG timeline of a scheduled circuit graph, drawn with the standard library alone.

One horizontal lane per qubit, in ascending qubit order, under a time axis in ns. Every gate is a
box from its start to its end time; a gate on several qubits gets one box on each of its lanes,
joined by a thin vertical line (a qubit listed twice in one gate still gets one box). Its name is
written in the box when it fits, and every box carries it as a tooltip (``<title>``). The DD gates
that `QuantumDAG.apply_dd_pass` inserts are drawn in their own colour. Idle windows of at least
``min_idle_ns``, as `QuantumDAG.find_idle_windows` reports them, are shaded in their lane.

Times are drawn as the schedule holds them, with these exceptions, each counted in a note under
the legend: a gate whose start or end is NaN or infinite is not drawn (its lane still is); a gate
with a negative duration, whose end lies before its start, is drawn with zero duration at its
start; a gate without qubits has no lane and is not drawn. Boxes narrower than 1 px are widened
to 1 px so that they stay visible. Only finite idle windows of positive length are shaded.

Every box, idle shade and lane carries ``data-*`` attributes (node id, qubit, start and end in ns,
written with `repr`) so that tools and tests can read the picture back.
"""

from __future__ import annotations

import math
import os
import re
import xml.etree.ElementTree as ET
from pathlib import Path

from _tarvex import QuantumDAG, TarvexError

__all__ = ["DD_GATE_NAMES", "render_svg", "write_svg"]

#: Names of the gates that `QuantumDAG.apply_dd_pass` inserts.
DD_GATE_NAMES = frozenset({"DD_X", "DD_Y"})

COLOURS = {
    "gate": "#4c78a8",  # single-qubit gate
    "multi": "#27408b",  # gate on two or more qubits
    "dd": "#e4572e",  # DD_X / DD_Y
    "idle": "#f2b134",
    "lane_even": "#f4f5f7",
    "lane_odd": "#ffffff",
    "axis": "#333333",
    "label": "#ffffff",
}

_SVG_NS = "http://www.w3.org/2000/svg"
_MARGIN_PX = 16.0
_LABEL_WIDTH_PX = 64.0
_RIGHT_PAD_PX = 40.0  # room for the last tick label
_TITLE_HEIGHT_PX = 24.0
_LANE_HEIGHT_PX = 26.0
_BOX_HEIGHT_PX = 18.0
_FONT_PX = 11.0
_CHAR_WIDTH_PX = 0.62 * _FONT_PX  # a generous average advance, so a label never overflows its box
_MIN_BOX_WIDTH_PX = 1.0

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


def render_svg(
    dag: QuantumDAG,
    *,
    min_idle_ns: float = 100.0,
    plot_width_px: float = 1200.0,
    title: str | None = None,
) -> str:
    """The timeline of `dag`'s stored schedule as an SVG document.

    `dag` must be scheduled: every gate needs times from `build_schedule`, else `TarvexError` is
    raised. `min_idle_ns` is the shortest idle window that is shaded; `plot_width_px` the width of
    the time axis, which spans 0 to the latest drawn time.
    """
    if not plot_width_px > 0.0:
        raise ValueError(f"plot_width_px must be positive, not {plot_width_px!r}")
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
    boxes: list[tuple[int, str, list[int], float, float]] = []
    n_not_finite = n_negative = n_no_qubits = 0
    for node_id, ((name, qubits, _), span) in enumerate(zip(nodes, times, strict=True)):
        assert span is not None
        start_ns, end_ns = span
        if not qubits:
            n_no_qubits += 1
        elif not (math.isfinite(start_ns) and math.isfinite(end_ns)):
            n_not_finite += 1
        else:
            if end_ns < start_ns:
                n_negative += 1
                end_ns = start_ns
            boxes.append(
                (node_id, name, sorted(set(qubits), key=lane_of.__getitem__), start_ns, end_ns)
            )

    idle = [
        (q, start_ns, end_ns)
        for q, start_ns, end_ns in dag.find_idle_windows(min_idle_ns)
        if math.isfinite(start_ns) and math.isfinite(end_ns) and end_ns > start_ns
    ]

    span_ns = max([end for *_, end in boxes] + [end for *_, end in idle] + [0.0])
    if span_ns <= 0.0:
        span_ns = 1.0
    px_per_ns = plot_width_px / span_ns
    x0 = _MARGIN_PX + _LABEL_WIDTH_PX
    y0 = _MARGIN_PX + (_TITLE_HEIGHT_PX if title else 0.0)

    def x_of(t_ns: float) -> float:
        return x0 + t_ns * px_per_ns

    def lane_top(q: int) -> float:
        return y0 + lane_of[q] * _LANE_HEIGHT_PX

    box_offset = (_LANE_HEIGHT_PX - _BOX_HEIGHT_PX) / 2
    y_axis = y0 + len(lanes) * _LANE_HEIGHT_PX + 4.0
    y_legend = y_axis + 52.0
    notes = [
        f"{what}: {count} gate{'' if count == 1 else 's'}"
        for count, what in (
            (n_not_finite, "not drawn, NaN or infinite start or end time"),
            (n_negative, "drawn with zero duration at their start, negative duration"),
            (n_no_qubits, "not drawn, no qubits"),
        )
        if count
    ]
    width = x0 + plot_width_px + _RIGHT_PAD_PX
    height = y_legend + 16.0 + 16.0 * len(notes) + _MARGIN_PX

    svg = ET.Element(
        "svg",
        {
            "xmlns": _SVG_NS,
            "width": _px(width),
            "height": _px(height),
            "viewBox": f"0 0 {_px(width)} {_px(height)}",
            "font-family": "DejaVu Sans, Arial, Helvetica, sans-serif",
            "font-size": _ns(_FONT_PX),
        },
    )
    _sub(svg, "rect", width="100%", height="100%", fill="#ffffff")
    if title:
        _sub(svg, "title", title)
        _sub(
            svg,
            "text",
            title,
            class_="title",
            x=_px(_MARGIN_PX),
            y=_px(_MARGIN_PX + 14.0),
            font_size="14",
            font_weight="bold",
        )

    lane_group = _sub(svg, "g", class_="lanes")
    for i, q in enumerate(lanes):
        lane = _sub(lane_group, "g", class_="lane", data_qubit=str(q))
        _sub(
            lane,
            "rect",
            class_="lane-bg",
            x=_px(x0),
            y=_px(lane_top(q)),
            width=_px(plot_width_px),
            height=_px(_LANE_HEIGHT_PX),
            fill=COLOURS["lane_even" if i % 2 == 0 else "lane_odd"],
        )
        _sub(
            lane,
            "text",
            f"q{q}",
            class_="lane-label",
            x=_px(x0 - 8.0),
            y=_px(lane_top(q) + _LANE_HEIGHT_PX / 2 + 4.0),
            text_anchor="end",
        )

    idle_group = _sub(svg, "g", class_="idle-windows")
    for q, start_ns, end_ns in idle:
        shade = _sub(
            idle_group,
            "rect",
            class_="idle",
            data_qubit=str(q),
            data_start_ns=repr(start_ns),
            data_end_ns=repr(end_ns),
            x=_px(x_of(start_ns)),
            y=_px(lane_top(q) + 2.0),
            width=_px((end_ns - start_ns) * px_per_ns),
            height=_px(_LANE_HEIGHT_PX - 4.0),
            fill=COLOURS["idle"],
            fill_opacity="0.35",
        )
        _sub(
            shade,
            "title",
            f"q{q} idle {_ns(start_ns)}–{_ns(end_ns)} ns ({_ns(end_ns - start_ns)} ns)",
        )

    gate_group = _sub(svg, "g", class_="gates")
    for node_id, name, qubits, start_ns, end_ns in boxes:
        kind = "dd" if name in DD_GATE_NAMES else "multi" if len(qubits) > 1 else "gate"
        colour = COLOURS[kind]
        x = x_of(start_ns)
        box_width = max((end_ns - start_ns) * px_per_ns, _MIN_BOX_WIDTH_PX)
        gate = _sub(gate_group, "g", class_=f"gate {kind}", data_node=str(node_id))
        _sub(
            gate,
            "title",
            f"{name} #{node_id} on {', '.join(f'q{q}' for q in qubits)}: "
            f"{_ns(start_ns)}–{_ns(end_ns)} ns",
        )
        if len(qubits) > 1:
            x_mid = _px(x + box_width / 2)
            _sub(
                gate,
                "line",
                class_="link",
                x1=x_mid,
                x2=x_mid,
                y1=_px(lane_top(qubits[0]) + _LANE_HEIGHT_PX / 2),
                y2=_px(lane_top(qubits[-1]) + _LANE_HEIGHT_PX / 2),
                stroke=colour,
                stroke_width="1",
            )
        fits = len(name) * _CHAR_WIDTH_PX + 4.0 <= box_width
        for q in qubits:
            top = lane_top(q) + box_offset
            _sub(
                gate,
                "rect",
                class_="box",
                data_qubit=str(q),
                data_start_ns=repr(start_ns),
                data_end_ns=repr(end_ns),
                x=_px(x),
                y=_px(top),
                width=_px(box_width),
                height=_px(_BOX_HEIGHT_PX),
                rx="2",
                fill=colour,
                stroke="#ffffff",
                stroke_width="0.5",
            )
            if fits:
                _sub(
                    gate,
                    "text",
                    name,
                    class_="gate-label",
                    x=_px(x + box_width / 2),
                    y=_px(top + _BOX_HEIGHT_PX / 2 + 4.0),
                    text_anchor="middle",
                    fill=COLOURS["label"],
                )

    axis = _sub(svg, "g", class_="axis", stroke=COLOURS["axis"])
    _sub(axis, "line", x1=_px(x0), x2=_px(x0 + plot_width_px), y1=_px(y_axis), y2=_px(y_axis))
    step_ns = _tick_step_ns(span_ns)
    for k in range(int(span_ns / step_ns + 1e-9) + 1):
        t_ns = k * step_ns
        x_tick = _px(x_of(t_ns))
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
        x=_px(x0 + plot_width_px / 2),
        y=_px(y_axis + 34.0),
        text_anchor="middle",
        stroke="none",
        fill=COLOURS["axis"],
    )

    legend = _sub(svg, "g", class_="legend")
    x = x0
    for colour, text, opacity in (
        (COLOURS["gate"], "single-qubit gate", "1"),
        (COLOURS["multi"], "multi-qubit gate", "1"),
        (COLOURS["dd"], "DD gate (" + ", ".join(sorted(DD_GATE_NAMES)) + ")", "1"),
        (COLOURS["idle"], f"idle ≥ {_ns(min_idle_ns)} ns", "0.35"),
    ):
        _sub(
            legend,
            "rect",
            x=_px(x),
            y=_px(y_legend - 10.0),
            width="14",
            height="12",
            fill=colour,
            fill_opacity=opacity,
        )
        _sub(legend, "text", text, x=_px(x + 20.0), y=_px(y_legend))
        x += 20.0 + len(text) * _CHAR_WIDTH_PX + 16.0
    for i, text in enumerate(notes):
        _sub(
            svg,
            "text",
            text,
            class_="note",
            x=_px(x0),
            y=_px(y_legend + 16.0 * (i + 1)),
            font_style="italic",
        )

    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(svg, encoding="unicode") + "\n"


def write_svg(
    dag: QuantumDAG,
    path: str | os.PathLike[str],
    *,
    min_idle_ns: float = 100.0,
    plot_width_px: float = 1200.0,
    title: str | None = None,
) -> Path:
    """Writes `render_svg(dag, ...)` to `path` as UTF-8 and returns the path."""
    path = Path(path)
    path.write_text(
        render_svg(dag, min_idle_ns=min_idle_ns, plot_width_px=plot_width_px, title=title),
        encoding="utf-8",
    )
    return path
