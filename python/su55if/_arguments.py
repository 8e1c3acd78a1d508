"""The checks of the arguments a caller passes, and the buffers through
which vectors, derivative blocks and workspaces reach the library."""

from __future__ import annotations

import ctypes
import functools
import inspect
import numbers
import os
import sys
import warnings
from collections.abc import Callable, Mapping
from typing import TYPE_CHECKING, Any, Optional, TypeVar, Union

if TYPE_CHECKING:
    from typing import ParamSpec

    _P = ParamSpec("_P")



def _optional_numpy() -> Any:
    try:
        import numpy
    except ImportError:  # NumPy is optional
        return None
    return numpy


numpy: Any = _optional_numpy()
_ARRAY = (numpy.ndarray,) if numpy is not None else ()

_MAX_LENGTH = 2**31 - 1  # sizes are 32-bit integers
# Never a vector of numbers, though they have a length and items.
_NOT_VECTORS = (str, bytes, bytearray, Mapping)
_Double = ctypes.c_double

# A file name: a str or a path-like object (pathlib.Path) of one.
PathLike = Union[str, "os.PathLike[str]"]

_R = TypeVar("_R")


def _formerly_positional(*names: str) -> Callable[[Callable[_P, _R]], Callable[_P, _R]]:
    """For a method whose inputs `names`, once positional, are now
    keyword-only (a required input after optional ones): given by position
    they still work, with a DeprecationWarning that names their keywords."""

    def decorate(function: Callable[_P, _R]) -> Callable[_P, _R]:
        parameters = inspect.signature(function).parameters.values()
        positional = sum(p.kind is p.POSITIONAL_OR_KEYWORD for p in parameters)  # self included
        method = function.__name__

        @functools.wraps(function)
        def call(*args: Any, **kwargs: Any) -> Any:
            if len(args) > positional:
                given = args[positional:]
                if len(given) > len(names):
                    raise TypeError(f"{method}() takes at most {positional + len(names) - 1} inputs by position")
                keywords = names[: len(given)]
                for keyword in keywords:
                    if keyword in kwargs:
                        raise TypeError(f"{method}() got multiple values for argument {keyword!r}")
                warnings.warn(
                    f"{method}(): give {', '.join(keywords)} by keyword ({', '.join(k + '=...' for k in keywords)}); "
                    "by position it is deprecated and will stop working",
                    DeprecationWarning, stacklevel=2,
                )
                kwargs.update(zip(keywords, given))
                args = args[:positional]
            return function(*args, **kwargs)

        return call

    return decorate


def _kind(value: object) -> str:
    return type(value).__name__


def _is_array(value: object) -> bool:
    return isinstance(value, _ARRAY)


def _vector_length(value: Any, where: str) -> int:
    if _is_array(value):
        if value.ndim != 1:
            raise ValueError(f"{where} must be one-dimensional, not of shape {value.shape}")
    elif isinstance(value, _NOT_VECTORS) or not hasattr(value, "__len__") or not hasattr(value, "__getitem__"):
        raise TypeError(f"{where} must be a sequence of numbers, not {_kind(value)}")
    length = len(value)
    if length > _MAX_LENGTH:
        raise ValueError(f"{where} has {length} values; at most {_MAX_LENGTH} fit the call")
    return length


def _real_problem(value: Any) -> Optional[Exception]:
    """Why `value` cannot be passed as a real, or None."""
    if value.__class__ is float:
        return None
    if isinstance(value, (str, bytes, bytearray)) or (
        isinstance(value, numbers.Complex) and not isinstance(value, numbers.Real)
    ):
        return TypeError(f"must be a real number, not {_kind(value)}")
    try:
        _Double(value)  # type: ignore[arg-type]  # what ctypes takes is the question
    except TypeError:
        return TypeError(f"must be a real number, not {_kind(value)}")
    except (OverflowError, ValueError) as error:
        return ValueError(f"is not usable as a real number ({error})")
    return None


