"""The package's build backend, written with the standard library alone, so
that `pip install ./python` builds it in pip's isolated environment with
nothing to fetch from a package index.

It puts the su55if/ package into a wheel together with two files it takes
from the checkout: procedures.json (a copy of include/su55if_procedures.json,
the one description of the nine procedures) and origin.txt (the checkout's
folder, whose build tree the installed package falls back on for the
library). origin.txt is written only for a real checkout, one that no other
user can change (_is_checkout()): a build from the source archive, which pip
unpacks in a folder of the shared temporary one, records none. The version
is the one project(su55if VERSION ...) gives in the top-level CMakeLists.txt."""

import base64
import hashlib
import io
import os
import re
import stat
import tarfile
import zipfile
from pathlib import Path

NAME = "su55if"
HERE = Path(__file__).resolve().parent.parent  # python/
CHECKOUT = HERE.parent
PACKAGE = HERE / NAME
# A source archive carries the two files the checkout would give.
SDIST_VERSION = HERE / "VERSION"
SDIST_DESCRIPTION = PACKAGE / "procedures.json"

METADATA = """\
Metadata-Version: 2.1
Name: su55if
Version: {version}
Summary: Call the su55if stage-schedule procedures from Python (ctypes; the library itself is built with CMake)
Requires-Python: >=3.9
Provides-Extra: arrays
Requires-Dist: numpy; extra == "arrays"
Provides-Extra: plot
Requires-Dist: matplotlib; extra == "plot"
Description-Content-Type: text/markdown

{readme}"""

WHEEL = """\
Wheel-Version: 1.0
Generator: su55if_build
Root-Is-Purelib: true
Tag: py3-none-any
"""


def _version() -> str:
    if SDIST_VERSION.is_file():
        return SDIST_VERSION.read_text(encoding="utf-8").strip()
    cmake = CHECKOUT / "CMakeLists.txt"
    match = re.search(r"project\(\s*su55if\s+VERSION\s+([0-9.]+)", cmake.read_text(encoding="utf-8"))
    if not match:
        raise SystemExit(f"{cmake}: no project(su55if VERSION ...)")
    return match.group(1)


def _description() -> bytes:
    for path in (CHECKOUT / "include" / "su55if_procedures.json", SDIST_DESCRIPTION):
        if path.is_file():
            return path.read_bytes()
    raise SystemExit(f"{CHECKOUT / 'include' / 'su55if_procedures.json'}: not found; build from a checkout of su55if")


def _is_checkout(folder: Path) -> bool:
    """Whether `folder` holds a checkout of su55if: its own .git and its
    sources, the folder and its .git owned by this user or root, and the
    folder writable by no one else."""
    if SDIST_VERSION.is_file():  # built from the source archive
        return False
    try:
        if not re.search(r"project\(\s*su55if\s", (folder / "CMakeLists.txt").read_text(encoding="utf-8")):
            return False
        places = [os.stat(folder), os.stat(folder / ".git")]
    except (OSError, UnicodeDecodeError):
        return False
    if not ((folder / "src").is_dir() and (folder / "include" / "su55if_procedures.json").is_file()):
        return False
    if os.name != "posix":
        return True
    owners = (0, os.geteuid())
    return all(place.st_uid in owners for place in places) and not places[0].st_mode & (stat.S_IWGRP | stat.S_IWOTH)


def _package_files():
    for path in sorted(PACKAGE.rglob("*")):
        if path.is_file() and "__pycache__" not in path.parts and path.suffix != ".pyc":
            yield path


def _dist_info(version: str) -> dict:
    readme = (HERE / "README.md").read_text(encoding="utf-8")
    info = f"{NAME}-{version}.dist-info"
    return {
        f"{info}/METADATA": METADATA.format(version=version, readme=readme).encode(),
        f"{info}/WHEEL": WHEEL.encode(),
    }


def _write_wheel(directory: str, files: dict, version: str) -> str:
    name = f"{NAME}-{version}-py3-none-any.whl"
    record_name = f"{NAME}-{version}.dist-info/RECORD"
    record = io.StringIO()
    with zipfile.ZipFile(Path(directory) / name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files.items():
            wheel.writestr(path, data)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            record.write(f"{path},sha256={digest},{len(data)}\n")
        record.write(f"{record_name},,\n")
        wheel.writestr(record_name, record.getvalue())
    return name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version = _version()
    files = {f"{NAME}/{path.relative_to(PACKAGE).as_posix()}": path.read_bytes() for path in _package_files()}
    files[f"{NAME}/procedures.json"] = _description()
    if _is_checkout(CHECKOUT):
        files[f"{NAME}/origin.txt"] = (str(CHECKOUT) + "\n").encode()
    files.update(_dist_info(version))
    return _write_wheel(wheel_directory, files, version)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """An install that imports the package from this folder: a .pth file."""
    version = _version()
    files = {f"{NAME}_editable.pth": (str(HERE) + "\n").encode()}
    files.update(_dist_info(version))
    return _write_wheel(wheel_directory, files, version)


def build_sdist(sdist_directory, config_settings=None):
    version = _version()
    root = f"{NAME}-{version}"
    name = f"{root}.tar.gz"
    extra = {"VERSION": (version + "\n").encode(), f"{NAME}/procedures.json": _description()}
    with tarfile.open(Path(sdist_directory) / name, "w:gz", format=tarfile.PAX_FORMAT) as archive:
        for path in [HERE / "pyproject.toml", HERE / "README.md", Path(__file__), *_package_files()]:
            archive.add(path, f"{root}/{path.relative_to(HERE).as_posix()}")
        for path, data in extra.items():
            entry = tarfile.TarInfo(f"{root}/{path}")
            entry.size = len(data)
            archive.addfile(entry, io.BytesIO(data))
        metadata = METADATA.format(version=version, readme="").encode()
        entry = tarfile.TarInfo(f"{root}/PKG-INFO")
        entry.size = len(metadata)
        archive.addfile(entry, io.BytesIO(metadata))
    return name


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []
