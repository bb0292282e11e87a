#include "runner/svg_render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <locale>
#include <sstream>
#include <vector>

#include "hostapi/host_api.h"
#include "hostsim/document_files.h"
#include "masking/keep_frame.h"
#include "masking/mask_region.h"

namespace {

constexpr double kPictureWidthPx = 600.0;

struct Box {
  std::int64_t left = 0;
  std::int64_t top = 0;
  std::int64_t right = 0;
  std::int64_t bottom = 0;

  static Box Of(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height) {
    // Negative sizes extend to the left or upwards.
    return Box{std::min(x, x + width), std::min(y, y + height), std::max(x, x + width),
               std::max(y, y + height)};
  }
  void Include(const Box& other) {
    left = std::min(left, other.left);
    top = std::min(top, other.top);
    right = std::max(right, other.right);
    bottom = std::max(bottom, other.bottom);
  }
  std::int64_t Width() const { return right - left; }
  std::int64_t Height() const { return bottom - top; }
};

enum class Kind { kKeepFrame, kVoidFrame, kMask, kOther };

// The masking pass's own rules. A rectangle whose fill style cannot be read
// is no keep-frame: the pass would give up on its document.
Kind Classify(const hostsim::Annotation& annotation) {
  const auto border = annotation.Attribute(kBorderStyleAttribute);
  if (!border) return Kind::kOther;
  if (masking::IsMask(annotation.type, *border)) return Kind::kMask;
  const auto fill = annotation.Attribute(kFillStyleAttribute);
  if (!fill || !masking::IsKeepFrame(annotation.type, *border, *fill)) return Kind::kOther;
  return annotation.width < 0 || annotation.height < 0 ? Kind::kVoidFrame : Kind::kKeepFrame;
}

// Frees a region when it goes out of scope.
struct RegionOwner {
  masking::MaskRegion* region;
  ~RegionOwner() { masking::MaskRegion::Destroy(region); }
};

// What the masking pass keeps of a page: the page less the region that its
// keep-frames leave to be covered, carved exactly as the pass carves it
// (growing thin pieces never uncovers anything, so it is left out). False if
// memory ran out.
bool KeptPieces(const hostsim::Page& page, std::vector<Box>& kept) {
  kept.clear();
  if (page.width <= 0 || page.height <= 0) return true;
  bool anyFrame = false;
  const RegionOwner covered{masking::MaskRegion::Create(page.width, page.height)};
  if (covered.region == nullptr) return false;
  for (const hostsim::Annotation& annotation : page.annotations) {
    const Kind kind = Classify(annotation);
    if (kind != Kind::kKeepFrame && kind != Kind::kVoidFrame) continue;
    anyFrame = true;
    if (!covered.region->Exclude(annotation.x, annotation.y, annotation.width, annotation.height)) {
      return false;
    }
  }
  if (!anyFrame) return true;
  const RegionOwner remaining{masking::MaskRegion::Create(page.width, page.height)};
  if (remaining.region == nullptr) return false;
  for (const masking::MaskPiece* piece = covered.region->First(); piece != nullptr;
       piece = piece->next) {
    if (!remaining.region->Exclude(piece->x, piece->y, piece->width, piece->height)) return false;
  }
  for (const masking::MaskPiece* piece = remaining.region->First(); piece != nullptr;
       piece = piece->next) {
    kept.push_back(Box::Of(piece->x, piece->y, piece->width, piece->height));
  }
  return true;
}

void RectAttributes(std::ostream& out, const Box& box) {
  out << "x=\"" << box.left << "\" y=\"" << box.top << "\" width=\"" << box.Width()
      << "\" height=\"" << box.Height() << "\"";
}

}  // namespace

