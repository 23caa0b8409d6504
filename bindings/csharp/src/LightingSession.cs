// The friendly layer: named products and lights, one method per effect kind with range-checked
// parameters, and a session that owns the engine from Init to Uninit. No method waits for a
// device: effects are queued by the library and run on its own threads.
using System;
using System.Collections.Generic;
using System.Runtime.Serialization;

namespace KvSDK
{
    /// <summary>The products and families a session can drive.</summary>
    public enum Product
    {
        /// <summary>Every VEXO device (PRODUCT_VEXO).</summary>
        Vexo = 1,
        /// <summary>VEXO mouse 0E51.</summary>
        Vexo0E51,
        /// <summary>VEXO mouse 0E52.</summary>
        Vexo0E52,
        /// <summary>Every Pell device (PRODUCT_PELL).</summary>
        Pell,
        /// <summary>Pell mouse 0E59.</summary>
        PellMouse0E59,
        /// <summary>Pell keyboard 0E5A.</summary>
        PellKeyboard0E5A,
        /// <summary>Pell USB device 0E5B.</summary>
        PellUsb0E5B,
    }

    /// <summary>Light selectors 1 to 7, and the tunnel codes that stand in the selector's place
    /// when the Pell USB device 0E5B takes a colour.</summary>
    public enum LightSelector
    {
        /// <summary>Light 1.</summary>
        Light1 = 1,
        /// <summary>Light 2.</summary>
        Light2 = 2,
        /// <summary>Light 3.</summary>
        Light3 = 3,
        /// <summary>Light 4.</summary>
        Light4 = 4,
        /// <summary>Light 5.</summary>
        Light5 = 5,
        /// <summary>Light 6.</summary>
        Light6 = 6,
        /// <summary>Light 7 (the Pell keyboard's lighting mode).</summary>
        Light7 = 7,
        /// <summary>Tunnel code 0x60 of the Pell USB device.</summary>
        UsbCode60 = 0x60,
        /// <summary>Tunnel code 0x61 of the Pell USB device.</summary>
        UsbCode61 = 0x61,
        /// <summary>Tunnel code 0x62 of the Pell USB device.</summary>
        UsbCode62 = 0x62,
    }

    /// <summary>Lighting modes of the Pell keyboard (light 7).</summary>
    public enum LightingMode
    {
        /// <summary>EFFECT_LED_MODE_0.</summary>
        Mode0 = 0,
        /// <summary>EFFECT_LED_MODE_1.</summary>
        Mode1 = 1,
        /// <summary>EFFECT_LED_MODE_2.</summary>
        Mode2 = 2,
        /// <summary>EFFECT_LED_MODE_4.</summary>
        Mode4 = 4,
    }

    /// <summary>VEXO device modes.</summary>
    public enum DeviceMode
    {
        /// <summary>Device mode 1.</summary>
        Mode1 = 1,
        /// <summary>Device mode 2.</summary>
        Mode2 = 2,
    }

    /// <summary>A failure answered by the library: the HRESULT, its name and a short text.</summary>
    [Serializable]
    public class KvSDKException : Exception
    {
        /// <summary>A failure code answered by one export.</summary>
        public KvSDKException(string call, int hresult)
            : base(string.Format("{0}: {1} (0x{2:X8}): {3}", call, NameOf(hresult),
                                 unchecked((uint)hresult), TextOf(hresult)))
        {
            HResult = hresult;
            Call = call;
            Name = NameOf(hresult);
            Text = TextOf(hresult);
        }

        /// <summary>A failure without a result code (E_FAIL).</summary>
        public KvSDKException() : this("KvSDKEng", HResults.E_FAIL) { }

        /// <summary>A failure described by a message (E_FAIL).</summary>
        public KvSDKException(string message) : this(message, null) { }

        /// <summary>A failure described by a message, caused by another exception (E_FAIL).</summary>
        public KvSDKException(string message, Exception innerException) : base(message, innerException)
        {
            HResult = HResults.E_FAIL;
            Call = "KvSDKEng";
            Name = NameOf(HResult);
            Text = TextOf(HResult);
        }

        /// <summary>Deserialises an exception (across application domains or processes).</summary>
        protected KvSDKException(SerializationInfo info, StreamingContext context) : base(info, context)
        {
            Call = info.GetString("Call");
            Name = NameOf(HResult);
            Text = TextOf(HResult);
        }

        /// <summary>Serialises the exception with the export that failed.</summary>
        public override void GetObjectData(SerializationInfo info, StreamingContext context)
        {
            base.GetObjectData(info, context);
            info.AddValue("Call", Call);
        }

