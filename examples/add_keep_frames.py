#!/usr/bin/python3
"""Draws the demo's keep-frames on page 1 of a PDF file made from
examples/quotation.txt, as a PDF viewer's rectangle tool would: Square
annotations with a red border and no fill. They keep the heading, the
customer, the subject, the table and the validity, not the internal note or
the contact.
Usage: add_keep_frames.py FILE.pdf
"""
import sys

import pikepdf

# In points from the top left corner of an A4 page: x0, y0, x1, y1.
FRAMES = [(50, 52, 545, 68), (50, 78, 300, 102), (50, 112, 420, 126), (60, 132, 460, 210),
          (50, 215, 460, 232)]


def main():
    pdf = pikepdf.open(sys.argv[1], allow_overwriting_input=True)
    page = pdf.pages[0]
    top = float(page.MediaBox[3])
    annots = [pdf.make_indirect(pikepdf.Dictionary(
        Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.Square, F=4, C=[1, 0, 0],
        Border=[0, 0, 1.5], Rect=[x0, top - y1, x1, top - y0])) for x0, y0, x1, y1 in FRAMES]
    page.Annots = pdf.make_indirect(pikepdf.Array(annots))
    pdf.save(sys.argv[1])


if __name__ == "__main__":
    main()
