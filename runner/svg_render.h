// Draws a stand-in host document file as an SVG picture, for looking at what
// the masking pass did to it ("velumo render FILE -o OUT.svg").
//
// Pages are stacked top to bottom, each with a small "page N" label. A page
// is white with a grey outline; keep-frames are dashed blue outlines, mask
// annotations are solid black, any other annotation is a thin grey outline.
// Whatever lies off a page is still drawn: each page's band grows to hold
// its annotations, and the picture's view box covers every band.
#pragma once

#include <string>

#include "hostsim/document_file.h"

// The SVG text for a document, in the document's own units (the picture is
// 600 pixels wide).
std::string DocumentToSvg(const hostsim::Document& document);

// Reads the document at `documentPath` and writes its picture to `svgPath`
// (both file-system paths, used as given). On failure returns false and puts
// a one-line reason in `error`.
bool RenderDocumentSvg(const std::string& documentPath, const std::string& svgPath,
                       std::string& error);
