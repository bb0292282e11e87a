#!/usr/bin/python3
"""Makes the PDF test documents in OUTDIR with programs that are not ours
(LibreOffice, Ghostscript's ps2pdf, cairo, qpdf) and adds keep-frames to them
with pikepdf, as a PDF viewer's rectangle tool would.

Writes OUTDIR/manifest.json: for each document, per page, the keep-frames
(PDF user space: x0, y0, x1, y1) and the decoys, rectangles that look like
keep-frames but are not (filled, hidden, not printed, without a border).
Usage: make_fixtures.py OUTDIR
"""
import json
import os
import re
import subprocess
import sys

import cairo
import pikepdf

MARKER = "VELUMO-SECRET"  # only in what the masked copies must not hold


def run(*command, cwd):
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def libreoffice(out):
    """Two A4 pages of text from LibreOffice Writer, Japanese included."""
    lines = ["Velumo test document", "見積書 株式会社サンプル 御中", ""]
    lines += ["Line %02d: the quick brown fox jumps over the lazy dog 0123456789" % i
              for i in range(1, 90)]
    with open(os.path.join(out, "lo.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    profile = "file://" + os.path.join(out, "lo-profile")
    run("soffice", "-env:UserInstallation=" + profile, "--headless", "--convert-to", "pdf",
        "lo.txt", cwd=out)
    os.replace(os.path.join(out, "lo.pdf"), os.path.join(out, "libreoffice.pdf"))


def ghostscript(out):
    """A Letter page of text and vector drawings from PostScript."""
    ps = """%!PS
<< /PageSize [612 792] >> setpagedevice
/Helvetica findfont 14 scalefont setfont
72 720 moveto (Ghostscript page: text and vector drawings) show
0.2 0.4 0.8 setrgbcolor 72 500 200 150 rectfill
0 setgray 3 setlinewidth 300 480 moveto 540 650 lineto stroke
0.8 0.1 0.1 setrgbcolor 400 300 80 0 360 arc fill
0 setgray 72 200 moveto (Total amount 1,234,567 yen) show
showpage
"""
    with open(os.path.join(out, "gs.ps"), "w") as f:
        f.write(ps)
    run("ps2pdf", "-dAutoRotatePages=/None", "gs.ps", "ghostscript.pdf", cwd=out)


def cairo_a3(out):
    """An A3 landscape page with text, shapes and an image, from cairo."""
    width, height = 1190.55, 841.89
    surface = cairo.PDFSurface(os.path.join(out, "cairo.pdf"), width, height)
    context = cairo.Context(surface)
    context.set_source_rgb(0.1, 0.6, 0.2)
    context.rectangle(60, 60, 400, 250)
    context.fill()
    image = cairo.ImageSurface(cairo.FORMAT_RGB24, 64, 64)
    pixels = cairo.Context(image)
    for i in range(8):
        for j in range(8):
            pixels.set_source_rgb(i / 8, j / 8, 0.5)
            pixels.rectangle(i * 8, j * 8, 8, 8)
            pixels.fill()
    context.save()
    context.translate(600, 100)
    context.scale(4, 4)
    context.set_source_surface(image, 0, 0)
    context.paint()
    context.restore()
    context.set_source_rgb(0, 0, 0)
    context.select_font_face("DejaVu Sans")
    context.set_font_size(28)
    context.move_to(60, 500)
    context.show_text("Cairo A3 landscape: drawings, an image and text")
    context.move_to(60, 700)
    context.show_text("Confidential figure 98765")
    context.set_line_width(4)
    context.move_to(700, 450)
    context.curve_to(800, 800, 1000, 300, 1100, 780)
    context.stroke()
    surface.finish()


def combined(out):
    """qpdf joins pages of the others; their rotation and crop box change."""
    run("qpdf", "--empty", "--pages", "ghostscript.pdf", "cairo.pdf", "libreoffice.pdf", "1", "--",
        "qpdf-raw.pdf", cwd=out)
    run("qpdf", "--rotate=+90:1", "--rotate=+270:2", "qpdf-raw.pdf", "combined.pdf", cwd=out)
    pdf = pikepdf.open(os.path.join(out, "combined.pdf"), allow_overwriting_input=True)
    # The A4 page turned upside down, seen through an offset crop box.
    pdf.pages[2].Rotate = 180
    pdf.pages[2].CropBox = [40, 60, 520, 800]
    pdf.save(os.path.join(out, "combined.pdf"))


def square(rect, **extra):
    entries = dict(Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.Square, Rect=rect,
                   C=[1, 0, 0], Border=[0, 0, 2], F=4)
    entries.update(extra)
    return pikepdf.Dictionary(**entries)


def frame_at(page, fx0, fy0, fx1, fy1):
    """A rectangle at fractions of the page's visible area (user space)."""
    box = [float(v) for v in page.cropbox]
    w, h = box[2] - box[0], box[3] - box[1]
    return [round(box[0] + fx0 * w, 2), round(box[1] + fy0 * h, 2),
            round(box[0] + fx1 * w, 2), round(box[1] + fy1 * h, 2)]


def add_frames(path, frames_by_page, decoys_on_first=True):
    """Adds keep-frames (and decoys on the first page) to the pages named."""
    pdf = pikepdf.open(path, allow_overwriting_input=True)
    pages = []
    for number, page in enumerate(pdf.pages):
        frames = [frame_at(page, *f) for f in frames_by_page.get(number, [])]
        decoys = []
        annots = [square(r) for r in frames]
        if frames and decoys_on_first and number == 0:
            filled = frame_at(page, 0.05, 0.05, 0.2, 0.15)
            hidden = frame_at(page, 0.25, 0.05, 0.4, 0.15)
            unprinted = frame_at(page, 0.45, 0.05, 0.6, 0.15)
            borderless = frame_at(page, 0.65, 0.05, 0.8, 0.15)
            annots += [square(filled, IC=[1, 1, 0]), square(hidden, F=6), square(unprinted, F=0),
                       square(borderless, Border=[0, 0, 0])]
            decoys = [filled, hidden, unprinted, borderless]
        if annots:
            page.Annots = pdf.make_indirect(pikepdf.Array([pdf.make_indirect(a) for a in annots]))
        pages.append({"frames": frames, "decoys": decoys})
    pdf.save(path)
    return pages


def add_carriers(path):
    """What could carry masked content elsewhere in the file, each holding
    the marker: information, XMP, an outline, an attachment, a script and a
    form field on the masked first page."""
    pdf = pikepdf.open(path, allow_overwriting_input=True)
    pdf.docinfo["/Title"] = MARKER + " title"
    pdf.docinfo["/Author"] = MARKER + " author"
    with pdf.open_metadata() as meta:
        meta["dc:title"] = MARKER + " xmp"
    with pdf.open_outline() as outline:
        outline.root.append(pikepdf.OutlineItem(MARKER + " bookmark", 0))
    pdf.attachments["notes.txt"] = pikepdf.AttachedFileSpec(pdf, (MARKER + " attachment").encode())
    script = pdf.make_indirect(pikepdf.Dictionary(S=pikepdf.Name.JavaScript,
                                                  JS=pikepdf.String("app.alert('%s')" % MARKER)))
    pdf.Root.Names.JavaScript = pikepdf.Dictionary(Names=["shout", script])
    page = pdf.pages[0]
    field = pdf.make_indirect(pikepdf.Dictionary(
        Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.Widget, FT=pikepdf.Name.Tx,
        T="secret", V=MARKER + " field", Rect=frame_at(page, 0.5, 0.5, 0.8, 0.55), F=4,
        DA="/Helv 10 Tf 0 g", P=page.obj))
    page.Annots.append(field)
    helvetica = pdf.make_indirect(pikepdf.Dictionary(
        Type=pikepdf.Name.Font, Subtype=pikepdf.Name.Type1, BaseFont=pikepdf.Name.Helvetica))
    pdf.Root.AcroForm = pikepdf.Dictionary(Fields=[field], NeedAppearances=True,
                                           DA="/Helv 10 Tf 0 g",
                                           DR=pikepdf.Dictionary(Font=pikepdf.Dictionary(
                                               Helv=helvetica)))
    # A named destination on the masked page, and a link to it from the kept
    # one; another to the kept page, which stays.
    kept = pdf.pages[1]
    pdf.Root.Names.Dests = pikepdf.Dictionary(Names=[
        MARKER + " heading", pdf.make_indirect(pikepdf.Array([page.obj, pikepdf.Name.Fit])),
        "kept-place", pikepdf.Array([kept.obj, pikepdf.Name.Fit])])
    link = pikepdf.Dictionary(Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.Link,
                              Rect=[100, 100, 200, 120], Border=[0, 0, 0],
                              Dest=pikepdf.String(MARKER + " heading"))
    # A comment on the masked page, and a reply to it on the kept one.
    comment = pdf.make_indirect(pikepdf.Dictionary(
        Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.Text, Rect=[50, 50, 70, 70],
        Contents=MARKER + " comment", F=4))
    page.Annots.append(comment)
    reply = pikepdf.Dictionary(Type=pikepdf.Name.Annot, Subtype=pikepdf.Name.Text,
                               Rect=[50, 50, 70, 70], Contents="a reply", IRT=comment, F=4)
    kept.Annots = pikepdf.Array([pdf.make_indirect(link), pdf.make_indirect(reply)])
    # Both pages in one labelled range: its prefix goes, its numbering stays.
    pdf.Root.PageLabels = pikepdf.Dictionary(Nums=[0, pikepdf.Dictionary(
        S=pikepdf.Name.D, St=5, P=MARKER + " chapter ")])
    pdf.save(path)


def receipt(out):
    """A long, narrow receipt whose unit is two points (UserUnit 2)."""
    surface = cairo.PDFSurface(os.path.join(out, "receipt.pdf"), 113.4, 850.4)
    context = cairo.Context(surface)
    context.select_font_face("DejaVu Sans")
    context.set_font_size(6)
    for line in range(60):
        context.move_to(8, 20 + line * 13.5)
        context.show_text("item %02d ........ %5d yen" % (line, line * 37))
    surface.finish()
    pdf = pikepdf.open(os.path.join(out, "receipt.pdf"), allow_overwriting_input=True)
    pdf.pages[0].UserUnit = 2
    pdf.save(os.path.join(out, "receipt.pdf"))


def one_page(out, name, annots):
    """A one-page A4 document from ghostscript.pdf's page with these annotations."""
    pdf = pikepdf.open(os.path.join(out, "ghostscript.pdf"))
    pdf.pages[0].Annots = pikepdf.Array([pdf.make_indirect(a) for a in annots])
    pdf.save(os.path.join(out, name))


def shared_resources(out):
    """Two pages with one resource dictionary naming two images: page 1
    draws the 7-pixel-wide one and is masked, page 2 draws the 5-pixel one."""
    pdf = pikepdf.new()
    images = {}
    for name, width in (("/Im1", 7), ("/Im2", 5)):
        images[name] = pdf.make_stream(bytes(range(0, 250, 250 // width))[:width],
                                       Type=pikepdf.Name.XObject, Subtype=pikepdf.Name.Image,
                                       Width=width, Height=1, BitsPerComponent=8,
                                       ColorSpace=pikepdf.Name.DeviceGray)
    # A font and a layer that only the masked page uses, named by the marker.
    font = pdf.make_indirect(pikepdf.Dictionary(
        Type=pikepdf.Name.Font, Subtype=pikepdf.Name.Type1,
        BaseFont=pikepdf.Name("/" + MARKER + "-Font"), Encoding=pikepdf.Name.WinAnsiEncoding,
        FirstChar=32, LastChar=32, Widths=[250]))
    layer = pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.OCG, Name=MARKER + " layer"))
    everywhere = pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.OCG, Name="every page"))
    pdf.Root.OCProperties = pikepdf.Dictionary(
        OCGs=[layer, everywhere], D=pdf.make_indirect(pikepdf.Dictionary(
            Order=[layer, everywhere], ON=[layer, everywhere])))
    resources = pdf.make_indirect(pikepdf.Dictionary(
        XObject=pikepdf.Dictionary(Im1=images["/Im1"], Im2=images["/Im2"]),
        Font=pikepdf.Dictionary(F1=font),
        Properties=pikepdf.Dictionary(L1=layer, L2=everywhere)))
    drawings = {"/Im1": "/OC /L1 BDC BT /F1 12 Tf 100 100 Td ( ) Tj ET EMC ",
                "/Im2": ""}
    for name in ("/Im1", "/Im2"):
        content = pdf.make_stream(("/OC /L2 BDC %sq 300 0 0 300 100 300 cm %s Do Q EMC"
                                   % (drawings[name], name)).encode())
        pdf.pages.append(pikepdf.Page(pikepdf.Dictionary(
            Type=pikepdf.Name.Page, MediaBox=[0, 0, 595, 842], Resources=resources,
            Contents=content)))
    pdf.pages[0].Annots = pikepdf.Array([pdf.make_indirect(square([20, 20, 60, 60]))])
    pdf.save(os.path.join(out, "shared-resources.pdf"))


