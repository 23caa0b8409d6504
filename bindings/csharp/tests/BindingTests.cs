// Self-checking test program for the C# binding: runs against libKvSDKEng.so and simulated
// devices (KVSDK_SIM, KVSDK_SIM_TRACE), prints one line per case and "N passed, N failed",
// and exits non-zero when a case fails.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using System.Threading;
using KvSDK;

internal static class BindingTests
{
    private static string s_dir;
    private static int s_instance;

    // ---- simulated devices and the trace ----

    private sealed class Sim
    {
        public string Vexo, Mouse, Keyboard, Usb, Trace;

        public Sim()
        {
            int n = ++s_instance;
            Vexo = @"\\?\hid#vid_7a3e&pid_0e51&mi_00#" + n + "#{378de44c-56ef-11d1-bc8c-00a0c91405dd}";
            Mouse = @"\\?\hid#vid_7a3e&pid_0e59&mi_00#" + n + "#{378de44c-56ef-11d1-bc8c-00a0c91405dd}";
            Keyboard = @"\\?\hid#vid_7a3e&pid_0e5a&mi_02#" + n + "#{884b96c3-56ef-11d1-bc8c-00a0c91405dd}";
            Usb = @"\\?\usb#vid_7a3e&pid_0e5b#" + n + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
            string sim = Path.Combine(s_dir, "devices" + n + ".txt");
            Trace = Path.Combine(s_dir, "trace" + n + ".txt");
            File.WriteAllText(sim, "mouse " + Vexo + "\nmouse " + Mouse + "\nkeyboard " + Keyboard + "\nusb " + Usb + "\n");
            Environment.SetEnvironmentVariable("KVSDK_SIM", sim);
            Environment.SetEnvironmentVariable("KVSDK_SIM_TRACE", Trace);
        }

        // The details of every trace line of one operation on one path, in order.
        public List<string> Lines(string op, string path)
        {
            var found = new List<string>();
            if (!File.Exists(Trace)) return found;
            string upper = path.ToUpperInvariant();
            foreach (string line in File.ReadAllLines(Trace))
            {
                // <ms> <op> <PATH> <details> = <result>
                string[] head = line.Split(new[] { ' ' }, 4);
                if (head.Length < 3 || head[1] != op || head[2] != upper) continue;
                string rest = head.Length == 4 ? head[3] : "";
                int eq = rest.LastIndexOf("= ", StringComparison.Ordinal);
                found.Add(eq < 0 ? rest : rest.Substring(0, eq).TrimEnd());
            }
            return found;
        }

        // The milliseconds of every trace line of one operation on one path, in order.
        public List<int> Times(string op, string path)
        {
            return File.ReadAllLines(Trace).Select(line => line.Split(' ')).Where(
                f => f.Length > 2 && f[1] == op && f[2] == path.ToUpperInvariant()).Select(f => int.Parse(f[0])).ToList();
        }

        // Waits (generously) until 'path' has at least 'count' lines of 'op'.
        public List<string> WaitFor(string op, string path, int count)
        {
            DateTime deadline = DateTime.UtcNow.AddSeconds(20);
            for (;;)
            {
                List<string> lines = Lines(op, path);
                if (lines.Count >= count || DateTime.UtcNow > deadline) return lines;
                Thread.Sleep(10);
            }
        }
    }

    // ---- checks ----

    private static void Equal<T>(T expected, T actual, string what)
    {
        if (!EqualityComparer<T>.Default.Equals(expected, actual))
            throw new Exception(what + ": expected <" + expected + ">, got <" + actual + ">");
    }

    private static void Sequence(IList<string> expected, IList<string> actual, string what)
    {
        if (!expected.SequenceEqual(actual))
            throw new Exception(what + ": expected [" + string.Join(" | ", expected) + "], got [" +
                                string.Join(" | ", actual) + "]");
    }

    private static TException Throws<TException>(Action action) where TException : Exception
    {
        try { action(); }
        catch (TException e) { return e; }
        catch (Exception e) { throw new Exception("expected " + typeof(TException).Name + ", got " + e.GetType().Name + ": " + e.Message); }
        throw new Exception("expected " + typeof(TException).Name + ", nothing was thrown");
    }

    // ---- cases ----

