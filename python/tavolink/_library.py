"""Finding and loading libtavolink2, and the C prototypes of its functions.

The library is loaded on first use, not at import, so that a script (or a
pytest plugin) can import the package on a machine without the library and
still get a clear message at the first call.

Where it is looked for, in order:

1. the path in the environment variable ``TAVOLINK_LIBRARY``;
2. beside an installed package: ``cmake --install`` and the Debian package
   record where the library lies relative to this file;
3. the dynamic loader's own search (``LD_LIBRARY_PATH``, the ``ldconfig``
   cache, the system directories) under the library's SONAME.
"""

from __future__ import annotations

import ctypes
import os
import threading
from ctypes import (
    CFUNCTYPE,
    POINTER,
    c_char,
    c_char_p,
    c_int32,
    c_size_t,
    c_ssize_t,
    c_uint8,
    c_uint16,
    c_uint32,
    c_void_p,
)
from pathlib import Path
from typing import List, Optional

from ._version import __version__

# The library's major version is its SONAME's: a library of another major
# version has another binary interface.
MAJOR = int(__version__.split(".")[0])
SONAME = f"libtavolink2.so.{MAJOR}"

# sender(window, message, wParam, lParam): the one road by which trace lines
# and download progress reach the host.
MessageSender = CFUNCTYPE(c_ssize_t, c_void_p, c_uint32, c_size_t, c_ssize_t)

_I32 = c_int32
_U32 = c_uint32
_TEXT = c_char_p
_OUT_TEXT = POINTER(c_char)
_BYTES = POINTER(c_uint8)

# name: (result, argument types). Every slot function ends with the slot.
_PROTOTYPES = {
    "tavolink_SetMessageSender": (None, [MessageSender]),
    "tavolink_GetVersion": (None, [POINTER(_U32), POINTER(_U32)]),
    "tavolink_Init": (_I32, [_I32, _I32, POINTER(_I32)]),
    "tavolink_Close": (_I32, [_I32]),
    "tavolink_TranslateTavoStatus": (_I32, [_I32, _I32, _OUT_TEXT, _I32]),
    "tavolink_SetSpy": (None, [c_void_p, _U32, _I32]),
    "tavolink_SetInfoOptions": (None, [_I32, _TEXT, _I32, _I32]),
    "tavolink_SetWindowDownload": (None, [c_void_p, _U32, _I32]),
    "tavolink_SetCMDTimeOut": (None, [_I32, _I32, _I32, _I32]),
    "tavolink_SetTATTimeOut": (None, [_I32, _I32, _I32]),
    "tavolink_SetTATDelay": (None, [_I32, _I32, _I32, _I32, _I32]),
    "tavolink_ChangeTATBaudrate": (_I32, [_I32, _I32]),
    "tavolink_OpenSessionEx": (_I32, [_OUT_TEXT, _I32]),
    "tavolink_GetSoftVersion": (_I32, [_OUT_TEXT, _I32]),
    "tavolink_RestartModule": (_I32, [_I32, _I32]),
    "tavolink_CloseSession": (_I32, [_I32]),
    "tavolink_ReadSerialNumber": (_I32, [_OUT_TEXT, _I32]),
    "tavolink_ReadRadioParameters": (_I32, [_BYTES, _I32, POINTER(_U32), _I32]),
    "tavolink_WriteRadioParameters": (_I32, [_BYTES, _I32, _I32]),
    "tavolink_ReadDravelSection": (_I32, [_BYTES, _I32, POINTER(_U32), _I32]),
    "tavolink_WriteDravelSection": (_I32, [_BYTES, _I32, _I32]),
    "tavolink_ReadProductionInfos": (_I32, [_BYTES, _I32]),
    "tavolink_WriteProductionInfos": (_I32, [_BYTES, _I32]),
    "tavolink_ReadCalibrationInfos": (_I32, [_BYTES, _I32]),
    "tavolink_WriteCalibrationInfos": (_I32, [_BYTES, _I32]),
    "tavolink_ReadIMEI": (_I32, [_OUT_TEXT, _I32]),
    "tavolink_WriteIMEI": (_I32, [_TEXT, _I32]),
    "tavolink_WriteParameterFile": (_I32, [_TEXT, _I32]),
    "tavolink_SaveParameters": (_I32, [_TEXT, _OUT_TEXT, _I32]),
    "tavolink_SaveParametersEx": (_I32, [_TEXT, _OUT_TEXT, _TEXT, _I32]),
    "tavolink_RestoreParametersEx": (_I32, [_TEXT, _OUT_TEXT, _I32, _U32, _I32]),
    "tavolink_DownloadSoftwareEx": (_I32, [_TEXT, _TEXT, _I32, _U32, _I32]),
    "tavolink_DownloadSoftwareFull": (
        _I32,
        [_TEXT, _TEXT, _U32, _TEXT, POINTER(c_uint16), _TEXT, _OUT_TEXT, _U32, _I32],
    ),
    "tavolink_CheckModule": (
        _I32,
        [_OUT_TEXT, _OUT_TEXT, _OUT_TEXT, _OUT_TEXT, POINTER(c_uint16), _OUT_TEXT, _I32],
    ),
    "tavolink_DetectModule": (
        _I32,
        [_TEXT, _I32, POINTER(_U32), _OUT_TEXT, _OUT_TEXT, _OUT_TEXT, _OUT_TEXT,
         POINTER(c_uint16), _OUT_TEXT, _I32],
    ),
    "tavolink_StopDetection": (_I32, [_I32]),
    "tavolink_ExecuteService": (_I32, [_U32, c_void_p, _I32, _I32]),
}


