// The document store of the fuzz targets: one document held in memory under
// one path, in place of JSON files on disk (see hostsim/document_store.h).
#pragma once

#include <string>

#include "hostsim/document.h"

namespace fuzzstore {

// The document the store holds, as last loaded by Put or saved through the
// host API, and how often it was saved.
struct Stored {
  std::string path;
  hostsim::Document document;
  int saves = 0;
};

// Puts `document` under `path` (the only path the store knows).
void Put(std::string path, hostsim::Document document);
const Stored& Get();

}  // namespace fuzzstore