        /// <summary>The export that failed, e.g. "KvSDKSetEffect".</summary>
        public string Call { get; private set; }
        /// <summary>The code's name, e.g. "E_NOINTERFACE", or its hex digits when unknown.</summary>
        public string Name { get; private set; }
        /// <summary>What the code means.</summary>
        public string Text { get; private set; }

        /// <summary>The name of a result code, or its hex digits.</summary>
        public static string NameOf(int hresult)
        {
            string[] entry;
            return Known.TryGetValue(hresult, out entry) ? entry[0]
                                                         : string.Format("0x{0:X8}", unchecked((uint)hresult));
        }

        /// <summary>What a result code means.</summary>
        public static string TextOf(int hresult)
        {
            string[] entry;
            return Known.TryGetValue(hresult, out entry) ? entry[1] : "unknown result";
        }

        private static readonly Dictionary<int, string[]> Known = new Dictionary<int, string[]>
        {
            { HResults.S_OK, new[] { "S_OK", "success" } },
            { HResults.S_FALSE, new[] { "S_FALSE", "success, nothing to do" } },
            { HResults.E_NOTIMPL, new[] { "E_NOTIMPL", "not implemented" } },
            { HResults.E_NOINTERFACE, new[] { "E_NOINTERFACE", "the device family does not implement this effect kind" } },
            { HResults.E_POINTER, new[] { "E_POINTER", "a required pointer or device object is missing" } },
            { HResults.E_FAIL, new[] { "E_FAIL", "failed (no device found, none addressed, or an unknown effect kind)" } },
            { HResults.E_OUTOFMEMORY, new[] { "E_OUTOFMEMORY", "out of memory" } },
            { HResults.E_INVALIDARG, new[] { "E_INVALIDARG", "invalid argument" } },
            { HResults.KVSDK_E_NOT_SUPPORTED, new[] { "KVSDK_E_NOT_SUPPORTED", "request not supported: this kind cannot be read back, or the device did not answer" } },
            { HResults.KVSDK_E_QUEUE_FULL, new[] { "KVSDK_E_QUEUE_FULL", "a device's effect queue is full: nothing was queued on it" } },
        };
    }

    /// <summary>
    /// Owns the library's engine: the constructor initialises the products, Dispose releases every
    /// device (VEXO devices get their stored lighting back). The engine is process-wide, so only
    /// one session may be open at a time. Methods may be called from any thread; each returns as
    /// soon as the library has queued the effect.
    /// </summary>
    public sealed class LightingSession : IDisposable
    {
        /// <summary>Longest pause after an on/off command, and longest blink phase.</summary>
        public const int MaxDurationMs = 60000;
        /// <summary>Most off/on cycles the library takes for one blink.</summary>
        public const int MaxBlinkCount = 10000;

        private static readonly object OpenLock = new object();
        private static bool s_open;
        private volatile bool m_disposed;

        /// <summary>
        /// Initialises the library for the products given. Throws KvSDKException when the
        /// library refuses one; when it cannot be loaded at all, the runtime's own exception:
        /// DllNotFoundException (no library for this platform, or KvSDKMod not beside it),
        /// BadImageFormatException (a library of another CPU), EntryPointNotFoundException.
        /// Either way no session stays open, so a later attempt may succeed.
        /// </summary>
        public LightingSession(params Product[] products)
        {
            if (products == null || products.Length == 0)
                throw new ArgumentException("name at least one product", "products");
            foreach (Product product in products) GuidOf(product);
            lock (OpenLock)
            {
                if (s_open) throw new InvalidOperationException("a lighting session is already open in this process");
                s_open = true;
            }
            bool loaded = false;
            try
            {
                foreach (Product product in products)
                {
                    int hr = NativeMethods.KvSDKEngInit(GuidOf(product));
                    loaded = true;
                    if (hr < 0) throw new KvSDKException("KvSDKEngInit", hr);
                }
            }
            catch
            {
                // Whatever failed, the session is not open: release what Init took (nothing
                // when the library did not even load) and let the next attempt in.
                lock (OpenLock)
                {
                    m_disposed = true;
                    if (loaded) NativeMethods.KvSDKEngUninit();
                    s_open = false;
                }
                throw;
            }
        }

        /// <summary>Releases every device and stops the library's threads; safe to call twice.</summary>
        public void Dispose()
        {
            lock (OpenLock)
            {
                if (m_disposed) return;
                m_disposed = true;
                NativeMethods.KvSDKEngUninit();
                s_open = false;
            }
        }

