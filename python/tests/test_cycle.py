"""Cycle files and runs against su55if-host: the same timeline for every
example, the same records when the library stops the run, the same
messages for faulty files."""

import os
import subprocess

import pytest

import su55if
from conftest import CHECKOUT

def is_cycle_file(path) -> bool:
    """Cycle files, not the timed inputs and events beside them (whose first column is time)."""
    for line in path.read_text().splitlines():
        if line.strip() and not line.lstrip().startswith("#"):
            return not line.lstrip().lower().startswith("time")
    return False


EXAMPLES = sorted(path for path in (CHECKOUT / "examples").glob("*.csv") if is_cycle_file(path))


def run_host(host, *arguments):
    return subprocess.run([str(host), *map(str, arguments)], capture_output=True, text=True, timeout=60)


@pytest.mark.parametrize("twin", [False, True], ids=["", "twin"])
@pytest.mark.parametrize("path", EXAMPLES, ids=[path.name for path in EXAMPLES])
def test_runs_equal_the_hosts(host, path, twin):
    options = ["--twin"] if twin else []
    expected = run_host(host, "run", path, *options)
    cycle = su55if.read_cycle(path)
    if expected.returncode == 1:
        with pytest.raises(su55if.SimulationTerminated) as raised:
            cycle.run(twin=twin)
        # The host's own lines: the CSV header and its message.
        lines = (expected.stdout + expected.stderr).splitlines()
        assert raised.value.records == [line for line in lines if not line.startswith(("time,", "su55if-host:"))]
    else:
        assert expected.returncode == 0, expected.stderr
        assert cycle.run(twin=twin).to_csv() == expected.stdout


RUNS = {
    "negative links": ("1,10,-4\n2,20,5\n3,15,0\n4,10,-1\n5,20,2\n", 1000.3, 0.7),
    # Stage starts from the cycle index: no drift over thousands of cycles.
    "short stages": ("1,0.1,0\n2,0.2,0\n3,0.3,0\n", 3000.0, 0.7000003),
}


@pytest.mark.parametrize("stages, stop_time, interval", RUNS.values(), ids=RUNS.keys())
def test_run_settings_equal_the_hosts(host, tmp_path, stages, stop_time, interval):
    path = tmp_path / "cycle.csv"
    path.write_text("stage,duration,partner\n" + stages)
    expected = run_host(host, "run", path, "--stop-time", stop_time, "--output-interval", interval)
    assert su55if.read_cycle(path).run(stop_time, interval).to_csv() == expected.stdout


FAULTY_FILES = {
    "empty": b"# nothing but a comment\n",
    "no stages": b"stage,duration,partner\n\n",
    "unknown column": b"stage,duration,partner,name\n",
    "twice": b"stage, duration,stage\n",
    "missing column": b"\xef\xbb\xbfstage,duration\r\n",
    "empty column name": b"stage,,duration,partner\n",
    "too many values": b"stage,duration,partner\n1,10,0,5\n",
    "too few values": b"duration,stage,partner\n10,1\n",
    "not whole": b"stage,duration,partner\n1.5,10,0\n",
    "out of order": b"stage,duration,partner\n1,10,0\n 3 ,10,0\n",
    "negative": b"stage,duration,partner\n1,-10,0\n",
    "not a number": b"stage,duration,partner\n1,0x10,0\n",
    "infinite": b"stage,duration,partner\n1,1e400,0\n",
    "underflow": b"stage,duration,partner\n1,1e-400,0\n",
    "nan": b"stage,duration,partner\n1,10,nan(1)\n",
    "missing value": b"stage,duration,partner\n1,\t,0\n",
    "partner not whole": b"stage,duration,partner\n1,10,+2.5\n",
    "too many stages": b"stage,duration,partner\n" + b"".join(b"%d,1,0\n" % k for k in range(1, 102)),
    "hostile value": b"stage,duration,partner\n1,\"\\\x1b[2J\xc2\x85\xff\xe2\x82\xac" + b"9" * 60 + b",0\n",
    "hostile order": b"stage,duration,partner\n\t\x00" + b"7" * 50 + b",1,0\n",
}


@pytest.mark.parametrize("content", FAULTY_FILES.values(), ids=FAULTY_FILES.keys())
def test_faulty_files_get_the_hosts_message(host, tmp_path, content):
    path = tmp_path / os.fsdecode(b"cycle\x1b\xe9.csv")  # a name that must be escaped too
    path.write_bytes(content)
    expected = run_host(host, "check", path)
    assert expected.returncode == 2
    with pytest.raises(su55if.CycleFileError) as raised:
        su55if.read_cycle(path)
    assert f"su55if-host: {raised.value}\n" == expected.stderr


def test_numbers_as_the_host_reads_them():
    cycle = su55if.parse_cycle("# c\n  partner , Stage , duration\n".replace("Stage", "stage")
                               + "+0,1,.5\n-1,2,1.\n0,3,1E1\n", "text")
    assert (cycle.name, cycle.durations, cycle.partners) == ("text", (0.5, 1.0, 10.0), (0.0, -1.0, 0.0))
    cycle = su55if.parse_cycle('Duration,STAGE,Name\n5,1,"north, and more"\n', "text")
    assert (cycle.durations, cycle.partners, cycle.names) == ((5.0,), (0.0,), ("north, and more",))
    with pytest.raises(su55if.CycleFileError, match="cannot open the cycle file"):
        su55if.read_cycle(CHECKOUT / "examples" / "no-such.csv")
    # Reading is bounded: an endless line stops at the cap.
    with pytest.raises(su55if.CycleFileError, match="^/dev/zero:1: the line is longer than 4096 bytes"):
        su55if.read_cycle("/dev/zero")


def test_timeline_as_array_and_chart(tmp_path):
    numpy = pytest.importorskip("numpy")
    timeline = su55if.read_cycle(CHECKOUT / "examples" / "four-stage.csv").run(stop_time=160, output_interval=0.5)
    table = timeline.to_numpy()
    assert table.dtype.names == timeline.Row._fields and table["stage"].dtype == numpy.int32
    assert table["action_code"][numpy.searchsorted(table["time"], 30.0)] == 2
    pytest.importorskip("matplotlib")
    chart = tmp_path / "run.png"
    timeline.plot(chart)
    assert chart.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
