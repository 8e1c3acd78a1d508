"""Finding su55if-host, asking it, and mapping how it ended to exceptions.

The package reads and runs cycles with the host of the same build or
installation, never a copy of its own (docs/host.md).
"""

from __future__ import annotations

import json
import os
import re
import shutil
import signal
import subprocess
import threading
import warnings
from collections.abc import Callable, Sequence
from functools import lru_cache
from pathlib import Path
from typing import IO, Any, Optional, Union

from ._errors import CycleFileError, LinkDriftWarning, SimulationTerminated
from ._files import _checkout, _first_usable, _layout, _prefixes, find_library

HOST_FILE = "su55if-host"
MIN_HOST_VERSION = (0, 1, 0)
_VERSION = re.compile(re.escape(HOST_FILE) + r" ([0-9]+)\.([0-9]+)\.([0-9]+)(?![0-9])")
# The host's options that make every message it gives a record: a JSON
# object on a line of standard error.
MESSAGES_AS_RECORDS = ["--messages", "json"]
# The names of the settings the host's records name by a neutral key.
_SETTINGS = {"stopTime": "stop_time", "outputInterval": "output_interval", "cycles": "cycles", "beds": "beds"}
# The host's exit code when the loaded library ended the process during a call.
_LIBRARY_ENDED = 3
# Standard error kept from a run: the first warnings and the first lines of
# anything else; the rest is counted.
_KEPT_WARNINGS = 100
_KEPT_BYTES = 1 << 20
# How long a host asked to end may take to remove its temporary files.
_GRACE_SECONDS = 3.0

PathLike = Union[str, "os.PathLike[str]"]


# --- finding the host ----------------------------------------------------------------------


def _beside_library(library: Optional[PathLike]) -> list[Path]:
    """Where the host of the library `library` (default: the one load()
    finds) lies, for the layouts the package knows alone: PREFIX/bin for a
    library in a library folder of PREFIX (lib, lib/<triplet>, lib64; bin
    on Windows, where both are in bin), and a build tree's tools/ for its
    src/ (a folder with CMakeCache.txt). A library elsewhere has none."""
    if library is None:
        try:
            library = find_library()
        except (FileNotFoundError, OSError):
            return []
    layout = _layout()
    folder = Path(os.fspath(library)).resolve().parent
    places = []
    for directory in layout.library_dirs:
        parts = tuple(directory.split("/"))
        if folder.parts[-len(parts):] == parts:
            places.append(Path(*folder.parts[:-len(parts)]) / "bin" / layout.host_file)
    if folder.name == "src" and (folder.parent / "CMakeCache.txt").is_file():
        places.append(folder.parent / "tools" / layout.host_file)
    return places


def host_candidates(library: Optional[PathLike] = None) -> list[Path]:
    """Where find_host() looks when it is given no path, in order: the
    SU55IF_HOST environment variable; beside the library in use (`library`,
    else the one load() finds); su55if-host on PATH; PREFIX/bin for the
    installed prefixes (the Python environment's, /usr/local, /usr); the
    build tree. On Windows the file is su55if-host.exe and the build tree
    build/windows. A place searched is passed over where another user could
    change the file in it, as for the library."""
    layout = _layout()
    candidates = [Path(os.environ["SU55IF_HOST"])] if os.environ.get("SU55IF_HOST") else []
    candidates += _beside_library(library)
    on_path = shutil.which(layout.host_file)
    if on_path:
        candidates.append(Path(on_path))
    candidates += [Path(prefix, "bin", layout.host_file) for prefix in _prefixes()]
    return candidates + [_checkout() / "build" / layout.build / "tools" / layout.host_file]


def find_host(path: Optional[PathLike] = None, *, library: Optional[PathLike] = None) -> Path:
    """The su55if-host that runs cycles: `path` if given, else the first of
    host_candidates(library) that exists. A file named explicitly (by `path`
    or SU55IF_HOST) must exist; it is never passed over. Raises
    FileNotFoundError when there is none, RuntimeError when the host cannot
    be run or is older than MIN_HOST_VERSION."""
    named = "given as host="
    if path is None and os.environ.get("SU55IF_HOST"):
        path, named = os.environ["SU55IF_HOST"], "named by SU55IF_HOST"
    if path is not None:
        host = Path(os.fsdecode(path))
        if not host.is_file():
            raise FileNotFoundError(f"{host}: no such {HOST_FILE} file ({named})")
    else:
        found, seen = _first_usable(host_candidates(library))
        if found is None:
            raise FileNotFoundError(
                f"cannot find {HOST_FILE} ({seen}); build it "
                f"(cmake --build build/default --target {HOST_FILE}), put it on PATH, or name it with host=PATH "
                "or the SU55IF_HOST environment variable"
            )
        host = found
    host = host.resolve()
    _check_version(host, host.stat().st_mtime_ns)
    return host


