"""The package from this checkout, on the library that SU55IF_LIBRARY names
(ctest sets it to the library it built) or else the build tree's."""

import os
import sys
from pathlib import Path

import pytest

CHECKOUT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(CHECKOUT / "python"))

import su55if  # noqa: E402


@pytest.fixture
def lib():
    with su55if.load() as library:
        yield library


@pytest.fixture(scope="session")
def host() -> Path:
    """su55if-host: SU55IF_HOST (set by ctest), else the build tree's."""
    named = os.environ.get("SU55IF_HOST")
    path = Path(named) if named else CHECKOUT / "build" / "default" / "tools" / "su55if-host"
    if not path.is_file():
        if named:
            pytest.fail(f"SU55IF_HOST names {path}, which does not exist")
        pytest.skip(f"{path} is not built")
    return path
