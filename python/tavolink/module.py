"""A module on a port: the object a station script works with.

``Module`` binds one of the library's 16 channel slots to the port, opens the
TAT session and closes both again, also when the script fails::

    with tavolink.Module("/dev/ttyUSB0", baud=115200) as m:
        print(m.read_imei())

Calls on one module object come one at a time (a lock sees to it); objects
on different ports work in parallel on different threads. ``abort`` and
``stop_detection`` are the two calls meant for another thread.
"""

from __future__ import annotations

import ctypes
import hashlib
import logging
import os
import queue
import re
import threading
from ctypes import byref, c_int32, c_uint16, c_uint32
from pathlib import Path
from typing import Any, Callable, Dict, Iterable, List, Optional, Union

from . import _gateway, _messages, _ports
from ._library import library
from .errors import PortUnavailableError, ServiceError, make_error
from .records import (CALIBRATION_INFO_SIZE, PRODUCTION_INFO_SIZE, STEP_OF_CODE, TEXT_ENCODING,
                      CalibrationInfo, ModuleInfo, ProductionInfo, ProgressEvent, RestoreClass,
                      Step, UpdateResult)

PathLike = Union[str, "os.PathLike[str]"]
ProgressCallback = Callable[[ProgressEvent], Any]

SOFTWARE_ID_SIZE = 17
IMEI_SIZE = 16
SERIAL_NUMBER_SIZE = 3013
FILE_NAME_SIZE = 64
TEXT_FIELD_SIZE = 15  # the 14-character production text and room to spare
_MAX_PAYLOAD = 0xFFFF - 8  # a section's size is 16 bits, its header 8 bytes

_TRACE_PREFIX = re.compile(r"^TT\d+ ")
_ROOT_LOGGER = logging.getLogger("tavolink")

# Sections the library reads and writes through exports of their own; every
# other section goes through the service gateway.
RADIO_SECTION = 0
MAKER_SECTION = 37


def _encode(text: PathLike) -> bytes:
    return os.fsencode(text) if not isinstance(text, str) else text.encode(TEXT_ENCODING)


def _text(buffer: "ctypes.Array[ctypes.c_char]") -> str:
    return str(buffer.value.decode(TEXT_ENCODING, errors="replace"))


class _Setting:
    """A per-slot setting: a keyword argument and an attribute, applied to
    the slot when it is bound (and at once when it already is)."""

    def __init__(self, doc: str) -> None:
        self.__doc__ = doc

    def __set_name__(self, owner: type, name: str) -> None:
        self.name = name

    def __get__(self, module: Optional["Module"], owner: type) -> Any:
        if module is None:
            return self
        return module._settings.get(self.name)

    def __set__(self, module: "Module", value: Optional[int]) -> None:
        if value is not None and (not isinstance(value, int) or value <= 0):
            raise ValueError(f"{self.name}: a positive number of milliseconds or None "
                             f"(the library's default), not {value!r}")
        module._settings[self.name] = value
        if module.slot >= 0:
            module._apply_settings()


