"""Cycle files and cycle runs, as su55if-host reads and runs them.

A cycle file is CSV: a header naming the columns stage and duration, and
if wanted partner and name (in any order and any case), then one row per
stage; blank lines and lines starting with '#' are skipped, a field in
double quotes may hold commas. Reading is bounded (MAX_LINES lines of
MAX_LINE_BYTES each). Messages name the file, line and column of the first
fault, as the host's do. A run steps time as `su55if-host run` does: the
stage in force and its start from the cycle index and the running sums
within one cycle, never a sample after the stop time.
"""

from __future__ import annotations

import io
import math
import numbers
import os
import re
from collections import namedtuple
from dataclasses import dataclass
from fractions import Fraction
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
_COLUMNS = ("stage", "duration", "partner", "name")
_LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")

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


OUT_OF_RANGE = object()  # a number whose magnitude no double holds


def _number(raw: bytes):
    """The value of a number field; None when it is not a number, and
    OUT_OF_RANGE when it overflows or a value other than 0 underflows to 0."""
    if not _NUMBER.fullmatch(raw):
        return None
    text = raw.decode("ascii")
    body = text.lstrip("+-")[:3].lower()
    if body == "nan":
        return math.nan
    value = float(text)
    if body != "inf" and (math.isinf(value) or value == 0.0 and re.search("[1-9]", re.split("[eE]", text)[0])):
        return OUT_OF_RANGE
    return value


