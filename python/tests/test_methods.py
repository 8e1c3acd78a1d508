"""The nine methods as a reader, an editor and a type checker see them,
against the procedure description; and what a fork, a failing host or a
malformed sample stream does."""

import inspect
import typing
import json
import math
import os
import shutil
import struct
import subprocess
import sys

import pytest

import su55if
from conftest import CHECKOUT

DESCRIPTION = json.loads((CHECKOUT / "include" / "su55if_procedures.json").read_text())["procedures"]


@pytest.mark.parametrize("procedure", DESCRIPTION, ids=[p["name"] for p in DESCRIPTION])
def test_methods_are_the_descriptions(procedure):
    # Each input by its keyword, in order: a required one without a default,
    # keyword-only from the first required input after an optional one.
    method = getattr(su55if.Library, procedure["method"])
    parameters = [p for p in inspect.signature(method).parameters.values() if p.name not in su55if._library.OPTIONS]
    assert [p.name for p in parameters] == [a["keyword"] for a in procedure["inputs"]]
    optional_seen = keyword_only = False
    for parameter, argument in zip(parameters, procedure["inputs"]):
        default = argument.get("default")
        keyword_only = keyword_only or (default is None and optional_seen)
        optional_seen = optional_seen or default is not None
        expected = parameter.empty if default is None else None if isinstance(default, str) else default
        assert (parameter.default, parameter.kind is parameter.KEYWORD_ONLY) == (expected, keyword_only), parameter
    name, result = su55if._library.METHODS[procedure["method"]]
    assert name == procedure["name"] and procedure["name"] in method.__doc__
    fields = [a["keyword"] for a in procedure["outputs"]]
    assert (list(result._fields) if result else fields[:1]) == fields
    hints = typing.get_type_hints(method)
    assert all(p.name in hints for p in parameters) and "return" in hints


@pytest.mark.skipif(shutil.which("mypy") is None and subprocess.run([sys.executable, "-m", "mypy", "--version"],
                    capture_output=True).returncode != 0, reason="mypy is not installed")
@pytest.mark.parametrize("checked", ["tests/typed/user_script.py", "su55if"])
def test_the_package_and_a_users_script_type_check(checked):
    env = {**os.environ, "MYPYPATH": str(CHECKOUT / "python")}
    checked = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--config-file", "pyproject.toml",
                              "--no-incremental", "--cache-dir=/dev/null", checked],
                             capture_output=True, text=True, env=env, cwd=CHECKOUT / "python")
    assert checked.returncode == 0, checked.stdout + checked.stderr


@pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork here")
def test_a_fork_while_another_thread_calls(lib):
    # A thread calls without pause; each child calls once and must return.
    script = f"""
import os, sys, threading
sys.path.insert(0, {str(CHECKOUT / "python")!r})
import su55if
lib = su55if.load({str(lib.path)!r})
stop = False
def calls():
    while not stop:
        try:
            lib.define_stages([10, 20, 15, 40], time=0.0); lib.interaction_timing([3, 0, 1, 0], 1, 0.0)
        except su55if.SimulationTerminated:
            pass
threading.Thread(target=calls, daemon=True).start()
for _ in range(30):
    pid = os.fork()
    if pid == 0:
        try:
            su55if.load({str(lib.path)!r}).define_stages([10, 20], time=0.0)
            os.write(1, b"ok\\n")
        finally:
            os._exit(0)
    os.waitpid(pid, 0)
stop = True
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.stdout.count("ok") == 30, done.stderr


@pytest.mark.skipif(not os.environ.get("SU55IF_FORK_DRIVER"), reason="SU55IF_FORK_DRIVER (built by ctest) is not set")
def test_forks_from_a_c_thread_while_python_calls_with_capture(lib):
    # The process's first call is a captured one; a C thread forks 1,000
    # times meanwhile, and each child calls the library once and exits.
    script = f"""
import ctypes, sys
sys.path.insert(0, {str(CHECKOUT / "python")!r})
import su55if
lib = su55if.load({str(lib.path)!r})
driver = ctypes.CDLL({os.environ["SU55IF_FORK_DRIVER"]!r})
lib.define_stages([10, 20, 15, 40], time=0.0)
driver.start(ctypes.cast(lib._functions["SU55IF_DEFST"], ctypes.c_void_p), 1000)
while not driver.ended():
    lib.define_stages([10, 20, 15, 40], time=0.0)
    try:
        lib.interaction_timing([3, 0, 1, 0], 1, 0.0)
    except su55if.SimulationTerminated as stop:
        assert stop.records[-1] == "Simulation Terminated", stop.records
print("children that called and exited:", driver.finish(), file=sys.stderr)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=600)
    assert done.stderr == "children that called and exited: 1000\n"


@pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork here")
def test_forked_workers_read_their_own_records(lib):
    # One Library, four workers of a fork pool: each call's records are its own; a success passes none on.
    script = f"""import multiprocessing, sys
sys.path.insert(0, {str(CHECKOUT / "python")!r})
import su55if
lib = su55if.load({str(lib.path)!r})
def stopped(_=None):
    lib.define_stages([10, 20, 15, 40], time=0.0)
    try: lib.interaction_timing([3, 0, 1, 0], 1, 0.0)
    except su55if.SimulationTerminated as stop: return stop.records
expected = stopped()
with multiprocessing.get_context("fork").Pool(4) as pool:
    print(sum(r == expected for r in pool.imap_unordered(stopped, range(3000), 10)), file=sys.stderr)"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert (done.stdout, done.stderr) == ("", "3000\n")


def rows(*stages):
    return b"".join(struct.pack("<4d", 0.5 * k, stage, 0, 0) for k, stage in enumerate(stages))


def record(value):
    text = json.dumps(value).encode()
    return struct.pack("<4d", math.nan, len(text), 0, 0) + text + bytes(-len(text) % 32)


FAULTY_HOSTS = {
    # printed a row and half of another, then killed
    "killed": (5, "kill -9 $$", RuntimeError, r"was ended by SIGKILL"),
    "library ended the process": (5, "exit 3", RuntimeError,
                                  r"failed \(exit code 3\): the library ended the process during a call"),
    # announced more samples than memory holds, then went on: ended at once
    "too many samples": (10**15, "sleep 600", MemoryError, r"^the run makes 1,000,000,000,000,000 samples: 32 PB"),
}
MALFORMED = {  # (the header's fields changed, or a line of its own; the stream after it; the RuntimeError)
    "nested": (b"[" * 100_000 + b"]" * 100_000 + b"\n", b"", "nested too deeply"),
    "a list": (b"[1]\n", b"", "the header is a list, not an object"),
    "version": ({"version": "2"}, b"", "version is '2', not 2"),
    "column": ({"columns": ["time", "stage", "elapsed", 4]}, b"", r"columns\[3\] is 4, not a text"),
    "samples": ({"samples": 10**400}, b"", "samples is a number of 401 digits, not a whole number"),
    "number format": ({"csvNumber": "%.999999999f"}, b"", r"csvNumber is '%\.999999999f', not a printf format"),
    "stage names": ({"csvStageName": {"column": "s", "fields": "ab"}}, b"", "csvStageName.fields is 'ab', not a list"),
    "link": ({"chart": {"links": [{"from": "1"}]}}, b"", r"chart\.links\[0\]\.from is '1', not a whole number"),
    "colours": ({"chart": {"stageColours": None}}, b"", "chart.stageColours is None, not a list"),
    "stage unnamed": ({"csvStageName": {"column": "s", "fields": ["a"]}}, rows(1, 2), r"stage 2, not .* \(1 to 1\)"),
    "stage NaN": ({}, rows(1, math.nan), "a sample of stage nan"),
    "record": ({}, rows(1) + record([1]), "the record is a list, not an object"),
    "schedule time": ({}, rows(1) + record({"record": "schedule", "time": 10**400}), "schedule.time is a number of 401"),
    "schedule durations": ({}, rows(1) + record({"record": "schedule", "time": 0, "cycleDuration": 80}),
                           "schedule.durations is missing"),
}


@pytest.mark.parametrize("change, body, end, error, message", [
    *(({"samples": samples}, rows(1, 1)[:48], *rest) for samples, *rest in FAULTY_HOSTS.values()),
    *((change, body, "", RuntimeError, message) for change, body, message in MALFORMED.values())],
    ids=[*FAULTY_HOSTS, *MALFORMED])
def test_a_host_that_fails_midway_is_not_a_success(host, tmp_path, monkeypatch, change, body, end, error, message):
    run = subprocess.run([host, "run", "--format", "binary", CHECKOUT / "examples" / "four-stage.csv"],
                         capture_output=True, check=True)
    header = dict(json.loads(run.stdout.partition(b"\n")[0]), columns=["time", "stage", "elapsed", "a"], samples=None)
    for key, value in ({} if isinstance(change, bytes) else change).items():
        header[key] = dict(header[key], **value) if key == "chart" else value
    line = change if isinstance(change, bytes) else json.dumps(header).encode() + b"\n"
    (tmp_path / "stream").write_bytes(line + body)
    fake = tmp_path / "su55if-host"
    fake.write_text(f"""#!/bin/sh
case "$*" in *" run "*) ;; *) exec {host} "$@";; esac
cat {tmp_path / "stream"}
{end}
""")
    fake.chmod(0o755)
    monkeypatch.setenv("SU55IF_HOST", str(fake))
    with pytest.raises(error, match=message):
        su55if.read_cycle(CHECKOUT / "examples" / "four-stage.csv").run().to_csv()


def test_the_checkouts_library_before_an_installed_one(lib, tmp_path, monkeypatch, recwarn):
    # An installed library of another version, in a prefix of its own.
    installed = tmp_path / "lib" / "libsu55if.so.9.9.9"
    installed.parent.mkdir()
    shutil.copyfile(lib.path, installed)
    (tmp_path / "lib" / "libsu55if.so").symlink_to(installed.name)
    monkeypatch.setattr(su55if._files, "_prefixes", lambda: [str(tmp_path)])
    monkeypatch.delenv("SU55IF_LIBRARY", raising=False)
    build = su55if._files._build_tree_location()
    if not build.is_file():
        pytest.skip(f"{build} is not built")
    assert su55if.__version__ == su55if._files.library_version(build)
    # Imported from the checkout: its build first, and no warning.
    assert su55if.library_candidates()[:2] == [build, tmp_path / "lib" / "libsu55if.so"]
    assert su55if.load().path == build.resolve() and not recwarn.list
    # As an installed package: the installed library, with a warning that says which and why.
    monkeypatch.setattr(su55if._files, "_imported_from_checkout", lambda: False)
    assert su55if.library_candidates()[-1] == build
    with pytest.warns(su55if.LibraryVersionWarning, match=rf"^loaded {installed}, the library of version 9\.9\.9, "
                      rf"into the su55if package of version {su55if.__version__}: it is the first of "
                      r"su55if\.library_candidates\(\) that exists$"):
        assert su55if.load().path == installed
