// The store of builds that know JSON documents alone (the tests, the Windows
// stand-in): every document is a JSON file, masked in place.
#include <utility>

#include "hostsim/document_files.h"
#include "hostsim/document_store.h"

namespace hostsim {

HostResult LoadDocument(const char* hostPath, Document& document, DocumentOrigin& origin,
                        std::string& reason) {
  StoredFile file;
  const HostResult read = ReadStoredFile(hostPath, kMaxDocumentSize, file, reason);
  if (read < 0) return read;
  return LoadJsonDocument(std::move(file), document, origin, reason);
}

HostResult StoreDocument(DocumentOrigin& origin, const Document& document, std::string& reason) {
  return StoreJsonDocument(origin, document, reason);
}

}  // namespace hostsim
