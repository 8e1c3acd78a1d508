"""Capturing the diagnostics the library prints for one call."""

from __future__ import annotations

import ctypes
import functools
import os
import sys
import tempfile
import threading
import weakref

from ._errors import FATAL

# The library prints its diagnostics to C's stdout, one fwrite and fflush
# each. A captured call points them somewhere of its own for the length of
# the call, so that the records are known to belong to it; what it points
# is the process's, so captured calls are serialised: by the call helper's
# lock where the helper makes them, else by this one.
#
# A fork waits for the captured call in progress, if any, to end: the child
# then has C's stdout as it should be and a lock that nobody holds (the
# thread that held it does not exist in the child).
_CALL_LOCK = threading.Lock()
if hasattr(os, "register_at_fork"):
    os.register_at_fork(before=_CALL_LOCK.acquire, after_in_parent=_CALL_LOCK.release,
                        after_in_child=_CALL_LOCK.release)


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

    def call(self, function, arguments, status) -> bool:
        """Calls function(*arguments) with status set to 0 first; True when
        it wrote to C's stdout or stopped the run (take() gives what it
        wrote)."""
        stdout = self._stdout
        _CALL_LOCK.acquire()
        try:
            status.value = 0
            saved = stdout.value
            stdout.value = self._stream
            try:
                function(*arguments)
            finally:
                stdout.value = saved
            return bool(self._size.value) or status.value == FATAL
        finally:
            _CALL_LOCK.release()

    def invoker(self, function, arguments, status):
        """call() with these arguments, as a callable of none."""
        return functools.partial(self.call, function, arguments, status)

    def take(self) -> bytes:
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
        self._taken = b""

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

    def call(self, function, arguments, status) -> bool:
        """As _StreamCapture.call."""
        with _CALL_LOCK:
            capture = self._file()
            # Whatever Python and C have buffered belongs before the call.
            _flush_python_stdout()
            _flush_c_streams()
            status.value = 0
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
                return status.value == FATAL
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
            self._taken = b"".join(chunks)
            return True

    invoker = _StreamCapture.invoker

    def take(self) -> bytes:
        """What the last call wrote."""
        taken, self._taken = self._taken, b""
        return taken

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


class _HelperCapture(_StreamCapture):
    """_StreamCapture with the swap, the call and the lock in the call helper
    (python/native/su55if_call.c), beside the library: ctypes then calls the
    helper with five arguments prepared once, and no Python code runs
    around the call. The helper's lock, not _CALL_LOCK, serialises the
    captured calls of a process that has the helper."""

    kind = "swap of C's stdout, in the call helper"

    def __init__(self, helper):
        super().__init__()
        self._helper = helper

    def call(self, function, arguments, status) -> bool:
        return bool(self.invoker(function, arguments, status)())

    def invoker(self, function, arguments, status):
        return functools.partial(
            self._helper.su55if_call_captured, _address(function), ctypes.byref(_pointers(arguments)),
            ctypes.byref(status), ctypes.c_void_p(self._stream), ctypes.byref(self._size),
        )


def _address(function) -> ctypes.c_void_p:
    return ctypes.cast(function, ctypes.c_void_p)


def _pointers(arguments):
    """The fourteen arguments (arrays, references or None) as the array of
    pointers the call helper takes."""
    return (ctypes.c_void_p * 14)(*[None if a is None else ctypes.cast(a, ctypes.c_void_p).value for a in arguments])


@functools.lru_cache(maxsize=None)
def _load_helper(path):
    """The call helper at `path` (a str), or None where there is none or it
    cannot be loaded: the calls then go through ctypes alone."""
    if path is None or not _StreamCapture.available():
        return None
    try:
        helper = ctypes.PyDLL(path)
        helper.su55if_call.restype = None
        helper.su55if_call_captured.restype = ctypes.c_int
    except (OSError, AttributeError):
        return None
    return helper


def _new_capture(helper):
    """The capture this C runtime allows, chosen here alone."""
    if helper is not None:
        return _HelperCapture(helper)
    return _StreamCapture() if _StreamCapture.available() else _DescriptorCapture()


def _plain_invoker(helper, function, arguments):
    """The call, as a callable of none, of a procedure whose output is not captured."""
    if helper is not None:
        return functools.partial(helper.su55if_call, _address(function), ctypes.byref(_pointers(arguments)))
    return functools.partial(function, *arguments)


def _records(output: bytes) -> list:
    text = output.decode("utf-8", "backslashreplace")
    if text.endswith("\n"):
        text = text[:-1]
    return text.split("\n") if text else []
