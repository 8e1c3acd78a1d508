"""The package's methods on the built library: the manual's worked examples,
the exception and its records, private copies, argument checks, arrays; where
the library and the host are looked for, and what is never taken there."""

import _ctypes
import array
import contextlib
import ctypes
import importlib
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

import pytest

import su55if
from conftest import CHECKOUT

try:
    import numpy
except ImportError:
    numpy = None

SCHEDULE = [10.0, 20.0, 10.0, 40.0]
TABLE = [3.0, 0.0, 1.0, 0.0]

# (method, inputs, result), each step on the library as the steps before it
# left it.
WORKED_EXAMPLES = {
    "define and report": [
        ("define_stages", dict(requested=[10, 20, 30], time=0, stage=2), ((10, 20, 30), 20, 30, 0, 60)),
        ("define_stages", dict(requested=[10, 20, 30], time=25, stage=2, reference=10), ((10, 20, 30), 20, 30, 15, 60)),
        ("define_stages", dict(requested=[10, 20, 30], current=[10, 25, 30], time=25, stage=2), ((10, 25, 30), 25, 30, 25, 65)),
        ("define_stages", dict(requested=[10, 20, 30], hold=1, time=25, stage=2), ((10, 25, 30), 25, 30, 25, 65)),
    ],
    "hold keeps the schedule": [
        ("define_stages", dict(requested=[10, 20, 30], time=0), ((10, 20, 30), 10, 20, 0, 60)),
        ("define_stages", dict(requested=[10, 20, 30], current=[10, 25, 30], hold=1, time=25), ((10, 20, 30), 10, 20, 25, 60)),
    ],
    "durations in force": [
        ("define_stages", dict(requested=[10, 20, 30], time=0), ((10, 20, 30), 10, 20, 0, 60)),
        ("check_stages", dict(current=[10, 20, 30]), 0.0),
        ("check_stages", dict(current=[10, 25, 30]), 1.0),
        ("check_stages", dict(current=[10, 25, 30]), 0.0),
    ],
    "stage and partner": [
        ("define_stages", dict(requested=SCHEDULE, time=0), ((10, 20, 10, 40), 10, 20, 0, 80)),
        ("update_stage_duration", dict(stage=1, duration=12, table=TABLE), 2.0),
        ("update_stage_duration", dict(stage=2, duration=25, table=TABLE), 1.0),
        ("update_stage_duration", dict(update=0, stage=2, duration=30, table=TABLE), 0.0),
        ("check_stages", dict(current=[12, 25, 12, 40], check=0), 0.0),
    ],
    "timing": [
        ("define_stages", dict(requested=SCHEDULE, time=0), ((10, 20, 10, 40), 10, 20, 0, 80)),
        ("interaction_timing", dict(table=TABLE, stage=1, time=5), (0, 0, -1)),
        ("interaction_timing", dict(table=TABLE, stage=1, time=85), (0, 50, 1)),
        ("interaction_timing", dict(table=TABLE, stage=3, time=35), (30, 0, 2)),
        ("interaction_timing", dict(table=TABLE, stage=2, time=35), (0, 0, 0)),
        ("interaction_timing", dict(table=[-3, 0, -1, 0], stage=1, time=50), (0, 0, -2)),
        ("interaction_timing", dict(table=[-3, 0, -1, 0], stage=1, time=60), (50, 0, 2)),
        ("interaction_timing", dict(table=[-3, 0, -1, 0], stage=3, time=60), (0, 30, 1)),
        ("interaction_timing", dict(table=TABLE, stage=1, time=5, twin=True), (0, 0, 1)),
        ("interaction_timing_twin", dict(table=TABLE, stage=3, time=85), (30, 0, 2)),
    ],
    "decoding and switch": [
        ("decode_action", dict(code=1.5), (0, 1, 0, 0)),
        ("decode_action", dict(code=-0.5), (0, 0, 0, 1)),
        ("decode_action", dict(code=-0.5, twin=True), (0, 0, 0)),
        ("decode_action", dict(code=math.nan), (0, 0, 0, 0)),
        ("switch_signal", dict(limit=5, value=4, enable=1), 1.0),
        ("switch_signal", dict(limit=5, value=5.000001), 0.0),
        ("switch_signal", dict(limit=5, value=4, enable=-1e-12), 0.0),
    ],
}


