"""The binding suites' shared paths: the repository, the header and both bindings."""

import os
import pathlib
import sys

import pytest

BINDINGS = pathlib.Path(__file__).resolve().parents[1]
REPO_ROOT = BINDINGS.parent
sys.path.insert(0, str(BINDINGS / "python"))

@pytest.fixture(scope="session")
def library():
    """KVSDK_LIBRARY (set by CTest), or the linux preset's build."""
    path = os.environ.get("KVSDK_LIBRARY") or str(REPO_ROOT / "build/linux/bin/libKvSDKEng.so")
    if not os.path.exists(path):
        pytest.fail("libKvSDKEng.so not found at %s: build the linux preset or set KVSDK_LIBRARY"
                    % path)
    return path
