"""TavoLink2 for Python: TAVO GSM modules on serial ports, from station scripts.

A thin layer over the libtavolink2 shared library (through ctypes): a module
on a port is a context manager, records are dataclasses, failures are
exceptions, trace lines go to the ``logging`` logger ``tavolink``::

    import logging
    import tavolink

    logging.basicConfig(level=logging.DEBUG)  # the library's trace lines
    with tavolink.Module("/dev/ttyUSB0", baud=115200) as m:
        print(m.software_id, m.read_imei(), m.read_serial_number())
        print(m.backup("/var/backups/tavo"))

The library is found through ``TAVOLINK_LIBRARY``, beside an installed
package, or by the dynamic loader; it is loaded at the first call.
"""

from ._library import LibraryNotFoundError, library_path, library_version
from ._version import __version__
from .errors import (AbortedError, ConfigurationError, DataError, DownloadError, FileError,
                     ModuleNotAnsweringError, PortUnavailableError, ServiceError, TavoLinkError,
                     error_class, translate)
from .module import Module
from .records import (CalibrationInfo, ModuleInfo, ProductionInfo, ProgressEvent, RestoreClass,
                      Step, UpdateResult)

__all__ = [
    "__version__",
    "AbortedError",
    "CalibrationInfo",
    "ConfigurationError",
    "DataError",
    "DownloadError",
    "FileError",
    "LibraryNotFoundError",
    "Module",
    "ModuleInfo",
    "ModuleNotAnsweringError",
    "PortUnavailableError",
    "ProductionInfo",
    "ProgressEvent",
    "RestoreClass",
    "ServiceError",
    "Step",
    "TavoLinkError",
    "UpdateResult",
    "error_class",
    "library_path",
    "library_version",
    "translate",
]
