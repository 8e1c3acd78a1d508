"""Cycle files and cycle runs, through su55if-host.

The package reads and runs cycles with the host of the same build or
installation, never a copy of its own: read_cycle() runs `su55if-host check
--format json`, Cycle.run() runs `su55if-host run` and reads its CSV as it
streams. The file formats, the messages and the timeline are the host's
(docs/host.md).
"""

from __future__ import annotations

import contextlib
import json
import math
import numbers
import operator
import os
import re
import shlex
import signal
import stat
import subprocess
import sys
import tempfile
import warnings
import textwrap
from array import array
from collections import namedtuple
from dataclasses import dataclass, field
from functools import lru_cache
from pathlib import Path
from typing import Optional

from . import _description
from ._files import _checkout, _layout, _prefixes, find_library
from ._library import Library, SimulationTerminated

try:
    import numpy
except ImportError:  # NumPy is optional
    numpy = None

HOST_FILE = "su55if-host"
MIN_HOST_VERSION = (0, 1, 0)
_PREFIX = HOST_FILE + ": "
_WARNING = _PREFIX + "warning: "
_VERSION = re.compile(re.escape(HOST_FILE) + r" ([0-9]+)\.([0-9]+)\.([0-9]+)(?![0-9])")
# A message about a file that the host reads: FILE:LINE[:COLUMN]: ..., or one it cannot open.
_FILE_FAULT = re.compile(r":[0-9]+(?::[0-9]+)?: |: cannot (?:open|read) the [a-z]+ file: ")


def _install_hint(package: str) -> str:
    """How to install the Python package `package` (numpy, matplotlib) for
    the interpreter that runs this: apt-get for Debian's own, pip otherwise."""
    executable = sys.executable
    if executable and sys.prefix == "/usr" and os.path.dirname(os.path.realpath(executable)) == "/usr/bin":
        return f"Debian: apt-get install python3-{package}"
    return f"{shlex.quote(executable or 'python3')} -m pip install {package}"


class LinkDriftWarning(RuntimeWarning):
    """Two linked stages came to last differently during a run: the run
    goes on, but one that starts with these durations is stopped."""


class CycleFileError(ValueError):
    """A cycle, input or events file that cannot be read or is not valid.
    The message is the host's: it names the file and, where there is one,
    the line and column of the fault."""


# --- finding the host ----------------------------------------------------------------------


def host_candidates() -> list:
    """Where find_host() looks when it is given no path, in order: the
    SU55IF_HOST environment variable, PREFIX/bin for the installed prefixes
    (the Python environment's, /usr/local, /usr), the build tree. On Windows
    the file is su55if-host.exe and the build tree build/windows."""
    layout = _layout()
    candidates = [Path(os.environ["SU55IF_HOST"])] if os.environ.get("SU55IF_HOST") else []
    candidates += [Path(prefix, "bin", layout.host_file) for prefix in _prefixes()]
    return candidates + [_checkout() / "build" / layout.build / "tools" / layout.host_file]


def find_host(path=None) -> Path:
    """The su55if-host that runs cycles: `path` if given, else the first of
    host_candidates() that exists. A file named explicitly (by `path` or
    SU55IF_HOST) must exist; it is never passed over. Raises
    FileNotFoundError when there is none, RuntimeError when the host cannot
    be run or is older than MIN_HOST_VERSION."""
    named = "given as host="
    if path is None and os.environ.get("SU55IF_HOST"):
        path, named = os.environ["SU55IF_HOST"], "named by SU55IF_HOST"
    if path is not None:
        host = Path(os.fsdecode(path))
        if not host.is_file():
            raise FileNotFoundError(f"{host}: no such {HOST_FILE} file ({named})")
    else:
        candidates = host_candidates()
        host = next((candidate for candidate in candidates if candidate.is_file()), None)
        if host is None:
            raise FileNotFoundError(
                f"cannot find {HOST_FILE} (looked for {', '.join(map(str, candidates))}); build it "
                f"(cmake --build build/default --target {HOST_FILE}), or name it with host=PATH or the "
                "SU55IF_HOST environment variable"
            )
    host = host.resolve()
    _check_version(host, host.stat().st_mtime_ns)
    return host


