"""KvSDKEng from Python (ctypes).

Two layers: the raw one (`kvsdk.raw`: the four exports, the header's GUIDs and result codes, the
40-byte `EffectParams` record) and the friendly one (`Session`, `Product`, `Light`, `KvSDKError`).
The library is looked for at an explicit path (`Session(..., library=PATH)`), then at
`KVSDK_LIBRARY`, then beside the package, then on the system's loader path.
"""

from . import _native as raw
from ._native import GUID, EffectParams, load_library
from .session import (MAX_BLINK_COUNT, MAX_DURATION_MS, DeviceMode, KvSDKError, Light,
                      LightingMode, Product, Session)

__all__ = ["raw", "GUID", "EffectParams", "load_library", "Session", "Product", "Light",
           "LightingMode", "DeviceMode", "KvSDKError", "MAX_DURATION_MS", "MAX_BLINK_COUNT"]
__version__ = "1.0.0"
