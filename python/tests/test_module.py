"""Every session operation of a Module once, against a simulated module."""

import logging
import struct
import threading
import time

import pytest

import tavolink


def test_identity_records_and_sections(tavosim_port, quick):
    with tavolink.Module(tavosim_port, **quick) as m:
        assert m.in_session and m.slot >= 0
        assert m.software_id == "3700001301000124"
        assert m.get_software_id() == m.software_id
        assert m.read_serial_number() == "123456789A"
        assert m.read_imei() == "123456789012347"

        production = m.read_production()
        assert (production.text14, production.text8) == ("TAVO2-PRD-0042", "LINE07")
        assert production.checksum_ok and len(production.raw) == 84
        calibration = m.read_calibration()
        assert len(calibration.words) == 15 and calibration.to_bytes() == calibration.raw

        radio = m.read_section(0)
        assert len(radio) == 200
        # The gateway's image is the header and the same payload.
        assert m.read_section_image(0)[8:] == radio
        assert m.read_section(40)[:84] == production.raw
        maker = m.read_section(37)
        assert maker[896:956] == calibration.raw


def test_writes_change_only_what_they_name(tavosim_port, quick):
    with tavolink.Module(tavosim_port, **quick) as m:
        production = m.read_production().replace(text14="STATION-9", value16=0x1234)
        m.write_production(production)
        back = m.read_production()
        assert (back.text14, back.value16, back.text8) == ("STATION-9", 0x1234, "LINE07")
        assert back.checksum_ok and back.first_word == 1

        words = tuple(range(100, 115))
        m.write_calibration(tavolink.CalibrationInfo.from_words(words))
        assert m.read_calibration().words == words

        radio = m.read_section(0)
        m.write_section(0, b"\xAA\xBB")
        assert m.read_section(0) == b"\xAA\xBB" + radio[2:]
        section11 = m.read_section(11)
        m.write_section(11, b"\x01\x02\x03")
        assert m.read_section(11) == b"\x01\x02\x03" + section11[3:]


def test_imei_memory_restart_and_service(tavosim_port, quick):
    with tavolink.Module(tavosim_port, **quick) as m:
        m.write_imei("35123456789012")
        imei = m.read_imei()
        assert imei.startswith("35123456789012") and len(imei) == 15

        # The section-info service answers the section's size at offset 4.
        info = m.service(0x05CF8C42, struct.pack("<H", 40), 8)
        assert struct.unpack_from("<H", info, 4)[0] == 92
        assert len(m.read_memory(0x00160000, 16)) == 16

        m.restart()
        assert not m.in_session


def test_parameter_script(tavosim_port, quick, tmp_path):
    script = tmp_path / "set.bin"
    # Section 11, address 8 (the first payload byte), one byte wide, 0x5A.
    script.write_bytes(struct.pack("<BIBIHI", 11, 8, 1, 0, 0, 0x5A))
    with tavolink.Module(tavosim_port, **quick) as m:
        m.run_script(script)
        assert m.read_section(11)[0] == 0x5A


def test_trace_lines_reach_logging(tavosim_port, quick, caplog):
    caplog.set_level(logging.DEBUG, logger="tavolink")
    with tavolink.Module(tavosim_port, **quick) as m:
        m.read_serial_number()
    lines = [r for r in caplog.records if r.name == "tavolink." + tavosim_port]
    texts = [r.getMessage() for r in lines]
    assert any(t.startswith("OpenSession COM") for t in texts)
    assert "CTATRequest::ReadSerialNumber" in texts
    # The slot prefix of the library's line is not repeated in the log.
    assert not any(t.startswith("TT") for t in texts)


def test_settings_are_keywords_and_attributes(tavosim_port):
    m = tavolink.Module(tavosim_port, session=False, request_timeout_ms=500, language="fr")
    assert m.request_timeout_ms == 500 and m.open_delay_ms is None
    with pytest.raises(ValueError):
        m.retry_delay_ms = 0
    with pytest.raises(TypeError):
        tavolink.Module(tavosim_port, request_timeout=5)
    with m:
        assert not m.in_session
        m.request_delay_ms = 1
        m.tat_baud = 115200
        m.request_timeout_ms = None  # back to the library's default
        assert m.open_session() == "3700001301000124"
    assert m.slot == -1 and repr(m).endswith("closed>")


def test_each_module_object_starts_from_the_defaults(tavosim_port, quick, caplog):
    caplog.set_level(logging.DEBUG, logger="tavolink")
    with tavolink.Module(tavosim_port, tat_baud=57600, **quick):
        pass
    # The same slot again: the line speed of the earlier object is gone.
    with tavolink.Module(tavosim_port, **quick):
        pass
    opens = [r.getMessage() for r in caplog.records if r.getMessage().startswith("OpenSession")]
    assert "TAT:57600 bauds" in opens[0] and "TAT:115200 bauds" in opens[1]


def test_one_module_object_per_port(tavosim_port, quick):
    with tavolink.Module(tavosim_port, session=False) as first:
        with pytest.raises(tavolink.PortUnavailableError) as caught:
            tavolink.Module(tavosim_port).open()
        assert caught.value.status == 3
        assert first.slot >= 0
    # Closed, the port can be had again.
    with tavolink.Module(tavosim_port, **quick) as again:
        assert again.in_session


def test_modules_on_two_threads(quick):
    from tavolink.testing import simulated_module

    with simulated_module("--serial", "0000000001", "--answer-delay", "150", modules=2) as sim:
        spans = {}

        def work(port):
            with tavolink.Module(port, **quick) as m:
                start = time.monotonic()
                for _ in range(4):
                    m.get_software_id()
                spans[port] = (start, time.monotonic())

        threads = [threading.Thread(target=work, args=(p,)) for p in sim.ports]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        (a0, a1), (b0, b1) = spans.values()
        # Each spends 600 ms waiting on its module; with the GIL held they
        # could not overlap.
        assert a0 < b1 and b0 < a1


def test_com_number_log_file_and_french(tavosim_port, quick, tmp_path, monkeypatch):
    monkeypatch.setenv("TAVOLINK_COM9", tavosim_port)
    log = tmp_path / "trace.log"
    with tavolink.Module(9, log_file=log, language="fr", **quick) as m:
        assert m.label == "COM9" and m.logger.name == "tavolink.COM9"
        assert m.read_serial_number() == "123456789A"
        for bad in (lambda: m.read_section(256), lambda: m.write_section(11, b""),
                    lambda: m.read_memory(0, 0), lambda: m.write_production(bytes(10)),
                    lambda: m.write_calibration(bytes(10))):
            with pytest.raises(ValueError):
                bad()
        with pytest.raises(tavolink.DataError) as caught:
            m.write_imei("123")
        assert caught.value.message != tavolink.translate(53)  # the French text
    # The library appended its trace lines, without the slot prefix.
    assert b"CTATRequest::ReadSerialNumber\r\n" in log.read_bytes()
    with pytest.raises(tavolink.PortUnavailableError) as caught:
        m.read_imei()  # closed: no slot any more
    assert caught.value.status == 202
