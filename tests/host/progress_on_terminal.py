"""su55if-host shows its progress line on standard error while that is a
terminal (a pseudo-terminal here), and clears it; not with -q, and not when
standard error is a pipe."""
import os
import pty
import subprocess
import sys
import tempfile

host, cycle = sys.argv[1], sys.argv[2]


def run(extra, terminal):
    with tempfile.TemporaryDirectory() as folder:
        args = [host, "run", cycle, "--stop-time", "100", "--output-file", os.path.join(folder, "t.csv"), *extra]
        if not terminal:
            return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True).stderr
        leader, follower = pty.openpty()
        subprocess.run(args, stdout=subprocess.DEVNULL, stderr=follower, check=True)
        os.close(follower)
        shown = b""
        try:
            while chunk := os.read(leader, 4096):
                shown += chunk
        except OSError:  # the terminal closed: all is read
            pass
        os.close(leader)
        return shown


shown = run([], True)
assert shown.startswith(b"\rsu55if-host: time 0 of 100 (0%)\r\x1b[Ksu55if-host: wrote 201 samples to "), shown
assert run(["-q"], True) == b"", "-q shows no progress"
assert b"\r" not in run([], False), "no progress line on a pipe"
