"""The nine procedures as the package sees them, read from the procedure
description (su55if_procedures.json): their arguments in order, by the
manual's names and by Python keyword, and where each size comes from.

Where the description is found, in order:

1. ``procedures.json`` in this package: an installed package carries the
   copy that the build took from ``include/`` when it was built;
2. ``include/su55if_procedures.json`` of the checkout, when the package is
   used straight from the source tree;
3. ``share/su55if/procedures.json`` beside an installed library
   (``PREFIX/lib/libsu55if.so`` or ``PREFIX/lib/<triplet>/libsu55if.so``).
"""

from __future__ import annotations

import json
import re
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Optional

PACKAGE_DIR = Path(__file__).resolve().parent
# The checkout this package belongs to when used from the source tree.
CHECKOUT = PACKAGE_DIR.parent.parent

_SIZE = re.compile(r"^(inputSizes|outputSizes)\(([1-9][0-9]*)\)$")

# Marks an input that has no default and must be given.
REQUIRED = object()


@dataclass(frozen=True)
class Argument:
    """One input or output argument of a procedure."""

    name: str  # as the manual names it
    keyword: str  # the Python keyword argument or result field
    position: int  # 0-based among the procedure's inputs or outputs
    length_of: Optional[int]  # None for a scalar; else the position whose length it has
    default: object = REQUIRED  # a number, another input's position (int in a tuple), or REQUIRED

    @property
    def is_vector(self) -> bool:
        return self.length_of is not None


@dataclass(frozen=True)
class Procedure:
    """One exported procedure, as the description has it."""

    name: str  # the exported symbol, SU55IF_...
    method: str  # the Library method that calls it
    summary: str
    result: Optional[str]  # name of the result type when there are several outputs
    reads_stage_table: bool  # uses the stage table; every procedure that can stop a run does
    inputs: tuple[Argument, ...]
    outputs: tuple[Argument, ...]
    workspace: int  # reals the caller keeps between calls (0: none)


class DescriptionError(ValueError):
    """The description file is missing or not as the package expects."""


def find_description(library_path: Optional[str] = None) -> Path:
    """The description file to read, in the order of the module docstring."""
    candidates = [PACKAGE_DIR / "procedures.json", CHECKOUT / "include" / "su55if_procedures.json"]
    if library_path:
        library_dir = Path(library_path).resolve().parent
        for prefix in (library_dir.parent, library_dir.parent.parent):
            candidates.append(prefix / "share" / "su55if" / "procedures.json")
    for candidate in candidates:
        if candidate.is_file():
            return candidate
    raise DescriptionError(
        "cannot find the procedure description (looked for " + ", ".join(map(str, candidates)) + ")"
    )


def read_description(path: Path) -> dict[str, Procedure]:
    """The procedures of the description file, by exported name, in file order."""
    try:
        data = json.loads(Path(path).read_text(encoding="utf-8"))
        procedures = {}
        for entry in data["procedures"]:
            procedure = _procedure(entry)
            procedures[procedure.name] = procedure
        return procedures
    except (OSError, ValueError, KeyError, TypeError) as error:
        raise DescriptionError(f"{path}: not a usable procedure description: {error}") from None


def _procedure(entry: dict[str, Any]) -> Procedure:
    name = entry["name"]
    inputs = _arguments(name, entry["inputs"], "inputSizes")
    outputs = _arguments(name, entry["outputs"], "outputSizes")
    result = entry.get("result")
    if len(outputs) > 1 and not result:
        raise ValueError(f"{name} has several outputs but no result name")
    return Procedure(
        name=name,
        method=entry["method"],
        summary=entry["summary"],
        result=result,
        reads_stage_table=bool(entry["readsStageTable"]),
        inputs=inputs,
        outputs=outputs,
        workspace=int(entry["workspace"]),
    )


def _arguments(procedure: str, entries: list[dict[str, Any]], own_sizes: str) -> tuple[Argument, ...]:
    names = [entry["name"] for entry in entries]
    arguments = []
    for position, entry in enumerate(entries):
        length_of = None
        if entry["size"] != "scalar":
            match = _SIZE.match(entry["size"])
            index = int(match.group(2)) - 1 if match else -1
            if not match or match.group(1) != own_sizes or not 0 <= index < len(entries):
                raise ValueError(f"{procedure} {entry['name']}: unusable size {entry['size']!r}")
            length_of = index
        default = entry.get("default", REQUIRED)
        if isinstance(default, str):
            if default not in names:
                raise ValueError(f"{procedure} {entry['name']}: default names no input {default!r}")
            default = (names.index(default),)
        arguments.append(Argument(entry["name"], entry["keyword"], position, length_of, default))
    for argument in arguments:
        owner = argument.length_of
        if owner is not None and arguments[owner].length_of != owner:
            raise ValueError(f"{procedure} {argument.name}: its size is not that of a vector")
    return tuple(arguments)
