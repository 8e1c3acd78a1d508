"""Capturing the diagnostics the library prints for one call."""

from __future__ import annotations

import ctypes
import functools
import os
import sys
import tempfile
import threading
import weakref
from collections.abc import Callable, Sequence
from typing import Any, Optional

from ._errors import FATAL

# The library prints its diagnostics to C's stdout, one fwrite and fflush
# each, and only with status 4. A captured call points them somewhere of its
# own for the length of the call, so that the records are known to belong to
# it; what it points is the process's (C's stdout, or descriptor 1), so
# every captured call takes this lock around the swap, the call, the swap
# back and the reading of what was written. It is the only code that moves
# C's stdout or descriptor 1 for a call, so one lock is enough, whichever
# thread calls. (The library is loaded as a PyDLL, which keeps the GIL
# across its calls, a fraction of a microsecond each; the capture does not
# rely on that.) C code of other threads that writes to C's stdout
# meanwhile is captured with the call and passed on.
#
# A fork through os.fork() waits for the captured call in progress, if any,
# to end: the child then has C's stdout as it should be and a lock that
# nobody holds (the thread that held it does not exist in the child). A
# fork from C code of another thread does not wait: its child may find C's
# stdout pointed at the capture's file. That is a file stream, not a memory
# stream, because the GNU C library makes the locks of its file streams
# free in the child of a fork, and not those of memory streams: a child
# that prints there, or calls the library, never waits on a lock held by a
# thread the fork left behind. (The library's own fork handler keeps its
# stage table usable in the child.)
#
# A file and its offset are shared across a fork, so the child of
# os.fork() (a multiprocessing worker, say) gives every capture a file of
# its own before it goes on: else parent and child would read, empty and
# rewind one file, each taking the other's records. A fork from C code runs
# no Python handler: a child that calls through this package after one
# shares the files with its parent.
_CALL_LOCK = threading.Lock()
_CAPTURES: weakref.WeakSet[_Capture] = weakref.WeakSet()  # this process's, each with its file


def _after_fork_in_child() -> None:
    _CALL_LOCK.release()
    for capture in list(_CAPTURES):
        capture.renew()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(before=_CALL_LOCK.acquire, after_in_parent=_CALL_LOCK.release,
                        after_in_child=_after_fork_in_child)


def _flush_python_stdout() -> None:
    """Python's buffered standard output, out before anything C writes."""
    stream = sys.stdout
    try:
        if stream is not None and not stream.closed:
            stream.flush()
    except (OSError, ValueError, AttributeError):
        pass  # nowhere to write it: nothing is out of order


class _Capture:
    """What both captures offer."""

    kind = ""

    def call(self, function: Callable[..., None], arguments: Sequence[Any], status: ctypes.c_int) -> Optional[bytes]:
        """Calls function(*arguments) with status set to 0 first; what it
        wrote to C's stdout when it wrote or stopped the run, else None."""
        raise NotImplementedError

    def invoker(self, function: Callable[..., None], arguments: Sequence[Any],
                status: ctypes.c_int) -> Callable[[], Optional[bytes]]:
        """call() with these arguments, as a callable of none."""
        return functools.partial(self.call, function, arguments, status)

    def pass_on(self, output: bytes) -> None:
        """Output of a call that did not fail goes where it would have gone."""
        raise NotImplementedError

    def close(self) -> None:
        raise NotImplementedError

    def renew(self) -> None:
        """In the child of a fork: a file of its own in place of the parent's."""
        raise NotImplementedError


