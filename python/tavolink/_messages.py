"""The one process-wide message sender and its dispatch to module objects.

The library reports trace lines and download progress through a single
function the host installs, handing back a "window" token the host chose per
slot. The package installs its sender once and gives each module object a
token of its own, so every message reaches the object of its port. The
sender runs on the thread that called the library, holding the GIL only for
the dispatch.
"""

from __future__ import annotations

import ctypes
import itertools
import threading
from typing import Dict, Optional, Protocol

from ._library import MessageSender, library

TRACE_MESSAGE = 1
PROGRESS_MESSAGE = 2


class Receiver(Protocol):
    """What a module object offers the dispatcher."""

    def _on_trace(self, line: str) -> None: ...

    def _on_progress(self, code: int, value: int) -> None: ...


_lock = threading.Lock()
_receivers: Dict[int, Receiver] = {}
_tokens = itertools.count(1)
_installed = False


def _dispatch(window: Optional[int], message: int, w_param: int, l_param: int) -> int:
    # An exception must not unwind into the library: the receivers catch
    # their own, and anything left is swallowed here.
    try:
        with _lock:
            receiver = _receivers.get(window or 0)
        if receiver is None:
            return 0
        if message == TRACE_MESSAGE:
            text = ctypes.string_at(l_param).decode("cp1252", errors="replace")
            receiver._on_trace(text)
        elif message == PROGRESS_MESSAGE:
            receiver._on_progress(w_param & 0xFFFF, l_param)
    except Exception:  # noqa: BLE001 - nothing may cross into C
        pass
    return 0


# Kept for the life of the process: the library holds its address.
_sender = MessageSender(_dispatch)


def register(receiver: Receiver) -> int:
    """A new window token for receiver; installs the sender on first use."""
    global _installed
    with _lock:
        if not _installed:
            library().tavolink_SetMessageSender(_sender)
            _installed = True
        token = next(_tokens)
        _receivers[token] = receiver
        return token


def unregister(token: int) -> None:
    """Messages for token are dropped from now on."""
    with _lock:
        _receivers.pop(token, None)
