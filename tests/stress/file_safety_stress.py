#!/usr/bin/python3
"""Signals, races and shortages thrown at `velumo mask`, counted.

Each run masks a fresh copy of one document while something goes wrong:

  signal    a signal (HUP, INT, QUIT, TERM, USR1, KILL) at a random moment
  editor    another program saving the document again and again the way an
            editor does (a new file renamed over it), each save with a new
            mark in the document's "writer" member
  in-place  another program writing a new mark into the document in place
  memory    the N-th allocation of the process failing (needs --failing-malloc)
  file-size a file-size limit (ulimit -f) below the document's size

and is then judged:

  corrupt   the document is neither as it was (or as the other program last
            wrote it) nor a whole masked document
  lost      the other program's last mark is gone: its save was overwritten
  leftover  anything but the document is left in the folder
  exchange  (not a failure) a SIGKILL landed within the few system calls of
            the exchange, the only moment the new file has a name of its own,
            and that hidden name is left holding the document as it was or
            masked: nothing can hold SIGKILL back
  died      the runner died (a signal it did not get from outside: SIGABRT,
            SIGXFSZ), called the shortage a usage error (status 2), or failed
            without a word on either output

Usage: file_safety_stress.py VELUMO [--runs N] [--seed S] [--folder DIR]
           [--ramfs] [--failing-malloc LIB] [--only KIND,...]
Prints one line of counts per kind and a total; exits 1 if any count but the
runs and the exchanges is not 0.
"""

import argparse
import json
import os
import random
import re
import resource
import signal
import subprocess
import sys
import tempfile
import threading
import time

MARK_WIDTH = 8
SIGNALS = [signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGUSR1,
           signal.SIGKILL]
KINDS = ["signal", "editor", "in-place", "memory", "file-size"]
# The name the new file has during the exchange (hostsim/file_access_posix.cpp).
HIDDEN_NAME = re.compile(r"\.velumo-[A-Za-z0-9]{6}")


def make_document(pages):
    """A document whose masking takes a few milliseconds, with a mark."""
    frame = {"type": 32829, "x": 0, "y": 0, "width": 3000, "height": 3000,
             "attributes": {"%BorderStyle": 1, "%FillStyle": 0}}
    note = {"type": 32816, "x": 500, "y": 500, "width": 9000, "height": 800,
            "attributes": {"%FontSize": 10}, "text": "confidential line"}
    page_list = []
    for _ in range(pages):
        annotations = [dict(frame, x=1000 + 3500 * i, y=2000 + 4000 * i) for i in range(4)]
        annotations += [dict(note, y=1000 + 3000 * i) for i in range(6)]
        page_list.append({"width": 21000, "height": 29700, "annotations": annotations})
    return {"writer": "0" * MARK_WIDTH, "pages": page_list}


def with_mark(text, mark):
    return text.replace('"writer":"' + "0" * MARK_WIDTH + '"', '"writer":"%s"' % mark, 1)


def masked(document):
    """Whether a parsed document is wholly masked: no keep-frame left."""
    for page in document.get("pages", []):
        for annotation in page.get("annotations", []):
            attributes = annotation.get("attributes", {})
            if (annotation.get("type") == 32829 and attributes.get("%BorderStyle") == 1
                    and attributes.get("%FillStyle") == 0):
                return False
    return True


class Counts:
    FIELDS = ["runs", "corrupt", "lost", "leftover", "died", "exchange"]
    NOT_FAILURES = ("runs", "exchange")

    def __init__(self):
        self.values = {field: 0 for field in self.FIELDS}

    def add(self, field):
        self.values[field] += 1

    def bad(self):
        return sum(v for k, v in self.values.items() if k not in self.NOT_FAILURES)