    private static void LayoutMatchesTheHeader()
    {
        Equal(40, Marshal.SizeOf(typeof(EffectParams)), "Marshal.SizeOf(EffectParams)");
        var offsets = new Dictionary<string, int>
        {
            { "size", 0 }, { "productGuid", 4 }, { "lightSelector", 20 }, { "level", 24 }, { "count", 24 },
            { "param1", 24 }, { "deviceMode", 24 }, { "red", 24 }, { "green", 25 }, { "blue", 26 },
            { "modeGuid", 24 }, { "duration", 28 }, { "percent", 28 }, { "offTime", 32 }, { "param2", 32 },
            { "onTime", 36 }, { "param3", 36 },
        };
        foreach (var entry in offsets)
            Equal(entry.Value, (int)Marshal.OffsetOf(typeof(EffectParams), entry.Key), "offset of " + entry.Key);
        Equal(offsets.Count, typeof(EffectParams).GetFields().Count(f => !f.IsStatic && !f.IsLiteral), "field count");

        // The colour bytes overlay the low bytes of the little-endian level.
        var record = new EffectParams { level = 0x302010 };
        Equal((byte)0x10, record.red, "red");
        Equal((byte)0x20, record.green, "green");
        Equal((byte)0x30, record.blue, "blue");
    }

    private struct TraceCase
    {
        public string Name;
        public Product[] Init;
        public Action<LightingSession> Act;
        public Func<Sim, string> Path;
        public string Op;
        public string[] Expected;
    }

    // One flash cycle of light 1, off then on; the Pell mouse's light 6 marks the flash's end.
    private static readonly string[] FlashCycle = { "02 03 00 01 00", "00 03 00 01 00", "02 03 00 01 00", "00 03 00 01 01" };

    private static string[] Flashes(int times)
    {
        return Enumerable.Repeat(FlashCycle, times).SelectMany(x => x).Concat(new[] { "00 03 00 06 01" }).ToArray();
    }

    private static IEnumerable<TraceCase> TraceCases()
    {
        foreach (int times in new[] { 2, 3 })
        {
            int n = times;
            yield return new TraceCase { Name = "PellFlash" + n, Init = new[] { Product.Pell },
                Act = s => { s.Flash(Product.PellMouse0E59, LightSelector.Light1, n); s.On(Product.PellMouse0E59, LightSelector.Light6); },
                Path = x => x.Mouse, Op = "set", Expected = Flashes(n) };
        }
        // Pell family.
        yield return new TraceCase { Name = "PellOn", Init = new[] { Product.Pell },
            Act = s => s.On(Product.PellMouse0E59, LightSelector.Light6), Path = x => x.Mouse, Op = "set",
            Expected = new[] { "00 03 00 06 01" } };
        yield return new TraceCase { Name = "PellModeParameters", Init = new[] { Product.PellMouse0E59 },
            Act = s => s.SetModeParameters(Product.PellMouse0E59, LightSelector.Light6, 0x0102, 50, 300, 500), Path = x => x.Mouse, Op = "set",
            Expected = new[] { "02 03 00 05 02", "05 03 00 05 01 02 7F FF 01 2C 01 F4" } };
        yield return new TraceCase { Name = "PellColour", Init = new[] { Product.Pell },
            Act = s => s.SetColor(Product.PellMouse0E59, LightSelector.Light1, 0x10, 0x20, 0x30), Path = x => x.Mouse, Op = "set",
            Expected = new[] { "01 03 00 01 10 20 30" } };
        yield return new TraceCase { Name = "PellDeviceBlink", Init = new[] { Product.Pell },
            Act = s => s.Blink(Product.PellMouse0E59, LightSelector.Light3, 0, 0xF4, 0x64), Path = x => x.Mouse, Op = "set",
            Expected = new[] { "04 03 00 0B F4 64" } };
        yield return new TraceCase { Name = "PellKeyboardLightingMode", Init = new[] { Product.PellKeyboard0E5A },
            Act = s => s.SetLightingMode(Product.PellKeyboard0E5A, LightSelector.Light7, LightingMode.Mode2), Path = x => x.Keyboard, Op = "set",
            Expected = new[] { "02 03 00 0B 02" } };
        yield return new TraceCase { Name = "PellUsbColourTunnel", Init = new[] { Product.Pell },
            Act = s => s.SetColor(Product.PellUsb0E5B, LightSelector.UsbCode61, 0x0A, 0x0B, 0x0C), Path = x => x.Usb, Op = "tunnel",
            Expected = new[] { "0 0 61 00 02 0A0B0C 3" } };
        // VEXO family.
        yield return new TraceCase { Name = "VexoBrightness", Init = new[] { Product.Vexo },
            Act = s => s.SetBrightness(Product.Vexo0E51, LightSelector.Light1, 50), Path = x => x.Vexo, Op = "set",
            Expected = new[] { "02 03 00 01 00", "03 03 00 01 7F" } };
        yield return new TraceCase { Name = "VexoFlash", Init = new[] { Product.Vexo0E51 },
            Act = s => s.Flash(Product.Vexo0E51, LightSelector.Light4), Path = x => x.Vexo, Op = "set",
            Expected = new[] { "02 03 00 0A 00", "00 03 00 0A 00", "02 03 00 0A 00", "00 03 00 0A 01" } };
        yield return new TraceCase { Name = "VexoCountedBlink", Init = new[] { Product.Vexo },
            Act = s => s.Blink(Product.Vexo0E51, LightSelector.Light1, 1, 20, 20), Path = x => x.Vexo, Op = "set",
            Expected = new[] { "02 03 00 01 00", "00 03 00 01 00", "02 03 00 01 00", "00 03 00 01 01" } };
        yield return new TraceCase { Name = "VexoOffWithoutLight", Init = new[] { Product.Vexo },
            Act = s => s.Off(Product.Vexo, LightSelector.Light2), Path = x => x.Vexo, Op = "set",
            Expected = new[] { "00 03 00 00 00" } };
        yield return new TraceCase { Name = "VexoModeB", Init = new[] { Product.Vexo },
            Act = s => s.SetVexoModeB(Product.Vexo0E51, DeviceMode.Mode2), Path = x => x.Vexo, Op = "set",
            Expected = new[] { "01 08 02 02" } };
    }

