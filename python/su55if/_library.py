"""Loading libsu55if.so and calling its procedures through ctypes.

Every call goes through a prepared frame (_Frame): the fourteen arguments of
one procedure laid out once for given vector lengths and kept, as a simulator
keeps a block's arguments, so a repeated call only writes its inputs, calls
and reads its outputs.
"""

from __future__ import annotations

import ctypes
import math
import numbers
import os
import shutil
import sys
import sysconfig
import tempfile
import threading
from collections import namedtuple
from collections.abc import Mapping
from pathlib import Path
from typing import Optional

from . import _description
from ._description import REQUIRED, Procedure

try:
    import numpy
except ImportError:  # NumPy is optional
    numpy = None
_ARRAY = (numpy.ndarray,) if numpy is not None else ()

LIBRARY_FILE = "libsu55if.so"
FATAL = 4  # the status a procedure leaves after a diagnostic that stops the run
_MAX_LENGTH = 2**31 - 1  # sizes are 32-bit integers
_OPTIONS = ("mode", "derivatives", "workspace", "lengths", "twin")
_OPTION_NAMES = frozenset(_OPTIONS)

_Double = ctypes.c_double
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


# --- finding and loading the library -------------------------------------------------------


def _prefixes() -> list:
    """The installation prefixes searched, in order: the Python
    environment's, then /usr/local and /usr."""
    prefixes = []
    for prefix in (sys.prefix, sys.base_prefix, "/usr/local", "/usr"):
        if prefix not in prefixes:
            prefixes.append(prefix)
    return prefixes


def _installed_locations() -> list:
    library_dirs = ["lib"]
    multiarch = sysconfig.get_config_var("MULTIARCH")
    if multiarch:
        library_dirs.append("lib/" + multiarch)
    library_dirs.append("lib64")
    return [Path(prefix, directory, LIBRARY_FILE) for prefix in _prefixes() for directory in library_dirs]


def _checkout() -> Path:
    """The checkout this package came from: the one it sits in, or, for an
    installed package, the one its build recorded."""
    origin = _description.PACKAGE_DIR / "origin.txt"
    if origin.is_file():
        return Path(origin.read_text(encoding="utf-8").strip())
    return _description.CHECKOUT


def _build_tree_location() -> Path:
    """libsu55if.so in the default build of the checkout this package came from."""
    return _checkout() / "build" / "default" / "src" / LIBRARY_FILE


def library_candidates() -> list:
    """Where load() looks when it is given no path, in order: the SU55IF_LIBRARY
    environment variable, the installed locations, the build tree."""
    candidates = []
    if os.environ.get("SU55IF_LIBRARY"):
        candidates.append(Path(os.environ["SU55IF_LIBRARY"]))
    return candidates + _installed_locations() + [_build_tree_location()]


def find_library(path=None) -> Path:
    """The library file load() would load: `path` if given, else the first
    candidate that exists. A file named explicitly (by `path` or
    SU55IF_LIBRARY) must exist; it is never passed over."""
    if path is None and os.environ.get("SU55IF_LIBRARY"):
        path = os.environ["SU55IF_LIBRARY"]
    if path is not None:
        path = Path(path)
        if not path.is_file():
            raise FileNotFoundError(f"{path}: no such library file")
        return path.resolve()
    candidates = library_candidates()
    for candidate in candidates:
        if candidate.is_file():
            return candidate.resolve()
    raise FileNotFoundError(
        f"cannot find {LIBRARY_FILE} (looked for {', '.join(map(str, candidates))}); "
        "name it with su55if.load(PATH) or the SU55IF_LIBRARY environment variable"
    )


def _open_private_copy(path: Path) -> ctypes.PyDLL:
    """Loads a copy of the file under a fresh name, so that the loaded object
    (and its stage table) is its own. The copy is removed as soon as it is
    loaded: the loaded object stays mapped, and nothing is left behind."""
    handle, copy = tempfile.mkstemp(prefix="su55if-", suffix=".so")
    try:
        with os.fdopen(handle, "wb") as target, open(path, "rb") as source:
            shutil.copyfileobj(source, target)
        try:
            return ctypes.PyDLL(copy)
        except OSError as error:
            raise OSError(
                f"cannot load a private copy of {path} from {os.path.dirname(copy)}: {error} "
                "(set TMPDIR to a folder that allows running files, or load with private=False)"
            ) from None
    finally:
        os.unlink(copy)


# --- capturing the library's diagnostics ---------------------------------------------------


