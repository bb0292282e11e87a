// The stand-in host's document files: JSON text read into the model of
// hostsim/document.h and written back from it.
//
// File layout (UTF-8 JSON):
//   { "pages": [ { "width": W, "height": H,
//                  "annotations": [ { "type": T, "x": X, "y": Y, "width": W, "height": H,
//                                     "attributes": { "NAME": VALUE, ... } } ] } ],
//     "host": { "minAnnotationSize": N, "refuseOffPage": BOOL,
//               "failures": [ { "ordinal": O, "call": C, "result": R } ],
//               "pageCountSkew": N, "annotationCountSkew": N, "countOnFailure": BOOL } }
// Every number is a signed 32-bit integer. "annotations" and "attributes" may
// be missing (empty); "host" and each of its members are optional. A failure's
// "result" is a negative integer or a string "0x8XXXXXXX". Members not listed
// here are carried along unchanged at the top level, in pages and in
// annotations, numbers spelled exactly as they were.
//
// The reader takes only what the writer can give back unchanged: no NUL byte,
// nothing after the document, no member named twice in one object, and the
// limits of hostsim/document.h.
#pragma once

#include <string>
#include <string_view>

#include "hostsim/document.h"
#include "hostsim/text_sink.h"

namespace hostsim {

// Parses document text. On failure returns false and describes the first
// problem found in `error`; `out` may then be partly filled. Never throws on
// bad input (only std::bad_alloc can escape).
bool ParseDocument(std::string_view text, Document& out, std::string& error);

// Writes the document as compact JSON ending with a newline, a page at a time.
// Fails, with the reason in `error`, when `sink` fails or when the text would
// pass kMaxDocumentSize (nothing more is handed to `sink` then).
bool WriteDocument(const Document& document, const TextSink& sink, std::string& error);

// The whole text WriteDocument gives, without its size limit.
std::string SerializeDocument(const Document& document);

}  // namespace hostsim
