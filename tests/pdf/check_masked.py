#!/usr/bin/python3
"""Checks a masked copy against its original, as a reader of both would:
pages rendered by pdftoppm, text by pdftotext.

On every page with keep-frames: each pixel more than one pixel outside the
keep-frames is black (pdftoppm), each pixel well inside them (clear of the
frame's border) is exactly as pdftoppm renders the original (the copy drawn
by pdftocairo, which puts an image that fills whole pixels on them as it is,
where pdftoppm smooths it), the decoys' area is black, and the page has no text. Every other
page has the original's text. Pages are rendered as a viewer shows them: the
crop box, turned by the page's rotation.
Usage: check_masked.py ORIGINAL MASKED MANIFEST NAME DPI
"""
import json
import subprocess
import sys
import tempfile

import pikepdf
from PIL import Image, ImageChops, ImageDraw

failures = []


def fail(message):
    failures.append(message)
    print("FAIL " + message)


def render(program, path, number, dpi, folder, tag):
    prefix = "%s/%s-%s-%d" % (folder, tag, program, number)
    subprocess.run([program, "-cropbox", "-r", "%g" % dpi, "-f", str(number), "-l", str(number),
                    "-png", "-singlefile", path, prefix], check=True)
    return Image.open(prefix + ".png").convert("RGB")


def text(path, number):
    return subprocess.run(["pdftotext", "-f", str(number), "-l", str(number), path, "-"],
                          check=True, capture_output=True).stdout


def inherited(page, key, default=None):
    """A page attribute, from the page or the nearest page tree node above it."""
    node = page.obj
    while node is not None:
        if key in node:
            return node[key]
        node = node.get("/Parent")
    return default


def pixel_box(page, rect, dpi):
    """A user-space rectangle in pixels of the page as shown at dpi."""
    media = [float(v) for v in inherited(page, "/MediaBox")]
    crop = [float(v) for v in inherited(page, "/CropBox", media)]
    x0, y0 = max(media[0], crop[0]), max(media[1], crop[1])
    x1, y1 = min(media[2], crop[2]), min(media[3], crop[3])
    rotation = int(inherited(page, "/Rotate", 0)) % 360

    def shown(x, y):
        return {0: (x - x0, y1 - y), 90: (y - y0, x - x0),
                180: (x1 - x, y - y0), 270: (y1 - y, x1 - x)}[rotation]

    ax, ay = shown(rect[0], rect[1])
    bx, by = shown(rect[2], rect[3])
    scale = dpi / 72.0
    return [min(ax, bx) * scale, min(ay, by) * scale, max(ax, bx) * scale, max(ay, by) * scale]


def main():
    original, masked, manifest, name, dpi = sys.argv[1:6]
    dpi = float(dpi)
    pages = json.load(open(manifest))[name]
    source = pikepdf.open(original)
    with tempfile.TemporaryDirectory() as folder:
        for index, expected in enumerate(pages):
            number = index + 1
            page = source.pages[index]
            if not expected["frames"]:
                if text(masked, number) != text(original, number):
                    fail("%s page %d: its text changed" % (name, number))
                continue
            # Pixels per user-space unit: the renderers take a unit as 1/72 inch.
            unit = float(page.get("/UserUnit", 1))
            before = render("pdftoppm", original, number, dpi * unit, folder, "before")
            exact = render("pdftocairo", masked, number, dpi * unit, folder, "after")
            after = render("pdftoppm", masked, number, dpi * unit, folder, "after")
            if abs(before.size[0] - after.size[0]) > 1 or abs(before.size[1] - after.size[1]) > 1:
                fail("%s page %d: size %s, not %s" % (name, number, after.size, before.size))
                continue
            outside = after.copy()
            draw = ImageDraw.Draw(outside)
            for frame in expected["frames"]:
                x0, y0, x1, y1 = pixel_box(page, frame, dpi * unit)
                draw.rectangle([int(x0) - 1, int(y0) - 1, int(x1) + 1, int(y1) + 1], fill=(0, 0, 0))
            if outside.getbbox() is not None:
                fail("%s page %d: something shows outside the keep-frames at %s"
                     % (name, number, outside.getbbox()))
            # The frame's border (2 units) and antialiasing stay out of the comparison.
            margin = 2 * dpi * unit / 72.0 + 2
            for frame in expected["frames"]:
                x0, y0, x1, y1 = pixel_box(page, frame, dpi * unit)
                box = (int(x0 + margin) + 1, int(y0 + margin) + 1, int(x1 - margin),
                       int(y1 - margin))
                if box[2] <= box[0] or box[3] <= box[1]:
                    continue  # a frame too small to hold anything but its border
                difference = ImageChops.difference(before.crop(box), exact.crop(box))
                if max(high for _, high in difference.getextrema()) > 0:
                    fail("%s page %d: the kept area %s differs from the original"
                         % (name, number, box))
            for decoy in expected["decoys"]:
                x0, y0, x1, y1 = pixel_box(page, decoy, dpi * unit)
                area = after.crop((int(x0) + 2, int(y0) + 2, int(x1) - 1, int(y1) - 1))
                if area.getbbox() is not None:
                    fail("%s page %d: the decoy at %s was kept" % (name, number, decoy))
            if text(masked, number).strip():
                fail("%s page %d: the masked page still has text" % (name, number))
    print("%s: %d pages checked, %d failures" % (name, len(pages), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