std::string DocumentToSvg(const hostsim::Document& document) {
  // Sizes of gaps, margins, labels and lines follow the largest page, so the
  // picture looks alike whatever units the document uses.
  std::int64_t reference = 0;
  for (const hostsim::Page& page : document.pages) {
    const Box box = Box::Of(0, 0, page.width, page.height);
    reference = std::max({reference, box.Width(), box.Height()});
  }
  if (reference <= 0) reference = 1000;
  const std::int64_t gap = std::max<std::int64_t>(reference / 12, 1);
  const std::int64_t margin = std::max<std::int64_t>(reference / 25, 1);
  const std::int64_t fontSize = std::max<std::int64_t>(reference / 40, 1);

  // Each page gets a band that holds the page, its annotations and its label
  // above them; bands follow each other with a gap.
  std::vector<Box> bands;
  std::vector<std::int64_t> offsets;
  Box overall;
  bool first = true;
  std::int64_t cursor = 0;
  for (const hostsim::Page& page : document.pages) {
    Box band = Box::Of(0, 0, page.width, page.height);
    for (const hostsim::Annotation& annotation : page.annotations) {
      band.Include(Box::Of(annotation.x, annotation.y, annotation.width, annotation.height));
    }
    const std::int64_t offset = cursor + 2 * fontSize - band.top;
    const Box placed{band.left, cursor, band.right, offset + band.bottom};
    if (first) {
      overall = placed;
      first = false;
    } else {
      overall.Include(placed);
    }
    bands.push_back(band);
    offsets.push_back(offset);
    cursor = placed.bottom + gap;
  }
  if (first) overall = Box{0, 0, reference, reference};
  overall = Box{overall.left - margin, overall.top - margin, overall.right + margin,
                overall.bottom + margin};

  const double unitsPerPx = static_cast<double>(overall.Width()) / kPictureWidthPx;
  const double heightPx = static_cast<double>(overall.Height()) / unitsPerPx;

  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kPictureWidthPx << "\" height=\""
      << std::llround(heightPx) << "\" viewBox=\"" << overall.left << " " << overall.top << " "
      << overall.Width() << " " << overall.Height() << "\">\n";
  out << "<rect class=\"background\" ";
  RectAttributes(out, overall);
  out << " fill=\"#e6e6e6\"/>\n";

  std::vector<Box> kept;
  for (std::size_t i = 0; i < document.pages.size(); ++i) {
    const hostsim::Page& page = document.pages[i];
    if (!KeptPieces(page, kept)) return std::string();
    out << "<g class=\"page\" id=\"page-" << i + 1 << "\" transform=\"translate(0 " << offsets[i]
        << ")\">\n";
    out << "<text x=\"" << bands[i].left << "\" y=\"" << bands[i].top - fontSize / 2
        << "\" font-family=\"sans-serif\" font-size=\"" << fontSize << "\" fill=\"#444\">page "
        << i + 1 << "</text>\n";
    out << "<rect class=\"sheet\" ";
    RectAttributes(out, Box::Of(0, 0, page.width, page.height));
    out << " fill=\"white\" stroke=\"#888\" stroke-width=\"" << unitsPerPx << "\"/>\n";
    for (const Box& piece : kept) {
      out << "<rect class=\"kept\" ";
      RectAttributes(out, piece);
      out << " fill=\"#dce8fb\"/>\n";
    }
    for (const hostsim::Annotation& annotation : page.annotations) {
      const Box box = Box::Of(annotation.x, annotation.y, annotation.width, annotation.height);
      switch (Classify(annotation)) {
        case Kind::kKeepFrame:
          out << "<rect class=\"keep-frame\" ";
          RectAttributes(out, box);
          out << " fill=\"none\" stroke=\"#1f5fd0\" stroke-width=\"" << 2 * unitsPerPx
              << "\" stroke-dasharray=\"" << 8 * unitsPerPx << " " << 5 * unitsPerPx << "\"/>\n";
          break;
        case Kind::kVoidFrame:
          out << "<rect class=\"void-frame\" ";
          RectAttributes(out, box);
          out << " fill=\"none\" stroke=\"#d02020\" stroke-width=\"" << 2 * unitsPerPx
              << "\" stroke-dasharray=\"" << 2 * unitsPerPx << " " << 3 * unitsPerPx << "\"/>\n";
          break;
        case Kind::kMask:
          out << "<rect class=\"mask\" ";
          RectAttributes(out, box);
          out << " fill=\"black\"/>\n";
          break;
        case Kind::kOther:
          out << "<rect class=\"other\" ";
          RectAttributes(out, box);
          out << " fill=\"none\" stroke=\"#999\" stroke-width=\"" << unitsPerPx << "\"/>\n";
          break;
      }
    }
    out << "</g>\n";
  }
  out << "</svg>\n";
  return out.str();
}

bool DrawDocumentFile(const std::string& documentPath, std::string& svg,
                      hostsim::FileVersion& version, std::string& error) {
  hostsim::Document document;
  std::string reason;
  switch (hostsim::ReadDocumentFile(documentPath, document, version, reason)) {
    case hostsim::FileStatus::kOk:
      break;
    case hostsim::FileStatus::kInvalid:
      error = documentPath + " is " + reason;
      return false;
    default:
      error = "cannot read " + documentPath + ": " + reason;
      return false;
  }
  svg = DocumentToSvg(document);
  if (svg.empty()) {
    error = "not enough memory to draw " + documentPath;
    return false;
  }
  return true;
}

bool RenderDocumentSvg(const std::string& documentPath, const std::string& svgPath,
                       std::string& error) {
  std::string svg;
  hostsim::FileVersion version;
  if (!DrawDocumentFile(documentPath, svg, version, error)) return false;
  hostsim::ReplaceRules rules;
  rules.notSameFileAs = &version;
  rules.mayCreate = true;
  return hostsim::ReplaceFileContent(svgPath, svg, rules, error) == hostsim::FileStatus::kOk;
}
