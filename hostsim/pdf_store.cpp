#include "hostsim/pdf_store.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <memory>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <stdexcept>
#include <utility>
#include <vector>

#include "hostsim/pdf_cleaning.h"
#include "hostsim/pdf_file.h"
#include "hostsim/pdf_geometry.h"
#include "hostsim/pdf_picture.h"

namespace hostsim {

// An open PDF document: the file as read, and what writing its masked copy
// needs. The file is parsed again for each use, so that the document as
// loaded is never changed.
struct PdfSource {
  std::string name;     // the path as the host named it, for messages
  std::string content;  // the whole file
  std::vector<PageGeometry> pages;
  std::string output;  // the masked copy's path
  bool replaceOutput = false;
  int dpi = kDefaultPdfDpi;
};

namespace {

PdfOptions& Options() {
  static PdfOptions* options = new PdfOptions();
  return *options;
}

// Writes whatever qpdf writes to the text sink of a file being replaced.
class SinkPipeline : public Pipeline {
 public:
  explicit SinkPipeline(const TextSink& sink) : Pipeline("masked copy", nullptr), sink_(sink) {}
  // A sink that fails stops the writing at once (the reason is the sink's).
  void write(unsigned char const* data, size_t length) override {
    if (failed_ || !sink_(std::string_view(reinterpret_cast<const char*>(data), length))) {
      failed_ = true;
      throw std::runtime_error("the masked copy cannot be written");
    }
  }
  void finish() override {}
  bool failed() const { return failed_; }

 private:
  const TextSink& sink_;
  bool failed_ = false;
};

// poppler's complaints while it renders: they go to standard error, and any
// of them means a page was not drawn as it should be.
struct RenderErrors {
  std::string name;
  int count = 0;
};

void CountRenderError(const std::string& message, void* closure) {
  auto* errors = static_cast<RenderErrors*>(closure);
  ++errors->count;
  std::fprintf(stderr, "WARNING: %s: %s\n", errors->name.c_str(), message.c_str());
}

void IgnoreRenderError(const std::string& /*message*/, void* /*closure*/) {}

// Counts poppler's complaints into `errors` while it lives.
class RenderErrorsTo {
 public:
  explicit RenderErrorsTo(RenderErrors& errors) {
    poppler::set_debug_error_function(CountRenderError, &errors);
  }
  ~RenderErrorsTo() { poppler::set_debug_error_function(IgnoreRenderError, nullptr); }
  RenderErrorsTo(const RenderErrorsTo&) = delete;
  RenderErrorsTo& operator=(const RenderErrorsTo&) = delete;
};

// What the pass left of one page: which of the file's annotations remain,
// and the masks it added, in page units.
struct PageOutcome {
  std::vector<bool> remaining;
  std::vector<UnitBox> masks;
  bool masked = false;
};

HostResult PageOutcomes(const PdfSource& source, const Document& document,
                        std::vector<QPDFObjectHandle>& pageObjects,
                        std::vector<PageOutcome>& outcomes, std::string& reason) {
  if (document.pages.size() != source.pages.size() || pageObjects.size() != source.pages.size()) {
    reason = "the document's pages changed while it was open";
    return kHostFail;
  }
  outcomes.assign(source.pages.size(), PageOutcome{});
  for (std::size_t i = 0; i < source.pages.size(); ++i) {
    PageOutcome& outcome = outcomes[i];
    outcome.remaining.assign(PageAnnotations(pageObjects[i]).size(), false);
    for (const Annotation& annotation : document.pages[i].annotations) {
      if (annotation.sourceIndex < 0) {
        outcome.masks.push_back(UnitBox{annotation.x, annotation.y,
                                        std::int64_t{annotation.x} + annotation.width,
                                        std::int64_t{annotation.y} + annotation.height});
        continue;
      }
      const auto index = static_cast<std::size_t>(annotation.sourceIndex);
      if (index >= outcome.remaining.size()) {
        reason = "the document's annotations changed while it was open";
        return kHostFail;
      }
      outcome.remaining[index] = true;
    }
    outcome.masked = !outcome.masks.empty() ||
                     std::find(outcome.remaining.begin(), outcome.remaining.end(), false) !=
                         outcome.remaining.end();
  }
  return kHostOk;
}

// The file with the annotations the pass removed taken off their pages, as
// poppler renders it: in memory, never on disk.
HostResult RenderCopy(const PdfSource& source, const std::vector<PageOutcome>& outcomes,
                      std::string& copy, std::string& reason) {
  QPDF qpdf;
  const HostResult opened = OpenPdf(source.content, source.name, qpdf, reason);
  if (opened < 0) return opened;
  std::vector<PdfPage> pages;
  const HostResult read = ReadPages(qpdf, InheritedAttributes::kLeft, pages, reason);
  if (read < 0) return read;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (!outcomes[i].masked) continue;
    std::vector<QPDFObjectHandle> annotations = PageAnnotations(pages[i].object);
    QPDFObjectHandle kept = QPDFObjectHandle::newArray();
    for (std::size_t a = 0; a < annotations.size(); ++a) {
      if (outcomes[i].remaining[a] && !annotations[a].isNull()) kept.appendItem(annotations[a]);
    }
    pages[i].object.replaceKey("/Annots", kept);
  }
  Pl_Buffer buffer("render copy");
  QPDFWriter writer(qpdf);
  writer.setOutputPipeline(&buffer);
  writer.write();
  if (AnyDamage(qpdf, reason)) return kHostBadFormat;
  const std::unique_ptr<Buffer> bytes(buffer.getBuffer());
  copy.assign(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize());
  return kHostOk;
}

// Turns the masked pages of `qpdf` into pictures rendered from `rendered`.
void PaintMaskedPages(QPDF& qpdf, const PdfSource& source, const std::vector<PdfPage>& pages,
                      const std::vector<PageOutcome>& outcomes,
                      const std::shared_ptr<poppler::document>& rendered) {
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (!outcomes[i].masked) continue;
    PagePicture picture;
    picture.source = rendered;
    picture.pageIndex = static_cast<int>(i);
    picture.geometry = source.pages[i];
    picture.dpi = source.dpi;
    picture.pixels = PicturePixels(picture.geometry, picture.dpi);
    const UnitBox pageUnits = *PageUnits(picture.geometry);
    for (const UnitBox& mask : outcomes[i].masks) {
      const UnitBox pixels = OutwardPixels(mask, pageUnits, picture.pixels, picture.dpi);
      if (pixels.x1 > pixels.x0 && pixels.y1 > pixels.y0) picture.masks.push_back(pixels);
    }
    const PdfBox& v = picture.geometry.visible;
    const bool turned = picture.geometry.rotation == 90 || picture.geometry.rotation == 270;
    const double width = turned ? v.y1 - v.y0 : v.x1 - v.x0;
    const double height = turned ? v.x1 - v.x0 : v.y1 - v.y0;

    QPDFObjectHandle page = pages[i].object;
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::newFromRectangle(
                                     QPDFObjectHandle::Rectangle(0, 0, width, height)));
    page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(0));
    if (picture.geometry.userUnit != 1) {
      page.replaceKey("/UserUnit", QPDFObjectHandle::newReal(picture.geometry.userUnit, 6));
    }
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Page", NewPictureImage(qpdf, picture));
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents",
                    QPDFObjectHandle::newStream(&qpdf, PictureContent(picture, "/Page")));
  }
}

