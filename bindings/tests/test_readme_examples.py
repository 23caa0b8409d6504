"""The C# and Python examples of the documentation (docs/csharp.md, docs/python.md) run as
written against simulated devices."""

import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

BINDINGS = pathlib.Path(__file__).resolve().parents[1]
REPO_ROOT = BINDINGS.parent

MOUSE = r"\\?\hid#vid_7a3e&pid_0e59&mi_00#1#{378de44c-56ef-11d1-bc8c-00a0c91405dd}"


def example_block(page, language):
    """The first example in 'language' on the documentation page 'page'."""
    text = (REPO_ROOT / "docs" / page).read_text()
    block = re.search(r"```%s\n(.*?)```" % language, text, flags=re.S)
    assert block, "no %s example in docs/%s" % (language, page)
    return block.group(1)


@pytest.fixture
def devices(tmp_path, library):
    """The environment of a host run: one simulated Pell mouse and the trace."""
    (tmp_path / "devices.txt").write_text("mouse %s\n" % MOUSE)
    (tmp_path / "registry.reg").write_text("Windows Registry Editor Version 5.00\n")
    env = dict(os.environ, KVSDK_LIBRARY=library, KVSDK_SIM=str(tmp_path / "devices.txt"),
               KVSDK_SIM_TRACE=str(tmp_path / "trace.txt"),
               KVSDK_REGISTRY=str(tmp_path / "registry.reg"))
    return env, tmp_path / "trace.txt"


def mouse_sets(trace):
    lines = trace.read_text().splitlines() if trace.exists() else []
    return [line.split(" ", 3)[3].rpartition(" = ")[0] for line in lines
            if line.split(" ")[1:3] == ["set", MOUSE.upper()]]


def test_python_example(tmp_path, devices):
    env, trace = devices
    env["PYTHONPATH"] = str(BINDINGS / "python")
    (tmp_path / "example.py").write_text(example_block("python.md", "python"))
    run = subprocess.run([sys.executable, str(tmp_path / "example.py")], env=env,
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["E_NOINTERFACE", "0x80004002"]
    assert mouse_sets(trace)[:4] == ["01 03 00 01 FF 40 00", "02 03 00 01 00", "00 03 00 01 00",
                                     "02 03 00 01 00"]


def test_csharp_example(tmp_path, devices, library):
    mcs = os.environ.get("KVSDK_MCS") or shutil.which("mcs")
    mono = os.environ.get("KVSDK_MONO") or shutil.which("mono")
    if not mcs or not mono:
        pytest.skip("mcs and mono are not installed")
    env, trace = devices
    env["LD_LIBRARY_PATH"] = os.path.dirname(library)
    (tmp_path / "Program.cs").write_text(example_block("csharp.md", "csharp"))
    sources = sorted(str(path) for path in (BINDINGS / "csharp" / "src").glob("*.cs"))
    subprocess.run([mcs, "-nologo", "-out:" + str(tmp_path / "Program.exe"),
                    str(tmp_path / "Program.cs")] + sources, check=True, timeout=120)
    run = subprocess.run([mono, str(tmp_path / "Program.exe")], env=env, capture_output=True,
                         text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["E_NOINTERFACE"]
    assert mouse_sets(trace)[:3] == ["01 03 00 01 FF 40 00", "02 03 00 01 00", "00 03 00 01 00"]
