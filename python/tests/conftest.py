"""Shared set-up: the simulated-module fixture, quick settings, flash files."""

from pathlib import Path
from typing import Dict

import pytest

pytest_plugins = ["tavolink.testing"]

# The simulator answers at once: short pauses keep the tests quick, and the
# open delay only matters for a module switched from AT mode.
QUICK: Dict[str, int] = {"request_delay_ms": 1, "retry_delay_ms": 1, "open_delay_ms": 300}


@pytest.fixture
def quick() -> Dict[str, int]:
    """Settings for a Module against the simulator."""
    return dict(QUICK)


@pytest.fixture
def flash_files(tmp_path: Path):
    """A loader (.hex) and 40 000 bytes of software (.cla)."""
    loader = tmp_path / "loader.hex"
    loader.write_bytes(b":020000040000FA\r\n:00000001FF\r\n")
    software = tmp_path / "soft.cla"
    software.write_bytes(bytes(i % 251 for i in range(40000)))
    return software, loader