// How the masked copy of the document at `origin` is written: a new file
// (replacing one only with --force), never the document itself, readable by
// no one who may not read the document.
ReplaceRules CopyRules(const DocumentOrigin& origin) {
  ReplaceRules rules;
  rules.notSameFileAs = &origin.version;
  rules.mayCreate = true;
  rules.mayReplace = origin.pdf->replaceOutput;
  rules.accessFrom = &origin.location;
  return rules;
}

}  // namespace

void SetPdfOptions(const PdfOptions& options) { Options() = options; }

const PdfOptions& CurrentPdfOptions() { return Options(); }

bool LooksLikePdf(std::string_view content) {
  return content.substr(0, 1024).find("%PDF-") != std::string_view::npos;
}

std::string MaskedCopyPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string extension = ".pdf";
  std::string stem = path;
  if (path.size() >= nameStart + 5) {
    std::string last = path.substr(path.size() - 4);
    std::string lower = last;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == ".pdf") {
      extension = last;
      stem = path.substr(0, path.size() - 4);
    }
  }
  return stem + "-masked" + extension;
}

HostResult LoadPdfDocument(StoredFile&& file, Document& document, DocumentOrigin& origin,
                           std::string& reason) {
  auto source = std::make_shared<PdfSource>();
  source->name = file.path;
  source->content = std::move(file.content);
  const PdfOptions& options = Options();
  source->output = options.output.empty() ? MaskedCopyPath(file.path) : options.output;
  source->replaceOutput = options.replaceOutput;
  source->dpi = std::clamp(options.dpi, kMinPdfDpi, kMaxPdfDpi);

  // The copy's file is looked at first, so that a run that could not write
  // it stops before any work.
  origin.location = std::move(file.location);
  origin.version = file.version;
  origin.pdf = source;
  const FileStatus writable = CheckReplaceRules(source->output, CopyRules(origin), reason);
  if (writable != FileStatus::kOk) {
    if (writable == FileStatus::kExists) reason += " (--force replaces it)";
    reason = "the masked copy: " + reason;
    return SaveResult(writable);
  }

  QPDF qpdf;
  HostResult result = OpenPdf(source->content, source->name, qpdf, reason);
  if (result < 0) return result;
  std::vector<PdfPage> pages;
  result = ReadPages(qpdf, InheritedAttributes::kLeft, pages, reason);
  if (result < 0) return result;
  try {
    document.pages.clear();
    document.pages.reserve(pages.size());
    for (const PdfPage& pdfPage : pages) {
      Page page;
      const UnitBox size = *PageUnits(pdfPage.geometry);
      page.width = static_cast<std::int32_t>(size.x1);
      page.height = static_cast<std::int32_t>(size.y1);
      std::vector<QPDFObjectHandle> annotations = PageAnnotations(pdfPage.object);
      page.annotations.reserve(annotations.size());
      for (std::size_t i = 0; i < annotations.size(); ++i) {
        page.annotations.push_back(ToHostAnnotation(pdfPage.geometry, annotations[i]));
        page.annotations.back().sourceIndex = static_cast<std::int32_t>(i);
      }
      document.pages.push_back(std::move(page));
      source->pages.push_back(pdfPage.geometry);
    }
  } catch (const std::exception& error) {
    reason = std::string("the file cannot be read: ") + error.what();
    return kHostBadFormat;
  }
  if (AnyDamage(qpdf, reason)) return kHostBadFormat;
  // No minimum size: PDF annotations may be as small as they like.
  document.host = HostSettings{};
  return kHostOk;
}

