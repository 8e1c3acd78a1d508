"""The header and the records of a sample stream (su55if-host run --format
binary, docs/host.md), each field checked for its type and range before the
package uses it. What is not as the host writes it is refused with a
ValueError that names the field: "samples is -1, not a whole number from 0
to 9,007,199,254,740,992"."""

from __future__ import annotations

import json
import re
from collections.abc import Callable
from typing import Any

# The longest header line read; the engine bounds the names it carries so
# that the largest header it writes fits (kMaxNameBytes and
# kMaxCycleNameBytes, tools/engine/cycle.h).
HEADER_LIMIT = 1 << 20
VERSION = 2
# How the CSV writes a value: printf's %.Ng, %.Ne or %.Nf, N at most 17.
_NUMBER_FORMAT = re.compile(r"%\.(1[0-7]|[0-9])[gGeEf]")

Check = Callable[[Any, str], Any]


def _shown(value: Any) -> str:
    if isinstance(value, (dict, list)):
        return "an object" if isinstance(value, dict) else "a list"
    text = repr(value) if not isinstance(value, int) or abs(value) < 10**30 else f"a number of {len(str(value))} digits"
    return text if len(text) <= 40 else text[:37] + "..."


def _fault(where: str, value: Any, wanted: str) -> ValueError:
    return ValueError(f"{where} is {_shown(value)}, not {wanted}")


def _text(value: Any, where: str) -> str:
    if not isinstance(value, str):
        raise _fault(where, value, "a text")
    return value


def _flag(value: Any, where: str) -> bool:
    if not isinstance(value, bool):
        raise _fault(where, value, "true or false")
    return value


def _number(value: Any, where: str) -> float:
    """A finite number (a JSON integer or fraction)."""
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not -1e308 < value < 1e308:
        raise _fault(where, value, "a finite number")
    return float(value)


def _whole(low: int, high: int) -> Check:
    def check(value: Any, where: str) -> int:
        if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
            raise _fault(where, value, f"a whole number from {low:,} to {high:,}")
        return value
    return check


def _or_null(field: Check) -> Check:
    return lambda value, where: None if value is None else field(value, where)


def _exactly(expected: Any) -> Check:
    def check(value: Any, where: str) -> Any:
        if type(value) is not type(expected) or value != expected:
            raise _fault(where, value, repr(expected))
        return value
    return check


def _list(item: Check, at_least: int = 0) -> Check:
    def check(value: Any, where: str) -> list[Any]:
        if not isinstance(value, list) or len(value) < at_least:
            raise _fault(where, value, f"a list of {at_least} or more" if at_least else "a list")
        return [item(entry, f"{where}[{k}]") for k, entry in enumerate(value)]
    return check


def _object(fields: dict[str, Check], optional: tuple[str, ...] = ()) -> Check:
    """An object with `fields` (those in `optional` may be left out); other keys are passed over."""
    def check(value: Any, where: str) -> dict[str, Any]:
        if not isinstance(value, dict):
            raise _fault(where or "the header", value, "an object")
        checked = {}
        for key, field in fields.items():
            name = f"{where}.{key}" if where else key
            if key in value:
                checked[key] = field(value[key], name)
            elif key not in optional:
                raise ValueError(f"{name} is missing")
        return checked
    return check


def _number_format(value: Any, where: str) -> str:
    if not isinstance(value, str) or not _NUMBER_FORMAT.fullmatch(value):
        raise _fault(where, value, "a printf format of a number of at most 17 digits (%.17g)")
    return value


_WHOLE = _whole(-2**53, 2**53)
_MARK = _object({"colour": _text, "dash": _text})
_CHART = _object({
    "from": _number, "to": _number, "firstCycles": _whole(0, 2**53), "runCycles": _number,
    "maxMarks": _whole(0, 2**53), "procedures": _list(_text), "title": _text,
    "links": _list(_object({"from": _WHOLE, "to": _WHOLE, "bothWays": _flag, "negative": _flag, "label": _text})),
    "stageColours": _list(_text, 1),
    "series": _list(_object({"name": _text, "colour": _text, "dash": _text})),
    "marks": _object({"cycleStart": _MARK, "schedule": _MARK, "linkDrift": _MARK}),
    "actionCodes": _list(_object({"codes": _text, "meaning": _text})),
}, optional=("firstCycles", "runCycles"))
_HEADER = _object({
    "format": _exactly("su55if-samples"), "version": _exactly(VERSION), "value": _exactly("float64-le"),
    "columns": _list(_text, 4), "samples": _or_null(_whole(0, 2**53)),
    "csvNumber": _number_format, "csvStageName": _object({"column": _text, "fields": _list(_text, 1)}),
    "chart": _CHART,
}, optional=("csvStageName",))
_DURATION = _or_null(_number)  # null: not finite
_RECORDS = {
    "schedule": _object({"time": _number, "cycleDuration": _DURATION, "durations": _list(_DURATION),
                         "changed": _list(_object({"stage": _WHOLE, "from": _DURATION, "to": _DURATION}))},
                        optional=("changed",)),
    "cycleStart": _object({"time": _number}),
    "linkDrift": _object({"time": _number}),
}


def _document(text: bytes) -> Any:
    try:
        return json.loads(text)
    except RecursionError:
        raise ValueError("its JSON is nested too deeply") from None
    except ValueError as error:
        raise ValueError(f"not JSON: {error}") from None


def read_header(line: bytes) -> dict[str, Any]:
    """The header line's fields, checked; raises ValueError naming the first at fault."""
    if not line.endswith(b"\n"):
        raise ValueError(f"no line of at most {HEADER_LIMIT:,} bytes" if len(line) >= HEADER_LIMIT else
                         "the stream ends before the header's line does")
    header: dict[str, Any] = _HEADER(_document(line), "")
    return header


def read_record(text: bytes) -> tuple[str, dict[str, Any]]:
    """A record of the run among the samples: its kind and its fields,
    checked (a kind this package does not use has none)."""
    record = _document(text)
    if not isinstance(record, dict):
        raise _fault("the record", record, "an object")
    kind = record.get("record", record.get("warning"))
    if not isinstance(kind, str) or kind not in _RECORDS:
        return "", {}
    return kind, _RECORDS[kind](record, kind)
