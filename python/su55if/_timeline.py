"""The samples of a cycle run, as su55if-host gives them in its sample
stream (run --format binary, docs/host.md): kept by column, 8 bytes a value."""

from __future__ import annotations

import math
import re
import sys
import warnings
from array import array
from collections import namedtuple
from collections.abc import Iterator
from functools import lru_cache
from pathlib import Path
from typing import IO, TYPE_CHECKING, Any, NamedTuple, Optional, Union, overload

from . import _description
from ._arguments import numpy
from ._files import _install_hint
from ._memory import VALUE_SIZE, available_memory, out_of_memory, past_bound, too_large
from ._stream import HEADER_LIMIT, read_header, read_record

if TYPE_CHECKING:
    from ._cycle import Cycle

    class Row(tuple[float, ...]):
        """A sample: a named tuple with a field per column of the run
        (Timeline.Row is the run's own type): row.time, row.stage (an
        int), row.elapsed, row.action_code, ..."""

        _fields: tuple[str, ...]

        def __new__(cls, *values: float) -> Row: ...

        def __getattr__(self, name: str) -> float: ...

        def _asdict(self) -> dict[str, float]: ...

_READ_SIZE = 1 << 20
_RECORD_LIMIT = 1 << 24  # bytes of one record of the run


class ScheduleChange(NamedTuple):
    """A schedule that took effect during a run: from `time` on, the stage
    durations `durations` and the cycle duration `cycle_duration`. (The
    result of define_stages() is a Schedule.)"""

    time: float
    cycle_duration: float
    durations: tuple[float, ...]


def _snake_case(name: str) -> str:
    return re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", name).lower()


@lru_cache(maxsize=None)
def _old_names(library_path: Optional[str]) -> dict[str, str]:
    """The earlier Row field names (the procedure description's keyword of
    each output) by the CSV column they name, where they differ."""
    try:
        procedures = _description.read_description(_description.find_description(library_path))
    except _description.DescriptionError:
        return {}
    return {a.name: a.keyword for p in procedures.values() for a in p.outputs if a.keyword != _snake_case(a.name)}


def _row_type(columns: tuple[str, ...], old_names: dict[str, str]) -> type:
    """A named tuple of the columns in snake case (recordedDuration is
    recorded_duration), the earlier names kept as aliases that warn."""
    fields = tuple(_snake_case(name) for name in columns)
    aliases = {old_names[name]: field for name, field in zip(columns, fields)
               if name in old_names and old_names[name] not in fields}
    base = namedtuple("Row", fields, rename=True)  # type: ignore[misc]

    def __getattr__(self: Any, name: str) -> Any:
        if name in aliases:
            warnings.warn(f"Row.{name} is deprecated: it is Row.{aliases[name]}, after the CSV column",
                          DeprecationWarning, stacklevel=2)
            return getattr(self, aliases[name])
        raise AttributeError(f"'Row' object has no attribute {name!r}")

    return type("Row", (base,), {"__slots__": (), "__getattr__": __getattr__, "__module__": "su55if"})