class _Capture:
    """Runs a call with file descriptor 1 redirected to a temporary file, so
    that what the library prints there is known to belong to this call. One
    for the process: descriptor 1 is the process's. A file, not a pipe, so
    that no amount of output can block the call."""

    def __init__(self):
        self._lock = threading.Lock()
        self._file = None
        self._flush_c_streams = ctypes.CDLL(None).fflush

    def call(self, function, arguments) -> bytes:
        with self._lock:
            if self._file is None:
                self._file = tempfile.TemporaryFile()
            capture = self._file.fileno()
            # Whatever Python and C code have buffered belongs before the call.
            if sys.stdout is not None:
                sys.stdout.flush()
            self._flush_c_streams(None)
            try:
                saved = os.dup(1)
            except OSError:  # descriptor 1 is closed
                saved = None
            os.dup2(capture, 1)
            try:
                function(*arguments)
            finally:
                if saved is None:
                    os.close(1)
                else:
                    os.dup2(saved, 1)
                    os.close(saved)
            end = os.lseek(capture, 0, os.SEEK_CUR)
            if end == 0:
                return b""
            output = os.pread(capture, end, 0)
            os.ftruncate(capture, 0)
            os.lseek(capture, 0, os.SEEK_SET)
            return output


_capture = _Capture()


def _records(output: bytes) -> list:
    text = output.decode("utf-8", "backslashreplace")
    if text.endswith("\n"):
        text = text[:-1]
    return text.split("\n") if text else []


def _write_through(output: bytes) -> None:
    """Output of a call that did not fail goes where it would have gone."""
    while output:
        output = output[os.write(1, output) :]


# --- argument checks -----------------------------------------------------------------------


def _kind(value) -> str:
    return type(value).__name__


def _is_array(value) -> bool:
    return isinstance(value, _ARRAY)


def _vector_length(value, where: str) -> int:
    if isinstance(value, (str, bytes, bytearray)) or not hasattr(value, "__len__"):
        raise TypeError(f"{where} must be a sequence of numbers, not {_kind(value)}")
    if _is_array(value) and value.ndim != 1:
        raise ValueError(f"{where} must be one-dimensional, not of shape {value.shape}")
    length = len(value)
    if length > _MAX_LENGTH:
        raise ValueError(f"{where} has {length} values; at most {_MAX_LENGTH} fit the call")
    return length


def _real_problem(value) -> Optional[Exception]:
    """Why `value` cannot be passed as a real, or None."""
    if isinstance(value, (str, bytes, bytearray)) or (
        isinstance(value, numbers.Complex) and not isinstance(value, numbers.Real)
    ):
        return TypeError(f"must be a real number, not {_kind(value)}")
    try:
        _Double(value)
    except TypeError:
        return TypeError(f"must be a real number, not {_kind(value)}")
    except (OverflowError, ValueError) as error:
        return ValueError(f"is not usable as a real number ({error})")
    return None


def _explain(where: str, value, is_vector: bool) -> None:
    """Raises the TypeError or ValueError that says what is wrong with `value`."""
    if not is_vector:
        problem = _real_problem(value)
        if problem is not None:
            raise type(problem)(f"{where} {problem}")
        return
    if _is_array(value):
        if value.dtype.kind not in "biuf":
            raise TypeError(f"{where} must hold real numbers, not {value.dtype}")
        return
    for index, element in enumerate(value):
        problem = _real_problem(element)
        if problem is not None:
            raise type(problem)(f"{where}[{index}] {problem}")


def _check_mode(mode, where: str) -> float:
    problem = _real_problem(mode)
    if problem is not None:
        raise type(problem)(f"{where}: mode {problem}")
    return float(mode)


