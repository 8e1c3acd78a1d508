"""Loading libsu55if.so and calling its procedures through ctypes.

Every call goes through a prepared frame (_Frame): the fourteen arguments of
one procedure laid out once for given vector lengths and kept, as a simulator
keeps a block's arguments, so a repeated call only writes its inputs, calls
and reads its outputs.
"""

from __future__ import annotations

import ctypes
import functools
import keyword
import math
import numbers
import operator
import os
from collections import namedtuple
from collections.abc import Mapping
from pathlib import Path
from typing import Optional

from . import _description
from ._arguments import (
    _MAX_LENGTH,
    _NOT_VECTORS,
    _Buffer,
    _check_mode,
    _Double,
    _explain,
    _is_array,
    _vector_length,
    numpy,
)
from ._capture import FATAL, _new_capture, _records
from ._description import REQUIRED, Procedure
from ._files import LIBRARY_FILE, _find_library, _open_library

_OPTIONS = ("mode", "derivatives", "workspace", "lengths", "twin")
_OPTION_NAMES = frozenset(_OPTIONS)

_Int = ctypes.c_int


class SimulationTerminated(RuntimeError):
    """The library stopped the run: it printed a diagnostic and left status 4.

    ``records`` holds the lines the library printed, in order, ``Simulation
    Terminated`` among them; ``procedure`` names the procedure, or
    ``su55if-host`` for a cycle run; ``explanation`` holds what the host
    added about the fault (empty for a call from Python).
    """

    def __init__(self, procedure: str, records: list, explanation=()):
        self.procedure = procedure
        self.records = records
        self.explanation = list(explanation)
        self.status = FATAL
        lines = "".join("\n  " + line for line in [*records, *self.explanation])
        super().__init__(f"{procedure} stopped the run (status {FATAL}):{lines}")

    def __reduce__(self):
        return type(self), (self.procedure, self.records, self.explanation)


# --- the prepared frame --------------------------------------------------------------------


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


# --- the library ---------------------------------------------------------------------------


# Speed: argument binding made from source (_quick_binder) instead of bind()
# below, which does the same in plain Python at about twice the cost of a
# keyword call (python/bench/overhead.py). SU55IF_PLAIN_BINDING=1 turns it off;
# the tests run both ways.
_PLAIN_BINDING = os.environ.get("SU55IF_PLAIN_BINDING") == "1"


def _quick_binder(procedure: Procedure):
    """A function that takes the procedure's inputs as Python takes
    arguments, in order or by keyword, and returns them in order with the
    defaults filled in; or None when the call is for bind() (the manual's
    names, options, an input missing). Python binds arguments far quicker
    than code written in Python can, so the function is made from source, as
    namedtuple makes its classes: source of fixed text and the inputs'
    keywords alone, each checked to be a plain name."""
    names = [argument.keyword for argument in procedure.inputs]
    for name in names:
        if not name.isidentifier() or keyword.iskeyword(name) or name.startswith("_") or names.count(name) > 1:
            raise _description.DescriptionError(f"{procedure.name}: {name!r} cannot be a keyword argument")
    namespace = {"_UNSET": REQUIRED}
    lines = [f"def bind({', '.join(name + '=_UNSET' for name in names)}, **_more):", "    if _more:", "        return None"]
    unset = []  # inputs that may still be unset after the defaults
    for argument in procedure.inputs:
        default = argument.default
        if default is REQUIRED or isinstance(default, tuple):
            unset.append(argument.keyword)
        if default is not REQUIRED:
            source = names[default[0]] if isinstance(default, tuple) else f"_default_{argument.position}"
            namespace[source] = default
            lines += [f"    if {argument.keyword} is _UNSET:", f"        {argument.keyword} = {source}"]
    if unset:
        lines += [f"    if {' or '.join(name + ' is _UNSET' for name in unset)}:", "        return None"]
    lines.append(f"    return ({', '.join(names)},)")
    exec("\n".join(lines), namespace)  # noqa: S102
    return namespace["bind"]


