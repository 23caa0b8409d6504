"""The binding suites' shared paths: the repository, the header and both bindings."""

import pathlib
import sys

BINDINGS = pathlib.Path(__file__).resolve().parents[1]
REPO_ROOT = BINDINGS.parent
sys.path.insert(0, str(BINDINGS / "python"))
