"""What the procedures give back: their outputs by name."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any, NamedTuple

# A vector output: a tuple of floats, or a NumPy array with load(numpy=True).
VectorOut = Sequence[float]


class Schedule(NamedTuple):
    """SU55IF_DEFST's outputs."""

    durations: VectorOut
    stage_duration: float
    next_duration: float
    elapsed: float
    cycle_duration: float


class Timing(NamedTuple):
    """SU55IF_INTTIM's and SU55IF_IINTTIM's outputs."""

    delay_for_code2: float
    delay_for_code1: float
    action_code: float


class ActionFlags(NamedTuple):
    """SU55IF_ACTYP's outputs: 1.0 for the code given, else 0.0."""

    code1: float
    code2: float
    code_minus2: float
    code_minus1: float


class TwinActionFlags(NamedTuple):
    """SU55IF_IACTYP's outputs: as ActionFlags, without code_minus1."""

    code1: float
    code2: float
    code_minus2: float


class Call(NamedTuple):
    """Library.call()'s result: the outputs by the manual's names, and the status."""

    outputs: dict[str, Any]
    status: int
