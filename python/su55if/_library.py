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
import shutil
import stat
import struct
import sys
import sysconfig
import tempfile
import threading
import weakref
from collections import namedtuple
from collections.abc import Mapping
from pathlib import Path
from typing import NamedTuple, Optional

from . import _description
from ._description import REQUIRED, Procedure

try:
    import numpy
except ImportError:  # NumPy is optional
    numpy = None
_ARRAY = (numpy.ndarray,) if numpy is not None else ()


class _Layout(NamedTuple):
    """Where a build or an installation puts the library and the host on one
    system: file names, the folders under a prefix that may hold the
    library, the prefixes beyond the Python environment's, and the build of
    a checkout."""

    library_file: str
    library_dirs: tuple
    host_file: str
    system_prefixes: tuple
    build: str


def _layout() -> _Layout:
    """The layout of the system this runs on (read at each search, so that
    tests can give another platform)."""
    if sys.platform == "win32":
        # The DLL lies beside the programs, in bin/ (as in the .zip).
        return _Layout("su55if.dll", ("bin",), "su55if-host.exe", (), "windows")
    library_dirs = ["lib"]
    multiarch = sysconfig.get_config_var("MULTIARCH")
    if multiarch:
        library_dirs.append("lib/" + multiarch)
    library_dirs.append("lib64")
    return _Layout("libsu55if.so", tuple(library_dirs), "su55if-host", ("/usr/local", "/usr"), "default")


LIBRARY_FILE = _layout().library_file
FATAL = 4  # the status a procedure leaves after a diagnostic that stops the run
_MAX_LENGTH = 2**31 - 1  # sizes are 32-bit integers
_OPTIONS = ("mode", "derivatives", "workspace", "lengths", "twin")
_OPTION_NAMES = frozenset(_OPTIONS)
# Never a vector of numbers, though they have a length and items.
_NOT_VECTORS = (str, bytes, bytearray, Mapping)

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
    environment's (a virtual environment's, and the one it was made from),
    then /usr/local and /usr, in that order also when the environment is
    the system's own."""
    system = list(_layout().system_prefixes)
    prefixes = []
    for prefix in (sys.prefix, sys.base_prefix):
        if prefix not in prefixes and prefix not in system:
            prefixes.append(prefix)
    return prefixes + system


def _installed_locations() -> list:
    layout = _layout()
    return [Path(prefix, directory, layout.library_file) for prefix in _prefixes() for directory in layout.library_dirs]


def _checkout() -> Path:
    """The checkout this package came from: the one it sits in, or, for an
    installed package, the one its build recorded."""
    origin = _description.PACKAGE_DIR / "origin.txt"
    if origin.is_file():
        return Path(origin.read_text(encoding="utf-8").strip())
    return _description.CHECKOUT


def _build_tree_location() -> Path:
    """The library in the build of the checkout this package came from
    (build/default, or build/windows on Windows)."""
    layout = _layout()
    return _checkout() / "build" / layout.build / "src" / layout.library_file


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
    return _find_library(path, "find_library()")


def _find_library(path, where: str) -> Path:
    named = "path"
    if path is None and os.environ.get("SU55IF_LIBRARY"):
        path, named = os.environ["SU55IF_LIBRARY"], "SU55IF_LIBRARY"
    if path is not None:
        return _named_file(path, f"{where}: {named}")
    candidates = library_candidates()
    for candidate in candidates:
        if candidate.is_file():
            return candidate.resolve()
    raise FileNotFoundError(
        f"cannot find {LIBRARY_FILE} (looked for {', '.join(map(str, candidates))}); "
        "name it with su55if.load(PATH) or the SU55IF_LIBRARY environment variable"
    )