@lru_cache(maxsize=None)
def _check_version(host: Path, mtime: int) -> tuple:
    """The host's version, asked once per file and modification time."""
    try:
        answer = subprocess.run(
            [host, "--version"], stdin=subprocess.DEVNULL, capture_output=True, timeout=60, check=False
        )
    except (OSError, subprocess.SubprocessError) as error:
        raise RuntimeError(f"{host}: cannot run it to ask its version: {error}") from None
    first = answer.stdout.decode("utf-8", "backslashreplace").partition("\n")[0]
    match = _VERSION.match(first)
    needed = ".".join(map(str, MIN_HOST_VERSION))
    if answer.returncode != 0 or match is None:
        raise RuntimeError(
            f"{host}: not a usable {HOST_FILE}: `--version` printed {first!r} (exit code {answer.returncode}), "
            f"not '{HOST_FILE} X.Y.Z'; version {needed} or later is needed"
        )
    version = tuple(int(part) for part in match.groups())
    if version < MIN_HOST_VERSION:
        raise RuntimeError(
            f"{host}: {HOST_FILE} {'.'.join(map(str, version))} is too old: version {needed} or later is needed "
            "(build or install a newer one, or name it with host=PATH or SU55IF_HOST)"
        )
    return version


# --- running the host ----------------------------------------------------------------------


def _library_options(library, absolute: bool = False) -> list:
    """--library for the host: the given Library or path, else the library
    that su55if.load() would load, so that Python and the host use the same
    one; none when the package finds none (the host then searches its own).
    absolute: for a host run in another folder."""
    if isinstance(library, Library):
        library = library.path
    elif library is None:
        try:
            library = find_library()
        except FileNotFoundError:
            if os.environ.get("SU55IF_LIBRARY"):
                raise  # a library named explicitly is never passed over
            return []
    return ["--library", _absolute(library) if absolute else os.fspath(library)]


def _failure(host: Path, returncode: int, stderr: bytes) -> Exception:
    """The exception for a host that did not succeed: SimulationTerminated
    (exit code 1), CycleFileError or ValueError with the host's message
    (exit code 2), RuntimeError for anything else."""
    lines = stderr.decode("utf-8", "backslashreplace").splitlines()
    own = [line[len(_PREFIX) :] for line in lines if line.startswith(_PREFIX)]
    if returncode == 1:
        records = [line for line in lines if not line.startswith(_PREFIX)]
        return SimulationTerminated(HOST_FILE, records, own)
    if returncode == 2 and lines:
        message = "\n".join(own or lines)
        return (CycleFileError if _FILE_FAULT.search(message) else ValueError)(message)
    if returncode < 0:
        try:
            ended = f"was ended by {signal.Signals(-returncode).name}"
        except ValueError:
            ended = f"was ended by signal {-returncode}"
    else:
        ended = f"failed with exit code {returncode}"
    details = "".join("\n  " + line for line in lines) or " (nothing on standard error)"
    return RuntimeError(f"{host} {ended}:{details}")


def _number(value, what: str) -> str:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a real number, not {type(value).__name__}")
    try:
        return repr(float(value))
    except OverflowError:
        raise ValueError(f"{what} is too large for a double") from None


def _plain_file_name(name) -> bool:
    try:
        length = len(os.fsencode(name))
    except (TypeError, UnicodeError):
        return False
    return 0 < length <= 255 and name not in (".", "..") and os.path.basename(name) == name and "\0" not in name


def _quoted_name(name, stage: int) -> str:
    if not isinstance(name, str):
        raise TypeError(f"the name of stage {stage} must be a str, not {type(name).__name__}")
    if "\n" in name or "\0" in name:
        raise ValueError(f"the name of stage {stage} holds a line break or NUL, which a cycle file cannot hold")
    return '"' + name.replace('"', '""') + '"'


def _cycle_text(cycle: "Cycle") -> bytes:
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