class Module:
    """A TAVO module on a serial port.

    Args:
        port: a device path ("/dev/ttyUSB0", a pty) or a COM number (5: the
            device of ``TAVOLINK_COM5``, of TavoLink2.Ini, else /dev/ttyS4).
        baud: the baud rate at which the module is first addressed in AT mode,
            and the rate of downloads unless ``download`` names another.
        session: open the TAT session on entering (``open``); operations that
            need one open it anyway, and those that need the port to
            themselves (download, update, check, detect) close it first.
        language: "en" or "fr", for the library's messages in exceptions.
        log_file: the library also appends every trace line to this file.
        tat_baud: the TAT line speed (None: 115200).
        request_timeout_ms, ready_timeout_ms, open_delay_ms, request_delay_ms,
        retry_delay_ms, power_up_timeout_ms, command_timeout_ms: the library's
            time-outs and delays in milliseconds (see the attributes); None is
            the library's default. The slot starts from the defaults whatever
            an earlier user of it set.

    Trace lines go to the logger ``tavolink.<port>`` (``tavolink.COM5`` or
    ``tavolink./dev/ttyUSB0``; a dot in the path becomes "_") at DEBUG level.
    """

    request_timeout_ms = _Setting("Each TAT request's time-out, ms (library default 9000).")
    ready_timeout_ms = _Setting(
        "How long the module's ready frames are awaited after it entered TAT mode, ms "
        "(default 10000).")
    open_delay_ms = _Setting(
        "The wait after switching a module from AT into TAT mode, ms (default 12000).")
    request_delay_ms = _Setting("The pause before each TAT request, ms (default 100).")
    retry_delay_ms = _Setting("The pause before a retry, ms (default 2000).")
    power_up_timeout_ms = _Setting(
        "How long a download waits for the module's boot code, ms (default 15000).")
    command_timeout_ms = _Setting("Each boot-loader command's time-out, ms (default 5000).")

    def __init__(self, port: _ports.PortLike, baud: int = 115200, *, session: bool = True,
                 language: str = "en", log_file: Optional[PathLike] = None,
                 tat_baud: Optional[int] = None, **settings: Optional[int]) -> None:
        if language not in ("en", "fr"):
            raise ValueError(f"language {language!r}: give 'en' or 'fr'")
        self._port_given = port
        self.baud = baud
        self.language = language
        self.open_session_on_enter = session
        self.slot = -1
        self.port: Optional[_ports.Port] = None
        self._settings: Dict[str, Optional[int]] = {}
        self._tat_baud = tat_baud
        self._log_file = None if log_file is None else _encode(log_file)
        self._lock = threading.RLock()
        self._session = False
        self._token = 0
        self.logger = _ROOT_LOGGER.getChild(_logger_name(str(port) if not isinstance(port, int)
                                                         else f"COM{port}"))
        self.software_id: Optional[str] = None
        self._progress: Optional[ProgressCallback] = None
        self._events: Optional["queue.Queue[ProgressEvent]"] = None
        self._callback_error: Optional[BaseException] = None
        self._file_sizes = (0, 0)  # loader, software
        self._update_ids = ["", ""]
        self._abort = threading.Condition(threading.Lock())
        self._download_running = False
        self._abortable = False
        self._flashed = False  # an update past its flashing: no abort any more
        self._abort_wanted = False
        self._aborting = False
        self._detecting = False
        self._trace_on = False
        self._section_buffer: Optional["ctypes.Array[ctypes.c_uint8]"] = None
        for name, value in settings.items():
            if not isinstance(getattr(type(self), name, None), _Setting):
                raise TypeError(f"Module() got an unexpected keyword argument {name!r}")
            setattr(self, name, value)

    # ---- binding and the session ------------------------------------------

    def __enter__(self) -> "Module":
        self.open()
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = f"slot {self.slot}" if self.slot >= 0 else "closed"
        return f"<tavolink.Module {self.label} {state}>"

    @property
    def label(self) -> str:
        """"COM5" or the device path: how logs and exceptions name the port."""
        return self.port.label if self.port else str(self._port_given)

    @property
    def in_session(self) -> bool:
        """Whether the TAT session is open."""
        return self._session

    def open(self) -> None:
        """Binds a slot to the port and, unless ``session=False``, opens the
        session. Raises PortUnavailableError when this process already has a
        module object on the port or all 16 slots are bound."""
        with self._lock:
            if self.slot >= 0:
                return
            try:
                self.port = _ports.acquire(self._port_given)
            except _ports.PortInUse:
                raise PortUnavailableError(
                    3, "another tavolink.Module of this process has the port open",
                    str(self._port_given)) from None
            self.logger = _ROOT_LOGGER.getChild(_logger_name(self.port.label))
            try:
                self._bind(self.baud)
                self._token = _messages.register(self)
                library().tavolink_SetWindowDownload(ctypes.c_void_p(self._token),
                                                     _messages.PROGRESS_MESSAGE, self.slot)
                self._trace_on = False
                self._apply_settings()
                if self.open_session_on_enter:
                    self.open_session()
            except BaseException:
                self.close()
                raise

    def close(self) -> None:
        """Closes the session and frees the slot; safe to call twice."""
        with self._lock:
            if self.slot >= 0:
                lib = library()
                self._session = False
                lib.tavolink_CloseSession(self.slot)
                lib.tavolink_SetSpy(None, 0, self.slot)
                lib.tavolink_SetWindowDownload(None, 0, self.slot)
                lib.tavolink_SetInfoOptions(0, None, 0, self.slot)
                lib.tavolink_Close(self.slot)
                self.slot = -1
            if self._token:
                _messages.unregister(self._token)
                self._token = 0
            if self.port is not None:
                _ports.release(self.port)
                self.port = None

    def open_session(self) -> str:
        """Opens the TAT session (nothing when it is open) and returns the
        module's software identifier (16 hexadecimal digits)."""
        with self._lock:
            self._need_slot()
            if not self._session:
                self._sync_trace()
                buffer = ctypes.create_string_buffer(SOFTWARE_ID_SIZE)
                self._check(library().tavolink_OpenSessionEx(buffer, self.slot))
                self._session = True
                self.software_id = _text(buffer)
            return self.software_id or ""

    def close_session(self) -> None:
        """Ends the TAT session; the module stays in TAT mode."""
        with self._lock:
            if self.slot >= 0 and self._session:
                self._session = False
                self._check(library().tavolink_CloseSession(self.slot))

    # ---- identity -----------------------------------------------------------

    def get_software_id(self) -> str:
        """Asks the module for its software identifier again."""
        buffer = ctypes.create_string_buffer(SOFTWARE_ID_SIZE)
        self._in_session(library().tavolink_GetSoftVersion, buffer)
        self.software_id = _text(buffer)
        return self.software_id

    def read_imei(self) -> str:
        """The module's IMEI, 15 digits (DataError when its check digit is wrong)."""
        buffer = ctypes.create_string_buffer(IMEI_SIZE)
        self._in_session(library().tavolink_ReadIMEI, buffer)
        return _text(buffer)

    def write_imei(self, imei: str) -> None:
        """Writes an IMEI of 14 or 15 digits (the check digit is computed)."""
        # The library refuses anything but digits (53); a character outside
        # ASCII reaches it as '?' to be refused there.
        self._in_session(library().tavolink_WriteIMEI, imei.encode("ascii", errors="replace"))

    def read_serial_number(self) -> str:
        """The module's serial number."""
        buffer = ctypes.create_string_buffer(SERIAL_NUMBER_SIZE)
        self._in_session(library().tavolink_ReadSerialNumber, buffer)
        return _text(buffer)

    # ---- records and sections --------------------------------------------------

    def read_production(self) -> ProductionInfo:
        """The production record (84 bytes of section 40)."""
        record = (ctypes.c_uint8 * PRODUCTION_INFO_SIZE)()
        self._in_session(library().tavolink_ReadProductionInfos, record)
        return ProductionInfo.from_bytes(bytes(record))

    def write_production(self, record: Union[ProductionInfo, bytes]) -> None:
        """Writes the production record; the library sets its first word to 1
        and its checksum."""
        data = record.to_bytes() if isinstance(record, ProductionInfo) else bytes(record)
        if len(data) != PRODUCTION_INFO_SIZE:
            raise ValueError(f"a production record is {PRODUCTION_INFO_SIZE} bytes")
        self._in_session(library().tavolink_WriteProductionInfos,
                         (ctypes.c_uint8 * len(data)).from_buffer_copy(data))

    def read_calibration(self) -> CalibrationInfo:
        """The calibration record (60 bytes of section 37)."""
        record = (ctypes.c_uint8 * CALIBRATION_INFO_SIZE)()
        self._in_session(library().tavolink_ReadCalibrationInfos, record)
        return CalibrationInfo.from_bytes(bytes(record))

    def write_calibration(self, record: Union[CalibrationInfo, bytes]) -> None:
        """Writes the calibration record; nothing else of section 37 changes."""
        data = record.to_bytes() if isinstance(record, CalibrationInfo) else bytes(record)
        if len(data) != CALIBRATION_INFO_SIZE:
            raise ValueError(f"a calibration record is {CALIBRATION_INFO_SIZE} bytes")
        self._in_session(library().tavolink_WriteCalibrationInfos,
                         (ctypes.c_uint8 * len(data)).from_buffer_copy(data))

    def read_section(self, section: int) -> bytes:
        """The payload of a section (its image without the 8-byte header);
        empty when the module has no such section."""
        _check_section(section)
        if section in (RADIO_SECTION, MAKER_SECTION):
            read = (library().tavolink_ReadRadioParameters if section == RADIO_SECTION
                    else library().tavolink_ReadDravelSection)
            # One exchange: a buffer that holds any payload the 16-bit
            # section size allows, kept for the next read.
            if self._section_buffer is None:
                self._section_buffer = (ctypes.c_uint8 * _MAX_PAYLOAD)()
            size = c_uint32(0)
            with self._lock:
                self._in_session(read, self._section_buffer, _MAX_PAYLOAD, byref(size))
                return ctypes.string_at(self._section_buffer, size.value)
        return self.read_section_image(section)[_gateway.SECTION_HEADER:]

    def read_section_image(self, section: int) -> bytes:
        """A section's whole image, header included (the service gateway)."""
        _check_section(section)
        return bytes(self._gateway(_gateway.read_section, section))

    def write_section(self, section: int, payload: bytes) -> None:
        """Writes payload over the start of the section's payload, keeps the
        rest and commits the section."""
        _check_section(section)
        payload = bytes(payload)
        if section in (RADIO_SECTION, MAKER_SECTION):
            write = (library().tavolink_WriteRadioParameters if section == RADIO_SECTION
                     else library().tavolink_WriteDravelSection)
            data = (ctypes.c_uint8 * max(len(payload), 1)).from_buffer_copy(
                payload.ljust(1, b"\0"))
            self._in_session(write, data, len(payload))
            return
        self._gateway(_gateway.write_section, section, payload)

    def read_memory(self, address: int, count: int) -> bytes:
        """count bytes of the module's memory at address (service gateway)."""
        return bytes(self._gateway(_gateway.read_memory, address, count))

    # ---- backups and scripts ------------------------------------------------

    def backup(self, directory: PathLike, *, all_sections: bool = False,
               exclude: Iterable[int] = ()) -> Path:
        """Backs the parameters up into directory and returns the new .SAV
        file's path: the fixed set of sections (18, 0, 40, 37, 11, 13, 8), or
        with ``all_sections`` every section 0 to 41 except ``exclude``."""
        name = ctypes.create_string_buffer(FILE_NAME_SIZE)
        exclude = list(exclude)
        if all_sections:
            excluded = ",".join(str(int(s)) for s in exclude).encode("ascii")
            self._in_session(library().tavolink_SaveParametersEx, _encode(directory), name,
                             excluded)
        else:
            if exclude:
                raise ValueError("exclude needs all_sections=True")
            self._in_session(library().tavolink_SaveParameters, _encode(directory), name)
        return Path(directory) / _text(name)

    def restore(self, directory: PathLike, *, file: Optional[PathLike] = None,
                classes: int = RestoreClass.ALL) -> Path:
        """Writes a backup back into the module and returns the file used:
        ``file`` (a name in directory, or a path there such as ``backup``
        returns) or else the module's own backup there (the newest).
        ``classes`` chooses the sections (RestoreClass; ALL: every section of
        the file)."""
        name = ctypes.create_string_buffer(FILE_NAME_SIZE)
        if file is not None:
            parent = os.path.dirname(os.fspath(file))
            if parent and Path(parent).resolve() != Path(directory).resolve():
                raise ValueError(f"restore: {file} is not in {directory}")
            name.value = _encode(os.path.basename(os.fspath(file)))
        self._in_session(library().tavolink_RestoreParametersEx, _encode(directory), name,
                         1 if file is not None else 0, int(classes))
        return Path(directory) / _text(name)

    def run_script(self, path: PathLike) -> None:
        """Applies a parameter script (16-byte records) to the module."""
        self._in_session(library().tavolink_WriteParameterFile, _encode(path))

    def restart(self, close_session: bool = True) -> None:
        """Sends the restart request; the session ends with it unless
        ``close_session`` is False."""
        self._in_session(library().tavolink_RestartModule, 1 if close_session else 0)
        if close_session:
            self._session = False

    # ---- check and detection ---------------------------------------------------

    def check(self) -> ModuleInfo:
        """Opens a session of its own, reads the module's identity, IMEI,
        serial number and production fields, and closes it again."""
        outs = _IdentityBuffers()
        with self._lock:
            self._port_to_self()
            self._check(library().tavolink_CheckModule(
                outs.software_id, outs.imei, outs.serial, outs.text14, byref(outs.value16),
                outs.text8, self.slot))
        return outs.info()

    def detect(self, speeds: Optional[Iterable[int]] = None, max_loops: int = 0) -> ModuleInfo:
        """Finds the module's AT baud rate among speeds (None: 115200, 9600,
        57600, 38400, 19200) in up to max_loops passes (0: until found or
        stopped) and reads what ``check`` reads. ``stop_detection`` from
        another thread ends it with AbortedError."""
        speed_list = None if speeds is None else ";".join(str(int(s)) for s in speeds)
        outs = _IdentityBuffers()
        baud = c_uint32(0)
        with self._lock:
            self._port_to_self()
            self._detecting = True
            try:
                status = library().tavolink_DetectModule(
                    None if speed_list is None else speed_list.encode("ascii"), max_loops,
                    byref(baud), outs.software_id, outs.imei, outs.serial, outs.text14,
                    byref(outs.value16), outs.text8, self.slot)
            finally:
                self._detecting = False
            self._check(status)
        return outs.info(baud.value)

    def stop_detection(self) -> None:
        """From another thread: the running detection ends (AbortedError)."""
        if self._detecting and self.slot >= 0:
            library().tavolink_StopDetection(self.slot)

    # ---- software download ----------------------------------------------------

    def download(self, software: PathLike, loader: PathLike, *, restart_first: bool = False,
                 run: bool = False, baud: Optional[int] = None, verify_md5: bool = False,
                 progress: Optional[ProgressCallback] = None,
                 events: Optional["queue.Queue[ProgressEvent]"] = None) -> None:
        """Flashes software (.cla) through the boot loader (.hex).

        The module must be switched on during the power-up wait, or, with
        ``restart_first``, be in TAT mode to be restarted into its boot code.
        ``baud`` is the download's line speed (None: the module's ``baud``);
        ``run`` starts the new software; ``verify_md5`` has the loader check
        the software's MD5. Progress goes to ``progress(event)`` and into the
        queue ``events``. ``abort()`` from another thread stops it
        (AbortedError).
        """
        with self._lock:
            self._port_to_self(always_trace=True)
            if verify_md5:
                self._gateway(_gateway.set_digest, _md5(software))
            rate = self.baud if baud is None else baud
            if rate != self.baud:
                self._bind(rate)
            try:
                self._run_download(software, loader, progress, events, Step.STARTING,
                                   library().tavolink_DownloadSoftwareEx, _encode(software),
                                   _encode(loader), 1 if restart_first else 0, 1 if run else 0)
            finally:
                if rate != self.baud:
                    self._bind(self.baud)

    def update(self, software: PathLike, loader: PathLike, directory: PathLike, *,
               baud: int = 115200, imei: Optional[str] = None, value16: Optional[int] = None,
               wait_seconds: int = 0, verify_md5: bool = False,
               progress: Optional[ProgressCallback] = None,
               events: Optional["queue.Queue[ProgressEvent]"] = None) -> UpdateResult:
        """The whole software update in one call: back the parameters up into
        directory, flash at ``baud`` and start the new software, wait
        ``wait_seconds`` (0: 22 s), restore the radio and maker sections, then
        write ``imei`` and the production record's ``value16`` when given.
        The backup file stays in directory whatever fails after it. Progress
        and abort as ``download`` (an abort reaches the flashing only)."""
        saved = ctypes.create_string_buffer(FILE_NAME_SIZE)
        value = None if value16 is None else byref(c_uint16(value16))
        with self._lock:
            # The update names its later steps only in its trace.
            self._port_to_self(always_trace=True)
            if verify_md5:
                self._gateway(_gateway.set_digest, _md5(software))
            self._update_ids = ["", ""]
            try:
                self._run_download(software, loader, progress, events, Step.BACKUP,
                                   library().tavolink_DownloadSoftwareFull, _encode(software),
                                   _encode(loader), baud,
                                   None if imei is None else imei.encode("ascii"), value,
                                   _encode(directory), saved, wait_seconds)
            finally:
                # The update leaves its own rate on the slot.
                self._bind(self.baud)
            self.software_id = self._update_ids[1] or self.software_id
            return UpdateResult(Path(directory) / _text(saved), self._update_ids[0],
                                self._update_ids[1])

    def abort(self) -> bool:
        """From another thread: stops the running download (or the flashing
        of an update), which then raises AbortedError. False when nothing can
        be aborted (no download, or an update already past its flashing)."""
        with self._abort:
            if (not self._download_running or self._flashed or self._aborting
                    or self._abort_wanted):
                return False
            self._abort_wanted = True
            if not self._abortable:
                return True  # taken up when the download reaches the power-up wait
            self._aborting = True
        self._close_for_abort()
        return True

    # ---- the service gateway ------------------------------------------------------

    def service(self, code: int, params: bytes = b"", room: int = 5) -> bytes:
        """For experts: runs one service of the gateway (request and run) and
        returns the run's block of at least ``room`` bytes. A refusal raises
        ServiceError with the detailed status."""
        return bytes(self._gateway(_gateway.run_service, code, bytes(params), room))

    # ---- settings --------------------------------------------------------------------

    @property
    def tat_baud(self) -> Optional[int]:
        """The TAT line speed (None: the library's 115200); set it outside a
        session. Unless request_timeout_ms is set, the request time-out follows
        the speed (12000 ms below 115200 baud, else 9000)."""
        return self._tat_baud

    @tat_baud.setter
    def tat_baud(self, value: Optional[int]) -> None:
        if value is not None and (not isinstance(value, int) or value <= 0):
            raise ValueError(f"tat_baud: a positive baud rate or None, not {value!r}")
        self._tat_baud = value
        if self.slot >= 0:
            self._apply_settings()  # PortUnavailableError (3) inside a session

    # ---- the library's messages -----------------------------------------------------

    def _on_trace(self, line: str) -> None:
        text = _TRACE_PREFIX.sub("", line, count=1)
        self.logger.debug(text)
        if not self._download_running:
            return
        for prefix, index in (("Old Software Version : ", 0), ("New Software Version : ", 1)):
            if text.startswith(prefix):
                self._update_ids[index] = text[len(prefix):].strip()
        if text.startswith("DownloadSoftwareFull : Waiting"):
            # The flashing is over: from here an abort would cut the restore.
            with self._abort:
                self._abortable = False
                self._flashed = True
            self._emit(ProgressEvent(self.label, Step.NEW_SOFTWARE))
        elif text.startswith("New Software Version : "):
            self._emit(ProgressEvent(self.label, Step.RESTORE))

    def _on_progress(self, code: int, value: int) -> None:
        if code == 2:
            with self._abort:
                self._abortable = True
                take_abort = self._abort_wanted and not self._aborting
                if take_abort:
                    self._aborting = True
            if take_abort:
                # Not on this thread: the abort waits for the download,
                # which is waiting for this message to return.
                threading.Thread(target=self._close_for_abort, daemon=True).start()
        step = STEP_OF_CODE[code] if code < len(STEP_OF_CODE) else Step.CHECK_RUN
        percent = sent = total = None
        if code in (4, 9):
            percent = int(value)
            total = self._file_sizes[0 if code == 4 else 1]
            sent = total * percent // 100
        elif code in (5, 10):
            total = sent = self._file_sizes[0 if code == 5 else 1]
            percent = 100
        self._emit(ProgressEvent(self.label, step, code, percent, sent, total))

    def _emit(self, event: ProgressEvent) -> None:
        if self._events is not None:
            self._events.put(event)
        if self._progress is not None:
            try:
                self._progress(event)
            except Exception as error:  # raised again once the library returns
                if self._callback_error is None:
                    self._callback_error = error
                self.logger.exception("progress callback failed")

    def _close_for_abort(self) -> None:
        try:
            library().tavolink_CloseSession(self.slot)
        finally:
            with self._abort:
                self._aborting = False
                self._abort.notify_all()

    def _run_download(self, software: PathLike, loader: PathLike,
                      progress: Optional[ProgressCallback],
                      events: Optional["queue.Queue[ProgressEvent]"], first: Step,
                      function: Callable[..., int], *args: Any) -> None:
        self._file_sizes = (_size(loader), _size(software))
        self._progress, self._events, self._callback_error = progress, events, None
        with self._abort:
            self._download_running, self._abortable = True, False
            self._abort_wanted = self._aborting = self._flashed = False
        try:
            self._sync_trace(always=True)
            self._emit(ProgressEvent(self.label, first))
            status = function(*args, self.slot)
        finally:
            with self._abort:
                self._download_running = self._abortable = False
                while self._aborting:
                    self._abort.wait()
            self._progress = self._events = None
        self._check(status)
        if self._callback_error is not None:
            error, self._callback_error = self._callback_error, None
            raise error

    # ---- plumbing -------------------------------------------------------------------

    def _bind(self, baud: int) -> None:
        assert self.port is not None
        slot = c_int32(-1)
        status = library().tavolink_Init(self.port.com, baud, byref(slot))
        self._check(status)
        self.slot = slot.value

    def _apply_settings(self) -> None:
        lib = library()
        slot = self.slot

        def value(name: str) -> int:
            # -1 puts the library's default back; a slot keeps what its last
            # user set, and this object starts from the defaults.
            setting = self._settings.get(name)
            return -1 if setting is None else int(setting)

        if self._tat_baud is None:
            self._check(lib.tavolink_ChangeTATBaudrate(-1, slot))
            request = value("request_timeout_ms")
        else:
            # The request time-out follows the speed unless it is set.
            self._check(lib.tavolink_ChangeTATBaudrate(self._tat_baud, slot))
            request = self._settings.get("request_timeout_ms") or 0
        lib.tavolink_SetTATTimeOut(request, value("ready_timeout_ms"), slot)
        lib.tavolink_SetTATDelay(value("open_delay_ms"), value("request_delay_ms"),
                                 value("retry_delay_ms"), 0, slot)
        lib.tavolink_SetCMDTimeOut(value("power_up_timeout_ms"), 0, value("command_timeout_ms"),
                                   slot)
        # The library keeps the name's address: the bytes object lives as
        # long as this object.
        lib.tavolink_SetInfoOptions(1 if self._log_file else 0, self._log_file, 0, slot)

    def _need_slot(self) -> None:
        if self.slot < 0:
            raise make_error(202, self.label, self.language)

    def _check(self, status: int) -> None:
        if status != 1:
            raise make_error(status, self.label, self.language)

    def _in_session(self, function: Callable[..., int], *args: Any) -> None:
        """Calls a session function of the library, opening the session first."""
        with self._lock:
            if not self._session:
                self._need_slot()
                self.open_session()
            else:
                self._sync_trace()
            status = function(*args, self.slot)
            if status != 1:
                raise make_error(status, self.label, self.language)

    def _sync_trace(self, always: bool = False) -> None:
        """Asks the library for trace lines only while someone reads them:
        the logger shows DEBUG, or a download needs them for its steps."""
        wanted = always or self.logger.isEnabledFor(logging.DEBUG)
        if wanted != self._trace_on:
            window = ctypes.c_void_p(self._token) if wanted else None
            library().tavolink_SetSpy(window, _messages.TRACE_MESSAGE, self.slot)
            self._trace_on = wanted

    def _port_to_self(self, always_trace: bool = False) -> None:
        """The operation opens the port itself: the session must let go."""
        self._need_slot()
        self.close_session()
        self._sync_trace(always_trace)

    def _gateway(self, function: Callable[..., Any], *args: Any) -> Any:
        def fail(status: int) -> None:
            error = make_error(status, self.label, self.language)
            if 251 <= status <= 259 or status == 250:
                raise ServiceError(status, error.message, self.label)
            raise error

        with self._lock:
            self._need_slot()
            if function is not _gateway.set_digest:
                self.open_session()
            self._sync_trace()
            return function(self.slot, *args, fail)