def _named_file(path, where: str) -> Path:
    """`path` as a regular file that exists, or an error that says what it is."""
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"{where} must be a file name (str or path-like), not {_kind(path)}")
    text = os.fsdecode(path)
    if not text:
        raise ValueError(f"{where} is empty; name the library file ({LIBRARY_FILE})")
    shown = repr(text) if "\0" in text else text
    if "\0" in text:
        raise ValueError(f"{where} {shown} holds a NUL character")
    try:
        mode = os.stat(text).st_mode
    except FileNotFoundError:
        raise FileNotFoundError(f"{where} {shown}: no such library file") from None
    except OSError as error:
        raise OSError(f"{where} {shown}: cannot be read: {error.strerror}") from None
    if stat.S_ISDIR(mode):
        raise IsADirectoryError(f"{where} {shown} is a folder; name the library file ({LIBRARY_FILE}) in it")
    if not stat.S_ISREG(mode):
        raise OSError(f"{where} {shown} is not a regular file, so not a library file")
    return Path(text).resolve()


# What keeps a file from being a complete shared library. The loader maps
# the segments of a file without checking that the file holds them, and a
# process that touches a page past the end of a mapped file dies (SIGBUS), so
# a file cut short is refused here, from its headers alone, before it is
# loaded. One reader per format, chosen by the file's first bytes.


def _read(file, size: int, offset: int, count: int) -> Optional[bytes]:
    """`count` bytes from `offset`, or None where they do not lie within the file."""
    if offset < 0 or count < 0 or offset + count > size:
        return None
    file.seek(offset)
    data = file.read(count)
    return data if len(data) == count else None


def _elf_fault(file, size: int) -> Optional[str]:
    """ELF: the header, the program headers, the file part of every loaded segment."""
    ident = _read(file, size, 0, 16)
    if ident is None:
        return "cut short: the ELF header is not whole"
    if ident[4] not in (1, 2) or ident[5] not in (1, 2):
        return "an ELF file of a class or byte order no loader takes"
    wide = ident[4] == 2  # 64-bit
    order = "<" if ident[5] == 1 else ">"
    header = _read(file, size, 0, 64 if wide else 52)
    if header is None:
        return f"cut short: the ELF header is not whole ({size} bytes)"
    if struct.unpack_from(order + "H", header, 16)[0] != 3:  # ET_DYN
        return "not a shared library (an ELF file of another type)"
    if wide:
        phoff, = struct.unpack_from(order + "Q", header, 0x20)
        phentsize, phnum = struct.unpack_from(order + "HH", header, 0x36)
    else:
        phoff, = struct.unpack_from(order + "I", header, 0x1C)
        phentsize, phnum = struct.unpack_from(order + "HH", header, 0x2A)
    if phentsize != (56 if wide else 32) or phnum == 0:
        return "an ELF file without the program headers a loader needs"
    table = _read(file, size, phoff, phnum * phentsize)
    if table is None:
        return f"cut short: the program headers end at byte {phoff + phnum * phentsize} of a file of {size}"
    entry = struct.Struct(order + ("IIQQQQ" if wide else "IIIII"))
    for k in range(phnum):
        fields = entry.unpack_from(table, k * phentsize)
        kind, offset, filesz = fields[0], (fields[2] if wide else fields[1]), (fields[5] if wide else fields[4])
        if kind == 1 and offset + filesz > size:  # PT_LOAD
            return f"cut short: segment {k + 1} ends at byte {offset + filesz} of a file of {size}"
    return None


def _pe_fault(file, size: int) -> Optional[str]:
    """PE (a Windows DLL): the headers and every section's raw data."""
    dos = _read(file, size, 0, 64)
    if dos is None:
        return "cut short: the DOS header is not whole"
    pe, = struct.unpack_from("<I", dos, 0x3C)
    coff = _read(file, size, pe, 24)
    if coff is None or coff[:4] != b"PE\0\0":
        return "not a shared library (no PE header where the DOS header points)"
    sections, optional, characteristics = struct.unpack_from("<H12xHH", coff, 6)
    if not characteristics & 0x2000:  # IMAGE_FILE_DLL
        return "not a shared library (a PE file that is not a DLL)"
    if _read(file, size, pe + 24, optional) is None:
        return "cut short: the PE optional header is not whole"
    table = _read(file, size, pe + 24 + optional, sections * 40)
    if table is None:
        return "cut short: the PE section table lies past the end of the file"
    for k in range(sections):
        raw_size, raw_offset = struct.unpack_from("<II", table, k * 40 + 16)
        if raw_size and raw_offset + raw_size > size:
            return f"cut short: section {k + 1} ends at byte {raw_offset + raw_size} of a file of {size}"
    return None


