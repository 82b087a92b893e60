"""Installs the tavolink package: pure Python, no compiled extension.

    pip install ./python

works offline with the system's setuptools. The shared library itself comes
from the build (cmake --install, the tavolink2 .deb) or TAVOLINK_LIBRARY.
"""

import re
from pathlib import Path

from setuptools import setup

here = Path(__file__).resolve().parent
version = re.search(r'__version__ = "([^"]+)"',
                    (here / "tavolink" / "_version.py").read_text()).group(1)

setup(
    name="tavolink",
    version=version,
    description="TAVO GSM modules on serial ports from Python, over libtavolink2",
    packages=["tavolink"],
    package_data={"tavolink": ["py.typed"]},
    python_requires=">=3.8",
    entry_points={"pytest11": ["tavolink = tavolink.testing"]},
    zip_safe=False,
)