class _IdentityBuffers:
    """The output buffers of a check or detection."""

    def __init__(self) -> None:
        self.software_id = ctypes.create_string_buffer(SOFTWARE_ID_SIZE)
        self.imei = ctypes.create_string_buffer(IMEI_SIZE)
        self.serial = ctypes.create_string_buffer(SERIAL_NUMBER_SIZE)
        self.text14 = ctypes.create_string_buffer(TEXT_FIELD_SIZE)
        self.text8 = ctypes.create_string_buffer(9)
        self.value16 = c_uint16(0)

    def info(self, baud: Optional[int] = None) -> ModuleInfo:
        return ModuleInfo(_text(self.software_id), _text(self.imei), _text(self.serial),
                          _text(self.text14), self.value16.value, _text(self.text8), baud)


def _logger_name(label: str) -> str:
    # A dot would start another level of the logger hierarchy.
    return label.replace(".", "_")


def _check_section(section: int) -> None:
    if not isinstance(section, int) or not 0 <= section <= 255:
        raise ValueError(f"section {section!r}: a number from 0 to 255")


def _size(path: PathLike) -> int:
    try:
        return os.path.getsize(path)
    except OSError:
        return 0  # the library reports the missing file itself


def _md5(path: PathLike) -> bytes:
    digest = hashlib.md5()
    with open(path, "rb") as stream:
        for chunk in iter(lambda: stream.read(1 << 20), b""):
            digest.update(chunk)
    return digest.digest()


# Names a reader may look for.
__all__: List[str] = ["Module"]