def _signature(path):
    """What tells a regular file from its later versions; None for anything else."""
    try:
        status = os.stat(path)
    except (OSError, ValueError):
        return None
    if not stat.S_ISREG(status.st_mode):
        return None
    return (status.st_dev, status.st_ino, status.st_size, status.st_mtime_ns)


def _absolute(path):
    return None if path is None else os.path.abspath(os.fspath(path))


@contextlib.contextmanager
def _temporary_file(name, content: bytes):
    """(folder, file name): `content` in a fresh temporary folder under
    `name`, when that is a plain file name, else cycle.csv; the folder is
    removed afterwards."""
    name = name if _plain_file_name(name) else "cycle.csv"
    with tempfile.TemporaryDirectory(prefix="su55if-") as folder:
        with open(os.path.join(folder, name), "wb") as file:
            file.write(content)
        yield folder, name


@contextlib.contextmanager
def _cycle_file(cycle: "Cycle"):
    """(folder to run the host in or None, cycle file to name): the file
    read_cycle() read, when this is the Cycle it returned and the file is
    unchanged, else the cycle written to a temporary file."""
    source = cycle._source
    if source is not None and _signature(source[0]) == source[1]:
        yield None, source[0]
    else:
        with _temporary_file(cycle.name, _cycle_text(cycle)) as place:
            yield place


def _check(host, library, folder, path) -> dict:
    """The report of `su55if-host check --format json` on a cycle file.
    A host that cannot use the file (exit code 2) raises CycleFileError
    when its message names the file, else as _failure() says."""
    host = find_host(host)
    options = _library_options(library, absolute=folder is not None)
    command = [host, "-q", *options, "check", "--format", "json", "--", path]
    answer = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, check=False)
    if answer.returncode not in (0, 1):
        error = _failure(host, answer.returncode, answer.stderr)
        if type(error) is ValueError and os.fsdecode(path) in str(error):
            raise CycleFileError(str(error))
        raise error
    try:
        report = json.loads(answer.stdout)
        for stage in report["stages"]:
            float(stage["duration"]), float(stage["partner"]), str(stage["name"])
        return report
    except (ValueError, KeyError, TypeError) as error:
        raise RuntimeError(f"{host}: check --format json gave no usable report ({error})") from None


def _from_report(name: str, report: dict) -> "Cycle":
    stages = report["stages"]
    cycle = Cycle(
        name,
        tuple(float(stage["duration"]) for stage in stages),
        tuple(float(stage["partner"]) for stage in stages),
        tuple(str(stage["name"]) for stage in stages),
    )
    duration = report.get("cycleDuration")
    if isinstance(duration, (int, float)) and not isinstance(duration, bool):
        object.__setattr__(cycle, "cycle_duration", float(duration))
    return cycle


def read_cycle(path, *, library=None, host=None) -> "Cycle":
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


def parse_cycle(text, name: str, *, library=None, host=None) -> "Cycle":
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
    durations: tuple
    partners: tuple
    names: tuple = ()  # stage k's name in element k - 1, "" when not named
    cycle_duration: Optional[float] = field(default=None, init=False, compare=False)
    # The file read_cycle() read and its signature then: a run reads that
    # file while it is unchanged. dataclasses.replace() drops it.
    _source: Optional[tuple] = field(default=None, init=False, compare=False, repr=False)

    @property
    def stage_count(self) -> int:
        return len(self.durations)

    def run(
        self,
        stop_time=None,
        output_interval=None,
        *,
        input_file=None,
        events=None,
        chart=None,
        twin: bool = False,
        time_unit: Optional[str] = None,
        library=None,
        host=None,
    ) -> "Timeline":
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
        options = []
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
        host = find_host(host)
        with _cycle_file(self) as (folder, path):
            for option, value in (("--input-file", input_file), ("--events", events), ("--chart", chart)):
                if value is not None:
                    options += [option, _absolute(value) if folder is not None else os.fspath(value)]
            library_options = _library_options(library, absolute=folder is not None)
            command = [host, "-q", *library_options, "run", *options, "--", path]
            timeline = Timeline(self, stop_time, output_interval, twin, library, host, time_unit)
            return _stream(command, folder, host, timeline)


