// Reading a PDF file with qpdf, as the PDF store and its fuzz target do: the
// file opened without repairs, its pages' geometry and their annotations as
// the host sees them.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <string>
#include <vector>

#include "hostapi/host_api.h"
#include "hostsim/document.h"
#include "hostsim/pdf_geometry.h"

namespace hostsim {

struct PdfPage {
  QPDFObjectHandle object;
  PageGeometry geometry;
};

// Opens `content` (which must outlive `qpdf`) as a PDF file named `name` in
// qpdf's warnings, which go to standard error. Refuses, with the host's
// result code, a file that needs a password (kHostAccessDenied), that is
// encrypted (kHostNoRight) or that cannot be read without repairs
// (kHostBadFormat).
HostResult OpenPdf(const std::string& content, const std::string& name, QPDF& qpdf,
                   std::string& reason);

// How ReadPages leaves the page tree.
enum class InheritedAttributes {
  kLeft,    // where they are (reading alone)
  kPushed,  // pushed down to every page, which then holds all it uses
};

// Every page, in order; kHostBadFormat when the page tree or a page's boxes
// are broken. Pushing the inherited attributes down takes time on documents
// of thousands of pages: only a copy that is changed needs it.
HostResult ReadPages(QPDF& qpdf, InheritedAttributes inherited, std::vector<PdfPage>& pages,
                     std::string& reason);

// The entries of a page's annotation list, in order (an entry that is not a
// dictionary included, as a null object).
std::vector<QPDFObjectHandle> PageAnnotations(QPDFObjectHandle page);

// One annotation as the host sees it (see hostsim/pdf_store.h).
Annotation ToHostAnnotation(const PageGeometry& page, QPDFObjectHandle annotation);

// The stand-in's reason for a file it refuses: qpdf's warnings are counted
// as damage. Nothing when there were none.
bool AnyDamage(QPDF& qpdf, std::string& reason);

}  // namespace hostsim