def inherited(out):
    """Two pages that take their size, rotation and font from the page tree
    above them, as some programs write them; keep-frames on the first."""
    pdf = pikepdf.new()
    font = pdf.make_indirect(pikepdf.Dictionary(
        Type=pikepdf.Name.Font, Subtype=pikepdf.Name.Type1, BaseFont=pikepdf.Name.Helvetica))
    tree = pdf.Root.Pages
    tree.MediaBox = [0, 0, 420, 300]
    tree.Rotate = 90
    tree.Resources = pikepdf.Dictionary(Font=pikepdf.Dictionary(F1=font))
    for number in (1, 2):
        text = "".join("BT /F1 14 Tf 30 %d Td (Inherited page %d, line %d) Tj ET\n"
                       % (260 - 20 * line, number, line) for line in range(12))
        page = pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.Page, Parent=tree,
                                                    Contents=pdf.make_stream(text.encode())))
        tree.Kids.append(page)
    tree.Count = 2
    pdf.save(os.path.join(out, "inherited.pdf"))


def bad_input(out):
    """Documents the store must refuse, or handle however odd they are."""
    with open(os.path.join(out, "ghostscript.pdf"), "rb") as f:
        whole = f.read()
    with open(os.path.join(out, "truncated.pdf"), "wb") as f:
        f.write(whole[: len(whole) // 2])
    # Damage that a reader repairs: a cross-reference table that is not where
    # the file says, a stream longer than its /Length.
    end = whole.rindex(b"startxref")
    offset = int(whole[end + 10:].split()[0])
    with open(os.path.join(out, "bad-xref.pdf"), "wb") as f:
        f.write(whole[:end] + b"startxref\n%d\n%%%%EOF\n" % (offset + 7))
    run("qpdf", "--qdf", "--object-streams=disable", "ghostscript.pdf", "qdf.pdf", cwd=out)
    with open(os.path.join(out, "qdf.pdf"), "rb") as f:
        qdf = f.read()
    length = re.search(rb"%% Contents for page 1\n%% Original object ID: [0-9 ]+\n"
                       rb"\d+ 0 obj\n<<\n  /Length (\d+) 0 R", qdf).group(1)
    value = re.search(rb"\n%s 0 obj\n(\d+)\nendobj" % length, qdf)
    with open(os.path.join(out, "bad-length.pdf"), "wb") as f:
        f.write(qdf[:value.start(1)] + b"%d" % (int(value.group(1)) + 5) + qdf[value.end(1):])
    with open(os.path.join(out, "not-a-pdf.pdf"), "wb") as f:
        f.write(b"%PDF-1.7\nthis is no PDF file at all\n")
    source = pikepdf.open(os.path.join(out, "ghostscript.pdf"))
    source.save(os.path.join(out, "password.pdf"),
                encryption=pikepdf.Encryption(user="user", owner="owner"))
    source.save(os.path.join(out, "restricted.pdf"),
                encryption=pikepdf.Encryption(user="", owner="owner"))
    loop = pikepdf.open(os.path.join(out, "ghostscript.pdf"))
    loop.Root.Pages.Kids.append(loop.Root.Pages)
    loop.Root.Pages.Count = 2
    loop.save(os.path.join(out, "loop.pdf"))
    run("qpdf", "--empty", "--pages", *(["libreoffice.pdf", "2"] * 10000), "--",
        "many-pages.pdf", cwd=out)
    many = pikepdf.open(os.path.join(out, "many-pages.pdf"), allow_overwriting_input=True)
    many.pages[9999].Annots = pikepdf.Array([many.make_indirect(square([100, 500, 300, 700]))])
    many.save(os.path.join(out, "many-pages.pdf"))
    one_page(out, "zero-frame.pdf", [square([100, 300, 100, 600])])
    one_page(out, "negative-frame.pdf", [square([400, 700, 100, 600])])
    frames = [[20 + (i % 50) * 11.5, 20 + (i // 50) * 7.5, 28 + (i % 50) * 11.5,
               25 + (i // 50) * 7.5] for i in range(5000)]
    one_page(out, "thousands.pdf", [square(r) for r in frames])
    shared_resources(out)
    return {"negative-frame.pdf": [{"frames": [[100, 600, 400, 700]], "decoys": []}],
            "thousands.pdf": [{"frames": frames, "decoys": []}]}


def main():
    out = os.path.abspath(sys.argv[1])
    os.makedirs(out, exist_ok=True)
    libreoffice(out)
    ghostscript(out)
    cairo_a3(out)
    combined(out)
    manifest = {
        # Page 1 masked around a block of lines, with decoys; page 2 kept.
        "libreoffice.pdf": add_frames(os.path.join(out, "libreoffice.pdf"),
                                      {0: [(0.1, 0.7, 0.9, 0.9), (0.2, 0.3, 0.5, 0.4)]}),
        "ghostscript.pdf": add_frames(os.path.join(out, "ghostscript.pdf"),
                                      {0: [(0.1, 0.85, 0.8, 0.95), (0.1, 0.3, 0.5, 0.55)]}),
        "cairo.pdf": add_frames(os.path.join(out, "cairo.pdf"),
                                {0: [(0.45, 0.5, 0.8, 0.95), (0.03, 0.35, 0.5, 0.45)]}),
        # Rotated 90 and 270 degrees, and 180 with an offset crop box.
        "combined.pdf": add_frames(os.path.join(out, "combined.pdf"),
                                   {0: [(0.1, 0.6, 0.6, 0.95)], 1: [(0.5, 0.1, 0.9, 0.5)],
                                    2: [(0.1, 0.1, 0.6, 0.3)]}, decoys_on_first=False),
    }
    receipt(out)
    manifest["receipt.pdf"] = add_frames(os.path.join(out, "receipt.pdf"),
                                         {0: [(0.05, 0.4, 0.9, 0.6)]}, decoys_on_first=False)
    inherited(out)
    manifest["inherited.pdf"] = add_frames(os.path.join(out, "inherited.pdf"),
                                           {0: [(0.1, 0.5, 0.6, 0.9)]}, decoys_on_first=False)
    manifest.update(bad_input(out))
    add_carriers(os.path.join(out, "libreoffice.pdf"))
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)


if __name__ == "__main__":
    main()
