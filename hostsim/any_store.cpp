// The console runner's store: JSON documents, masked in place, and PDF
// documents, of which a masked copy is written. A file is told by its
// content, not its name.
#include <string>
#include <utility>

#include "hostsim/document_files.h"
#include "hostsim/document_store.h"
#include "hostsim/pdf_store.h"

namespace hostsim {

HostResult LoadDocument(const char* hostPath, Document& document, DocumentOrigin& origin,
                        std::string& reason) {
  StoredFile file;
  const HostResult read = ReadStoredFile(hostPath, kMaxPdfSize, file, reason);
  if (read < 0) return read;
  if (LooksLikePdf(file.content)) return LoadPdfDocument(std::move(file), document, origin, reason);
  if (file.content.size() > kMaxDocumentSize) {
    reason = "larger than " + std::to_string(kMaxDocumentSize) + " bytes";
    return kHostBadFormat;
  }
  // A JSON document is masked in place: a copy's name would be a promise
  // broken.
  if (!CurrentPdfOptions().output.empty()) {
    reason = "not a PDF file: -o names a masked copy, which only PDF files get";
    return kHostInvalidArgument;
  }
  return LoadJsonDocument(std::move(file), document, origin, reason);
}

HostResult StoreDocument(DocumentOrigin& origin, const Document& document, std::string& reason) {
  if (origin.pdf) return StorePdfDocument(origin, document, reason);
  return StoreJsonDocument(origin, document, reason);
}

}  // namespace hostsim
