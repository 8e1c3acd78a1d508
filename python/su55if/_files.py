"""Finding the library (and, by the same rules, the host), checking that a
file is a whole shared library, and loading it."""

from __future__ import annotations

import ctypes
import importlib.metadata
import os
import re
import shutil
import stat
import struct
import sys
import sysconfig
import tempfile
from pathlib import Path
from typing import BinaryIO, NamedTuple, Optional

from . import _description
from ._arguments import PathLike, _kind


class _Layout(NamedTuple):
    """Where a build or an installation puts the library and the host on one
    system: file names, the folders under a prefix that may hold the
    library, the prefixes beyond the Python environment's, and the build of
    a checkout."""

    library_file: str
    library_dirs: tuple[str, ...]
    host_file: str
    system_prefixes: tuple[str, ...]
    build: str
    # The library's own file (its SONAME, of the ABI this package calls),
    # looked for after library_file in each folder: a runtime-only install
    # (Debian's libsu55if0) has no libsu55if.so link.
    soname_file: Optional[str] = None


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
    return _Layout(
        "libsu55if.so", tuple(library_dirs), "su55if-host", ("/usr/local", "/usr"), "default", "libsu55if.so.0"
    )


LIBRARY_FILE = _layout().library_file


def _prefixes() -> list[str]:
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


def _installed_locations() -> list[Path]:
    layout = _layout()
    names = [name for name in (layout.library_file, layout.soname_file) if name]
    return [Path(prefix, directory, name) for prefix in _prefixes() for directory in layout.library_dirs for name in names]


def _others_can_change(path: PathLike) -> Optional[Path]:
    """The first place on the way to `path` (the file, a folder above it, a
    link on the way) that a user other than this one and root could change,
    or None. Such a place is one that another user owns, or that its group
    or everyone may write; a folder with the sticky bit (/tmp) excepted,
    where others may add entries but not replace another's, and the
    group's write where the group is the user's own (named after the user,
    with no other member: a umask of 002 makes such files). Windows'
    permissions are not modes: None there."""
    if os.name != "posix":
        return None
    owners = (0, os.geteuid())
    own_group = _own_group()
    given = Path(os.path.abspath(path))
    real_places: dict[str, None] = {}  # where each step of the way leads, and the folders above, in order
    for place in (given, *given.parents):
        real = Path(os.path.realpath(place))
        for step in (real, *real.parents):
            real_places.setdefault(str(step))
        try:
            if os.lstat(place).st_uid not in owners:  # a link of another user's, say
                return place
        except OSError:
            return place
    for place in map(Path, real_places):
        try:
            status = os.stat(place)
        except OSError:
            return place
        sticky = stat.S_ISDIR(status.st_mode) and status.st_mode & stat.S_ISVTX
        group_writes = status.st_mode & stat.S_IWGRP and status.st_gid != own_group
        if status.st_uid not in owners or ((group_writes or status.st_mode & stat.S_IWOTH) and not sticky):
            return place
    return None


def _own_group() -> Optional[int]:
    """The user's own group, named after the user with no other member, or None."""
    import grp
    import pwd

    try:
        user = pwd.getpwuid(os.geteuid()).pw_name
        group = grp.getgrgid(os.getegid())
    except KeyError:
        return None
    others = [member for member in group.gr_mem if member != user]
    primary = [entry.pw_name for entry in pwd.getpwall() if entry.pw_gid == group.gr_gid and entry.pw_name != user]
    return group.gr_gid if group.gr_name == user and not others and not primary else None


def _first_usable(candidates: list[Path]) -> tuple[Optional[Path], str]:
    """The first place searched that holds a file no other user can change,
    or None and what the search saw, for the message: the places looked
    for, and those passed over because another user could change them."""
    passed_over = []
    for candidate in candidates:
        if candidate.is_file():
            place = _others_can_change(candidate)
            if place is None:
                return candidate, ""
            passed_over.append(f"{candidate} (another user can change {place})")
    seen = f"looked for {', '.join(map(str, candidates))}"
    return None, seen + (f"; passed over {', '.join(passed_over)}" if passed_over else "")


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


def _imported_from_checkout() -> bool:
    """Whether this package is the python/su55if/ of a checkout (imported
    with PYTHONPATH=python, say), not an installed copy."""
    return (_description.CHECKOUT / "python" / "su55if" / "__init__.py").is_file() and \
        (_description.CHECKOUT / "CMakeLists.txt").is_file()


def library_candidates() -> list[Path]:
    """Where load() looks when it is given no path, in order: the
    SU55IF_LIBRARY environment variable; then, for the package of a
    checkout, that checkout's build before the installed locations, and for
    an installed package, the installed locations before the build of the
    checkout it was built from. A place searched is passed over where
    another user could change the file in it (_first_usable())."""
    candidates: list[Path] = []
    if os.environ.get("SU55IF_LIBRARY"):
        candidates.append(Path(os.environ["SU55IF_LIBRARY"]))
    if _imported_from_checkout():
        return candidates + [_build_tree_location()] + _installed_locations()
    return candidates + _installed_locations() + [_build_tree_location()]


