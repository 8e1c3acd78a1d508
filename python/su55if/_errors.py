"""The package's exceptions and warnings."""

from __future__ import annotations

from collections.abc import Iterable, Sequence
from typing import Any, Optional

FATAL = 4  # the status a procedure leaves after a diagnostic that stops the run


class SimulationTerminated(RuntimeError):
    """The library stopped the run: it printed a diagnostic and left status 4.

    ``records`` holds the lines the library printed, in order, ``Simulation
    Terminated`` among them; ``procedure`` names the procedure, or
    ``su55if-host`` for a cycle run; ``explanation`` holds what the host
    added about the fault (empty for a call from Python).
    """

    def __init__(self, procedure: str, records: Sequence[str], explanation: Iterable[str] = ()) -> None:
        self.procedure = procedure
        self.records = list(records)
        self.explanation = list(explanation)
        self.status = FATAL
        lines = "".join("\n  " + line for line in [*self.records, *self.explanation])
        super().__init__(f"{procedure} stopped the run (status {FATAL}):{lines}")

    def __reduce__(self) -> tuple[Any, ...]:
        return type(self), (self.procedure, self.records, self.explanation)


class CycleFileError(ValueError):
    """A cycle, input or events file that cannot be read or is not valid, or
    a cycle given as lists with a value at fault. The message names the file,
    line and column of the fault in a file, or the argument and element of a
    cycle given as lists (``durations[1] = -5: a duration is 0 or more``).

    ``diagnostics`` holds the engine's records, one per fault, each a dict
    with the keys ``kind`` (``"negativeDuration"``, ``"notNumber"``, ...),
    ``file``, ``line``, ``column``, ``stage``, ``field``, ``value``,
    ``rule``, ``message`` and ``fix``; the first one's are also attributes
    of the exception (None where it has none)."""

    def __init__(self, message: str, diagnostics: Sequence[dict[str, Any]] = ()) -> None:
        super().__init__(message)
        self.diagnostics = [dict(d) for d in diagnostics]
        first = self.diagnostics[0] if self.diagnostics else {}
        self.kind: Optional[str] = first.get("kind")
        self.file: Optional[str] = first.get("file")
        self.line: Optional[int] = first.get("line")
        self.column: Optional[int] = first.get("column")
        self.stage: Optional[int] = first.get("stage")
        self.field: Optional[str] = first.get("field")
        self.value: Optional[str] = first.get("value")
        self.rule: Optional[str] = first.get("rule")
        self.fix: Optional[dict[str, Any]] = first.get("fix")

    def __reduce__(self) -> tuple[Any, ...]:
        return type(self), (str(self), self.diagnostics)


class LinkDriftWarning(RuntimeWarning):
    """Two linked stages came to last differently during a run: the run
    goes on, but one that starts with these durations is stopped."""


class LibraryVersionWarning(RuntimeWarning):
    """The library loaded is of another version than the package: the
    message names the file and why it was the one loaded."""


for _public in (SimulationTerminated, CycleFileError, LinkDriftWarning, LibraryVersionWarning):
    _public.__module__ = "su55if"