    private static void RunTraceCase(TraceCase c)
    {
        var sim = new Sim();
        string path = c.Path(sim);
        using (var session = new LightingSession(c.Init))
        {
            c.Act(session);
            sim.WaitFor(c.Op, path, c.Expected.Length);
        }
        // A VEXO device's release appends its settings-restore exchanges: compare the effect's part.
        Sequence(c.Expected, sim.Lines(c.Op, path).Take(c.Expected.Length).ToList(), c.Name);
    }

    // The header's GUID of every enum member of the same name (Vexo0E52: PRODUCT_VEXO_0E52).
    private static void EnumsCarryTheHeadersGuids()
    {
        var header = new Dictionary<string, Guid>();
        string text = File.ReadAllText(Environment.GetEnvironmentVariable("KVSDK_HEADER"));
        foreach (Match m in Regex.Matches(text, @"KVSDK_GUID\((\w+),\s*(0x[^)]*)\)"))
        {
            uint[] n = m.Groups[2].Value.Split(',').Select(x => Convert.ToUInt32(x.Trim(), 16)).ToArray();
            header[m.Groups[1].Value] = new Guid(n[0], (ushort)n[1], (ushort)n[2], (byte)n[3], (byte)n[4], (byte)n[5],
                                                 (byte)n[6], (byte)n[7], (byte)n[8], (byte)n[9], (byte)n[10]);
        }
        Func<string, string, string> name = (prefix, member) => prefix + Regex.Replace(member, "([a-z])([A-Z0-9])", "$1_$2").ToUpperInvariant();
        foreach (Product p in Enum.GetValues(typeof(Product)))
            Equal(header[name("PRODUCT_", p.ToString())], LightingSession.GuidOf(p), "Product." + p);
        foreach (LightingMode m in Enum.GetValues(typeof(LightingMode)))
            Equal(header[name("EFFECT_LED_", m.ToString())], LightingSession.GuidOf(m), "LightingMode." + m);
    }

    private static void OnAndOffPauseForTheirDuration()
    {
        var sim = new Sim();
        using (var session = new LightingSession(Product.Vexo0E51))
        {
            session.On(Product.Vexo0E51, LightSelector.Light1, 400);
            session.Off(Product.Vexo0E51, LightSelector.Light1, 400);
            session.On(Product.Vexo0E51, LightSelector.Light1);
            sim.WaitFor("set", sim.Vexo, 6);
        }
        List<int> ms = sim.Times("set", sim.Vexo); // two commands per on or off
        // A pause may give back 1 ms of an earlier late wake-up.
        if (ms[2] - ms[1] < 399 || ms[4] - ms[3] < 399) throw new Exception("no pause: " + string.Join(" ", ms));
    }

