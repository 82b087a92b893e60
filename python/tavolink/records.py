"""What the module's records and identity look like on the Python side.

Records keep the raw bytes exactly as the module holds them, with the fields
the library knows decoded beside them; ``to_bytes`` puts edited fields back
into those bytes, so every byte the library does not interpret travels
unchanged.
"""

from __future__ import annotations

import dataclasses
import enum
import struct
from dataclasses import dataclass
from pathlib import Path
from typing import Optional, Tuple

PRODUCTION_INFO_SIZE = 84
CALIBRATION_INFO_SIZE = 60

# Texts on the module are 8-bit Windows-1252.
TEXT_ENCODING = "cp1252"


def _field_text(raw: bytes) -> str:
    """A text field: characters up to the first zero byte."""
    return raw.split(b"\0", 1)[0].decode(TEXT_ENCODING, errors="replace")


def _encode_field(name: str, text: str, width: int) -> bytes:
    data = text.encode(TEXT_ENCODING)
    if len(data) > width or b"\0" in data:
        raise ValueError(f"{name}: at most {width} characters without NUL, not {text!r}")
    return data.ljust(width, b"\0")


@dataclass(frozen=True)
class ProductionInfo:
    """The production record: the first 84 bytes of section 40.

    Attributes:
        raw: the 84 bytes as read.
        first_word: offset 0; every write stores 1 there.
        text14: the 14-character text at offset 26.
        text8: the 8-character text at offset 54.
        value16: the 16-bit value at offset 80 (the one an update can set).
        checksum: offset 82, the XOR of the 41 words before it; every write
            recomputes it.
    """

    raw: bytes
    first_word: int
    text14: str
    text8: str
    value16: int
    checksum: int

    @classmethod
    def from_bytes(cls, raw: bytes) -> "ProductionInfo":
        """Decodes a record of exactly 84 bytes."""
        raw = bytes(raw)
        if len(raw) != PRODUCTION_INFO_SIZE:
            raise ValueError(f"a production record is {PRODUCTION_INFO_SIZE} bytes, "
                             f"not {len(raw)}")
        return cls(raw=raw,
                   first_word=struct.unpack_from("<H", raw, 0)[0],
                   text14=_field_text(raw[26:40]),
                   text8=_field_text(raw[54:62]),
                   value16=struct.unpack_from("<H", raw, 80)[0],
                   checksum=struct.unpack_from("<H", raw, 82)[0])

    @property
    def checksum_ok(self) -> bool:
        """Whether the checksum word matches the words before it."""
        words = struct.unpack_from("<41H", self.raw, 0)
        xor = 0
        for word in words:
            xor ^= word
        return xor == self.checksum

    def to_bytes(self) -> bytes:
        """The raw bytes with text14, text8 and value16 put in (the first
        word and the checksum are the library's to set on a write)."""
        out = bytearray(self.raw)
        out[26:40] = _encode_field("text14", self.text14, 14)
        out[54:62] = _encode_field("text8", self.text8, 8)
        struct.pack_into("<H", out, 80, self.value16)
        return bytes(out)

    def replace(self, **changes: object) -> "ProductionInfo":
        """A copy with fields changed, e.g. ``info.replace(value16=7)``."""
        return dataclasses.replace(self, **changes)


@dataclass(frozen=True)
class CalibrationInfo:
    """The calibration record: 60 bytes (15 little-endian 32-bit words) at
    payload offsets 896 to 955 of section 37. The library interprets none of
    them; the words are the host's to read.

    Attributes:
        raw: the 60 bytes as read.
        words: the 15 words.
    """

    raw: bytes
    words: Tuple[int, ...]

    @classmethod
    def from_bytes(cls, raw: bytes) -> "CalibrationInfo":
        """Decodes a record of exactly 60 bytes."""
        raw = bytes(raw)
        if len(raw) != CALIBRATION_INFO_SIZE:
            raise ValueError(f"a calibration record is {CALIBRATION_INFO_SIZE} bytes, "
                             f"not {len(raw)}")
        return cls(raw=raw, words=struct.unpack("<15I", raw))

    @classmethod
    def from_words(cls, words: Tuple[int, ...]) -> "CalibrationInfo":
        """A record of 15 words."""
        return cls.from_bytes(struct.pack("<15I", *words))

    def to_bytes(self) -> bytes:
        """The 60 bytes of the words."""
        return struct.pack("<15I", *self.words)

    def replace(self, **changes: object) -> "CalibrationInfo":
        """A copy with fields changed, e.g. ``cal.replace(words=new)``."""
        return dataclasses.replace(self, **changes)


@dataclass(frozen=True)
class ModuleInfo:
    """What a module check or detection found.

    Attributes:
        software_id: 16 upper-case hexadecimal digits.
        imei: 15 digits.
        serial_number: the module's serial number.
        text14, text8, value16: the production record's fields.
        baud_rate: the AT baud rate a detection found it at (None for a check).
    """

    software_id: str
    imei: str
    serial_number: str
    text14: str
    value16: int
    text8: str
    baud_rate: Optional[int] = None


class RestoreClass(enum.IntFlag):
    """Which sections a restore writes back, by their restore class.

    ``ALL`` (exactly 65535) restores every section of the file, classless
    ones too; any other mask restores the sections whose class it names.
    """

    RADIO = 0x01  # sections 0 (radio parameters), 18 (IMEI), 40 (production)
    MAKER = 0x02  # section 37 (maker section, calibration record)
    SECTION_11 = 0x04
    SECTION_13 = 0x08
    SECTION_8 = 0x10
    ALL = 0xFFFF


class Step(str, enum.Enum):
    """The steps of a download, and of an update around it."""

    BACKUP = "backup"  # update: the session that saves the parameters
    STARTING = "starting"  # the files are opened, the port taken
    POWER_UP = "waiting for power-up"  # the boot code is awaited
    LOADER = "loader"  # the loader program goes over
    ERASE = "erase"  # line speed and flow control set, flash erased
    SOFTWARE = "software"  # the software stream
    CHECK_RUN = "check/run"  # the loader checks the software and starts it
    NEW_SOFTWARE = "new software"  # update: waiting for the new software
    RESTORE = "restore"  # update: parameters, IMEI and record written back


# The step each progress code of the library (0 to 10) starts.
STEP_OF_CODE = (Step.STARTING, Step.STARTING, Step.POWER_UP, Step.LOADER, Step.LOADER,
                Step.LOADER, Step.ERASE, Step.SOFTWARE, Step.SOFTWARE, Step.SOFTWARE,
                Step.CHECK_RUN)


@dataclass(frozen=True)
class ProgressEvent:
    """One report of a running download or update.

    Attributes:
        port: the port's label ("COM5" or the device path).
        step: the step the download is at.
        code: the library's progress code (0 to 10), None for the steps an
            update names in its trace (BACKUP, NEW_SOFTWARE, RESTORE).
        percent: of the loader (LOADER) or the software (SOFTWARE) sent, when
            the code reports one.
        bytes_sent: bytes of that file sent so far, when known.
        total_bytes: that file's size, when known.
    """

    port: str
    step: Step
    code: Optional[int] = None
    percent: Optional[int] = None
    bytes_sent: Optional[int] = None
    total_bytes: Optional[int] = None


@dataclass(frozen=True)
class UpdateResult:
    """What a full software update did.

    Attributes:
        backup_file: the backup written before flashing (it stays).
        old_software_id / new_software_id: the identifiers before and after.
    """

    backup_file: Path
    old_software_id: str
    new_software_id: str