_FORMATS = ((b"\x7fELF", _elf_fault), (b"MZ", _pe_fault))


def _library_fault(path) -> Optional[str]:
    """What keeps the file at `path` from being a complete shared library, or None."""
    with open(path, "rb") as file:
        size = os.fstat(file.fileno()).st_size
        start = file.read(4)
        for magic, fault in _FORMATS:
            if start.startswith(magic):
                return fault(file, size)
    return "not a shared library"


def _check_library_file(path, shown: Path) -> None:
    """Raises OSError naming `shown` when the file at `path` is not a complete shared library."""
    try:
        fault = _library_fault(path)
    except OSError as error:
        fault = f"cannot be read: {error.strerror}"
    if fault:
        raise OSError(f"load(): cannot load {shown}: {fault}")


def _open_library(path: Path, private: bool) -> ctypes.PyDLL:
    """Loads the file, or, with `private`, a copy of it under a fresh name, so
    that the loaded object (and its stage table) is its own. The copy is
    removed as soon as it is loaded: the loaded object stays mapped, and
    nothing is left behind."""
    _check_library_file(path, path)
    if not private:
        try:
            return ctypes.PyDLL(str(path))
        except OSError as error:
            raise OSError(f"load(): cannot load {path}: {error}") from None
    handle, copy = tempfile.mkstemp(prefix="su55if-", suffix=".so")
    try:
        with os.fdopen(handle, "wb") as target, open(path, "rb") as source:
            shutil.copyfileobj(source, target)
        _check_library_file(copy, path)  # what is loaded is the copy
        try:
            return ctypes.PyDLL(copy)
        except OSError as error:
            message = str(error).replace(copy, str(path))
            if not any(word in message.lower() for word in ("permission", "not permitted", "map")):
                raise OSError(f"load(): cannot load {path}: {message}") from None
            raise OSError(
                f"load(): cannot load a private copy of {path} from {os.path.dirname(copy)}: {message} "
                "(set TMPDIR to a folder that allows running files, or load with private=False)"
            ) from None
    finally:
        os.unlink(copy)


# --- capturing the library's diagnostics ---------------------------------------------------

# The library prints its diagnostics to C's stdout, one fwrite and fflush
# each. A captured call points them somewhere of its own for the length of
# the call, so that the records are known to belong to it; what it points
# is the process's, so captured calls are serialised.
_CALL_LOCK = threading.Lock()


def _flush_python_stdout() -> None:
    """Python's buffered standard output, out before anything C writes."""
    stream = sys.stdout
    try:
        if stream is not None and not stream.closed:
            stream.flush()
    except (OSError, ValueError, AttributeError):
        pass  # nowhere to write it: nothing is out of order


