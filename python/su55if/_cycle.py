"""Cycle files and cycle runs, through su55if-host: read_cycle() runs
`su55if-host check --format json`, Cycle.run() runs `su55if-host run
--format binary` and reads its samples as they stream, Cycle.save() runs
`su55if-host write-cycle` (docs/host.md). A Cycle made from lists goes to
the host as rows (`--rows -`); its faults come back as records, told in
the Cycle's own argument names."""

from __future__ import annotations

import contextlib
import functools
import json
import math
import numbers
import os
import stat
import subprocess
import tempfile
import warnings
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Optional, Union, cast, overload

from ._arguments import PathLike
from ._beds import Beds, bed_count, beds_from_report, fitting_bed_counts
from ._host import (MESSAGES_AS_RECORDS, Describe, _failure, _library_options, _library_path, _records_of, _run,
                    describe, find_host)
from ._memory import too_large
from ._timeline import Timeline

if TYPE_CHECKING:
    from typing import ParamSpec

    from ._library import Library

    _P = ParamSpec("_P")

# The library a run or a check uses: a Library, the path of a library file,
# or None for the one su55if.load() would load.
LibraryChoice = Union["Library", PathLike, None]


def _number(value: Any, what: str) -> str:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a real number, not {type(value).__name__}")
    try:
        return repr(float(value))
    except OverflowError:
        raise ValueError(f"{what} is too large for a double") from None


def _cell(value: Any, what: str) -> Any:
    """A value of a row for the host: a finite number as a JSON number, any
    other real as its text (the engine names what is wrong with it)."""
    text = _number(value, what)
    number = float(text)
    return number if math.isfinite(number) else text


def _rows(cycle: Cycle) -> bytes:
    """The cycle as the host's JSON rows, with the text of the file it was
    read from, if any."""
    count = len(cycle.durations)
    if len(cycle.partners) != count or len(cycle.names) not in (0, count):
        raise ValueError(
            f"{cycle.name}: {count} durations, {len(cycle.partners)} partners and {len(cycle.names)} names: "
            "there must be as many partners as durations, and as many names or none"
        )
    names = cycle.names or ("",) * count
    stages = []
    for k, (duration, partner, name) in enumerate(zip(cycle.durations, cycle.partners, names)):
        if not isinstance(name, str):
            raise TypeError(f"names[{k}] must be a str, not {type(name).__name__}")
        stages.append({"duration": _cell(duration, f"durations[{k}]"), "partner": _cell(partner, f"partners[{k}]"),
                       "name": name})
    document: dict[str, Any] = {"name": cycle.name, "stages": stages}
    if cycle.file_text is not None:
        document["text"] = cycle.file_text
    return json.dumps(document, allow_nan=False).encode("utf-8", "surrogateescape")


def _refuse_too_large(end: float, interval: float, run: str) -> None:
    """Before the host starts: samples at 0, DT, 2 DT, ... to `end`, of at
    least the time, the stage, the elapsed time and an output, refused with
    a MemoryError when they cannot fit in the memory free."""
    samples = max(end, 0.0) / interval + 1
    error = None if samples == math.inf else too_large(samples, 4, run, at_least=True)
    if error is not None:
        raise error


def _in_own_words(cycle: Cycle) -> Callable[[dict[str, Any]], str]:
    """A record about a stage of `cycle`, given as lists, in the Cycle's
    argument names: `durations[1] = -5: a duration is 0 or more`."""
    arguments = {"duration": cycle.durations, "partner": cycle.partners, "name": cycle.names}

    def said(record: dict[str, Any]) -> str:
        stage, field_name = record.get("stage"), record.get("field")
        values = arguments.get(field_name or "")
        if not stage or values is None or record.get("line") or not 0 < stage <= len(values):
            return describe(record)
        shown = repr(values[stage - 1])  # a long name by its start
        shown = shown if len(shown) <= 60 else shown[:40] + "..."
        return f"{field_name}s[{stage - 1}] = {shown}: {record.get('rule') or record['message']}"

    return said


def _signature(path: Any) -> Optional[tuple[int, ...]]:
    """What tells a regular file from its later versions; None for anything else."""
    try:
        status = os.stat(path)
    except (OSError, ValueError):
        return None
    if not stat.S_ISREG(status.st_mode):
        return None
    return (status.st_dev, status.st_ino, status.st_size, status.st_mtime_ns)


