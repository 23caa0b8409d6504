// What the C# binding uses of the .NET Standard 2.0 surface, as a reference assembly:
// "netstandard, Version=2.0.0.0" with the public key of the real one. Compiled against it, KvSDK.dll
// references netstandard alone (not mono's mscorlib), as a netstandard2.0 library must, and the
// compiler rejects any API outside this list. Every member here exists in .NET Standard 2.0 with
// this exact signature; the bodies are never run (each runtime binds to its own netstandard).
// build_csharp.py compiles it with `mcs -nostdlib`, delay-signed with the public key read from
// mono's netstandard facade.
[assembly: System.Reflection.AssemblyVersion("2.0.0.0")]

namespace System
{
    public class Object
    {
        public Object() { }
        ~Object() { }
        public virtual bool Equals(object obj) { return false; }
        public virtual int GetHashCode() { return 0; }
        public virtual string ToString() { return null; }
        public Type GetType() { return null; }
    }

    public abstract class ValueType { protected ValueType() { } }
    public abstract class Enum : ValueType { protected Enum() { } }
    public abstract class Array { public int Length { get { return 0; } } }
    public abstract class Delegate { }
    public abstract class MulticastDelegate : Delegate { }
    public abstract class Type { public static Type GetTypeFromHandle(RuntimeTypeHandle handle) { return null; } }

    public sealed class String
    {
        public int Length { get { return 0; } }
        public static string Concat(string str0, string str1) { return null; }
        public static string Concat(string str0, string str1, string str2) { return null; }
        public static string Concat(string str0, string str1, string str2, string str3) { return null; }
        public static string Concat(params string[] values) { return null; }
        public static string Format(string format, object arg0) { return null; }
        public static string Format(string format, object arg0, object arg1) { return null; }
        public static string Format(string format, object arg0, object arg1, object arg2) { return null; }
        public static string Format(string format, params object[] args) { return null; }
        public static bool operator ==(string a, string b) { return false; }
        public static bool operator !=(string a, string b) { return false; }
        public override bool Equals(object obj) { return false; }
        public override int GetHashCode() { return 0; }
    }

    public struct Void { }
    public struct Boolean { }
    public struct Char { }
    public struct SByte { }
    public struct Byte { }
    public struct Int16 { }
    public struct UInt16 { }
    public struct Int32 { }
    public struct UInt32 { }
    public struct Int64 { }
    public struct UInt64 { }
    public struct Single { }
    public struct Double { }
    public struct Decimal { }
    public struct IntPtr { }
    public struct UIntPtr { }
    public struct RuntimeTypeHandle { }
    public struct RuntimeFieldHandle { }
    public struct RuntimeMethodHandle { }

    public struct Guid
    {
        public Guid(int a, short b, short c, byte d, byte e, byte f, byte g, byte h, byte i, byte j, byte k) { }
        public Guid(uint a, ushort b, ushort c, byte d, byte e, byte f, byte g, byte h, byte i, byte j, byte k) { }
    }

    public interface IDisposable { void Dispose(); }

    public enum AttributeTargets
    {
        Assembly = 1, Module = 2, Class = 4, Struct = 8, Enum = 16, Constructor = 32, Method = 64,
        Property = 128, Field = 256, Event = 512, Interface = 1024, Parameter = 2048,
        Delegate = 4096, ReturnValue = 8192, GenericParameter = 16384, All = 32767,
    }

    [AttributeUsage(AttributeTargets.All, Inherited = true, AllowMultiple = false)]
    public abstract class Attribute { protected Attribute() { } }

    public sealed class AttributeUsageAttribute : Attribute
    {
        public AttributeUsageAttribute(AttributeTargets validOn) { }
        public bool AllowMultiple { get { return false; } set { } }
        public bool Inherited { get { return false; } set { } }
    }

    public sealed class ParamArrayAttribute : Attribute { public ParamArrayAttribute() { } }
    public class FlagsAttribute : Attribute { public FlagsAttribute() { } }
    public sealed class SerializableAttribute : Attribute { public SerializableAttribute() { } }

