"""Cycle.beds(): the cycle as N beds run it, shifted in time one behind the
other, as su55if-host reports it (check --beds N --format json, docs/host.md
"Beds"), and its picture with Matplotlib. The offsets, the shifts, the grid
and which links fit are the host's, from the library's own spans: nothing
here computes them."""

from __future__ import annotations

import math
import numbers
import textwrap
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, NamedTuple, Optional

from ._errors import SimulationTerminated
from ._files import _install_hint

if TYPE_CHECKING:
    from ._cycle import Cycle

_HOST = "su55if-host"
_SHIFT_LINE = ("#999999", (2, 3))
_LINK_LINE = "#333333"
_MISFIT = "#c0392b"


class BedStage(NamedTuple):
    """Stage `stage` of one bed, from `start` to `end` in the time of bed
    1's cycle (0 to the cycle duration)."""

    stage: int
    start: float
    end: float


class BedMeeting(NamedTuple):
    """Bed `bed` begins the link's stage at `time` (in bed 1's cycle) as bed
    `partner_bed` begins its partner stage; they run together for `duration`."""

    bed: int
    partner_bed: int
    time: float
    duration: float


class BedLink(NamedTuple):
    """A link of the cycle in the beds: `offset` is how long before `stage`
    began its `partner` last began, the span the library's timing procedure
    reports (NaN when it reports none); `shifts` the offset in shifts of the
    cycle duration over the number of beds; `whole_shifts` that number when
    the link fits the beds (None when not); `meetings` where it meets, one
    for each bed when it fits."""

    stage: int
    partner: int
    offset: float
    shifts: float
    whole_shifts: Optional[int]
    meetings: tuple[BedMeeting, ...]

    @property
    def fits(self) -> bool:
        return self.whole_shifts is not None


class BedMisfit(NamedTuple):
    """A link that does not fit the beds, and what would: `fitting_offsets`
    the offsets at which it would (one for each whole number of shifts it
    may be), `fitting_bed_counts` the numbers of beds at which every link
    of the cycle fits (empty when none)."""

    stage: int
    partner: int
    offset: float
    shifts: float
    fitting_offsets: tuple[float, ...]
    fitting_bed_counts: tuple[int, ...]


@dataclass(frozen=True)
class Beds:
    """The cycle as `count` beds run it, each `shift` (the cycle duration
    over the number of beds) behind the one before: `rows[b - 1]` is what
    bed b runs over one cycle of bed 1, in order of time (a stage across the
    cycle's end in two parts); `links` every link with its offset; `misfits`
    the links that do not fit; `fitting_bed_counts` the numbers of beds at
    which every link fits. `names[k - 1]` is stage k's name ("" for none)."""

    count: int
    cycle_duration: float
    shift: float
    rows: tuple[tuple[BedStage, ...], ...]
    links: tuple[BedLink, ...]
    misfits: tuple[BedMisfit, ...]
    fitting_bed_counts: tuple[int, ...]
    names: tuple[str, ...]
    cycle_name: str = ""
    _colours: tuple[str, ...] = field(default=(), compare=False, repr=False)

    @property
    def fits(self) -> bool:
        """Whether every link fits the beds."""
        return not self.misfits

    def plot(self, path: Any = None, *, time_unit: Optional[str] = None) -> Any:
        """Draws the beds with Matplotlib and returns the Figure (saved to
        `path` when given): one row per bed over one cycle, each stage a box
        in its colour with its number (and its name where it fits), a dotted
        line at each shift, each linked pair joined where its two beds run
        it together, a link that does not fit outlined in red dashes with
        the reason under the title; a legend names every stage. time_unit
        labels the times."""
        return _plot(self, path, time_unit)


def _number(value: Any) -> float:
    """A number of the report: null (a value that is not finite) is NaN."""
    if value is None:
        return math.nan
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{value!r} is not a number")
    return float(value)


