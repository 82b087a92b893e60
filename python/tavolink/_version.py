"""The package's version: always the version of the library it drives."""

__version__ = "3.5.3.2"