HostResult StorePdfDocument(DocumentOrigin& origin, const Document& document, std::string& reason) {
  const PdfSource& source = *origin.pdf;
  RenderErrors errors{source.name, 0};
  const RenderErrorsTo counting(errors);
  try {
    QPDF qpdf;
    HostResult result = OpenPdf(source.content, source.name, qpdf, reason);
    if (result < 0) return result;
    std::vector<PdfPage> pages;
    result = ReadPages(qpdf, InheritedAttributes::kPushed, pages, reason);
    if (result < 0) return result;
    std::vector<QPDFObjectHandle> pageObjects;
    pageObjects.reserve(pages.size());
    for (const PdfPage& page : pages) pageObjects.push_back(page.object);
    std::vector<PageOutcome> outcomes;
    result = PageOutcomes(source, document, pageObjects, outcomes, reason);
    if (result < 0) return result;

    std::vector<bool> masked(outcomes.size());
    for (std::size_t i = 0; i < outcomes.size(); ++i) masked[i] = outcomes[i].masked;
    // poppler reads the copy where it lies: it lives as long as `rendered`.
    // cppcheck-suppress variableScope
    std::string renderCopy;
    std::shared_ptr<poppler::document> rendered;
    if (std::find(masked.begin(), masked.end(), true) != masked.end()) {
      result = RenderCopy(source, outcomes, renderCopy, reason);
      if (result < 0) return result;
      rendered.reset(poppler::document::load_from_raw_data(renderCopy.data(),
                                                           static_cast<int>(renderCopy.size())));
      if (!rendered || rendered->is_locked() || errors.count > 0 ||
          rendered->pages() != static_cast<int>(pages.size())) {
        reason = "poppler cannot read the file";
        return kHostBadFormat;
      }
    }
    RemoveWhatCouldCarryContent(qpdf, pages, masked);
    PaintMaskedPages(qpdf, source, pages, outcomes, rendered);
    if (AnyDamage(qpdf, reason)) return kHostBadFormat;

    const FileStatus written = ReplaceFileWith(
        source.output, CopyRules(origin),
        [&](const TextSink& sink, std::string& why) {
          SinkPipeline pipeline(sink);
          try {
            QPDFWriter writer(qpdf);
            writer.setOutputPipeline(&pipeline);
            writer.setObjectStreamMode(qpdf_o_generate);
            writer.setDeterministicID(true);
            writer.write();
          } catch (const std::exception& error) {
            if (!pipeline.failed())
              why = std::string("cannot make the masked copy: ") + error.what();
            return false;
          }
          if (pipeline.failed()) return false;
          if (errors.count > 0) {
            why = "a page cannot be rendered as it should (see the warnings above)";
            return false;
          }
          return !AnyDamage(qpdf, why);
        },
        nullptr, reason);
    if (written != FileStatus::kOk) return SaveResult(written);
  } catch (const std::exception& error) {
    reason = std::string("cannot make the masked copy: ") + error.what();
    return kHostFail;
  }
  return kHostOk;
}

}  // namespace hostsim
