"""Cycle files and cycle runs, through su55if-host: read_cycle() runs
`su55if-host check --format json`, Cycle.run() runs `su55if-host run
--format binary` and reads its samples as they stream (docs/host.md)."""

from __future__ import annotations

import contextlib
import json
import numbers
import os
import stat
import subprocess
import tempfile
from collections.abc import Iterator
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Optional, overload

from ._beds import Beds, bed_count, beds_from_report, fitting_bed_counts
from ._errors import CycleFileError
from ._host import _failure, _library_options, _library_path, _run, find_host
from ._timeline import Timeline


def _number(value: Any, what: str) -> str:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a real number, not {type(value).__name__}")
    try:
        return repr(float(value))
    except OverflowError:
        raise ValueError(f"{what} is too large for a double") from None


def _plain_file_name(name: Any) -> bool:
    try:
        length = len(os.fsencode(name))
    except (TypeError, UnicodeError):
        return False
    return 0 < length <= 255 and name not in (".", "..") and os.path.basename(name) == name and "\0" not in name


def _quoted_name(name: Any, stage: int) -> str:
    if not isinstance(name, str):
        raise TypeError(f"the name of stage {stage} must be a str, not {type(name).__name__}")
    if "\n" in name or "\0" in name:
        raise ValueError(f"the name of stage {stage} holds a line break or NUL, which a cycle file cannot hold")
    return '"' + name.replace('"', '""') + '"'


def _cycle_text(cycle: Cycle) -> bytes:
    """The cycle as a cycle file; the host checks what it holds."""
    count = len(cycle.durations)
    if len(cycle.partners) != count or len(cycle.names) not in (0, count):
        raise ValueError(
            f"{cycle.name}: {count} durations, {len(cycle.partners)} partners and {len(cycle.names)} names: "
            "there must be as many partners as durations, and as many names or none"
        )
    names = cycle.names or ("",) * count
    rows = ["stage,duration,partner,name"]
    for stage, (duration, partner, name) in enumerate(zip(cycle.durations, cycle.partners, names), 1):
        rows.append(
            f"{stage},{_number(duration, f'the duration of stage {stage}')},"
            f"{_number(partner, f'the partner of stage {stage}')},{_quoted_name(name, stage)}"
        )
    return ("\n".join(rows) + "\n").encode("utf-8", "surrogateescape")


def _signature(path: Any) -> Optional[tuple[int, ...]]:
    """What tells a regular file from its later versions; None for anything else."""
    try:
        status = os.stat(path)
    except (OSError, ValueError):
        return None
    if not stat.S_ISREG(status.st_mode):
        return None
    return (status.st_dev, status.st_ino, status.st_size, status.st_mtime_ns)


def _absolute(path: Any) -> Optional[str]:
    return None if path is None else os.path.abspath(os.fspath(path))


@contextlib.contextmanager
def _temporary_file(name: Any, content: bytes) -> Iterator[tuple[Optional[str], str]]:
    """(folder, file name): `content` in a fresh temporary folder under
    `name`, when that is a plain file name, else cycle.csv; the folder is
    removed afterwards."""
    name = name if _plain_file_name(name) else "cycle.csv"
    with tempfile.TemporaryDirectory(prefix="su55if-") as folder:
        with open(os.path.join(folder, name), "wb") as file:
            file.write(content)
        yield folder, name


@contextlib.contextmanager
def _cycle_file(cycle: Cycle) -> Iterator[tuple[Optional[str], Any]]:
    """(folder to run the host in or None, cycle file to name): the file
    read_cycle() read, when this is the Cycle it returned and the file is
    unchanged, else the cycle written to a temporary file."""
    source = cycle._source
    if source is not None and _signature(source[0]) == source[1]:
        yield None, source[0]
    else:
        with _temporary_file(cycle.name, _cycle_text(cycle)) as place:
            yield place