_VERSIONED = re.compile(r"\.so\.([0-9]+\.[0-9]+\.[0-9]+)$")


def library_version(path: PathLike) -> Optional[str]:
    """The library's version, X.Y.Z, as its real file name gives it
    (libsu55if.so.X.Y.Z); None for a file named otherwise."""
    match = _VERSIONED.search(os.path.realpath(path))
    return match.group(1) if match else None


def package_version() -> str:
    """This package's version: its distribution's metadata when it was
    installed with it, else that of the checkout it sits in."""
    try:
        distribution = importlib.metadata.distribution("su55if")
        if Path(str(distribution.locate_file("su55if/__init__.py"))).resolve() == _description.PACKAGE_DIR / "__init__.py":
            return distribution.version
    except importlib.metadata.PackageNotFoundError:
        pass
    cmake = _description.CHECKOUT / "CMakeLists.txt"
    try:
        match = re.search(r"project\(\s*su55if\s+VERSION\s+([0-9.]+)", cmake.read_text(encoding="utf-8"))
    except OSError:
        match = None
    return match.group(1) if match else "unknown"


def find_library(path: Optional[PathLike] = None) -> Path:
    """The library file load() would load: `path` if given, else the first
    candidate that exists. A file named explicitly (by `path` or
    SU55IF_LIBRARY) must exist; it is never passed over."""
    return _find_library(path, "find_library()")


def _find_library(path: Optional[PathLike], where: str) -> Path:
    named = "path"
    if path is None and os.environ.get("SU55IF_LIBRARY"):
        path, named = os.environ["SU55IF_LIBRARY"], "SU55IF_LIBRARY"
    if path is not None:
        return _named_file(path, f"{where}: {named}")
    found, seen = _first_usable(library_candidates())
    if found is not None:
        return found.resolve()
    raise FileNotFoundError(
        f"cannot find {LIBRARY_FILE} ({seen}); "
        "name it with su55if.load(PATH) or the SU55IF_LIBRARY environment variable"
    )


def _named_file(path: object, where: str) -> Path:
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


def _read(file: BinaryIO, size: int, offset: int, count: int) -> Optional[bytes]:
    """`count` bytes from `offset`, or None where they do not lie within the file."""
    if offset < 0 or count < 0 or offset + count > size:
        return None
    file.seek(offset)
    data = file.read(count)
    return data if len(data) == count else None


def _elf_fault(file: BinaryIO, size: int) -> Optional[str]:
    """ELF: the header, the program headers, the file part of every segment,
    the section headers: as su55if-host reads them (tests/data/libraries)."""
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
        phoff, shoff = struct.unpack_from(order + "QQ", header, 0x20)
        phentsize, phnum, shentsize, shnum = struct.unpack_from(order + "HHHH", header, 0x36)
    else:
        phoff, shoff = struct.unpack_from(order + "II", header, 0x1C)
        phentsize, phnum, shentsize, shnum = struct.unpack_from(order + "HHHH", header, 0x2A)
    if phentsize != (56 if wide else 32) or phnum == 0:
        return "an ELF file without the program headers a loader needs"
    table = _read(file, size, phoff, phnum * phentsize)
    if table is None:
        return f"cut short: the program headers end at byte {phoff + phnum * phentsize} of a file of {size}"
    entry = struct.Struct(order + ("IIQQQQ" if wide else "IIIII"))
    for k in range(phnum):
        fields = entry.unpack_from(table, k * phentsize)
        offset, filesz = (fields[2], fields[5]) if wide else (fields[1], fields[4])
        if offset + filesz > size:
            return f"cut short: segment {k + 1} ends at byte {offset + filesz} of a file of {size}"
    if shnum and shoff + shnum * shentsize > size:
        return f"cut short: the section headers end at byte {shoff + shnum * shentsize} of a file of {size}"
    return None


def _pe_fault(file: BinaryIO, size: int) -> Optional[str]:
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


def _library_fault(path: PathLike) -> Optional[str]:
    """What keeps the file at `path` from being a complete shared library, or None."""
    with open(path, "rb") as file:
        size = os.fstat(file.fileno()).st_size
        start = file.read(4)
        for magic, fault in _FORMATS:
            if start.startswith(magic):
                return fault(file, size)
    return "not a shared library"


def _check_library_file(path: PathLike, shown: Path) -> None:
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


def _install_hint(package: str) -> str:
    """How to install the Python package `package` (numpy, matplotlib) for
    the interpreter that runs this: apt-get for Debian's own, pip otherwise."""
    import shlex

    executable = sys.executable
    if executable and sys.prefix == "/usr" and os.path.dirname(os.path.realpath(executable)) == "/usr/bin":
        return f"Debian: apt-get install python3-{package}"
    return f"{shlex.quote(executable or 'python3')} -m pip install {package}"