def _stream(command: list, folder, host: Path, timeline: "Timeline") -> "Timeline":
    """Runs the host, reading its standard output into the timeline as it
    comes; standard error goes to a temporary file, so that neither stream
    can fill up and stall the other."""
    with tempfile.TemporaryFile() as errors:
        process = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=errors)
        try:
            with process.stdout:
                fault = timeline._read(process.stdout)
                if fault:
                    process.kill()
            returncode = process.wait()
        except BaseException:
            process.kill()
            process.wait()
            raise
        errors.seek(0)
        if returncode != 0 and not (fault and returncode == -signal.SIGKILL):
            raise _failure(host, returncode, errors.read())
        # Warnings of the run (linked stages that came to last differently)
        # as Python warnings.
        for line in errors.read().decode("utf-8", "backslashreplace").splitlines():
            if line.startswith(_WARNING):
                warnings.warn(line[len(_WARNING) :], LinkDriftWarning, stacklevel=3)
    if fault:
        raise RuntimeError(f"{host}: {fault}")
    return timeline


# --- the timeline --------------------------------------------------------------------------


def _snake_case(name: str) -> str:
    return re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", name).lower()


@lru_cache(maxsize=None)
def _keywords(library_path: Optional[str]) -> dict:
    """The Python keyword of every output argument, by the name the host's
    CSV gives it, from the procedure description."""
    try:
        procedures = _description.read_description(_description.find_description(library_path))
    except _description.DescriptionError:
        return {}
    return {argument.name: argument.keyword for p in procedures.values() for argument in p.outputs}


# The styles of the host's chart (su55if-host run --chart), for plot(): the
# stages' colours, each series' colour and dash pattern (on, off: None for
# solid) at the line width, the lines where a cycle starts, and the grid.
_STAGE_COLOURS = ("#8dd3c7", "#ffffb3", "#bebada", "#fb8072", "#80b1d3", "#fdb462", "#b3de69", "#fccde5")
_SERIES_STYLES = {
    "delayForCode1": ("#1f77b4", None),
    "delayForCode2": ("#ff7f0e", (6, 3)),
    "actionCode": ("#c0392b", None),
}
_LINE_WIDTH = 1.8
_CYCLE_START = ("#999999", (2, 3))
_MAX_MARKS = 200  # cycle starts marked; none when there are more
_GRID = "#dddddd"


def _label(text: str, width: int = 80) -> str:
    """Text for Matplotlib as it is: "$" taken literally, cut to `width` characters."""
    text = text if len(text) <= width else text[: width - 1] + "…"
    return text.replace("$", r"\$")


def _links(partners) -> list:
    """The interaction links as the host's chart draws them: "1↔3" for two
    stages whose entries name each other with the same sign, "2→5" for any
    other, with " (negative)" for a negative entry. An entry names the stage
    its magnitude rounds to, as the library reads it."""
    count = len(partners)

    def partner_of(stage: int) -> int:
        magnitude = abs(partners[stage - 1])
        return int(magnitude + 0.5) if magnitude < count + 0.5 else 0

    links = []
    for stage in range(1, count + 1):
        partner = partner_of(stage)
        if partner in (0, stage):
            continue
        negative = " (negative)" if partners[stage - 1] < 0 else ""
        if partner_of(partner) == stage and (partners[partner - 1] > 0) == (partners[stage - 1] > 0):
            if stage < partner:
                links.append(f"{stage}↔{partner}{negative}")
        else:
            links.append(f"{stage}→{partner}{negative}")
    return links