def _plain_file_name(name: Any) -> bool:
    try:
        length = len(os.fsencode(name))
    except (TypeError, UnicodeError):
        return False
    return 0 < length <= 255 and name not in (".", "..") and os.path.basename(name) == name and "\0" not in name


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


def _cycle_source(cycle: Cycle) -> tuple[list[str], Optional[bytes]]:
    """(the host's arguments for the cycle, its standard input): the file
    read_cycle() read, when this is the Cycle it returned and the file is
    unchanged, else the cycle's rows on standard input."""
    source = cycle._source
    if source is not None and _signature(source[0]) == source[1]:
        return ["--", os.fspath(source[0])], None
    return ["--rows", "--", "-"], _rows(cycle)


def _check(host: Any, library: Any, folder: Optional[str], arguments: list[str], given: Optional[bytes] = None,
           said: Describe = describe, check: Sequence[str] = ()) -> dict[str, Any]:
    """The report of `su55if-host check --format json` on a cycle file or
    rows, with the further options `check`. A host that cannot use the
    cycle raises as _failure() says."""
    host = find_host(host, library=_library_path(library))
    options = _library_options(library, absolute=folder is not None)
    command = [host, "-q", *MESSAGES_AS_RECORDS, *options, "check", "--format", "json", *check, *arguments]
    answer = subprocess.run(command, cwd=folder, input=given, stdin=None if given is not None else subprocess.DEVNULL,
                            capture_output=True, check=False)
    if answer.returncode not in (0, 1):
        records, lines = _records_of(answer.stderr)
        raise _failure(host, answer.returncode, records, lines, said)
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
    """The Cycle the host read: its stages, and the file's text as the
    engine decoded it, for save() to keep its comment lines."""
    stages = report["stages"]
    text = report.get("text")
    cycle: Cycle = Cycle(
        tuple(float(stage["duration"]) for stage in stages),
        tuple(int(stage["partner"]) for stage in stages),
        tuple(str(stage["name"]) for stage in stages),
        name=name,
        file_text=text if isinstance(text, str) else None,
    )
    object.__setattr__(cycle, "_report", report)
    duration = report.get("cycleDuration")
    if isinstance(duration, (int, float)) and not isinstance(duration, bool):
        object.__setattr__(cycle, "cycle_duration", float(duration))
    return cycle


def read_cycle(path: PathLike, *, library: LibraryChoice = None, host: Optional[PathLike] = None) -> Cycle:
    """Reads a cycle file with su55if-host (`check --format json`).

    A file that is not UTF-8 is read as Windows-1252, from its first line
    that is not: the names and file_text are then that text in Unicode, and
    the report() says so (a record of kind readAsWindows1252).

    Raises CycleFileError, with the host's message (FILE:LINE:COLUMN: ...),
    when the file cannot be read or does not hold a cycle that can be run.
    A cycle whose interaction table the library rejects is still read;
    running it raises SimulationTerminated. library= and host= as for
    Cycle.run()."""
    path = os.fspath(path)
    before = _signature(path)
    cycle = _from_report(os.fsdecode(path), _check(host, library, None, ["--", path]))
    if before is not None and _signature(path) == before:
        object.__setattr__(cycle, "_source", (path, before))
    return cycle


def parse_cycle(text: Union[str, bytes], name: str = "cycle.csv", *, library: LibraryChoice = None,
                host: Optional[PathLike] = None) -> Cycle:
    """A cycle from the text of a cycle file (str or bytes), read by
    su55if-host as a file called `name` (when that is a plain file name;
    else cycle.csv), so that its messages name it."""
    text = cast(Any, text)
    if isinstance(text, str):
        text = text.encode("utf-8", "surrogateescape")
    elif isinstance(text, (bytes, bytearray, memoryview)):
        text = bytes(text)
    else:
        raise TypeError(f"the text of a cycle file must be str or bytes, not {type(text).__name__}")
    if not isinstance(name, str):
        raise TypeError(f"name must be a str, not {type(name).__name__}")
    with _temporary_file(name, text) as (folder, file_name):
        return _from_report(name, _check(host, library, folder, ["--", file_name]))


