"""Per-call cost of the package's methods against a bare ctypes call of the
same export with a hand-built frame (inputs written, the call, outputs read),
on one private copy of the library, side by side in one run. For a procedure
that uses the stage table the bare call also captures the library's records
as plainly as ctypes allows (C's stdout pointed at a temporary file for the
call, the file's offset read afterwards, the records read and the status
checked when there are any), since the package must capture them too.
Prints a Markdown table and exits 1 when a call takes more than 1.5 times
its bare call.

    /usr/bin/python3 python/bench/overhead.py [LIBRARY]
"""

import ctypes
import os
import sys
import time
import timeit
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import su55if  # noqa: E402

D, I = ctypes.c_double, ctypes.c_int
TARGET = 1.5


class PlainCapture:
    """What a ctypes caller writes to capture what the library prints."""

    def __init__(self):
        c = self.c = ctypes.CDLL(None)
        c.tmpfile.restype = ctypes.c_void_p
        c.fileno.argtypes = (ctypes.c_void_p,)
        self.stdout = ctypes.c_void_p.in_dll(c, "stdout")
        self.file = c.tmpfile()
        self.fd = c.fileno(self.file)

    def call(self, function, arguments, status):
        saved = self.stdout.value
        self.stdout.value = self.file
        function(*arguments)
        self.stdout.value = saved
        if os.lseek(self.fd, 0, os.SEEK_CUR) or status.value == 4:
            raise RuntimeError(os.pread(self.fd, 1 << 16, 0))


def bare_frame(function, input_sizes, output_sizes, workspace=1):
    """The fourteen arguments built by hand, inputs and outputs packed."""

    def offsets(sizes):
        return [1 + sum(sizes[:k]) for k in range(len(sizes))]

    inputs, outputs = (D * sum(input_sizes))(), (D * sum(output_sizes))()
    status, mode, none = I(0), D(0.0), I(0)
    arguments = (
        inputs, (I * len(input_sizes))(*input_sizes), outputs, (I * len(output_sizes))(*output_sizes),
        (I * len(input_sizes))(*offsets(input_sizes)), (I * len(output_sizes))(*offsets(output_sizes)),
        ctypes.byref(status), None, (D * workspace)(), ctypes.byref(I(workspace)), (D * 1)(),
        ctypes.byref(none), ctypes.byref(none), ctypes.byref(mode),
    )
    return function, inputs, outputs, status, arguments