class Library:
    """A loaded libsu55if.so, with one method per procedure.

    The stage schedule belongs to the loaded file: every method of this
    object reads and writes the same table. load() gives each Library a
    private copy of the file by default, so two Library objects never share a
    table; load(private=False) loads the file itself, and every object loaded
    that way from one path shares its table (with any other code in the
    process that loaded that path).

    A Library keeps a prepared call frame per procedure: use one Library
    from one thread at a time (the library itself serialises calls that
    use its stage table).
    """

    def __init__(self, path: Path, private: bool = True, arrays: bool = False, description=None):
        if arrays and numpy is None:
            from ._cycle import _install_hint  # here: _cycle imports this module

            raise ImportError(f"results as NumPy arrays need NumPy ({_install_hint('numpy')})")
        self.path = Path(path)
        self.private = private
        self.numpy = arrays
        self.description = Path(description) if description else _description.find_description(str(self.path))
        self.procedures = _description.read_description(self.description)
        self._closed = True
        self._dll = _open_library(self.path, private)
        self._functions = {}
        self._result_types = {}
        for procedure in self.procedures.values():
            try:
                function = getattr(self._dll, procedure.name)
            except AttributeError:
                self._unload()
                raise OSError(
                    f"load(): {self.path} does not export {procedure.name}: it is not {LIBRARY_FILE}, "
                    f"or not one that {self.description} describes"
                ) from None
            function.restype = None
            self._functions[procedure.name] = function
            fields = [argument.keyword for argument in procedure.outputs]
            self._result_types[procedure.name] = namedtuple(procedure.result, fields) if procedure.result else None
        self._capture = _new_capture()
        self._frames = {}  # by procedure and lengths
        self._last = {}  # each procedure's frame with the default output lengths, latest used
        self._closed = False
        methods = {procedure.method: procedure for procedure in self.procedures.values()}
        try:
            for procedure in self.procedures.values():
                keywords = {argument.keyword for argument in procedure.inputs}
                if keywords.intersection(_OPTIONS) or hasattr(Library, procedure.method):
                    raise _description.DescriptionError(f"{procedure.name}: names that clash with the package's own")
                setattr(self, procedure.method, self._method(procedure, methods.get(procedure.method + "_twin")))
        except _description.DescriptionError:
            self.close()
            raise

    def __repr__(self) -> str:
        kind = "private copy of" if self.private else "shared"
        return f"<su55if.Library {kind} {self.path}>"

    def __enter__(self) -> "Library":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def close(self) -> None:
        """Unloads a private copy, and its stage table with it. Nothing may
        be called afterwards. A shared library stays loaded."""
        if self._closed:
            return
        self._closed = True
        self._frames.clear()
        self._last.clear()
        self._capture.close()
        self._unload()

    def _unload(self) -> None:
        if self.private:
            import _ctypes

            _ctypes.dlclose(self._dll._handle)

    def procedure(self, name: str) -> Procedure:
        """A procedure by its exported name (SU55IF_DEFST) or method name (define_stages)."""
        for procedure in self.procedures.values():
            if name in (procedure.name, procedure.method):
                return procedure
        raise ValueError(f"no procedure named {name!r}")

    def _prepare(self, procedure: Procedure, values, output_lengths: Mapping, where: str) -> _Frame:
        """The frame for these inputs: checks the vectors (vectors that share
        a size must have the same length) and finds or lays out the frame."""
        if self._closed:
            raise ValueError(f"{self!r} is closed")
        own = {}
        for argument in procedure.inputs:
            if argument.is_vector:
                length = _vector_length(values[argument.position], f"{where}: {argument.keyword}")
                owner = argument.length_of
                if owner == argument.position:
                    own[owner] = length
                elif length != own[owner]:
                    raise ValueError(
                        f"{where}: {argument.keyword} has {length} values but "
                        f"{procedure.inputs[owner].keyword} has {own[owner]}; they must have as many"
                    )
        input_lengths = [own[a.length_of] if a.is_vector else 1 for a in procedure.inputs]
        # An output vector has as many values as the first input vector,
        # unless the caller says otherwise.
        default = next(iter(own.values()), 0)
        own_outputs = {}
        for argument in procedure.outputs:
            if argument.length_of == argument.position:
                given = output_lengths.get(argument.keyword, output_lengths.get(argument.name, default))
                if isinstance(given, bool) or not isinstance(given, numbers.Integral) or not 0 <= given <= _MAX_LENGTH:
                    raise ValueError(f"{where}: the length of {argument.keyword} must be a whole number 0 or more")
                own_outputs[argument.position] = int(given)
        lengths = [own_outputs[a.length_of] if a.is_vector else 1 for a in procedure.outputs]
        key = (procedure.name, tuple(input_lengths), tuple(lengths))
        frame = self._frames.get(key)
        if frame is None:
            frame = self._frames[key] = _Frame(self, procedure, input_lengths, lengths)
        return frame

    def _method(self, procedure: Procedure, twin: Optional[Procedure]):
        """The method that calls `procedure`: inputs in order or by keyword
        (or by the manual's name), defaults from the description, and the
        options mode=, derivatives=, workspace=, lengths=, twin=."""
        count = len(procedure.inputs)
        where = procedure.method + "()"
        positions = {}
        for argument in procedure.inputs:
            positions[argument.keyword] = positions[argument.name] = argument.position
        library, last, name = self, self._last, procedure.name
        quick_bind = (lambda *args, **kwargs: None) if _PLAIN_BINDING else _quick_binder(procedure)

        def bind(args, kwargs) -> list:
            if len(args) > count:
                raise TypeError(f"{where} takes at most {count} inputs ({len(args)} given)")
            values = list(args) + [REQUIRED] * (count - len(args))
            for key, value in kwargs.items():
                position = positions.get(key)
                if position is None:
                    raise TypeError(f"{where} got an unexpected keyword argument {key!r}")
                if values[position] is not REQUIRED:
                    raise TypeError(f"{where} got several values for {procedure.inputs[position].keyword}")
                values[position] = value
            for argument in procedure.inputs:
                if values[argument.position] is REQUIRED:
                    default = argument.default
                    if default is REQUIRED:
                        raise TypeError(f"{where} is missing its input {argument.keyword!r}")
                    values[argument.position] = values[default[0]] if isinstance(default, tuple) else default
            return values

        def frame_for(values, lengths=None) -> _Frame:
            # The procedure's latest frame with these inputs written; when
            # their vectors do not fit it, or load() refuses them, a frame
            # laid out for them, the inputs checked as they are written.
            frame = None if lengths else last.get(name)
            if frame is not None:
                try:
                    frame.load(values)
                    return frame
                except (TypeError, ValueError, OverflowError):
                    pass
            frame = library._prepare(procedure, values, lengths or {}, where)
            frame.fill(values, where)
            if not lengths:
                last[name] = frame
            return frame

        def call_with_options(args, kwargs):
            options = {key: kwargs.pop(key) for key in _OPTIONS if key in kwargs}
            if options.pop("twin", False):
                if twin is None:
                    raise TypeError(f"{where} has no twin")
                return getattr(library, twin.method)(*args, **kwargs, **options)
            try:
                values = quick_bind(*args, **kwargs)
            except TypeError:  # bind() says what is wrong
                values = None
            if values is None:
                values = bind(args, kwargs)
            frame = frame_for(values, options.pop("lengths", None))
            _call_with_options(frame, options, where)
            return frame.result()

        def call(*args, **kwargs):
            if kwargs or len(args) != count:
                try:
                    values = quick_bind(*args, **kwargs)
                except TypeError:  # bind() says what is wrong
                    values = None
                if values is None:
                    if not _OPTION_NAMES.isdisjoint(kwargs):
                        return call_with_options(args, kwargs)
                    values = bind(args, kwargs)
                args = values
            frame = frame_for(args)
            status = frame.status
            status.value = 0
            output = frame.invoke()
            if output or status.value == FATAL:
                frame.settle(output)
            return frame.result()

        def call_scalars(*args, **kwargs):
            # The speed path: call() for a procedure of scalars alone that
            # cannot stop a run, on the one frame it ever needs, in as few
            # steps as Python allows; call() is the plain version, which
            # the first call and calls with keywords or options take.
            frame = last.get(name)
            if kwargs or len(args) != count or frame is None:
                return call(*args, **kwargs)
            frame.call_scalars(args, where)
            return frame.result()

        def call_with_workspace(*args, **kwargs):
            return call_with_options(args, kwargs)

        method = call
        if procedure.workspace:
            method = call_with_workspace
        elif not any(a.is_vector for a in procedure.inputs) and not procedure.reads_stage_table:
            method = call_scalars
        method.__name__ = procedure.method
        method.__qualname__ = "Library." + procedure.method
        method.__doc__ = _method_doc(procedure, twin)
        return method

    def call(self, name: str, inputs, outputs: Optional[Mapping] = None, *, mode=0.0, derivatives=None, workspace=None):
        """Calls any procedure by name, with every input given by the
        manual's name (a mapping) or in order (a sequence). `outputs` gives
        the number of values of each output vector with a size of its own, by
        its name. Returns Call(outputs by the manual's names, status)."""
        procedure = self.procedure(name)
        where = f"call({procedure.name})"
        if isinstance(inputs, Mapping):
            for key in inputs:
                if key not in {argument.name for argument in procedure.inputs}:
                    raise TypeError(f"{where}: no input named {key!r}")
            missing = [argument.name for argument in procedure.inputs if argument.name not in inputs]
            if missing:
                raise TypeError(f"{where}: missing input {missing[0]!r}")
            values = [inputs[argument.name] for argument in procedure.inputs]
        else:
            values = list(inputs)
            if len(values) != len(procedure.inputs):
                raise TypeError(f"{where}: {len(procedure.inputs)} inputs needed, {len(values)} given")
        outputs = dict(outputs or {})
        for argument in procedure.outputs:
            if argument.length_of == argument.position and argument.name not in outputs:
                raise ValueError(f"{where}: the number of values of output {argument.name!r} is needed")
        frame = self._prepare(procedure, values, outputs, where)
        frame.fill(values, where)
        status = _call_with_options(frame, {"mode": mode, "derivatives": derivatives, "workspace": workspace}, where)
        return Call({argument.name: frame.output(argument.position) for argument in procedure.outputs}, status)

    def step_recorder(self) -> "StepRecorder":
        """A StepRecorder on this library, with a zeroed workspace."""
        return StepRecorder(self)


