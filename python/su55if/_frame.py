"""The prepared call frame: the fourteen arguments of one procedure laid out
once for given vector lengths and kept, as a simulator keeps a block's
arguments, so that a repeated call only writes its inputs, calls and reads
its outputs."""

from __future__ import annotations

import ctypes
import functools
import math
import operator
import struct
from collections.abc import Callable, Sequence
from typing import Any, Optional

from ._arguments import _NOT_VECTORS, _Buffer, _Double, _explain, _is_array, _vector_length, numpy
from ._capture import _Capture, _records
from ._description import Procedure
from ._errors import FATAL, SimulationTerminated

_Int = ctypes.c_int
_new = tuple.__new__
# Frame.run()'s answer to inputs that do not fit the frame.
MISFIT = object()


def _packed(lengths: list[int]) -> tuple[list[int], int]:
    """1-based offsets of arguments placed one after another, and the total."""
    offsets, next_cell = [], 1
    for length in lengths:
        offsets.append(next_cell)
        next_cell += length
    return offsets, next_cell - 1


class _Frame:
    """One procedure's fourteen arguments for given vector lengths, inputs and
    outputs packed one after another as a simulator lays them out, kept
    between calls."""

    def __init__(
        self,
        procedure: Procedure,
        function: Any,
        result_type: Optional[type],
        capture: Optional[_Capture],
        arrays: bool,
        input_lengths: list[int],
        output_lengths: list[int],
        own_workspace: bool = False,
    ) -> None:
        """function: the procedure's ctypes function; result_type: the named
        tuple of its outputs (None for one output); capture: where its
        diagnostics go, for a procedure that uses the stage table; arrays:
        vector outputs as NumPy arrays."""
        self.procedure = procedure
        self.function = function
        self.result_type = result_type
        self.capture = capture if procedure.reads_stage_table else None
        self.arrays = arrays
        # run() needs nothing of the caller's but the inputs: a procedure
        # with a workspace is run() only on a frame that keeps its own.
        self.plain = not procedure.workspace or own_workspace
        in_offsets, in_total = _packed(input_lengths)
        out_offsets, out_total = _packed(output_lengths)
        self.inputs = (_Double * max(in_total, 1))()
        self.outputs = (_Double * max(out_total, 1))()
        self.status = _Int(0)
        self.mode = _Double(0.0)
        self.workspace = (_Double * max(procedure.workspace, 1))()
        # Every argument a reference made once: ctypes converts an array
        # afresh at every call, a reference as it is.
        own: tuple[Any, ...] = (
            self.inputs,
            (_Int * len(input_lengths))(*input_lengths),
            self.outputs,
            (_Int * len(output_lengths))(*output_lengths),
            (_Int * len(in_offsets))(*in_offsets),
            (_Int * len(out_offsets))(*out_offsets),
            self.status,
        )
        self.arguments: tuple[Any, ...] = tuple(ctypes.byref(cells) for cells in own) + (
            None,
            ctypes.byref(self.workspace),
            ctypes.byref(_Int(procedure.workspace)),
            ctypes.byref((_Double * 1)()),
            ctypes.byref(_Int(0)),
            ctypes.byref(_Int(0)),
            ctypes.byref(self.mode),
        )
        # invoke(): the call with these arguments; what it printed, when it
        # printed or stopped the run, for settle(), else None.
        if self.capture is None:
            self.invoke: Callable[[], Optional[bytes]] = functools.partial(self.function, *self.arguments)
        else:
            self.invoke = self.capture.invoker(self.function, self.arguments, self.status)
        # write() writes the inputs run by run, each run one slice
        # assignment: a vector alone, consecutive scalars together.
        # (cells, pick): the run's cells, and values[pick] its value (a
        # slice of the values for scalars).
        runs: list[list[Any]] = []
        for argument, offset, length in zip(procedure.inputs, in_offsets, input_lengths):
            start = offset - 1
            if argument.is_vector or not runs or runs[-1][2]:
                runs.append([argument.position, argument.position + 1, argument.is_vector, start, start + length])
            else:
                runs[-1][1] += 1
                runs[-1][4] += 1
        self.plan = tuple(
            (slice(start, stop), first if is_vector else slice(first, last))
            for first, last, is_vector, start, stop in runs
        )
        self.output_slices = [
            (offset - 1, offset - 1 + length if argument.is_vector else None)
            for argument, offset, length in zip(procedure.outputs, out_offsets, output_lengths)
        ]
        self.unwritten = [math.nan] * out_total
        self._view: Any = None
        self.read = self._reader()

    def write(self, values: Sequence[Any]) -> bool:
        """Writes the inputs when they fit this frame, taking lists and
        tuples as they come and checking values of other kinds. False, with
        the inputs partly written, for a vector of another length than the
        frame's or anything that is not a number (fill() says which)."""
        inputs = self.inputs
        try:
            for cells, pick in self.plan:
                value = values[pick]
                if value.__class__ is tuple or value.__class__ is list:
                    inputs[cells] = value
                else:
                    self._load_vector(cells, value)
        except (TypeError, ValueError, OverflowError):
            return False
        return True

    def _load_vector(self, cells: slice, value: Any) -> None:
        """A vector input that is not a list or a tuple."""
        if _is_array(value):
            if value.ndim != 1 or value.dtype.kind not in "biuf" or len(value) != cells.stop - cells.start:
                raise ValueError
            if self._view is None:
                self._view = numpy.frombuffer(self.inputs, dtype=numpy.float64)
            self._view[cells] = value
        elif isinstance(value, _NOT_VECTORS) or not hasattr(value, "__getitem__"):
            raise TypeError
        else:
            self.inputs[cells] = value

    def fill(self, values: Sequence[Any], where: str) -> None:
        """Writes the inputs, or raises the TypeError or ValueError that
        names the input at fault."""
        if self.write(values):
            return
        for argument in self.procedure.inputs:
            value = values[argument.position]
            if argument.is_vector:
                _vector_length(value, f"{where}: {argument.keyword}")
            _explain(f"{where}: {argument.keyword}", value, argument.is_vector)
        raise ValueError(f"{where}: the inputs do not fit the call")

    def run(self, values: Sequence[Any]) -> Any:
        """The call with these inputs and no call mode, derivative block or
        workspace of the caller's: result(), or MISFIT, before any call, for
        inputs that do not fit this frame."""
        if not self.write(values):
            return MISFIT
        output = self.invoke()
        if output is not None:
            self.settle(output)
        return self.result()

    def result(self) -> Any:
        """The outputs as the method returns them: the value of a single
        output, else the procedure's result type."""
        return self.read() if self.result_type is None else _new(self.result_type, self.read())

    def settle(self, output: bytes) -> None:
        """After a call that printed or stopped the run: raises
        SimulationTerminated on status 4 with the records, else passes what
        it printed on."""
        assert self.capture is not None
        if self.status.value == FATAL:
            raise SimulationTerminated(self.procedure.name, _records(output))
        self.capture.pass_on(output)

    def call_with(self, mode: float, derivatives: Optional[_Buffer], workspace: Optional[_Buffer]) -> int:
        """The call, on inputs fill() wrote, with a call mode, a caller's
        derivative block or workspace; returns the status."""
        arguments = list(self.arguments)
        if workspace is not None:
            arguments[8] = workspace.cells
        if derivatives is not None:
            arguments[10] = derivatives.cells
            arguments[11] = ctypes.byref(_Int(derivatives.shape[0]))
            arguments[12] = ctypes.byref(_Int(derivatives.shape[1]))
        arguments[13] = ctypes.byref(_Double(mode))
        if mode != 0.0:
            # Outputs that this call mode does not write read as NaN.
            self.outputs[: len(self.unwritten)] = self.unwritten  # type: ignore[assignment]
        self.status.value = 0
        try:
            if self.capture is None:
                self.function(*arguments)
            else:
                output = self.capture.call(self.function, arguments, self.status)
                if output is not None:
                    self.settle(output)
        finally:
            for buffer in (derivatives, workspace):
                if buffer is not None:
                    buffer.write_back()
        return self.status.value

    def output(self, k: int) -> Any:
        start, stop = self.output_slices[k]
        if stop is None:
            return self.outputs[start]
        if self.arrays:
            return numpy.frombuffer(self.outputs, dtype=numpy.float64)[start:stop].copy()
        return tuple(self.outputs[start:stop])

    def _reader(self) -> Callable[[], Any]:
        """read(): the value of a single output, else the values of the
        result type's fields; C's own code where the outputs are scalars."""
        outputs = self.outputs
        if self.result_type is None:
            start, stop = self.output_slices[0]
            if stop is None:
                return functools.partial(outputs.__getitem__, start)
            return lambda: self.output(0)
        if all(stop is None for _, stop in self.output_slices):
            return functools.partial(struct.Struct(f"{len(self.output_slices)}d").unpack_from, outputs)
        if not self.arrays:
            # Vectors as tuples: picked from a tuple of all the outputs at once.
            pick = operator.itemgetter(*[start if stop is None else slice(start, stop) for start, stop in self.output_slices])
            total = len(self.unwritten)
            return lambda: pick(tuple(outputs[:total]))
        slices = self.output_slices
        return lambda: [outputs[start] if stop is None else self.output(k) for k, (start, stop) in enumerate(slices)]
