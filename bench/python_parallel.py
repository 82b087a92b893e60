#!/usr/bin/env python3
"""Flashing from Python threads: 16 modules at once against one alone.

    python3 bench/python_parallel.py [--build build-rel] [--kib 256] [--modules 16]

tavosim serves the modules in their boot code with the line paced at the
download's 921600 baud; the tavolink package flashes one module, then all of
them from one thread each. The library is called without the GIL, so the
threads' downloads overlap: the wall time of all of them over the wall time
of one tells how well.
"""

import sys
import tempfile
import threading
import time
from pathlib import Path

import python_build


def flash(tavolink, ports, software, loader):
    errors = []

    def one(port):
        try:
            with tavolink.Module(port, baud=921600, session=False) as m:
                m.download(software, loader)
        except Exception as error:  # reported below
            errors.append(f"{port}: {error}")

    threads = [threading.Thread(target=one, args=(p,)) for p in ports]
    start = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise SystemExit("; ".join(errors))
    return time.monotonic() - start


def main() -> int:
    parser = python_build.parser(__doc__)
    parser.add_argument("--kib", type=int, default=256)
    parser.add_argument("--modules", type=int, default=16)
    args = parser.parse_args()
    _, tavolink = python_build.load(args.build)
    simulated_module = tavolink.testing.simulated_module

    with tempfile.TemporaryDirectory() as work:
        loader = Path(work) / "loader.hex"
        loader.write_bytes(b":020000040000FA\r\n:00000001FF\r\n")
        software = Path(work) / "soft.cla"
        software.write_bytes(bytes(i % 251 for i in range(args.kib * 1024)))
        options = ("--boot", "--line-speed", "on", "--chunk", "64")
        with simulated_module(*options, modules=args.modules) as sim:
            alone = flash(tavolink, sim.ports[:1], software, loader)
        with simulated_module(*options, modules=args.modules) as sim:
            together = flash(tavolink, sim.ports, software, loader)
    print(f"{args.kib} KiB at 921600 baud: 1 module {alone:.2f} s, {args.modules} modules "
          f"from {args.modules} threads {together:.2f} s, ratio {together / alone:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