def _check(host: Any, library: Any, folder: Optional[str], path: Any, *check: str) -> dict[str, Any]:
    """The report of `su55if-host check --format json` on a cycle file,
    with the further options `check`.
    A host that cannot use the file (exit code 2) raises CycleFileError
    when its message names the file, else as _failure() says."""
    host = find_host(host, library=_library_path(library))
    options = _library_options(library, absolute=folder is not None)
    command = [host, "-q", *options, "check", "--format", "json", *check, "--", path]
    answer = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, check=False)
    if answer.returncode not in (0, 1):
        error = _failure(host, answer.returncode, answer.stderr.decode("utf-8", "backslashreplace"))
        if type(error) is ValueError and os.fsdecode(path) in str(error):
            raise CycleFileError(str(error))
        raise error
    try:
        report = json.loads(answer.stdout)
        for stage in report["stages"]:
            float(stage["duration"]), int(stage["partner"]), str(stage["name"])
        for link in report["links"]:
            int(link["stage"]), int(link["partner"]), str(link["kind"]), str(link["partnerKind"])
        return report  # type: ignore[no-any-return]
    except (ValueError, KeyError, TypeError) as error:
        raise RuntimeError(f"{host}: check --format json gave no usable report ({error})") from None


def _from_report(name: str, report: dict[str, Any]) -> Cycle:
    stages = report["stages"]
    cycle = Cycle(
        name,
        tuple(float(stage["duration"]) for stage in stages),
        tuple(int(stage["partner"]) for stage in stages),
        tuple(str(stage["name"]) for stage in stages),
    )
    object.__setattr__(cycle, "_report", report)
    duration = report.get("cycleDuration")
    if isinstance(duration, (int, float)) and not isinstance(duration, bool):
        object.__setattr__(cycle, "cycle_duration", float(duration))
    return cycle


def read_cycle(path: Any, *, library: Any = None, host: Any = None) -> Cycle:
    """Reads a cycle file with su55if-host (`check --format json`).

    Raises CycleFileError, with the host's message (FILE:LINE:COLUMN: ...),
    when the file cannot be read or does not hold a cycle that can be run.
    A cycle whose interaction table the library rejects is still read;
    running it raises SimulationTerminated. library= and host= as for
    Cycle.run()."""
    path = os.fspath(path)
    before = _signature(path)
    cycle = _from_report(os.fsdecode(path), _check(host, library, None, path))
    if before is not None and _signature(path) == before:
        object.__setattr__(cycle, "_source", (path, before))
    return cycle


def parse_cycle(text: Any, name: str, *, library: Any = None, host: Any = None) -> Cycle:
    """A cycle from the text of a cycle file (str or bytes), read by
    su55if-host as a file called `name` (when that is a plain file name;
    else cycle.csv), so that its messages name it."""
    if isinstance(text, str):
        text = text.encode("utf-8", "surrogateescape")
    elif isinstance(text, (bytes, bytearray, memoryview)):
        text = bytes(text)
    else:
        raise TypeError(f"the text of a cycle file must be str or bytes, not {type(text).__name__}")
    if not isinstance(name, str):
        raise TypeError(f"name must be a str, not {type(name).__name__}")
    with _temporary_file(name, text) as (folder, file_name):
        return _from_report(name, _check(host, library, folder, file_name))


