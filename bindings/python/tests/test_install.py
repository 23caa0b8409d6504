"""`pip install ./bindings/python` works offline and the installed package drives the library."""

import os
import pathlib
import shutil
import subprocess
import sys

PACKAGE_ROOT = pathlib.Path(__file__).resolve().parents[1]

CHECK = """
import os, sys, time, kvsdk
assert kvsdk.__file__.startswith(sys.argv[1]), kvsdk.__file__
trace = os.environ["KVSDK_SIM_TRACE"]
def sent():
    return os.path.exists(trace) and "00 03 00 01 01" in open(trace).read()
with kvsdk.Session(kvsdk.Product.VEXO) as session:
    session.on(kvsdk.Product.VEXO_0E51, kvsdk.Light.LIGHT_1)
    deadline = time.monotonic() + 20  # the worker sends it; leaving the block would drop it
    while not sent() and time.monotonic() < deadline:
        time.sleep(0.01)
print("installed", kvsdk.__version__)
"""


def test_pip_installs_the_package_offline(tmp_path, sim, library):
    # Build from a copy: setuptools writes build/ and *.egg-info beside the sources.
    source = tmp_path / "source"
    shutil.copytree(PACKAGE_ROOT, source, ignore=shutil.ignore_patterns(
        "tests", "build", "*.egg-info", "__pycache__"))
    target = tmp_path / "site"
    pip = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps",
         "--no-index", "--disable-pip-version-check", "--target", str(target), str(source)],
        capture_output=True, text=True, timeout=300)
    assert pip.returncode == 0, pip.stdout + pip.stderr
    env = dict(os.environ, PYTHONPATH=str(target))
    run = subprocess.run([sys.executable, "-c", CHECK, str(target)], env=env, cwd=str(tmp_path),
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "installed 1.0.0"
    assert sim.lines("set", sim.vexo)[:2] == ["02 03 00 01 00", "00 03 00 01 01"]