        /// <summary>The header's GUID of a product or family.</summary>
        public static Guid GuidOf(Product product)
        {
            switch (product)
            {
                case Product.Vexo: return KvSDKGuids.PRODUCT_VEXO;
                case Product.Vexo0E51: return KvSDKGuids.PRODUCT_VEXO_0E51;
                case Product.Vexo0E52: return KvSDKGuids.PRODUCT_VEXO_0E52;
                case Product.Pell: return KvSDKGuids.PRODUCT_PELL;
                case Product.PellMouse0E59: return KvSDKGuids.PRODUCT_PELL_MOUSE_0E59;
                case Product.PellKeyboard0E5A: return KvSDKGuids.PRODUCT_PELL_KEYBOARD_0E5A;
                case Product.PellUsb0E5B: return KvSDKGuids.PRODUCT_PELL_USB_0E5B;
                default: throw new ArgumentOutOfRangeException("product", product, "not a product");
            }
        }

        /// <summary>Switches a light on; a VEXO device then pauses durationMs (0..60000).</summary>
        public void On(Product product, LightSelector light, int durationMs = 0)
        {
            EffectParams p = Record(product, light);
            p.duration = Range("durationMs", durationMs, 0, MaxDurationMs);
            SetEffect(KvSDKGuids.EFFECT_LED_ON, ref p);
        }

        /// <summary>Switches a light off; a VEXO device then pauses durationMs (0..60000).</summary>
        public void Off(Product product, LightSelector light, int durationMs = 0)
        {
            EffectParams p = Record(product, light);
            p.duration = Range("durationMs", durationMs, 0, MaxDurationMs);
            SetEffect(KvSDKGuids.EFFECT_LED_OFF, ref p);
        }

        /// <summary>Sets a light's brightness in percent (0..100).</summary>
        public void SetBrightness(Product product, LightSelector light, int percent)
        {
            EffectParams p = Record(product, light);
            p.level = Range("percent", percent, 0, 100);
            SetEffect(KvSDKGuids.EFFECT_LED_BRIGHTNESS, ref p);
        }

        /// <summary>Lighting mode 2 with its parameters (16-bit values, percent 0..100).</summary>
        public void SetModeParameters(Product product, LightSelector light, int param1, int percent, int param2, int param3)
        {
            EffectParams p = Record(product, light);
            p.param1 = Range("param1", param1, 0, 0xFFFF);
            p.percent = Range("percent", percent, 0, 100);
            p.param2 = Range("param2", param2, 0, 0xFFFF);
            p.param3 = Range("param3", param3, 0, 0xFFFF);
            SetEffect(KvSDKGuids.EFFECT_LED_MODE_2_PARAMS, ref p);
        }

        /// <summary>Flashes a light off and on 1, 2 or 3 times (600 ms a cycle).</summary>
        public void Flash(Product product, LightSelector light, int times = 1)
        {
            Range("times", times, 1, 3);
            EffectParams p = Record(product, light);
            Guid kind = times == 1 ? KvSDKGuids.EFFECT_LED_FLASH_1
                      : times == 2 ? KvSDKGuids.EFFECT_LED_FLASH_2 : KvSDKGuids.EFFECT_LED_FLASH_3;
            SetEffect(kind, ref p);
        }

        /// <summary>
        /// Blinks a light count times (1..10000) with offMs and onMs per cycle (0..60000 each).
        /// With count 0 the device blinks by itself and offMs, onMs are its timing bytes (0..255).
        /// </summary>
        public void Blink(Product product, LightSelector light, int count, int offMs, int onMs)
        {
            EffectParams p = Record(product, light);
            p.count = Range("count", count, 0, MaxBlinkCount);
            int phaseMax = count == 0 ? 0xFF : MaxDurationMs;
            p.offTime = Range("offMs", offMs, 0, phaseMax);
            p.onTime = Range("onMs", onMs, 0, phaseMax);
            SetEffect(KvSDKGuids.EFFECT_LED_BLINK, ref p);
        }

        /// <summary>Sets the Pell keyboard's lighting mode (light 7).</summary>
        public void SetLightingMode(Product product, LightSelector light, LightingMode mode)
        {
            Guid kind = GuidOf(mode);
            EffectParams p = Record(product, light);
            p.modeGuid = kind;
            SetEffect(kind, ref p);
        }

