// How the PDF store writes masked copies: what the console runner's options
// set (runner/mask_arguments.h) and the PDF store reads
// (hostsim/pdf_store.h). Plain values, so that programs without the PDF
// store (the Windows host program) can share the runner's argument reading.
#pragma once

#include <string>

namespace hostsim {

// The resolution of the pictures of masked pages: at 200 dots per inch kept
// text stays legible in print.
constexpr int kDefaultPdfDpi = 200;
constexpr int kMinPdfDpi = 50;
constexpr int kMaxPdfDpi = 1200;

struct PdfOptions {
  // The masked copy's file-system path; empty: NAME-masked.pdf beside NAME.pdf.
  std::string output;
  // An existing file at the copy's path may be replaced (--force).
  bool replaceOutput = false;
  // Dots per inch of the pictures of masked pages, kMinPdfDpi to kMaxPdfDpi.
  int dpi = kDefaultPdfDpi;
};

}  // namespace hostsim
