"""Fixtures of the Python binding's tests: the library under test and simulated devices."""

import os
import pathlib
import sys
import time

import pytest

PACKAGE_ROOT = pathlib.Path(__file__).resolve().parents[1]
REPO_ROOT = PACKAGE_ROOT.parents[1]
sys.path.insert(0, str(PACKAGE_ROOT))


def library_path():
    """KVSDK_LIBRARY (set by CTest), or the build of the linux (windows) preset."""
    from kvsdk import raw
    build = "build/windows/bin/" if sys.platform == "win32" else "build/linux/bin/"
    path = os.environ.get("KVSDK_LIBRARY") or str(REPO_ROOT / build / raw.LIBRARY_FILE)
    if not os.path.exists(path):
        pytest.fail("%s not found at %s: build the library or set KVSDK_LIBRARY"
                    % (raw.LIBRARY_FILE, path))
    return path


class Sim:
    """Four simulated devices (VEXO 0E51, Pell mouse, keyboard and USB device) and the trace."""

    _instance = 0

    def __init__(self, folder):
        Sim._instance += 1
        n = Sim._instance
        self.vexo = r"\\?\hid#vid_7a3e&pid_0e51&mi_00#%d#{378de44c-56ef-11d1-bc8c-00a0c91405dd}" % n
        self.mouse = r"\\?\hid#vid_7a3e&pid_0e59&mi_00#%d#{378de44c-56ef-11d1-bc8c-00a0c91405dd}" % n
        self.keyboard = r"\\?\hid#vid_7a3e&pid_0e5a&mi_02#%d#{884b96c3-56ef-11d1-bc8c-00a0c91405dd}" % n
        self.usb = r"\\?\usb#vid_7a3e&pid_0e5b#%d#{a5dcbf10-6530-11d2-901f-00c04fb951ed}" % n
        self.file = folder / "devices.txt"
        self.trace = folder / "trace.txt"
        self.file.write_text("mouse %s\nmouse %s\nkeyboard %s\nusb %s\n"
                             % (self.vexo, self.mouse, self.keyboard, self.usb))

    def lines(self, op, path):
        """The details of every trace line of one operation on one path, in order."""
        if not self.trace.exists():
            return []
        found = []
        for line in self.trace.read_text().splitlines():
            # <ms> <op> <PATH> <details> = <result>
            head = line.split(" ", 3)
            if len(head) >= 3 and head[1] == op and head[2] == path.upper():
                rest = head[3] if len(head) == 4 else ""
                found.append(rest.rpartition("= ")[0].rstrip() if "= " in rest else rest)
        return found

    def times(self, op, path):
        """The milliseconds of every trace line of one operation on one path, in order."""
        fields = [line.split(" ") for line in self.trace.read_text().splitlines()]
        return [int(f[0]) for f in fields if len(f) > 2 and f[1:3] == [op, path.upper()]]

    def wait_for(self, op, path, count, timeout=20):
        deadline = time.monotonic() + timeout
        while True:
            lines = self.lines(op, path)
            if len(lines) >= count or time.monotonic() > deadline:
                return lines
            time.sleep(0.01)


@pytest.fixture(scope="session")
def library():
    return library_path()


@pytest.fixture
def sim(tmp_path, monkeypatch, library):
    registry = tmp_path / "registry.reg"
    registry.write_text("Windows Registry Editor Version 5.00\n")
    devices = Sim(tmp_path)
    monkeypatch.setenv("KVSDK_LIBRARY", library)
    monkeypatch.setenv("KVSDK_REGISTRY", str(registry))
    monkeypatch.setenv("KVSDK_SIM", str(devices.file))
    monkeypatch.setenv("KVSDK_SIM_TRACE", str(devices.trace))
    return devices