        /// <summary>The header's GUID of a lighting mode (EFFECT_LED_MODE_*).</summary>
        public static Guid GuidOf(LightingMode mode)
        {
            switch (mode)
            {
                case LightingMode.Mode0: return KvSDKGuids.EFFECT_LED_MODE_0;
                case LightingMode.Mode1: return KvSDKGuids.EFFECT_LED_MODE_1;
                case LightingMode.Mode2: return KvSDKGuids.EFFECT_LED_MODE_2;
                case LightingMode.Mode4: return KvSDKGuids.EFFECT_LED_MODE_4;
                default: throw new ArgumentOutOfRangeException("mode", mode, "not a lighting mode");
            }
        }

        /// <summary>VEXO device mode, the first way of setting it.</summary>
        public void SetVexoModeA(Product product, DeviceMode mode)
        {
            EffectParams p = Record(product, LightSelector.Light1);
            p.deviceMode = DeviceModeByte(mode);
            SetEffect(KvSDKGuids.EFFECT_VEXO_MODE_A, ref p);
        }

        /// <summary>VEXO device mode, the second way of setting it.</summary>
        public void SetVexoModeB(Product product, DeviceMode mode)
        {
            EffectParams p = Record(product, LightSelector.Light1);
            p.deviceMode = DeviceModeByte(mode);
            SetEffect(KvSDKGuids.EFFECT_VEXO_MODE_B, ref p);
        }

        /// <summary>Sets a light's colour. For PellUsb0E5B the light is a tunnel code
        /// (UsbCode60..UsbCode62).</summary>
        public void SetColor(Product product, LightSelector light, int r, int g, int b)
        {
            EffectParams p = Record(product, light, product == Product.PellUsb0E5B);
            p.red = (byte)Range("r", r, 0, 255);
            p.green = (byte)Range("g", g, 0, 255);
            p.blue = (byte)Range("b", b, 0, 255);
            SetEffect(KvSDKGuids.EFFECT_LED_COLOR, ref p);
        }

        /// <summary>Reads whether a light is on (VEXO 0E51 and 0E52 only).</summary>
        public bool GetState(Product product, LightSelector light)
        {
            EffectParams p = Record(product, light);
            GetEffect(KvSDKGuids.EFFECT_LED_STATE, ref p);
            return p.level != 0;
        }

        /// <summary>Reads a light's brightness in percent (VEXO 0E51 and 0E52 only).</summary>
        public int GetBrightness(Product product, LightSelector light)
        {
            EffectParams p = Record(product, light);
            GetEffect(KvSDKGuids.EFFECT_LED_BRIGHTNESS, ref p);
            return (int)p.level;
        }

        /// <summary>Any request as the raw record; throws KvSDKException on a failure code.</summary>
        public void SetEffect(Guid effect, ref EffectParams parameters)
        {
            ThrowIfDisposed();
            int hr = NativeMethods.KvSDKSetEffect(effect, ref parameters);
            if (hr < 0) Fail("KvSDKSetEffect", hr);
        }

        /// <summary>Any read-back as the raw record; throws KvSDKException on a failure code.</summary>
        public void GetEffect(Guid effect, ref EffectParams parameters)
        {
            ThrowIfDisposed();
            int hr = NativeMethods.KvSDKGetEffect(effect, ref parameters);
            if (hr < 0) Fail("KvSDKGetEffect", hr);
        }

        private void ThrowIfDisposed()
        {
            if (m_disposed) throw new ObjectDisposedException("LightingSession");
        }

        // A call that raced Dispose fails because the engine went away under it: that is the
        // session's closing, not a library error.
        private void Fail(string call, int hr)
        {
            ThrowIfDisposed();
            throw new KvSDKException(call, hr);
        }

        private static EffectParams Record(Product product, LightSelector light, bool tunnelCode = false)
        {
            int selector = (int)light;
            bool valid = tunnelCode ? selector >= 0x60 && selector <= 0x62 : selector >= 1 && selector <= 7;
            if (!valid)
                throw new ArgumentOutOfRangeException("light", light,
                    tunnelCode ? "the Pell USB device takes UsbCode60..UsbCode62" : "a light is Light1..Light7");
            return EffectParams.Create(GuidOf(product), (uint)selector);
        }

        private static byte DeviceModeByte(DeviceMode mode)
        {
            if (mode != DeviceMode.Mode1 && mode != DeviceMode.Mode2)
                throw new ArgumentOutOfRangeException("mode", mode, "a device mode is Mode1 or Mode2");
            return (byte)mode;
        }

        private static uint Range(string name, int value, int low, int high)
        {
            if (value < low || value > high)
                throw new ArgumentOutOfRangeException(name, value, string.Format("must be {0}..{1}", low, high));
            return (uint)value;
        }
    }
}