class Timeline:
    """The samples of a cycle run, as su55if-host computed them: one row
    per time, with the columns of its CSV timeline (`columns`). A sequence
    of named tuples (`Row`: a field per column, in snake case); column()
    gives one column without a copy, to_csv() the host's CSV text,
    to_numpy() a structured array over the same memory, plot() a Matplotlib
    figure. `schedules` lists each schedule in force and the time it took
    effect. stop_time, output_interval and time_unit are the settings given
    to run() (None for the host's defaults)."""

    def __init__(self, cycle: Cycle, stop_time: Optional[float], output_interval: Optional[float], twin: bool,
                 library: Any, host: Path, time_unit: Optional[str] = None) -> None:
        self.cycle = cycle
        self.stop_time = stop_time
        self.output_interval = output_interval
        self.twin = twin
        self.time_unit = time_unit
        self._library = library
        self._host = host
        self.columns: tuple[str, ...] = ()
        self.Row: type[Row] = tuple  # type: ignore[assignment]  # the run's own, once its columns are known
        self.schedules: list[ScheduleChange] = []
        self._durations: dict[tuple[float, ...], tuple[float, ...]] = {}
        # What the host's chart knows of the run: its facts before the run
        # (the part shown by default, title, links, colours, mark limit), the
        # stages each schedule change changed, the cycle starts, the parted links.
        self._chart: dict[str, Any] = {}
        self._changed: list[list[dict[str, Any]]] = []
        self._cycle_starts = array("d")
        self._drifts: list[dict[str, Any]] = []
        self._values = array("d")  # column k in [k * capacity, k * capacity + count)
        self._capacity = 0  # grows as the samples come
        self._announced: Optional[int] = None  # the most the header says the run makes; None: unknown
        self._bound: Optional[int] = None  # else the most the memory free holds, if known
        self._count = 0
        self._number = "%.17g"
        self._stage_column = ""  # the CSV's last column, naming the stage, when the cycle names its stages
        self._stage_names: list[str] = []  # each stage's field in it

    @property
    def chart_window(self) -> dict[str, Any]:
        """The part of the run the host's chart shows by default: {"from", "to"}."""
        return {key: self._chart[key] for key in ("from", "to") if key in self._chart}

    # --- reading the sample stream ---------------------------------------------------------

    def _read(self, stream: IO[bytes]) -> Optional[str]:
        """Reads the host's sample stream; what is wrong with it, or None."""
        line = stream.readline(HEADER_LIMIT)
        try:
            header = read_header(line)
        except ValueError as error:
            return f"wrote no usable sample-stream header ({error}): {line[:200]!r}"
        columns = self.columns = tuple(header["columns"])
        capacity = self._announced = header["samples"]
        self._number = header["csvNumber"]
        named = header.get("csvStageName", {"column": "", "fields": []})
        self._stage_column, self._stage_names = named["column"], named["fields"]
        self._chart = header["chart"]
        library = getattr(self._library, "path", self._library)
        self.Row = _row_type(columns, _old_names(None if library is None else str(library)))
        if capacity is not None:
            too_much = too_large(capacity, len(columns), "the run")
            if too_much is not None:
                raise too_much
        else:  # a run to the end of a cycle: as many samples as the memory free holds, no more
            available = available_memory()
            self._bound = None if available is None else available // (VALUE_SIZE * len(columns))
        pending = bytearray()
        read = getattr(stream, "read1", stream.read)
        while True:
            chunk = read(_READ_SIZE)
            if not chunk:
                break
            pending += chunk
            try:
                used = self._take(pending)
            except ValueError as error:
                return str(error)
            del pending[:used]
        if pending:
            return f"its sample stream ends within a row ({len(pending)} bytes left over)"
        self._relayout(self._count)  # no room kept beyond the samples
        return None

    def _take(self, data: bytearray) -> int:
        """Takes the whole rows at the start of `data` into the columns;
        returns the bytes used. A row whose time is NaN is followed by a
        record of the run, JSON text of the length its second value gives:
        taken whole or not yet."""
        width = len(self.columns)
        row_size = 8 * width
        values = array("d")
        values.frombytes(memoryview(data)[: len(data) - len(data) % row_size])
        if sys.byteorder == "big":
            values.byteswap()
        rows, row = len(values) // width, 0
        while row < rows:
            times = values[row * width :: width]
            total = sum(times)
            if total == total:  # no NaN among them: all samples
                self._store(values, row, rows)
                return rows * row_size
            marker = row + next(k for k, time in enumerate(times) if time != time)
            self._store(values, row, marker)
            length = values[marker * width + 1]
            if not 0 <= length <= _RECORD_LIMIT or length != int(length):
                raise ValueError(f"its sample stream announces a record of {length} bytes")
            after = marker + 1 + -(-int(length) // row_size)
            if after > rows:
                return marker * row_size  # the rest when it comes
            start = (marker + 1) * row_size
            try:
                kind, record = read_record(bytes(data[start : start + int(length)]))
            except ValueError as error:
                raise ValueError(f"its sample stream holds a record that is not one ({error})") from None
            self._note(kind, record)
            row = after
        return rows * row_size

    def _note(self, kind: str, record: dict[str, Any]) -> None:
        """A record of the run among the samples (read_record()'s); kinds this package does not use are passed over."""
        if kind == "schedule":
            # Inputs that switch between the same durations again and again
            # share one tuple of them, not a copy per change.
            durations = tuple(math.nan if d is None else d for d in record["durations"])
            durations = self._durations.setdefault(durations, durations)
            duration = record["cycleDuration"]
            self.schedules.append(ScheduleChange(record["time"], math.nan if duration is None else duration, durations))
            self._changed.append(record.get("changed", []))
        elif kind == "cycleStart":
            self._cycle_starts.append(record["time"])
        elif kind == "linkDrift":
            self._drifts.append(record)

    def _store(self, values: array[float], first: int, stop: int) -> None:
        """Rows first..stop-1 of `values` into the columns."""
        count = stop - first
        if count <= 0:
            return
        width, at, announced = len(self.columns), self._count, self._announced
        if announced is not None and at + count > announced:
            raise ValueError(f"its sample stream holds more than the {announced} samples its header announced")
        if self._bound is not None and at + count > self._bound:
            raise ValueError(past_bound(self._bound, width))
        stages = values[first * width + 1 : stop * width : width]
        last = len(self._stage_names) if self._stage_names else 2**31
        total = sum(stages)
        if not (total == total and min(stages) >= 1 and max(stages) <= last):  # the usual case at C speed
            stage = next(stage for stage in stages if not 1 <= stage <= last)
            known = f"1 to {last}" if self._stage_names else "1 or more"
            raise ValueError(f"its sample stream holds a sample of stage {stage:g}, not a stage of the cycle ({known})")
        if at + count > self._capacity:
            # Room for twice as many, as the samples come (never more than announced).
            wanted = max(at + count, 2 * self._capacity, 4096)
            self._relayout(wanted if announced is None else min(wanted, announced))
        capacity = self._capacity
        for k in range(width):
            base = k * capacity + at
            self._values[base : base + count] = values[first * width + k : stop * width : width]
        self._count = at + count

    def _relayout(self, capacity: int) -> None:
        """Room for `capacity` samples a column: each column moved to its
        place for the new capacity (the last first when it grows, the first
        first when it shrinks, so that none is overwritten before it moves)."""
        old, count, width = self._capacity, self._count, len(self.columns)
        if capacity == old:
            return
        values = self._values
        try:
            if capacity > old:
                values.frombytes(bytes(VALUE_SIZE * width * (capacity - old)))
            order = range(width - 1, 0, -1) if capacity > old else range(1, width)
            for k in order:
                values[k * capacity : k * capacity + count] = values[k * old : k * old + count]
        except MemoryError:
            raise out_of_memory(count, width) from None
        if capacity < old:
            del values[width * capacity :]
        self._capacity = capacity

    # --- the samples -----------------------------------------------------------------------

    def __len__(self) -> int:
        return self._count

    @overload
    def __getitem__(self, index: int) -> Row: ...

    @overload
    def __getitem__(self, index: slice) -> list[Row]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[Row, list[Row]]:
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        count = self._count
        if index < 0:
            index += count
        if not 0 <= index < count:
            raise IndexError("Timeline index out of range")
        capacity, values = self._capacity, self._values
        row = [values[k * capacity + index] for k in range(len(self.columns))]
        row[1] = int(row[1])
        return self.Row(*row)

    def __iter__(self) -> Iterator[Row]:
        return (self[i] for i in range(len(self)))

    def __repr__(self) -> str:
        return f"<su55if.Timeline of {self.cycle.name}: {len(self)} samples>"

    def column(self, name: str) -> memoryview:
        """The values of one column (by the host's name or the Row field), in
        order: a view of doubles, without a copy."""
        fields = self.Row._fields if hasattr(self.Row, "_fields") else ()
        position = self.columns.index(name) if name in self.columns else list(fields).index(name)
        start = position * self._capacity
        return memoryview(self._values)[start : start + self._count]

    def to_csv(self) -> str:
        """The CSV text su55if-host writes for this run (run --format text),
        byte for byte: each value as the header of its sample stream says the
        CSV writes it (printf's %.17g)."""
        columns = [self.column(name) for name in self.columns]
        header = ",".join(self.columns)
        if not self._stage_names:
            line = ",".join([self._number] * len(self.columns)) + "\n"
            return header + "\n" + "".join(line % row for row in zip(*columns))
        # The stage's name last, as the header of the stream gives each.
        line = ",".join([self._number] * len(self.columns)) + ",%s\n"
        names = self._stage_names
        return (f"{header},{self._stage_column}\n" +
                "".join(line % (*row, names[int(row[1]) - 1]) for row in zip(*columns)))

    def to_numpy(self) -> Any:
        """The rows as a NumPy structured array, one float64 field per Row
        field: a view of the timeline's memory, not a copy."""
        if numpy is None:
            raise ImportError(f"Timeline.to_numpy needs NumPy ({_install_hint('numpy')})")
        width, capacity = len(self.columns), max(self._capacity, 1)
        dtype = numpy.dtype({"names": list(self.Row._fields), "formats": [numpy.float64] * width,
                             "offsets": [8 * capacity * k for k in range(width)],
                             "itemsize": 8 * capacity * (width - 1) + 8})
        if not self._values:
            return numpy.empty(0, dtype=dtype)
        return numpy.ndarray((self._count,), dtype=dtype, buffer=self._values, strides=(8,))

    def plot(self, path: Any = None, *, start: Optional[float] = None, stop: Optional[float] = None,
             cycles: Optional[int] = None, time_unit: Optional[str] = None) -> Any:
        """Draws the run with Matplotlib as the host's chart (run --chart)
        draws it; see su55if._plot.plot_timeline. Saves it to `path` when
        given; returns the Figure."""
        from ._plot import plot_timeline

        return plot_timeline(self, path, start=start, stop=stop, cycles=cycles, time_unit=time_unit)


Timeline.__module__ = ScheduleChange.__module__ = "su55if"