def flat(value):
    return tuple(flat(v) for v in value) if isinstance(value, tuple) else value


@pytest.mark.parametrize("steps", WORKED_EXAMPLES.values(), ids=WORKED_EXAMPLES.keys())
def test_worked_examples(lib, steps):
    for method, inputs, expected in steps:
        assert flat(getattr(lib, method)(**inputs)) == expected, (method, inputs)


# Inputs once positional, now keyword-only: (method, positional call, keyword call, keywords named)
FORMERLY_POSITIONAL = [
    ("define_stages", (SCHEDULE, SCHEDULE, 0, 25, 2, 10), dict(requested=SCHEDULE, time=25, stage=2, reference=10),
     "time, stage, reference"),
    ("define_stages", (SCHEDULE, None, 0, 25), dict(requested=SCHEDULE, time=25), "time"),
    ("update_stage_duration", (1, 1, 10, TABLE), dict(stage=1, duration=10, table=TABLE), "stage, duration, table"),
]


@pytest.mark.parametrize("method, args, kwargs, keywords", FORMERLY_POSITIONAL)
def test_formerly_positional_inputs_still_work_with_a_warning(lib, method, args, kwargs, keywords):
    lib.define_stages(SCHEDULE, time=0)
    by_keyword = getattr(lib, method)(**kwargs)
    with pytest.warns(DeprecationWarning, match=f"^{method}\\(\\): give {keywords} by keyword") as warned:
        assert getattr(lib, method)(*args) == by_keyword
    assert warned[0].filename == __file__


def test_step_recorder_keeps_its_workspace(lib):
    recorder, other = lib.step_recorder(), lib.step_recorder()
    signals = [(0, 1), (1, 2), (1, 3), (1, 4), (0, 5), (1, 6)]
    assert [recorder(signal, time) for signal, time in signals] == [0, 0, 0, 0, 2, 2]
    assert recorder.workspace == (2, 4, 6, 1, 1) and other.workspace == (0,) * 5
    recorder.reset()
    assert recorder(1, 7) == 0 and recorder.workspace[0] == 7


FATAL_CALLS = {
    "time match": (
        lambda lib: (lib.define_stages(requested=[10, 20, 15, 40], time=0), lib.interaction_timing(TABLE, 1, 0)),
        ["Interaction stage 1 invalid time match.", "Simulation Terminated"],
    ),
    "too many stages": (
        lambda lib: lib.define_stages(requested=[1.0] * 101, time=0),
        ["Number of stages 101 is greater than maximum of 100 allowed.", "Simulation Terminated"],
    ),
    "stage above the count": (
        lambda lib: (lib.define_stages(requested=SCHEDULE, time=0), lib.interaction_timing(TABLE, 5, 10)),
        ["Total number stages 4", "Stage number 5 is invalid.", "Simulation Terminated"],
    ),
    "twin, stage above the count": (
        lambda lib: (lib.define_stages(requested=SCHEDULE, time=0), lib.interaction_timing(TABLE, 5, 10, twin=True)),
        ["Stage number 5 is invalid.", "Simulation Terminated"],
    ),
}


@pytest.mark.parametrize("call, records", FATAL_CALLS.values(), ids=FATAL_CALLS.keys())
def test_fatal_call_raises_with_the_records_in_order(lib, capfd, call, records):
    print("before")
    with pytest.raises(su55if.SimulationTerminated) as raised:
        call(lib)
    print("after")
    assert raised.value.records == records
    assert raised.value.status == 4
    assert capfd.readouterr().out == "before\nafter\n"


# A procedure of Python code, called as the library's are: fourteen pointers.
PROCEDURE = ctypes.CFUNCTYPE(None, *[ctypes.c_void_p] * 14)


