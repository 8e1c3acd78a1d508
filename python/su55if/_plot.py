"""Timeline.plot(): the run drawn with Matplotlib from what the host's chart
knows of it, as the sample stream brought it (its window, title, links,
colours, mark limit, cycle starts and schedule changes)."""

from __future__ import annotations

import textwrap
from typing import TYPE_CHECKING, Any, Optional

from ._files import _install_hint

if TYPE_CHECKING:
    from ._timeline import Timeline

_LINE_WIDTH = 1.8  # as the chart's lines
_GRID = "#dddddd"
_NAMED_CHANGES = 12  # schedule changes labelled on the plot; the others only marked


def _label(text: str, width: int = 80) -> str:
    """Text for Matplotlib as it is: "$" taken literally, cut to `width` characters."""
    text = text if len(text) <= width else text[: width - 1] + "…"
    return text.replace("$", r"\$")


def _changed(changes: list[dict[str, Any]]) -> str:
    """What a schedule change changed: "stage 3: 30 → 25, stage 11: 30 → 25"."""
    return ", ".join(f"stage {c['stage']}: {c['from']:g} → {c['to']:g}" if c["from"] is not None and c["to"] is not None
                     else f"stage {c['stage']}" for c in changes)


def _window(timeline: Timeline, start: Optional[float], stop: Optional[float],
            cycles: Optional[int]) -> tuple[float, float, str]:
    """The part of the run to draw, and a note saying which when it is not all."""
    times = timeline.column("time")
    last = times[-1] if len(times) else 0.0
    chart = timeline._chart
    if cycles is not None:
        start = 0.0 if start is None else float(start)
        # The cycles as the run began them, whatever their durations.
        starts = [0.0, *timeline._cycle_starts]
        following = [time for time in starts if time > start]
        stop = following[cycles - 1] if 0 < cycles <= len(following) else last
    if start is None and stop is None:
        begin, end = float(chart.get("from", 0.0)), min(float(chart.get("to", last)), last)
        if "firstCycles" in chart:
            return begin, end, (f"Charted: the first {chart['firstCycles']} of the run's {chart['runCycles']:,.0f} "
                                "cycles; plot(start=, stop=) charts another part.")
        return begin, end if end > begin else last, ""
    start, stop = 0.0 if start is None else float(start), last if stop is None else float(stop)
    if not start < stop:
        raise ValueError(f"plot(): start {start} must be before stop {stop}")
    return start, stop, f"Charted from time {start:g} to {stop:g} of a run to {last:g}."


def _draw_links(axes: Any, links: list[dict[str, Any]]) -> None:
    """The interaction links as the chart draws them: beside the stages'
    rows, a bracket from a stage to its partner, the arrowhead at the
    partner (at both ends for a link both ways), dashed for a negative table
    entry, labelled as the chart labels it; the shortest nearest."""
    order = sorted(links, key=lambda link: abs(float(link["to"]) - float(link["from"])))
    for level, link in enumerate(order):
        arm = 10 + 14 * level  # points right of the axes
        ends = {"xycoords": ("axes fraction", "data"), "textcoords": ("axes fraction", "data")}
        axes.annotate("", xy=(1.0, link["to"]), xytext=(1.0, link["from"]), **ends, annotation_clip=False,
                      arrowprops={"arrowstyle": "<|-|>" if link["bothWays"] else "-|>", "color": "#555555",
                                  "linestyle": "--" if link["negative"] else "-", "shrinkA": 3, "shrinkB": 3,
                                  "connectionstyle": f"bar,armA={arm},armB={arm},fraction=0", "mutation_scale": 8})
        axes.annotate(link["label"], (1.0, (link["from"] + link["to"]) / 2), xycoords=("axes fraction", "data"),
                      xytext=(arm + 2, 0), textcoords="offset points", fontsize="x-small", color="#555555",
                      va="center", ha="left", annotation_clip=False,
                      bbox={"boxstyle": "square,pad=0.1", "facecolor": "white", "edgecolor": "none"})


