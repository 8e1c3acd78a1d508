"""The nine methods as a reader, an editor and a type checker see them,
against the procedure description; and what a fork or a failing host does."""

import inspect
import json
import os
import shutil
import subprocess
import sys

import pytest

import su55if
from conftest import CHECKOUT

DESCRIPTION = json.loads((CHECKOUT / "include" / "su55if_procedures.json").read_text())["procedures"]


@pytest.mark.parametrize("procedure", DESCRIPTION, ids=[p["name"] for p in DESCRIPTION])
def test_methods_are_the_descriptions(procedure):
    method = getattr(su55if.Library, procedure["method"])
    parameters = [p for p in inspect.signature(method).parameters.values()
                  if p.kind is p.POSITIONAL_OR_KEYWORD and p.name != "self"]
    assert [p.name for p in parameters] == [a["keyword"] for a in procedure["inputs"]]
    for parameter, argument in zip(parameters, procedure["inputs"]):
        default = argument.get("default")
        if default is None:
            assert parameter.default is su55if._library.REQUIRED or parameter.default is inspect.Parameter.empty
        elif isinstance(default, str):  # another input's values
            assert parameter.default is None
        else:
            assert parameter.default == default
    name, result = su55if._library.METHODS[procedure["method"]]
    assert name == procedure["name"] and procedure["name"] in method.__doc__
    fields = [a["keyword"] for a in procedure["outputs"]]
    assert (list(result._fields) if result else fields[:1]) == fields


@pytest.mark.skipif(shutil.which("mypy") is None and subprocess.run([sys.executable, "-m", "mypy", "--version"],
                    capture_output=True).returncode != 0, reason="mypy is not installed")
def test_a_users_script_type_checks():
    script = CHECKOUT / "python" / "tests" / "typed" / "user_script.py"
    env = {**os.environ, "MYPYPATH": str(CHECKOUT / "python")}
    checked = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--follow-imports=silent", "--no-incremental", "--cache-dir=/dev/null",
                              str(script)], capture_output=True, text=True, env=env)
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


FAULTY_HOSTS = {
    # printed a row and half of another, then killed
    "killed": ("kill -9 $$", r"was ended by SIGKILL"),
    "library ended the process": ("exit 3", r"failed \(exit code 3\): the library ended the process during a call"),
}


@pytest.mark.parametrize("end, message", FAULTY_HOSTS.values(), ids=FAULTY_HOSTS.keys())
def test_a_host_that_fails_midway_is_not_a_success(host, tmp_path, monkeypatch, end, message):
    header = '{"format":"su55if-samples","version":2,"columns":["time","stage","elapsed","a"],"samples":5,' \
             '"value":"float64-le","csvNumber":"%.17g","chart":{}}'
    fake = tmp_path / "su55if-host"
    fake.write_text(f"""#!/bin/sh
case "$*" in *--version*) exec {host} --version;; *" run "*) ;; *) exec {host} "$@";; esac
printf '%s\\n' '{header}'
head -c 48 /dev/zero
{end}
""")
    fake.chmod(0o755)
    monkeypatch.setenv("SU55IF_HOST", str(fake))
    with pytest.raises(RuntimeError, match=message):
        su55if.read_cycle(CHECKOUT / "examples" / "four-stage.csv").run()