def _earlier_form(init: Callable[_P, None]) -> Callable[_P, None]:
    """Cycle(name, durations, partners[, names]), the earlier form, still
    works, with a DeprecationWarning."""

    @functools.wraps(init)
    def __init__(self: Cycle, *args: Any, **kwargs: Any) -> None:
        if args and isinstance(args[0], str):
            warnings.warn("Cycle(name, durations, partners, names) is deprecated: "
                          "write Cycle(durations, partners, names, name=name)", DeprecationWarning, stacklevel=2)
            if len(args) > 4:
                raise TypeError("Cycle(name, durations, partners, names): too many arguments")
            for keyword, value in zip(("name", "durations", "partners", "names"), args):
                if keyword in kwargs:
                    raise TypeError(f"Cycle() got multiple values for argument {keyword!r}")
                kwargs[keyword] = value
            args = ()
        init(self, *args, **kwargs)  # type: ignore[arg-type]

    return __init__  # type: ignore[return-value]


@dataclass(frozen=True, init=False)
class Cycle:
    """A cycle: stage k has durations[k-1], the interaction-table entry
    partners[k-1] (signed stage number of its partner, 0 for none) and the
    name names[k-1] ("" when the file names none, or no names at all).
    name: what the cycle is called (read_cycle() gives the file's name).

    cycle_duration is the cycle duration SU55IF_DEFST reported when the
    cycle was read (None for a Cycle made otherwise); file_text the text of
    the cycle file it was read from, whose comment lines save() keeps."""

    durations: tuple[float, ...]
    partners: tuple[int, ...]
    names: tuple[str, ...] = ()  # stage k's name in element k - 1, "" when not named
    name: str = "cycle"
    cycle_duration: Optional[float] = field(default=None, init=False, compare=False)
    # The file read_cycle() read and its signature then: a run reads that
    # file while it is unchanged. dataclasses.replace() drops it.
    _source: Optional[tuple[Any, ...]] = field(default=None, init=False, compare=False, repr=False)
    # The host's report on the cycle (check --format json): its links and
    # the chart's colours. dataclasses.replace() drops it.
    _report: Optional[dict[str, Any]] = field(default=None, init=False, compare=False, repr=False)
    # The text of the cycle file it was read from, whose comment lines
    # save() keeps; dataclasses.replace() keeps it.
    file_text: Optional[str] = field(default=None, compare=False, repr=False, kw_only=True)

    @_earlier_form
    def __init__(self, durations: Sequence[float], partners: Sequence[int], names: Sequence[str] = (), *,
                 name: str = "cycle", file_text: Optional[str] = None) -> None:
        for field_name, value in (("durations", durations), ("partners", partners), ("names", names)):
            if isinstance(value, (str, bytes)):
                raise TypeError(f"Cycle: {field_name} must be a sequence, not {type(value).__name__}")
            object.__setattr__(self, field_name, tuple(value))
        object.__setattr__(self, "name", name)
        object.__setattr__(self, "file_text", file_text)
        for field_name in ("cycle_duration", "_source", "_report"):
            object.__setattr__(self, field_name, None)

    @property
    def stage_count(self) -> int:
        return len(self.durations)

    def run(
        self,
        stop_time: Optional[float] = None,
        output_interval: Optional[float] = None,
        *,
        cycles: Optional[int] = None,
        input_file: Optional[PathLike] = None,
        events: Optional[PathLike] = None,
        chart: Optional[PathLike] = None,
        twin: bool = False,
        time_unit: Optional[str] = None,
        library: LibraryChoice = None,
        host: Optional[PathLike] = None,
    ) -> Timeline:
        """Runs the cycle with `su55if-host run` and returns its Timeline.

        stop_time (default: two cycles) and output_interval (default: 1/20
        of the shortest stage) are numbers; cycles runs to the end of the
        Nth cycle, as the durations in force place it (instead of
        stop_time); input_file (timed inputs),
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
        if cycles is not None:
            if isinstance(cycles, bool) or not isinstance(cycles, numbers.Integral):
                raise TypeError(f"cycles must be a whole number, not {type(cycles).__name__}")
            options += ["--cycles", str(int(cycles))]
        interval = math.nan if output_interval is None else float(output_interval)
        if stop_time is not None and 0 < interval < math.inf:
            _refuse_too_large(float(stop_time), interval, f"a run to time {float(stop_time):g} every {interval:g}")
        elif cycles is not None and events is None and input_file is None and 0 < interval < math.inf:
            # No event or input changes the durations: the run ends where
            # the cycle duration places the end of the last cycle.
            duration = self.cycle_duration
            if duration is None:
                duration = self.report(library=library, host=host).get("cycleDuration")
            if isinstance(duration, float):
                end = min(int(cycles), 2**63) * duration
                _refuse_too_large(end, interval, f"a run of {int(cycles):,} cycles every {interval:g}")
        if twin:
            options.append("--twin")
        if time_unit is not None:
            if not isinstance(time_unit, str):
                raise TypeError(f"time_unit must be a str, not {type(time_unit).__name__}")
            options.append("--time-unit=" + time_unit)  # one argument, whatever it starts with
        host = find_host(host, library=_library_path(library))
        paths: tuple[tuple[str, Optional[PathLike]], ...] = (("--input-file", input_file), ("--events", events), ("--chart", chart))
        for option, path in paths:
            if path is not None:
                options += [option, os.fspath(path)]
        arguments, given = _cycle_source(self)
        command = [host, "-q", *MESSAGES_AS_RECORDS, *_library_options(library), "run", "--format", "binary",
                   *options, *arguments]
        timeline = Timeline(self, stop_time, output_interval, twin, library, host, time_unit)
        _run(command, None, host, timeline._read, stacklevel=2, given=given, describe=_in_own_words(self))
        return timeline

    def save(self, path: Any, *, library: Any = None, host: Any = None) -> None:
        """Writes the cycle as a cycle file at `path` with
        `su55if-host write-cycle`: a Cycle read from a file keeps that
        file's comment and blank lines where they were. Raises
        CycleFileError for a value that a cycle file cannot hold."""
        host = find_host(host, library=_library_path(library))
        command = [host, "-q", *MESSAGES_AS_RECORDS, "write-cycle", "--", "-", os.fspath(path)]
        answer = subprocess.run(command, input=_rows(self), capture_output=True, check=False)
        if answer.returncode != 0:
            records, lines = _records_of(answer.stderr)
            raise _failure(host, answer.returncode, records, lines, _in_own_words(self))

    @overload
    def beds(self, count: None = None, *, library: LibraryChoice = None,
             host: Optional[PathLike] = None) -> tuple[int, ...]: ...
    @overload
    def beds(self, count: int, *, library: LibraryChoice = None, host: Optional[PathLike] = None) -> Beds: ...

    def beds(self, count: Optional[int] = None, *, library: LibraryChoice = None,
             host: Optional[PathLike] = None) -> Union[Beds, tuple[int, ...]]:
        """The cycle as `count` beds run it (su55if-host check --beds N):
        each bed's stages over one cycle, every link's offset (the library's
        span) in time and in shifts, and the links that do not fit. Without
        `count`, the numbers of beds at which every link fits.

        Raises SimulationTerminated when the library rejects the cycle,
        ValueError for a number of beds the host refuses (2 to 100)."""
        if count is None:
            return fitting_bed_counts(self.report(library=library, host=host))
        beds = bed_count(count)
        arguments, given = _cycle_source(self)
        report = _check(host, library, None, arguments, given, _in_own_words(self), ["--beds=" + beds])
        return beds_from_report(report, self.name)

    def plot(self, path: Optional[PathLike] = None, *, beds: int, time_unit: Optional[str] = None,
             library: LibraryChoice = None, host: Optional[PathLike] = None) -> Any:
        """Draws the cycle as `beds` beds run it (Beds.plot()) and returns
        the Matplotlib Figure, saved to `path` when given."""
        return self.beds(beds, library=library, host=host).plot(path, time_unit=time_unit)

    def report(self, *, library: LibraryChoice = None, host: Optional[PathLike] = None) -> dict[str, Any]:
        """The host's report on this cycle (check --format json): its links,
        the cycle duration, the chart's colours. Asked once."""
        if self._report is None:
            arguments, given = _cycle_source(self)
            object.__setattr__(self, "_report", _check(host, library, None, arguments, given, _in_own_words(self)))
        assert self._report is not None
        return self._report


for _public in (Cycle,):
    _public.__module__ = "su55if"