@lru_cache(maxsize=None)
def _check_version(host: Path, mtime: int) -> tuple[int, ...]:
    """The host's version, asked once per file and modification time."""
    try:
        answer = subprocess.run(
            [host, "--version"], stdin=subprocess.DEVNULL, capture_output=True, timeout=60, check=False
        )
    except (OSError, subprocess.SubprocessError) as error:
        raise RuntimeError(f"{host}: cannot run it to ask its version: {error}") from None
    first = answer.stdout.decode("utf-8", "backslashreplace").partition("\n")[0]
    match = _VERSION.match(first)
    needed = ".".join(map(str, MIN_HOST_VERSION))
    if answer.returncode != 0 or match is None:
        raise RuntimeError(
            f"{host}: not a usable {HOST_FILE}: `--version` printed {first!r} (exit code {answer.returncode}), "
            f"not '{HOST_FILE} X.Y.Z'; version {needed} or later is needed"
        )
    version = tuple(int(part) for part in match.groups())
    if version < MIN_HOST_VERSION:
        raise RuntimeError(
            f"{host}: {HOST_FILE} {'.'.join(map(str, version))} is too old: version {needed} or later is needed "
            "(build or install a newer one, or name it with host=PATH or SU55IF_HOST)"
        )
    return version


def _library_path(library: Any) -> Optional[PathLike]:
    """The path of a Library or a path, else the library load() would load
    (None when the package finds none: the host then searches its own)."""
    path = getattr(library, "path", library)
    if path is None:
        try:
            return find_library()
        except FileNotFoundError:
            if os.environ.get("SU55IF_LIBRARY"):
                raise  # a library named explicitly is never passed over
            return None
    return path  # type: ignore[no-any-return]


def _library_options(library: Any, absolute: bool = False) -> list[str]:
    """--library for the host, so that Python and the host use the same
    library. absolute: for a host run in another folder."""
    path = _library_path(library)
    if path is None:
        return []
    return ["--library", os.path.abspath(os.fspath(path)) if absolute else os.fspath(path)]


# --- how the host ended --------------------------------------------------------------------


Describe = Callable[[dict[str, Any]], str]


def _record(line: str) -> Optional[dict[str, Any]]:
    """A line of the host's standard error as the record it holds, or None."""
    try:
        record = json.loads(line)
    except ValueError:
        return None
    return record if isinstance(record, dict) and isinstance(record.get("kind"), str) else None


def describe(record: dict[str, Any]) -> str:
    """A record in Python's words: a setting by its argument name, else the
    file, line and column and the engine's message."""
    option = _SETTINGS.get(record.get("option") or "")
    if option and record.get("rule"):
        return f"{option}: {record['rule']}"
    where = ":".join(str(part) for part in (record.get("file"), record.get("line"), record.get("column")) if part)
    return f"{where}: {record['message']}" if where else str(record["message"])


def _failure(host: Path, returncode: int, records: Sequence[dict[str, Any]], lines: Sequence[str],
             describe: Describe = describe) -> Exception:
    """The exception for a host that did not succeed: SimulationTerminated
    (exit code 1), CycleFileError (a fault in a cycle or a file) or
    ValueError (exit code 2), each from the host's records; RuntimeError for
    anything else."""
    if returncode == 1:
        stop = next((r for r in records if r["kind"] == "runStopped"), None)
        reasons = [r for r in records if r["kind"] != "runStopped"]
        explanation = [line for r in reasons for line in (r["message"], (r.get("fix") or {}).get("text")) if line]
        return SimulationTerminated(HOST_FILE, stop["libraryRecords"] if stop else list(lines), explanation)
    if returncode == 2 and records:
        message = "\n".join(describe(record) for record in records)
        if any(record.get("file") or record.get("stage") for record in records):
            return CycleFileError(message, records)
        return ValueError(message)
    if returncode < 0:
        try:
            ended = f"was ended by {signal.Signals(-returncode).name}"
        except ValueError:
            ended = f"was ended by signal {-returncode}"
    elif returncode == _LIBRARY_ENDED:
        ended = f"failed (exit code {returncode}): the library ended the process during a call"
    else:
        ended = f"failed with exit code {returncode}"
    details = "".join("\n  " + line for line in [*map(describe, records), *lines]) or " (nothing on standard error)"
    return RuntimeError(f"{host} {ended}:{details}")


