"""Exceptions: every failure of the library is raised, never returned.

Each carries the library's status number and its message. The subclasses
group the statuses a station script handles differently::

    TavoLinkError
    ├── PortUnavailableError     the port cannot be had (missing, held, slots full)
    ├── ModuleNotAnsweringError  also a TimeoutError: no module, or it went quiet
    ├── DataError                a checksum, a check digit, a size that does not fit
    ├── FileError                a backup, software or script file
    ├── ConfigurationError       TavoLink2.Ini: missing, invalid, upgrade chains
    ├── DownloadError            the boot loader refused or broke off a download
    ├── AbortedError             stopped on purpose from another thread
    └── ServiceError             the service gateway refused a request
"""

from __future__ import annotations

import ctypes
from typing import Dict, Optional, Tuple, Type

from ._library import library

LANGUAGES = {"en": 0x0000, "fr": 0x0001}


def translate(status: int, language: str = "en") -> str:
    """The library's message for a status, in English ("en") or French ("fr").

    A status the library has no text for gives its plain fallback,
    "Status = <n> - Unknown error" (or the French form).
    """
    buffer = ctypes.create_string_buffer(512)
    library().tavolink_TranslateTavoStatus(status, _language_word(language), buffer,
                                           len(buffer))
    return buffer.value.decode("cp1252", errors="replace")


def _language_word(language: str) -> int:
    try:
        return LANGUAGES[language]
    except KeyError:
        raise ValueError(f"language {language!r}: give 'en' or 'fr'") from None


class TavoLinkError(Exception):
    """A call of the library failed.

    Attributes:
        status: the library's status number (TAVOLINK_* in tavolink2.h).
        message: the library's message for it.
        port: the port the call was for, when it was for one.
    """

    def __init__(self, status: int, message: str, port: Optional[str] = None) -> None:
        self.status = status
        self.message = message
        self.port = port
        where = f"{port}: " if port else ""
        super().__init__(f"{where}[{status}] {message}")


class PortUnavailableError(TavoLinkError):
    """The port cannot be used: it does not open, another program or module
    object holds it, or all 16 slots are bound."""


class ModuleNotAnsweringError(TavoLinkError, TimeoutError):
    """No module answered, or it stopped answering: check power, cable and
    the baud rate. Also a ``TimeoutError``."""


class DataError(TavoLinkError):
    """The module's data or the data given is wrong: a frame or section
    checksum, an IMEI check digit, a size or offset that does not fit."""


class FileError(TavoLinkError):
    """A file or directory cannot be used: missing, empty, not readable or
    writable, not a backup, corrupted."""


class ConfigurationError(TavoLinkError):
    """TavoLink2.Ini is missing a setting or holds an invalid one (upgrade
    chains included)."""


class DownloadError(TavoLinkError):
    """The boot loader refused a command or the transfer broke off."""


class AbortedError(TavoLinkError):
    """The operation was stopped from another thread (an abort or a stopped
    detection)."""


class ServiceError(TavoLinkError):
    """The service gateway refused or failed a request; ``status`` is the
    detailed status (251 to 259, or the service's own)."""


_FAMILIES: Dict[Type[TavoLinkError], Tuple[int, ...]] = {
    PortUnavailableError: (3, 4, 9, 24, 201, 202),
    ModuleNotAnsweringError: (5, 7, 22, 102, 105),
    DataError: (19, 25, 30, 31, 52, 53, 54, 58, 106, 107, 108, 109),
    FileError: (14, 15, 16, 17, 18, 27, 56),
    ConfigurationError: (203, 205, 206, 207, 208, 209),
    DownloadError: (6, 8, 10, 11, 12, 13, 23, 26),
    AbortedError: (21, 57),
    ServiceError: tuple(range(250, 260)),
}
_CLASS_OF = {status: cls for cls, statuses in _FAMILIES.items() for status in statuses}


def error_class(status: int) -> Type[TavoLinkError]:
    """The exception class raised for a status."""
    return _CLASS_OF.get(status, TavoLinkError)


def make_error(status: int, port: Optional[str] = None, language: str = "en",
               message: Optional[str] = None) -> TavoLinkError:
    """The exception for a failed status, with the library's message."""
    text = message if message is not None else translate(status, language)
    return error_class(status)(status, text, port)
