"""Cycles read and run through su55if-host: the timeline is the host's,
options reach it, its failures become the documented exceptions."""

import dataclasses
import pickle
import shutil
import subprocess
import sys

import pytest

import su55if
from conftest import CHECKOUT

EXAMPLES_DIR = CHECKOUT / "examples"


def is_cycle_file(path) -> bool:
    """Cycle files, not the timed inputs and events beside them (whose first column is time)."""
    for line in path.read_text().splitlines():
        if line.strip() and not line.lstrip().startswith("#"):
            return not line.lstrip().lower().startswith("time")
    return False


EXAMPLES = sorted(path for path in EXAMPLES_DIR.glob("*.csv") if is_cycle_file(path))


@pytest.fixture(autouse=True)
def same_host(host, monkeypatch):
    """The package runs the host these tests compare with."""
    monkeypatch.setenv("SU55IF_HOST", str(host))


def run_host(host, *arguments):
    return subprocess.run([str(host), "-q", *map(str, arguments)], capture_output=True, text=True, timeout=120)


def first_difference(got: str, expected: str):
    """Where two long texts first differ: pytest's own diff of them takes minutes."""
    if got != expected:
        pairs = zip(got.splitlines(), expected.splitlines())
        return next(((line, a, b) for line, (a, b) in enumerate(pairs, 1) if a != b), (len(got), len(expected)))
    return None


def hundred_stages(tmp_path):
    """100 stages (the most a cycle holds) with named, linked pairs: a Cycle
    made in Python, and the same cycle as a file."""
    durations = [0.1 * (min(k, 101 - k) % 7 + 1) for k in range(1, 101)]
    partners = [101 - k if k % 10 == 1 or k % 10 == 0 else 0 for k in range(1, 101)]
    names = [f'"s{k}", no. {k}' for k in range(1, 101)]
    path = tmp_path / "hundred.csv"
    rows = (f'{k},{d!r},{p},"""s{k}"", no. {k}"' for k, (d, p) in enumerate(zip(durations, partners), 1))
    path.write_text("stage,duration,partner,name\n" + "\n".join(rows) + "\n")
    with pytest.warns(DeprecationWarning, match=r"write Cycle\(durations, partners, names, name=name\)"):
        earlier = su55if.Cycle("hundred.csv", durations, partners, names)  # the earlier form
    made = su55if.Cycle(durations, partners, names, name="hundred.csv")
    assert made == earlier
    return made, path


WHAT_IF = {"input_file": EXAMPLES_DIR / "what-if-inputs.csv", "events": EXAMPLES_DIR / "what-if-events.csv",
           "stop_time": 400, "output_interval": 2.5}
WHAT_IF_OPTIONS = ["--input-file", WHAT_IF["input_file"], "--events", WHAT_IF["events"], "--stop-time", 400,
                   "--output-interval", 2.5]
RUNS = [(path.name, {"twin": twin}, ["--twin"] if twin else []) for path in EXAMPLES for twin in (False, True)] + [
    ("what-if.csv", WHAT_IF, WHAT_IF_OPTIONS),
    ("negative-links.csv", {"stop_time": 1000.3, "output_interval": 0.7},
     ["--stop-time", 1000.3, "--output-interval", 0.7]),
    ("hundred", {}, []),
    ("four-stage.csv", {"cycles": 3}, ["--cycles", 3]),
    ("hundred", {"twin": True, "stop_time": 50}, ["--twin", "--stop-time", 50]),
]


@pytest.mark.parametrize("name, options, host_options", RUNS, ids=[f"{r[0]}{sorted(r[1])}" for r in RUNS])
def test_runs_are_the_hosts(host, tmp_path, name, options, host_options):
    if name == "hundred":
        made, path = hundred_stages(tmp_path)
        cycles = [made, su55if.read_cycle(path)]
    else:
        path = EXAMPLES_DIR / name
        read = su55if.read_cycle(path)
        cycles = [read, dataclasses.replace(read)]  # the file itself, and the cycle written out anew
    content = [(cycle.durations, cycle.partners, cycle.names) for cycle in cycles]
    assert content[0] == content[1]
    expected = run_host(host, "run", path, *host_options)
    for cycle in cycles:
        if expected.returncode == 1:
            with pytest.raises(su55if.SimulationTerminated) as raised:
                cycle.run(**options)
            assert raised.value.records[-1] == "Simulation Terminated" and raised.value.explanation
            continue
        assert expected.returncode == 0, expected.stderr
        timeline = cycle.run(**options)
        assert first_difference(timeline.to_csv(), expected.stdout) is None
        lines = expected.stdout.splitlines()
        assert len(timeline) == len(lines) - 1
        width = len(timeline.columns)  # the numbers; a cycle that names its stages has stageName after them
        assert [*timeline[-1]] == [float(value) for value in lines[-1].split(",")[:width]]
        assert timeline.columns == tuple(lines[0].split(",")[:width])


