"""The raw layer: the library, its four exports, the header's GUIDs, result codes and record."""

import ctypes
import os
import sys
from typing import Dict, List, Optional, Tuple, Union

PathLike = Union[str, "os.PathLike[str]"]

__all__ = [
    "GUID", "EffectParams", "load_library", "library", "GUIDS", "RESULT_CODES",
    "S_OK", "S_FALSE", "E_NOTIMPL", "E_NOINTERFACE", "E_POINTER", "E_FAIL", "E_OUTOFMEMORY",
    "E_INVALIDARG", "KVSDK_E_NOT_SUPPORTED", "KVSDK_E_QUEUE_FULL", "succeeded", "failed",
]


class GUID(ctypes.Structure):
    """The Windows GUID layout: 32-bit, 16-bit, 16-bit little-endian, then 8 bytes."""

    _fields_ = [
        ("Data1", ctypes.c_uint32),
        ("Data2", ctypes.c_uint16),
        ("Data3", ctypes.c_uint16),
        ("Data4", ctypes.c_uint8 * 8),
    ]

    def __init__(self, data1: int = 0, data2: int = 0, data3: int = 0, *data4: int) -> None:
        super().__init__(data1, data2, data3, (ctypes.c_uint8 * 8)(*data4))

    def fields(self) -> Tuple[int, ...]:
        """The 11 numbers as the header writes them."""
        return (self.Data1, self.Data2, self.Data3) + tuple(self.Data4)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, GUID) and self.fields() == other.fields()

    def __hash__(self) -> int:
        return hash(self.fields())

    def __str__(self) -> str:
        d = self.fields()
        return "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}" % d

    def __repr__(self) -> str:
        return "GUID('%s')" % self


# Products: one product, or a whole family.
PRODUCT_VEXO = GUID(0x358DF14A, 0xA055, 0x0DA7, 0xA7, 0x91, 0xDE, 0xD0, 0x4F, 0x2E, 0xE6, 0x51)
PRODUCT_VEXO_0E51 = GUID(0xA890A7CE, 0x24AD, 0x2223, 0xF3, 0xC0, 0x38, 0x17, 0x00, 0xD4, 0x1F, 0x62)
PRODUCT_VEXO_0E52 = GUID(0x67204284, 0x2EB9, 0x464E, 0xE0, 0x12, 0x53, 0x19, 0xBB, 0x26, 0x24, 0x9F)
PRODUCT_PELL = GUID(0xA8270E2C, 0x072C, 0x5637, 0xBB, 0x27, 0xD3, 0x30, 0x16, 0xDA, 0x2B, 0x07)
PRODUCT_PELL_MOUSE_0E59 = GUID(0x9912B7CC, 0x86FD, 0x284E, 0x0A, 0x76, 0xCA, 0xAD, 0x93, 0xEA, 0xAA, 0x70)
PRODUCT_PELL_KEYBOARD_0E5A = GUID(0x75B19680, 0xBC74, 0xBED9, 0x7E, 0x96, 0x92, 0x4A, 0xC5, 0x03, 0x85, 0xDC)
PRODUCT_PELL_USB_0E5B = GUID(0x69413F01, 0xF145, 0xA652, 0xEC, 0x68, 0x53, 0x4C, 0xF8, 0x7C, 0x25, 0x60)

