#!/usr/bin/env python3
"""What the Python binding itself costs per call, side by side with C.

    python3 bench/python_binding.py [--build build-rel] [--rounds 15] [--calls 200]

One process, one simulated module (tavosim, TAT mode), one slot and session:
blocks of CALLS calls made from C (the small library binding_baseline, loaded
into this process) and the same calls through the tavolink package alternate,
round after round, so that the machine's noise falls on both alike. The calls
are software-version requests and reads of section 0 (200 bytes). Both ask
for the shortest request pause the library allows (1 ms); neither takes trace
lines (the package asks for them only while its logger shows DEBUG). The
medians and the best blocks of the rounds are compared, twice: on a bare pty (the exchange as
fast as the machine allows, the binding's cost at its most visible) and with
the line paced at 115200 baud as a station's serial line is.
"""

import ctypes
import statistics
import sys
import time

import python_build


def measure(tavolink, simulated_module, baseline, options, rounds, calls):
    times = {("C", "version"): [], ("C", "section"): [],
             ("Python", "version"): [], ("Python", "section"): []}
    with simulated_module(*options) as sim:
        with tavolink.Module(sim.port, request_delay_ms=1, retry_delay_ms=1) as m:
            python_calls = {"version": m.get_software_id, "section": lambda: m.read_section(0)}
            c_calls = {"version": baseline.BaselineVersion, "section": baseline.BaselineSection}
            for _ in range(rounds):
                for name in ("version", "section"):
                    per_call = c_calls[name](m.slot, calls)
                    if per_call < 0:
                        raise SystemExit(f"C {name}: status {-per_call:.0f}")
                    times[("C", name)].append(per_call / 1000)
                    call = python_calls[name]
                    start = time.perf_counter_ns()
                    for _ in range(calls):
                        call()
                    times[("Python", name)].append((time.perf_counter_ns() - start) / calls / 1000)
    return ({key: statistics.median(values) for key, values in times.items()},
            {key: min(values) for key, values in times.items()})


def main() -> int:
    parser = python_build.parser(__doc__)
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--calls", type=int, default=200)
    args = parser.parse_args()
    build, tavolink = python_build.load(args.build)
    simulated_module = tavolink.testing.simulated_module

    baseline = ctypes.CDLL(str(build / "bench" / "libbinding_baseline.so"))
    for function in (baseline.BaselineVersion, baseline.BaselineSection):
        function.restype = ctypes.c_double
        function.argtypes = [ctypes.c_int32, ctypes.c_int32]

    print(f"{'line':14} {'call':8} {'C µs/call':>10} {'Python µs/call':>15} {'binding cost':>13}"
          f"   {'best C':>8} {'best Python':>11} {'cost':>6}")
    # A paced exchange takes 70 times as long: fewer calls a block.
    for line, options, calls in (("bare pty", (), args.calls),
                                 ("115200 baud", ("--line-speed", "on"), max(args.calls // 10, 1))):
        medians, best = measure(tavolink, simulated_module, baseline, options, args.rounds,
                                calls)
        for name in ("version", "section"):
            c, py = medians[("C", name)], medians[("Python", name)]
            bc, bpy = best[("C", name)], best[("Python", name)]
            print(f"{line:14} {name:8} {c:10.1f} {py:15.1f} {(py - c) / c * 100:12.1f}%"
                  f"   {bc:8.1f} {bpy:11.1f} {(bpy - bc) / bc * 100:5.1f}%")
    print(f"rounds {args.rounds}, calls per block {args.calls} (paced: a tenth), "
          f"library {tavolink.library_version()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