class _StreamCapture:
    """C's stdout pointed at a memory stream of this Library's for the call.

    Where C's stdout is a variable that the C library reads at every write
    (the GNU C library documents stdin, stdout and stderr as variables a
    program may set), swapping it captures exactly what the library writes
    through it: no system call, the caller's descriptors and Python's own
    sys.stdout untouched, so output of other threads (Python's print goes to
    descriptor 1 through sys.stdout, not through C's stdout) is neither lost
    nor taken as records. C code of other threads that writes to C's stdout
    during a call is captured with it.
    """

    kind = "swap of C's stdout"
    _c = None

    @classmethod
    def available(cls) -> bool:
        try:
            if not os.confstr("CS_GNU_LIBC_VERSION"):
                return False
            c = ctypes.CDLL(None)
            ctypes.c_void_p.in_dll(c, "stdout")
            c.open_memstream
        except (AttributeError, ValueError, OSError, TypeError):
            return False
        if cls._c is None:
            c.open_memstream.restype = ctypes.c_void_p
            c.open_memstream.argtypes = (ctypes.c_void_p, ctypes.c_void_p)
            for name in ("fflush", "fclose", "free"):
                getattr(c, name).argtypes = (ctypes.c_void_p,)
            c.fseek.argtypes = (ctypes.c_void_p, ctypes.c_long, ctypes.c_int)
            c.fwrite.argtypes = (ctypes.c_char_p, ctypes.c_size_t, ctypes.c_size_t, ctypes.c_void_p)
            c.fwrite.restype = ctypes.c_size_t
            cls._c = c
        return True

    def __init__(self):
        c = self._c
        self._stdout = ctypes.c_void_p.in_dll(c, "stdout")
        # open_memstream keeps these up to date at every fflush: the
        # library's fflush after each diagnostic tells its size.
        self._text = ctypes.c_void_p()
        self._size = ctypes.c_size_t(0)
        stream = c.open_memstream(ctypes.byref(self._text), ctypes.byref(self._size))
        if not stream:
            raise OSError("cannot set up a buffer for the library's records: open_memstream failed")
        self._stream = stream
        # Library.close() calls it, or the garbage collector.
        self.close = weakref.finalize(self, _StreamCapture._release, c, stream, self._text)

    @staticmethod
    def _release(c, stream, text) -> None:
        c.fclose(stream)
        c.free(text.value)

    def call(self, function, arguments, status) -> bytes:
        """Calls function(*arguments); returns what it wrote to C's stdout."""
        stdout = self._stdout
        _CALL_LOCK.acquire()
        try:
            saved = stdout.value
            stdout.value = self._stream
            try:
                function(*arguments)
            finally:
                stdout.value = saved
            if self._size.value or status.value == FATAL:
                return self._take()
            return b""
        finally:
            _CALL_LOCK.release()

    def _take(self) -> bytes:
        """What the stream holds; it is emptied for the next call."""
        c = self._c
        c.fflush(self._stream)  # anything not flushed yet, and the size
        output = ctypes.string_at(self._text.value, self._size.value) if self._size.value else b""
        c.fseek(self._stream, 0, os.SEEK_SET)
        self._size.value = 0
        return output

    def pass_on(self, output: bytes) -> None:
        """Output of a call that did not fail goes where it would have gone: C's stdout."""
        _flush_python_stdout()
        stdout = self._stdout.value
        if stdout:
            self._c.fwrite(output, 1, len(output), stdout)
            self._c.fflush(stdout)


class _DescriptorCapture:
    """File descriptor 1 pointed at a temporary file for the call, where C's
    stdout cannot be swapped (a Windows DLL writes through the stdout of its
    own C runtime). A file, not a pipe, so that no amount of output can
    block the call. Other threads' output to descriptor 1 during a call is
    captured with it."""

    kind = "redirection of descriptor 1"

    def __init__(self):
        self._fd = None
        self._release = None

    def close(self) -> None:
        if self._release is not None:
            self._release()

    def _file(self) -> int:
        if self._fd is None:
            with tempfile.TemporaryFile() as file:
                fd = os.dup(file.fileno())
            # Never descriptors 0 to 2, should the caller have closed them.
            low = []
            while fd <= 2:
                low.append(fd)
                fd = os.dup(fd)
            for descriptor in low:
                os.close(descriptor)
            self._fd = fd
            self._release = weakref.finalize(self, os.close, fd)
        return self._fd

    def call(self, function, arguments, status) -> bytes:
        with _CALL_LOCK:
            capture = self._file()
            # Whatever Python and C have buffered belongs before the call.
            _flush_python_stdout()
            _flush_c_streams()
            try:
                saved = os.dup(1)
            except OSError:  # descriptor 1 is closed
                saved = None
            os.dup2(capture, 1)
            try:
                function(*arguments)
            finally:
                _flush_c_streams()
                if saved is None:
                    os.close(1)
                else:
                    os.dup2(saved, 1)
                    os.close(saved)
            end = os.lseek(capture, 0, os.SEEK_CUR)
            if end == 0:
                return b""
            os.lseek(capture, 0, os.SEEK_SET)
            chunks = []
            while end > 0:
                chunk = os.read(capture, end)
                if not chunk:
                    break
                chunks.append(chunk)
                end -= len(chunk)
            os.ftruncate(capture, 0)
            os.lseek(capture, 0, os.SEEK_SET)
            return b"".join(chunks)

    @staticmethod
    def pass_on(output: bytes) -> None:
        """Output of a call that did not fail goes where it would have gone: descriptor 1."""
        _flush_python_stdout()
        try:
            while output:
                output = output[os.write(1, output) :]
        except OSError:
            pass  # descriptor 1 is closed: the output had nowhere to go


