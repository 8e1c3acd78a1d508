"""Timeline.plot(): the run drawn with Matplotlib as the host's chart draws
it, in the colours the host gives (check --format json, "chart"), over the
part of the run the host's chart shows by default, or another."""

from __future__ import annotations

import math
import textwrap
from typing import TYPE_CHECKING, Any, Optional

from ._files import _install_hint

if TYPE_CHECKING:
    from ._timeline import Timeline

_LINE_WIDTH = 1.8  # as the chart's lines
_MAX_MARKS = 200  # cycle starts marked; none when there are more
_CYCLE_START = ("#999999", (2, 3))
_SCHEDULE = "#b9770e"
_GRID = "#dddddd"


def _label(text: str, width: int = 80) -> str:
    """Text for Matplotlib as it is: "$" taken literally, cut to `width` characters."""
    text = text if len(text) <= width else text[: width - 1] + "…"
    return text.replace("$", r"\$")


def _links(report: dict[str, Any]) -> list[str]:
    """The interaction links as the host reports them: "1↔3" for two stages
    whose entries name each other with the same sign, "2→5" for any other."""
    links = []
    for link in report.get("links", ()):
        both = link["mutual"] and link["kind"] == link["partnerKind"]
        negative = " (negative)" if link["kind"] == "negative" else ""
        links.append(f"{link['stage']}{'↔' if both else '→'}{link['partner']}{negative}")
    return links


def _window(timeline: Timeline, start: Optional[float], stop: Optional[float],
            cycles: Optional[float]) -> tuple[float, float, str]:
    """The part of the run to draw, and a note saying which when it is not all."""
    times = timeline.column("time")
    last = times[-1] if len(times) else 0.0
    if cycles is not None:
        first = timeline.schedules[0].cycle_duration if timeline.schedules else 0.0
        start, stop = start or 0.0, (start or 0.0) + cycles * first
    if start is None and stop is None:
        window = timeline.chart_window
        note = str(window.get("note") or "")
        if note:  # the host's own words, with its own options: say how to choose here
            note = note.replace("--chart-from and --chart-to", "plot(start=, stop=)")
        return float(window.get("from", 0.0)), float(window.get("to", last)), note
    start, stop = 0.0 if start is None else float(start), last if stop is None else float(stop)
    if not start < stop:
        raise ValueError(f"plot(): start {start} must be before stop {stop}")
    return start, stop, f"Charted from time {start:g} to {stop:g} of a run to {last:g}."


def plot_timeline(timeline: Timeline, path: Any = None, *, start: Optional[float] = None,
                  stop: Optional[float] = None, cycles: Optional[float] = None,
                  time_unit: Optional[str] = None) -> Any:
    """Draws the stage in force as a box on the row of each stage (named as
    the cycle names it), the action code and the two spans, a dotted line
    where stage 1 comes back and a line where a schedule takes effect, each
    schedule's cycle duration in the title, the cycle's links. By default
    the part of the run the host's chart shows (the first 10 cycles of a
    long run, with a note); start= and stop= (times) or cycles= (from start)
    choose another. time_unit labels the times (default: the one given to
    run())."""
    try:
        import matplotlib
        import matplotlib.pyplot as pyplot
        import numpy
    except ImportError:
        raise ImportError(f"Timeline.plot needs Matplotlib ({_install_hint('matplotlib')})") from None
    report = timeline.cycle.report(library=timeline._library, host=timeline._host)
    style = report["chart"]
    stage_colours = list(style["stageColours"])
    series = {entry["name"]: (entry["colour"], entry["dash"]) for entry in style["series"]}
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
    ticks = range(1, count + 1, max(1, math.ceil(13 / row_height)))  # names 13 points apart at least
    names = timeline.cycle.names
    stages.set_yticks(list(ticks), [f"{k} {_label(names[k - 1], 20)}".rstrip() if k <= len(names) else str(k)
                                    for k in ticks])
    stages.set_ylim(0.5, max(count, 1) + 0.5)
    stages.set_ylabel("stage")

    scaled = matplotlib.rcParams["lines.scale_dashes"]
    for axes, name in ((codes, "actionCode"), (spans, "delayForCode1"), (spans, "delayForCode2")):
        colour, dash = series[name]
        pattern = tuple(float(d) / (_LINE_WIDTH if scaled else 1) for d in dash.split(",")) if dash else None
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

    cycle_starts = times[1:][(stage[1:] == 1) & (stage[:-1] != 1)]
    changes_shown = [s for s in timeline.schedules[1:] if begin <= s.time <= end]
    for axes in (stages, codes, spans):
        if len(cycle_starts) <= _MAX_MARKS:
            colour, dashes = _CYCLE_START
            axes.vlines(cycle_starts, 0, 1, transform=axes.get_xaxis_transform(), colors=colour,
                        linestyles=[(0, dashes)], linewidth=1)
        if len(changes_shown) <= _MAX_MARKS:
            axes.vlines([s.time for s in changes_shown], 0, 1, transform=axes.get_xaxis_transform(),
                        colors=_SCHEDULE, linestyles=[(0, (7, 4))], linewidth=1.2)
        axes.grid(axis="y", color=_GRID)
        axes.set_axisbelow(True)  # the grid behind the stages' boxes
    for change in changes_shown[:12]:
        stages.annotate(f"cycle {change.cycle_duration:g}", (change.time, 1.0), xycoords=("data", "axes fraction"),
                        xytext=(2, 2), textcoords="offset points", fontsize="x-small", color=_SCHEDULE)

    procedures = "SU55IF_IINTTIM and SU55IF_IACTYP" if timeline.twin else "SU55IF_INTTIM and SU55IF_ACTYP"
    durations = [f"{s.cycle_duration:g}" for s in timeline.schedules]
    if len(durations) > 4:
        durations = durations[:3] + [f"… ({len(durations)} schedules)"]
    duration = ""
    if durations:
        duration = f"cycle of {' then '.join(durations)} {_label(unit or '')}".rstrip() + ", "
    title = f"{_label(timeline.cycle.name)}: {duration}{procedures}"
    links = _links(report)
    if links:
        title += "\n" + textwrap.fill("links: " + ", ".join(links), 110)
    if note:
        title += "\n" + textwrap.fill(_label(note, 300), 110)
    stages.set_title(title, loc="left", fontsize="medium")
    figure.tight_layout()
    if path is not None:
        figure.savefig(path)
        pyplot.close(figure)
    return figure
