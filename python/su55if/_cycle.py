"""Cycle files and cycle runs, as su55if-host reads and runs them.

A cycle file is CSV with the header stage,duration,partner (in any order)
and one row per stage; blank lines and lines starting with '#' are skipped.
Messages name the file, line and column of the first fault, as the host's do.
"""

from __future__ import annotations

import io
import math
import os
import re
from collections import namedtuple
from dataclasses import dataclass
from typing import Optional

from ._library import Library, load

try:
    import numpy
except ImportError:  # NumPy is optional
    numpy = None

MAX_STAGES = 100  # what the library's stage table holds
MAX_LINE_BYTES = 4 * 1024  # what a cycle file may hold: 100 stages and plenty of comments
MAX_LINES = 10_000
MAX_SAMPLES = 2.0e6  # samples a run may take; a run holds its whole timeline
_COLUMNS = ("stage", "duration", "partner")

# A decimal number as C++'s from_chars reads one (digits, a point, an
# exponent; inf and nan), with one leading '+' or '-'.
_NUMBER = re.compile(
    rb"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|inf(?:inity)?|nan(?:\([0-9A-Za-z_]*\))?)",
    re.IGNORECASE,
)


class CycleFileError(ValueError):
    """A cycle file that cannot be read or is not a valid cycle; the message
    names the file, the line and, where there is one, the column."""


def _utf8_length(text: bytes, i: int) -> int:
    """The length of the valid UTF-8 sequence at text[i], or 0 when it is
    not one (a stray byte, a cut sequence, an overlong form, a surrogate, a
    value above U+10FFFF)."""
    lead = text[i]
    if 0xC2 <= lead <= 0xDF:
        length, value = 2, lead & 0x1F
    elif 0xE0 <= lead <= 0xEF:
        length, value = 3, lead & 0x0F
    elif 0xF0 <= lead <= 0xF4:
        length, value = 4, lead & 0x07
    else:
        return 0
    if len(text) - i < length:
        return 0
    for byte in text[i + 1 : i + length]:
        if byte & 0xC0 != 0x80:
            return 0
        value = value << 6 | byte & 0x3F
    smallest = {2: 0x80, 3: 0x800, 4: 0x10000}[length]
    if value < smallest or 0xD800 <= value <= 0xDFFF or value > 0x10FFFF:
        return 0
    return length


_ESCAPES = {0x0A: "\\n", 0x09: "\\t", 0x0D: "\\r", 0x00: "\\0"}


def _escape(text: bytes, limit: Optional[int], in_quotes: bool) -> str:
    """Text from a file as a message shows it, as the host shows it: control
    characters and bytes that are not UTF-8 escaped, cut after `limit`
    characters with "..."."""
    shown, characters, i = [], 0, 0
    while i < len(text):
        if characters == limit:
            return "".join(shown) + "..."
        characters += 1
        code = text[i]
        length = 1 if code < 0x80 else _utf8_length(text, i)
        if length == 0 or (length == 2 and code == 0xC2 and text[i + 1] < 0xA0):
            shown.append(f"\\x{code:02X}")  # not UTF-8, or a C1 control
            length = 1
        elif code in _ESCAPES:
            shown.append(_ESCAPES[code])
        elif code < 0x20 or code == 0x7F:
            shown.append(f"\\x{code:02X}")
        elif in_quotes and code in b'"\\':
            shown.append("\\" + chr(code))
        else:
            shown.append(text[i : i + length].decode("utf-8"))
        i += length
    return "".join(shown)


def _printable(text, limit: Optional[int] = None) -> str:
    return _escape(os.fsencode(text) if isinstance(text, (str, os.PathLike)) else text, limit, False)


def _quoted(text: bytes, limit: int = 40) -> str:
    return '"' + _escape(text, limit, True) + '"'


def readable(value: float) -> str:
    """A number in the shortest form that reads back exactly, as the host writes it."""
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


def _number(raw: bytes) -> Optional[float]:
    """The value of a number field; None when it is not a number, and
    infinity for one out of range (a non-zero value that underflows to 0 too,
    as the host reads it)."""
    if not _NUMBER.fullmatch(raw):
        return None
    text = raw.decode("ascii")
    if text.lstrip("+-")[:3].lower() == "nan":
        return math.nan
    value = float(text)
    if value == 0.0 and re.search("[1-9]", re.split("[eE]", text)[0]):
        return math.inf
    return value


