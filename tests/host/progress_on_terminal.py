"""su55if-host shows its progress line on standard error while that is a
terminal (a pseudo-terminal here), and clears it; not with -q, and not when
standard error is a pipe. A warning during the run begins on a line of its
own, and the end that a run by cycles shows moves with the durations."""
import os
import pty
import subprocess
import sys
import tempfile

host, cycle = sys.argv[1], sys.argv[2]


def run(extra, terminal, stdin=b""):
    with tempfile.TemporaryDirectory() as folder:
        args = [host, "run", cycle, "--output-file", os.path.join(folder, "t.csv"), *extra]
        if not terminal:
            return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True).stderr
        leader, follower = pty.openpty()
        subprocess.run(args, input=stdin, stdout=subprocess.DEVNULL, stderr=follower, check=True)
        os.close(follower)
        shown = b""
        try:
            while chunk := os.read(leader, 4096):
                shown += chunk
        except OSError:  # the terminal closed: all is read
            pass
        os.close(leader)
        return shown


shown = run(["--stop-time", "100"], True)
assert shown.startswith(b"\rsu55if-host: time 0 of 100 (0%)\r\x1b[Ksu55if-host: wrote 201 samples to "), shown
assert run(["--stop-time", "100", "-q"], True) == b"", "-q shows no progress"
assert b"time 0 of" not in run(["--stop-time", "1", "--log-calls"], True), "no progress line within the call log"
assert b"\r" not in run(["--stop-time", "100"], False), "no progress line on a pipe"

# Stage 1 lasts 14 from time 50, its partner still 10: the warning comes
# while the progress line of time 0 is shown.
shown = run(["--stop-time", "100", "--input-file", "/dev/stdin"], True, b"time,duration1\n0,10\n50,14\n")
assert b"(0%)\r\x1b[Ksu55if-host: warning: at time 50, the linked stage 1" in shown, shown

# An event at time 0 makes stages 1 and 3 last 1000: three cycles end at
# 6180, not at the 240 that the cycle file's durations give.
shown = run(["--cycles", "3", "--events", "/dev/stdin"], True, b"time,stage,duration\n0,1,1000\n")
assert shown.startswith(b"\rsu55if-host: time 0 of about 6180 (0%)"), shown