# Effect kinds. The four lighting-mode GUIDs also serve as mode values in modeGuid.
EFFECT_LED_ON = GUID(0x312F5071, 0xC37E, 0x7CE5, 0xF7, 0x9B, 0xAF, 0x82, 0x07, 0x04, 0x32, 0x24)
EFFECT_LED_OFF = GUID(0xE6281D2E, 0x245B, 0x6783, 0x02, 0x76, 0x24, 0xFD, 0xCF, 0x33, 0x54, 0xC8)
EFFECT_LED_BRIGHTNESS = GUID(0x530F7B5E, 0x05CA, 0xF73A, 0x13, 0x8C, 0x48, 0xEB, 0x51, 0x1E, 0xE7, 0x6F)
EFFECT_LED_MODE_2_PARAMS = GUID(0x8CFEE702, 0x866F, 0x760B, 0xBE, 0xD8, 0xEB, 0x94, 0xC1, 0x88, 0x06, 0x95)
EFFECT_LED_STATE = GUID(0xE4694520, 0x6B92, 0xCFBD, 0x39, 0x2E, 0x94, 0x7B, 0x58, 0x5C, 0x25, 0x69)
EFFECT_LED_FLASH_1 = GUID(0x45F73C82, 0x2A7B, 0x1D36, 0x99, 0x2B, 0x1C, 0x87, 0x8A, 0x4B, 0x16, 0x0A)
EFFECT_LED_FLASH_2 = GUID(0x47BEBBFA, 0x0F9E, 0x04B9, 0x50, 0x41, 0x34, 0x13, 0xD6, 0xB8, 0x2A, 0xC1)
EFFECT_LED_FLASH_3 = GUID(0x2CEF8029, 0xFFD0, 0x3F5A, 0xEE, 0x6D, 0x5A, 0x09, 0x97, 0xAE, 0xB1, 0xAF)
EFFECT_LED_BLINK = GUID(0xCD70F6A9, 0x3A90, 0x53A3, 0x2A, 0x46, 0x8C, 0x01, 0xE5, 0x83, 0xAB, 0x77)
EFFECT_LED_MODE_0 = GUID(0xC62BFA4B, 0x2A17, 0x2E17, 0x91, 0xD5, 0x52, 0x27, 0x2E, 0x32, 0xA0, 0xC4)
EFFECT_LED_MODE_1 = GUID(0x4FE3FED7, 0xD966, 0xB474, 0x3D, 0x6F, 0xCE, 0xA6, 0x61, 0xF1, 0x78, 0x3F)
EFFECT_LED_MODE_2 = GUID(0x2BAFB847, 0x9BEC, 0xAAF0, 0x56, 0xA2, 0xB1, 0xB4, 0x5D, 0xD2, 0x89, 0x6D)
EFFECT_LED_MODE_4 = GUID(0x822AAC08, 0x89D6, 0xAC5D, 0x51, 0x1E, 0x9D, 0x72, 0x3B, 0x99, 0x84, 0x87)
EFFECT_VEXO_MODE_A = GUID(0x3204C5BD, 0x58F6, 0x5A1A, 0x3D, 0x24, 0xDC, 0x5F, 0xDF, 0x71, 0x99, 0x04)
EFFECT_VEXO_MODE_B = GUID(0x0E84347A, 0x20B7, 0x5417, 0xD9, 0xB1, 0x11, 0x72, 0xC6, 0x51, 0x97, 0xB6)
EFFECT_LED_COLOR = GUID(0x99DCA5A7, 0x9E43, 0x92E1, 0x70, 0xE8, 0x97, 0xEF, 0xA1, 0x64, 0x5E, 0x11)

#: Every product and effect GUID by its header name.
GUIDS: Dict[str, GUID] = {name: value for name, value in globals().items()
         if isinstance(value, GUID) and name.startswith(("PRODUCT_", "EFFECT_"))}
__all__ += sorted(GUIDS)


def _hresult(code: int) -> int:
    """An HRESULT as the exports answer it: signed 32 bits."""
    return code - (1 << 32) if code & 0x80000000 else code


# Result codes.
S_OK = _hresult(0x00000000)
S_FALSE = _hresult(0x00000001)
E_NOTIMPL = _hresult(0x80004001)
E_NOINTERFACE = _hresult(0x80004002)
E_POINTER = _hresult(0x80004003)
E_FAIL = _hresult(0x80004005)
E_OUTOFMEMORY = _hresult(0x8007000E)
E_INVALIDARG = _hresult(0x80070057)
KVSDK_E_NOT_SUPPORTED = _hresult(0x80070032)  # KvSDKGetEffect: this kind cannot be read back
KVSDK_E_QUEUE_FULL = _hresult(0x80070718)  # KvSDKSetEffect: a device's queue cannot take it

#: Name -> code of every result code above.
RESULT_CODES: Dict[str, int] = {name: globals()[name] for name in (
    "S_OK", "S_FALSE", "E_NOTIMPL", "E_NOINTERFACE", "E_POINTER", "E_FAIL", "E_OUTOFMEMORY",
    "E_INVALIDARG", "KVSDK_E_NOT_SUPPORTED", "KVSDK_E_QUEUE_FULL")}


def succeeded(hresult: int) -> bool:
    return hresult >= 0


def failed(hresult: int) -> bool:
    return hresult < 0


class _Colour(ctypes.Structure):
    _fields_ = [("red", ctypes.c_uint8), ("green", ctypes.c_uint8), ("blue", ctypes.c_uint8)]


class _At24(ctypes.Union):
    _anonymous_ = ("_colour",)
    _fields_ = [
        ("level", ctypes.c_uint32),
        ("count", ctypes.c_uint32),
        ("param1", ctypes.c_uint32),
        ("deviceMode", ctypes.c_uint8),
        ("_colour", _Colour),
    ]


class _At28(ctypes.Union):
    _fields_ = [("duration", ctypes.c_uint32), ("percent", ctypes.c_uint32)]


class _At32(ctypes.Union):
    _fields_ = [("offTime", ctypes.c_uint32), ("param2", ctypes.c_uint32)]


class _At36(ctypes.Union):
    _fields_ = [("onTime", ctypes.c_uint32), ("param3", ctypes.c_uint32)]


class _Fields(ctypes.Structure):
    _anonymous_ = ("_at24", "_at28", "_at32", "_at36")
    _fields_ = [("_at24", _At24), ("_at28", _At28), ("_at32", _At32), ("_at36", _At36)]


class _Family(ctypes.Union):
    _anonymous_ = ("_fields",)
    _fields_ = [("_fields", _Fields), ("modeGuid", GUID)]


