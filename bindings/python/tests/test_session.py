"""The Python binding against libKvSDKEng.so and simulated devices."""

import gc
import os
import pickle
import shutil
import subprocess
import sys
import time

import pytest

from kvsdk import (DeviceMode, EffectParams, KvSDKError, Light, LightingMode, Product, Session,
                   raw)

P, L = Product, Light


class Index:
    """An integer-like value that is not an int (as a NumPy integer is)."""
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def flashes(times):
    """Light 1 flashed 'times' times (off, on a cycle), then light 6 on to mark the end."""
    cycle = ["02 03 00 01 00", "00 03 00 01 00", "02 03 00 01 00", "00 03 00 01 01"]
    return cycle * times + ["00 03 00 06 01"]


TRACE_CASES = [
    ("pell_flash_2", [P.PELL], lambda s: (s.flash(P.PELL_MOUSE_0E59, L.LIGHT_1, 2),
                                          s.on(P.PELL_MOUSE_0E59, L.LIGHT_6)), "mouse", "set",
     flashes(2)),
    ("pell_flash_3", [P.PELL], lambda s: (s.flash(P.PELL_MOUSE_0E59, L.LIGHT_1, 3),
                                          s.on(P.PELL_MOUSE_0E59, L.LIGHT_6)), "mouse", "set",
     flashes(3)),
    ("integer_like_values", [Index(P.PELL)],
     lambda s: s.set_color(Index(P.PELL_MOUSE_0E59), Index(1), Index(0x10), 0x20, 0x30), "mouse",
     "set", ["01 03 00 01 10 20 30"]),
    # Pell family
    ("pell_on", [P.PELL], lambda s: s.on(P.PELL_MOUSE_0E59, L.LIGHT_6), "mouse", "set",
     ["00 03 00 06 01"]),
    ("pell_colour", [P.PELL], lambda s: s.set_color(P.PELL_MOUSE_0E59, L.LIGHT_1, 0x10, 0x20, 0x30),
     "mouse", "set", ["01 03 00 01 10 20 30"]),
    ("pell_usb_colour", [P.PELL_USB_0E5B],
     lambda s: s.set_color(P.PELL_USB_0E5B, L.USB_CODE_61, 0x0A, 0x0B, 0x0C), "usb", "tunnel",
     ["0 0 61 00 02 0A0B0C 3"]),
    ("pell_keyboard_mode", [P.PELL],
     lambda s: s.set_lighting_mode(P.PELL_KEYBOARD_0E5A, L.LIGHT_7, LightingMode.MODE_4),
     "keyboard", "set", ["02 03 00 0B 04"]),
    ("pell_counted_blink", [P.PELL_MOUSE_0E59],
     lambda s: s.blink(P.PELL_MOUSE_0E59, L.LIGHT_4, 1, 20, 20), "mouse", "set",
     ["02 03 00 04 00", "00 03 00 04 00", "02 03 00 04 00", "00 03 00 04 01"]),
    # VEXO family
    ("vexo_brightness", [P.VEXO], lambda s: s.set_brightness(P.VEXO_0E51, L.LIGHT_1, 50), "vexo",
     "set", ["02 03 00 01 00", "03 03 00 01 7F"]),
    ("vexo_mode_parameters", [P.VEXO_0E51],
     lambda s: s.set_mode_parameters(P.VEXO_0E51, L.LIGHT_3, 0x0102, 100, 300, 500), "vexo", "set",
     ["02 03 00 0B 02", "05 03 00 0B 01 02 FF FF 01 2C 01 F4"]),
    ("vexo_device_blink", [P.VEXO], lambda s: s.blink(P.VEXO_0E51, L.LIGHT_6, 0, 0xBC, 0xC8),
     "vexo", "set", ["04 03 00 05 BC C8"]),
    ("vexo_mode_a", [P.VEXO], lambda s: s.set_vexo_mode_a(P.VEXO_0E51, DeviceMode.MODE_1), "vexo",
     "set", ["00 03 00 0B 01", "01 08 01 02"]),
]


@pytest.mark.parametrize("name,init,act,device,op,expected", TRACE_CASES,
                         ids=[case[0] for case in TRACE_CASES])
def test_device_receives_exactly_these_commands(sim, name, init, act, device, op, expected):
    path = getattr(sim, device)
    with Session(*init) as session:
        act(session)
        sim.wait_for(op, path, len(expected))
    # A VEXO device's release appends its settings-restore exchanges: compare the effect's part.
    assert sim.lines(op, path)[:len(expected)] == expected


def test_on_and_off_pause_for_their_duration(sim):
    with Session(P.VEXO_0E51) as session:
        session.on(P.VEXO_0E51, L.LIGHT_1, duration_ms=400)
        session.off(P.VEXO_0E51, L.LIGHT_1, duration_ms=400)
        session.on(P.VEXO_0E51, L.LIGHT_1)
        sim.wait_for("set", sim.vexo, 6)
    ms = sim.times("set", sim.vexo)  # two commands per on or off
    # A pause may give back 1 ms of an earlier late wake-up.
    assert ms[2] - ms[1] >= 399 and ms[4] - ms[3] >= 399, ms


def test_vexo_reads_back_what_was_set(sim):
    with Session(P.VEXO_0E51) as session:
        session.on(P.VEXO_0E51, L.LIGHT_4)
        session.set_brightness(P.VEXO_0E51, L.LIGHT_4, 50)
        sim.wait_for("set", sim.vexo, 4)
        assert session.get_state(P.VEXO_0E51, L.LIGHT_4) is True
        assert session.get_brightness(P.VEXO_0E51, L.LIGHT_4) == 49  # 0x7F * 100 / 255