def test_captured_output_of_any_size_is_kept_in_order(lib, capfd):
    # Far more than a pipe holds, written as the library writes: fwrite and
    # fflush on C's stdout as it stands during the call.
    c, size = ctypes.CDLL(None), 1 << 20
    block = b"x" * (size - 1) + b"\n"

    @PROCEDURE
    def write(*arguments):
        stream = ctypes.c_void_p(ctypes.c_void_p.in_dll(c, "stdout").value)
        c.fwrite(block, ctypes.c_size_t(1), ctypes.c_size_t(size), stream)
        c.fflush(stream)

    print("first")
    capture = lib._capture
    assert capture.call(write, (None,) * 14, ctypes.c_int(0)) == block
    assert capfd.readouterr().out == "first\n"


PRELUDE = "import ctypes, os, sys, threading; sys.path.insert(0, sys.argv[1]); import su55if; lib = su55if.load()\n"
MEANWHILE = """
@ctypes.CFUNCTYPE(None, *[ctypes.c_void_p] * 14)
def procedure(*arguments):  # as the library would be, with another thread printing meanwhile
    thread = threading.Thread(target=print, args=("printed meanwhile",), kwargs={"flush": True})
    thread.start()
    thread.join()
print(lib._capture.call(procedure, (None,) * 14, ctypes.c_int(0)), file=sys.stderr)
"""
# (script after PRELUDE, its standard output, its standard error)
CALLERS_OUTPUT = {
    "descriptor 1 closed": (
        "os.close(1)\nlib.define_stages(requested=[1], time=0)\n"
        "try:\n    os.write(1, b'x')\nexcept OSError as error:\n    print(error.strerror, file=sys.stderr)",
        "",
        "Bad file descriptor\n",
    ),
    "Python's stdout closed": (
        "sys.stdout.close()\nprint(lib.define_stages(requested=[1, 2], time=0).cycle_duration, file=sys.stderr)",
        "",
        "3.0\n",
    ),
    "another thread printing": (MEANWHILE, "printed meanwhile\n", "None\n"),
}


@pytest.mark.parametrize("script, stdout, stderr", CALLERS_OUTPUT.values(), ids=CALLERS_OUTPUT.keys())
def test_the_callers_output_is_left_alone(script, stdout, stderr):
    command = [sys.executable, "-c", PRELUDE + script, str(CHECKOUT / "python")]
    result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    assert (result.stdout, result.stderr) == (stdout, stderr)


def test_private_copies_have_tables_of_their_own(lib):
    lib.define_stages(requested=[10, 20], time=0)
    with su55if.load() as other:
        assert other.define_stages(requested=[], time=1, hold=1, lengths={"durations": 2}).cycle_duration == 0
    shared = [su55if.load(private=False) for _ in range(2)]
    shared[0].define_stages(requested=[5, 5, 5], time=0)
    assert shared[1].define_stages(requested=[], time=1, hold=1).cycle_duration == 15
    assert lib.define_stages(requested=[], time=1, hold=1).cycle_duration == 30