    public class Exception
    {
        public Exception() { }
        public Exception(string message) { }
        public Exception(string message, Exception innerException) { }
        protected Exception(Runtime.Serialization.SerializationInfo info, Runtime.Serialization.StreamingContext context) { }
        public virtual string Message { get { return null; } }
        public int HResult { get { return 0; } protected set { } }
        public virtual void GetObjectData(Runtime.Serialization.SerializationInfo info, Runtime.Serialization.StreamingContext context) { }
    }

    public class SystemException : Exception { public SystemException() { } }

    public class ArgumentException : SystemException
    {
        public ArgumentException(string message, string paramName) { }
    }

    public class ArgumentOutOfRangeException : ArgumentException
    {
        public ArgumentOutOfRangeException(string paramName, object actualValue, string message) : base(null, null) { }
    }

    public class InvalidOperationException : SystemException
    {
        public InvalidOperationException(string message) { }
    }

    public class ObjectDisposedException : InvalidOperationException
    {
        public ObjectDisposedException(string objectName) : base(null) { }
    }
}

namespace System.Collections
{
    public interface IEnumerable { IEnumerator GetEnumerator(); }

    public interface IEnumerator
    {
        object Current { get; }
        bool MoveNext();
        void Reset();
    }
}

namespace System.Collections.Generic
{
    public class Dictionary<TKey, TValue> : IEnumerable
    {
        public Dictionary() { }
        public void Add(TKey key, TValue value) { }
        public bool TryGetValue(TKey key, out TValue value) { value = default(TValue); return false; }
        IEnumerator IEnumerable.GetEnumerator() { return null; }
    }
}

namespace System.Threading
{
    public static class Monitor
    {
        public static void Enter(object obj, ref bool lockTaken) { }
        public static void Exit(object obj) { }
    }
}

namespace System.Runtime.Serialization
{
    public sealed class SerializationInfo
    {
        public void AddValue(string name, object value) { }
        public void AddValue(string name, int value) { }
        public string GetString(string name) { return null; }
        public int GetInt32(string name) { return 0; }
    }

    public struct StreamingContext { }
}

namespace System.Runtime.InteropServices
{
    public enum CallingConvention { Winapi = 1, Cdecl = 2, StdCall = 3, ThisCall = 4, FastCall = 5 }
    public enum LayoutKind { Sequential = 0, Explicit = 2, Auto = 3 }

    public sealed class DllImportAttribute : Attribute
    {
        public DllImportAttribute(string dllName) { }
        public CallingConvention CallingConvention;
        public bool ExactSpelling;
    }

    public sealed class StructLayoutAttribute : Attribute
    {
        public StructLayoutAttribute(LayoutKind layoutKind) { }
        public int Size;
    }

    public sealed class FieldOffsetAttribute : Attribute { public FieldOffsetAttribute(int offset) { } }
    public sealed class OutAttribute : Attribute { public OutAttribute() { } }
}

namespace System.Runtime.CompilerServices
{
    public static class IsVolatile { }
    public sealed class CompilerGeneratedAttribute : Attribute { public CompilerGeneratedAttribute() { } }

    public sealed class RuntimeCompatibilityAttribute : Attribute
    {
        public RuntimeCompatibilityAttribute() { }
        public bool WrapNonExceptionThrows { get { return false; } set { } }
    }
}

namespace System.Runtime.Versioning
{
    public sealed class TargetFrameworkAttribute : Attribute
    {
        public TargetFrameworkAttribute(string frameworkName) { }
        public string FrameworkDisplayName { get { return null; } set { } }
    }
}

namespace System.Reflection
{
    public sealed class AssemblyVersionAttribute : Attribute { public AssemblyVersionAttribute(string version) { } }
    public sealed class AssemblyTitleAttribute : Attribute { public AssemblyTitleAttribute(string title) { } }
    public sealed class AssemblyInformationalVersionAttribute : Attribute
    {
        public AssemblyInformationalVersionAttribute(string informationalVersion) { }
    }
}
