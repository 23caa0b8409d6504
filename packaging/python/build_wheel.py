#!/usr/bin/env python3
"""Builds the wheels of the kvsdk binding with the standard library alone.

    build_wheel.py <package source folder> <output folder> [--native PLATFORM=FOLDER ...]

Writes kvsdk-<version>-py3-none-any.whl: the package's .py files and py.typed, never a native
library (the wheel runs on any platform and finds KvSDKEng where the release packages put it,
or at KVSDK_LIBRARY). Each --native adds a platform wheel, kvsdk-<version>-py3-none-<PLATFORM>.whl,
that carries the library and KvSDKMod inside the package folder, where the binding looks
first: linux_x86_64 (libKvSDKEng.so and libKvSDKMod.so, the redist pair), win_amd64 and
win32 (KvSDKEng.dll and KvSDKMod.dll). The Linux tag is the plain platform tag, not manylinux:
the pair needs glibc 2.34 and libstdc++ of GCC 12, which no manylinux policy of that glibc
allows. No macOS or ARM64 library exists, so there is no wheel for them.

A wheel is a zip file with a .dist-info folder; installing it needs pip alone, no build
backend, so it also installs on a Python that lacks setuptools or wheel. The archives are
reproducible: fixed order and timestamps.
"""

import argparse
import base64
import hashlib
import pathlib
import re
import sys
import zipfile

NAME = "kvsdk"
TIMESTAMP = (1980, 1, 1, 0, 0, 0)
NATIVE = {"linux_x86_64": ("libKvSDKEng.so", "libKvSDKMod.so"),
          "win_amd64": ("KvSDKEng.dll", "KvSDKMod.dll"),
          "win32": ("KvSDKEng.dll", "KvSDKMod.dll")}


def project_field(pyproject, field):
    match = re.search(r'^%s\s*=\s*"([^"]*)"' % field, pyproject, re.MULTILINE)
    if not match:
        sys.exit("build_wheel: no %s in pyproject.toml" % field)
    return match.group(1)


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def build(source, output, platform="any", native=None):
    """One wheel: pure for platform "any", else carrying NATIVE[platform] from 'native'."""
    source = pathlib.Path(source)
    pyproject = (source / "pyproject.toml").read_text(encoding="utf-8")
    version = project_field(pyproject, "version")
    summary = project_field(pyproject, "description")
    requires_python = project_field(pyproject, "requires-python")
    dist_info = "%s-%s.dist-info" % (NAME, version)

    files = []
    for path in sorted((source / NAME).iterdir()):
        if path.suffix == ".py" or path.name == "py.typed":
            files.append(("%s/%s" % (NAME, path.name), path.read_bytes()))
    for name in NATIVE.get(platform, ()):
        files.append(("%s/%s" % (NAME, name), (pathlib.Path(native) / name).read_bytes()))
    readme = (source / "README.md").read_text(encoding="utf-8")
    metadata = ("Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\n"
                "License: Proprietary\nRequires-Python: %s\n"
                "Description-Content-Type: text/markdown\n\n%s"
                % (NAME, version, summary, requires_python, readme))
    wheel = ("Wheel-Version: 1.0\nGenerator: kvsdk build_wheel.py\nRoot-Is-Purelib: %s\n"
             "Tag: py3-none-%s\n" % ("true" if platform == "any" else "false", platform))
    files += [("%s/METADATA" % dist_info, metadata.encode()),
              ("%s/WHEEL" % dist_info, wheel.encode()),
              ("%s/top_level.txt" % dist_info, (NAME + "\n").encode())]
    record = "".join(record_line(name, data) + "\n" for name, data in files)
    record += "%s/RECORD,,\n" % dist_info
    files.append(("%s/RECORD" % dist_info, record.encode()))

    out = pathlib.Path(output)
    out.mkdir(parents=True, exist_ok=True)
    wheel_path = out / ("%s-%s-py3-none-%s.whl" % (NAME, version, platform))
    with zipfile.ZipFile(wheel_path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files:
            info = zipfile.ZipInfo(name, TIMESTAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)
    print(wheel_path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("source")
    parser.add_argument("output")
    parser.add_argument("--native", action="append", default=[], metavar="PLATFORM=FOLDER")
    args = parser.parse_args()
    build(args.source, args.output)
    for entry in args.native:
        platform, _, folder = entry.partition("=")
        if platform not in NATIVE:
            sys.exit("build_wheel: unknown platform %s (known: %s)" % (platform, ", ".join(NATIVE)))
        build(args.source, args.output, platform, folder)


if __name__ == "__main__":
    main()