class _Buffer:
    """A caller's array of reals handed to the library (a derivative block or
    a workspace): in place when it is a writable, C-contiguous array of
    doubles (NumPy float64, array('d'), a ctypes double array), else through a
    copy whose values are written back after the call."""

    def __init__(self, value, where: str):
        if _is_array(value):
            if value.ndim > 2:
                raise ValueError(f"{where} must have one or two dimensions, not {value.ndim}")
            if not value.flags.writeable:
                raise TypeError(f"{where} must be writable")
            self.shape = value.shape if value.ndim == 2 else (value.shape[0], 1)
        elif isinstance(value, (str, bytes)) or not hasattr(value, "__len__") or not hasattr(value, "__setitem__"):
            raise TypeError(f"{where} must be a writable sequence of numbers, not {_kind(value)}")
        else:
            self.shape = (len(value), 1)
        if max(self.shape) > _MAX_LENGTH:
            raise ValueError(f"{where} is too large for the call")
        self.value = value
        self.count = self.shape[0] * self.shape[1]
        self.cells = self._in_place(value, self.count)
        self.copied = self.cells is None
        if self.copied:
            self.cells = (_Double * max(self.count, 1))()
            flat = value.reshape(-1) if _is_array(value) else value
            for index in range(self.count):
                problem = _real_problem(flat[index])
                if problem is not None:
                    raise type(problem)(f"{where}[{index}] {problem}")
                self.cells[index] = flat[index]

    @staticmethod
    def _in_place(value, count: int):
        try:
            view = memoryview(value)
        except TypeError:
            return None
        if count == 0 or view.readonly or not view.c_contiguous or view.format not in ("d", "<d"):
            return None
        return (_Double * count).from_buffer(value)

    def write_back(self) -> None:
        if not self.copied:
            return
        if _is_array(self.value):
            self.value.reshape(-1)[:] = self.cells[: self.count]
        else:
            self.value[:] = self.cells[: self.count]


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
        self.make_result = library._result_types[procedure.name]
        self.captured = procedure.reads_stage_table
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
        self.vector_lengths = [(a.position, n) for a, n in zip(procedure.inputs, input_lengths) if a.is_vector]
        self.output_lengths = output_lengths
        # Inputs are written run by run: each vector alone, consecutive
        # scalars together, so that the scalars of a call are one slice
        # assignment.
        self.runs = []
        for argument, offset, length in zip(procedure.inputs, in_offsets, input_lengths):
            start = offset - 1
            run = self.runs[-1] if self.runs else None
            if argument.is_vector or run is None or run[2]:
                self.runs.append([argument.position, argument.position + 1, argument.is_vector, start, start + length])
            else:
                run[1] += 1
                run[4] += 1
        self.output_slices = [
            (offset - 1, offset - 1 + length if argument.is_vector else None)
            for argument, offset, length in zip(procedure.outputs, out_offsets, output_lengths)
        ]
        self.scalar_outputs = len(procedure.outputs) if all(stop is None for _, stop in self.output_slices) else 0
        self.unwritten = [math.nan] * out_total
        self._view = None
        if len(self.runs) == 1 and not self.runs[0][2]:
            self.fill = self._fill_scalars

    def _fill_scalars(self, values, where: str) -> None:
        """fill() for a procedure whose inputs are all scalars: one assignment."""
        try:
            self.inputs[:] = values
        except (TypeError, ValueError, OverflowError):
            for argument in self.procedure.inputs:
                _explain(f"{where}: {argument.keyword}", values[argument.position], False)
            raise

    def fits(self, values) -> bool:
        """Whether input vectors of these lengths go into this frame."""
        try:
            for position, length in self.vector_lengths:
                if len(values[position]) != length:
                    return False
        except TypeError:
            return False
        return True

    def fill(self, values, where: str) -> None:
        """Writes the inputs; a TypeError or ValueError names the one at fault."""
        for first, last, is_vector, start, stop in self.runs:
            value = values[first] if is_vector else values[first:last]
            try:
                if is_vector and isinstance(value, _ARRAY):
                    if value.dtype.kind not in "biuf":
                        raise TypeError
                    if self._view is None:
                        self._view = numpy.frombuffer(self.inputs, dtype=numpy.float64)
                    self._view[start:stop] = value
                else:
                    self.inputs[start:stop] = value
            except (TypeError, ValueError, OverflowError):
                for argument in self.procedure.inputs[first:last]:
                    value = values[argument.position]
                    if is_vector:
                        _vector_length(value, f"{where}: {argument.keyword}")
                    _explain(f"{where}: {argument.keyword}", value, is_vector)
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

    def call(self, arguments=None) -> int:
        """Calls the procedure with the frame's arguments (call mode 0, the
        frame's own workspace, no derivative block) or the given ones;
        raises SimulationTerminated on status 4."""
        self.status.value = 0
        if not self.captured:
            self.function(*(arguments or self.arguments))
            return self.status.value
        output = _capture.call(self.function, arguments or self.arguments)
        if self.status.value == FATAL:
            raise SimulationTerminated(self.procedure.name, _records(output))
        if output:
            _write_through(output)
        return self.status.value

    def call_with(self, mode: float, derivatives: Optional[_Buffer], workspace: Optional[_Buffer]) -> int:
        """The same with a call mode, a caller's derivative block or workspace."""
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
        status = self.call(arguments)
        for buffer in (derivatives, workspace):
            if buffer is not None:
                buffer.write_back()
        return status

    def output(self, k: int):
        start, stop = self.output_slices[k]
        if stop is None:
            return self.outputs[start]
        if self.library.numpy:
            return numpy.frombuffer(self.outputs, dtype=numpy.float64)[start:stop].copy()
        return tuple(self.outputs[start:stop])

    def result(self):
        """The outputs as the method returns them: the value of a single
        output, else the procedure's result type."""
        if self.make_result is None:
            return self.output(0)
        if self.scalar_outputs:
            return self.make_result(self.outputs[: self.scalar_outputs])
        outputs = self.outputs
        return self.make_result(
            [outputs[start] if stop is None else self.output(k) for k, (start, stop) in enumerate(self.output_slices)]
        )


