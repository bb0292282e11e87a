#!/usr/bin/python3
"""Checks the structure of a built Velumo.dll: what the host relies on
without running it.

    /usr/bin/python3 check_module.py [--machine i386|amd64] --exports plugin_exports.def \
        --host-api xdwapi.def --version-header velumo_version.h path/to/Velumo.dll

Checks the machine, the 14 exports (names, ordinals, module name: those of
the module's export list, which must also run 1 to 14 in alphabetical order),
the imports (xdwapi.dll by ordinal only, exactly the ordinals of the host API
list; no MinGW runtime DLL), and the resources: dialog 3001 (a classic
template, its Japanese caption and font, its controls' ids and texts), icon
group 3000 and its image, the version record (from the generated version
header), language 0x0411 throughout; and that no build time is stamped into
the file header or the export directory (the release is reproducible).
Prints one line per failed check and a closing "N passed, M failed"; exits 1
on any failure.
"""

import argparse
import re
import struct
import sys

import pefile

JAPANESE = 0x0411

# DLLs that every Windows installation has. Anything else (the MinGW runtime
# above all: libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll) would be
# missing on the user's machine.
STOCK_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll"}

# What the module's own code needs from Windows.
REQUIRED_IMPORTS = {
    "kernel32.dll": {"GetModuleFileNameA"},
    "user32.dll": {"MessageBoxA", "DialogBoxParamA", "EndDialog", "LoadIconA", "LoadImageA",
                   "GetActiveWindow", "GetLastActivePopup"},
}

DIALOG_STYLE = 0x80C800C0


def read_exports(path):
    """The export names of a module-definition list, in ordinal order."""
    entries = []
    for line in open(path, encoding="ascii"):
        match = re.match(r"(\S+) = \S+ @(\d+)", line)
        if match:
            entries.append((int(match.group(2)), match.group(1)))
    return [name for _, name in sorted(entries)]


def read_host_ordinals(path):
    return {int(m) for m in re.findall(r"^Host\w+ @(\d+)", open(path, encoding="ascii").read(), re.M)}


def read_version(path):
    """The version defines of the generated header, as {name: value}."""
    text = open(path, encoding="ascii").read()
    return {name: value.strip().strip('"') for name, value in
            re.findall(r"^#define VELUMO_(\w+) (.*)$", text, re.M)}


def controls(version):  # (id, class atom, text), in tab order
    return [
        (1, 0x0080, "OK"),
        (0xFFFF, 0x0082, version["ABOUT_TEXT"]),
        (0xFFFF, 0x0082, None),  # the authorship notice
    ]


def version_strings(version):
    return {
        "Comments": "",
        "FileDescription": "Velumo plugin DLL for DocuWorks",
        "FileVersion": version["FILE_VERSION_TEXT"],
        "InternalName": "Velumo",
        "LegalTrademarks": "",
        "OriginalFilename": "Velumo.DLL",
        "PrivateBuild": "",
        "ProductName": "DocuWorks用 Velumoプラグイン",
        "ProductVersion": version["FILE_VERSION_TEXT"],
        "SpecialBuild": "",
    }


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL:", what)
        return ok

    def equal(self, actual, expected, what):
        return self.check(actual == expected, f"{what}: {actual!r}, expected {expected!r}")


def check_exports(pe, exports, checks):
    checks.equal(len(exports), 14, "entries of the export list")
    checks.equal(exports, sorted(exports), "the export list runs in alphabetical order")
    if not checks.check(hasattr(pe, "DIRECTORY_ENTRY_EXPORT"), "the module has an export directory"):
        return
    directory = pe.DIRECTORY_ENTRY_EXPORT
    checks.equal(directory.name, b"Velumo.dll", "module name in the export directory")
    checks.equal(directory.struct.Base, 1, "ordinal base")
    checks.equal(directory.struct.TimeDateStamp, 0, "time stamp of the export directory (no build time)")
    names = [(s.name.decode("ascii") if s.name else None, s.ordinal) for s in directory.symbols]
    checks.equal(sorted(names, key=lambda n: n[1]),
                 [(name, i + 1) for i, name in enumerate(exports)], "export names and ordinals")
    checks.check(all(s.forwarder is None and s.address for s in directory.symbols),
                 "every export is code in the module, none forwarded")


