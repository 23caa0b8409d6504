#!/usr/bin/env python3
"""Builds the pure-Python wheel of the kvsdk binding with the standard library alone.

    build_wheel.py <package source folder> <output folder>

Writes kvsdk-<version>-py3-none-any.whl: the package's .py files and py.typed, never a native
library (the wheel runs on any platform and finds KvSDKEng where the release packages put it,
or at KVSDK_LIBRARY). A wheel is a zip file with a .dist-info folder; installing it needs pip
alone, no build backend, so it also installs on a Python that lacks setuptools or wheel. The
archive is reproducible: fixed order and timestamps.
"""

import base64
import hashlib
import pathlib
import re
import sys
import zipfile

NAME = "kvsdk"
TIMESTAMP = (1980, 1, 1, 0, 0, 0)


def project_field(pyproject, field):
    match = re.search(r'^%s\s*=\s*"([^"]*)"' % field, pyproject, re.MULTILINE)
    if not match:
        sys.exit("build_wheel: no %s in pyproject.toml" % field)
    return match.group(1)


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def main(source, output):
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
    readme = (source / "README.md").read_text(encoding="utf-8")
    metadata = ("Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\n"
                "License: Proprietary\nRequires-Python: %s\n"
                "Description-Content-Type: text/markdown\n\n%s"
                % (NAME, version, summary, requires_python, readme))
    wheel = ("Wheel-Version: 1.0\nGenerator: kvsdk build_wheel.py\nRoot-Is-Purelib: true\n"
             "Tag: py3-none-any\n")
    files += [("%s/METADATA" % dist_info, metadata.encode()),
              ("%s/WHEEL" % dist_info, wheel.encode()),
              ("%s/top_level.txt" % dist_info, (NAME + "\n").encode())]
    record = "".join(record_line(name, data) + "\n" for name, data in files)
    record += "%s/RECORD,,\n" % dist_info
    files.append(("%s/RECORD" % dist_info, record.encode()))

    out = pathlib.Path(output)
    out.mkdir(parents=True, exist_ok=True)
    wheel_path = out / ("%s-%s-py3-none-any.whl" % (NAME, version))
    with zipfile.ZipFile(wheel_path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files:
            info = zipfile.ZipInfo(name, TIMESTAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)
    print(wheel_path)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
