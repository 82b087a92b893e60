"""An example of a station's own tests, run against a simulated module.

With the package installed by pip the fixture tavosim_port is there by
itself; otherwise a conftest.py names the plugin:
pytest_plugins = ["tavolink.testing"].
"""

import pytest

import tavolink


def test_module_is_identified(tavosim_port):
    with tavolink.Module(tavosim_port) as m:
        assert len(m.software_id) == 16
        assert m.read_production().checksum_ok


@pytest.mark.tavosim("--serial", "00000000AB")
def test_backup_is_named_after_the_serial_number(tavosim_port, tmp_path):
    with tavolink.Module(tavosim_port) as m:
        assert m.backup(tmp_path).name.startswith("TAVO00000000AB_")
