#!/usr/bin/env python3
"""Builds the C# binding as a .NET Standard 2.0 assembly, and its NuGet and Unity packages.

    build_csharp.py assembly <out dir>
        KvSDK.dll (netstandard2.0) and its documentation file KvSDK.xml
    build_csharp.py packages <out dir> [--native RID=FOLDER ...]
        KvSDK.<version>.nupkg and com.kvsdkeng.kvsdk-<version>.tgz, carrying the native
        libraries of each RID given: win-x64 and win-x86 (KvSDKEng.dll, KvSDKMod.dll),
        linux-x64 (libKvSDKEng.so, libKvSDKMod.so: the redist pair of cmake/Redist.cmake)

Needs mono's mcs and sn (Debian: mono-mcs, mono-devel). The archives are reproducible: fixed
order and timestamps. There are no macOS or ARM64 libraries, so neither package has any.
"""

import argparse
import gzip
import hashlib
import io
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parents[1]
SOURCES = REPO / "bindings" / "csharp" / "src"
EXAMPLE = REPO / "bindings" / "csharp" / "examples" / "FlashOnHit.cs"
FACADE = pathlib.Path("/usr/lib/mono/4.5/Facades/netstandard.dll")

NUGET_ID = "KvSDK"
UNITY_NAME = "com.kvsdkeng.kvsdk"
DESCRIPTION = ("C# binding of KvSDKEng, the lighting library of the VEXO and Pell USB devices, "
               "with its native libraries for Windows x64, Windows x86 and Linux x64.")
AUTHOR = "KvSDKEng project"
ZIP_TIME = (1980, 1, 1, 0, 0, 0)
TAR_TIME = 315532800  # 1980-01-01

# RID -> the native files it carries and where Unity keeps them.
NATIVE = {
    "win-x64": (("KvSDKEng.dll", "KvSDKMod.dll"), "Plugins/Windows/x86_64"),
    "win-x86": (("KvSDKEng.dll", "KvSDKMod.dll"), "Plugins/Windows/x86"),
    "linux-x64": (("libKvSDKEng.so", "libKvSDKMod.so"), "Plugins/Linux/x86_64"),
}


