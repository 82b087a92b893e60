"""Backups and restores through the package."""

import pytest

import tavolink
from tavolink import RestoreClass


def test_backup_and_restore(tavosim_port, quick, tmp_path):
    with tavolink.Module(tavosim_port, **quick) as m:
        fixed = m.backup(tmp_path)
        assert fixed.parent == tmp_path and fixed.name.startswith("TAVO123456789A_")
        assert fixed.suffix == ".SAV" and fixed.exists()

        original = m.read_production()
        m.write_production(original.replace(value16=7))
        # By the module's serial number: its one backup in the directory.
        assert m.restore(tmp_path, classes=RestoreClass.RADIO) == fixed
        assert m.read_production().value16 == original.value16

        everything = tmp_path / "all"
        everything.mkdir()
        # The simulated module has only some sections; the rest are left out
        # (it would not answer for them).
        absent = [s for s in range(42) if s not in (0, 8, 18, 37, 40)]
        complete = m.backup(everything, all_sections=True, exclude=absent)
        assert complete.name.endswith("_INI.SAV")
        assert m.restore(everything, file=complete) == complete
        with pytest.raises(ValueError):
            m.restore(tmp_path, file=complete)  # not in that directory


def test_backup_arguments_are_checked(tavosim_port, quick, tmp_path):
    with tavolink.Module(tavosim_port, **quick) as m:
        with pytest.raises(ValueError):
            m.backup(tmp_path, exclude=[3])
        with pytest.raises(tavolink.FileError) as caught:
            m.backup(tmp_path / "missing")
        assert caught.value.status == 17