    // The library cannot be loaded (a dllmap to a missing file): the session says so each time.
    private static void AFailedLoadOpensNoSession()
    {
        string dir = Path.Combine(s_dir, "unloadable");
        Directory.CreateDirectory(dir);
        string exe = typeof(BindingTests).Assembly.Location;
        foreach (string file in new[] { exe, typeof(LightingSession).Assembly.Location })
            File.Copy(file, Path.Combine(dir, Path.GetFileName(file)));
        File.WriteAllText(Path.Combine(dir, "KvSDK.dll.config"),
            "<configuration><dllmap dll=\"KvSDKEng\" target=\"" + dir + "/missing.so\" /></configuration>");
        var start = new ProcessStartInfo(Environment.GetEnvironmentVariable("KVSDK_MONO") ?? "mono",
            "\"" + Path.Combine(dir, Path.GetFileName(exe)) + "\" load-failure") { UseShellExecute = false, RedirectStandardOutput = true };
        using (Process child = Process.Start(start))
        {
            string output = child.StandardOutput.ReadToEnd();
            child.WaitForExit();
            Sequence(new[] { "DllNotFoundException", "DllNotFoundException" }, output.Split(new[] { '\n' }, StringSplitOptions.RemoveEmptyEntries), "two attempts");
        }
    }

    private static void DisposeRacingACallIsObjectDisposed()
    {
        new Sim();
        var session = new LightingSession(Product.Vexo0E51);
        Exception seen = null;
        var reader = new Thread(() =>
        {
            try { for (;;) session.GetState(Product.Vexo0E51, LightSelector.Light1); }
            catch (Exception e) { seen = e; }
        });
        reader.Start();
        Thread.Sleep(200);
        session.Dispose();
        reader.Join();
        Equal(typeof(ObjectDisposedException), seen.GetType(), "the racing call's exception (" + seen.Message + ")");
    }

    private static void VexoReadsBackWhatWasSet()
    {
        var sim = new Sim();
        using (var session = new LightingSession(Product.Vexo0E51))
        {
            session.On(Product.Vexo0E51, LightSelector.Light4);
            session.SetBrightness(Product.Vexo0E51, LightSelector.Light4, 50);
            sim.WaitFor("set", sim.Vexo, 4);
            Equal(true, session.GetState(Product.Vexo0E51, LightSelector.Light4), "GetState");
            Equal(49, session.GetBrightness(Product.Vexo0E51, LightSelector.Light4), "GetBrightness"); // 0x7F * 100 / 255
        }
    }

    private static void FailuresCarryTheResultCode()
    {
        var sim = new Sim();
        using (var session = new LightingSession(Product.Vexo))
        {
            var e = Throws<KvSDKException>(() => session.SetColor(Product.Vexo0E51, LightSelector.Light1, 1, 2, 3));
            Equal(HResults.E_NOINTERFACE, e.HResult, "HResult");
            Equal("E_NOINTERFACE", e.Name, "Name");
            Equal("KvSDKSetEffect", e.Call, "Call");
            if (e.Message.IndexOf("0x80004002", StringComparison.Ordinal) < 0) throw new Exception("message: " + e.Message);

            EffectParams query = EffectParams.Create(KvSDKGuids.PRODUCT_VEXO_0E51, 1);
            var read = Throws<KvSDKException>(() => session.GetEffect(KvSDKGuids.EFFECT_LED_ON, ref query));
            Equal(HResults.KVSDK_E_NOT_SUPPORTED, read.HResult, "read-back HResult");

            // Range checks stop a request before it reaches the library.
            Throws<ArgumentOutOfRangeException>(() => session.Blink(Product.Vexo0E51, LightSelector.Light1, LightingSession.MaxBlinkCount + 1, 10, 10));
            Throws<ArgumentOutOfRangeException>(() => session.Blink(Product.Vexo0E51, LightSelector.Light1, 0, 256, 10));
            Throws<ArgumentOutOfRangeException>(() => session.SetBrightness(Product.Vexo0E51, LightSelector.Light1, 101));
            Throws<ArgumentOutOfRangeException>(() => session.SetColor(Product.Vexo0E51, (LightSelector)8, 1, 2, 3));
            Throws<ArgumentOutOfRangeException>(() => session.SetColor(Product.PellUsb0E5B, LightSelector.Light1, 1, 2, 3));
            Throws<ArgumentOutOfRangeException>(() => session.Flash((Product)0, LightSelector.Light1));
            Thread.Sleep(100);
            Sequence(new string[0], sim.Lines("set", sim.Vexo), "nothing sent");
        }

        // A single product that is not attached: Init fails, and the session is not left open.
        string none = Path.Combine(s_dir, "none.txt");
        File.WriteAllText(none, "# nothing attached\n");
        Environment.SetEnvironmentVariable("KVSDK_SIM", none);
        var init = Throws<KvSDKException>(() => new LightingSession(Product.PellMouse0E59));
        Equal(HResults.E_FAIL, init.HResult, "Init HResult");
        Equal("KvSDKEngInit", init.Call, "Init Call");
        new LightingSession(Product.Vexo).Dispose();
    }

