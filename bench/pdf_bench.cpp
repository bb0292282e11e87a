// Speed and memory of `velumo mask` on PDF documents, as a user meets them:
// the whole process (start, reading, the pass, rendering the masked pages at
// 200 dpi and writing the copy), its peak memory and the copy's size.
//
//   velumo_pdf_bench [VELUMO]   (default: the runner built beside it)
//
// The documents are A4 pages of text (60 lines of Helvetica) with one
// keep-frame each, around a third of the page: every page becomes a picture.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <string>

#include "bench/timed_process.h"

namespace {

void MakeTextDocument(const std::string& path, int pages) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFObjectHandle font = pdf.makeIndirectObject(QPDFObjectHandle::parse(
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
  QPDFPageDocumentHelper document(pdf);
  for (int page = 0; page < pages; ++page) {
    std::string content = "BT /F1 10 Tf 13 TL 56 800 Td\n";
    for (int line = 0; line < 60; ++line) {
      content += "(Page " + std::to_string(page + 1) + ", line " + std::to_string(line + 1) +
                 ": the quick brown fox jumps over the lazy dog, 0123456789 yen) '\n";
    }
    content += "ET\n";
    QPDFObjectHandle dictionary = QPDFObjectHandle::parse(
        "<< /Type /Page /MediaBox [0 0 595.28 841.89] /Resources << /Font << >> >> >>");
    dictionary.getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
    dictionary.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    dictionary.replaceKey(
        "/Annots", QPDFObjectHandle::parse("[<< /Type /Annot /Subtype /Square /F 4 /C [1 0 0] "
                                           "/Border [0 0 2] /Rect [50 450 400 760] >>]"));
    document.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(dictionary)), false);
  }
  QPDFWriter writer(pdf, path.c_str());
  writer.write();
}

using Run = bench::TimedRun;

Run MaskOnce(const std::string& velumo, const std::string& path) {
  std::string program = velumo, command = "mask", force = "--force", file = path;
  char* const arguments[] = {program.data(), command.data(), force.data(), file.data(), nullptr};
  return bench::RunTimed(arguments);
}

long SizeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// Prints the figures of one document size; false if the run failed.
bool Measure(const std::string& velumo, const std::string& folder, int pages, int rounds) {
  const std::string path = folder + "/text.pdf";
  const std::string copy = folder + "/text-masked.pdf";
  MakeTextDocument(path, pages);
  Run best{1e9, 0, 0};
  for (int round = 0; round < rounds; ++round) {
    const Run run = MaskOnce(velumo, path);
    if (run.status != 0) {
      std::printf("%d pages: exit status %d\n", pages, run.status);
      ::unlink(path.c_str());
      ::unlink(copy.c_str());
      return false;
    }
    best.seconds = std::min(best.seconds, run.seconds);
    best.peakKiB = std::max(best.peakKiB, run.peakKiB);
  }
  std::printf(
      "%5d pages (%6.2f MB)  %7.2f s  %5.3f s a page  %6.0f MiB  copy %7.2f MB (%4.0f KB a page)\n",
      pages, static_cast<double>(SizeOf(path)) / 1e6, best.seconds, best.seconds / pages,
      static_cast<double>(best.peakKiB) / 1024.0, static_cast<double>(SizeOf(copy)) / 1e6,
      static_cast<double>(SizeOf(copy)) / 1e3 / pages);
  ::unlink(path.c_str());
  ::unlink(copy.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string velumo = argc > 1 ? argv[1] : VELUMO_RUNNER_PATH;
  char folder[] = "/tmp/velumo-pdf-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  std::printf(
      "velumo mask on A4 text pages, a keep-frame on each, 200 dpi; time best of the runs,\n"
      "peak memory of the process (targets: 100 pages under 30 s, under 300 MiB at any"
      " page count)\n");
  const bool measured = Measure(velumo, folder, 10, 3) && Measure(velumo, folder, 100, 3) &&
                        Measure(velumo, folder, 400, 1);
  ::rmdir(folder);
  return measured ? 0 : 1;
}