def test_row_fields_and_chart(tmp_path, monkeypatch):
    timeline = su55if.read_cycle(EXAMPLES_DIR / "what-if.csv").run(**WHAT_IF)
    assert timeline.Row._fields == ("time", "stage", "elapsed", "delay_for_code2", "delay_for_code1", "action_code",
                                    "flag_for_code1", "flag_for_code2", "flag_for_code_minus2", "flag_for_code_minus1",
                                    "stage_duration", "update_result", "recorded_duration", "switch_signal")
    with pytest.warns(DeprecationWarning, match="Row.duration is deprecated: it is Row.recorded_duration"):
        assert timeline[-1].duration == timeline[-1].recorded_duration
    # Every schedule in force, from the time it took effect.
    assert [(s.time, s.cycle_duration) for s in timeline.schedules] == [(0.0, 80.0), (100.0, 90.0), (260.0, 80.0)]
    # A cycle not read from a file runs in a folder of its own; a relative chart path is still the caller's.
    monkeypatch.chdir(tmp_path)
    cycle = su55if.parse_cycle('stage,duration,partner,name\n1,10,0,"a, ""b"""\n2,5,0,c\n', "text.csv")
    assert (cycle.names, cycle.cycle_duration) == (('a, "b"', "c"), 15.0)
    timeline = cycle.run(10, 2, chart="run.svg", twin=True, time_unit="-s")
    assert [row.time for row in timeline] == [0, 2, 4, 6, 8, 10] and "flag_for_code_minus1" not in timeline.Row._fields
    chart = (tmp_path / "run.svg").read_text()
    assert chart.lstrip().startswith(("<svg", "<?xml")) and ">time (-s)<" in chart


def test_a_cycle_runs_as_read(tmp_path):
    path = write(tmp_path, "c.csv", "stage,duration\n1,10\n2,5\n")
    cycle = su55if.read_cycle(path)
    path.write_text("stage,duration\n1,1\n2,1\n")  # changed after reading: the run is of the cycle read
    assert [row.stage for row in cycle.run(15, 5)] == [1, 1, 2, 1]


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text)
    return path


