// The raw layer: the four exports of KvSDKEng, the GUIDs and result codes of include/KvSDKEng.h,
// and the 40-byte parameter record. Names are the header's own, so C examples translate
// line by line. The friendly layer (LightingSession) is built on top of this.
using System;
using System.Runtime.InteropServices;

namespace KvSDK
{
    /// <summary>The four exports. "KvSDKEng" resolves to KvSDKEng.dll on Windows and
    /// libKvSDKEng.so on Linux; the 32-bit DLL uses stdcall, other targets ignore it.</summary>
    public static class NativeMethods
    {
        /// <summary>The name every import asks for. On Linux the library and libKvSDKMod.so lie
        /// in one folder (the packages' redist pair); KvSDKMod.dll lies beside KvSDKEng.dll.</summary>
        public const string LibraryName = "KvSDKEng";

        /// <summary>Initialises the engine for a product or family (PRODUCT_*).</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int KvSDKEngInit(Guid productGuid);

        /// <summary>Releases every device and stops the library's threads.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int KvSDKEngUninit();

        /// <summary>Queues an effect (EFFECT_*) on the devices the record addresses.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int KvSDKSetEffect(Guid effectGuid, ref EffectParams parameters);

        /// <summary>Reads a light's state or brightness back into the record.</summary>
        [DllImport(LibraryName, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int KvSDKGetEffect(Guid effectGuid, ref EffectParams parameters);
    }

    /// <summary>Product and effect-kind GUIDs, named as in the header.</summary>
    public static class KvSDKGuids
    {
        // Products: one product, or a whole family.
        /// <summary>Product or family PRODUCT_VEXO of the header.</summary>
        public static readonly Guid PRODUCT_VEXO = new Guid(0x358DF14A, 0xA055, 0x0DA7, 0xA7, 0x91, 0xDE, 0xD0, 0x4F, 0x2E, 0xE6, 0x51);
        /// <summary>Product or family PRODUCT_VEXO_0E51 of the header.</summary>
        public static readonly Guid PRODUCT_VEXO_0E51 = new Guid(0xA890A7CE, 0x24AD, 0x2223, 0xF3, 0xC0, 0x38, 0x17, 0x00, 0xD4, 0x1F, 0x62);
        /// <summary>Product or family PRODUCT_VEXO_0E52 of the header.</summary>
        public static readonly Guid PRODUCT_VEXO_0E52 = new Guid(0x67204284, 0x2EB9, 0x464E, 0xE0, 0x12, 0x53, 0x19, 0xBB, 0x26, 0x24, 0x9F);
        /// <summary>Product or family PRODUCT_PELL of the header.</summary>
        public static readonly Guid PRODUCT_PELL = new Guid(0xA8270E2C, 0x072C, 0x5637, 0xBB, 0x27, 0xD3, 0x30, 0x16, 0xDA, 0x2B, 0x07);
        /// <summary>Product or family PRODUCT_PELL_MOUSE_0E59 of the header.</summary>
        public static readonly Guid PRODUCT_PELL_MOUSE_0E59 = new Guid(0x9912B7CC, 0x86FD, 0x284E, 0x0A, 0x76, 0xCA, 0xAD, 0x93, 0xEA, 0xAA, 0x70);
        /// <summary>Product or family PRODUCT_PELL_KEYBOARD_0E5A of the header.</summary>
        public static readonly Guid PRODUCT_PELL_KEYBOARD_0E5A = new Guid(0x75B19680, 0xBC74, 0xBED9, 0x7E, 0x96, 0x92, 0x4A, 0xC5, 0x03, 0x85, 0xDC);
        /// <summary>Product or family PRODUCT_PELL_USB_0E5B of the header.</summary>
        public static readonly Guid PRODUCT_PELL_USB_0E5B = new Guid(0x69413F01, 0xF145, 0xA652, 0xEC, 0x68, 0x53, 0x4C, 0xF8, 0x7C, 0x25, 0x60);

        // Effect kinds. The four lighting-mode GUIDs also serve as mode values in modeGuid.
        /// <summary>Effect kind EFFECT_LED_ON of the header.</summary>
        public static readonly Guid EFFECT_LED_ON = new Guid(0x312F5071, 0xC37E, 0x7CE5, 0xF7, 0x9B, 0xAF, 0x82, 0x07, 0x04, 0x32, 0x24);
        /// <summary>Effect kind EFFECT_LED_OFF of the header.</summary>
        public static readonly Guid EFFECT_LED_OFF = new Guid(0xE6281D2E, 0x245B, 0x6783, 0x02, 0x76, 0x24, 0xFD, 0xCF, 0x33, 0x54, 0xC8);
        /// <summary>Effect kind EFFECT_LED_BRIGHTNESS of the header.</summary>
        public static readonly Guid EFFECT_LED_BRIGHTNESS = new Guid(0x530F7B5E, 0x05CA, 0xF73A, 0x13, 0x8C, 0x48, 0xEB, 0x51, 0x1E, 0xE7, 0x6F);
        /// <summary>Effect kind EFFECT_LED_MODE_2_PARAMS of the header.</summary>
        public static readonly Guid EFFECT_LED_MODE_2_PARAMS = new Guid(0x8CFEE702, 0x866F, 0x760B, 0xBE, 0xD8, 0xEB, 0x94, 0xC1, 0x88, 0x06, 0x95);
        /// <summary>Effect kind EFFECT_LED_STATE of the header.</summary>
        public static readonly Guid EFFECT_LED_STATE = new Guid(0xE4694520, 0x6B92, 0xCFBD, 0x39, 0x2E, 0x94, 0x7B, 0x58, 0x5C, 0x25, 0x69);
        /// <summary>Effect kind EFFECT_LED_FLASH_1 of the header.</summary>
        public static readonly Guid EFFECT_LED_FLASH_1 = new Guid(0x45F73C82, 0x2A7B, 0x1D36, 0x99, 0x2B, 0x1C, 0x87, 0x8A, 0x4B, 0x16, 0x0A);
        /// <summary>Effect kind EFFECT_LED_FLASH_2 of the header.</summary>
        public static readonly Guid EFFECT_LED_FLASH_2 = new Guid(0x47BEBBFA, 0x0F9E, 0x04B9, 0x50, 0x41, 0x34, 0x13, 0xD6, 0xB8, 0x2A, 0xC1);
        /// <summary>Effect kind EFFECT_LED_FLASH_3 of the header.</summary>
        public static readonly Guid EFFECT_LED_FLASH_3 = new Guid(0x2CEF8029, 0xFFD0, 0x3F5A, 0xEE, 0x6D, 0x5A, 0x09, 0x97, 0xAE, 0xB1, 0xAF);
        /// <summary>Effect kind EFFECT_LED_BLINK of the header.</summary>
        public static readonly Guid EFFECT_LED_BLINK = new Guid(0xCD70F6A9, 0x3A90, 0x53A3, 0x2A, 0x46, 0x8C, 0x01, 0xE5, 0x83, 0xAB, 0x77);
        /// <summary>Effect kind EFFECT_LED_MODE_0 of the header.</summary>
        public static readonly Guid EFFECT_LED_MODE_0 = new Guid(0xC62BFA4B, 0x2A17, 0x2E17, 0x91, 0xD5, 0x52, 0x27, 0x2E, 0x32, 0xA0, 0xC4);
        /// <summary>Effect kind EFFECT_LED_MODE_1 of the header.</summary>
        public static readonly Guid EFFECT_LED_MODE_1 = new Guid(0x4FE3FED7, 0xD966, 0xB474, 0x3D, 0x6F, 0xCE, 0xA6, 0x61, 0xF1, 0x78, 0x3F);
        /// <summary>Effect kind EFFECT_LED_MODE_2 of the header.</summary>
        public static readonly Guid EFFECT_LED_MODE_2 = new Guid(0x2BAFB847, 0x9BEC, 0xAAF0, 0x56, 0xA2, 0xB1, 0xB4, 0x5D, 0xD2, 0x89, 0x6D);
        /// <summary>Effect kind EFFECT_LED_MODE_4 of the header.</summary>
        public static readonly Guid EFFECT_LED_MODE_4 = new Guid(0x822AAC08, 0x89D6, 0xAC5D, 0x51, 0x1E, 0x9D, 0x72, 0x3B, 0x99, 0x84, 0x87);
        /// <summary>Effect kind EFFECT_VEXO_MODE_A of the header.</summary>
        public static readonly Guid EFFECT_VEXO_MODE_A = new Guid(0x3204C5BD, 0x58F6, 0x5A1A, 0x3D, 0x24, 0xDC, 0x5F, 0xDF, 0x71, 0x99, 0x04);
        /// <summary>Effect kind EFFECT_VEXO_MODE_B of the header.</summary>
        public static readonly Guid EFFECT_VEXO_MODE_B = new Guid(0x0E84347A, 0x20B7, 0x5417, 0xD9, 0xB1, 0x11, 0x72, 0xC6, 0x51, 0x97, 0xB6);
        /// <summary>Effect kind EFFECT_LED_COLOR of the header.</summary>
        public static readonly Guid EFFECT_LED_COLOR = new Guid(0x99DCA5A7, 0x9E43, 0x92E1, 0x70, 0xE8, 0x97, 0xEF, 0xA1, 0x64, 0x5E, 0x11);
    }

    /// <summary>The result codes the exports answer (HRESULT, 32 bits).</summary>
    public static class HResults
    {
        /// <summary>S_OK.</summary>
        public const int S_OK = 0;
        /// <summary>S_FALSE.</summary>
        public const int S_FALSE = 1;
        /// <summary>E_NOTIMPL.</summary>
        public const int E_NOTIMPL = unchecked((int)0x80004001);
        /// <summary>E_NOINTERFACE.</summary>
        public const int E_NOINTERFACE = unchecked((int)0x80004002);
        /// <summary>E_POINTER.</summary>
        public const int E_POINTER = unchecked((int)0x80004003);
        /// <summary>E_FAIL.</summary>
        public const int E_FAIL = unchecked((int)0x80004005);
        /// <summary>E_OUTOFMEMORY.</summary>
        public const int E_OUTOFMEMORY = unchecked((int)0x8007000E);
        /// <summary>E_INVALIDARG.</summary>
        public const int E_INVALIDARG = unchecked((int)0x80070057);
        /// <summary>KvSDKGetEffect for an effect kind that cannot be read back.</summary>
        public const int KVSDK_E_NOT_SUPPORTED = unchecked((int)0x80070032);
        /// <summary>KvSDKSetEffect when a device's queue cannot take the effect.</summary>
        public const int KVSDK_E_QUEUE_FULL = unchecked((int)0x80070718);

        /// <summary>Whether a result code means success (S_OK, S_FALSE).</summary>
        public static bool Succeeded(int hr) { return hr >= 0; }
        /// <summary>Whether a result code means failure.</summary>
        public static bool Failed(int hr) { return hr < 0; }
    }

    /// <summary>
    /// The host's parameter record, 40 bytes, little-endian. The fields from offset 24 on are
    /// shared by the effect kinds; each kind reads only its own (see the header).
    /// </summary>
    [StructLayout(LayoutKind.Explicit, Size = 40)]
    public struct EffectParams
    {
        /// <summary>The record's size in bytes, the value of <see cref="size"/>.</summary>
        public const int ByteCount = 40;

        /// <summary>The record's size in bytes (ByteCount).</summary>
        [FieldOffset(0)] public uint size;
        /// <summary>The product or family addressed (PRODUCT_*).</summary>
        [FieldOffset(4)] public Guid productGuid;
        /// <summary>The light, 1 to 7, or a tunnel code of the Pell USB device.</summary>
        [FieldOffset(20)] public uint lightSelector;

        // Offset 24: level | count | param1 | deviceMode | red, green, blue | modeGuid.
        /// <summary>Brightness in percent, or a read-back's answer.</summary>
        [FieldOffset(24)] public uint level;
        /// <summary>Blink cycles (0: the device blinks by itself).</summary>
        [FieldOffset(24)] public uint count;
        /// <summary>First parameter of lighting mode 2.</summary>
        [FieldOffset(24)] public uint param1;
        /// <summary>VEXO device mode, 1 or 2.</summary>
        [FieldOffset(24)] public byte deviceMode;
        /// <summary>Colour: red.</summary>
        [FieldOffset(24)] public byte red;
        /// <summary>Colour: green.</summary>
        [FieldOffset(25)] public byte green;
        /// <summary>Colour: blue.</summary>
        [FieldOffset(26)] public byte blue;
        /// <summary>Lighting mode (EFFECT_LED_MODE_*).</summary>
        [FieldOffset(24)] public Guid modeGuid;

        // Offset 28: duration | percent.
        /// <summary>Pause after an on/off command, in ms.</summary>
        [FieldOffset(28)] public uint duration;
        /// <summary>Percent of lighting mode 2.</summary>
        [FieldOffset(28)] public uint percent;

        // Offset 32: offTime | param2.
        /// <summary>Blink: the off phase.</summary>
        [FieldOffset(32)] public uint offTime;
        /// <summary>Second parameter of lighting mode 2.</summary>
        [FieldOffset(32)] public uint param2;

        // Offset 36: onTime | param3.
        /// <summary>Blink: the on phase.</summary>
        [FieldOffset(36)] public uint onTime;
        /// <summary>Third parameter of lighting mode 2.</summary>
        [FieldOffset(36)] public uint param3;

        /// <summary>A zeroed record with size, product and light selector filled in.</summary>
        public static EffectParams Create(Guid product, uint lightSelector)
        {
            var record = new EffectParams();
            record.size = ByteCount;
            record.productGuid = product;
            record.lightSelector = lightSelector;
            return record;
        }
    }
}