Call = namedtuple("Call", ["outputs", "status"])


def _call_with_options(frame: _Frame, options: dict, where: str) -> int:
    procedure = frame.procedure
    mode = _check_mode(options.get("mode", 0.0), where)
    derivatives = options.get("derivatives")
    if derivatives is not None:
        derivatives = _Buffer(derivatives, f"{where}: derivatives")
    workspace = options.get("workspace")
    if procedure.workspace == 0 and workspace is not None:
        raise TypeError(f"{where} takes no workspace")
    if procedure.workspace and workspace is None:
        raise TypeError(
            f"{where} needs workspace= ({procedure.workspace} reals kept between calls); "
            "Library.step_recorder() keeps one for you"
        )
    if workspace is not None:
        workspace = _Buffer(workspace, f"{where}: workspace")
        needed = procedure.workspace
        if workspace.count != needed:
            raise ValueError(f"{where}: workspace must hold {needed} reals, not {workspace.given}")
        if workspace.shape != (needed, 1):
            raise ValueError(
                f"{where}: workspace must hold its {needed} reals in one column "
                f"(shape ({needed},) or ({needed}, 1)), not {workspace.given}"
            )
    return frame.call_with(mode, derivatives, workspace)


def _method_doc(procedure: Procedure, twin: Optional[Procedure]) -> str:
    def describe(argument):
        text = argument.keyword + (" (vector)" if argument.is_vector else "")
        default = argument.default
        if default is REQUIRED:
            return text
        if isinstance(default, tuple):
            return f"{text}, default: {procedure.inputs[default[0]].keyword}"
        return f"{text}, default {default}"

    outputs = ", ".join(argument.keyword for argument in procedure.outputs)
    returns = f"{procedure.result}({outputs})" if procedure.result else outputs
    options = ["mode= (call mode, default 0)", "derivatives= (a block the library zeroes in modes 3 and 4)"]
    if procedure.workspace:
        options.append(f"workspace= ({procedure.workspace} reals kept between calls; required)")
    if any(argument.is_vector for argument in procedure.outputs):
        options.append("lengths= (number of values of an output vector, by keyword)")
    if twin:
        options.append(f"twin=True (calls {twin.name})")
    return "\n".join(
        [
            f"{procedure.name}: {procedure.summary}.",
            "",
            "Inputs, in order: " + "; ".join(describe(argument) for argument in procedure.inputs) + ".",
            f"Returns {returns}.",
            "Options: " + ", ".join(options) + ".",
            "Raises SimulationTerminated on status 4.",
        ]
    )