@dataclass(frozen=True)
class Cycle:
    """A cycle: stage k has durations[k-1] and the interaction-table entry
    partners[k-1] (signed stage number of its partner, 0 for none)."""

    name: str
    durations: tuple
    partners: tuple

    @property
    def stage_count(self) -> int:
        return len(self.durations)

    def run(self, stop_time=None, output_interval=None, twin: bool = False, *, library: Optional[Library] = None):
        """Steps time from 0 as `su55if-host run` does and returns the Timeline.

        stop_time defaults to two cycles, output_interval to 1/20 of the
        shortest stage of positive duration. twin: SU55IF_IINTTIM and
        SU55IF_IACTYP. library: the Library to call; by default a private copy
        loaded for this run, so the run starts from an empty stage table as
        the host's does. Raises SimulationTerminated when the library stops
        the run, ValueError for settings the host refuses.
        """
        if library is not None:
            return _Run(self, library, twin).timeline(stop_time, output_interval)
        with load() as own:
            return _Run(self, own, twin).timeline(stop_time, output_interval)


class _Parser:
    def __init__(self, name: str):
        self.name = name
        self.columns = []
        self.header_line = 0

    def fail(self, line: int, column: int, message: str):
        name = _printable(self.name)
        where = f"{name}:{line}:{column}" if column > 0 else f"{name}:{line}"
        raise CycleFileError(f"{where}: {message}")

    def lines(self, stream):
        """The lines of a binary stream without their ends, at most
        MAX_LINES of at most MAX_LINE_BYTES each: reading stops at the first
        line past a cap, so memory stays within a line whatever the file."""
        line = 0
        while True:
            try:
                content = stream.readline(MAX_LINE_BYTES + 2)
            except OSError as error:
                raise CycleFileError(f"{_printable(self.name)}: cannot read the cycle file: {error.strerror}") from None
            if not content:
                return
            line += 1
            if line > MAX_LINES:
                self.fail(
                    line, 0, f"more than {MAX_LINES} lines: a cycle file holds at most {MAX_LINES}; stopped reading"
                )
            if content.endswith(b"\n"):
                content = content[:-1]
            if content.endswith(b"\r"):
                content = content[:-1]
            if len(content) > MAX_LINE_BYTES:
                self.fail(
                    line,
                    0,
                    f"the line is longer than {MAX_LINE_BYTES} bytes, the most a cycle file line may hold; "
                    "stopped reading",
                )
            if line == 1 and content.startswith(b"\xef\xbb\xbf"):
                content = content[3:]  # a byte-order mark some editors write
            yield line, content

    def parse(self, stream) -> Cycle:
        durations, partners = [], []
        have_header = False
        line = 0
        for line, content in self.lines(stream):
            stripped = content.lstrip(b" \t")
            if not stripped or stripped.startswith(b"#"):
                continue
            if not have_header:
                self.read_header(content, line)
                have_header = True
            else:
                self.read_stage(content, line, durations, partners)
        if not have_header:
            self.fail(1, 0, "the file is empty: the first line must be the header stage,duration,partner")
        if not durations:
            self.fail(line, 0, "no stages: the header must be followed by one row per stage")
        return Cycle(self.name, tuple(durations), tuple(partners))

    @staticmethod
    def fields(content: bytes) -> list:
        """Comma-separated fields without the blanks around them, each with
        the 1-based column of its first character."""
        fields, start = [], 0
        for part in content.split(b","):
            text = part.lstrip(b" \t")
            fields.append((text.rstrip(b" \t"), start + len(part) - len(text) + 1))
            start += len(part) + 1
        return fields

    def read_header(self, content: bytes, line: int) -> None:
        self.header_line = line
        for text, column in self.fields(content):
            if not text:
                self.fail(line, column, "empty column name in the header (expected stage,duration,partner)")
            name = text.decode("latin-1")
            if name not in _COLUMNS:
                self.fail(line, column, f"unknown column {_quoted(text)} (the columns are stage, duration and partner)")
            if name in self.columns:
                self.fail(line, column, f"column {_quoted(text)} appears twice")
            self.columns.append(name)
        for name in _COLUMNS:
            if name not in self.columns:
                self.fail(
                    line, len(content) + 1, f'missing column "{name}" (the header must be stage,duration,partner)'
                )

    def read_stage(self, content: bytes, line: int, durations: list, partners: list) -> None:
        fields = self.fields(content)
        expected_count = len(self.columns)
        if len(fields) > expected_count:
            self.fail(
                line,
                fields[expected_count][1],
                f"too many values: expected {expected_count}, as the header on line {self.header_line} names",
            )
        if len(fields) < expected_count:
            self.fail(
                line,
                len(content) + 1,
                f"too few values: expected {expected_count}, as the header on line {self.header_line} names",
            )
        field = {name: fields[self.columns.index(name)] for name in _COLUMNS}

        stage = self.number(field["stage"], "stage", line)
        expected = len(durations) + 1
        text, column = field["stage"]
        if stage != math.trunc(stage):
            self.fail(line, column, f"stage {_quoted(text)} is not a whole number")
        if stage != expected:
            self.fail(
                line,
                column,
                f"stage {_printable(text, 40)} is out of order: expected stage {expected} "
                "(stages are numbered 1, 2, 3, ... in order)",
            )
        if expected > MAX_STAGES:
            self.fail(line, column, f"more than {MAX_STAGES} stages: the library holds at most {MAX_STAGES}")

        duration = self.number(field["duration"], "duration", line)
        if duration < 0.0:
            self.fail(line, field["duration"][1], f"duration {_printable(field['duration'][0], 40)} is negative")

        partner = self.number(field["partner"], "partner", line)
        if partner != math.trunc(partner):
            text, column = field["partner"]
            self.fail(line, column, f"partner {_quoted(text)} is not a whole number (a stage number, signed, or 0)")
        durations.append(duration)
        partners.append(partner)

    def number(self, field: tuple, column_name: str, line: int) -> float:
        text, column = field
        if not text:
            self.fail(line, column, f"missing value for {column_name}")
        value = _number(text)
        if value is None:
            self.fail(line, column, f"{column_name} {_quoted(text)} is not a number")
        if not math.isfinite(value):
            self.fail(line, column, f"{column_name} {_quoted(text)} is not a finite number")
        return value


