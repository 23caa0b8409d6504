"""The friendly layer: named products and lights, one method per effect kind with range-checked
parameters, and a session that owns the engine from Init to Uninit. No method waits for a
device: the library queues each effect and plays it on its own threads."""

import ctypes
import enum
import operator
import threading
import weakref
from typing import Any, Optional, Tuple, Union

from . import _native as raw

__all__ = ["Product", "Light", "LightingMode", "DeviceMode", "KvSDKError", "Session",
           "MAX_DURATION_MS", "MAX_BLINK_COUNT"]

#: Longest pause after an on/off command, and longest phase of a counted blink.
MAX_DURATION_MS = 60000
#: Most off/on cycles the library takes for one blink.
MAX_BLINK_COUNT = 10000


class Product(enum.IntEnum):
    VEXO = 1
    VEXO_0E51 = 2
    VEXO_0E52 = 3
    PELL = 4
    PELL_MOUSE_0E59 = 5
    PELL_KEYBOARD_0E5A = 6
    PELL_USB_0E5B = 7

    @property
    def guid(self) -> raw.GUID:
        return raw.GUIDS["PRODUCT_" + self.name]


class Light(enum.IntEnum):
    """Light selectors 1 to 7, and the tunnel codes that take the selector's place when the
    Pell USB device 0E5B gets a colour."""
    LIGHT_1 = 1
    LIGHT_2 = 2
    LIGHT_3 = 3
    LIGHT_4 = 4
    LIGHT_5 = 5
    LIGHT_6 = 6
    LIGHT_7 = 7
    USB_CODE_60 = 0x60
    USB_CODE_61 = 0x61
    USB_CODE_62 = 0x62


class LightingMode(enum.IntEnum):
    """Lighting modes of the Pell keyboard (light 7)."""
    MODE_0 = 0
    MODE_1 = 1
    MODE_2 = 2
    MODE_4 = 4

    @property
    def guid(self) -> raw.GUID:
        return raw.GUIDS["EFFECT_LED_" + self.name]


class DeviceMode(enum.IntEnum):
    """VEXO device modes."""
    MODE_1 = 1
    MODE_2 = 2


_RESULTS = {
    raw.S_OK: ("S_OK", "success"),
    raw.S_FALSE: ("S_FALSE", "success, nothing to do"),
    raw.E_NOTIMPL: ("E_NOTIMPL", "not implemented"),
    raw.E_NOINTERFACE: ("E_NOINTERFACE", "the device family does not implement this effect kind"),
    raw.E_POINTER: ("E_POINTER", "a required pointer or device object is missing"),
    raw.E_FAIL: ("E_FAIL", "failed (no device found, none addressed, or an unknown effect kind)"),
    raw.E_OUTOFMEMORY: ("E_OUTOFMEMORY", "out of memory"),
    raw.E_INVALIDARG: ("E_INVALIDARG", "invalid argument"),
    raw.KVSDK_E_NOT_SUPPORTED: (
        "KVSDK_E_NOT_SUPPORTED",
        "request not supported: this kind cannot be read back, or the device did not answer"),
    raw.KVSDK_E_QUEUE_FULL: (
        "KVSDK_E_QUEUE_FULL", "a device's effect queue is full: nothing was queued on it"),
}


# Integer-like: an int, or anything with __index__ (a NumPy integer, say); never a bool.
IntLike = Any
ProductLike = Union[Product, IntLike]
LightLike = Union[Light, IntLike]


class KvSDKError(Exception):
    """A failure code answered by the library: .hresult (signed 32 bits), .name, .text."""

    def __init__(self, hresult: int, call: str = "KvSDKEng") -> None:
        self.hresult = raw._hresult(hresult & 0xFFFFFFFF)
        self.call = call
        self.name, self.text = _RESULTS.get(
            self.hresult, ("0x%08X" % (self.hresult & 0xFFFFFFFF), "unknown result"))
        super().__init__("%s: %s (0x%08X): %s" % (call, self.name, self.hresult & 0xFFFFFFFF,
                                                 self.text))

    def __reduce__(self) -> Tuple[Any, Tuple[int, str]]:
        # Rebuilt from its code and call, so it crosses multiprocessing and pickle.
        return (KvSDKError, (self.hresult, self.call))


def _index(name: str, value: IntLike) -> int:
    try:
        if isinstance(value, bool):
            raise TypeError
        return operator.index(value)
    except TypeError:
        raise ValueError("%s must be an integer, not %r" % (name, value)) from None