@dataclass(frozen=True)
class Cycle:
    """A cycle: stage k has durations[k-1], the interaction-table entry
    partners[k-1] (signed stage number of its partner, 0 for none) and the
    name names[k-1] ("" when the file names none)."""

    name: str
    durations: tuple
    partners: tuple
    names: tuple = ()  # stage k's name in element k - 1, "" when not named

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
    """Reads a cycle file as su55if-host does: bounded lines, comma-separated
    fields (a field in double quotes may hold commas, "" standing for one
    quote), blank lines and '#' comments skipped, and the host's messages."""

    def __init__(self, name: str):
        self.name = name
        self.line = 0
        self.line_length = 0

    def fail(self, line: int, column: int, message: str):
        name = _printable(self.name)
        where = f"{name}:{line}:{column}" if column > 0 else f"{name}:{line}"
        raise CycleFileError(f"{where}: {message}")

    def lines(self, stream):
        """The lines of a binary stream without their ends, at most
        MAX_LINES of at most MAX_LINE_BYTES each: reading stops at the first
        line past a cap, so memory stays within a line whatever the file."""
        while True:
            try:
                content = stream.readline(MAX_LINE_BYTES + 2)
            except OSError as error:
                raise CycleFileError(f"{_printable(self.name)}: cannot read the cycle file: {error.strerror}") from None
            if not content:
                return
            self.line += 1
            if self.line > MAX_LINES:
                self.fail(
                    self.line, 0, f"more than {MAX_LINES} lines: a cycle file holds at most {MAX_LINES}; stopped reading"
                )
            if content.endswith(b"\n"):
                content = content[:-1]
            if content.endswith(b"\r"):
                content = content[:-1]
            if len(content) > MAX_LINE_BYTES:
                self.fail(
                    self.line,
                    0,
                    f"the line is longer than {MAX_LINE_BYTES} bytes, the most a cycle file line may hold; "
                    "stopped reading",
                )
            if self.line == 1 and content.startswith(b"\xef\xbb\xbf"):
                content = content[3:]  # a byte-order mark some editors write
            yield content

    def records(self, stream):
        """The fields of every line that is not blank or a comment, each as
        (text, 1-based column where it begins)."""
        for line in self.lines(stream):
            stripped = line.lstrip(b" \t")
            if not stripped or stripped.startswith(b"#"):
                continue
            self.line_length = len(line)
            yield self.fields(line)

    def fields(self, line: bytes) -> list:
        fields, position = [], 0
        while True:
            while position < len(line) and line[position] in b" \t":
                position += 1
            column = position + 1
            if line[position : position + 1] == b'"':
                text, i = bytearray(), position + 1
                while True:
                    if i >= len(line):
                        self.fail(self.line, column, "the quote that begins here is not closed on this line")
                    if line[i] == 0x22:
                        if line[i + 1 : i + 2] == b'"':
                            text += b'"'
                            i += 2
                            continue
                        i += 1
                        break
                    text.append(line[i])
                    i += 1
                while i < len(line) and line[i] in b" \t":
                    i += 1
                if i < len(line) and line[i] != 0x2C:
                    self.fail(self.line, i + 1, "a comma must follow the closing quote")
                fields.append((bytes(text), column))
                position = i
            else:
                end = line.find(b",", position)
                end = len(line) if end < 0 else end
                fields.append((line[position:end].rstrip(b" \t"), column))
                position = end
            if position >= len(line):
                return fields
            position += 1

    def header(self, fields: list) -> list:
        known = ", ".join(_COLUMNS[:-1]) + " and " + _COLUMNS[-1]
        columns = []
        for text, column in fields:
            if not text:
                self.fail(self.line, column, f"empty column name in the header (the columns are {known})")
            name = text.decode("latin-1").translate(_LOWER)
            if name not in _COLUMNS:
                hint = ""
                if b";" in text:
                    hint = "; the file looks semicolon-separated, but columns are separated by commas"
                elif b"\t" in text:
                    hint = "; the file looks tab-separated, but columns are separated by commas"
                self.fail(self.line, column, f"unknown column {_quoted(text)} (the columns are {known}){hint}")
            if name in columns:
                self.fail(self.line, column, f"column {_quoted(text)} appears twice")
            columns.append(name)
        for required in ("stage", "duration"):
            if required not in columns:
                self.fail(
                    self.line,
                    self.line_length + 1,
                    f'missing column "{required}" (the header needs stage and duration; partner and name may follow)',
                )
        return columns

    def parse(self, stream) -> Cycle:
        records = self.records(stream)
        header = next(records, None)
        if header is None:
            self.fail(1, 0, "the file is empty: the first line must be the header stage,duration (then, if wanted, "
                      "partner and name)")
        header_line = self.line
        columns = self.header(header)
        durations, partners, names = [], [], []
        for fields in records:
            if len(fields) > len(columns):
                self.fail(
                    self.line,
                    fields[len(columns)][1],
                    f"too many values: expected {len(columns)}, as the header on line {header_line} names",
                )
            if len(fields) < len(columns):
                self.fail(
                    self.line,
                    self.line_length + 1,
                    f"too few values: expected {len(columns)}, as the header on line {header_line} names",
                )
            field = dict(zip(columns, fields))
            stage = self.whole_number(field["stage"], "stage", "")
            expected = len(durations) + 1
            if stage != expected:
                self.fail(
                    self.line,
                    field["stage"][1],
                    f"stage {_quoted(field['stage'][0])} is out of order: expected stage {expected} "
                    "(stages are numbered 1, 2, 3, ... in order)",
                )
            if expected > MAX_STAGES:
                self.fail(
                    self.line, field["stage"][1], f"more than {MAX_STAGES} stages: the library holds at most {MAX_STAGES}"
                )
            duration = self.number(field["duration"], "duration")
            if duration < 0.0:
                self.fail(self.line, field["duration"][1], f"duration {_quoted(field['duration'][0])} is negative")
            partner = 0.0
            if "partner" in field:
                partner = self.whole_number(field["partner"], "partner", " (a stage number, signed, or 0)")
            durations.append(duration)
            partners.append(partner)
            names.append(field["name"][0].decode("utf-8", "replace") if "name" in field else "")
        if not durations:
            self.fail(header_line, 0, "no stages: the header must be followed by one row per stage")
        return Cycle(self.name, tuple(durations), tuple(partners), tuple(names))

    def whole_number(self, field: tuple, what: str, meaning: str) -> float:
        value = self.number(field, what)
        if value != math.trunc(value):
            self.fail(self.line, field[1], f"{what} {_quoted(field[0])} is not a whole number{meaning}")
        return value

    def number(self, field: tuple, what: str) -> float:
        text, column = field
        if not text:
            self.fail(self.line, column, f"missing value for {what}")
        value = _number(text)
        if value is None:
            self.fail(self.line, column, f"{what} {_quoted(text)} is not a number")
        if value is OUT_OF_RANGE:
            self.fail(
                self.line,
                column,
                f"{what} {_quoted(text)} is out of range: a number other than 0 must lie between 4.9e-324 and "
                "1.8e308 in magnitude",
            )
        if not math.isfinite(value):
            self.fail(self.line, column, f"{what} {_quoted(text)} is not a finite number")
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


# A sum of doubles and products kept to about twice double precision as
# (high, low), so that the start of a stage many cycles on is placed as
# su55if-host places it.