FOUR = EXAMPLES_DIR / "four-stage.csv"
ERRORS = {
    "bad cycle file": (lambda t: su55if.read_cycle(write(t, "c.csv", "stage,duration\n1,x\n")),
                       su55if.CycleFileError, r'^\S*c\.csv:2:3: duration "x" is not a number$'),
    "missing cycle file": (lambda t: su55if.read_cycle(t / "none.csv"), su55if.CycleFileError, "none.csv: cannot open"),
    "parsed text": (lambda t: su55if.parse_cycle("stage,duration\n1,-1\n", "mine.csv"),
                    su55if.CycleFileError, '^mine.csv:2:3: duration "-1" is negative$'),
    "bad input file": (lambda t: su55if.read_cycle(FOUR).run(input_file=write(t, "in.csv", "time,valve\n0,1\n")),
                       su55if.CycleFileError, r'in\.csv:1:6: unknown column "valve"'),
    "missing events": (lambda t: su55if.read_cycle(FOUR).run(events=t / "none.csv"),
                       su55if.CycleFileError, "none.csv: cannot open"),
    "bad stop time": (lambda t: su55if.read_cycle(FOUR).run(stop_time=-1), ValueError, "^stop_time: a finite number greater than 0$"),
    "stop time not a number": (lambda t: su55if.read_cycle(FOUR).run("10"), TypeError, "stop_time must be a real"),
    # Refused before any host starts (there is none here), not a bare MemoryError.
    "run too large": (lambda t: su55if.read_cycle(FOUR).run(stop_time=1e12, output_interval=0.5, host=t / "none"),
                      MemoryError, r"^a run to time 1e\+12 every 0\.5 makes 2,000,000,000,001 samples: at least 64 TB "),
    "run by cycles too large": (lambda t: su55if.read_cycle(FOUR).run(cycles=10**12, output_interval=0.5, host=t / "none"),
                                MemoryError, r"^a run of 1,000,000,000,000 cycles every 0\.5 makes 160,000,000,000,001 "),
    "earlier form, a keyword given twice": (lambda t: su55if.Cycle("c", (10, 20), (0, 0), partners=(2, 1)),
                                            TypeError, r"^Cycle\(\) got multiple values for argument 'partners'$"),
    # Names within what a header of the sample stream holds (test_names_at_the_bound_are_read_back).
    "long name in a file": (lambda t: su55if.read_cycle(write(t, "c.csv", "stage,duration,name\n1,1," + "n" * 1025)),
                            su55if.CycleFileError, r'c\.csv:2:5: name "n+\.\.\." is 1025 bytes long: a name holds at most 1024$'),
    "long cycle name": (lambda t: su55if.Cycle((1,), (0,), name="c" * 4097).run(),
                        ValueError, r'^cycle name "c+\.\.\." is 4097 bytes long: a cycle\'s name holds at most 4096$'),
    "long time unit": (lambda t: su55if.Cycle((1,), (0,)).run(time_unit="u" * 1025),
                       ValueError, r'time unit "u+\.\.\." is 1025 bytes long: a time unit holds at most 1024 bytes$'),
}
# A cycle given as lists: each fault in its own argument's words, with the
# engine's record.
LISTS = {
    "negative duration": (((10, -5), (0, 0)), "run", "durations[1] = -5: a duration is 0 or more",
                          ("negativeDuration", 2, "duration", "-5")),
    "not finite": (((float("inf"),), (0,)), "run", "durations[0] = inf: a finite number is needed",
                   ("notFinite", 1, "duration", "inf")),
    "partner not whole": (((10, 10), (1.5, 0)), "report", "partners[0] = 1.5: a whole number is needed",
                          ("notWhole", 1, "partner", "1.5")),
    "two faults": (((-1, 10), (0, 0.5)), "run", "durations[0] = -1: a duration is 0 or more\n"
                   "partners[1] = 0.5: a whole number is needed", ("negativeDuration", 1, "duration", "-1")),
    "name with a newline": (((1,), (0,), ("a\nb",)), "save", "names[0] = 'a\\nb': a line break cannot be saved",
                            ("lineBreak", 1, "name", "a\nb")),
    "long name": (((1,), (0,), ("n" * 1025,)), "run", f"names[0] = '{'n' * 39}...: a name holds at most 1024 bytes",
                  ("nameTooLong", 1, "name", "n" * 1025)),
}


@pytest.mark.parametrize("lists, action, message, record", LISTS.values(), ids=LISTS.keys())
def test_faults_in_lists_are_told_in_their_words(tmp_path, lists, action, message, record):
    cycle = su55if.Cycle("c", *lists)
    with pytest.raises(su55if.CycleFileError) as raised:
        getattr(cycle, action)(*([tmp_path / "c.csv"] if action == "save" else []))
    assert str(raised.value).startswith(message) and "su55if" not in str(raised.value)
    error = raised.value
    assert (error.kind, error.stage, error.field, error.value) == record
    assert pickle.loads(pickle.dumps(error)).diagnostics == error.diagnostics


def test_names_at_the_bound_are_read_back():
    # 100 stages, the cycle and the time unit named at their bounds, each byte one that JSON writes as six: the
    # largest header.
    names = tuple(chr(k % 7 + 1) * 1024 for k in range(100))
    timeline = su55if.Cycle([1.0] * 100, [0] * 100, names, name="\x01" * 4096).run(stop_time=1, time_unit="\x02" * 1024)
    assert timeline._stage_names == list(names) and timeline.to_csv().count("\n") == len(timeline) + 1 > 1


def test_a_run_by_cycles_is_bounded_while_read(monkeypatch):
    # Events may change the durations: no count before the run, a bound while it is read.
    monkeypatch.setattr(su55if._timeline, "available_memory", lambda: 1 << 16, raising=False)
    with pytest.raises(RuntimeError, match=r"the run passes [0-9,]+ samples of \d+ values .* all that the memory"):
        su55if.read_cycle(EXAMPLES_DIR / "what-if.csv").run(cycles=100, events=WHAT_IF["events"])