class Writer(threading.Thread):
    """Another program writing the document once, at a random moment while
    the runner works on it: an editor's save in the later part of the run,
    where the runner's save is; a write in place at any time."""

    def __init__(self, path, text, in_place, duration, rng):
        super().__init__()
        self.path, self.in_place = path, in_place
        if in_place:  # often soon after the runner read it, within a clock tick
            self.delay = rng.uniform(0, duration * rng.choice([0.3, 1.05]))
        else:
            self.delay = rng.uniform(duration * 0.4, duration * 1.05)
        self.mark = "%0*d" % (MARK_WIDTH, rng.randrange(1, 10 ** MARK_WIDTH))
        self.offset = text.encode().index(b'"writer":"') + len('"writer":"')
        # Everything is ready before the runner starts: the write itself is
        # one system call.
        self.temporary = os.path.join(os.path.dirname(path), "editor.tmp")
        if not in_place:
            with open(self.temporary, "w") as out:
                out.write(with_mark(text, self.mark))
        # Whether the write went into the document as it then was; a write
        # into a file that a save had already replaced is lost to anyone, as
        # after any save.
        self.stuck = False
        # A program that keeps the document open to write into it.
        self.fd = os.open(path, os.O_WRONLY) if in_place else -1

    def run(self):
        if self.in_place:
            time.sleep(self.delay)
            os.pwrite(self.fd, self.mark.encode(), self.offset)
            self.stuck = os.fstat(self.fd).st_ino == os.stat(self.path).st_ino
            os.close(self.fd)
        else:
            time.sleep(self.delay)
            os.replace(self.temporary, self.path)
            self.stuck = True

    def marks(self):
        """The marks the document may end with."""
        return {self.mark} if self.stuck else {self.mark, "0" * MARK_WIDTH}


def run_velumo(velumo, path, env=None, preexec=None, kill_after=None, kill_signal=None):
    """Runs `velumo mask path`: its status and what it said on both outputs."""
    process = subprocess.Popen([velumo, "mask", path], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, env=env, preexec_fn=preexec)
    if kill_after is not None:
        time.sleep(kill_after)
        try:
            process.send_signal(kill_signal)
        except ProcessLookupError:
            pass
    said, _ = process.communicate()
    return process.returncode, said


def died(status, said):
    return status < 0 or status == 2 or (status != 0 and not said.strip())


def killed_in_exchange(folder, others, original):
    """Whether the names left beside the document are the one a SIGKILL
    within the exchange leaves: the hidden name, holding the document as it
    was or masked."""
    if len(others) != 1 or not HIDDEN_NAME.fullmatch(others[0]):
        return False
    with open(os.path.join(folder, others[0]), "rb") as handle:
        data = handle.read()
    try:
        return data == original or masked(json.loads(data))
    except ValueError:
        return False