def _two_sum(a: float, b: float) -> tuple:
    total = a + b
    b_part = total - a
    return total, (a - (total - b_part)) + (b - b_part)


def _normalized(high: float, low: float) -> tuple:
    total = high + low
    return total, low - (total - high)


def _add(x: tuple, y: tuple) -> tuple:
    high, low = _two_sum(x[0], y[0])
    return _normalized(high, low + x[1] + y[1])


def _times(k: float, c: tuple) -> tuple:
    product = k * c[0]
    # The rounding error of the product, exactly (what a fused multiply-add gives).
    error = -product if math.isinf(product) else float(Fraction(k) * Fraction(c[0]) - Fraction(product))
    return _normalized(product, error + k * c[1])


def _not_after(x: tuple, t: float) -> bool:
    high, low = _two_sum(x[0], -t)
    return high + (low + x[1]) <= 0.0


class _StageClock:
    """Where each stage begins: stage j of the k-th cycle after an anchor (a
    stage and the time it began) begins at anchor + k * cycle + the
    durations before it in the cycle, each start computed afresh from k and
    the running sums, never by adding durations sample after sample."""

    def reset(self, durations, anchor_stage: int, anchor_time: tuple) -> None:
        count = len(durations)
        self.order, self.sums = [], [(0.0, 0.0)]
        for j in range(count):
            stage = (anchor_stage - 1 + j) % count + 1
            self.order.append(stage)
            self.sums.append(_add(self.sums[-1], (durations[stage - 1], 0.0)))
        cycle = 0.0  # as the library adds them, to tell an overflow from a NaN
        for duration in durations:
            cycle += duration
        if math.isinf(cycle):
            raise ValueError(
                "the stage durations add up to more than the largest number: the cycle duration overflows to infinity"
            )
        if not cycle > 0.0 or not self.sums[-1][0] > 0.0:
            raise ValueError(f"the stage durations add up to {readable(cycle)}: a cycle must last longer than 0")
        self.anchor = anchor_time
        self.cycle = 0.0
        self.position = 0
        self.settle()

    @property
    def stage(self) -> int:
        return self.order[self.position]

    def start_of(self, cycle: float, position: int) -> tuple:
        return _add(_add(self.anchor, _times(cycle, self.sums[-1])), self.sums[position])

    def settle(self) -> None:
        self.start = self.start_of(self.cycle, self.position)
        if self.position + 1 < len(self.order):
            self.next = self.start_of(self.cycle, self.position + 1)
        else:
            self.next = self.start_of(self.cycle + 1.0, 0)

    def advance_to(self, time: float) -> None:
        """Moves to the stage in force at `time`, which never decreases."""
        if not _not_after(self.next, time):
            return
        if _not_after(self.start_of(self.cycle + 1.0, 0), time):
            # Whole cycles first: the division gives the cycle index up to
            # rounding; the exact starts settle it.
            estimate = (time - self.anchor[0]) / self.sums[-1][0]
            cycle = max(self.cycle + 1.0, float(math.floor(estimate)) if math.isfinite(estimate) else estimate)
            if not cycle < MAX_CYCLES:
                raise ValueError(
                    f"cannot place time {readable(time)}: it lies more than {readable(MAX_CYCLES)} cycles after the "
                    "start, where stage starts can no longer be told apart"
                )
            while cycle > self.cycle + 1.0 and not _not_after(self.start_of(cycle, 0), time):
                cycle -= 1.0
            while _not_after(self.start_of(cycle + 1.0, 0), time):
                cycle += 1.0
            self.cycle = cycle
            self.position = 0
        while self.position + 1 < len(self.order) and _not_after(self.start_of(self.cycle, self.position + 1), time):
            self.position += 1
        self.settle()


MAX_LAST_STEP = 2**52  # beyond it, successive sample times would not be distinct
MAX_CYCLES = 2.0**52  # beyond it, stage starts could no longer be told apart


def _last_step(stop_time: float, output_interval: float, given: str) -> int:
    """The last sample step: never a sample after the stop time."""
    ratio = stop_time / output_interval
    if not ratio < float(MAX_LAST_STEP):
        raise ValueError(
            f"{given} give more than {MAX_LAST_STEP + 1} samples, the most a run takes: raise the output interval "
            "or lower the stop time"
        )
    last = math.floor(ratio)
    while last > 0 and float(last) * output_interval > stop_time:
        last -= 1
    while last < MAX_LAST_STEP and float(last + 1) * output_interval <= stop_time:
        last += 1
    return last


