"""Per-call cost of the package's methods against a bare ctypes call of the
same procedure with a hand-built frame (inputs written, the call, outputs
read), on one private copy of the library. Prints a Markdown table.

    /usr/bin/python3 python/bench/overhead.py [LIBRARY]
"""

import ctypes
import sys
import time
import timeit
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import su55if  # noqa: E402

D, I = ctypes.c_double, ctypes.c_int


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
    return inputs, outputs, status, arguments


def scenarios(lib, dll):
    durations, table = [10.0, 20.0, 10.0, 40.0], [3.0, 0.0, 1.0, 0.0]
    lib.define_stages(durations, time=0.0)

    # SU55IF_PFNRSWTCH
    f = dll.SU55IF_PFNRSWTCH
    i, o, s, a = bare_frame(f, [1, 1, 1], [1])

    def bare_switch():
        i[0] = 5.0
        i[1] = 4.0
        i[2] = 1.0
        s.value = 0
        f(*a)
        return o[0]

    yield "switch_signal(5.0, 4.0, 1.0)", bare_switch, lambda: lib.switch_signal(5.0, 4.0, 1.0)

    # SU55IF_ACTYP
    f2 = dll.SU55IF_ACTYP
    i2, o2, s2, a2 = bare_frame(f2, [1], [1, 1, 1, 1])

    def bare_decode():
        i2[0] = 2.0
        s2.value = 0
        f2(*a2)
        return (o2[0], o2[1], o2[2], o2[3])

    yield "decode_action(2.0)", bare_decode, lambda: lib.decode_action(2.0)

    # SU55IF_REPTIM
    f3 = dll.SU55IF_REPTIM
    i3, o3, s3, a3 = bare_frame(f3, [1, 1], [1], workspace=5)
    recorder = lib.step_recorder()

    def bare_record():
        i3[0] = 1.0
        i3[1] = 2.0
        s3.value = 0
        f3(*a3)
        return o3[0]

    yield "StepRecorder(1.0, 2.0)", bare_record, lambda: recorder(1.0, 2.0)

    # SU55IF_INTTIM, four stages
    f4 = dll.SU55IF_INTTIM
    i4, o4, s4, a4 = bare_frame(f4, [4, 1, 1], [1, 1, 1])

    def bare_timing():
        i4[0:4] = table
        i4[4] = 1.0
        i4[5] = 60.0
        s4.value = 0
        f4(*a4)
        if s4.value == 4:
            raise RuntimeError
        return (o4[0], o4[1], o4[2])

    yield "interaction_timing(table, 1.0, 60.0)", bare_timing, lambda: lib.interaction_timing(table, 1.0, 60.0)

    # The descriptor capture alone: the call itself, bare and redirected.
    capture = su55if._library._capture
    yield "(the SU55IF_INTTIM call alone, inside the descriptor capture)", lambda: f4(*a4), lambda: capture.call(f4, a4)

    # SU55IF_DEFST, four stages
    f5 = dll.SU55IF_DEFST
    i5, o5, s5, a5 = bare_frame(f5, [4, 4, 1, 1, 1, 1], [4, 1, 1, 1, 1])

    def bare_define():
        i5[0:4] = durations
        i5[4:8] = durations
        i5[8] = 0.0
        i5[9] = 25.0
        i5[10] = 2.0
        i5[11] = 10.0
        s5.value = 0
        f5(*a5)
        if s5.value == 4:
            raise RuntimeError
        return (tuple(o5[0:4]), o5[4], o5[5], o5[6], o5[7])

    yield (
        "define_stages(durations, durations, 0.0, 25.0, 2.0, 10.0)",
        bare_define,
        lambda: lib.define_stages(durations, durations, 0.0, 25.0, 2.0, 10.0),
    )
    yield (
        "define_stages(requested=durations, time=25.0, stage=2, reference=10.0)",
        bare_define,
        lambda: lib.define_stages(requested=durations, time=25.0, stage=2, reference=10.0),
    )


def flat(value):
    return tuple(value) if isinstance(value, tuple) else value


def per_call(bare, wrapped, number=20000, rounds=25):
    """Processor time of the fastest of many short rounds of each, taken
    turn about, so that both see the same load on a shared machine."""
    best_bare = best_wrapped = float("inf")
    for _ in range(rounds):
        best_bare = min(best_bare, timeit.Timer(bare, timer=time.process_time).timeit(number))
        best_wrapped = min(best_wrapped, timeit.Timer(wrapped, timer=time.process_time).timeit(number))
    return best_bare / number * 1e6, best_wrapped / number * 1e6


def main():
    lib = su55if.load(sys.argv[1] if len(sys.argv) > 1 else None)
    print("| call | bare ctypes (µs) | su55if (µs) | ratio |")
    print("|---|---:|---:|---:|")
    for name, bare, wrapped in scenarios(lib, lib._dll):
        assert name.startswith("(") or flat(bare()) == flat(wrapped()), name
        b, w = per_call(bare, wrapped)
        print(f"| `{name}` | {b:.2f} | {w:.2f} | {w / b:.1f} |")


if __name__ == "__main__":
    main()
