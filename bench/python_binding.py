#!/usr/bin/env python3
"""What the Python binding itself costs per call, side by side with C.

    python3 bench/python_binding.py [--build build-rel] [--rounds 7] [--calls 300]

One simulated module (tavosim, TAT mode) serves both sides in turn, round
after round, so that the machine's noise falls on both alike: the C program
binding_baseline and the tavolink package each open a session, then time
CALLS software-version requests and CALLS reads of section 0 (200 bytes).
Both wait the shortest request pause the library allows (1 ms), and both take
every trace line (C: a message sender; Python: the package's dispatch to its
logger, not enabled). The medians of the rounds are compared.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path


def main() -> int:
    here = Path(__file__).resolve().parent
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    parser.add_argument("--build", default=str(here.parent / "build-rel"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--calls", type=int, default=300)
    args = parser.parse_args()
    build = Path(args.build).resolve()
    os.environ["TAVOLINK_LIBRARY"] = str(build / "libtavolink2.so")
    os.environ["TAVOLINK_TAVOSIM"] = str(build / "sim" / "tavosim")
    sys.path.insert(0, str(here.parent / "python"))
    import tavolink
    from tavolink.testing import simulated_module

    baseline = build / "bench" / "binding_baseline"
    c_times = {"version": [], "section": []}
    py_times = {"version": [], "section": []}
    with simulated_module() as sim:
        env = dict(os.environ, TAVOLINK_COM99=sim.port)
        for _ in range(args.rounds):
            out = subprocess.run([str(baseline), "99", str(args.calls)], env=env, check=True,
                                 capture_output=True, text=True).stdout.split()
            c_times["version"].append(float(out[1]) / 1000)
            c_times["section"].append(float(out[3]) / 1000)
            with tavolink.Module(sim.port, request_delay_ms=1, retry_delay_ms=1) as m:
                for name, call in (("version", m.get_software_id),
                                   ("section", lambda: m.read_section(0))):
                    start = time.perf_counter_ns()
                    for _ in range(args.calls):
                        call()
                    py_times[name].append((time.perf_counter_ns() - start) / args.calls / 1000)
    print(f"{'call':10} {'C µs/call':>10} {'Python µs/call':>15} {'binding cost':>13}")
    worst = 0.0
    for name in ("version", "section"):
        c, py = statistics.median(c_times[name]), statistics.median(py_times[name])
        cost = (py - c) / c * 100
        worst = max(worst, cost)
        print(f"{name:10} {c:10.1f} {py:15.1f} {cost:12.1f}%")
    print(f"rounds {args.rounds}, calls per round {args.calls}, library {tavolink.library_version()}")
    return 0 if worst <= 5.0 else 1


if __name__ == "__main__":
    sys.exit(main())