class _Run:
    """The calls of one run, as su55if-host makes them: SU55IF_DEFST for the
    stage in force, the timing for that stage, the decoding of its code."""

    def __init__(self, cycle: Cycle, library: Library, twin: bool):
        self.cycle = cycle
        self.library = library
        self.twin = twin
        self.clock = _StageClock()

    def define(self, time: float, stage: int, reference: float):
        durations = self.cycle.durations
        return self.library.define_stages(durations, durations, 0.0, time, float(stage), reference)

    def settings(self, schedule, stop_time, output_interval) -> tuple:
        """The stop time and output interval: as given, else the host's
        defaults; ValueError, as the host words it, when they cannot be used."""
        name = _printable(self.cycle.name)
        cycle = schedule.cycle_duration
        if math.isinf(cycle):
            raise ValueError(
                f"{name}: the stage durations add up to more than the largest number, so the cycle duration "
                "overflows to infinity"
            )
        if not cycle > 0.0:
            raise ValueError(f"{name}: the cycle duration is {readable(cycle)}: a run needs a cycle longer than 0")
        self.given = (stop_time is not None, output_interval is not None)
        if stop_time is None:
            stop_time = 2.0 * cycle
            if math.isinf(stop_time):
                raise ValueError(f"{name}: two cycles, the default stop time, overflow to infinity: give stop_time")
        if output_interval is None:
            output_interval = min((d for d in schedule.durations if d > 0.0), default=0.0) / 20.0
            if not 0.0 < output_interval < math.inf:
                raise ValueError(
                    f"{name}: the default output interval, 1/20 of the shortest stage, is not a usable number: "
                    "give output_interval"
                )
        stop_time, output_interval = float(stop_time), float(output_interval)
        if not stop_time / cycle < MAX_CYCLES:
            raise ValueError(
                f"{name}: the run would pass more than {readable(MAX_CYCLES)} cycles, where stage starts can no "
                "longer be told apart: lower the stop time"
            )
        return stop_time, output_interval

    def timeline(self, stop_time, output_interval) -> "Timeline":
        for name, value in (("stop_time", stop_time), ("output_interval", output_interval)):
            if value is not None and not isinstance(value, numbers.Real):
                raise TypeError(f"{name} must be a number, not {type(value).__name__}")
            if value is not None and not 0.0 < value < math.inf:
                raise ValueError(f"{name} must be a finite number greater than 0, not {value!r}")
        schedule = self.define(0.0, 1, 0.0)
        stop_time, output_interval = self.settings(schedule, stop_time, output_interval)
        given = (
            (f"stop_time {readable(stop_time)}" if self.given[0] else f"the default stop time {readable(stop_time)} (two cycles)")
            + " and "
            + (
                f"output_interval {readable(output_interval)}"
                if self.given[1]
                else f"the default output interval {readable(output_interval)} (1/20 of the shortest stage)"
            )
        )
        last = _last_step(stop_time, output_interval, given)
        scheduled = schedule.durations
        try:
            self.clock.reset(scheduled, 1, (0.0, 0.0))
        except ValueError as error:
            raise ValueError(f"{self.cycle.name}: cannot run the cycle: {error}") from None

        timing = self.library.interaction_timing_twin if self.twin else self.library.interaction_timing
        decode = self.library.decode_action_twin if self.twin else self.library.decode_action
        partners = self.cycle.partners
        rows = []
        for step in range(last + 1):
            time = float(step) * output_interval
            self.clock.advance_to(time)
            stage, start = self.clock.stage, self.clock.start
            defined = self.define(time, stage, start[0])
            if defined.durations != scheduled:
                # The durations changed: the stage in force keeps its start.
                scheduled = defined.durations
                try:
                    self.clock.reset(scheduled, stage, start)
                except ValueError as error:
                    raise ValueError(f"{self.cycle.name}: at time {readable(time)}, {error}") from None
                self.clock.advance_to(time)
                if self.clock.stage != stage or self.clock.start[0] != start[0]:
                    defined = self.define(time, self.clock.stage, self.clock.start[0])
            delays = timing(partners, float(self.clock.stage), time)
            flags = decode(delays.action_code)
            rows.append((time, self.clock.stage, defined.elapsed) + tuple(delays) + tuple(flags))
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
