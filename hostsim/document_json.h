// The stand-in host's document files: JSON text read into the model of
// hostsim/document.h and written back from it.
//
// A document is an object whose "pages" hold the pages and their annotations,
// and whose optional "host" tunes the stand-in (README.md, "The console
// runner", shows one). The members the stand-in reads, where each goes in the
// model, what values it takes and whether it is required are the schema
// (SchemaOf) in hostsim/document_json.cpp, the one description of the format.
// Members the schema does not list are carried along unchanged at the top
// level, in pages and in annotations: any JSON value, numbers spelled exactly
// as they were, whatever their size.
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
