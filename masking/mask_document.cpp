#include "masking/mask_document.h"

#include <cstdint>

#include "hostapi/host_api.h"
#include "masking/keep_frame.h"
#include "masking/mask_region.h"
#include "masking/messages.h"

namespace masking {
namespace {

// How a step of the pass ended: go on, or give up on the document, with or
// without showing the failing code.
struct Outcome {
  bool ok;
  bool showError;
  HostResult code;
};

constexpr Outcome kGoOn{true, false, kHostOk};
constexpr Outcome kGiveUpQuietly{false, false, kHostOk};
constexpr Outcome GiveUp(HostResult code) { return Outcome{false, true, code}; }

// The state one document needs for all its pages. The records are filled by
// the host; their other fields are never cleared between calls.
struct DocumentPass {
  HostDocument document;
  const char* path;
  HostPageInfo pageInfo;
  HostAnnotationInfo annotation;
  bool leftUncovered;  // the host refused some rectangle of some page
};

// Reads the annotation at `index` into pass.annotation and tells whether it is
// a keep-frame. Both attributes are read for every rectangle, whatever the
// first one says.
Outcome ReadAnnotation(DocumentPass& pass, std::int32_t page, std::int32_t index, bool& keepFrame) {
  keepFrame = false;
  pass.annotation.size = sizeof(HostAnnotationInfo);
  const HostResult read =
      HostGetAnnotationInformation(pass.document, page, 0, index, &pass.annotation, nullptr);
  if (read < 0) return GiveUp(read);
  if (pass.annotation.type != kRectangleAnnotation) return kGoOn;

  std::int32_t borderStyle = 0;
  if (HostGetAnnotationAttribute(pass.annotation.handle, kBorderStyleAttribute, &borderStyle,
                                 sizeof(borderStyle), nullptr) < 0) {
    return kGiveUpQuietly;
  }
  std::int32_t fillStyle = 0;
  if (HostGetAnnotationAttribute(pass.annotation.handle, kFillStyleAttribute, &fillStyle,
                                 sizeof(fillStyle), nullptr) < 0) {
    return kGiveUpQuietly;
  }
  keepFrame = IsKeepFrame(pass.annotation.type, borderStyle, fillStyle);
  return kGoOn;
}

// Covers every piece of the region with a borderless rectangle annotation, in
// list order. Rectangles the host refuses stay uncovered and are reported
// once for the page.
Outcome AddMasks(DocumentPass& pass, std::int32_t page, const MaskRegion& region) {
  bool unmaskable = false;
  for (const MaskPiece* piece = region.First(); piece != nullptr; piece = piece->next) {
    HostRectShape shape{sizeof(HostRectShape), kRectangleAnnotation, 0, 0,
                        piece->width,          piece->height};
    HostAnnotation created = 0;
    const HostResult added = HostAddAnnotation(pass.document, kRectangleAnnotation, page, piece->x,
                                               piece->y, &shape, &created, nullptr);
    if (added == kHostInvalidArgument) {
      unmaskable = true;
      continue;
    }
    if (added < 0) return kGiveUpQuietly;
    const std::int32_t borderless = kBorderlessStyle;
    if (HostSetAnnotationAttribute(pass.document, created, kBorderStyleAttribute, 0, &borderless, 0,
                                   nullptr) < 0) {
      return kGiveUpQuietly;
    }
  }
  if (unmaskable) {
    pass.leftUncovered = true;
    ShowUnmaskablePage(page, pass.path);
  }
  return kGoOn;
}

// Carves the page's keep-frames out of the region, removes them, and masks
// the rest when there was at least one.
Outcome MaskPageRegion(DocumentPass& pass, std::int32_t page, MaskRegion& region) {
  const std::int32_t count = pass.pageInfo.annotationCount;
  bool keepFrameFound = false;
  for (std::int64_t index = 1; index <= count; ++index) {
    bool keepFrame = false;
    const Outcome read = ReadAnnotation(pass, page, static_cast<std::int32_t>(index), keepFrame);
    if (!read.ok) return read;
    if (!keepFrame) continue;
    keepFrameFound = true;
    const HostAnnotationInfo& frame = pass.annotation;
    if (!region.Exclude(frame.x, frame.y, frame.width, frame.height))
      return GiveUp(kHostOutOfMemory);
  }
  // Backwards, so that a removal never shifts an index still to be visited.
  // Each annotation is judged afresh from the host's data.
  for (std::int64_t index = count; index >= 1; --index) {
    bool keepFrame = false;
    const Outcome read = ReadAnnotation(pass, page, static_cast<std::int32_t>(index), keepFrame);
    if (!read.ok) return read;
    if (keepFrame && HostRemoveAnnotation(pass.document, pass.annotation.handle, nullptr) < 0) {
      return kGiveUpQuietly;
    }
  }
  if (!keepFrameFound) return kGoOn;
  // Thinner pieces grow, without covering more of the page, until the host
  // takes them.
  region.GrowSlivers(kMinimumRectangleSize);
  return AddMasks(pass, page, region);
}

// One page, from its information call to the release of its region.
Outcome MaskPage(DocumentPass& pass, std::int32_t page) {
  const HostResult info = HostGetPageInformation(pass.document, page, &pass.pageInfo);
  if (info < 0) return GiveUp(info);
  MaskRegion* region = MaskRegion::Create(pass.pageInfo.width, pass.pageInfo.height);
  if (region == nullptr) return GiveUp(kHostOutOfMemory);
  const Outcome outcome = MaskPageRegion(pass, page, *region);
  MaskRegion::Destroy(region);
  return outcome;
}

// Closes the document without saving it, after a step that gave up; the
// outcome's message, if any, comes first.
bool GiveUpOnDocument(const DocumentPass& pass, const Outcome& outcome) {
  if (outcome.showError) ShowHostError(outcome.code);
  // Whatever was changed so far is dropped.
  HostCloseDocument(pass.document, nullptr);
  return false;
}

}  // namespace

bool MaskDocument(const char* path, bool* leftUncovered) {
  if (leftUncovered != nullptr) *leftUncovered = false;
  DocumentPass pass{};
  pass.path = path;
  HostOpenMode mode{sizeof(HostOpenMode), 1, 1};
  const HostResult opened = HostOpenDocument(path, &pass.document, &mode);
  if (opened < 0) {
    ShowHostError(opened);
    return false;
  }

  // A host that fails to describe the document has told us nothing about its
  // pages: saving it unchanged and reporting it done would hand out an
  // unmasked document. A host that succeeds but writes no count leaves 0.
  HostDocumentInfo documentInfo{};
  documentInfo.size = sizeof(HostDocumentInfo);
  const HostResult described = HostGetDocumentInformation(pass.document, &documentInfo);
  if (described < 0) return GiveUpOnDocument(pass, GiveUp(described));

  pass.pageInfo.size = sizeof(HostPageInfo);
  for (std::int64_t page = 1; page <= documentInfo.pageCount; ++page) {
    const Outcome outcome = MaskPage(pass, static_cast<std::int32_t>(page));
    if (!outcome.ok) return GiveUpOnDocument(pass, outcome);
  }
  // A save that fails leaves the document unmasked on disk: it must not be
  // reported as done, or the user would hand out what should be hidden.
  const HostResult saved = HostSaveDocument(pass.document, nullptr);
  if (saved < 0) ShowHostError(saved);
  // Once saved, the document is safe whatever the close answers.
  HostCloseDocument(pass.document, nullptr);
  if (leftUncovered != nullptr) *leftUncovered = pass.leftUncovered;
  return saved >= 0;
}

}  // namespace masking