BAD_CALLS = [
    ("switch_signal", ("5", 4, 1), {}, TypeError, "switch_signal(): limit must be a real number, not str"),
    ("switch_signal", (5, [4], 1), {}, TypeError, "switch_signal(): value must be a real number, not list"),
    ("switch_signal", (1 + 2j, 4, 1), {}, TypeError, "limit must be a real number, not complex"),
    ("switch_signal", (10**400, 4, 1), {}, ValueError, "switch_signal(): limit is not usable as a real"),
    ("switch_signal", (5, 4), {"enable": None}, TypeError, "enable must be a real number, not NoneType"),
    ("define_stages", (), dict(requested=5, time=0), TypeError, "requested must be a sequence of numbers, not int"),
    ("define_stages", (), dict(requested="123", time=0), TypeError, "requested must be a sequence of numbers, not str"),
    ("define_stages", (), dict(requested=[1, "a"], time=0), TypeError, "define_stages(): requested[1] must be a real"),
    ("define_stages", (), dict(requested=[1, 2], current=[1], time=0), ValueError, "current has 1 values but requested has 2"),
    ("define_stages", (), dict(requested=[1, 2]), TypeError, "missing 1 required keyword-only argument: 'time'"),
    ("define_stages", (), dict(requested=[1], time=0, clock=1), TypeError, "unexpected keyword argument 'clock'"),
    ("define_stages", ([1],), dict(requested=[1], time=0), TypeError, "multiple values for argument 'requested'"),
    ("define_stages", (), dict(requested=[1], time=0, lengths={"durations": -1}), ValueError, "length of durations"),
    ("decode_action", (1,), dict(mode="3"), TypeError, "decode_action(): mode must be a real number"),
    ("decode_action", (1,), dict(twin=True, mode=None), TypeError, "decode_action_twin(): mode must be a real"),
    ("switch_signal", (1, 2, 3), dict(twin=True), TypeError, "unexpected keyword argument 'twin'"),
    ("record_step_duration", (1, 2), {}, TypeError, "missing 1 required keyword-only argument: 'workspace'"),
    ("record_step_duration", (1, 2), dict(workspace=[0.0] * 4), ValueError, "workspace must hold 5 reals, not 4"),
    ("record_step_duration", (1, 2), dict(workspace=(0.0,) * 5), TypeError, "workspace must be a writable sequence"),
    ("switch_signal", (1, 2, 3), dict(workspace=[0.0] * 5), TypeError, "unexpected keyword argument 'workspace'"),
    ("switch_signal", (1, 2, 3), dict(derivatives=["x"]), TypeError, "derivatives[0] must be a real number"),
    ("switch_signal", (1, 2, 3), dict(mode=3, derivatives=bytearray(8)), TypeError, "switch_signal(): derivatives must hold doubles"),
    ("switch_signal", (1, 2, 3), dict(mode=3, derivatives=array.array("f", [1])), TypeError, "derivatives must hold doubles, not items of format 'f'"),
]


@pytest.mark.parametrize("method, args, kwargs, error, message", BAD_CALLS, ids=[row[-1][:40] for row in BAD_CALLS])
def test_bad_arguments_are_refused_before_the_call(lib, method, args, kwargs, error, message):
    with pytest.raises(error) as raised:
        getattr(lib, method)(*args, **kwargs)
    assert message in str(raised.value)
    # Nothing reached the library: its table is still empty.
    assert lib.define_stages(requested=[], time=1, hold=1).cycle_duration == 0


@pytest.mark.parametrize("vector", [{0: 1.0, 1: 2.0}, {1.0, 2.0}, b"\x01\x02", bytearray(2)], ids=type)
def test_vectors_that_are_not_sequences_of_numbers_are_refused(lib, vector):
    for _ in range(2):  # on a new frame, then on the one a good call left
        with pytest.raises(TypeError, match=rf"define_stages\(\): requested must be a sequence of numbers, not {type(vector).__name__}$"):
            lib.define_stages(requested=vector, time=0)
        lib.define_stages(requested=[1.0, 2.0], time=0)


def elf_cut_at(size):
    return lambda tmp_path: (tmp_path / "cut.so", Path(su55if.find_library()).read_bytes()[:size])


def pe_with_section_past_the_end(tmp_path):
    header = bytearray(64)
    header[:2], header[0x3C:0x40] = b"MZ", struct.pack("<I", 64)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664, 1, 0, 0, 0, 0, 0x2002)
    section = struct.pack("<8sIIII", b".text", 0, 0, 4096, 512) + bytes(16)
    return tmp_path / "cut.dll", bytes(header) + coff + section


