"""The package's own logic, without a module: records, ports, messages,
exceptions, the gateway's blocks and finding tavosim."""

import os
import struct

import pytest

import tavolink
from tavolink import _gateway, _ports
from tavolink.records import CalibrationInfo, ProductionInfo
from tavolink.testing import find_tavosim, simulated_module


def production_bytes(text14=b"TAVO2-PRD-0042", text8=b"LINE07", value16=258):
    raw = bytearray(84)
    raw[0:2] = b"\x01\x00"
    raw[26:26 + len(text14)] = text14
    raw[54:54 + len(text8)] = text8
    struct.pack_into("<H", raw, 80, value16)
    xor = 0
    for (word,) in struct.iter_unpack("<H", bytes(raw[:82])):
        xor ^= word
    struct.pack_into("<H", raw, 82, xor)
    return bytes(raw)


def test_production_record_fields_and_round_trip():
    info = ProductionInfo.from_bytes(production_bytes(text14=b"ABCDEFGHIJKLMN"))
    # 14 characters fill the field: no terminating zero, nothing after it read.
    assert (info.text14, info.text8, info.value16, info.first_word) == (
        "ABCDEFGHIJKLMN", "LINE07", 258, 1)
    assert info.checksum_ok and info.to_bytes() == info.raw
    edited = info.replace(text8="é", value16=0xFFFF).to_bytes()
    assert edited[54:62] == b"\xe9" + bytes(7) and edited[80:82] == b"\xff\xff"
    assert edited[:26] == info.raw[:26] and edited[62:80] == info.raw[62:80]
    assert not ProductionInfo.from_bytes(edited).checksum_ok  # the library recomputes it


@pytest.mark.parametrize("bad", [
    lambda: ProductionInfo.from_bytes(bytes(83)),
    lambda: CalibrationInfo.from_bytes(bytes(61)),
    lambda: ProductionInfo.from_bytes(production_bytes()).replace(text14="X" * 15).to_bytes(),
    lambda: ProductionInfo.from_bytes(production_bytes()).replace(text8="a\0b").to_bytes(),
    lambda: ProductionInfo.from_bytes(production_bytes()).replace(text8="€uro€uro€").to_bytes(),
])
def test_records_refuse_what_does_not_fit(bad):
    with pytest.raises(ValueError):
        bad()


def test_calibration_words():
    words = tuple(range(1, 16))
    record = CalibrationInfo.from_words(words)
    assert record.raw[:4] == b"\x01\x00\x00\x00" and record.words == words
    assert record.replace(words=(0,) * 15).to_bytes() == bytes(60)


def test_ports_map_paths_and_numbers(monkeypatch):
    monkeypatch.setenv("TAVOLINK_COM7", "/dev/pts/77")
    seven = _ports.acquire(7)
    assert (seven.com, seven.device, seven.label) == (7, "/dev/pts/77", "COM7")
    with pytest.raises(_ports.PortInUse):
        _ports.acquire("7")
    _ports.release(seven)
    assert _ports.device_of_com(400) == "/dev/ttyS399"

    path = _ports.acquire("/tmp/tavolink-unit-a")
    assert path.com >= _ports.FIRST_POOL_COM and path.label == "/tmp/tavolink-unit-a"
    assert os.environ[f"TAVOLINK_COM{path.com}"] == "/tmp/tavolink-unit-a"
    with pytest.raises(_ports.PortInUse):
        _ports.acquire(path.com)  # the same device under its number
    _ports.release(path)
    # The same path keeps its number; another gets another.
    again = _ports.acquire("/tmp/tavolink-unit-a")
    other = _ports.acquire("/tmp/tavolink-unit-b")
    assert again.com == path.com != other.com
    _ports.release(again)
    _ports.release(other)


@pytest.mark.parametrize("port", [0, -3, True, "", "ttyUSB0", "COM5"])
def test_ports_that_are_neither_number_nor_path(port):
    with pytest.raises(ValueError):
        _ports.acquire(port)


def test_port_pool_numbers_are_reused():
    ports = [_ports.acquire(f"/tmp/tavolink-pool-{i}") for i in range(_ports.POOL_SIZE)]
    for port in ports:
        _ports.release(port)
    # Every number has served a path: a new path takes one that is free.
    reused = _ports.acquire("/tmp/tavolink-pool-new")
    assert _ports.FIRST_POOL_COM <= reused.com < _ports.FIRST_POOL_COM + _ports.POOL_SIZE
    _ports.release(reused)


def test_exception_families():
    families = {
        tavolink.PortUnavailableError: [3, 4, 201, 202],
        tavolink.ModuleNotAnsweringError: [5, 7, 22, 102, 105],
        tavolink.DataError: [53, 107, 108, 109],
        tavolink.FileError: [15, 16, 17, 18, 27, 56],
        tavolink.ConfigurationError: [203, 205, 209],
        tavolink.DownloadError: [6, 11, 26],
        tavolink.AbortedError: [21, 57],
        tavolink.ServiceError: [250, 259],
        tavolink.TavoLinkError: [0, 204, 302, 600],
    }
    for cls, statuses in families.items():
        for status in statuses:
            assert tavolink.error_class(status) is cls, status
    assert issubclass(tavolink.ModuleNotAnsweringError, TimeoutError)
    error = tavolink.ModuleNotAnsweringError(105, "Timeout TAT request!", "COM5")
    assert str(error) == "COM5: [105] Timeout TAT request!"
    with pytest.raises(ValueError):
        tavolink.translate(1, "de")
    with pytest.raises(ValueError):
        tavolink.Module("/dev/null", language="de")


def test_gateway_blocks():
    block = _gateway.make_block(b"\x12\x34", 8)
    assert block.raw == bytes([1, 5, 0x12, 0x34, 0x4C, 0, 0, 0])
    with pytest.raises(ValueError):
        _gateway.make_block(bytes(253))


def test_finding_tavosim(monkeypatch, tmp_path):
    found = find_tavosim()
    assert os.access(found, os.X_OK)
    monkeypatch.setenv("TAVOLINK_TAVOSIM", str(tmp_path / "nothing"))
    with pytest.raises(FileNotFoundError, match="TAVOLINK_TAVOSIM"):
        find_tavosim()
    monkeypatch.delenv("TAVOLINK_TAVOSIM")
    monkeypatch.setenv("TAVOLINK_LIBRARY", str(tmp_path / "libtavolink2.so"))
    monkeypatch.setenv("PATH", str(tmp_path))
    with pytest.raises(FileNotFoundError, match="PATH"):
        find_tavosim()
    monkeypatch.setenv("PATH", os.path.dirname(found))
    assert find_tavosim() == found


def test_simulator_that_does_not_start():
    with pytest.raises(RuntimeError, match="tavosim printed 0 of 1 ports"):
        with simulated_module("--no-such-option"):
            pass
