"""The prepared call frame: the fourteen arguments of one procedure laid out
once for given vector lengths and kept, as a simulator keeps a block's
arguments, so that a repeated call only writes its inputs, calls and reads
its outputs."""

from __future__ import annotations

import ctypes
import functools
import math
import operator
from typing import TYPE_CHECKING, Any, Optional

from ._arguments import _NOT_VECTORS, _Buffer, _Double, _explain, _is_array, _vector_length, numpy
from ._capture import _records
from ._description import Procedure
from ._errors import FATAL, SimulationTerminated

if TYPE_CHECKING:
    from ._library import Library

_Int = ctypes.c_int


def _packed(lengths: list) -> tuple:
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

    def __init__(self, library: "Library", procedure: Procedure, input_lengths: list, output_lengths: list):
        self.library = library
        self.procedure = procedure
        self.function = library._functions[procedure.name]
        self.result_type = library._result_types[procedure.name]
        self.capture = library._capture if procedure.reads_stage_table else None
        in_offsets, in_total = _packed(input_lengths)
        out_offsets, out_total = _packed(output_lengths)
        self.inputs = (_Double * max(in_total, 1))()
        self.outputs = (_Double * max(out_total, 1))()
        self.status = _Int(0)
        self.mode = _Double(0.0)
        self.workspace = (_Double * max(procedure.workspace, 1))()
        self.arguments = (
            self.inputs,
            (_Int * len(input_lengths))(*input_lengths),
            self.outputs,
            (_Int * len(output_lengths))(*output_lengths),
            (_Int * len(in_offsets))(*in_offsets),
            (_Int * len(out_offsets))(*out_offsets),
            ctypes.byref(self.status),
            None,
            self.workspace,
            ctypes.byref(_Int(procedure.workspace)),
            (_Double * 1)(),
            ctypes.byref(_Int(0)),
            ctypes.byref(_Int(0)),
            ctypes.byref(self.mode),
        )
        self.output_lengths = output_lengths
        # invoke(): the call with these arguments, returning what it printed
        # (a procedure that cannot stop a run is not captured: None).
        if self.capture is None:
            self.invoke = functools.partial(self.function, *self.arguments)
        else:
            self.invoke = functools.partial(self.capture.call, self.function, self.arguments, self.status)
        # Inputs are written run by run: each vector alone, consecutive
        # scalars together, so that the scalars of a call are one slice
        # assignment: (first position, cells, positions of a scalar run or
        # None for a vector).
        runs = []
        for argument, offset, length in zip(procedure.inputs, in_offsets, input_lengths):
            start = offset - 1
            if argument.is_vector or not runs or runs[-1][2]:
                runs.append([argument.position, argument.position + 1, argument.is_vector, start, start + length])
            else:
                runs[-1][1] += 1
                runs[-1][4] += 1
        self.plan = tuple(
            (first, slice(start, stop), None if is_vector else slice(first, last))
            for first, last, is_vector, start, stop in runs
        )
        if len(self.plan) == 1 and self.plan[0][2] is not None:
            self.load = self._load_scalars
        self.output_slices = [
            (offset - 1, offset - 1 + length if argument.is_vector else None)
            for argument, offset, length in zip(procedure.outputs, out_offsets, output_lengths)
        ]
        self.unwritten = [math.nan] * out_total
        self._view = None
        self.result = self._result_reader()

    def _load_scalars(self, values) -> None:
        """load() for a procedure whose inputs are all scalars: one assignment."""
        self.inputs[:] = values

    def load(self, values) -> None:
        """Writes the inputs, taking lists and tuples as they come: a value of
        another kind is checked, and a vector of another length than the
        frame's, or anything that is not a number, raises TypeError or
        ValueError without saying which (fill() does)."""
        inputs = self.inputs
        for position, cells, scalars in self.plan:
            if scalars is not None:
                inputs[cells] = values[scalars]
                continue
            value = values[position]
            if value.__class__ is list or value.__class__ is tuple:
                inputs[cells] = value
            elif _is_array(value):
                if value.ndim != 1 or value.dtype.kind not in "biuf" or len(value) != cells.stop - cells.start:
                    raise ValueError
                if self._view is None:
                    self._view = numpy.frombuffer(self.inputs, dtype=numpy.float64)
                self._view[cells] = value
            elif isinstance(value, _NOT_VECTORS) or not hasattr(value, "__getitem__"):
                raise TypeError
            else:
                inputs[cells] = value

    def fill(self, values, where: str) -> None:
        """load(), whose TypeError or ValueError names the input at fault."""
        try:
            self.load(values)
        except (TypeError, ValueError, OverflowError):
            for argument in self.procedure.inputs:
                value = values[argument.position]
                if argument.is_vector:
                    _vector_length(value, f"{where}: {argument.keyword}")
                _explain(f"{where}: {argument.keyword}", value, argument.is_vector)
            raise

    def call_scalars(self, values, where: str) -> None:
        """fill() and call() written out in one, for a frame of scalar inputs
        that cannot stop a run: the speed path (see Library._method)."""
        try:
            self.inputs[:] = values
        except (TypeError, ValueError, OverflowError):
            self.fill(values, where)
            raise
        self.status.value = 0
        self.function(*self.arguments)

    def settle(self, output) -> None:
        """After a call that printed or stopped the run: raises
        SimulationTerminated on status 4 with the records, else passes the
        output on."""
        if self.status.value == FATAL:
            raise SimulationTerminated(self.procedure.name, _records(output or b""))
        self.capture.pass_on(output)

    def call_with(self, mode: float, derivatives: Optional[_Buffer], workspace: Optional[_Buffer]) -> int:
        """call() with a call mode, a caller's derivative block or workspace."""
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
            self.outputs[: len(self.unwritten)] = self.unwritten
        self.status.value = 0
        try:
            if self.capture is None:
                self.function(*arguments)
            else:
                output = self.capture.call(self.function, arguments, self.status)
                if output or self.status.value == FATAL:
                    self.settle(output)
        finally:
            for buffer in (derivatives, workspace):
                if buffer is not None:
                    buffer.write_back()
        return self.status.value

    def output(self, k: int):
        start, stop = self.output_slices[k]
        if stop is None:
            return self.outputs[start]
        if self.library.numpy:
            return numpy.frombuffer(self.outputs, dtype=numpy.float64)[start:stop].copy()
        return tuple(self.outputs[start:stop])

    def _result_reader(self):
        """result(): the outputs as the method returns them, the value of a
        single output, else the procedure's result type; read in one slice
        where the outputs are all scalars."""
        outputs, result_type, new = self.outputs, self.result_type, tuple.__new__
        if result_type is None:
            start, stop = self.output_slices[0]
            return functools.partial(outputs.__getitem__, start) if stop is None else lambda: self.output(0)
        if all(stop is None for _, stop in self.output_slices):
            count = len(self.output_slices)
            return lambda: new(result_type, outputs[:count])
        if not self.library.numpy:
            # Vectors as tuples: picked from a tuple of all the outputs at once.
            pick = operator.itemgetter(*[start if stop is None else slice(start, stop) for start, stop in self.output_slices])
            total = len(self.unwritten)
            return lambda: new(result_type, pick(tuple(outputs[:total])))
        slices = self.output_slices
        return lambda: new(result_type, [outputs[start] if stop is None else self.output(k) for k, (start, stop) in enumerate(slices)])
