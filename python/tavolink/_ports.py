"""Ports as the library knows them: COM numbers.

The library opens COM port N at the device named by the environment variable
``TAVOLINK_COM<N>`` (else the ``[PORTS]`` key of TavoLink2.Ini, else
``/dev/ttyS<N-1>``), read again at each opening. A device path given to the
package gets a COM number of its own from a pool above the usual numbers
(101 upwards, as the command-line tool does), mapped through that variable.

The library reads the environment from its own threads' calls while another
thread may be mapping a new path. Adding a variable can move the C
environment array under such a reader; replacing the value of one that exists
does not. So the whole pool is put into the environment once, empty (an
empty variable counts as unset), before the package makes its first library
call, and later mappings only replace values.
"""

from __future__ import annotations

import os
import threading
from dataclasses import dataclass
from typing import Dict, Set, Union

PortLike = Union[str, int, "os.PathLike[str]"]

FIRST_POOL_COM = 101
POOL_SIZE = 64  # a slot per port: 16 bound at once, the rest kept for reuse

_lock = threading.Lock()
_reserved = False
_com_of_path: Dict[str, int] = {}
_in_use: Set[int] = set()


@dataclass(frozen=True)
class Port:
    """A port: what the script gave, the COM number and the device behind it."""

    given: str
    com: int
    device: str

    @property
    def label(self) -> str:
        """"COM5" for a COM number, else the device path: the logger's name."""
        return self.given if "/" in self.given else f"COM{self.com}"


def reserve_pool() -> None:
    """Puts the pool's variables into the environment (once, before any call)."""
    global _reserved
    with _lock:
        if _reserved:
            return
        for com in range(FIRST_POOL_COM, FIRST_POOL_COM + POOL_SIZE):
            os.environ.setdefault(f"TAVOLINK_COM{com}", "")
        _reserved = True


def device_of_com(com: int) -> str:
    """The device the library opens for a COM number (the environment
    variable, else /dev/ttyS<N-1>; a TavoLink2.Ini mapping is not looked at)."""
    return os.environ.get(f"TAVOLINK_COM{com}") or f"/dev/ttyS{com - 1}"


def acquire(port: PortLike) -> Port:
    """Resolves a port for one module object and marks it in use.

    Raises:
        ValueError: a number below 1, or text that is neither a number nor a
            path.
        PortInUse: another module object of this process has the port.
    """
    reserve_pool()
    if isinstance(port, bool):
        raise ValueError(f"port {port!r}: give a COM number or a device path")
    if isinstance(port, int):
        given = str(port)
    else:
        given = os.fspath(port)
    if given.isdigit():
        com = int(given)
        if com < 1:
            raise ValueError(f"port {given}: COM port numbers start at 1")
        with _lock:
            _claim(com, given)
        return Port(given, com, device_of_com(com))
    if "/" not in given:
        raise ValueError(f"port {given!r}: give a COM number (5) or a device path "
                         "(/dev/ttyUSB0)")
    with _lock:
        known = _com_of_path.get(given)
        if known is None:
            com = _free_pool_number(given)
            os.environ[f"TAVOLINK_COM{com}"] = given
            _com_of_path[given] = com
        else:
            com = known
        _claim(com, given)
    return Port(given, com, given)


def release(port: Port) -> None:
    """The module object for the port is closed: its number may serve again."""
    with _lock:
        _in_use.discard(port.com)


class PortInUse(Exception):
    """Another module object of this process has the port."""


def _claim(com: int, given: str) -> None:
    if com in _in_use:
        raise PortInUse(given)
    _in_use.add(com)


def _free_pool_number(path: str) -> int:
    for com in range(FIRST_POOL_COM, FIRST_POOL_COM + POOL_SIZE):
        if com not in _com_of_path.values():
            return com
    # Every number has served a path: take one whose path is not open now.
    for old_path, com in list(_com_of_path.items()):
        if com not in _in_use:
            del _com_of_path[old_path]
            return com
    raise PortInUse(path)
