// Fuzz target: the PDF store's reading of a file, with any bytes as the file:
// qpdf opens it without repairs, its pages and annotations become the host's
// pages and rectangles, and what could carry masked content is removed (every
// other page taken as masked) before the file is written to nowhere.
//
// Any input is either read or refused with one of the store's result codes,
// never a crash; a file read gives pages of a positive size the host can
// hold and rectangles within them.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <string>
#include <vector>

#include "hostapi/host_api.h"
#include "hostsim/pdf_cleaning.h"
#include "hostsim/pdf_file.h"
#include "hostsim/pdf_geometry.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  QPDF qpdf;
  // Counted all the same, and refused as damage.
  qpdf.setSuppressWarnings(true);
  std::string reason;
  HostResult result = hostsim::OpenPdf(content, "fuzz.pdf", qpdf, reason);
  if (result < 0) {
    FUZZ_CHECK(result == kHostBadFormat || result == kHostAccessDenied || result == kHostNoRight);
    FUZZ_CHECK(!reason.empty());
    return 0;
  }
  std::vector<hostsim::PdfPage> pages;
  result = hostsim::ReadPages(qpdf, hostsim::InheritedAttributes::kPushed, pages, reason);
  if (result < 0) {
    FUZZ_CHECK(result == kHostBadFormat && !reason.empty());
    return 0;
  }
  std::vector<bool> masked;
  try {
    for (const hostsim::PdfPage& page : pages) {
      const auto units = hostsim::PageUnits(page.geometry);
      FUZZ_CHECK(units && units->x1 > 0 && units->y1 > 0);
      for (QPDFObjectHandle& annotation : hostsim::PageAnnotations(page.object)) {
        const hostsim::Annotation host = hostsim::ToHostAnnotation(page.geometry, annotation);
        FUZZ_CHECK(host.width >= 0 && host.height >= 0);
        FUZZ_CHECK(host.x >= 0 && std::int64_t{host.x} + host.width <= units->x1);
        FUZZ_CHECK(host.y >= 0 && std::int64_t{host.y} + host.height <= units->y1);
      }
      masked.push_back(masked.size() % 2 == 0);
    }
    hostsim::RemoveWhatCouldCarryContent(qpdf, pages, masked);
    Pl_Discard nowhere;
    QPDFWriter writer(qpdf);
    writer.setOutputPipeline(&nowhere);
    writer.write();
  } catch (const std::exception&) {
    // qpdf's refusal of what it finds broken while writing: the store then
    // reports it and writes nothing.
  }
  return 0;
}
