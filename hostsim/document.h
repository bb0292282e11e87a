// The stand-in host's documents as it holds them in memory, and how it
// behaves for each of them. The JSON files of hostsim/document_json.h and the
// in-memory documents of the fuzz targets both come down to this model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostsim {

// Limits that every document the stand-in holds keeps to, so that whatever
// it saves reads back (the reader refuses anything beyond them):
// - the largest document file, in bytes. A masked page of 25 rectangles
//   takes about 2.5 KiB as the stand-in writes it, so some 13,000 such pages
//   fit;
constexpr std::size_t kMaxDocumentSize = std::size_t{32} << 20;
// - the deepest nesting of arrays and objects;
constexpr int kMaxNestingDepth = 64;
// - the most members one object may have, counting the members that the
//   stand-in always writes ("annotations" of a page, "attributes" of an
//   annotation) even where the file left them out.
constexpr std::size_t kMaxObjectMembers = 1024;

struct Annotation {
  std::int32_t type = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  // In file order; names are unique and there are at most kMaxObjectMembers.
  std::vector<std::pair<std::string, std::int32_t>> attributes;
  // Members of the annotation object not listed above, as compact JSON
  // member text ("name":value,...) exactly as read; empty if none.
  std::string extra;
  // Handle given out by the stand-in host while the document is open; it is
  // not part of the file.
  std::uint32_t handle = 0;
  // Where a store that keeps its own form of the file (a PDF's annotation
  // list) found the annotation: its position there, from 0. -1 for one added
  // since it was loaded, and for every annotation of a JSON document.
  std::int32_t sourceIndex = -1;

  std::optional<std::int32_t> Attribute(std::string_view name) const;
  // Replaces the value, or appends the attribute if it is absent. False (and
  // nothing changed) when a new attribute would pass kMaxObjectMembers.
  bool SetAttribute(std::string_view name, std::int32_t value);
};

struct Page {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<Annotation> annotations;
  std::string extra;  // as Annotation::extra
};

// One "failures" entry: the call-th call of `ordinal` returns `result`.
struct FailureRule {
  int ordinal = 0;
  std::int32_t call = 0;
  std::int32_t result = 0;
};

// The "host" object: how the stand-in behaves for this document.
struct HostSettings {
  // Rectangles smaller than this (and never smaller than 1) are refused.
  std::int32_t minAnnotationSize = 0;
  // Rectangles reaching off the page are refused.
  bool refuseOffPage = false;
  std::vector<FailureRule> failures;
  // A host that miscounts: added to the page count, and to every page's
  // annotation count, that the information calls report.
  std::int32_t pageCountSkew = 0;
  std::int32_t annotationCountSkew = 0;
  // A document-information call that fails by a "failures" entry still
  // writes the page count.
  bool countOnFailure = false;
};

struct Document {
  std::vector<Page> pages;
  HostSettings host;
  // Top-level members other than "pages", as Annotation::extra; "host" is
  // kept here as read, since the stand-in never changes it.
  std::string extra;
};

}  // namespace hostsim