def scenarios(lib, dll):
    """(procedure, call, bare, package): each bare call written out as a
    caller of ctypes would write it."""
    durations, table = [10.0, 20.0, 10.0, 40.0], [3.0, 0.0, 1.0, 0.0]
    lib.define_stages(durations, time=0.0)
    capture = PlainCapture()

    f1, i1, o1, s1, a1 = bare_frame(dll.SU55IF_DEFST, [4, 4, 1, 1, 1, 1], [4, 1, 1, 1, 1])

    def bare_define():
        i1[0:4] = durations
        i1[4:8] = durations
        i1[8:12] = (0.0, 25.0, 2.0, 10.0)
        s1.value = 0
        capture.call(f1, a1, s1)
        return (tuple(o1[0:4]), o1[4], o1[5], o1[6], o1[7])

    yield "SU55IF_DEFST", "define_stages(durations, durations, 0.0, time=25.0, stage=2.0, reference=10.0)", bare_define, (
        lambda: lib.define_stages(durations, durations, 0.0, time=25.0, stage=2.0, reference=10.0)
    )
    yield "SU55IF_DEFST", "define_stages(requested=durations, time=25.0, stage=2, reference=10.0)", bare_define, (
        lambda: lib.define_stages(requested=durations, time=25.0, stage=2, reference=10.0)
    )

    f2, i2, o2, s2, a2 = bare_frame(dll.SU55IF_CHKST, [4, 1], [1])

    def bare_check():
        i2[0:4] = durations
        i2[4] = 1.0
        s2.value = 0
        capture.call(f2, a2, s2)
        return o2[0]

    yield "SU55IF_CHKST", "check_stages(durations, 1.0)", bare_check, lambda: lib.check_stages(durations, 1.0)

    f3, i3, o3, s3, a3 = bare_frame(dll.SU55IF_UPSTGTIM, [1, 1, 1, 4], [1])

    def bare_update():
        i3[0:3] = (1.0, 1.0, 10.0)
        i3[3:7] = table
        s3.value = 0
        capture.call(f3, a3, s3)
        return o3[0]

    yield "SU55IF_UPSTGTIM", "update_stage_duration(1.0, stage=1.0, duration=10.0, table=table)", bare_update, (
        lambda: lib.update_stage_duration(1.0, stage=1.0, duration=10.0, table=table)
    )

    for name, method in (("SU55IF_INTTIM", lib.interaction_timing), ("SU55IF_IINTTIM", lib.interaction_timing_twin)):
        f4, i4, o4, s4, a4 = bare_frame(getattr(dll, name), [4, 1, 1], [1, 1, 1])

        def bare_timing(f4=f4, i4=i4, o4=o4, s4=s4, a4=a4):
            i4[0:4] = table
            i4[4:6] = (1.0, 60.0)
            s4.value = 0
            capture.call(f4, a4, s4)
            return (o4[0], o4[1], o4[2])

        yield name, f"{method.__name__}(table, 1.0, 60.0)", bare_timing, lambda method=method: method(table, 1.0, 60.0)

    for name, method, count in (("SU55IF_ACTYP", lib.decode_action, 4), ("SU55IF_IACTYP", lib.decode_action_twin, 3)):
        f5, i5, o5, s5, a5 = bare_frame(getattr(dll, name), [1], [1] * count)

        def bare_decode(f5=f5, i5=i5, o5=o5, s5=s5, a5=a5, count=count):
            i5[0] = 2.0
            s5.value = 0
            f5(*a5)
            return tuple(o5[0:count])

        yield name, f"{method.__name__}(2.0)", bare_decode, lambda method=method: method(2.0)

    f6, i6, o6, s6, a6 = bare_frame(dll.SU55IF_REPTIM, [1, 1], [1], workspace=5)
    recorder = lib.step_recorder()

    def bare_record():
        i6[0] = 1.0
        i6[1] = 2.0
        s6.value = 0
        f6(*a6)
        return o6[0]

    yield "SU55IF_REPTIM", "StepRecorder(1.0, 2.0)", bare_record, lambda: recorder(1.0, 2.0)

    f7, i7, o7, s7, a7 = bare_frame(dll.SU55IF_PFNRSWTCH, [1, 1, 1], [1])

    def bare_switch():
        i7[0] = 5.0
        i7[1] = 4.0
        i7[2] = 1.0
        s7.value = 0
        f7(*a7)
        return o7[0]

    yield "SU55IF_PFNRSWTCH", "switch_signal(5.0, 4.0, 1.0)", bare_switch, lambda: lib.switch_signal(5.0, 4.0, 1.0)


def per_call(bare, wrapped, number=20000, rounds=25):
    """Processor time of the fastest of many short rounds of each, taken
    turn about, so that both see the same load on a shared machine."""
    best_bare = best_wrapped = float("inf")
    for _ in range(rounds):
        best_bare = min(best_bare, timeit.Timer(bare, timer=time.process_time).timeit(number))
        best_wrapped = min(best_wrapped, timeit.Timer(wrapped, timer=time.process_time).timeit(number))
    return best_bare / number * 1e9, best_wrapped / number * 1e9


def main() -> int:
    lib = su55if.load(sys.argv[1] if len(sys.argv) > 1 else None)
    uses_table = {p.name for p in lib.procedures.values() if p.reads_stage_table}
    print("| procedure | call | bare ctypes (ns/call) | su55if (ns/call) | ratio |")
    print("|---|---|---:|---:|---:|")
    missed = []
    for procedure, call, bare, wrapped in scenarios(lib, lib._dll):
        assert bare() == wrapped(), call
        b, w = per_call(bare, wrapped)
        if w / b > TARGET:
            missed.append(call)
        captured = ", records captured" if procedure in uses_table else ""
        print(f"| `{procedure}` | `{call}`{captured} | {b:.0f} | {w:.0f} | {w / b:.2f} |")
    if missed:
        print(f"\nover target: {', '.join(missed)}", file=sys.stderr)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
