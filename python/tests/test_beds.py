"""Cycle.beds(): the host's report of the beds, field for field, and its picture."""

import dataclasses
import json
import math

import pytest

import su55if
from test_cycle import EXAMPLES_DIR, run_host, same_host  # noqa: F401  (same_host: the package runs `host`)


def as_report(beds: su55if.Beds) -> dict:
    """Beds in the shape of the host's JSON "beds" object."""
    number = lambda x: None if math.isnan(x) else x  # noqa: E731
    return {
        "count": beds.count, "cycleDuration": beds.cycle_duration, "shift": beds.shift,
        "rows": [[{"stage": s.stage, "from": s.start, "to": s.end} for s in row] for row in beds.rows],
        "links": [{"stage": k.stage, "partner": k.partner, "offset": number(k.offset), "shifts": number(k.shifts),
                   "fits": k.fits, "wholeShifts": k.whole_shifts,
                   "meetings": [{"bed": m.bed, "partnerBed": m.partner_bed, "time": m.time, "duration": m.duration}
                                for m in k.meetings]} for k in beds.links],
        "misfits": [{"kind": "link does not fit the beds", "stage": m.stage, "partner": m.partner,
                     "offset": m.offset, "shifts": m.shifts, "fittingOffsets": list(m.fitting_offsets),
                     "fittingBedCounts": list(m.fitting_bed_counts)} for m in beds.misfits],
    }


@pytest.mark.parametrize("example, count, copy", [
    ("four-bed.csv", 4, False),
    ("four-bed.csv", 4, True),  # a Cycle not read from a file: written to a temporary one
    ("four-bed.csv", 3, False),
    ("three-bed-misfit.csv", 3, False),
    ("two-bed-equalisation.csv", 2, False),
    ("four-stage.csv", 100, False),
])
def test_beds_are_the_hosts(host, example, count, copy):
    path = EXAMPLES_DIR / example
    answer = run_host(host, "check", path, "--beds", count, "--format", "json")
    assert answer.returncode in (0, 1), answer.stderr
    report = json.loads(answer.stdout)
    cycle = su55if.read_cycle(path)
    cycle = dataclasses.replace(cycle) if copy else cycle
    beds = cycle.beds(count)
    assert as_report(beds) == report["beds"]
    assert beds.fitting_bed_counts == cycle.beds() == tuple(report["fittingBedCounts"])
    assert beds.fits == (answer.returncode == 0) and beds.names == cycle.names


def test_offsets_of_the_four_bed_example():
    beds = su55if.read_cycle(EXAMPLES_DIR / "four-bed.csv").beds(4)
    assert [(k.stage, k.partner, k.offset, k.whole_shifts) for k in beds.links] == [
        (3, 13, 120.0, 1), (4, 11, 240.0, 2), (5, 8, 360.0, 3), (6, 9, 360.0, 3)]


@pytest.mark.parametrize("example, count, error, match", [
    ("four-bed.csv", 1, ValueError, r"^beds: the number of beds, a whole number from 2 to 100$"),
    ("four-bed.csv", 4.0, TypeError, "whole number"),
    ("four-bed.csv", True, TypeError, "whole number"),
    ("faulty.csv", 3, su55if.SimulationTerminated, "invalid time match"),
    ("faulty.csv", None, su55if.SimulationTerminated, "invalid time match"),
])
def test_beds_refused(example, count, error, match):
    with pytest.raises(error, match=match):
        su55if.read_cycle(EXAMPLES_DIR / example).beds(count)


@pytest.mark.parametrize("example, count", [("four-bed.csv", 4), ("three-bed-misfit.csv", 3)])
def test_plot_of_the_beds(tmp_path, example, count):
    pytest.importorskip("matplotlib")
    cycle = su55if.read_cycle(EXAMPLES_DIR / example)
    beds = cycle.beds(count)
    figure = cycle.plot(tmp_path / "beds.png", beds=count, time_unit="s")
    assert (tmp_path / "beds.png").stat().st_size > 0
    axes = figure.axes[0]
    assert [label.get_text() for label in axes.get_yticklabels()] == [f"bed {b}" for b in range(count, 0, -1)]
    assert [text.get_text() for text in figure.axes[1].get_legend().get_texts()] == [
        f"{k} {name}" for k, name in enumerate(cycle.names, 1)]
    joins = [line.get_xydata().tolist() for line in axes.lines]  # each meeting joins its two beds' rows
    assert len(joins) == sum(len(link.meetings) for link in beds.links)
    assert ("do not fit 3 beds" in axes.get_title(loc="left")) == bool(beds.misfits)
