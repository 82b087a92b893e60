"""Each exception family from a real fault, and the library's messages."""

import fcntl
import os
import subprocess
import sys

import pytest

import tavolink
from tavolink.testing import simulated_module


def test_no_module_is_a_timeout(quick):
    with simulated_module("--deaf") as sim:
        m = tavolink.Module(sim.port, request_timeout_ms=200, ready_timeout_ms=200,
                            **quick)
        with pytest.raises(tavolink.ModuleNotAnsweringError) as caught:
            m.open()
    assert isinstance(caught.value, TimeoutError)
    assert caught.value.status in (7, 102)
    assert caught.value.port == sim.port and m.slot == -1


def test_port_held_by_another_program(tavosim_port):
    held = os.open(tavosim_port, os.O_RDWR | os.O_NOCTTY)
    try:
        fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        with pytest.raises(tavolink.PortUnavailableError) as caught:
            tavolink.Module(tavosim_port).open()
        assert caught.value.status == 4
    finally:
        os.close(held)


def test_port_that_does_not_exist():
    with pytest.raises(tavolink.PortUnavailableError):
        tavolink.Module("/dev/tavolink-no-such-port").open()
    with pytest.raises(ValueError):
        tavolink.Module("ttyUSB0").open()


def test_bad_imei_and_missing_backup(tavosim_port, quick, tmp_path):
    with tavolink.Module(tavosim_port, **quick) as m:
        for bad in ("12345", "3512345678901x"):
            with pytest.raises(tavolink.DataError) as caught:
                m.write_imei(bad)
            assert caught.value.status == 53
        with pytest.raises(tavolink.FileError) as caught:
            m.restore(tmp_path)
        assert caught.value.status == 17
        with pytest.raises(tavolink.ServiceError) as caught:
            m.service(0x12345678)
        assert caught.value.status == 252


def test_messages_in_both_languages():
    assert tavolink.translate(105) == "Timeout TAT request!"
    assert tavolink.translate(999) == "Status = 999 - Unknown error"
    assert tavolink.translate(999, "fr").startswith("Status = 999")
    error = tavolink.error_class(57)(57, tavolink.translate(57))
    assert isinstance(error, tavolink.AbortedError) and error.status == 57
    assert tavolink.error_class(600) is tavolink.TavoLinkError
    assert tavolink.error_class(206) is tavolink.ConfigurationError


def test_version_is_the_library_version():
    assert tavolink.library_version() == tavolink.__version__
    header = open(os.path.join(os.path.dirname(__file__), "..", "..", "include",
                               "tavolink2.h")).read()
    major, minor, patch, build = tavolink.__version__.split(".")
    assert f"#define TAVOLINK_VERSION_MAJOR {major}\n" in header
    assert f"#define TAVOLINK_VERSION_BUILD {build}\n" in header


def test_missing_library_names_where_it_looked():
    env = dict(os.environ, TAVOLINK_LIBRARY="/nonexistent/libtavolink2.so")
    env.pop("LD_PRELOAD", None)
    run = subprocess.run(
        [sys.executable, "-c", "import tavolink; tavolink.translate(1)"],
        env=env, capture_output=True, text=True)
    assert run.returncode != 0
    assert "LibraryNotFoundError" in run.stderr
    assert "/nonexistent/libtavolink2.so" in run.stderr and "TAVOLINK_LIBRARY" in run.stderr
