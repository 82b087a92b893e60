"""What both Python benchmarks share: a command line naming the build, and the
tavolink package of the source tree pointed at that build's library and
tavosim."""

import argparse
import os
import sys
from pathlib import Path
from types import ModuleType
from typing import Tuple

HERE = Path(__file__).resolve().parent


def parser(doc: str) -> argparse.ArgumentParser:
    """A parser with --build (default build-rel), described by doc's first line."""
    result = argparse.ArgumentParser(description=doc.strip().split("\n")[0])
    result.add_argument("--build", default=str(HERE.parent / "build-rel"))
    return result


def load(build_dir: str) -> Tuple[Path, ModuleType]:
    """The build's directory and the package, using that build."""
    build = Path(build_dir).resolve()
    os.environ["TAVOLINK_LIBRARY"] = str(build / "libtavolink2.so")
    os.environ["TAVOLINK_TAVOSIM"] = str(build / "sim" / "tavosim")
    sys.path.insert(0, str(HERE.parent / "python"))
    import tavolink
    import tavolink.testing  # noqa: F401 - the simulated modules

    return build, tavolink
