"""The service gateway: raw services in parameter blocks.

A block is: version (1), its length L, the parameters, and the low 8 bits of
the sum of the bytes before. A request call hands the library the service and
its parameters and gets a token back in bytes 0 and 1; the run call, with the
token as its parameter and room for the results, runs it; when either fails
with 250 the status call tells the detailed status.
"""

from __future__ import annotations

import ctypes
import struct
from typing import Callable

from ._library import library

CODE_STATUS = 0x03B3BD63
CODE_RUN = 0xB9CE12E4
CODE_READ_MEMORY = 0x64B7FF1B
CODE_SECTION_INFO = 0x05CF8C42
CODE_READ_SECTION = 0x9F8C9A12
CODE_WRITE_SECTION = 0x686894D8
CODE_RESTORE_SECTION37 = 0x04DBD1FA
CODE_SET_DIGEST = 0xA2EE72F9
CODE_SET_SERIAL_SPY = 0xD20CF633

SERVICE_ERROR = 250
HEADER_SIZE_ERROR = 255
RUN_SIZE_ERROR = 259
SECTION_HEADER = 8
# The largest minimum block size of a request (the digest and the spy).
_REQUEST_ROOM = 19

# Raises the package's exception for a failed status.
Fail = Callable[[int], None]


def make_block(params: bytes, room: int = 0) -> "ctypes.Array[ctypes.c_char]":
    """A block for params, zero-padded up to room bytes."""
    if len(params) > 252:
        raise ValueError(f"service parameters: at most 252 bytes, not {len(params)}")
    body = bytes([1, len(params) + 3]) + params
    block = body + bytes([sum(body) & 0xFF])
    return ctypes.create_string_buffer(block, max(room, len(block)))


def _call(slot: int, code: int, block: "ctypes.Array[ctypes.c_char]") -> int:
    return int(library().tavolink_ExecuteService(code, block, len(block), slot))


def _detailed(slot: int, result: int, token: int) -> int:
    if result != SERVICE_ERROR:
        return result  # refused before the gateway (200, 202): its own answer
    block = make_block(struct.pack("<H", token))
    if _call(slot, CODE_STATUS, block) != 1:
        return result
    return int(struct.unpack_from("<I", block.raw, 0)[0])


def run_service(slot: int, code: int, params: bytes, room: int, fail: Fail) -> bytes:
    """Requests service code with params, runs it with room bytes for the
    results and returns the run's block; a failure goes to fail with the
    detailed status."""
    request = make_block(params, _REQUEST_ROOM)
    accepted = _call(slot, code, request)
    token = struct.unpack_from("<H", request.raw, 0)[0]
    if accepted != 1:
        fail(_detailed(slot, accepted, token))
    out = make_block(struct.pack("<H", token), max(room, 5))
    ran = _call(slot, CODE_RUN, out)
    if ran != 1:
        fail(_detailed(slot, ran, token))
    return out.raw


def read_section(slot: int, section: int, fail: Fail) -> bytes:
    """The section's whole image (8-byte header and payload); empty when the
    module has no such section."""
    info = run_service(slot, CODE_SECTION_INFO, struct.pack("<H", section), 8, fail)
    size = struct.unpack_from("<H", info, 4)[0]
    if size == 0:
        return b""
    image = run_service(slot, CODE_READ_SECTION, struct.pack("<H", section),
                        max(size, SECTION_HEADER), fail)
    return image[:size]


def write_section(slot: int, section: int, payload: bytes, fail: Fail) -> None:
    """Writes payload over the start of the section's payload and commits it."""
    if not payload or len(payload) > 0xFFFF:
        raise ValueError(f"section {section}: 1 to 65535 payload bytes, not {len(payload)}")
    data = ctypes.create_string_buffer(payload, len(payload))
    address = ctypes.addressof(data)
    width = ctypes.sizeof(ctypes.c_void_p)
    params = (struct.pack("<HB", section, 0) + address.to_bytes(width, "little")
              + struct.pack("<H", len(payload)))
    run_service(slot, CODE_WRITE_SECTION, params, 5, fail)


def read_memory(slot: int, address: int, count: int, fail: Fail) -> bytes:
    """count bytes of the module's memory from address."""
    if not 0 < count <= 0xFFFF:
        raise ValueError(f"memory read: 1 to 65535 bytes, not {count}")
    out = run_service(slot, CODE_READ_MEMORY, struct.pack("<IH", address, count), count, fail)
    return out[:count]


def set_digest(slot: int, digest: bytes, fail: Fail) -> None:
    """The MD5 digest the loader checks the next downloads' software against
    (16 zero bytes: none)."""
    run_service(slot, CODE_SET_DIGEST, digest, 17, fail)