def plot_timeline(timeline: Timeline, path: Any = None, *, start: Optional[float] = None,
                  stop: Optional[float] = None, cycles: Optional[int] = None,
                  time_unit: Optional[str] = None) -> Any:
    """Draws the stage in force as a box on the row of each stage (named as
    the cycle names it), the action code and the two spans, a dotted line
    where a cycle starts and a dashed one, saying what changed, where a
    schedule takes effect, and the cycle's links beside the stages. By
    default the part of the run the host's chart shows (the first 10 cycles
    of a long run, with a note); start= and stop= (times) or cycles= (that
    many cycles from start) choose another. time_unit labels the times
    (default: the one given to run())."""
    try:
        import matplotlib
        import matplotlib.pyplot as pyplot
        import numpy
    except ImportError:
        raise ImportError(f"Timeline.plot needs Matplotlib ({_install_hint('matplotlib')})") from None
    chart = timeline._chart
    stage_colours = list(chart["stageColours"])
    series = {entry["name"]: (entry["colour"], entry["dash"]) for entry in chart["series"]}
    unit = timeline.time_unit if time_unit is None else time_unit
    begin, end, note = _window(timeline, start, stop, cycles)

    all_times = numpy.asarray(timeline.column("time"))
    first = int(numpy.searchsorted(all_times, begin, side="left"))
    last = int(numpy.searchsorted(all_times, end, side="right"))
    times = all_times[first:last]
    stage = numpy.asarray(timeline.column("stage"))[first:last]
    count = timeline.cycle.stage_count
    rows = min(1 + count / 12, 2.2)  # the height of the stage rows, against 1.3 for each other panel
    figure, (stages, codes, spans) = pyplot.subplots(
        3, 1, sharex=True, figsize=(10, 5.4 + 1.5 * rows), gridspec_kw={"height_ratios": [rows, 1.3, 1.3]}
    )
    row_height = stages.get_position().height * figure.get_figheight() * 72 / max(count, 1)  # points

    if len(times):
        changes = numpy.flatnonzero(numpy.diff(stage)) + 1
        starts_at: Any = numpy.concatenate(([0], changes))  # type: ignore[arg-type]
        starts = times[starts_at]
        widths = numpy.append(times[changes], times[-1]) - starts
        for value in numpy.unique(stage[starts_at]):
            held = stage[starts_at] == value
            stages.broken_barh(
                list(zip(starts[held], widths[held])), (value - 0.4, 0.8), label=f"stage {value:g}",
                facecolor=stage_colours[int(value - 1) % len(stage_colours) if value >= 1 else 0],
                edgecolor="#555555", linewidth=0.6 if row_height >= 8 else 0,
            )
    ticks = range(1, count + 1, max(1, -(-13 // max(int(row_height), 1))))  # names 13 points apart at least
    names = timeline.cycle.names
    stages.set_yticks(list(ticks), [f"{k} {_label(names[k - 1], 20)}".rstrip() if k <= len(names) else str(k)
                                    for k in ticks])
    stages.set_ylim(0.5, max(count, 1) + 0.5)
    stages.set_ylabel("stage")
    _draw_links(stages, chart["links"])

    scaled = matplotlib.rcParams["lines.scale_dashes"]

    def dashes(dash: str, width: float) -> Optional[tuple[float, ...]]:
        """An SVG dash pattern in points, as Matplotlib draws it at `width`."""
        return tuple(float(d) / (width if scaled else 1) for d in dash.split(",")) if dash else None

    for axes, name in ((codes, "actionCode"), (spans, "delayForCode1"), (spans, "delayForCode2")):
        colour, dash = series[name]
        pattern = dashes(dash, _LINE_WIDTH)
        values = numpy.asarray(timeline.column(name))[first:last]
        axes.step(times, values, where="post", label=name, color=colour,
                  linestyle="-" if pattern is None else (0, pattern), linewidth=_LINE_WIDTH)
    codes.set_ylabel("action code")
    codes.set_yticks([-2, -1, 0, 1, 2])
    codes.set_ylim(-2.5, 2.5)
    in_unit = f" ({_label(unit)})" if unit else ""
    spans.set_ylabel("span" + in_unit)
    spans.set_xlabel("time" + in_unit)
    spans.set_xlim(begin, end)
    spans.legend(loc="lower right", bbox_to_anchor=(1.0, 1.0), ncol=2, frameon=False, fontsize="small")

    most = int(chart["maxMarks"])  # of one kind; none when there are more
    cycle_starts = [time for time in timeline._cycle_starts if begin <= time <= end]
    changes_shown = [(s, changed) for s, changed in zip(timeline.schedules[1:], timeline._changed[1:])
                     if begin <= s.time <= end]
    marks = chart["marks"]
    drifts = [drift["time"] for drift in timeline._drifts if begin <= drift["time"] <= end]
    for axes in (stages, codes, spans):
        for times_marked, kind, width in ((cycle_starts, "cycleStart", 1.0),
                                          ([s.time for s, _ in changes_shown], "schedule", 1.2),
                                          (drifts, "linkDrift", 1.2)):
            if len(times_marked) <= most:
                axes.vlines(times_marked, 0, 1, transform=axes.get_xaxis_transform(), colors=marks[kind]["colour"],
                            linestyles=[(0, dashes(marks[kind]["dash"], width))], linewidth=width)
        axes.grid(axis="y", color=_GRID)
        axes.set_axisbelow(True)  # the grid behind the stages' boxes
    for schedule, changed in changes_shown[:_NAMED_CHANGES]:
        stages.annotate(_changed(changed), (schedule.time, 1.0), xycoords=("data", "axes fraction"),
                        xytext=(2, 2), textcoords="offset points", fontsize="x-small",
                        color=marks["schedule"]["colour"])

    lines = [f"{_label(chart['title'], 100)}, {' and '.join(chart['procedures'])}"]
    said = [f"at {s.time:g}: {_changed(changed)}" for s, changed in zip(timeline.schedules[1:], timeline._changed[1:])]
    if said:
        more = f" … ({len(said)} changes)" if len(said) > 3 else ""
        lines.append(textwrap.fill(_label("durations changed " + "; ".join(said[:3]) + more, 300), 110))
    links = [link["label"] + (" (negative)" if link["negative"] else "") for link in chart["links"]]
    if links:
        lines.append(textwrap.fill("links: " + ", ".join(links), 110))
    if note:
        lines.append(textwrap.fill(_label(note, 300), 110))
    stages.set_title("\n".join(lines), loc="left", fontsize="medium", pad=14 if changes_shown else 6)
    figure.tight_layout()
    if path is not None:
        figure.savefig(path)
        pyplot.close(figure)
    return figure