def check_imports(pe, host_ordinals, checks):
    if not checks.check(hasattr(pe, "DIRECTORY_ENTRY_IMPORT"), "the module has imports"):
        return
    seen = {}
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        dll = entry.dll.decode("ascii").lower()
        seen.setdefault(dll, []).extend(entry.imports)
    checks.equal(sorted(d for d in seen if d not in STOCK_DLLS),
                 ["xdwapi.dll"], "DLLs besides the stock Windows ones")
    host = seen.get("xdwapi.dll", [])
    checks.check(all(i.import_by_ordinal and i.name is None for i in host),
                 "xdwapi.dll is imported by ordinal only: "
                 + ", ".join(str(i.name) for i in host if i.name))
    checks.equal(sorted(i.ordinal for i in host if i.import_by_ordinal),
                 sorted(host_ordinals), "ordinals imported from xdwapi.dll")
    checks.equal(len(host), len(host_ordinals), "number of imports from xdwapi.dll")
    for dll, wanted in REQUIRED_IMPORTS.items():
        names = {i.name.decode("ascii") for i in seen.get(dll, []) if i.name}
        checks.equal(sorted(wanted - names), [], f"functions missing among the imports from {dll}")


def resource_entries(pe):
    """Yields (type id, name id, language, bytes) for every resource."""
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for rname in rtype.directory.entries:
            for rlang in rname.directory.entries:
                data = rlang.data.struct
                blob = pe.get_data(data.OffsetToData, data.Size)
                yield rtype.id, rname.id, rlang.id, blob


def read_sz_or_ord(blob, offset):
    """A dialog template field: 0 (none), 0xFFFF + atom, or a UTF-16 string."""
    first = struct.unpack_from("<H", blob, offset)[0]
    if first == 0:
        return None, offset + 2
    if first == 0xFFFF:
        return ("atom", struct.unpack_from("<H", blob, offset + 2)[0]), offset + 4
    end = offset
    while struct.unpack_from("<H", blob, end)[0] != 0:
        end += 2
    return blob[offset:end].decode("utf-16-le"), end + 2


def check_dialog(blob, expected_controls, checks):
    style, exstyle, count = struct.unpack_from("<IIH", blob, 0)
    checks.check(struct.unpack_from("<HH", blob, 0) != (1, 0xFFFF),
                 "dialog 3001 is a classic template, not DIALOGEX")
    checks.equal(hex(style), hex(DIALOG_STYLE), "dialog style")
    checks.equal(exstyle, 0, "dialog extended style")
    checks.equal(count, len(expected_controls), "number of controls")
    offset = 18
    menu, offset = read_sz_or_ord(blob, offset)
    window_class, offset = read_sz_or_ord(blob, offset)
    caption, offset = read_sz_or_ord(blob, offset)
    checks.equal(menu, None, "dialog menu")
    checks.equal(window_class, None, "dialog class")
    checks.equal(caption, "ﾀﾞｲｱﾛｸﾞ", "dialog caption")
    point_size = struct.unpack_from("<H", blob, offset)[0]
    face, offset = read_sz_or_ord(blob, offset + 2)
    checks.equal((point_size, face), (9, "ＭＳ Ｐゴシック"), "dialog font")
    for number, expected in enumerate(expected_controls[:count], 1):
        offset = (offset + 3) & ~3
        control_id = struct.unpack_from("<H", blob, offset + 16)[0]
        offset += 18
        control_class, offset = read_sz_or_ord(blob, offset)
        text, offset = read_sz_or_ord(blob, offset)
        extra = struct.unpack_from("<H", blob, offset)[0]
        offset += 2 + extra
        eid, eatom, etext = expected
        checks.equal(control_id, eid, f"control {number} id")
        checks.equal(control_class, ("atom", eatom), f"control {number} class")
        if etext is None:
            checks.check(isinstance(text, str) and text.strip() != "" and "\n" not in text,
                         f"control {number} holds a one-line notice: {text!r}")
        else:
            checks.equal(text, etext, f"control {number} text")


def check_icon(group, images, checks):
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    checks.equal((reserved, kind, count), (0, 1, 1), "icon group 3000 holds one icon")
    if count < 1:
        return
    width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
        "<BBBBHHIH", group, 6)
    checks.equal((width, height, colours, planes, bits, size),
                 (32, 32, 16, 1, 4, 744), "icon group entry (32 x 32, 16 colours, 744 bytes)")
    image = images.get(image_id)
    if not checks.check(image is not None, f"icon image {image_id} exists"):
        return
    checks.equal(len(image), 744, "icon image size")
    header = struct.unpack_from("<IiiHH", image, 0)
    checks.equal(header, (40, 32, 64, 1, 4), "icon image header (32 x 32, 1 plane, 4 bpp)")


