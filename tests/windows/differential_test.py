#!/usr/bin/python3
"""The real plug-in against the console runner, on random documents.

    differential_test.py --native velumo --host velumo_host.sh --work DIR
                         [--cases N] [--seed S]

Makes N runs of the masking command (several documents in some, none in a
few) over random stand-in documents: odd pages and frames, refusals by the
host, failing host calls of every kind, miscounts, documents that are not
valid, missing files. Each run is done twice on identical copies: once by
the native runner (`velumo mask`), once by the Windows module through
velumo_host in Wine, all of the latter's runs in one process (`velumo_host
batch`). Both must leave the same bytes in every file (and nothing else
beside them), print the same messages and the same diagnostics, and end
with the same status. Diagnostics differ only in the system's own words
after a failed open or save, which are Linux's on one side and Windows' on
the other; those are cut before comparing. Prints one line per difference
and a closing "N passed, M failed".
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys

RECTANGLE = 0x803D
ORDINALS = [22, 23, 24, 25, 32, 55, 56, 64, 65, 66]
RESULTS = ["0x80004005", "0x80070002", "0x80070005", "0x8007000B", "0x8007000E",
           "0x80070057", "0x800E0005", "0x80040001", "0x80040003", "0x80070050", -1]
INT32_MIN, INT32_MAX = -2**31, 2**31 - 1


def coordinate(rng, page):
    """A position: mostly on the page, sometimes off it or far away."""
    roll = rng.random()
    if roll < 0.8:
        return rng.randint(-200, max(page, 0) + 200)
    if roll < 0.95:
        return rng.randint(-50000, 50000)
    return rng.choice([INT32_MIN, INT32_MIN + 1, INT32_MAX - 1, INT32_MAX, 0])


def size(rng):
    roll = rng.random()
    if roll < 0.7:
        return rng.randint(1, 6000)
    if roll < 0.85:
        return rng.randint(-50, 299)
    return rng.choice([0, 1, INT32_MAX, INT32_MIN, 40000])


def annotation(rng, width, height):
    roll = rng.random()
    kind = RECTANGLE if roll < 0.85 else rng.choice([32816, 32768, 0])
    border = rng.choice([1, 1, 1, 0, 2, -1])
    fill = rng.choice([0, 0, 0, 1, 2])
    item = {"type": kind, "x": coordinate(rng, width), "y": coordinate(rng, height),
            "width": size(rng), "height": size(rng)}
    attributes = {}
    if rng.random() < 0.95:
        attributes["%BorderStyle"] = border
    if rng.random() < 0.95:
        attributes["%FillStyle"] = fill
    if rng.random() < 0.1:
        attributes["%Other"] = rng.randint(-5, 5)
    if attributes or rng.random() < 0.5:
        item["attributes"] = attributes
    if rng.random() < 0.05:
        item["note"] = "carried along"
    return item


def host_settings(rng):
    host = {}
    if rng.random() < 0.3:
        host["minAnnotationSize"] = rng.choice([1, 300, 500, 2000, 5000, 100000])
    if rng.random() < 0.2:
        host["refuseOffPage"] = True
    if rng.random() < 0.45:
        host["failures"] = [{"ordinal": rng.choice(ORDINALS), "call": rng.randint(1, 6),
                             "result": rng.choice(RESULTS)}
                            for _ in range(rng.randint(1, 2))]
    if rng.random() < 0.08:
        host["pageCountSkew"] = rng.choice([-1, 1, 2])
    if rng.random() < 0.08:
        host["annotationCountSkew"] = rng.choice([-1, 1, 2])
    if rng.random() < 0.05:
        host["countOnFailure"] = True
    return host


def document_text(rng):
    """A document file's bytes, or None for a file that is not there."""
    roll = rng.random()
    if roll < 0.03:
        return None
    if roll < 0.05:
        return rng.choice([b'{"pages": 7}', b'{"pages": [', b"not json", b"",
                           b'{"pages":[],"pages":[]}'])
    pages = []
    for _ in range(rng.choice([0, 1, 1, 1, 2, 2, 3])):
        width = rng.choice([21000, 10000, 1000, 300, 1, 0, -5])
        height = rng.choice([29700, 10000, 1000, 299, 1, 0])
        page = {"width": width, "height": height}
        count = rng.choice([0, 1, 1, 2, 3, 4, 6, 10])
        if count or rng.random() < 0.7:
            page["annotations"] = [annotation(rng, width, height) for _ in range(count)]
        pages.append(page)
    document = {"pages": pages}
    host = host_settings(rng)
    if host:
        document["host"] = host
    if rng.random() < 0.05:
        document["title"] = "見積書 №7"
    return json.dumps(document, ensure_ascii=False, separators=(",", ":")).encode()