@functools.lru_cache(maxsize=None)
def _c_runtime():
    """The C runtime whose stdout the library writes to."""
    return ctypes.cdll.msvcrt if os.name == "nt" else ctypes.CDLL(None)


def _flush_c_streams() -> None:
    _c_runtime().fflush(None)


def _new_capture():
    """The capture this C runtime allows, chosen here alone."""
    return _StreamCapture() if _StreamCapture.available() else _DescriptorCapture()


def _records(output: bytes) -> list:
    text = output.decode("utf-8", "backslashreplace")
    if text.endswith("\n"):
        text = text[:-1]
    return text.split("\n") if text else []


# --- argument checks -----------------------------------------------------------------------


def _kind(value) -> str:
    return type(value).__name__


def _is_array(value) -> bool:
    return isinstance(value, _ARRAY)


def _vector_length(value, where: str) -> int:
    if _is_array(value):
        if value.ndim != 1:
            raise ValueError(f"{where} must be one-dimensional, not of shape {value.shape}")
    elif isinstance(value, _NOT_VECTORS) or not hasattr(value, "__len__") or not hasattr(value, "__getitem__"):
        raise TypeError(f"{where} must be a sequence of numbers, not {_kind(value)}")
    length = len(value)
    if length > _MAX_LENGTH:
        raise ValueError(f"{where} has {length} values; at most {_MAX_LENGTH} fit the call")
    return length


def _real_problem(value) -> Optional[Exception]:
    """Why `value` cannot be passed as a real, or None."""
    if value.__class__ is float:
        return None
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


_DOUBLE_FORMATS = frozenset(["d", "@d", "=d", "<d" if sys.byteorder == "little" else ">d"])


class _Buffer:
    """A caller's array of reals that the library writes (a derivative block
    or a workspace). Whatever the library writes reaches the caller's object:
    used in place when it is writable, C-contiguous memory of doubles (NumPy
    float64, array('d'), a ctypes double array); a NumPy array of floats of
    any other layout or a list goes through a copy whose values are written
    back into it after the call. Anything else is refused before the call."""

    WANTED = "a list of reals, a writable NumPy array of floats, array('d') or a ctypes double array"

    def __init__(self, value, where: str):
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
            self.shape = view.shape if view.ndim == 2 else (view.shape[0], 1)
            self.given = str(view.shape[0]) if view.ndim == 1 else f"a buffer of shape {view.shape}"
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
    def _in_place(value) -> bool:
        if isinstance(value, list):
            return False
        if _is_array(value):
            return value.dtype == numpy.float64 and value.dtype.isnative and value.flags.c_contiguous and value.flags.aligned
        return True  # a buffer of doubles, checked above

    def write_back(self) -> None:
        if not self.copied:
            return
        if _is_array(self.value):
            # In place, whatever its layout: reshape() may give a copy.
            self.value[...] = numpy.frombuffer(self.cells, dtype=numpy.float64).reshape(self.value.shape)
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