# --- the library ---------------------------------------------------------------------------


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
            raise ImportError("results as NumPy arrays need NumPy (Debian: python3-numpy)")
        self.path = Path(path)
        self.private = private
        self.numpy = arrays
        self.description = Path(description) if description else _description.find_description(str(self.path))
        self.procedures = _description.read_description(self.description)
        self._dll = _open_private_copy(self.path) if private else ctypes.PyDLL(str(self.path))
        self._functions = {}
        self._result_types = {}
        for procedure in self.procedures.values():
            function = getattr(self._dll, procedure.name)
            function.restype = None
            self._functions[procedure.name] = function
            fields = [argument.keyword for argument in procedure.outputs]
            self._result_types[procedure.name] = namedtuple(procedure.result, fields)._make if procedure.result else None
        self._frames = {}  # by procedure and lengths
        self._last = {}  # each procedure's frame with the default output lengths, latest used
        self._closed = False
        methods = {procedure.method: procedure for procedure in self.procedures.values()}
        for procedure in self.procedures.values():
            keywords = {argument.keyword for argument in procedure.inputs}
            if keywords.intersection(_OPTIONS) or hasattr(Library, procedure.method):
                raise _description.DescriptionError(f"{procedure.name}: names that clash with the package's own")
            setattr(self, procedure.method, self._method(procedure, methods.get(procedure.method + "_twin")))

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
        has_vectors = any(argument.is_vector for argument in procedure.inputs)
        scalar_outputs = not any(argument.is_vector for argument in procedure.outputs)
        output_count = len(procedure.outputs)
        make_result = self._result_types[procedure.name]
        library, last, name = self, self._last, procedure.name

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

        def call_with_options(args, kwargs):
            options = {key: kwargs.pop(key) for key in _OPTIONS if key in kwargs}
            if options.pop("twin", False):
                if twin is None:
                    raise TypeError(f"{where} has no twin")
                return getattr(library, twin.method)(*args, **kwargs, **options)
            values = bind(args, kwargs)
            frame = library._prepare(procedure, values, options.pop("lengths", None) or {}, where)
            frame.fill(values, where)
            _call_with_options(frame, options, where)
            return frame.result()

        def call(*args, **kwargs):
            # A call without options reuses the procedure's latest frame when
            # its vectors fit, and reads scalar outputs in one slice.
            if kwargs or len(args) != count:
                if procedure.workspace or not _OPTION_NAMES.isdisjoint(kwargs):
                    return call_with_options(args, kwargs)
                args = bind(args, kwargs)
            elif procedure.workspace:
                return call_with_options(args, kwargs)
            frame = last.get(name)
            if frame is None or has_vectors and not frame.fits(args):
                frame = last[name] = library._prepare(procedure, args, {}, where)
            frame.fill(args, where)
            frame.call()
            if not scalar_outputs:
                return frame.result()
            if make_result is None:
                return frame.outputs[0]
            return make_result(frame.outputs[:output_count])

        def call_scalars(*args, **kwargs):
            # The speed path: call() for a procedure of scalars alone that
            # cannot stop a run, on the one frame it ever needs, in as few
            # steps as Python allows; call() is the plain version, which
            # the first call and calls with keywords or options take.
            frame = last.get(name)
            if kwargs or len(args) != count or frame is None:
                return call(*args, **kwargs)
            frame.call_scalars(args, where)
            if make_result is None:
                return frame.outputs[0]
            return make_result(frame.outputs[:output_count])

        method = call
        if not has_vectors and scalar_outputs and not procedure.reads_stage_table and not procedure.workspace:
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
        if workspace.shape != (procedure.workspace, 1):
            raise ValueError(f"{where}: workspace must hold {procedure.workspace} reals, not {workspace.count}")
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
    return Library(find_library(path), private=private, arrays=numpy, description=description)


for _public in (SimulationTerminated, Library, StepRecorder):
    _public.__module__ = "su55if"