def version():
    text = (REPO / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(KvSDKEng VERSION (\d+\.\d+\.\d+)", text).group(1)


def tool(name):
    path = os.environ.get("KVSDK_" + name.upper()) or shutil.which(name)
    if not path:
        sys.exit("build_csharp: %s not found (Debian: mono-mcs, mono-devel)" % name)
    return path


def build_assembly(out):
    """KvSDK.dll compiled against the netstandard subset (netstandard.cs), so that it
    references netstandard 2.0 alone; every public member documented (KvSDK.xml)."""
    out = pathlib.Path(out)
    out.mkdir(parents=True, exist_ok=True)
    if not FACADE.exists():
        sys.exit("build_csharp: %s not found (Debian: mono-devel)" % FACADE)
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        subprocess.run([tool("sn"), "-q", "-e", str(FACADE), str(work / "netstandard.pub")],
                       check=True)
        subprocess.run([tool("mcs"), "-nologo", "-nostdlib", "-target:library", "-nowarn:1699",
                        "-delaysign+", "-keyfile:" + str(work / "netstandard.pub"),
                        "-out:" + str(work / "netstandard.dll"), str(HERE / "netstandard.cs")],
                       check=True)
        info = work / "AssemblyInfo.cs"
        info.write_text(
            '[assembly: System.Runtime.Versioning.TargetFramework(".NETStandard,Version=v2.0", '
            'FrameworkDisplayName = "")]\n'
            '[assembly: System.Reflection.AssemblyTitle("KvSDK")]\n'
            '[assembly: System.Reflection.AssemblyVersion("%s.0")]\n'
            '[assembly: System.Reflection.AssemblyInformationalVersion("%s")]\n'
            % (version(), version()))
        subprocess.run([tool("mcs"), "-nologo", "-nostdlib", "-target:library", "-langversion:7",
                        "-warnaserror+", "-optimize+", "-r:" + str(work / "netstandard.dll"),
                        "-out:" + str(out / "KvSDK.dll"), "-doc:" + str(out / "KvSDK.xml"),
                        str(info)] + sorted(str(p) for p in SOURCES.glob("*.cs")), check=True)
    return out / "KvSDK.dll"


def natives(entries):
    """--native RID=FOLDER -> {rid: [(name, bytes)]}; every file of the RID must be there."""
    found = {}
    for entry in entries:
        rid, _, folder = entry.partition("=")
        if rid not in NATIVE:
            sys.exit("build_csharp: unknown RID %s (known: %s)" % (rid, ", ".join(NATIVE)))
        files = []
        for name in NATIVE[rid][0]:
            path = pathlib.Path(folder) / name
            if not path.is_file():
                sys.exit("build_csharp: %s is missing" % path)
            files.append((name, path.read_bytes()))
        found[rid] = files
    return found


# ---- NuGet: a zip with the .nuspec, the Open Packaging parts, lib/ and runtimes/ ----

def nuspec(ver):
    return """<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd">
  <metadata>
    <id>%s</id>
    <version>%s</version>
    <authors>%s</authors>
    <description>%s</description>
    <license type="file">LICENSE.txt</license>
    <readme>README.md</readme>
    <tags>lighting usb native</tags>
    <dependencies>
      <group targetFramework=".NETStandard2.0" />
    </dependencies>
  </metadata>
</package>
""" % (NUGET_ID, ver, AUTHOR, DESCRIPTION)


def nuget_readme():
    return ("# %s\n\n%s\n\n`lib/netstandard2.0/KvSDK.dll` is the binding; `runtimes/<rid>/native/` "
            "holds KvSDKEng with its device-I/O library KvSDKMod for win-x64, win-x86 and "
            "linux-x64 (glibc 2.34 and libstdc++ of GCC 12 or later). There is no macOS and no "
            "ARM64 library. See docs/csharp.md of KvSDKEng.\n"
            % (NUGET_ID, DESCRIPTION))


def build_nuget(out, assembly_dir, native, ver):
    parts = [("%s.nuspec" % NUGET_ID, nuspec(ver).encode()),
             ("README.md", nuget_readme().encode()),
             ("LICENSE.txt", (REPO / "LICENSE").read_bytes())]
    for name in ("KvSDK.dll", "KvSDK.xml"):
        parts.append(("lib/netstandard2.0/" + name, (assembly_dir / name).read_bytes()))
    for rid in sorted(native):
        parts += [("runtimes/%s/native/%s" % (rid, name), data) for name, data in native[rid]]
    props = hashlib.sha1(ver.encode()).hexdigest()
    parts.append(("package/services/metadata/core-properties/%s.psmdcp" % props, (
        '<?xml version="1.0" encoding="utf-8"?><coreProperties '
        'xmlns:dc="http://purl.org/dc/elements/1.1/" '
        'xmlns="http://schemas.openxmlformats.org/package/2006/metadata/core-properties">'
        '<dc:creator>%s</dc:creator><dc:description>%s</dc:description>'
        '<dc:identifier>%s</dc:identifier><version>%s</version></coreProperties>'
        % (AUTHOR, DESCRIPTION, NUGET_ID, ver)).encode()))
    parts.append(("_rels/.rels", (
        '<?xml version="1.0" encoding="utf-8"?><Relationships '
        'xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" '
        'Target="/%s.nuspec" Id="R1" />'
        '<Relationship Type="http://schemas.openxmlformats.org/package/2006/relationships/'
        'metadata/core-properties" Target="/package/services/metadata/core-properties/%s.psmdcp"'
        ' Id="R2" /></Relationships>' % (NUGET_ID, props)).encode()))
    extensions = sorted({name.rsplit(".", 1)[-1] for name, _ in parts})
    types = "".join('<Default Extension="%s" ContentType="%s" />' % (
        ext, "application/vnd.openxmlformats-package.relationships+xml" if ext == "rels"
        else "application/vnd.openxmlformats-package.core-properties+xml" if ext == "psmdcp"
        else "application/octet") for ext in extensions)
    parts.append(("[Content_Types].xml", (
        '<?xml version="1.0" encoding="utf-8"?><Types '
        'xmlns="http://schemas.openxmlformats.org/package/2006/content-types">%s</Types>'
        % types).encode()))
    path = out / ("%s.%s.nupkg" % (NUGET_ID, ver))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in parts:
            info = zipfile.ZipInfo(name, ZIP_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)
    return path


# ---- Unity: a UPM package (npm-style tarball) with .meta files for every asset ----

def meta_guid(path):
    """A stable asset GUID per package path, so that upgrades keep references."""
    return hashlib.md5((UNITY_NAME + "/" + path).encode()).hexdigest()


def importer_meta(path, importer, body=""):
    return ("fileFormatVersion: 2\nguid: %s\n%s%s:\n%s  externalObjects: {}\n  userData: \n"
            "  assetBundleName: \n  assetBundleVariant: \n"
            % (meta_guid(path), "folderAsset: yes\n" if importer == "DefaultImporter" else "",
               importer, body))


# Unity's platform entries: (first, enabled settings for this RID, disabled settings).
def plugin_meta(path, rid):
    """Import settings that enable a native library for its own OS and CPU only: the 32-bit
    DLLs for 32-bit Windows players (never the 64-bit Editor), the x86_64 ones for the
    Windows Editor and 64-bit players, the .so pair for the Linux Editor and players."""
    editor_os = {"win-x64": "Windows", "linux-x64": "Linux"}.get(rid)
    standalone = {"win-x86": ("Win", "x86"), "win-x64": ("Win64", "x86_64"),
                  "linux-x64": ("Linux64", "x86_64")}[rid]
    entries = [("Editor: Editor", bool(editor_os), {
        "CPU": "x86_64" if editor_os else "AnyCPU", "DefaultValueInitialized": "true",
        "OS": editor_os or "AnyOS"})]
    for target in ("Linux64", "OSXUniversal", "Win", "Win64"):
        enabled = target == standalone[0]
        entries.append(("Standalone: " + target, enabled,
                        {"CPU": standalone[1] if enabled else "None"}))
    excludes = {"Exclude Editor": int(not editor_os)}
    for target in ("Linux64", "OSXUniversal", "Win", "Win64"):
        excludes["Exclude " + target] = int(target != standalone[0])
    lines = ["  serializedVersion: 2", "  iconMap: {}", "  executionOrder: {}",
             "  defineConstraints: []", "  isPreloaded: 0", "  isOverridable: 0",
             "  isExplicitlyReferenced: 0", "  validateReferences: 1", "  platformData:",
             "  - first:", "      : Any", "    second:", "      enabled: 0", "      settings:"]
    lines += ["        %s: %d" % item for item in sorted(excludes.items())]
    lines += ["  - first:", "      Any: ", "    second:", "      enabled: 0", "      settings: {}"]
    for first, enabled, settings in entries:
        lines += ["  - first:", "      " + first, "    second:",
                  "      enabled: %d" % enabled, "      settings:"]
        lines += ["        %s: %s" % item for item in sorted(settings.items())]
    return importer_meta(path, "PluginImporter", "\n".join(lines) + "\n")


def build_unity(out, native, ver):
    files = {
        "package.json": json.dumps({
            "name": UNITY_NAME, "version": ver, "displayName": "KvSDK lighting",
            "description": DESCRIPTION, "unity": "2019.4", "author": {"name": AUTHOR},
            "samples": [{"displayName": "Flash on hit", "path": "Samples~/FlashOnHit",
                         "description": "A MonoBehaviour that flashes the lights on an event"}],
        }, indent=2).encode() + b"\n",
        "README.md": nuget_readme().replace(NUGET_ID, UNITY_NAME, 1).encode(),
        "LICENSE.md": (REPO / "LICENSE").read_bytes(),
        "Runtime/KvSDK.asmdef": json.dumps({
            "name": "KvSDK", "rootNamespace": "KvSDK", "references": [],
            "includePlatforms": [], "excludePlatforms": [], "allowUnsafeCode": False,
            "autoReferenced": True, "noEngineReferences": True,
        }, indent=2).encode() + b"\n",
        # Folders ending in ~ are not imported: the sample is copied into Assets/ on request.
        "Samples~/FlashOnHit/FlashOnHit.cs": EXAMPLE.read_bytes(),
    }
    for source in sorted(SOURCES.glob("*.cs")):
        files["Runtime/" + source.name] = source.read_bytes()
    for rid in sorted(native):
        for name, data in native[rid]:
            files["%s/%s" % (NATIVE[rid][1], name)] = data

    metas = {}
    for path in files:
        if "~" in path:
            continue
        suffix = pathlib.PurePath(path).suffix
        if suffix in (".dll", ".so"):
            rid = next(r for r in native if path.startswith(NATIVE[r][1] + "/"))
            metas[path + ".meta"] = plugin_meta(path, rid)
        else:
            importer = {".cs": "MonoImporter", ".asmdef": "AssemblyDefinitionImporter",
                        ".json": "PackageManifestImporter"}.get(suffix, "TextScriptImporter")
            metas[path + ".meta"] = importer_meta(path, importer)
        folder = pathlib.PurePath(path).parent
        while str(folder) != ".":
            metas[str(folder) + ".meta"] = importer_meta(str(folder), "DefaultImporter")
            folder = folder.parent
    files.update((name, text.encode()) for name, text in metas.items())

    path = out / ("%s-%s.tgz" % (UNITY_NAME, ver))
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        for name in sorted(files):
            info = tarfile.TarInfo("package/" + name)
            info.size, info.mtime, info.mode = len(files[name]), TAR_TIME, 0o644
            archive.addfile(info, io.BytesIO(files[name]))
    path.write_bytes(gzip.compress(buffer.getvalue(), mtime=0))
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("what", choices=("assembly", "packages"))
    parser.add_argument("out")
    parser.add_argument("--native", action="append", default=[], metavar="RID=FOLDER")
    args = parser.parse_args()
    out = pathlib.Path(args.out)
    if args.what == "assembly":
        print(build_assembly(out))
        return
    native = natives(args.native)
    out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        assembly_dir = build_assembly(work).parent
        print(build_nuget(out, assembly_dir, native, version()))
    print(build_unity(out, native, version()))


if __name__ == "__main__":
    main()
