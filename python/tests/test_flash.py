"""Downloads, the full update, aborts, checks and detection."""

import queue
import threading
import time

import pytest

import tavolink
from tavolink import Step
from tavolink.testing import simulated_module


def test_download_reports_progress(flash_files, quick):
    software, loader = flash_files
    seen = []
    events = queue.Queue()
    with simulated_module("--boot") as sim:
        with tavolink.Module(sim.port, session=False, **quick) as m:
            m.download(software, loader, run=True, verify_md5=True, progress=seen.append,
                       events=events)
    steps = [e.step for e in seen]
    assert steps[0] == Step.STARTING and steps[-1] == Step.CHECK_RUN
    order = [Step.STARTING, Step.POWER_UP, Step.LOADER, Step.ERASE, Step.SOFTWARE]
    assert [s for s in dict.fromkeys(steps) if s in order] == order
    software_events = [e for e in seen if e.code in (9, 10)]
    assert software_events[-1].bytes_sent == software_events[-1].total_bytes == 40000
    percents = [e.percent for e in software_events]
    assert percents == sorted(percents)
    assert list(events.queue) == seen


def test_update_backs_up_flashes_and_restores(flash_files, quick, tmp_path):
    software, loader = flash_files
    seen = []
    late_aborts = []

    def progress(event):
        seen.append(event)
        if event.step == Step.NEW_SOFTWARE:
            # Past the flashing, an abort would cut the restore: refused.
            late_aborts.append(m.abort())

    with simulated_module() as sim:
        with tavolink.Module(sim.port, **quick) as m:
            before = m.read_production()
            result = m.update(software, loader, tmp_path, imei="35123456789012", value16=9,
                              wait_seconds=3, progress=progress)
            assert late_aborts == [False]
            assert result.backup_file.exists() and result.backup_file.parent == tmp_path
            assert result.old_software_id == "3700001301000124"
            assert result.new_software_id and m.software_id == result.new_software_id
            after = m.read_production()
            assert (after.value16, after.text14) == (9, before.text14)
            assert m.read_imei().startswith("35123456789012")
    steps = list(dict.fromkeys(e.step for e in seen))
    assert steps[0] == Step.BACKUP and steps[-2:] == [Step.NEW_SOFTWARE, Step.RESTORE]


def test_abort_from_another_thread(flash_files, quick):
    software, loader = flash_files
    flashing = threading.Event()

    def progress(event):
        if event.step == Step.SOFTWARE:
            flashing.set()

    with simulated_module("--boot", "--flash-rate", "10000") as sim:
        with tavolink.Module(sim.port, session=False, **quick) as m:
            assert not m.abort()  # nothing runs yet
            outcome = {}

            def flash():
                try:
                    m.download(software, loader, progress=progress)
                except tavolink.TavoLinkError as error:
                    outcome["error"] = error

            worker = threading.Thread(target=flash)
            worker.start()
            assert flashing.wait(20)
            started = time.monotonic()
            assert m.abort()
            worker.join(10)
            assert not worker.is_alive() and time.monotonic() - started < 5
    assert isinstance(outcome["error"], tavolink.AbortedError)
    assert outcome["error"].status == 57


def test_progress_callback_failure_is_raised_after_the_download(flash_files, quick):
    software, loader = flash_files

    def broken(event):
        raise RuntimeError("station display gone")

    with simulated_module("--boot") as sim:
        with tavolink.Module(sim.port, session=False, **quick) as m:
            with pytest.raises(RuntimeError, match="station display gone"):
                m.download(software, loader, progress=broken)


def test_check_and_detect(quick):
    with simulated_module() as sim:
        with tavolink.Module(sim.port, **quick) as m:
            info = m.check()
            assert not m.in_session
            assert (info.software_id, info.serial_number) == ("3700001301000124", "123456789A")
            assert (info.text14, info.text8, info.baud_rate) == ("TAVO2-PRD-0042", "LINE07", None)
            found = m.detect([57600], max_loops=2)
            assert found.baud_rate == 57600 and found.imei == info.imei


def test_detection_stopped_from_another_thread(quick):
    with simulated_module("--deaf") as sim:
        with tavolink.Module(sim.port, session=False, request_timeout_ms=300,
                             ready_timeout_ms=300, **quick) as m:
            timer = threading.Timer(0.5, m.stop_detection)
            timer.start()
            with pytest.raises(tavolink.AbortedError) as caught:
                m.detect([115200])
            timer.join()
    assert caught.value.status == 21