# (the file, or what to write where, the error, what its message says)
UNLOADABLE = {
    "cut short": (elf_cut_at(5000), OSError, r"cut\.so: cut short: segment \d ends at byte \d+ of a file of 5000$"),
    "ELF header cut short": (elf_cut_at(40), OSError, r"cut\.so: cut short: the ELF header is not whole"),
    "PE section past the end": (pe_with_section_past_the_end, OSError, r"cut\.dll: cut short: section 1 ends at byte 4608"),
    "text": (lambda tmp_path: (tmp_path / "text.so", b"hello"), OSError, r"text\.so: not a shared library$"),
    "another library": (lambda _: Path(_ctypes.__file__), OSError, r"_ctypes\S+ does not export SU55IF_DEFST"),
    "a folder": (lambda tmp_path: tmp_path, IsADirectoryError, r"^load\(\): path /\S+ is a folder"),
    "no file": (lambda tmp_path: tmp_path / "none.so", FileNotFoundError, r"^load\(\): path /\S+none\.so: no such library file"),
    "empty": (lambda _: "", ValueError, r"^load\(\): path is empty"),
}


@pytest.mark.parametrize("make, error, message", UNLOADABLE.values(), ids=UNLOADABLE.keys())
def test_load_refuses_what_is_not_the_library(tmp_path, make, error, message):
    path = make(tmp_path)
    if isinstance(path, tuple):
        path[0].write_bytes(path[1])
        path = path[0]
    for private in (True, False):
        with pytest.raises(error, match=message) as raised:
            su55if.load(path, private=private)
        # The temporary copy is never named (the checkout's own path may hold "su55if-").
        assert tempfile.gettempdir() + "/su55if-" not in str(raised.value)


LIBRARY_SAMPLES = Path(__file__).parents[2] / "tests" / "data" / "libraries"
VERDICTS = [line.split(None, 1) for line in (LIBRARY_SAMPLES / "verdicts.txt").read_text().splitlines()
            if line.strip() and not line.startswith("#")]


@pytest.mark.parametrize("name, verdict", VERDICTS, ids=[name for name, _ in VERDICTS])
def test_library_files_judged_as_the_host_judges_them(name, verdict):
    fault = su55if._files._library_fault(LIBRARY_SAMPLES / name)
    assert fault is None if verdict.strip() == "whole" else verdict.strip() in (fault or "")


@pytest.mark.parametrize("prefix", ["/usr", "/opt/venv"])
def test_installed_prefixes_in_order(monkeypatch, prefix):
    monkeypatch.setattr(sys, "prefix", prefix)
    monkeypatch.setattr(sys, "base_prefix", "/usr")
    places = [str(path) for path in su55if.library_candidates() if str(path).endswith("/lib/libsu55if.so")]
    assert places == [p + "/lib/libsu55if.so" for p in ([prefix] if prefix != "/usr" else []) + ["/usr/local", "/usr"]]


@pytest.mark.parametrize(
    "platform, library, host, build, others",
    [
        ("win32", "bin/su55if.dll", "bin/su55if-host.exe", "windows", 0),
        ("linux", "lib/libsu55if.so", "bin/su55if-host", "default", 2),
    ],
)
def test_search_follows_the_platforms_layout(tmp_path, monkeypatch, platform, library, host, build, others):
    monkeypatch.setattr(sys, "platform", platform)
    monkeypatch.setattr(sys, "prefix", str(tmp_path))
    monkeypatch.setattr(sys, "base_prefix", str(tmp_path))
    monkeypatch.delenv("SU55IF_LIBRARY", raising=False)
    monkeypatch.delenv("SU55IF_HOST", raising=False)
    libraries = su55if.library_candidates()
    monkeypatch.setattr(su55if._host, "_beside_library", lambda library: [])
    monkeypatch.setattr(su55if._host.shutil, "which", lambda name: None)
    hosts = su55if.host_candidates()
    # The package of a checkout: the checkout's build first.
    assert libraries[1] == tmp_path / library and hosts[0] == tmp_path / host
    assert libraries[0].parts[-4:] == ("build", build, "src", Path(library).name)
    assert hosts[-1].parts[-4:] == ("build", build, "tools", Path(host).name)
    # Windows has no system prefixes: the environment's, then the build tree.
    assert len(hosts) == 2 + others


