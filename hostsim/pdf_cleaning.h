// What else than a page's content could carry content from the pages of a
// PDF file that become pictures, and its removal from the masked copy.
//
// Removed from the whole file, whether pages are masked or not:
// - the document information and every XMP metadata stream;
// - outlines (bookmarks: their titles often quote headings), the structure
//   tree (alternate and actual texts, the pages' text in reading order), the
//   interactive form (field values, XFA data; widgets on kept pages stay as
//   they look), attachments (embedded files, file attachment annotations,
//   associated files), scripts and additional actions, thumbnails, article
//   threads, applications' private data (PieceInfo), web capture data,
//   signature permissions and validation data;
// - every object that only masked pages reached (their contents, resources,
//   annotations and what those refer to), so that no reference left anywhere
//   leads to it;
// - resources of kept pages that their contents do not use, where they name
//   an image or form that a masked page drew (a resource dictionary shared
//   with a masked page, or one that lists every image of the document).
// Kept: the pages that have no keep-frames, with their text, drawings,
// images, fonts (whole: a font shared with a masked page keeps the glyphs
// that page used) and other annotations; page labels; named destinations;
// optional content; viewer preferences; the document's language.
#pragma once

#include <qpdf/QPDF.hh>
#include <vector>

#include "hostsim/pdf_file.h"

namespace hostsim {

// Removes the above from `qpdf`, whose pages are `pages`; `masked[i]` tells
// whether page i becomes a picture (its page object is then left without
// content, resources or annotations, for the caller to fill).
void RemoveWhatCouldCarryContent(QPDF& qpdf, const std::vector<PdfPage>& pages,
                                 const std::vector<bool>& masked);

}  // namespace hostsim
