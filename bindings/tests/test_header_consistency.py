"""include/KvSDKEng.h is the one source of the GUIDs, the record's offsets and the result codes:
both bindings must carry exactly what it declares. Adding a GUID to the header without adding it
to a binding fails here."""

import pathlib
import re

BINDINGS = pathlib.Path(__file__).resolve().parents[1]
REPO_ROOT = BINDINGS.parent

HEADER = REPO_ROOT / "include" / "KvSDKEng.h"
CSHARP = sorted((BINDINGS / "csharp" / "src").glob("*.cs"))

NUMBER = r"(?:0[xX][0-9A-Fa-f]+|\d+)[uUlL]*"


def without_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def to_int(literal):
    return int(literal.rstrip("uUlL"), 0)


def guids_in(text):
    """Every NAME followed by exactly 11 integer literals: KVSDK_GUID(NAME, l, w1, w2, b1..b8),
    DEFINE_GUID(NAME, ...), `static const GUID NAME = {l, w1, w2, {b1, ..., b8}}` and
    `new Guid(0x..., ...)` after a C# field name all read alike."""
    found = {}
    pattern = re.compile(r"\b([A-Z][A-Z0-9_]*)\b[^;A-Za-z0-9_]*?((?:%s)(?:[\s,{}()]+%s){10})(?![\s,{}]*\d)"
                         % (NUMBER, NUMBER))
    for line in re.split(r";", text):
        line = re.sub(r"\bnew\s+Guid\b", " ", line)
        for match in pattern.finditer(line):
            numbers = tuple(to_int(n) for n in re.findall(NUMBER, match.group(2)))
            assert match.group(1) not in found, "%s defined twice" % match.group(1)
            found[match.group(1)] = numbers
    return found


def header_text():
    return without_comments(HEADER.read_text())


def csharp_text():
    return without_comments("\n".join(path.read_text() for path in CSHARP))


def header_guids():
    guids = guids_in(header_text())
    assert len(guids) >= 2, "no GUID definitions recognised in %s" % HEADER
    return guids


def header_results():
    """#define NAME ((HRESULT)0x...) or a spelling like it, for the S_ and E_ codes."""
    codes = {}
    for name, body in re.findall(r"^\s*#\s*define\s+((?:KVSDK_)?[SE]_[A-Z0-9_]+)\s+(.+)$",
                                 header_text(), flags=re.M):
        numbers = re.findall(NUMBER, body)
        if numbers:
            codes[name] = to_int(numbers[-1]) & 0xFFFFFFFF
    assert {"S_OK", "E_FAIL", "KVSDK_E_NOT_SUPPORTED"} <= set(codes), codes
    return codes


def header_offsets():
    """offsetof(EffectParams, field) == N from the header's layout checks, and the size."""
    text = header_text()
    offsets = {name: int(value) for name, value in re.findall(
        r"offsetof\s*\(\s*EffectParams\s*,\s*(\w+)\s*\)\s*==\s*(\d+)", text)}
    sizes = set(re.findall(r"sizeof\s*\(\s*EffectParams\s*\)\s*==\s*(\d+)", text))
    assert offsets and len(sizes) == 1, "EffectParams layout checks not found in the header"
    return offsets, int(sizes.pop())


# ---- Python ----

def test_python_has_every_guid_of_the_header():
    import kvsdk
    assert {name: guid.fields() for name, guid in kvsdk.raw.GUIDS.items()} == header_guids()


def test_python_enums_carry_the_headers_guids():
    from kvsdk import LightingMode, Product
    members = {"PRODUCT_" + p.name: p.guid for p in Product}
    members.update(("EFFECT_LED_" + m.name, m.guid) for m in LightingMode)
    header = header_guids()
    assert {name: guid.fields() for name, guid in members.items()} == \
        {name: header.get(name) for name in members}


def test_python_record_has_the_header_layout():
    import ctypes
    import kvsdk
    offsets, size = header_offsets()
    assert ctypes.sizeof(kvsdk.EffectParams) == size
    assert {name: kvsdk.EffectParams.offset_of(name) for name in offsets} == offsets
    assert set(kvsdk.EffectParams.OFFSETS) == set(offsets)


def test_python_has_every_result_code_of_the_header():
    import kvsdk
    python = {name: value & 0xFFFFFFFF for name, value in kvsdk.raw.RESULT_CODES.items()}
    assert python == header_results()


# ---- C# ----

def test_csharp_has_every_guid_of_the_header():
    assert guids_in(csharp_text()) == header_guids()


def test_csharp_record_has_the_header_layout():
    text = csharp_text()
    struct = re.search(r"struct\s+EffectParams\s*\{(.*?)\n    \}", text, flags=re.S)
    assert struct, "EffectParams not found in the C# sources"
    fields = {name: int(offset) for offset, name in re.findall(
        r"\[FieldOffset\((\d+)\)\]\s*public\s+\w+\s+(\w+)\s*;", struct.group(1))}
    offsets, size = header_offsets()
    assert fields == offsets
    assert re.search(r"StructLayout\(LayoutKind\.Explicit,\s*Size\s*=\s*%d\)" % size, text)


def test_csharp_has_every_result_code_of_the_header():
    body = re.search(r"class\s+HResults\s*\{(.*?)\n    \}", csharp_text(), flags=re.S)
    assert body, "HResults not found in the C# sources"
    codes = {name: to_int(value) & 0xFFFFFFFF for name, value in re.findall(
        r"public\s+const\s+int\s+(\w+)\s*=\s*(?:unchecked\s*\(\s*\(\s*int\s*\)\s*)?(%s)" % NUMBER,
        body.group(1))}
    assert codes == header_results()


def test_a_guid_added_to_the_header_is_missed():
    """What the header gains, the parser sees, so the comparisons above fail until both
    bindings carry it."""
    added = header_text() + "\nKVSDK_GUID(EFFECT_NEW, 0x1, 0x2, 0x3, 0x4, 0x5, 0x6, 0x7, 0x8, " \
                            "0x9, 0xA, 0xB);\n"
    assert guids_in(added) == dict(header_guids(), EFFECT_NEW=tuple(range(1, 12)))