@pytest.mark.parametrize("encoding, note", [("utf-8", []), ("cp1252", [("readAsWindows1252", 1)])])
def test_a_cycle_file_saved_keeps_its_comment_lines_and_names_in_utf_8(tmp_path, encoding, note):
    text = "# Two beds: Spülung, 5 €.\nstage,duration,partner,name\n# feed\n1,10,0,\n\n# purge\n2,20,0,Ä\n# end\n"
    (tmp_path / "beds.csv").write_bytes(text.encode(encoding))
    cycle = su55if.read_cycle(tmp_path / "beds.csv")
    assert cycle.names == ("", "Ä")
    assert [(d["kind"], d["line"]) for d in cycle.report()["diagnostics"]] == note
    dataclasses.replace(cycle, durations=(10.0, 25.0)).save(tmp_path / "beds.csv")
    assert (tmp_path / "beds.csv").read_text(encoding="utf-8") == text.replace("2,20,0", "2,25,0")


@pytest.mark.parametrize("action, error, match", ERRORS.values(), ids=ERRORS.keys())
def test_failures_are_reported(tmp_path, action, error, match):
    with pytest.raises(error, match=match) as raised:
        action(tmp_path)
    if error is ValueError:
        assert type(raised.value) is ValueError  # not a file's fault


def test_library_stopping_the_run(host):
    cycle = su55if.read_cycle(EXAMPLES_DIR / "faulty.csv")  # read, though the library rejects its table
    with pytest.raises(su55if.SimulationTerminated) as raised:
        cycle.run()
    stop = raised.value
    assert stop.records == ["Interaction stage 1 invalid time match.", "Simulation Terminated"]
    assert stop.explanation and not any(line.startswith("su55if-host:") for line in stop.explanation)
    copy = pickle.loads(pickle.dumps(stop))
    assert (copy.records, copy.explanation, str(copy)) == (stop.records, stop.explanation, str(stop))


def test_drifting_links_are_warnings(tmp_path):
    inputs = tmp_path / "inputs.csv"
    inputs.write_text("time,duration1\n50,14\n")
    with pytest.warns(su55if.LinkDriftWarning, match="at time 50, the linked stage 1 .duration 14."):
        su55if.read_cycle(EXAMPLES_DIR / "four-stage.csv").run(100, 10, input_file=inputs)


@pytest.mark.filterwarnings("ignore::su55if.LinkDriftWarning")
def test_flapping_durations_share_their_schedules(tmp_path):
    # Inputs that set the same durations again and again keep one copy of
    # them, not one per change (a long run would otherwise hold gigabytes).
    inputs = tmp_path / "inputs.csv"
    inputs.write_text("time,duration2\n" + "".join(f"{t},{12 + t % 2}\n" for t in range(1, 40)))
    schedules = su55if.read_cycle(EXAMPLES_DIR / "four-stage.csv").run(40, 1, input_file=inputs).schedules
    assert len(schedules) > 30
    assert schedules[2].durations is schedules[4].durations


FAKE_HOSTS = {
    "too old": ("echo 'su55if-host 0.0.1'", r"su55if-host 0\.0\.1 is too old: version 0\.1\.0 or later"),
    "not a host": ("echo hello", r"not a usable su55if-host: `--version` printed 'hello'"),
}


@pytest.mark.parametrize("script, match", FAKE_HOSTS.values(), ids=FAKE_HOSTS.keys())
def test_unusable_hosts(tmp_path, monkeypatch, script, match):
    fake = write(tmp_path, "su55if-host", f"#!/bin/sh\n{script}\n")
    fake.chmod(0o755)
    monkeypatch.setenv("SU55IF_HOST", str(fake))
    with pytest.raises(RuntimeError, match=match) as raised:
        su55if.read_cycle(FOUR)
    assert str(fake) in str(raised.value)


def test_missing_host(tmp_path, monkeypatch):
    monkeypatch.setenv("SU55IF_HOST", str(tmp_path / "nowhere"))
    with pytest.raises(FileNotFoundError, match=r"nowhere: no such su55if-host file \(named by SU55IF_HOST\)"):
        su55if.read_cycle(FOUR)
    monkeypatch.delenv("SU55IF_HOST")
    places = [tmp_path / "bin" / "su55if-host", tmp_path / "build" / "su55if-host"]
    monkeypatch.setattr(su55if._host, "host_candidates", lambda library=None: places)
    with pytest.raises(FileNotFoundError) as raised:
        su55if.find_host()
    assert all(str(place) in str(raised.value) for place in places) and "SU55IF_HOST" in str(raised.value)