class StepRecorder:
    """SU55IF_REPTIM with the workspace it keeps between calls: measures the
    first period in which a signal is positive. Call it with (signal, time);
    it returns the recorded duration (0.0 until the period has ended)."""

    def __init__(self, library: Library):
        procedure = next(p for p in library.procedures.values() if p.workspace)
        self._library = library
        self._frame = _Frame(library, procedure, [1] * len(procedure.inputs), [1] * len(procedure.outputs))
        self._where = procedure.method + "()"

    def __call__(self, signal, time, *, mode=0.0):
        if self._library._closed:
            raise ValueError(f"{self._library!r} is closed")
        frame = self._frame
        if mode == 0.0:
            frame.call_scalars((signal, time), self._where)
        else:
            frame.fill((signal, time), self._where)
            frame.call_with(_check_mode(mode, self._where), None, None)
        return frame.outputs[0]

    @property
    def workspace(self) -> tuple:
        """The workspace as it stands: start, end, latest time, started, finished."""
        return tuple(self._frame.workspace)

    def reset(self) -> None:
        """Zeroes the workspace: the next positive signal starts a new measurement."""
        ctypes.memset(self._frame.workspace, 0, ctypes.sizeof(self._frame.workspace))


def load(path=None, *, private: bool = True, numpy: bool = False, description=None) -> Library:
    """Loads libsu55if.so and returns a Library.

    path: the file to load; without one, SU55IF_LIBRARY, then the installed
    locations (PREFIX/lib, PREFIX/lib/<triplet>, PREFIX/lib64 for the
    Python prefix, /usr/local and /usr), then the build tree.

    private: load a private copy of the file (the default), so that this
    Library has a stage table of its own: the table belongs to the loaded
    file. private=False loads the file itself and shares its table with
    everything else in the process that loaded that path.

    numpy: return vector outputs as NumPy arrays instead of tuples.

    description: the procedure description file to use instead of the one
    the package finds (see su55if._description).
    """
    return Library(_find_library(path, "load()"), private=private, arrays=numpy, description=description)


for _public in (SimulationTerminated, Library, StepRecorder):
    _public.__module__ = "su55if"