def judge(counts, folder, path, original, writer=None, text=None, killed=False):
    """Counts what the run left behind; `writer` is the other program, if
    any, and `text` the document it writes into; `killed`, whether the run
    ended by SIGKILL."""
    others = [name for name in sorted(os.listdir(folder)) if name != os.path.basename(path)]
    if others:
        counts.add("exchange" if killed and killed_in_exchange(folder, others, original)
                   else "leftover")
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except FileNotFoundError:
        counts.add("corrupt")
        return
    if writer is None:
        if data != original:
            try:
                if not masked(json.loads(data)):
                    counts.add("corrupt")
            except ValueError:
                counts.add("corrupt")
        return
    try:
        document = json.loads(data)
    except ValueError:
        counts.add("corrupt")
        return
    mark = document.get("writer")
    if mark not in writer.marks():
        counts.add("lost")
    elif not masked(document) and data != with_mark(text, mark).encode():
        counts.add("corrupt")  # neither a version as written nor masked


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("velumo")
    parser.add_argument("--runs", type=int, default=3000)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--folder", default=None, help="where to work (default: a new temporary folder)")
    parser.add_argument("--ramfs", action="store_true",
                        help="work on a private ramfs (coarse timestamps; needs root)")
    parser.add_argument("--failing-malloc", default=None, help="the failing_malloc library")
    parser.add_argument("--only", default=",".join(KINDS))
    parser.add_argument("--pages", type=int, default=400)
    args = parser.parse_args()

    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    kinds = [k for k in args.only.split(",") if k]
    if "memory" in kinds and not args.failing_malloc:
        kinds.remove("memory")
    base = tempfile.mkdtemp(prefix="velumo-stress-", dir=args.folder)
    mounted = False
    try:
        if args.ramfs:
            subprocess.run(["mount", "-t", "ramfs", "velumo-stress", base], check=True)
            mounted = True
        folder = os.path.join(base, "work")
        path = os.path.join(folder, "doc.json")
        text = json.dumps(make_document(args.pages), separators=(",", ":"))
        original = text.encode()

        def fresh():
            if os.path.isdir(folder):
                for name in os.listdir(folder):
                    os.unlink(os.path.join(folder, name))
            else:
                os.mkdir(folder)
            with open(path, "wb") as out:
                out.write(original)

        # How long an undisturbed run takes (the median of five), and how many
        # allocations it makes.
        durations = []
        for _ in range(5):
            fresh()
            started = time.monotonic()
            status, err = run_velumo(args.velumo, path)
            durations.append(time.monotonic() - started)
            if status != 0:
                sys.exit("velumo failed on the undisturbed document: %d %s" % (status, err.decode()))
        duration = sorted(durations)[2]
        allocations = 0
        if "memory" in kinds:
            fresh()
            count_file = os.path.join(base, "allocations")
            env = dict(os.environ, LD_PRELOAD=args.failing_malloc,
                       VELUMO_COUNT_ALLOCATIONS=count_file)
            run_velumo(args.velumo, path, env=env)
            with open(count_file) as handle:
                allocations = int(handle.read())
            os.unlink(count_file)

        counts = {kind: Counts() for kind in kinds}
        for run in range(args.runs):
            kind = kinds[run % len(kinds)]
            fresh()
            count = counts[kind]
            count.add("runs")
            if kind == "signal":
                sig = rng.choice(SIGNALS)
                status, _ = run_velumo(args.velumo, path, kill_after=rng.uniform(0, duration * 1.2),
                                       kill_signal=sig)
                judge(count, folder, path, original, killed=status == -signal.SIGKILL)
            elif kind in ("editor", "in-place"):
                writer = Writer(path, text, kind == "in-place", duration, rng)
                writer.start()
                run_velumo(args.velumo, path)
                writer.join()
                judge(count, folder, path, original, writer, text)
            elif kind == "memory":
                env = dict(os.environ, LD_PRELOAD=args.failing_malloc,
                           VELUMO_FAIL_ALLOCATION=str(rng.randint(1, allocations)))
                status, said = run_velumo(args.velumo, path, env=env)
                if died(status, said):
                    count.add("died")
                judge(count, folder, path, original)
            elif kind == "file-size":
                limit = rng.randint(0, len(original))

                def limited(limit=limit):
                    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

                status, said = run_velumo(args.velumo, path, preexec=limited)
                if died(status, said) or status != 1:
                    count.add("died")
                judge(count, folder, path, original)

        print("seed %d, %d runs of %.1f ms, %d-byte document%s" %
              (seed, args.runs, duration * 1000, len(original), ", on ramfs" if args.ramfs else ""))
        total = Counts()
        print("%-10s" % "kind" + "".join("%10s" % f for f in Counts.FIELDS))
        for kind in kinds:
            print("%-10s" % kind + "".join("%10d" % counts[kind].values[f] for f in Counts.FIELDS))
            for field in Counts.FIELDS:
                total.values[field] += counts[kind].values[field]
        print("%-10s" % "total" + "".join("%10d" % total.values[f] for f in Counts.FIELDS))
        return 1 if total.bad() else 0
    finally:
        if mounted:
            subprocess.run(["umount", base], check=False)
        subprocess.run(["rm", "-rf", base], check=False)


if __name__ == "__main__":
    sys.exit(main())