def check_version(pe, version, checks):
    if not checks.check(hasattr(pe, "VS_FIXEDFILEINFO"), "the module has a version record"):
        return
    fixed = pe.VS_FIXEDFILEINFO[0]
    major, minor, patch = (int(version[k]) for k in ("VERSION_MAJOR", "VERSION_MINOR", "VERSION_PATCH"))
    expected = ((major << 16) | minor, patch << 16)
    checks.equal((fixed.FileVersionMS, fixed.FileVersionLS), expected, "file version")
    checks.equal((fixed.ProductVersionMS, fixed.ProductVersionLS), expected, "product version")
    checks.equal((fixed.FileFlagsMask, fixed.FileFlags), (0x3F, 0), "file flags mask and flags")
    checks.equal((fixed.FileOS, fixed.FileType, fixed.FileSubtype), (4, 2, 0),
                 "operating system, file type and subtype")
    checks.equal((fixed.FileDateMS, fixed.FileDateLS), (0, 0), "file date")
    tables = []
    translations = []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            tables.extend(info.StringTable)
        elif info.Key == b"VarFileInfo":
            for var in info.Var:
                translations.extend(var.entry.values())
    checks.equal([t.LangID for t in tables], [b"041104b0"], "string tables")
    checks.equal(translations, ["0x0411 0x04b0"], "translation entries")
    if not tables:
        return
    strings = {k.decode("utf-8"): v.decode("utf-8") for k, v in tables[0].entries.items()}
    for key, value in version_strings(version).items():
        checks.equal(strings.get(key), value, f"version string {key}")
    for key in ("CompanyName", "LegalCopyright"):
        checks.check(bool(strings.get(key)), f"version string {key} is set")


def check_resources(pe, version, checks):
    entries = list(resource_entries(pe))
    checks.check(bool(entries), "the module has resources")
    checks.equal(sorted({hex(lang) for _, _, lang, _ in entries}), [hex(JAPANESE)],
                 "languages of the resources")
    by_type = {}
    for rtype, rname, _, blob in entries:
        by_type.setdefault(rtype, {})[rname] = blob
    rt_icon, rt_dialog, rt_group_icon, rt_version = 3, 5, 14, 16
    checks.equal(sorted(by_type.get(rt_dialog, {})), [3001], "dialog templates")
    checks.equal(sorted(by_type.get(rt_group_icon, {})), [3000], "icon groups")
    checks.equal(sorted(by_type.get(rt_version, {})), [1], "version records")
    if 3001 in by_type.get(rt_dialog, {}):
        check_dialog(by_type[rt_dialog][3001], controls(version), checks)
    if 3000 in by_type.get(rt_group_icon, {}):
        check_icon(by_type[rt_group_icon][3000], by_type.get(rt_icon, {}), checks)
    check_version(pe, version, checks)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--machine", choices=["i386", "amd64"], default="i386")
    parser.add_argument("--exports", required=True, help="the module's export list (hostapi/plugin_exports.def)")
    parser.add_argument("--host-api", required=True, help="the host API's list (xdwapi.def)")
    parser.add_argument("--version-header", required=True, help="the generated velumo_version.h")
    parser.add_argument("module")
    args = parser.parse_args()

    checks = Checks()
    pe = pefile.PE(args.module)
    machine = {"i386": 0x14C, "amd64": 0x8664}[args.machine]
    checks.equal(hex(pe.FILE_HEADER.Machine), hex(machine), "machine")
    checks.check(pe.FILE_HEADER.Characteristics & 0x2000, "the file is a DLL")
    checks.equal(pe.FILE_HEADER.TimeDateStamp, 0, "time stamp of the file header (no build time)")
    check_exports(pe, read_exports(args.exports), checks)
    check_imports(pe, read_host_ordinals(args.host_api), checks)
    check_resources(pe, read_version(args.version_header), checks)
    print(f"{args.module}: {checks.passed} passed, {checks.failed} failed")
    # The closing line alone, as test runners expect it.
    print(f"{checks.passed} passed, {checks.failed} failed")
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