class _StreamCapture(_Capture):
    """C's stdout pointed at a temporary file of this Library's for the call
    (a stream opened with fdopen, made once).

    Where C's stdout is a variable that the C library reads at every write
    (the GNU C library documents stdin, stdout and stderr as variables a
    program may set), swapping it captures exactly what the library writes
    through it: the caller's descriptors and Python's own sys.stdout
    untouched, so output of other threads (Python's print goes to
    descriptor 1 through sys.stdout, not through C's stdout) is neither lost
    nor taken as records. C code of other threads that writes to C's stdout
    during a call is captured with it.
    """

    kind = "swap of C's stdout"
    _c: Any = None

    @classmethod
    def available(cls) -> bool:
        try:
            if not os.confstr("CS_GNU_LIBC_VERSION"):
                return False
            c = ctypes.CDLL(None)
            ctypes.c_void_p.in_dll(c, "stdout")
            c.fdopen
        except (AttributeError, ValueError, OSError, TypeError):
            return False
        if cls._c is None:
            c.fdopen.restype = ctypes.c_void_p
            c.fdopen.argtypes = (ctypes.c_int, ctypes.c_char_p)
            for name in ("fflush", "fclose"):
                getattr(c, name).argtypes = (ctypes.c_void_p,)
            c.fseek.argtypes = (ctypes.c_void_p, ctypes.c_long, ctypes.c_int)
            c.fwrite.argtypes = (ctypes.c_char_p, ctypes.c_size_t, ctypes.c_size_t, ctypes.c_void_p)
            c.fwrite.restype = ctypes.c_size_t
            cls._c = c
        return True

    def __init__(self) -> None:
        self._stdout = ctypes.c_void_p.in_dll(self._c, "stdout")
        self._open()

    def _open(self) -> None:
        c = self._c
        fd = _temporary_descriptor()
        stream = c.fdopen(fd, b"w+")
        if not stream:
            os.close(fd)
            raise OSError("cannot set up a file for the library's records: fdopen failed")
        self._stream = stream
        # The library flushes after each diagnostic: the file's offset
        # tells whether anything was written.
        self._fd = fd
        self._release = weakref.finalize(self, c.fclose, stream)

    def close(self) -> None:
        """Library.close() calls it, or the garbage collector."""
        self._release()

    def renew(self) -> None:
        # No call is under way (the fork waited for it): closing the
        # child's stream writes nothing to the parent's file.
        if self._release.alive:
            self._release()
            self._open()

    def call(self, function: Callable[..., None], arguments: Sequence[Any], status: ctypes.c_int) -> Optional[bytes]:
        stdout = self._stdout
        with _CALL_LOCK:
            status.value = 0
            saved = stdout.value
            stdout.value = self._stream
            try:
                function(*arguments)
            finally:
                stdout.value = saved
            if os.lseek(self._fd, 0, os.SEEK_CUR) or status.value == FATAL:
                return self._take()
            return None

    def _take(self) -> bytes:
        """What the file holds; it is emptied for the next call."""
        c, fd = self._c, self._fd
        c.fflush(self._stream)  # anything not flushed yet
        output = _emptied(fd)
        c.fseek(self._stream, 0, os.SEEK_SET)
        return output

    def pass_on(self, output: bytes) -> None:
        """Output of a call that did not fail goes where it would have gone: C's stdout."""
        _flush_python_stdout()
        stdout = self._stdout.value
        if stdout:
            self._c.fwrite(output, 1, len(output), stdout)
            self._c.fflush(stdout)


class _DescriptorCapture(_Capture):
    """File descriptor 1 pointed at a temporary file for the call, where C's
    stdout cannot be swapped (a Windows DLL writes through the stdout of its
    own C runtime). A file, not a pipe, so that no amount of output can
    block the call. Other threads' output to descriptor 1 during a call is
    captured with it."""

    kind = "redirection of descriptor 1"

    def __init__(self) -> None:
        self._fd: Optional[int] = None
        self._release: Optional[weakref.finalize] = None

    def close(self) -> None:
        if self._release is not None:
            self._release()

    def renew(self) -> None:
        if self._release is not None and self._release.alive:
            self._release()
            self._fd = self._release = None

    def _file(self) -> int:
        if self._fd is None:
            fd = self._fd = _temporary_descriptor()
            self._release = weakref.finalize(self, os.close, fd)
        return self._fd

    def call(self, function: Callable[..., None], arguments: Sequence[Any], status: ctypes.c_int) -> Optional[bytes]:
        with _CALL_LOCK:
            capture = self._file()
            # Whatever Python and C have buffered belongs before the call.
            _flush_python_stdout()
            _flush_c_streams()
            status.value = 0
            try:
                saved: Optional[int] = os.dup(1)
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
            if os.lseek(capture, 0, os.SEEK_CUR) or status.value == FATAL:
                output = _emptied(capture)
                os.lseek(capture, 0, os.SEEK_SET)
                return output
            return None

    def pass_on(self, output: bytes) -> None:
        """Output of a call that did not fail goes where it would have gone: descriptor 1."""
        _flush_python_stdout()
        try:
            while output:
                output = output[os.write(1, output) :]
        except OSError:
            pass  # descriptor 1 is closed: the output had nowhere to go


def _temporary_descriptor() -> int:
    """A descriptor of a fresh temporary file (in TMPDIR, removed already),
    never 0 to 2, should the caller have closed them."""
    with tempfile.TemporaryFile() as file:
        fd = os.dup(file.fileno())
    low = []
    while fd <= 2:
        low.append(fd)
        fd = os.dup(fd)
    for descriptor in low:
        os.close(descriptor)
    return fd


def _emptied(fd: int) -> bytes:
    """What the file `fd` holds up to its offset; the file is emptied."""
    size = os.lseek(fd, 0, os.SEEK_CUR)
    chunks: list[bytes] = []
    while size > 0:
        chunk = os.pread(fd, size, sum(map(len, chunks)))
        if not chunk:
            break
        chunks.append(chunk)
        size -= len(chunk)
    os.ftruncate(fd, 0)
    return b"".join(chunks)


@functools.lru_cache(maxsize=None)
def _c_runtime() -> Any:
    """The C runtime whose stdout the library writes to."""
    return ctypes.cdll.msvcrt if os.name == "nt" else ctypes.CDLL(None)


def _flush_c_streams() -> None:
    _c_runtime().fflush(None)


def _new_capture() -> _Capture:
    """The capture this C runtime allows, chosen here alone."""
    capture = _StreamCapture() if _StreamCapture.available() else _DescriptorCapture()
    _CAPTURES.add(capture)
    return capture


def _records(output: bytes) -> list[str]:
    text = output.decode("utf-8", "backslashreplace")
    if text.endswith("\n"):
        text = text[:-1]
    return text.split("\n") if text else []
