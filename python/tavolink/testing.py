"""Simulated modules for testing station scripts without hardware.

``simulated_module`` starts the ``tavosim`` program, which serves simulated
TAVO modules on pseudo-terminals, and hands back their ports; the pytest
fixture ``tavosim_port`` does the same for one test::

    import tavolink

    def test_imei_is_written(tavosim_port):
        with tavolink.Module(tavosim_port) as m:
            m.write_imei("35123456789012")
            assert m.read_imei().startswith("35123456789012")

The fixture is registered when the package is installed with pip; otherwise
name the plugin in a conftest.py: ``pytest_plugins = ["tavolink.testing"]``.
By default the module starts in TAT mode (found at once, without the 12 s
open delay of a module in AT mode); the marker
``@pytest.mark.tavosim("--boot")`` gives the program other options (see
``tavosim --help``).

``tavosim`` is looked for in ``TAVOLINK_TAVOSIM``, beside an installed
package, beside the library loaded from a build tree, then on ``PATH``.
"""

from __future__ import annotations

import contextlib
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path
from typing import IO, Iterator, List, Optional, Sequence

_START_TIMEOUT_S = 10.0


def find_tavosim() -> str:
    """The path of the tavosim program.

    Raises:
        FileNotFoundError: naming every place looked at.
    """
    tried: List[str] = []
    explicit = os.environ.get("TAVOLINK_TAVOSIM")
    if explicit:
        if os.access(explicit, os.X_OK):
            return explicit
        raise FileNotFoundError(f"TAVOLINK_TAVOSIM={explicit} is not an executable program")
    candidates: List[Path] = []
    try:
        from . import _installed  # type: ignore[attr-defined]

        candidates.append(Path(os.path.normpath(Path(__file__).resolve().parent
                                                / _installed.TAVOSIM)))
    except ImportError:
        pass
    library = os.environ.get("TAVOLINK_LIBRARY")
    if library:
        candidates.append(Path(library).resolve().parent / "sim" / "tavosim")
    for candidate in candidates:
        tried.append(str(candidate))
        if os.access(candidate, os.X_OK):
            return str(candidate)
    found = shutil.which("tavosim")
    if found:
        return found
    tried.append("PATH")
    raise FileNotFoundError("tavosim not found; looked at: " + ", ".join(tried)
                            + ". Set TAVOLINK_TAVOSIM to its path")


class SimulatedModules:
    """A running tavosim program and the ports of its modules.

    Attributes:
        ports: one pty path per module.
        process: the program.
    """

    def __init__(self, ports: List[str], process: "subprocess.Popen[bytes]",
                 log: IO[bytes]) -> None:
        self.ports = ports
        self.process = process
        self._log = log

    @property
    def port(self) -> str:
        """The first (usually the only) module's port."""
        return self.ports[0]

    def log(self) -> str:
        """What the program wrote on stderr so far (with ``-v``, its frame log)."""
        self._log.flush()
        self._log.seek(0)
        return self._log.read().decode(errors="replace")

    def stop(self) -> int:
        """Stops the program (the modules vanish) and returns its exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode


@contextlib.contextmanager
def simulated_module(*options: str, modules: int = 1, tat: bool = True,
                     tavosim: Optional[str] = None) -> Iterator[SimulatedModules]:
    """Starts tavosim with ``modules`` modules and stops it on leaving.

    Args:
        options: more tavosim options, e.g. "--serial", "0123456789".
        modules: how many modules (1 to 16), each on its own pty.
        tat: start them in TAT mode (False: in AT mode, as just switched on,
            unless options say "--boot").
        tavosim: the program's path (None: ``find_tavosim()``).
    """
    program = tavosim or find_tavosim()
    args = [program, "-n", str(modules)]
    if tat and "--boot" not in options:
        args.append("--tat")
    args += list(options)
    log = tempfile.TemporaryFile()
    process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=log,
                               stdin=subprocess.DEVNULL)
    sim = SimulatedModules([], process, log)
    try:
        assert process.stdout is not None
        sim.ports = _read_ports(process, process.stdout, modules, sim)
        yield sim
    finally:
        sim.stop()
        if process.stdout is not None:
            process.stdout.close()
        log.close()


def _read_ports(process: "subprocess.Popen[bytes]", out: IO[bytes], count: int,
                sim: SimulatedModules) -> List[str]:
    ports: List[str] = []
    pending = b""
    deadline = time.monotonic() + _START_TIMEOUT_S
    while len(ports) < count:
        left = deadline - time.monotonic()
        ready = select.select([out], [], [], max(left, 0))[0] if left > 0 else []
        chunk = os.read(out.fileno(), 4096) if ready else b""
        if not chunk:
            raise RuntimeError(f"tavosim printed {len(ports)} of {count} ports "
                               f"(exit status {process.poll()}): {sim.log().strip()}")
        pending += chunk
        *lines, pending = pending.split(b"\n")
        ports += [line.decode().strip() for line in lines if line.strip()]
    return ports


def _marker_options(request: object) -> Sequence[str]:
    node = getattr(request, "node", None)
    marker = node.get_closest_marker("tavosim") if node is not None else None
    return tuple(marker.args) if marker is not None else ()


try:
    import pytest
except ImportError:  # the context manager works without pytest
    pytest = None  # type: ignore[assignment]

if pytest is not None:

    def pytest_configure(config: "pytest.Config") -> None:
        """Registers the marker that passes options to tavosim."""
        config.addinivalue_line(
            "markers", "tavosim(*options): options for the tavosim_port fixture's program")

    @pytest.fixture
    def tavosim_port(request: "pytest.FixtureRequest") -> Iterator[str]:
        """The port of a simulated module (tavosim, TAT mode), for one test."""
        with simulated_module(*_marker_options(request)) as sim:
            yield sim.port
