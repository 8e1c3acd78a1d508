"""Whether a run's samples fit in memory: said before they are taken, in
the run's terms."""

from __future__ import annotations

import os
from typing import Optional

# What a sample takes: 8 bytes a column.
VALUE_SIZE = 8


def available_memory() -> Optional[int]:
    """The bytes of memory the system can give without swapping, or None
    where it does not say."""
    try:
        with open("/proc/meminfo", encoding="ascii") as meminfo:
            for line in meminfo:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except (OSError, ValueError, IndexError):
        pass
    try:
        return os.sysconf("SC_AVPHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
    except (AttributeError, ValueError, OSError):
        return None


def size_text(count: float) -> str:
    """A number of bytes as a reader says it: 1.5 GB, 320 MB."""
    for unit, size in (("PB", 1e15), ("TB", 1e12), ("GB", 1e9), ("MB", 1e6), ("kB", 1e3)):
        if count >= size:
            return f"{count / size:.3g} {unit}"
    return f"{count:.0f} bytes"


def too_large(samples: float, columns: int, run: str, *, at_least: bool = False) -> Optional[MemoryError]:
    """A MemoryError that names the run's size and the memory it needs,
    when `samples` of `columns` values (at least, with at_least) are more
    than the memory available; else None. `run` says which run ("a run to
    time 1e+09 every 0.5")."""
    needed = samples * columns * VALUE_SIZE
    available = available_memory()
    if available is None or needed <= available:
        return None
    size = f"at least {size_text(needed)}" if at_least else f"{size_text(needed)} ({columns} values a sample)"
    return MemoryError(
        f"{run} makes {samples:,.0f} samples: {size} to hold them, "
        f"more than the {size_text(available)} of memory free; give a longer output_interval or an earlier "
        "stop_time, or have su55if-host write the run to a file (su55if-host run --output-file)"
    )


def out_of_memory(samples: int, columns: int) -> MemoryError:
    """The MemoryError for a run whose samples stopped fitting at `samples`."""
    return MemoryError(
        f"the run's samples no longer fit in memory at {samples:,} samples of {columns} values "
        f"({size_text(samples * columns * VALUE_SIZE)}); give a longer output_interval or an earlier stop_time, "
        "or have su55if-host write the run to a file (su55if-host run --output-file)"
    )


def past_bound(bound: int, columns: int) -> str:
    """What is wrong with a run whose samples, of unknown number, pass
    `bound`, all that the memory free held when the run began."""
    return (
        f"the run passes {bound:,} samples of {columns} values ({size_text(bound * columns * VALUE_SIZE)}), "
        "all that the memory free holds; give a longer output_interval or fewer cycles, or have su55if-host "
        "write the run to a file (su55if-host run --output-file)"
    )