class Timeline:
    """The samples of a cycle run, as su55if-host wrote them: one row per
    time, with the columns of its CSV timeline (`columns`). A sequence of
    named tuples (`Row`: time, stage, elapsed, then the Python keyword of
    each output); to_csv() gives the host's CSV text, to_numpy() a
    structured array, plot() a Matplotlib figure. stop_time,
    output_interval and time_unit are the settings given to run() (None for
    the host's defaults)."""

    def __init__(self, cycle: Cycle, stop_time, output_interval, twin: bool, library, host: Path, time_unit=None):
        self.cycle = cycle
        self.stop_time = stop_time
        self.output_interval = output_interval
        self.twin = twin
        self.time_unit = time_unit
        self._library = library
        self._host = host
        self.columns = ()
        self.Row = None
        self._values = array("d")  # every value, row after row
        self._text = ""

    def _read(self, stream) -> Optional[str]:
        """Reads the host's CSV; what is wrong with it, or None."""
        header = stream.readline()
        if not header:
            return "wrote no CSV header"
        self.columns = tuple(header.decode("utf-8", "backslashreplace").rstrip("\r\n").split(","))
        if self.columns[:3] != ("time", "stage", "elapsed"):
            return f"wrote an unexpected CSV header: {header[:200]!r}"
        library = self._library.path if isinstance(self._library, Library) else self._library
        keywords = _keywords(None if library is None else os.fsdecode(library))
        fields = self.columns[:3] + tuple(keywords.get(name) or _snake_case(name) for name in self.columns[3:])
        self.Row = namedtuple("Row", fields, rename=True)
        width = len(self.columns)
        text, extend = bytearray(header), self._values.extend
        for number, line in enumerate(stream, 2):
            text += line
            values = line.split(b",")
            try:
                if len(values) != width:
                    raise ValueError(f"{len(values)} values, not {width}")
                extend(map(float, values))
            except ValueError as error:
                return f"line {number} of its CSV is not a row of numbers ({error}): {line[:200]!r}"
        self._text = text.decode("utf-8", "backslashreplace")
        return None

    def __len__(self) -> int:
        return len(self._values) // len(self.columns) if self.columns else 0

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        count = len(self)
        index = operator.index(index)
        if index < 0:
            index += count
        if not 0 <= index < count:
            raise IndexError("Timeline index out of range")
        width = len(self.columns)
        values = self._values[index * width : (index + 1) * width]
        return self.Row(values[0], int(values[1]), *values[2:])

    def __iter__(self):
        return (self[i] for i in range(len(self)))

    def __repr__(self) -> str:
        return f"<su55if.Timeline of {self.cycle.name}: {len(self)} samples>"

    def column(self, name: str) -> array:
        """The values of one column (by the host's name or the Row field), in order."""
        position = self.columns.index(name) if name in self.columns else self.Row._fields.index(name)
        return self._values[position :: len(self.columns)]

    def to_csv(self) -> str:
        """The CSV text su55if-host wrote, byte for byte."""
        return self._text

    def to_numpy(self):
        """The rows as a NumPy structured array, one field per column."""
        if numpy is None:
            raise ImportError(f"Timeline.to_numpy needs NumPy ({_install_hint('numpy')})")
        values = numpy.frombuffer(self._values, dtype=numpy.float64).reshape(len(self), len(self.columns))
        fields = [(name, numpy.int32 if name == "stage" else numpy.float64) for name in self.Row._fields]
        table = numpy.empty(len(self), dtype=fields)
        for position, name in enumerate(self.Row._fields):
            table[name] = values[:, position]
        return table

    def plot(self, path=None, *, time_unit=None):
        """Draws the run with Matplotlib in the colours and dash patterns of
        the host's chart (run --chart): the stage in force as a box on the
        row of each stage (named as the cycle names it), the action code and
        the two spans over time, a dotted line where stage 1 comes back, the
        cycle's links in the title. time_unit labels the times (default: the
        one given to run()). Saves it to `path` when given; returns the
        Figure."""
        try:
            import matplotlib
            import matplotlib.pyplot as pyplot
            import numpy
        except ImportError:
            raise ImportError(f"Timeline.plot needs Matplotlib ({_install_hint('matplotlib')})") from None
        unit = self.time_unit if time_unit is None else time_unit
        cycle_duration = self.cycle.cycle_duration
        if cycle_duration is None:
            with _cycle_file(self.cycle) as (folder, cycle_path):
                cycle_duration = _check(self._host, self._library, folder, cycle_path).get("cycleDuration")
        times = numpy.asarray(self.column("time"))
        stage = numpy.asarray(self.column("stage"))
        count = self.cycle.stage_count
        rows = min(1 + count / 12, 2.2)  # the height of the stage rows, against 1.3 for each other panel
        figure, (stages, codes, spans) = pyplot.subplots(
            3, 1, sharex=True, figsize=(10, 5 + 1.5 * rows), gridspec_kw={"height_ratios": [rows, 1.3, 1.3]}
        )
        row_height = stages.get_position().height * figure.get_figheight() * 72 / max(count, 1)  # points

        # Each stretch of a stage as a box in the stage's colour on its row,
        # outlined where the rows are tall enough for an outline to leave the
        # colour to be seen.
        if len(times):
            changes = numpy.flatnonzero(numpy.diff(stage)) + 1
            first = numpy.concatenate(([0], changes))
            starts, widths = times[first], times[numpy.append(changes, len(times) - 1)] - times[first]
            for value in numpy.unique(stage[first]):
                held = stage[first] == value
                stages.broken_barh(
                    list(zip(starts[held], widths[held])), (value - 0.4, 0.8), label=f"stage {value:g}",
                    facecolor=_STAGE_COLOURS[int(value - 1) % len(_STAGE_COLOURS) if value >= 1 else 0],
                    edgecolor="#555555", linewidth=0.6 if row_height >= 8 else 0,
                )
        ticks = range(1, count + 1, max(1, math.ceil(13 / row_height)))  # names 13 points apart at least
        names = self.cycle.names
        stages.set_yticks(list(ticks), [f"{k} {_label(names[k - 1], 20)}".rstrip() if k <= len(names) else str(k)
                                        for k in ticks])
        stages.set_ylim(0.5, max(count, 1) + 0.5)
        stages.set_ylabel("stage")

        scaled = matplotlib.rcParams["lines.scale_dashes"]
        for axes, name in ((codes, "actionCode"), (spans, "delayForCode1"), (spans, "delayForCode2")):
            colour, dashes = _SERIES_STYLES[name]
            style = "-" if dashes is None else (0, tuple(d / _LINE_WIDTH if scaled else d for d in dashes))
            axes.step(times, self.column(name), where="post", label=name, color=colour, linestyle=style,
                      linewidth=_LINE_WIDTH)
        codes.set_ylabel("action code")
        codes.set_yticks([-2, -1, 0, 1, 2])
        codes.set_ylim(-2.5, 2.5)
        in_unit = f" ({_label(unit)})" if unit else ""
        spans.set_ylabel("span" + in_unit)
        spans.set_xlabel("time" + in_unit)
        spans.legend(loc="lower right", bbox_to_anchor=(1.0, 1.0), ncol=2, frameon=False, fontsize="small")

        cycle_starts = times[1:][(stage[1:] == 1) & (stage[:-1] != 1)]
        for axes in (stages, codes, spans):
            if len(cycle_starts) <= _MAX_MARKS:
                colour, dashes = _CYCLE_START
                axes.vlines(cycle_starts, 0, 1, transform=axes.get_xaxis_transform(), colors=colour,
                            linestyles=[(0, dashes)], linewidth=1)
            axes.grid(axis="y", color=_GRID)
            axes.set_axisbelow(True)  # the grid behind the stages' boxes
        procedures = "SU55IF_IINTTIM and SU55IF_IACTYP" if self.twin else "SU55IF_INTTIM and SU55IF_ACTYP"
        duration = "" if cycle_duration is None else f"cycle of {cycle_duration:g} {_label(unit or '')}".rstrip() + ", "
        title = f"{_label(self.cycle.name)}: {duration}{procedures}"
        links = _links(self.cycle.partners)
        if links:
            title += "\n" + textwrap.fill("links: " + ", ".join(links), 110)
        stages.set_title(title, loc="left", fontsize="medium")
        figure.tight_layout()
        if path is not None:
            figure.savefig(path)
            pyplot.close(figure)
        return figure

for _public in (Cycle, CycleFileError, LinkDriftWarning, Timeline):
    _public.__module__ = "su55if"
