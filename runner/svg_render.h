// Draws a stand-in host document file as an SVG picture, for looking at what
// the masking pass did to it ("velumo render FILE -o OUT.svg").
//
// Pages are stacked top to bottom, each with a small "page N" label. A page
// is white with a grey outline. What the masking pass would keep of a page,
// worked out by the pass's own region, is pale blue, and the keep-frames
// around it dashed blue outlines; a keep-frame with a negative width or
// height keeps nothing (the pass carves nothing out for it) and is a dotted
// red outline. Mask annotations are solid black, any other annotation is a
// thin grey outline. Whatever lies off a page is still drawn: each page's
// band grows to hold its annotations, and the picture's view box covers
// every band.
#pragma once

#include <string>

#include "hostsim/document.h"
#include "hostsim/file_access.h"

// The SVG text for a document, in the document's own units (the picture is
// 600 pixels wide); empty if memory ran out.
std::string DocumentToSvg(const hostsim::Document& document);

// Reads the document at `documentPath` and draws it into `svg`; `version` is
// the document file's. On failure returns false with a one-line reason.
bool DrawDocumentFile(const std::string& documentPath, std::string& svg,
                      hostsim::FileVersion& version, std::string& error);

// Draws the document at `documentPath` into the file `svgPath` (both
// file-system paths, used as given). The picture never replaces the document
// itself (by whatever name or link), a read-only file, a file with other hard
// links or anything but a regular file; through a symbolic link it replaces
// the file the link leads to. A new file gets the permissions the umask
// leaves. On failure returns false and puts a one-line reason in `error`.
bool RenderDocumentSvg(const std::string& documentPath, const std::string& svgPath,
                       std::string& error);