def parse_cycle(text, name: str) -> Cycle:
    """A cycle from the text of a cycle file (str or bytes); `name` is used in messages."""
    data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    return _Parser(name).parse(io.BytesIO(data))


def read_cycle(path) -> Cycle:
    """Reads and checks a cycle file; CycleFileError names the first fault."""
    name = str(path)
    try:
        file = open(path, "rb")
    except IsADirectoryError as error:
        raise CycleFileError(f"{_printable(name)}: cannot read the cycle file: {error.strerror}") from None
    except OSError as error:
        raise CycleFileError(f"{_printable(name)}: cannot open the cycle file: {error.strerror}") from None
    with file:
        return _Parser(name).parse(file)


class _Run:
    """The calls of one run, as su55if-host makes them: SU55IF_DEFST for the
    stage in force, the timing for that stage, the decoding of its code."""

    def __init__(self, cycle: Cycle, library: Library, twin: bool):
        self.cycle = cycle
        self.library = library
        self.twin = twin
        self.stage = 1
        self.stage_start = 0.0

    def define(self, time: float):
        durations = self.cycle.durations
        return self.library.define_stages(durations, durations, 0.0, time, float(self.stage), self.stage_start)

    def advance_to_stage_in_force(self, time: float):
        """SU55IF_DEFST reports, for the stage believed in force, its duration
        and the time elapsed since it began; while the elapsed time reaches
        the duration, the next stage has begun."""
        count = self.cycle.stage_count
        for _ in range(4 * count + 8):
            schedule = self.define(time)
            if schedule.elapsed < schedule.stage_duration:
                return schedule
            if schedule.elapsed >= schedule.cycle_duration:
                # A step longer than the cycle: whole cycles bring the same stage back.
                self.stage_start += math.floor(schedule.elapsed / schedule.cycle_duration) * schedule.cycle_duration
                continue
            self.stage_start += schedule.stage_duration
            self.stage = self.stage % count + 1
        raise RuntimeError(
            f"cannot find the stage in force at time {readable(time)}: the stage durations that the library "
            "reports do not add up to its cycle duration"
        )

    def timeline(self, stop_time, output_interval) -> "Timeline":
        schedule = self.define(0.0)
        cycle_duration = schedule.cycle_duration
        if stop_time is None:
            stop_time = 2.0 * cycle_duration
        if output_interval is None:
            output_interval = min((d for d in schedule.durations if d > 0.0), default=0.0) / 20.0
        if not (cycle_duration > 0.0) or not math.isfinite(cycle_duration):
            raise ValueError(f"{self.cycle.name}: cannot run a cycle whose duration is {readable(cycle_duration)}")
        stop_time, output_interval = float(stop_time), float(output_interval)
        if not (output_interval > 0.0 and math.isfinite(output_interval) and stop_time > 0.0 and math.isfinite(stop_time)):
            raise ValueError("the stop time and the output interval must be finite and greater than 0")
        steps = math.floor(stop_time / output_interval + 1e-9)
        if steps > MAX_SAMPLES:
            raise ValueError(
                f"{steps + 1:.0f} time steps are too many (at most {MAX_SAMPLES:.0f}): raise --output-interval or "
                "lower --stop-time"
            )

        timing = self.library.interaction_timing_twin if self.twin else self.library.interaction_timing
        decode = self.library.decode_action_twin if self.twin else self.library.decode_action
        self.stage, self.stage_start = 1, 0.0
        rows = []
        partners = self.cycle.partners
        for step in range(int(steps) + 1):
            time = step * output_interval
            elapsed = self.advance_to_stage_in_force(time).elapsed
            delays = timing(partners, float(self.stage), time)
            flags = decode(delays.action_code)
            rows.append((time, self.stage, elapsed) + tuple(delays) + tuple(flags))
        return Timeline(self.cycle, self.library, self.twin, stop_time, output_interval, schedule, rows)


