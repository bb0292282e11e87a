// PDF documents in the stand-in host: a PDF file is read into the host's
// document model (hostsim/document.h) and its masked copy written from it,
// so that the same pass masks it as any other document.
//
// What the host sees of a PDF file: one page per PDF page, of the size of its
// visible area as shown (hostsim/pdf_geometry.h), with one annotation per
// entry of the page's annotation list. A rectangle ("Square") annotation is a
// rectangle of the host; its "%BorderStyle" says whether its border is drawn
// (a visible, printed annotation with a coloured border of some width) and
// its "%FillStyle" whether it has an interior colour. Every other annotation
// is of a type the host does not draw. Rectangles are rounded inward to whole
// page units. The host refuses no rectangle for its size.
//
// The masked copy: a page that lost annotations or gained masks becomes a
// picture of the page as shown, its remaining annotations included, with the
// masks painted black, and holds nothing else. What else could carry content
// from such a page is removed from the whole file (hostsim/pdf_cleaning.h).
// The original file is never written: the copy goes to another file, which
// must not exist yet unless the user allowed replacing it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "hostapi/host_api.h"
#include "hostsim/document.h"
#include "hostsim/document_files.h"
#include "hostsim/document_store.h"
#include "hostsim/pdf_options.h"

namespace hostsim {

// The largest PDF file the store reads: the file is held in memory while it
// is open.
constexpr std::size_t kMaxPdfSize = std::size_t{256} << 20;

// From now on PDF documents are opened with these options (process-wide).
void SetPdfOptions(const PdfOptions& options);
const PdfOptions& CurrentPdfOptions();

// Whether a file's content is a PDF file: "%PDF-" within its first 1,024
// bytes, as readers accept it.
bool LooksLikePdf(std::string_view content);

// The masked copy's default path for the document at `path`: its extension
// (".pdf" in any case, or none) follows "-masked".
std::string MaskedCopyPath(const std::string& path);

// Reads the PDF file for masking: refused with kHostBadFormat when it is
// damaged (read only with repairs, whose warnings go to standard error),
// kHostAccessDenied when it needs a password, kHostNoRight when it is
// encrypted otherwise, kHostFileExists when the copy's file exists and may
// not be replaced.
HostResult LoadPdfDocument(StoredFile&& file, Document& document, DocumentOrigin& origin,
                           std::string& reason);

// Writes the masked copy of the document loaded from `origin`.
HostResult StorePdfDocument(DocumentOrigin& origin, const Document& document, std::string& reason);

}  // namespace hostsim
