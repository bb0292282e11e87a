#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (tests/fuzz/corpus/<target>/).

Each seed is a small, readable case in the input format that the target's
source describes; the fuzzer mutates from there. Run it again after changing
a format; files it does not write (inputs of failures found by fuzzing, such
as region/negative-height-page-huge-minimum) are left alone.
"""
import json
import os
import re
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def host_ordinals():
    """The host API's ordinals by operation name, in the order of their one
    list, hostapi/xdwapi.def."""
    ordinals = {}
    with open(os.path.join(ROOT, "hostapi", "xdwapi.def"), encoding="ascii") as listing:
        for line in listing:
            entry = re.match(r"Host([A-Za-z]+) @([0-9]+)", line)
            if entry:
                ordinals[entry.group(1)] = int(entry.group(2))
    return ordinals


ORDINALS = host_ordinals()


def i32(*values):
    return b"".join(struct.pack("<i", v) for v in values)


def u32(value):
    return struct.pack("<I", value)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# --- region: flags, width, height, [failing allocation], [minimum],
# [pieces from which the grid is used], frames ---

def region(name, width, height, frames, fail_at=None, minimum=None, grid_from=None):
    flags = ((1 if fail_at is not None else 0) | (2 if minimum is not None else 0)
             | (4 if grid_from is not None else 0))
    data = bytes([flags]) + i32(width, height)
    if fail_at is not None:
        data += bytes([fail_at - 1])
    if minimum is not None:
        data += i32(minimum)
    if grid_from is not None:
        data += bytes([grid_from])
    for frame in frames:
        data += i32(*frame)
    write("region", name, data)


region("worked-example", 1000, 1000, [(100, 100, 200, 200)])
region("same-frame-twice", 1000, 1000, [(100, 100, 200, 200), (100, 100, 200, 200)])
region("growth-from-neighbours", 1000, 1000, [(100, 400, 800, 100), (200, 550, 600, 400)])
region("shortage-in-a-split", 1000, 1000, [(100, 100, 200, 200), (400, 50, 10, 900)], fail_at=5)
region("edges-and-empty-frames", 21000, 29700,
       [(500, 0, 0, 29700), (-50, -50, 300, 29800), (1000, 100, 100, 100), (20900, 29600, 0, 0)])
region("far-away-and-negative", 2147483647, 1,
       [(2147483647, 2147483647, 2147483647, 2147483647), (-2147483648, -1, -1, 5),
        (600, -1, 2147483647, 2147483647)], minimum=2147483647)
ruled = ([(150 * i, 0, 2, 1000) for i in range(1, 7)]
         + [(0, 150 * i, 1000, 2) for i in range(1, 7)])
region("ruled-page", 1000, 1000, ruled)
region("ruled-page-grid-on-the-way", 1000, 1000, ruled, grid_from=20)
# The fourth allocation is the first cell table of the grid.
region("shortage-in-the-grid", 1000, 1000, ruled, fail_at=4)

# --- document: see tests/fuzz/fuzz_document.cpp --------------------------

CODES = [0x80070057, 0x80040001, 0x80040003, 0x80070002, 0x80070005, 0x8007007B,
         0x800E0005, 0x8007000B, 0x80070050, 0x80004005, 0x8007000E, 0x80000000,
         0xFFFFFFFF]
RECTANGLE = 0x803D


def keep_frame(x, y, w, h):
    # a rectangle, border style 1, fill style present and 0
    return bytes([0b00011100]) + i32(x, y, w, h)


def filled_rectangle(x, y, w, h):
    # border style 1, fill style 1
    return bytes([0b00111100]) + i32(x, y, w, h)


def no_fill_attribute(x, y, w, h):
    return bytes([0b00001100]) + i32(x, y, w, h)


def text_note(x, y, w, h):
    return bytes([3]) + i32(0x8030) + i32(x, y, w, h)


def page(width, height, annotations, skew_bits=0):
    return i32(width, height) + bytes([len(annotations) | skew_bits << 4]) + b"".join(annotations)


def document(name, pages, fail=None, fail_at=0, quirks=0, extra=b"", path=b"C:\\docs\\plan.xdw"):
    if fail is None:
        head = bytes([0, 0, 0])
    else:
        operation, call, code = fail
        head = bytes([list(ORDINALS).index(operation) + 1, call - 1, CODES.index(code)])
    data = head + bytes([fail_at, quirks]) + extra + bytes([len(path)]) + path
    data += bytes([len(pages)]) + b"".join(pages)
    write("document", name, data)


A4 = (21000, 29700)
frames_page = page(*A4, [text_note(300, 1500, 9500, 900), keep_frame(1000, 2000, 8000, 3000),
                         filled_rectangle(5000, 9000, 2000, 2000), keep_frame(12000, 15000, 6000, 4000)])
plain_page = page(*A4, [text_note(10, 10, 20, 20)])
edge_page = page(1000, 1000, [keep_frame(0, 100, 1000, 800)])

document("two-pages", [frames_page, plain_page])
document("refused-off-page", [plain_page, edge_page, edge_page], quirks=0b00010000)
document("refused-adds-and-minimum", [frames_page], quirks=0b01100000,
         extra=i32(400) + u32(0b1010))
document("annotation-information-fails", [frames_page, edge_page],
         fail=("GetAnnotationInformation", 3, 0x80004005))
document("save-fails", [edge_page], fail=("SaveDocument", 1, 0x80070005))
document("memory-runs-out", [frames_page, edge_page], fail_at=4)
document("unreadable-fill-style", [page(1000, 1000, [keep_frame(0, 0, 10, 10),
                                                     no_fill_attribute(0, 0, 50, 50)])])
document("odd-counts", [frames_page, edge_page], quirks=0b00001011,
         fail=("GetDocumentInformation", 1, 0x80004005))

# --- reader: document files as the stand-in host reads them --------------

with open(os.path.join(ROOT, "examples", "sample.json"), "rb") as sample:
    write("reader", "sample.json", sample.read())
write("reader", "empty.json", b'{"pages": []}')
write("reader", "host-settings.json", json.dumps({
    "version": 3,
    "pages": [{"width": 1000, "height": 1000, "rotation": 90, "annotations": [
        {"type": RECTANGLE, "x": -5, "y": 0, "width": 2147483647, "height": 1,
         "attributes": {"%BorderStyle": 1, "%FillStyle": 0}, "note": "\u65e5\u672c"}]}],
    "host": {"minAnnotationSize": 300, "refuseOffPage": True,
             "failures": [{"ordinal": ORDINALS["AddAnnotation"], "call": 2, "result": "0x80004005"},
                          {"ordinal": ORDINALS["GetDocumentInformation"], "call": 1,
                           "result": -2147024891}]},
}).encode())
write("reader", "open-fails.json", b'{"pages":[],"host":{"failures":[{"ordinal":%d,"call":1,"result":"0x80070002"}]}}'
      % ORDINALS["OpenDocument"])
write("reader", "not-a-document.json", b'{"pages": [{"width": 1}], "x": [1, 2.5e400, "\\ud800"]}')
write("reader", "carried-numbers.json",
      b'{"pages":[{"width":1,"height":1,"scale":1e400,"id":-0}],"serial":18446744073709551616,'
      b'"tiny":-1.5E-400,"s":"\\ud83d\\ude00\\u00e9\\/"}')
write("reader", "deep.json", b'{"pages": [], "deep": ' + b"[" * 70 + b"]" * 70 + b"}")
