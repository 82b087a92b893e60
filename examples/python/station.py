#!/usr/bin/env python3
"""A station script: identify a module, check its records, back it up and,
when software is given, update it with live progress.

    station.py PORT BACKUP_DIR [SOFTWARE.cla LOADER.hex]

PORT is a device path (/dev/ttyUSB0) or a COM number. Against a simulated
module: tavosim --tat prints a pty path to give as PORT.
"""

import logging
import sys

import tavolink


def show(event: tavolink.ProgressEvent) -> None:
    if event.percent is not None:
        print(f"\r{event.port}: {event.step.value} {event.percent:3d}%", end="", flush=True)
    else:
        print(f"\n{event.port}: {event.step.value}", end="", flush=True)


def main(port: str, backup_dir: str, software: str = "", loader: str = "") -> int:
    logging.basicConfig(level=logging.INFO)  # DEBUG shows the library's trace lines
    try:
        with tavolink.Module(port, baud=115200, open_delay_ms=3000) as m:
            print("software identifier:", m.software_id)
            print("IMEI:", m.read_imei(), " serial number:", m.read_serial_number())
            production = m.read_production()
            if not production.checksum_ok:
                print("production record checksum is wrong")
                return 1
            print("production:", production.text14, production.text8, production.value16)
            print("backup:", m.backup(backup_dir))
            if software:
                result = m.update(software, loader, backup_dir, baud=921600, progress=show)
                print("\nnew software:", result.new_software_id)
    except tavolink.ModuleNotAnsweringError as error:
        print(f"no answer from the module: {error}")
        return 1
    except tavolink.TavoLinkError as error:
        print(f"failed with status {error.status}: {error.message}")
        return 1
    return 0


if __name__ == "__main__":
    if len(sys.argv) not in (3, 5):
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