# (the library in use in the shared folder, None for the one searched for in
# its build tree, recorded as the package's origin; where another user plants)
PLANTED = {
    "a recorded build tree": (None, ["build/default/src/libsu55if.so", "build/default/tools/su55if-host"]),
    "no known layout": ("X/mine/libsu55if.so", ["X/bin/su55if-host", "bin/su55if-host", "X/tools/su55if-host"]),
    "an installed layout": ("lib/libsu55if.so", ["bin/su55if-host"]),
}


@pytest.mark.skipif(os.geteuid() != 0 or not shutil.which("setpriv"), reason="planting as another user needs root")
@pytest.mark.parametrize("mode", [0o1777, 0o777], ids=oct)
@pytest.mark.parametrize("library, planted", PLANTED.values(), ids=PLANTED.keys())
def test_nothing_planted_is_loaded_or_run(host, monkeypatch, mode, library, planted):
    with tempfile.TemporaryDirectory() as base:  # one that others may enter, unlike pytest's
        os.chmod(base, 0o755)
        shared = Path(base, "shared")
        for folder in (shared, shared / "X"):
            folder.mkdir()
            os.chmod(folder, mode)
        for source, name in ((su55if.find_library(), "libsu55if.so"), (host, "su55if-host")):
            shutil.copy(source, Path(base, name))
        if library:
            (shared / library).parent.mkdir(exist_ok=True)
            shutil.copy(su55if.find_library(), shared / library)
        script = " && ".join(f"mkdir -p {Path(p).parent} && cp {base}/{Path(p).name} {p}" for p in planted)
        subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c", script],
                       cwd=shared, check=True)
        Path(base, "origin.txt").write_text(f"{shared}\n")
        monkeypatch.setattr(su55if._description, "PACKAGE_DIR", Path(base))
        for module in (su55if._files, su55if._host):
            monkeypatch.setattr(module, "_prefixes", lambda: [])
        monkeypatch.setenv("PATH", str(Path(base, "none")))
        monkeypatch.delenv("SU55IF_HOST", raising=False)
        monkeypatch.setenv("SU55IF_LIBRARY", str(shared / library) if library else "")
        for find in [] if library else [su55if.find_library, su55if.load]:
            with pytest.raises(FileNotFoundError, match="passed over .*another user can change"):
                find()
        with contextlib.suppress(FileNotFoundError):
            assert su55if.find_host() not in [shared / place for place in planted]


# Where the package is built from: this checkout, the source archive (its VERSION file), or a
# copy of the checkout's files of this mode, without .git (0o755) or with it (0o777).
ORIGINS = {"this checkout": (None, True), "the source archive": ("archive", False),
           "a copy without .git": (0o755, False), "a copy others can write": (0o777, False)}


@pytest.mark.parametrize("layout, recorded", ORIGINS.values(), ids=ORIGINS.keys())
def test_only_a_checkout_is_recorded(tmp_path, monkeypatch, layout, recorded):
    monkeypatch.syspath_prepend(str(CHECKOUT / "python" / "build_backend"))
    backend = importlib.import_module("su55if_build")
    if layout == "archive":
        (tmp_path / "VERSION").write_text("0.1.0\n")
        monkeypatch.setattr(backend, "SDIST_VERSION", tmp_path / "VERSION")
    elif layout:
        copy = tmp_path / "copy"
        shutil.copytree(CHECKOUT / "include", copy / "include")
        shutil.copy(CHECKOUT / "CMakeLists.txt", copy)
        (copy / "src").mkdir()
        if layout == 0o777:
            (copy / ".git").mkdir()
        os.chmod(copy, layout)
        monkeypatch.setattr(backend, "CHECKOUT", copy)
    with zipfile.ZipFile(tmp_path / backend.build_wheel(str(tmp_path))) as wheel:
        origin = wheel.read("su55if/origin.txt").decode() if "su55if/origin.txt" in wheel.namelist() else None
    assert origin == (f"{backend.CHECKOUT}\n" if recorded else None)