class LibraryNotFoundError(ImportError):
    """libtavolink2 could not be loaded; the message lists every place tried."""


def _installed_candidates() -> List[str]:
    """Where an installed copy of the package expects the library."""
    try:
        from . import _installed  # type: ignore[attr-defined]
    except ImportError:
        return []
    here = Path(__file__).resolve().parent
    return [os.path.normpath(here / _installed.LIBRARY)]


def _candidates() -> List[str]:
    explicit = os.environ.get("TAVOLINK_LIBRARY")
    if explicit:
        # A path given on purpose is the only one tried: falling back to
        # another copy would hide the mistake.
        return [explicit]
    return _installed_candidates() + [SONAME]


def _declare(lib: ctypes.CDLL) -> None:
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments


_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None
_path: str = ""


def library() -> ctypes.CDLL:
    """The loaded library, loading it on the first call.

    Raises:
        LibraryNotFoundError: no candidate could be loaded, or the one found
            is of another major version.
    """
    global _lib, _path
    if _lib is not None:
        return _lib
    with _lock:
        if _lib is not None:
            return _lib
        tried = []
        for candidate in _candidates():
            try:
                # The library is called without the GIL (CDLL, not PyDLL), so
                # modules on different threads work in parallel.
                lib = ctypes.CDLL(candidate)
            except OSError as error:
                tried.append(f"{candidate} ({error})")
                continue
            _declare(lib)
            version = c_uint32(0)
            lib.tavolink_GetVersion(ctypes.byref(version), None)
            if version.value >> 24 != MAJOR:
                tried.append(f"{candidate} (version {version_text(version.value)}, "
                             f"this package needs {MAJOR}.x)")
                continue
            _path = candidate
            _lib = lib
            return lib
        raise LibraryNotFoundError(
            "libtavolink2 could not be loaded; tried: " + "; ".join(tried)
            + ". Install the library (cmake --install, or the tavolink2 .deb), or set "
            "TAVOLINK_LIBRARY to the path of libtavolink2.so")


def library_path() -> str:
    """The path or name under which the library was loaded."""
    library()
    return _path


def version_text(word: int) -> str:
    """"3.5.3.2" for the version word 0x03050302."""
    return ".".join(str((word >> shift) & 0xFF) for shift in (24, 16, 8, 0))


def library_version() -> str:
    """The loaded library's version, as "major.minor.patch.build"."""
    version = c_uint32(0)
    library().tavolink_GetVersion(ctypes.byref(version), None)
    return version_text(version.value)