def test_failures_raise_the_library_result(sim):
    with Session(P.VEXO) as session:
        with pytest.raises(KvSDKError) as error:
            session.set_color(P.VEXO_0E51, L.LIGHT_1, 1, 2, 3)
        assert (error.value.hresult, error.value.name, error.value.call) == \
            (raw.E_NOINTERFACE, "E_NOINTERFACE", "KvSDKSetEffect")
        assert "0x80004002" in str(error.value)
        copy = pickle.loads(pickle.dumps(error.value))  # as multiprocessing sends it
        assert (copy.hresult, copy.call, str(copy)) == (raw.E_NOINTERFACE, "KvSDKSetEffect",
                                                        str(error.value))

        query = EffectParams.create(raw.PRODUCT_VEXO_0E51, 1)
        with pytest.raises(KvSDKError) as error:
            session.get_effect(raw.EFFECT_LED_ON, query)
        assert error.value.hresult == raw.KVSDK_E_NOT_SUPPORTED == -0x7FF8FFCE

        # Range checks stop a request before it reaches the library.
        for call in (lambda: session.blink(P.VEXO_0E51, L.LIGHT_1, 10001, 10, 10),
                     lambda: session.blink(P.VEXO_0E51, L.LIGHT_1, 0, 256, 10),
                     lambda: session.set_brightness(P.VEXO_0E51, L.LIGHT_1, 101),
                     lambda: session.set_color(P.VEXO_0E51, 8, 1, 2, 3),
                     lambda: session.set_color(P.PELL_USB_0E5B, L.LIGHT_1, 1, 2, 3),
                     lambda: session.on(P.VEXO_0E51, L.LIGHT_1, duration_ms=-1),
                     lambda: session.flash(0, L.LIGHT_1)):
            with pytest.raises(ValueError):
                call()
        time.sleep(0.1)
        assert sim.lines("set", sim.vexo) == []

    # A single product that is not attached: Init fails and the session is not left open.
    sim.file.write_text("# nothing attached\n")
    with pytest.raises(KvSDKError) as error:
        Session(P.PELL_MOUSE_0E59)
    assert (error.value.hresult, error.value.call) == (raw.E_FAIL, "KvSDKEngInit")
    Session(P.VEXO).close()


def test_leaving_the_with_block_releases_the_engine(sim):
    with Session(P.PELL) as session:
        # A long blink keeps the device busy for hours; releasing the engine drops it.
        session.blink(P.PELL_MOUSE_0E59, L.LIGHT_1, 10000, 1000, 1000)
        sim.wait_for("set", sim.mouse, 2)
        with pytest.raises(RuntimeError):
            Session(P.VEXO)  # the engine is process-wide: one session at a time
    assert session.closed
    assert len(sim.lines("close", sim.mouse)) == 1
    sent = len(sim.lines("set", sim.mouse))
    time.sleep(1.2)
    assert len(sim.lines("set", sim.mouse)) == sent
    with pytest.raises(RuntimeError):
        session.on(P.PELL_MOUSE_0E59, L.LIGHT_1)
    session.close()  # a second close does nothing
    Session(P.PELL).close()


def test_a_session_never_closed_is_released_when_collected(sim):
    Session(P.PELL).on(P.PELL_MOUSE_0E59, L.LIGHT_1)  # as a re-run cell drops its session
    gc.collect()
    assert len(sim.lines("close", sim.mouse)) == 1
    Session(P.PELL).close()


LOOKUP_SCRIPT = """
import os, sys
sys.path.insert(0, sys.argv[1])
import kvsdk
lib = kvsdk.load_library(sys.argv[2] or None)
print(lib._name)
"""


def test_library_lookup_order(tmp_path, library):
    package = tmp_path / "site"
    shutil.copytree(os.path.join(os.path.dirname(__file__), "..", "kvsdk"), package / "kvsdk")
    beside = package / "kvsdk" / raw.LIBRARY_FILE
    shutil.copy(library, beside)

    def run(explicit, env_library):
        env = {k: v for k, v in os.environ.items() if k != "KVSDK_LIBRARY"}
        if env_library is not None:
            env["KVSDK_LIBRARY"] = env_library
        return subprocess.run([sys.executable, "-c", LOOKUP_SCRIPT, str(package), explicit],
                              env=env, capture_output=True, text=True)

    # An explicit path first, then KVSDK_LIBRARY, then beside the package.
    missing = str(tmp_path / "missing" / raw.LIBRARY_FILE)
    assert run(library, missing).stdout.strip() == library
    env_run = run("", missing)
    assert env_run.returncode != 0 and missing in env_run.stderr
    assert run("", None).stdout.strip() == str(beside)


@pytest.mark.skipif(sys.platform != "win32", reason="needs a Windows Python (none is packaged "
                    "for Debian or can be fetched here): the DLL's stdcall exports and the "
                    "Windows search, which skips PATH and the current folder")
def test_windows_finds_the_dll_through_add_dll_directory(sim, library, monkeypatch):
    monkeypatch.delenv("KVSDK_LIBRARY")
    raw._library = None
    with os.add_dll_directory(os.path.dirname(library)):
        with Session(P.VEXO) as session:  # WinDLL: a wrong convention would fail here
            assert isinstance(session._lib, raw.ctypes.WinDLL)
            session.on(P.VEXO_0E51, L.LIGHT_1)
            assert sim.wait_for("set", sim.vexo, 2)[:2] == ["02 03 00 01 00", "00 03 00 01 01"]