def _whole(value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{value!r} is not a whole number")
    return value


def bed_count(beds: Any) -> str:
    """The number of beds as the host takes it; the host checks its range."""
    if isinstance(beds, bool) or not isinstance(beds, numbers.Integral):
        raise TypeError(f"the number of beds must be a whole number, not {type(beds).__name__}")
    return str(int(beds))


def _runnable(report: dict[str, Any]) -> None:
    """Raises SimulationTerminated when the library rejected the cycle."""
    if report.get("runnable") is False:
        raise SimulationTerminated(_HOST, [str(line) for line in report.get("records", ())],
                                   [str(line) for line in report.get("explanation", ())])


def fitting_bed_counts(report: dict[str, Any]) -> tuple[int, ...]:
    """The numbers of beds at which every link fits, from a report of `check
    --format json`; raises as beds_from_report()."""
    _runnable(report)
    try:
        return tuple(_whole(n) for n in report["fittingBedCounts"])
    except (KeyError, TypeError) as error:
        raise RuntimeError(f"{_HOST}: check --format json gave no usable bed counts ({error})") from None


def beds_from_report(report: dict[str, Any], cycle_name: str) -> Beds:
    """The Beds of a report of `check --beds N --format json`. Raises
    SimulationTerminated when the library rejected the cycle, RuntimeError
    for a report without beds."""
    _runnable(report)
    try:
        beds = report["beds"]
        rows = tuple(
            tuple(BedStage(_whole(s["stage"]), _number(s["from"]), _number(s["to"])) for s in row)
            for row in beds["rows"]
        )
        links = tuple(
            BedLink(
                _whole(link["stage"]), _whole(link["partner"]), _number(link["offset"]), _number(link["shifts"]),
                None if link["wholeShifts"] is None else _whole(link["wholeShifts"]),
                tuple(BedMeeting(_whole(m["bed"]), _whole(m["partnerBed"]), _number(m["time"]),
                                 _number(m["duration"])) for m in link["meetings"]),
            )
            for link in beds["links"]
        )
        misfits = tuple(
            BedMisfit(
                _whole(m["stage"]), _whole(m["partner"]), _number(m["offset"]), _number(m["shifts"]),
                tuple(_number(x) for x in m["fittingOffsets"]), tuple(_whole(n) for n in m["fittingBedCounts"]),
            )
            for m in beds["misfits"]
        )
        return Beds(
            _whole(beds["count"]), _number(beds["cycleDuration"]), _number(beds["shift"]), rows, links, misfits,
            fitting_bed_counts(report),
            tuple(str(stage["name"]) for stage in report["stages"]), cycle_name,
            tuple(str(colour) for colour in report["chart"]["stageColours"]),
        )
    except (KeyError, TypeError, ValueError) as error:
        raise RuntimeError(f"{_HOST}: check --beds --format json gave no usable report of the beds ({error})") from None


# --- the picture -----------------------------------------------------------------------------


def _label(text: str) -> str:
    """Text for Matplotlib as it is: "$" taken literally."""
    return text.replace("$", r"\$")


def _stage(beds: Beds, stage: int) -> str:
    name = beds.names[stage - 1] if 0 < stage <= len(beds.names) else ""
    return f"stage {stage} ({name})" if name else f"stage {stage}"


def _amount(value: float, unit: str) -> str:
    return f"{value:g} {unit}".rstrip()


def _misfit_text(beds: Beds, misfit: BedMisfit, unit: str) -> str:
    """Why a link does not fit and what would, in words."""
    fitting = " or ".join(_amount(offset, unit) for offset in misfit.fitting_offsets)
    counts = ", ".join(map(str, misfit.fitting_bed_counts)) or "none"
    return (f"{_stage(beds, misfit.stage).capitalize()} and its partner {_stage(beds, misfit.partner)} do not fit "
            f"{beds.count} beds: the partner began {_amount(misfit.offset, unit)} before, {misfit.shifts:g} shifts "
            f"of {_amount(beds.shift, unit)}; it would fit beginning {fitting} before. "
            f"Bed counts every link fits: {counts}.")


def _plot(beds: Beds, path: Any, time_unit: Optional[str]) -> Any:
    try:
        import matplotlib.pyplot as pyplot
        from matplotlib.patches import Patch
    except ImportError:
        raise ImportError(f"Beds.plot needs Matplotlib ({_install_hint('matplotlib')})") from None
    unit = time_unit or ""
    count, total = beds.count, beds.cycle_duration
    colours = beds._colours or ("#dddddd",)
    misfit_stages = {s for m in beds.misfits for s in (m.stage, m.partner)}
    grid_height, key_height = 1.5 + 0.55 * count, 0.1 + 0.2 * math.ceil(len(beds.names) / 3)  # inches
    figure, (axes, key) = pyplot.subplots(2, 1, figsize=(12, grid_height + key_height),
                                          gridspec_kw={"height_ratios": [grid_height, key_height]})
    width_points = axes.get_position().width * figure.get_figwidth() * 72

    def row(bed: int) -> int:  # bed 1 at the top
        return count - bed

    for bed, stages in enumerate(beds.rows, 1):
        for part in stages:
            unfit = part.stage in misfit_stages
            axes.broken_barh([(part.start, part.end - part.start)], (row(bed) - 0.35, 0.7),
                             facecolor=colours[(part.stage - 1) % len(colours)],
                             edgecolor=_MISFIT if unfit else "#555555", linewidth=1.6 if unfit else 0.6,
                             linestyle="--" if unfit else "-", zorder=2)
            room = (part.end - part.start) / total * width_points  # points across the box
            name = beds.names[part.stage - 1] if 0 < part.stage <= len(beds.names) else ""
            text = f"{part.stage} {name}" if name and len(f"{part.stage} {name}") * 5 < room else str(part.stage)
            if len(text) * 5 < room:
                axes.text((part.start + part.end) / 2, row(bed), _label(text), ha="center", va="center",
                          fontsize=7.5, zorder=4, clip_on=True)
    colour, dashes = _SHIFT_LINE
    axes.vlines([k * beds.shift for k in range(1, count)], -0.5, count - 0.5, colors=colour,
                linestyles=[(0, dashes)], linewidth=1, zorder=1)
    for link in beds.links:
        for meeting in link.meetings:
            # Early in the meeting, clear of the stage number in the middle of the box.
            at = math.fmod(meeting.time + min(meeting.duration / 5, total / 100), total) if total > 0 else meeting.time
            axes.plot([at, at], [row(meeting.bed), row(meeting.partner_bed)], color=_LINK_LINE,
                      linewidth=1.2, marker="o", markersize=4, zorder=3)

    axes.set_yticks(range(count), [f"bed {count - r}" for r in range(count)])
    axes.set_ylim(-0.6, count - 0.4)
    axes.set_xlim(0, total)
    axes.set_xlabel("time in the cycle of bed 1" + (f" ({_label(unit)})" if unit else ""))
    title = (f"{_label(beds.cycle_name)}: {count} beds, each {_label(_amount(beds.shift, unit))} behind the one "
             f"before (cycle {_label(_amount(total, unit))})").lstrip(": ")
    joined = [f"{link.stage}–{link.partner} {link.whole_shifts} shift{'s' if link.whole_shifts != 1 else ''}"
              for link in beds.links if link.fits]
    if joined:
        title += "\n" + textwrap.fill("linked stages joined where they meet: " + ", ".join(joined), 130)
    for misfit in beds.misfits:
        title += "\n" + textwrap.fill(_label(_misfit_text(beds, misfit, unit)), 130)
    axes.set_title(title, loc="left", fontsize="medium", color="black")
    handles = [Patch(facecolor=colours[(k - 1) % len(colours)], edgecolor="#555555",
                     label=_label(f"{k} {name}".rstrip())) for k, name in enumerate(beds.names, 1)]
    key.axis("off")
    key.legend(handles=handles, loc="upper left", ncol=3, frameon=False, fontsize="small", borderaxespad=0)
    figure.tight_layout()
    if path is not None:
        figure.savefig(path)
        pyplot.close(figure)
    return figure


for _public in (Beds, BedStage, BedLink, BedMeeting, BedMisfit):
    _public.__module__ = "su55if"