@dataclass(frozen=True)
class Cycle:
    """A cycle: stage k has durations[k-1], the interaction-table entry
    partners[k-1] (signed stage number of its partner, 0 for none) and the
    name names[k-1] ("" when the file names none).

    cycle_duration is the cycle duration SU55IF_DEFST reported when the
    cycle was read (None for a Cycle made otherwise)."""

    name: str
    durations: tuple[float, ...]
    partners: tuple[int, ...]
    names: tuple[str, ...] = ()  # stage k's name in element k - 1, "" when not named
    cycle_duration: Optional[float] = field(default=None, init=False, compare=False)
    # The file read_cycle() read and its signature then: a run reads that
    # file while it is unchanged. dataclasses.replace() drops it.
    _source: Optional[tuple[Any, ...]] = field(default=None, init=False, compare=False, repr=False)
    # The host's report on the cycle (check --format json): its links and
    # the chart's colours. dataclasses.replace() drops it.
    _report: Optional[dict[str, Any]] = field(default=None, init=False, compare=False, repr=False)

    @property
    def stage_count(self) -> int:
        return len(self.durations)

    def run(
        self,
        stop_time: Optional[float] = None,
        output_interval: Optional[float] = None,
        *,
        input_file: Any = None,
        events: Any = None,
        chart: Any = None,
        twin: bool = False,
        time_unit: Optional[str] = None,
        library: Any = None,
        host: Any = None,
    ) -> Timeline:
        """Runs the cycle with `su55if-host run` and returns its Timeline.

        stop_time (default: two cycles) and output_interval (default: 1/20
        of the shortest stage) are numbers; input_file (timed inputs),
        events (duration changes) and chart (an SVG file to write) are
        paths; twin runs SU55IF_IINTTIM and SU55IF_IACTYP; time_unit labels
        times and durations (the chart's, the Timeline's plot()). library: a
        Library or a path (default: the one su55if.load() would load); host:
        the su55if-host to run (default: find_host()).

        The cycle file run is the one read_cycle() read, if this is the
        Cycle it returned and the file has not changed since; else the
        cycle is written to a temporary cycle file.

        Raises SimulationTerminated when the library stops the run,
        CycleFileError for a cycle, input or events file the host cannot
        use, ValueError for settings it refuses (the messages are the
        host's), TypeError for a setting that is not a number.
        """
        options: list[str] = []
        for option, value, what in (
            ("--stop-time", stop_time, "stop_time"),
            ("--output-interval", output_interval, "output_interval"),
        ):
            if value is not None:
                options += [option, _number(value, what)]
        if twin:
            options.append("--twin")
        if time_unit is not None:
            if not isinstance(time_unit, str):
                raise TypeError(f"time_unit must be a str, not {type(time_unit).__name__}")
            options.append("--time-unit=" + time_unit)  # one argument, whatever it starts with
        host = find_host(host, library=_library_path(library))
        with _cycle_file(self) as (folder, path):
            for option, value in (("--input-file", input_file), ("--events", events), ("--chart", chart)):
                if value is not None:
                    options += [option, _absolute(value) if folder is not None else os.fspath(value)]
            library_options = _library_options(library, absolute=folder is not None)
            command = [host, "-q", *library_options, "run", "--format", "binary", *options, "--", path]
            timeline = Timeline(self, stop_time, output_interval, twin, library, host, time_unit)
            _run(command, folder, host, timeline._read, stacklevel=2)
            return timeline

    @overload
    def beds(self, count: None = None, *, library: Any = None, host: Any = None) -> tuple[int, ...]: ...
    @overload
    def beds(self, count: int, *, library: Any = None, host: Any = None) -> Beds: ...

    def beds(self, count: Optional[int] = None, *, library: Any = None, host: Any = None) -> Any:
        """The cycle as `count` beds run it (su55if-host check --beds N):
        each bed's stages over one cycle, every link's offset (the library's
        span) in time and in shifts, and the links that do not fit. Without
        `count`, the numbers of beds at which every link fits.

        Raises SimulationTerminated when the library rejects the cycle,
        ValueError for a number of beds the host refuses (2 to 100)."""
        if count is None:
            return fitting_bed_counts(self.report(library=library, host=host))
        beds = bed_count(count)
        with _cycle_file(self) as (folder, path):
            try:
                report = _check(host, library, folder, path, "--beds=" + beds)
            except ValueError as error:  # the host's words for its option: say them in Python's
                if type(error) is not ValueError or not str(error).startswith(f"--beds {beds}:"):
                    raise
                raise ValueError(f"beds({beds}):" + str(error)[len(f"--beds {beds}:"):]) from None
        return beds_from_report(report, self.name)

    def plot(self, path: Any = None, *, beds: int, time_unit: Optional[str] = None, library: Any = None,
             host: Any = None) -> Any:
        """Draws the cycle as `beds` beds run it (Beds.plot()) and returns
        the Matplotlib Figure, saved to `path` when given."""
        return self.beds(beds, library=library, host=host).plot(path, time_unit=time_unit)

    def report(self, *, library: Any = None, host: Any = None) -> dict[str, Any]:
        """The host's report on this cycle (check --format json): its links,
        the cycle duration, the chart's colours. Asked once."""
        if self._report is None:
            with _cycle_file(self) as (folder, path):
                object.__setattr__(self, "_report", _check(host, library, folder, path))
        assert self._report is not None
        return self._report


for _public in (Cycle,):
    _public.__module__ = "su55if"
