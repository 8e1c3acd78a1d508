"""Cycle.run of 1,000,001 samples of examples/four-stage.csv (stop time
10000, output interval 0.01) against `su55if-host run ... --output-file`,
side by side in one run: wall time and peak memory of each, each in a
process of its own. Prints a Markdown table; exits 1 when Python takes more
than 1.5 times the host's wall time or more than 120 MB.

    /usr/bin/python3 python/bench/cycle_run.py [HOST]
"""

import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

CHECKOUT = Path(__file__).resolve().parents[2]
CYCLE = CHECKOUT / "examples" / "four-stage.csv"
HOST = Path(sys.argv[1]) if len(sys.argv) > 1 else CHECKOUT / "build" / "default" / "tools" / "su55if-host"
TIME_TARGET, MEMORY_TARGET = 1.5, 120

PYTHON_RUN = f"""
import sys
sys.path.insert(0, {str(CHECKOUT / "python")!r})
import su55if
timeline = su55if.read_cycle({str(CYCLE)!r}, host={str(HOST)!r}).run(stop_time=10000, output_interval=0.01,
                                                                  host={str(HOST)!r})
assert len(timeline) == 1_000_001
"""


def measured(command):
    """(wall seconds, peak resident MB) of a command in a child of its own."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss  # the largest child so far, in kB
    return wall, max(peak, before) / 1024


def main() -> int:
    with tempfile.TemporaryDirectory() as folder:
        output = os.path.join(folder, "out.csv")
        host = [str(HOST), "-q", "run", str(CYCLE), "--stop-time", "10000", "--output-interval", "0.01",
                "--output-file", output]
        python = [sys.executable, "-c", PYTHON_RUN]
        # The smaller process first, so that the largest-child peak is each one's own.
        host_wall, host_peak = min(measured(host) for _ in range(3))
        python_wall, python_peak = min(measured(python) for _ in range(3))
    print("| run | wall time | peak memory |\n|---|---|---|")
    print(f"| `su55if-host run ... --output-file` | {host_wall:.2f} s | {host_peak:.0f} MB |")
    print(f"| `Cycle.run` (Python and its host) | {python_wall:.2f} s ({python_wall / host_wall:.2f}x) "
          f"| {python_peak:.0f} MB |")
    ok = python_wall <= TIME_TARGET * host_wall and python_peak <= MEMORY_TARGET
    print(f"\ntargets: at most {TIME_TARGET}x the host's wall time and {MEMORY_TARGET} MB: {'met' if ok else 'MISSED'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