    private static void DisposeRunsUninit()
    {
        var sim = new Sim();
        var session = new LightingSession(Product.Pell);
        // A long blink would keep the device busy for minutes; Uninit drops it.
        session.Blink(Product.PellMouse0E59, LightSelector.Light1, LightingSession.MaxBlinkCount, 1000, 1000);
        sim.WaitFor("set", sim.Mouse, 2);
        session.Dispose();
        Equal(1, sim.Lines("close", sim.Mouse).Count, "close lines after Dispose");
        int sent = sim.Lines("set", sim.Mouse).Count;
        Thread.Sleep(1200);
        Equal(sent, sim.Lines("set", sim.Mouse).Count, "commands after Dispose");
        Throws<ObjectDisposedException>(() => session.On(Product.PellMouse0E59, LightSelector.Light1));
        session.Dispose(); // a second Dispose does nothing

        // Only one session at a time: the engine is process-wide.
        using (new LightingSession(Product.Pell))
        {
            Throws<InvalidOperationException>(() => new LightingSession(Product.Vexo));
        }
    }

    public static int Main(string[] args)
    {
        if (args.Length == 1 && args[0] == "load-failure")
        {
            for (int attempt = 0; attempt < 2; attempt++)
            {
                try { new LightingSession(Product.Vexo).Dispose(); Console.WriteLine("opened"); }
                catch (Exception e) { Console.WriteLine(e.GetType().Name); }
            }
            return 0;
        }

        s_dir = Path.Combine(Path.GetTempPath(), "kvsdk-csharp-" + Guid.NewGuid().ToString("N"));
        Directory.CreateDirectory(s_dir);
        string registry = Path.Combine(s_dir, "registry.reg");
        File.WriteAllText(registry, "Windows Registry Editor Version 5.00\n");
        Environment.SetEnvironmentVariable("KVSDK_REGISTRY", registry);

        var cases = new List<KeyValuePair<string, Action>>
        {
            new KeyValuePair<string, Action>("LayoutMatchesTheHeader", LayoutMatchesTheHeader),
            new KeyValuePair<string, Action>("VexoReadsBackWhatWasSet", VexoReadsBackWhatWasSet),
            new KeyValuePair<string, Action>("FailuresCarryTheResultCode", FailuresCarryTheResultCode),
            new KeyValuePair<string, Action>("DisposeRunsUninit", DisposeRunsUninit),
            new KeyValuePair<string, Action>("EnumsCarryTheHeadersGuids", EnumsCarryTheHeadersGuids),
            new KeyValuePair<string, Action>("OnAndOffPauseForTheirDuration", OnAndOffPauseForTheirDuration),
            new KeyValuePair<string, Action>("AFailedLoadOpensNoSession", AFailedLoadOpensNoSession),
            new KeyValuePair<string, Action>("DisposeRacingACallIsObjectDisposed", DisposeRacingACallIsObjectDisposed),
        };
        foreach (TraceCase c in TraceCases())
        {
            TraceCase copy = c;
            cases.Add(new KeyValuePair<string, Action>("Trace." + c.Name, () => RunTraceCase(copy)));
        }

        int passed = 0, failed = 0;
        foreach (var entry in cases)
        {
            try
            {
                entry.Value();
                passed++;
                Console.WriteLine("[ PASS ] " + entry.Key);
            }
            catch (Exception e)
            {
                failed++;
                Console.WriteLine("[ FAIL ] " + entry.Key + ": " + e.Message);
                NativeMethods.KvSDKEngUninit();
            }
        }
        try { Directory.Delete(s_dir, true); } catch (IOException) { }
        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed == 0 && passed > 0 ? 0 : 1;
    }
}
