"""The package's exceptions and warnings."""

from __future__ import annotations

from collections.abc import Iterable, Sequence
from typing import Any

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
    """A cycle, input or events file that cannot be read or is not valid.
    The message is the host's: it names the file and, where there is one,
    the line and column of the fault."""


class LinkDriftWarning(RuntimeWarning):
    """Two linked stages came to last differently during a run: the run
    goes on, but one that starts with these durations is stopped."""


class LibraryVersionWarning(RuntimeWarning):
    """The library loaded is of another version than the package: the
    message names the file and why it was the one loaded."""


for _public in (SimulationTerminated, CycleFileError, LinkDriftWarning, LibraryVersionWarning):
    _public.__module__ = "su55if"