class Timeline:
    """The samples of a cycle run: one row per time, with the columns of the
    host's CSV timeline (time, stage, elapsed, the timing outputs, the
    indicators). A sequence of named tuples; to_csv() gives the host's CSV
    text, to_numpy() a structured array, plot() a Matplotlib figure."""

    def __init__(self, cycle, library, twin, stop_time, output_interval, schedule, rows):
        timing = library.procedure("interaction_timing_twin" if twin else "interaction_timing")
        decoding = library.procedure("decode_action_twin" if twin else "decode_action")
        outputs = timing.outputs + decoding.outputs
        self.cycle = cycle
        self.twin = twin
        self.stop_time = stop_time
        self.output_interval = output_interval
        self.schedule = schedule
        self.columns = ("time", "stage", "elapsed") + tuple(argument.name for argument in outputs)
        self.Row = namedtuple("Row", ("time", "stage", "elapsed") + tuple(argument.keyword for argument in outputs))
        self.rows = [self.Row._make(row) for row in rows]

    def __len__(self) -> int:
        return len(self.rows)

    def __getitem__(self, index):
        return self.rows[index]

    def __iter__(self):
        return iter(self.rows)

    def __repr__(self) -> str:
        return f"<su55if.Timeline of {self.cycle.name}: {len(self.rows)} samples>"

    def to_csv(self) -> str:
        """The CSV text `su55if-host run` writes: every value as %.17g."""
        lines = [",".join(self.columns)]
        for row in self.rows:
            values = [format(row.time, ".17g"), str(row.stage)] + [format(value, ".17g") for value in row[2:]]
            lines.append(",".join(values))
        return "\n".join(lines) + "\n"

    def to_numpy(self):
        """The rows as a NumPy structured array, one field per column."""
        if numpy is None:
            raise ImportError("Timeline.to_numpy needs NumPy (Debian: python3-numpy)")
        dtype = [(name, numpy.int32 if name == "stage" else numpy.float64) for name in self.Row._fields]
        return numpy.array([tuple(row) for row in self.rows], dtype=dtype)

    def plot(self, path=None):
        """Draws the run with Matplotlib: the stage in force, the action code
        and the two spans over time, with the cycle boundaries. Saves it to
        `path` when given; returns the Figure."""
        try:
            import matplotlib.pyplot as pyplot
        except ImportError:
            raise ImportError("Timeline.plot needs Matplotlib (Debian: python3-matplotlib)") from None
        times = [row.time for row in self.rows]
        figure, (stages, codes, spans) = pyplot.subplots(
            3, 1, sharex=True, figsize=(10, 6.5), gridspec_kw={"height_ratios": [1, 1.3, 1.3]}
        )
        cycle_duration = self.schedule.cycle_duration
        boundary = 0.0
        while boundary <= times[-1]:
            for axes in (stages, codes, spans):
                axes.axvline(boundary, color="0.75", linestyle=":", linewidth=1)
            boundary += cycle_duration
        stages.step(times, [row.stage for row in self.rows], where="post", color="tab:blue")
        stages.set_ylabel("stage")
        stages.set_yticks(range(1, self.cycle.stage_count + 1))
        codes.step(times, [row.action_code for row in self.rows], where="post", color="tab:red")
        codes.set_ylabel("action code")
        codes.set_yticks([-2, -1, 0, 1, 2])
        codes.set_ylim(-2.5, 2.5)
        first, second = self.columns[3], self.columns[4]
        spans.step(times, [row[3] for row in self.rows], where="post", label=first)
        spans.step(times, [row[4] for row in self.rows], where="post", label=second, linestyle="--")
        spans.set_ylabel("span")
        spans.set_xlabel("time")
        spans.legend(loc="lower right", bbox_to_anchor=(1.0, 1.0), ncol=2, frameon=False, fontsize="small")
        procedures = "SU55IF_IINTTIM and SU55IF_IACTYP" if self.twin else "SU55IF_INTTIM and SU55IF_ACTYP"
        stages.set_title(f"{self.cycle.name}: cycle of {readable(cycle_duration)}, {procedures}, the stage in force")
        for axes in (stages, codes, spans):
            axes.grid(axis="y", color="0.9")
        figure.tight_layout()
        if path is not None:
            figure.savefig(path)
            pyplot.close(figure)
        return figure