def _records_of(stderr: bytes) -> tuple[list[dict[str, Any]], list[str]]:
    """The records on the host's standard error, and its other lines."""
    records: list[dict[str, Any]] = []
    lines: list[str] = []
    for line in stderr.decode("utf-8", "backslashreplace").splitlines():
        record = _record(line)
        if record is None:
            lines.append(line)
        else:
            records.append(record)
    return records, lines


class _Errors:
    """The host's standard error, read as it comes by a thread of its own
    and kept within bounds: the first warnings and the first megabyte of
    everything else, with a count of what was left out."""

    def __init__(self, stream: IO[bytes]) -> None:
        self.warnings: list[str] = []
        self.records: list[dict[str, Any]] = []
        self.lines: list[str] = []
        self.left_out_warnings = 0
        self.left_out_lines = 0
        self._kept = 0
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream: IO[bytes]) -> None:
        with stream:
            for raw in iter(lambda: stream.readline(1 << 16), b""):
                line = raw.decode("utf-8", "backslashreplace").rstrip("\r\n")
                record = _record(line)
                if record is not None and record.get("severity") == "warning":
                    if len(self.warnings) < _KEPT_WARNINGS:
                        self.warnings.append(str(record.get("rule") or record["message"]))
                    else:
                        self.left_out_warnings += 1
                elif self._kept < _KEPT_BYTES:
                    if record is not None:
                        self.records.append(record)
                    else:
                        self.lines.append(line)
                    self._kept += len(raw)
                else:
                    self.left_out_lines += 1

    def text(self) -> str:
        self._thread.join()
        lines = self.lines + ([f"({self.left_out_lines} more lines left out)"] if self.left_out_lines else [])
        return "\n".join(lines)

    def warn(self, stacklevel: int) -> None:
        self._thread.join()
        for message in self.warnings:
            warnings.warn(message, LinkDriftWarning, stacklevel=stacklevel + 1)
        if self.left_out_warnings:
            warnings.warn(f"and {self.left_out_warnings} more such warnings", LinkDriftWarning,
                          stacklevel=stacklevel + 1)


def _end(process: subprocess.Popen[bytes]) -> None:
    """Asks the host to end (SIGTERM, or Windows' TerminateProcess) and
    gives it a moment to remove its temporary files before it is killed."""
    if process.poll() is not None:
        return
    try:
        process.terminate()
        process.wait(_GRACE_SECONDS)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    except BaseException:
        process.kill()
        process.wait()
        raise


def _run(command: Sequence[Any], folder: Optional[str], host: Path,
         read: Callable[[IO[bytes]], Optional[str]], stacklevel: int, *, given: Optional[bytes] = None,
         describe: Describe = describe) -> None:
    """Runs the host, `read` taking its standard output as it comes (and
    returning what is wrong with it, or None); standard error is read
    meanwhile, and `given` is its standard input. Raises as _failure() says
    for a host that failed, or RuntimeError for output that `read` refused;
    an interrupt ends the host as _end() does."""
    process = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL if given is None else subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert process.stdout is not None and process.stderr is not None
    errors = _Errors(process.stderr)
    if given is not None:
        assert process.stdin is not None
        # The host reads all of it before it writes anything.
        with process.stdin:
            try:
                process.stdin.write(given)
            except BrokenPipeError:
                pass
    ended = False
    try:
        with process.stdout:
            fault = read(process.stdout)
            # Output after the fault: the host is still writing, and is
            # ended; else it ended by itself, and says how.
            if fault and process.stdout.read(1):
                ended = True
                _end(process)
        returncode = process.wait()
    except BaseException:
        _end(process)
        raise
    if returncode != 0 and not ended:
        errors.text()
        raise _failure(host, returncode, errors.records, errors.lines, describe)
    if fault:
        raise RuntimeError(f"{host}: {fault}")
    errors.warn(stacklevel + 1)