def _check_range(name: str, value: IntLike, low: int, high: int) -> int:
    number = _index(name, value)
    if not low <= number <= high:
        raise ValueError("%s must be an integer %d..%d, not %r" % (name, low, high, value))
    return number


# The engine is process-wide: the token of the session that holds it, or None.
_open_lock = threading.Lock()
_open_token: Optional[object] = None


def _release(lib: Any, token: object) -> None:
    """Uninit for the session that owns 'token': from close(), when the session is collected
    without being closed, or at interpreter exit (weakref.finalize runs it once)."""
    global _open_token
    with _open_lock:
        if _open_token is token:
            lib.KvSDKEngUninit()
            _open_token = None


def _product(product: ProductLike) -> Product:
    return Product(_index("product", product))


class Session:
    """Owns the library's engine: opening initialises the products, close() (or leaving the
    with-block) releases every device; VEXO devices get their stored lighting back. The engine
    is process-wide, so only one session may be open at a time. Methods may be called from any
    thread and return as soon as the library has queued the effect.

        with Session(Product.PELL) as session:
            session.flash(Product.PELL, Light.LIGHT_1, times=2)
    """

    def __init__(self, *products: ProductLike, library: Optional[raw.PathLike] = None) -> None:
        global _open_token
        if not products:
            raise ValueError("name at least one product")
        chosen = [_product(product) for product in products]
        self._lib = raw.library(library)
        token = object()
        with _open_lock:
            if _open_token is not None:
                raise RuntimeError("a kvsdk session is already open in this process: close it "
                                   "(session.close() or a with block) before opening another")
            _open_token = token
        # Not a method of self, which would keep the session alive: the engine is released
        # when the session is closed, collected, or the interpreter exits.
        self._release = weakref.finalize(self, _release, self._lib, token)
        for product in chosen:
            hr = self._lib.KvSDKEngInit(product.guid)
            if hr < 0:
                self.close()
                raise KvSDKError(hr, "KvSDKEngInit")

    def close(self) -> None:
        """Releases every device and stops the library's threads; safe to call twice."""
        self._release()

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    @property
    def closed(self) -> bool:
        return not self._release.alive

    # ---- one method per effect kind ----

    def on(self, product: ProductLike, light: LightLike, duration_ms: IntLike = 0) -> None:
        """Switches a light on; a VEXO device then pauses duration_ms (0..60000)."""
        p = self._record(product, light)
        p.duration = _check_range("duration_ms", duration_ms, 0, MAX_DURATION_MS)
        self.set_effect(raw.EFFECT_LED_ON, p)

    def off(self, product: ProductLike, light: LightLike, duration_ms: IntLike = 0) -> None:
        """Switches a light off; a VEXO device then pauses duration_ms (0..60000)."""
        p = self._record(product, light)
        p.duration = _check_range("duration_ms", duration_ms, 0, MAX_DURATION_MS)
        self.set_effect(raw.EFFECT_LED_OFF, p)

    def set_brightness(self, product: ProductLike, light: LightLike, percent: IntLike) -> None:
        """Sets a light's brightness in percent (0..100)."""
        p = self._record(product, light)
        p.level = _check_range("percent", percent, 0, 100)
        self.set_effect(raw.EFFECT_LED_BRIGHTNESS, p)

    def set_mode_parameters(self, product: ProductLike, light: LightLike, param1: IntLike,
                            percent: IntLike, param2: IntLike, param3: IntLike) -> None:
        """Lighting mode 2 with its parameters (16-bit values, percent 0..100)."""
        p = self._record(product, light)
        p.param1 = _check_range("param1", param1, 0, 0xFFFF)
        p.percent = _check_range("percent", percent, 0, 100)
        p.param2 = _check_range("param2", param2, 0, 0xFFFF)
        p.param3 = _check_range("param3", param3, 0, 0xFFFF)
        self.set_effect(raw.EFFECT_LED_MODE_2_PARAMS, p)

    def flash(self, product: ProductLike, light: LightLike, times: IntLike = 1) -> None:
        """Flashes a light off and on 1, 2 or 3 times (600 ms a cycle)."""
        kind = (raw.EFFECT_LED_FLASH_1, raw.EFFECT_LED_FLASH_2,
                raw.EFFECT_LED_FLASH_3)[_check_range("times", times, 1, 3) - 1]
        self.set_effect(kind, self._record(product, light))

    def blink(self, product: ProductLike, light: LightLike, count: IntLike, off_ms: IntLike,
              on_ms: IntLike) -> None:
        """Blinks a light count times (0..10000) with off_ms and on_ms a cycle (0..60000 each).
        With count 0 the device blinks by itself and off_ms, on_ms are its timing bytes (0..255)."""
        p = self._record(product, light)
        p.count = _check_range("count", count, 0, MAX_BLINK_COUNT)
        phase_max = 0xFF if count == 0 else MAX_DURATION_MS
        p.offTime = _check_range("off_ms", off_ms, 0, phase_max)
        p.onTime = _check_range("on_ms", on_ms, 0, phase_max)
        self.set_effect(raw.EFFECT_LED_BLINK, p)

    def set_lighting_mode(self, product: ProductLike, light: LightLike,
                          mode: Union[LightingMode, IntLike]) -> None:
        """Sets the Pell keyboard's lighting mode (light 7)."""
        mode = LightingMode(_index("mode", mode))
        p = self._record(product, light)
        p.modeGuid = mode.guid
        self.set_effect(mode.guid, p)

    def set_vexo_mode_a(self, product: ProductLike, mode: Union[DeviceMode, IntLike]) -> None:
        """VEXO device mode, the first way of setting it."""
        p = self._record(product, Light.LIGHT_1)
        p.deviceMode = DeviceMode(_index("mode", mode))
        self.set_effect(raw.EFFECT_VEXO_MODE_A, p)

    def set_vexo_mode_b(self, product: ProductLike, mode: Union[DeviceMode, IntLike]) -> None:
        """VEXO device mode, the second way of setting it."""
        p = self._record(product, Light.LIGHT_1)
        p.deviceMode = DeviceMode(_index("mode", mode))
        self.set_effect(raw.EFFECT_VEXO_MODE_B, p)

    def set_color(self, product: ProductLike, light: LightLike, r: IntLike, g: IntLike,
                  b: IntLike) -> None:
        """Sets a light's colour (0..255 each). For PELL_USB_0E5B the light is a tunnel code,
        USB_CODE_60..USB_CODE_62."""
        p = self._record(product, light, tunnel_code=_product(product) == Product.PELL_USB_0E5B)
        p.red = _check_range("r", r, 0, 255)
        p.green = _check_range("g", g, 0, 255)
        p.blue = _check_range("b", b, 0, 255)
        self.set_effect(raw.EFFECT_LED_COLOR, p)

    def get_state(self, product: ProductLike, light: LightLike) -> bool:
        """Reads whether a light is on (VEXO_0E51 and VEXO_0E52 only)."""
        p = self._record(product, light)
        self.get_effect(raw.EFFECT_LED_STATE, p)
        return p.level != 0

    def get_brightness(self, product: ProductLike, light: LightLike) -> int:
        """Reads a light's brightness in percent (VEXO_0E51 and VEXO_0E52 only)."""
        p = self._record(product, light)
        self.get_effect(raw.EFFECT_LED_BRIGHTNESS, p)
        return p.level

    # ---- the raw record, for anything else ----

    def set_effect(self, effect: raw.GUID, params: raw.EffectParams) -> None:
        """KvSDKSetEffect with a raw EffectParams; raises KvSDKError on a failure code."""
        self._check_open()
        hr = self._lib.KvSDKSetEffect(effect, ctypes.byref(params))
        if hr < 0:
            self._check_open()  # a close racing this call: the session's error, not the library's
            raise KvSDKError(hr, "KvSDKSetEffect")

    def get_effect(self, effect: raw.GUID, params: raw.EffectParams) -> None:
        """KvSDKGetEffect into a raw EffectParams; raises KvSDKError on a failure code."""
        self._check_open()
        hr = self._lib.KvSDKGetEffect(effect, ctypes.byref(params))
        if hr < 0:
            self._check_open()
            raise KvSDKError(hr, "KvSDKGetEffect")

    def _check_open(self) -> None:
        if not self._release.alive:
            raise RuntimeError("the kvsdk session is closed")

    @staticmethod
    def _record(product: ProductLike, light: LightLike,
                tunnel_code: bool = False) -> raw.EffectParams:
        product = _product(product)
        light = Light(_index("light", light))
        if tunnel_code and not Light.USB_CODE_60 <= light <= Light.USB_CODE_62:
            raise ValueError("the Pell USB device takes USB_CODE_60..USB_CODE_62, not %r" % light)
        if not tunnel_code and not Light.LIGHT_1 <= light <= Light.LIGHT_7:
            raise ValueError("a light is LIGHT_1..LIGHT_7, not %r" % light)
        return raw.EffectParams.create(product.guid, int(light))