def test_call_modes_and_derivative_blocks(lib):
    block = [7.0, 7.0]
    derived = lib.define_stages(requested=[1, 2], time=0, mode=3, derivatives=block)
    assert block == [0.0, 0.0] and math.isnan(derived.elapsed)
    untouched = [7.0]
    assert lib.switch_signal(1, 2, 3, mode=0, derivatives=untouched) == 0.0 and untouched == [7.0]
    assert math.isnan(lib.switch_signal(1, 2, 3, mode=1))
    assert lib.switch_signal(1, 0, 3, mode=4.9, derivatives=untouched) == 1.0 and untouched == [0.0]


def test_low_level_call_by_the_manuals_names(lib):
    inputs = {"requestedDurations": [10, 20], "currentDurations": [10, 20], "holdSwitch": 0,
              "currentTime": 0, "stageNumber": 2, "referenceTime": 0}
    outputs, status = lib.call("SU55IF_DEFST", inputs, {"stageDurations": 3})
    assert outputs["stageDurations"] == (10, 20, 0) and outputs["cycleDuration"] == 30 and status == 0
    workspace = [0.0] * 5
    assert lib.call("record_step_duration", [1, 2], workspace=workspace) == ({"recordedDuration": 0.0}, 1)
    assert workspace == [2, 0, 2, 1, 0]
    with pytest.raises(ValueError, match="number of values of output 'stageDurations'"):
        lib.call("SU55IF_DEFST", inputs)


@pytest.mark.skipif(numpy is None, reason="NumPy is not installed")
def test_numpy_arrays_in_and_out():
    with su55if.load(numpy=True) as lib:
        schedule = lib.define_stages(requested=numpy.array([10, 20, 30]), time=0)
        assert isinstance(schedule.durations, numpy.ndarray) and schedule.durations.tolist() == [10, 20, 30]
        block = numpy.ones((2, 3))
        lib.decode_action(1, mode=4, derivatives=block)
        assert not block.any()
        for block in (numpy.ones((4, 2))[:, 0], numpy.ones((4, 6))[::2, ::3], numpy.ones((2, 3), order="F")):
            lib.switch_signal(1, 2, 1, mode=3, derivatives=block)
            assert not block.any()
        workspace = numpy.zeros(5)
        lib.record_step_duration(1, 2, workspace=workspace)
        assert workspace.tolist() == [2, 0, 2, 1, 0]
        with pytest.raises(ValueError, match=r"workspace must hold its 5 reals in one column .*, not an array of shape \(1, 5\)"):
            lib.record_step_duration(1, 2, workspace=numpy.zeros((1, 5)))
        with pytest.raises(TypeError, match=r"switch_signal\(\): derivatives must hold floating-point numbers, not int"):
            lib.switch_signal(1, 2, 1, mode=3, derivatives=numpy.ones(2, dtype=int))
        read_only = numpy.ones(2)
        read_only.flags.writeable = False
        with pytest.raises(TypeError, match=r"switch_signal\(\): derivatives must be writable"):
            lib.switch_signal(1, 2, 1, mode=3, derivatives=read_only)
        with pytest.raises(TypeError, match="interaction_timing\\(\\): table must hold real numbers"):
            lib.interaction_timing(numpy.array(["1"]), 1, 0)
        with pytest.raises(ValueError, match="one-dimensional"):
            lib.interaction_timing(numpy.zeros((2, 2)), 1, 0)


def test_works_without_numpy():
    script = (
        "import sys; sys.modules['numpy'] = None; sys.path.insert(0, sys.argv[1]); import su55if; "
        "print(su55if.load().define_stages(requested=[10, 20, 30], time=0).cycle_duration)"
    )
    result = subprocess.run([sys.executable, "-c", script, str(CHECKOUT / "python")], capture_output=True, text=True)
    assert result.stdout == "60.0\n", result.stderr