def test_host_found_beside_the_library_then_on_path(host, tmp_path, monkeypatch):
    (tmp_path / "src").mkdir()
    (tmp_path / "path").mkdir()
    (tmp_path / "CMakeCache.txt").touch()
    library = su55if.find_library()
    shutil.copy(library, tmp_path / "src" / library.name)
    monkeypatch.delenv("SU55IF_HOST")
    monkeypatch.setenv("SU55IF_LIBRARY", str(tmp_path / "src" / library.name))
    monkeypatch.setenv("PATH", str(tmp_path / "path"))
    shutil.copy(host, tmp_path / "path" / "su55if-host")  # on PATH alone
    assert su55if.find_host() == tmp_path / "path" / "su55if-host"
    assert len(su55if.read_cycle(FOUR).run()) == 321
    (tmp_path / "tools").mkdir()
    shutil.copy(host, tmp_path / "tools" / "su55if-host")  # a build tree's, beside the library
    assert su55if.find_host() == tmp_path / "tools" / "su55if-host"


def test_long_run_streams():
    timeline = su55if.read_cycle(FOUR).run(stop_time=249999.875, output_interval=0.125)  # 2,000,000 samples
    assert len(timeline) == 2_000_000 and timeline[-1].time == 249999.875 and timeline[-1].stage == 4
    assert timeline.to_csv().count("\n") == 2_000_001


def test_timeline_as_array_and_plot(tmp_path):
    numpy = pytest.importorskip("numpy")
    cycle = dataclasses.replace(su55if.read_cycle(FOUR))  # no cycle duration: plot() asks the host
    timeline = cycle.run(stop_time=160, output_interval=0.5)
    table = timeline.to_numpy()  # a view of the timeline's columns
    assert table.dtype.names == timeline.Row._fields and numpy.shares_memory(table, timeline.column("time"))
    assert table["action_code"][numpy.searchsorted(table["time"], 30.0)] == 2
    pytest.importorskip("matplotlib")
    chart = tmp_path / "run.png"
    timeline.plot(chart)
    assert chart.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_plot_in_the_charts_styles(tmp_path):
    colors = pytest.importorskip("matplotlib.colors")
    cycle = su55if.parse_cycle("stage,duration,partner,name\n1,10,-3,north\n2,40,0,\n3,10,-1,a $b^$\n4,40,2,west\n",
                               "plot.csv")
    timeline = cycle.run(time_unit="s")
    figure = timeline.plot(tmp_path / "run.png")
    assert (tmp_path / "run.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    stages, codes, spans = figure.axes
    styles = {line.get_label(): (colors.to_hex(line.get_color()), line.get_linestyle())
              for axes in (codes, spans) for line in axes.get_lines()}
    assert styles == {"actionCode": ("#c0392b", "-"), "delayForCode1": ("#1f77b4", "-"),
                      "delayForCode2": ("#ff7f0e", "--")}
    boxes = {c.get_label(): colors.to_hex(c.get_facecolor()[0]) for c in stages.collections if c.get_label()[0] != "_"}
    assert boxes == {"stage 1": "#8dd3c7", "stage 2": "#ffffb3", "stage 3": "#bebada", "stage 4": "#fb8072"}
    # "$" is shown as it is, not taken for mathematics (which "$b^$" is not).
    assert [label.get_text() for label in stages.get_yticklabels()] == ["1 north", "2", r"3 a \$b^\$", "4 west"]
    assert "links: 1↔3 (negative), 4→2" in stages.get_title(loc="left") and spans.get_xlabel() == "time (s)"
    assert timeline.plot(time_unit="ms").axes[2].get_xlabel() == "time (ms)"


INTERPRETERS = {
    "Debian's": ("/usr/bin/python3", "/usr", "Debian: apt-get install python3-{}"),
    "a venv of Debian's": ("/usr/bin/python3", "/srv/venv", "/usr/bin/python3 -m pip install {}"),
    "another": ("/opt/py 3/bin/python3", "/usr", "'/opt/py 3/bin/python3' -m pip install {}"),
}


@pytest.mark.parametrize("executable, prefix, hint", INTERPRETERS.values(), ids=INTERPRETERS.keys())
def test_install_hints_name_the_interpreter(monkeypatch, executable, prefix, hint):
    monkeypatch.setattr(sys, "executable", executable)
    monkeypatch.setattr(sys, "prefix", prefix)
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    monkeypatch.setattr(su55if._timeline, "numpy", None)
    monkeypatch.setattr(su55if._library, "numpy", None)
    timeline = su55if.Timeline(su55if.Cycle((1.0,), (0,)), None, None, False, None, None)
    for action, package in ((timeline.plot, "matplotlib"), (timeline.to_numpy, "numpy"),
                            (lambda: su55if.load(numpy=True), "numpy")):
        with pytest.raises(ImportError) as raised:
            action()
        assert str(raised.value).endswith(f"({hint.format(package)})")