NAMES = ["a.json", "見積 100%.json", "b c.json", "表示.json", "z.json"]


def make_cases(rng, count):
    """[(argument list, {name: bytes or None})], the names relative to the case's folder."""
    cases = []
    for number in range(1, count + 1):
        folder = "c%03d" % number
        files = rng.choice([0] + [1] * 12 + [2] * 4 + [3] * 3)
        names = rng.sample(NAMES, files)
        contents = {name: document_text(rng) for name in names}
        cases.append(([folder + "/" + name for name in names], contents))
    return cases


def lay_out(root, cases):
    shutil.rmtree(root, ignore_errors=True)
    for number, (_, contents) in enumerate(cases, 1):
        folder = os.path.join(root, "c%03d" % number)
        os.makedirs(folder)
        for name, text in contents.items():
            if text is not None:
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(text)


def snapshot(root, number):
    folder = os.path.join(root, "c%03d" % number)
    return {name: open(os.path.join(folder, name), "rb").read() for name in sorted(os.listdir(folder))}


# The system's words after a failed open or save differ between Linux and
# Windows; everything before them must agree.
SYSTEM_WORDS = re.compile(rb"^(velumo: .*: (opening|saving) the document failed \(0x[0-9A-F]{8}\)): .*$",
                          re.M)


def comparable(diagnostics):
    return SYSTEM_WORDS.sub(rb"\1: (the system's words)", diagnostics)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True, help="the console runner")
    parser.add_argument("--host", required=True, help="a command that runs velumo_host")
    parser.add_argument("--work", required=True, help="a folder for the documents (made afresh)")
    parser.add_argument("--cases", type=int, default=240)
    parser.add_argument("--seed", type=int, default=20261208)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    cases = make_cases(rng, args.cases)
    work = os.path.abspath(args.work)
    native_root = os.path.join(work, "native")
    host_root = os.path.join(work, "host")
    host_out = os.path.join(work, "host-out")
    lay_out(native_root, cases)
    lay_out(host_root, cases)
    shutil.rmtree(host_out, ignore_errors=True)
    os.makedirs(host_out)
    with open(os.path.join(work, "cases.txt"), "wb") as f:
        for arguments, _ in cases:
            f.write("\t".join(arguments).encode() + b"\n")

    native = []
    for arguments, _ in cases:
        run = subprocess.run([os.path.abspath(args.native), "mask"] + arguments, cwd=native_root,
                             capture_output=True)
        native.append((run.stdout, run.stderr, run.returncode))
    batch = subprocess.run([os.path.abspath(args.host), "batch", os.path.join(work, "cases.txt"), host_out],
                           cwd=host_root, capture_output=True)
    if batch.returncode != 0:
        print("velumo_host batch ended with %d:\n%s" % (batch.returncode, batch.stderr.decode(errors="replace")))
        return 1

    passed = failed = 0
    statuses = {}
    for number, (arguments, _) in enumerate(cases, 1):
        out, err, status = native[number - 1]
        base = os.path.join(host_out, str(number))
        try:
            host = (open(base + ".out", "rb").read(), open(base + ".err", "rb").read(),
                    int(open(base + ".status").read()))
        except (OSError, ValueError) as error:
            host = (b"", b"", "no result (%s)" % error)
        problems = []
        if host[2] != status:
            problems.append("status %s, runner %s" % (host[2], status))
        if host[0] != out:
            problems.append("messages %r, runner %r" % (host[0].decode(errors="replace"),
                                                        out.decode(errors="replace")))
        if comparable(host[1]) != comparable(err):
            problems.append("diagnostics %r, runner %r" % (host[1].decode(errors="replace"),
                                                           err.decode(errors="replace")))
        native_files, host_files = snapshot(native_root, number), snapshot(host_root, number)
        if sorted(host_files) != sorted(native_files):
            problems.append("files %s, runner %s" % (sorted(host_files), sorted(native_files)))
        for name in sorted(set(native_files) & set(host_files)):
            if host_files[name] != native_files[name]:
                problems.append("%s differs" % name)
        statuses[status] = statuses.get(status, 0) + 1
        if problems:
            failed += 1
            print("FAIL case %d (mask %s): %s" % (number, " ".join(arguments), "; ".join(problems)))
        else:
            passed += 1
    print("seed %d: %d runs, %d documents; statuses %s" % (
        args.seed, len(cases), sum(len(a) for a, _ in cases),
        ", ".join("%s: %d" % item for item in sorted(statuses.items()))))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
