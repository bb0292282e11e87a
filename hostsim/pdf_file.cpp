#include "hostsim/pdf_file.h"

#include <qpdf/Constants.h>

#include <exception>
#include <optional>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

namespace hostsim {
namespace {

// Annotation flags (their bit values).
constexpr int kHiddenFlag = 1 << 1;
constexpr int kPrintFlag = 1 << 2;
constexpr int kNoViewFlag = 1 << 5;

// The type the host gives an annotation it does not draw as a rectangle.
constexpr std::int32_t kOtherAnnotation = 0;

std::optional<double> Number(QPDFObjectHandle object) {
  if (!object.isNumber()) return std::nullopt;
  return object.getNumericValue();
}

// A rectangle array of four numbers, normalised.
std::optional<PdfBox> BoxOf(QPDFObjectHandle array) {
  if (!array.isArray() || array.getArrayNItems() != 4) return std::nullopt;
  double value[4];
  for (int i = 0; i < 4; ++i) {
    const auto number = Number(array.getArrayItem(i));
    if (!number) return std::nullopt;
    value[i] = *number;
  }
  return PdfBox{std::min(value[0], value[2]), std::min(value[1], value[3]),
                std::max(value[0], value[2]), std::max(value[1], value[3])};
}

// A colour array with at least one component (an empty one is no colour).
bool HasColour(QPDFObjectHandle colour) { return colour.isArray() && colour.getArrayNItems() > 0; }

// The width of an annotation's border: its border style's /W, else the third
// number of /Border, else 1.
double BorderWidth(QPDFObjectHandle annotation) {
  QPDFObjectHandle style = annotation.getKey("/BS");
  if (style.isDictionary()) {
    QPDFObjectHandle width = style.getKey("/W");
    return width.isNull() ? 1.0 : Number(width).value_or(0.0);
  }
  QPDFObjectHandle border = annotation.getKey("/Border");
  if (border.isArray() && border.getArrayNItems() >= 3) {
    return Number(border.getArrayItem(2)).value_or(0.0);
  }
  return 1.0;
}

// Whether the annotation is drawn on the page and in print.
bool Shown(QPDFObjectHandle annotation) {
  QPDFObjectHandle flags = annotation.getKey("/F");
  const int value = flags.isInteger() ? flags.getIntValueAsInt() : 0;
  return (value & kPrintFlag) != 0 && (value & (kHiddenFlag | kNoViewFlag)) == 0;
}

// The rectangle a Square annotation draws: its /Rect less the margins of
// /RD, where they leave a rectangle.
PdfBox DrawnRectangle(PdfBox rect, QPDFObjectHandle margins) {
  if (!margins.isArray() || margins.getArrayNItems() != 4) return rect;
  double m[4];
  for (int i = 0; i < 4; ++i) m[i] = Number(margins.getArrayItem(i)).value_or(-1);
  if (m[0] < 0 || m[1] < 0 || m[2] < 0 || m[3] < 0) return rect;
  if (m[0] + m[2] >= rect.x1 - rect.x0 || m[1] + m[3] >= rect.y1 - rect.y0) return rect;
  return PdfBox{rect.x0 + m[0], rect.y0 + m[1], rect.x1 - m[2], rect.y1 - m[3]};
}

}  // namespace

bool AnyDamage(QPDF& qpdf, std::string& reason) {
  if (!qpdf.anyWarnings()) return false;
  reason = "the file is damaged: it can be read only with repairs (see the warnings above)";
  return true;
}

HostResult OpenPdf(const std::string& content, const std::string& name, QPDF& qpdf,
                   std::string& reason) {
  // A damaged cross-reference table is an error, not something to rebuild.
  qpdf.setAttemptRecovery(false);
  try {
    qpdf.processMemoryFile(name.c_str(), content.data(), content.size());
  } catch (const QPDFExc& error) {
    if (error.getErrorCode() == qpdf_e_password) {
      reason = "the file needs a password";
      return kHostAccessDenied;
    }
    reason = std::string("not a readable PDF file: ") + error.what();
    return kHostBadFormat;
  } catch (const std::exception& error) {
    reason = std::string("not a readable PDF file: ") + error.what();
    return kHostBadFormat;
  }
  if (qpdf.isEncrypted()) {
    // Its permissions could not be carried over to the masked copy.
    reason = "the file is encrypted";
    return kHostNoRight;
  }
  if (AnyDamage(qpdf, reason)) return kHostBadFormat;
  return kHostOk;
}

HostResult ReadPages(QPDF& qpdf, InheritedAttributes inherited, std::vector<PdfPage>& pages,
                     std::string& reason) {
  try {
    QPDFPageDocumentHelper helper(qpdf);
    if (inherited == InheritedAttributes::kPushed) helper.pushInheritedAttributesToPage();
    std::vector<QPDFPageObjectHelper> all = helper.getAllPages();
    pages.clear();
    pages.reserve(all.size());
    for (QPDFPageObjectHelper& helperPage : all) {
      QPDFObjectHandle page = helperPage.getObjectHandle();
      const std::string number = std::to_string(pages.size() + 1);
      // Where they were not pushed down, found on the page or above it.
      const auto media = BoxOf(helperPage.getAttribute("/MediaBox", false));
      if (!media) {
        reason = "page " + number + " has no valid media box";
        return kHostBadFormat;
      }
      QPDFObjectHandle cropKey = helperPage.getAttribute("/CropBox", false);
      const auto crop = BoxOf(cropKey);
      if (!cropKey.isNull() && !crop) {
        reason = "page " + number + " has no valid crop box";
        return kHostBadFormat;
      }
      QPDFObjectHandle rotate = helperPage.getAttribute("/Rotate", false);
      QPDFObjectHandle unit = page.getKey("/UserUnit");
      if ((!rotate.isNull() && !rotate.isInteger()) || (!unit.isNull() && !unit.isNumber())) {
        reason = "page " + number + " has an invalid rotation or unit";
        return kHostBadFormat;
      }
      const auto geometry =
          MakePageGeometry(*media, crop, rotate.isInteger() ? rotate.getIntValue() : 0,
                           unit.isNull() ? 1.0 : unit.getNumericValue());
      if (!geometry || !PageUnits(*geometry)) {
        reason = "page " + number + " has an empty or invalid visible area, rotation or unit";
        return kHostBadFormat;
      }
      pages.push_back(PdfPage{page, *geometry});
    }
  } catch (const std::exception& error) {
    reason = std::string("the page tree cannot be read: ") + error.what();
    return kHostBadFormat;
  }
  if (AnyDamage(qpdf, reason)) return kHostBadFormat;
  return kHostOk;
}

std::vector<QPDFObjectHandle> PageAnnotations(QPDFObjectHandle page) {
  std::vector<QPDFObjectHandle> list;
  QPDFObjectHandle annots = page.getKey("/Annots");
  if (!annots.isArray()) return list;
  list.reserve(static_cast<std::size_t>(annots.getArrayNItems()));
  for (QPDFObjectHandle& item : annots.aitems()) {
    list.push_back(item.isDictionary() ? item : QPDFObjectHandle::newNull());
  }
  return list;
}

Annotation ToHostAnnotation(const PageGeometry& page, QPDFObjectHandle annotation) {
  Annotation host;
  host.type = kOtherAnnotation;
  if (!annotation.isDictionary()) return host;
  const auto rect = BoxOf(annotation.getKey("/Rect"));
  if (!rect) return host;
  const bool square = annotation.getKey("/Subtype").isNameAndEquals("/Square");
  const PdfBox drawn = square ? DrawnRectangle(*rect, annotation.getKey("/RD")) : *rect;
  const auto units = InwardUnits(page, drawn);
  if (!units) return host;
  host.x = static_cast<std::int32_t>(units->x0);
  host.y = static_cast<std::int32_t>(units->y0);
  host.width = static_cast<std::int32_t>(units->x1 - units->x0);
  host.height = static_cast<std::int32_t>(units->y1 - units->y0);
  if (!square) return host;
  host.type = kRectangleAnnotation;
  const bool bordered =
      Shown(annotation) && HasColour(annotation.getKey("/C")) && BorderWidth(annotation) > 0;
  host.SetAttribute(kBorderStyleAttribute, bordered ? kBorderedStyle : kBorderlessStyle);
  host.SetAttribute(kFillStyleAttribute, HasColour(annotation.getKey("/IC")) ? kFilledStyle : 0);
  return host;
}

}  // namespace hostsim