def _explain(where: str, value: Any, is_vector: bool) -> None:
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


def _check_mode(mode: Any, where: str) -> float:
    problem = _real_problem(mode)
    if problem is not None:
        raise type(problem)(f"{where}: mode {problem}")
    return float(mode)


_DOUBLE_FORMATS = frozenset(["d", "@d", "=d", "<d" if sys.byteorder == "little" else ">d"])


class _Buffer:
    """A caller's array of reals that the library writes (a derivative block
    or a workspace). Whatever the library writes reaches the caller's object:
    used in place when it is writable, C-contiguous memory of doubles (NumPy
    float64, array('d'), a ctypes double array); a NumPy array of floats of
    any other layout or a list goes through a copy whose values are written
    back into it after the call. Anything else is refused before the call."""

    WANTED = "a list of reals, a writable NumPy array of floats, array('d') or a ctypes double array"

    def __init__(self, value: Any, where: str) -> None:
        self.shape: tuple[int, int]
        self.cells: Any
        self.value = value
        self.copied = False
        if _is_array(value):
            if value.ndim not in (1, 2):
                raise ValueError(f"{where} must have one or two dimensions, not {value.ndim}")
            if value.dtype.kind != "f":
                raise TypeError(f"{where} must hold floating-point numbers, not {value.dtype}")
            if not value.flags.writeable:
                raise TypeError(f"{where} must be writable; this array is read-only")
            self.shape = value.shape if value.ndim == 2 else (value.shape[0], 1)
            self.given = f"an array of shape {value.shape}"
        elif isinstance(value, list):
            self.shape = (len(value), 1)
            self.given = str(len(value))
        else:
            try:
                view = memoryview(value)
            except TypeError:
                raise TypeError(f"{where} must be a writable sequence of reals ({self.WANTED}), not {_kind(value)}") from None
            if view.format not in _DOUBLE_FORMATS:
                raise TypeError(f"{where} must hold doubles, not items of format {view.format!r} ({_kind(value)})")
            if view.readonly:
                raise TypeError(f"{where} must be writable; this {_kind(value)} is read-only")
            if view.ndim not in (1, 2) or not view.c_contiguous:
                raise ValueError(f"{where} must be contiguous, with one or two dimensions")
            shape = view.shape or (0,)
            self.shape = (shape[0], shape[1]) if view.ndim == 2 else (shape[0], 1)
            self.given = str(shape[0]) if view.ndim == 1 else f"a buffer of shape {shape}"
        if max(self.shape) > _MAX_LENGTH:
            raise ValueError(f"{where} is too large for the call")
        self.count = count = self.shape[0] * self.shape[1]
        if count == 0:
            self.cells = (_Double * 1)()
        elif self._in_place(value):
            self.cells = (_Double * count).from_buffer(value)
        elif _is_array(value):
            self.copied = True
            self.cells = (_Double * count)()
            numpy.frombuffer(self.cells, dtype=numpy.float64)[:] = value.reshape(-1)
        else:  # a list
            self.copied = True
            for index, element in enumerate(value):
                problem = _real_problem(element)
                if problem is not None:
                    raise type(problem)(f"{where}[{index}] {problem}")
            self.cells = (_Double * count)(*value)

    @staticmethod
    def _in_place(value: Any) -> bool:
        if isinstance(value, list):
            return False
        if _is_array(value):
            return bool(value.dtype == numpy.float64 and value.dtype.isnative and value.flags.c_contiguous
                        and value.flags.aligned)
        return True  # a buffer of doubles, checked above

    def write_back(self) -> None:
        if not self.copied:
            return
        if _is_array(self.value):
            # In place, whatever its layout: reshape() may give a copy.
            self.value[...] = numpy.frombuffer(self.cells, dtype=numpy.float64).reshape(self.value.shape)
        else:
            self.value[:] = self.cells[: self.count]
