#include "tests/fuzz/memory_store.h"

#include <utility>

#include "hostsim/document_store.h"

namespace fuzzstore {
namespace {

Stored& TheStore() {
  static Stored stored;
  return stored;
}

}  // namespace

void Put(std::string path, hostsim::Document document) {
  TheStore() = Stored{std::move(path), std::move(document), 0};
}

const Stored& Get() { return TheStore(); }

}  // namespace fuzzstore

namespace hostsim {

HostResult LoadDocument(const char* hostPath, Document& document, DocumentOrigin& origin,
                        std::string& reason) {
  const fuzzstore::Stored& stored = fuzzstore::TheStore();
  if (stored.path != hostPath) {
    reason = "no such document";
    return kHostFileNotFound;
  }
  document = stored.document;
  origin.location = hostPath;
  return kHostOk;
}

HostResult StoreDocument(DocumentOrigin& /*origin*/, const Document& document,
                         std::string& /*reason*/) {
  fuzzstore::Stored& stored = fuzzstore::TheStore();
  stored.document = document;
  ++stored.saves;
  return kHostOk;
}

}  // namespace hostsim