class EffectParams(ctypes.Structure):
    """The host's parameter record, 40 bytes. The fields from offset 24 on are shared by the
    effect kinds; each kind reads only its own (see include/KvSDKEng.h)."""

    _anonymous_ = ("_family",)
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("productGuid", GUID),
        ("lightSelector", ctypes.c_uint32),
        ("_family", _Family),
    ]

    #: Field name -> offset, as in the header.
    OFFSETS = {
        "size": 0, "productGuid": 4, "lightSelector": 20, "level": 24, "count": 24,
        "param1": 24, "deviceMode": 24, "red": 24, "green": 25, "blue": 26, "modeGuid": 24,
        "duration": 28, "percent": 28, "offTime": 32, "param2": 32, "onTime": 36, "param3": 36,
    }

    @classmethod
    def create(cls, product: GUID, light_selector: int) -> "EffectParams":
        """A zeroed record with size, product and light selector filled in."""
        record = cls()
        record.size = ctypes.sizeof(cls)
        record.productGuid = product
        record.lightSelector = light_selector
        return record

    @classmethod
    def offset_of(cls, name: str) -> int:
        """The byte offset of a field, the members of the anonymous unions included."""
        def find(struct_type, base):
            for field in struct_type._fields_:
                offset = base + getattr(struct_type, field[0]).offset
                if field[0] == name:
                    return offset
                if field[0] in getattr(struct_type, "_anonymous_", ()):
                    found = find(field[1], offset)
                    if found is not None:
                        return found
            return None
        offset = find(cls, 0)
        if offset is None:
            raise AttributeError(name)
        return offset


# The record is 40 bytes on every platform: its fields fall on their natural alignment.
if ctypes.sizeof(EffectParams) != 40:
    raise ImportError("kvsdk: EffectParams is %d bytes, not 40" % ctypes.sizeof(EffectParams))

#: The library's file beside the package: the platform wheels and the redist folder put it
#: there, with KvSDKMod beside it (libKvSDKMod.so, KvSDKMod.dll).
LIBRARY_FILE = "KvSDKEng.dll" if sys.platform == "win32" else (
    "libKvSDKEng.dylib" if sys.platform == "darwin" else "libKvSDKEng.so")
# What the system's loader is asked for last: on Linux the installed runtime name (the .deb's
# /usr/lib/libKvSDKEng.so.1, or an archive's lib/ on LD_LIBRARY_PATH), then the plain one.
_LOADER_NAMES = {"win32": ["KvSDKEng.dll"], "darwin": ["libKvSDKEng.dylib"]}.get(
    sys.platform, ["libKvSDKEng.so.1", "libKvSDKEng.so"])


def _candidates(path: Optional[PathLike]) -> List[str]:
    """Where the library is looked for, in order: an explicit path, KVSDK_LIBRARY, beside the
    package (in its folder, then the folder that holds it), then the system's loader.
    A path given explicitly or through KVSDK_LIBRARY is the only one tried.

    On Windows the loader's search for a bare name covers the folder of python.exe, the system
    folders and those added with os.add_dll_directory(), but neither PATH nor the current
    folder: name the DLL with KVSDK_LIBRARY (KvSDKMod.dll beside it is found), or call
    os.add_dll_directory(folder) before the first Session."""
    if path:
        return [os.fspath(path)]
    env = os.environ.get("KVSDK_LIBRARY")
    if env:
        return [env]
    found = []
    here = os.path.dirname(os.path.abspath(__file__))
    for folder in (here, os.path.dirname(here)):
        candidate = os.path.join(folder, LIBRARY_FILE)
        if os.path.exists(candidate):
            found.append(candidate)
    return found + _LOADER_NAMES


def load_library(path: Optional[PathLike] = None) -> ctypes.CDLL:
    """Loads KvSDKEng (WinDLL on Windows: the exports are stdcall there; CDLL elsewhere) and
    declares the four exports. Raises OSError naming every place tried."""
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    errors = []
    for candidate in _candidates(path):
        try:
            lib = loader(candidate)
        except OSError as error:
            errors.append("%s: %s" % (candidate, error))
            continue
        lib.KvSDKEngInit.argtypes = [GUID]
        lib.KvSDKEngInit.restype = ctypes.c_int32
        lib.KvSDKEngUninit.argtypes = []
        lib.KvSDKEngUninit.restype = ctypes.c_int32
        for name in ("KvSDKSetEffect", "KvSDKGetEffect"):
            function = getattr(lib, name)
            function.argtypes = [GUID, ctypes.POINTER(EffectParams)]
            function.restype = ctypes.c_int32
        return lib
    hint = ("; Windows looks in neither PATH nor the current folder: set KVSDK_LIBRARY or call "
            "os.add_dll_directory()" if sys.platform == "win32" else "")
    raise OSError("KvSDKEng not found; tried " + "; ".join(errors) + hint)


_library: Optional[ctypes.CDLL] = None


def library(path: Optional[PathLike] = None) -> ctypes.CDLL:
    """The library loaded once per process (an explicit path loads that file)."""
    global _library
    if path is not None:
        return load_library(path)
    if _library is None:
        _library = load_library()
    return _library
