#include "masking/mask_document.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "masking/mask_region.h"
#include "masking/memory.h"
#include "masking/message_sink.h"
#include "masking/messages.h"

namespace {

// Pieces lower or narrower than this are grown, so that no hairline of the
// page stays unmasked between a frame and the page edge.
constexpr std::int32_t kMinimumPieceSize = 300;

// Reported like a host failure when a region's nodes cannot be allocated; it
// falls under "any other code" and so shows the general error message.
constexpr HostResult kOutOfMemory = static_cast<HostResult>(0x8007000Eu);

const char kBorderStyle[] = "%BorderStyle";
const char kFillStyle[] = "%FillStyle";

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
};

// Reads the annotation at `index` into pass.annotation and tells whether it is
// a keep-frame: a rectangle with a border and without fill. Both attributes
// are read for every rectangle, whatever the first one says.
Outcome ReadAnnotation(DocumentPass& pass, std::int32_t page, std::int32_t index, bool& keepFrame) {
  keepFrame = false;
  pass.annotation.size = sizeof(HostAnnotationInfo);
  const HostResult read =
      HostGetAnnotationInformation(pass.document, page, 0, index, &pass.annotation, nullptr);
  if (read < 0) return GiveUp(read);
  if (pass.annotation.type != kRectangleAnnotation) return kGoOn;

  std::int32_t borderStyle = 0;
  if (HostGetAnnotationAttribute(pass.annotation.handle, kBorderStyle, &borderStyle,
                                 sizeof(borderStyle), nullptr) < 0) {
    return kGiveUpQuietly;
  }
  std::int32_t fillStyle = 0;
  if (HostGetAnnotationAttribute(pass.annotation.handle, kFillStyle, &fillStyle, sizeof(fillStyle),
                                 nullptr) < 0) {
    return kGiveUpQuietly;
  }
  keepFrame = borderStyle == 1 && fillStyle != 1;
  return kGoOn;
}

// "<page>ページにマスクできない部分がありました。(<path>)", with the path's
// bytes copied as they are.
void ShowUnmaskablePage(std::int32_t page, const char* path) {
  char number[16];
  std::snprintf(number, sizeof(number), "%d", static_cast<int>(page));
  const std::size_t numberLength = std::strlen(number);
  const std::size_t textLength = std::strlen(kUnmaskablePageText);
  const std::size_t pathLength = std::strlen(path);
  const std::size_t total = numberLength + textLength + 1 + pathLength + 1;
  char* message = static_cast<char*>(AllocateBlock(total + 1));
  if (message == nullptr) {
    // Too little memory for the path: the page is still worth naming.
    char shortMessage[sizeof(number) + 64];
    std::snprintf(shortMessage, sizeof(shortMessage), "%s%s", number, kUnmaskablePageText);
    ShowMessage(shortMessage);
    return;
  }
  char* end = message;
  std::memcpy(end, number, numberLength);
  end += numberLength;
  std::memcpy(end, kUnmaskablePageText, textLength);
  end += textLength;
  *end++ = '(';
  std::memcpy(end, path, pathLength);
  end += pathLength;
  *end++ = ')';
  *end = '\0';
  ShowMessage(message);
  ReleaseBlock(message);
}

// Covers every piece of the region with a borderless rectangle annotation, in
// list order. Rectangles the host refuses stay uncovered and are reported
// once for the page.
Outcome AddMasks(const DocumentPass& pass, std::int32_t page, const MaskRegion& region) {
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
    const std::int32_t borderless = 0;
    if (HostSetAnnotationAttribute(pass.document, created, kBorderStyle, 0, &borderless, 0,
                                   nullptr) < 0) {
      return kGiveUpQuietly;
    }
  }
  if (unmaskable) ShowUnmaskablePage(page, pass.path);
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
    if (!region.Exclude(frame.x, frame.y, frame.width, frame.height)) return GiveUp(kOutOfMemory);
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
  region.GrowSlivers(kMinimumPieceSize);
  return AddMasks(pass, page, region);
}

// One page, from its information call to the release of its region.
Outcome MaskPage(DocumentPass& pass, std::int32_t page) {
  const HostResult info = HostGetPageInformation(pass.document, page, &pass.pageInfo);
  if (info < 0) return GiveUp(info);
  MaskRegion* region = MaskRegion::Create(pass.pageInfo.width, pass.pageInfo.height);
  if (region == nullptr) return GiveUp(kOutOfMemory);
  const Outcome outcome = MaskPageRegion(pass, page, *region);
  MaskRegion::Destroy(region);
  return outcome;
}

}  // namespace

void ShowHostError(HostResult code) { ShowMessage(HostErrorText(code)); }

bool MaskDocument(const char* path) {
  DocumentPass pass{};
  pass.path = path;
  HostOpenMode mode{sizeof(HostOpenMode), 1, 1};
  const HostResult opened = HostOpenDocument(path, &pass.document, &mode);
  if (opened < 0) {
    ShowHostError(opened);
    return false;
  }

  // The result is not examined: a host that writes nothing leaves a page
  // count of 0, and the document is saved unchanged.
  HostDocumentInfo documentInfo{};
  documentInfo.size = sizeof(HostDocumentInfo);
  HostGetDocumentInformation(pass.document, &documentInfo);

  pass.pageInfo.size = sizeof(HostPageInfo);
  for (std::int64_t page = 1; page <= documentInfo.pageCount; ++page) {
    const Outcome outcome = MaskPage(pass, static_cast<std::int32_t>(page));
    if (!outcome.ok) {
      if (outcome.showError) ShowHostError(outcome.code);
      // Whatever was changed so far is dropped: close without saving.
      HostCloseDocument(pass.document, nullptr);
      return false;
    }
  }
  // A save that fails leaves the document unmasked on disk: it must not be
  // reported as done, or the user would hand out what should be hidden.
  const HostResult saved = HostSaveDocument(pass.document, nullptr);
  if (saved < 0) ShowHostError(saved);
  // Once saved, the document is safe whatever the close answers.
  HostCloseDocument(pass.document, nullptr);
  return saved >= 0;
}
