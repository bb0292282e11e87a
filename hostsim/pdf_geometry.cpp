#include "hostsim/pdf_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace hostsim {
namespace {

// Lets a value that differs from a whole number only by the rounding of
// floating point count as that number.
constexpr double kSlack = 1e-6;
constexpr double kLargest = std::numeric_limits<std::int32_t>::max();

// Host units per PDF unit of the page.
double Scale(const PageGeometry& page) { return page.userUnit * kUnitsPerInch / 72.0; }

// The page's width and height as shown, in PDF units.
std::pair<double, double> ShownSize(const PageGeometry& page) {
  const double width = page.visible.x1 - page.visible.x0;
  const double height = page.visible.y1 - page.visible.y0;
  if (page.rotation == 90 || page.rotation == 270) return {height, width};
  return {width, height};
}

// A point of the page (PDF units, y upwards) as shown: from the top left
// corner, y downwards.
std::pair<double, double> Shown(const PageGeometry& page, double x, double y) {
  const PdfBox& v = page.visible;
  switch (page.rotation) {
    case 90:
      return {y - v.y0, x - v.x0};
    case 180:
      return {v.x1 - x, y - v.y0};
    case 270:
      return {v.y1 - y, v.x1 - x};
    default:
      return {x - v.x0, v.y1 - y};
  }
}

std::int64_t FloorDivide(std::int64_t value, std::int64_t by) {
  return value >= 0 ? value / by : -((-value + by - 1) / by);
}

std::int64_t CeilDivide(std::int64_t value, std::int64_t by) { return -FloorDivide(-value, by); }

}  // namespace

std::optional<PageGeometry> MakePageGeometry(PdfBox media, std::optional<PdfBox> crop,
                                             std::int64_t rotation, double userUnit) {
  PageGeometry page;
  page.visible = media;
  if (crop) {
    page.visible.x0 = std::max(media.x0, crop->x0);
    page.visible.y0 = std::max(media.y0, crop->y0);
    page.visible.x1 = std::min(media.x1, crop->x1);
    page.visible.y1 = std::min(media.y1, crop->y1);
  }
  const PdfBox& v = page.visible;
  if (!(v.x1 > v.x0 && v.y1 > v.y0) || !std::isfinite(v.x1 - v.x0) || !std::isfinite(v.y1 - v.y0)) {
    return std::nullopt;
  }
  if (rotation % 90 != 0) return std::nullopt;
  page.rotation = static_cast<int>(((rotation % 360) + 360) % 360);
  if (!(userUnit > 0) || !std::isfinite(userUnit)) return std::nullopt;
  page.userUnit = userUnit;
  return page;
}

std::optional<UnitBox> PageUnits(const PageGeometry& page) {
  const auto [width, height] = ShownSize(page);
  const double x1 = std::round(width * Scale(page));
  const double y1 = std::round(height * Scale(page));
  if (x1 > kLargest || y1 > kLargest) return std::nullopt;
  return UnitBox{0, 0, static_cast<std::int64_t>(x1), static_cast<std::int64_t>(y1)};
}

std::optional<UnitBox> InwardUnits(const PageGeometry& page, PdfBox box) {
  const auto [ax, ay] = Shown(page, box.x0, box.y0);
  const auto [bx, by] = Shown(page, box.x1, box.y1);
  const auto size = PageUnits(page);
  const double scale = Scale(page);
  const double left = std::min(ax, bx) * scale;
  const double right = std::max(ax, bx) * scale;
  const double top = std::min(ay, by) * scale;
  const double bottom = std::max(ay, by) * scale;
  if (!size || !std::isfinite(left) || !std::isfinite(right) || !std::isfinite(top) ||
      !std::isfinite(bottom)) {
    return std::nullopt;
  }
  // Clipped to the page: what lies off it is never shown, kept or covered.
  const auto edge = [](double value, bool low, std::int64_t end) {
    const double rounded = low ? std::ceil(value - kSlack) : std::floor(value + kSlack);
    return static_cast<std::int64_t>(std::clamp(rounded, 0.0, static_cast<double>(end)));
  };
  UnitBox units{edge(left, true, size->x1), edge(top, true, size->y1), edge(right, false, size->x1),
                edge(bottom, false, size->y1)};
  // A box thinner than one unit keeps nothing.
  units.x1 = std::max(units.x1, units.x0);
  units.y1 = std::max(units.y1, units.y0);
  return units;
}

UnitBox PicturePixels(const PageGeometry& page, int dpi) {
  const auto [width, height] = ShownSize(page);
  const double perUnit = page.userUnit * dpi / 72.0;
  return UnitBox{0, 0, static_cast<std::int64_t>(std::ceil(width * perUnit - kSlack)),
                 static_cast<std::int64_t>(std::ceil(height * perUnit - kSlack))};
}

UnitBox OutwardPixels(UnitBox units, UnitBox pageUnits, UnitBox picture, int dpi) {
  const auto low = [dpi](std::int64_t value, std::int64_t pageEdge) {
    return value <= pageEdge ? std::int64_t{0}
                             : FloorDivide(value * dpi, static_cast<std::int64_t>(kUnitsPerInch));
  };
  const auto high = [dpi](std::int64_t value, std::int64_t pageEdge, std::int64_t pictureEdge) {
    return value >= pageEdge ? pictureEdge
                             : CeilDivide(value * dpi, static_cast<std::int64_t>(kUnitsPerInch));
  };
  UnitBox pixels{low(units.x0, pageUnits.x0), low(units.y0, pageUnits.y0),
                 high(units.x1, pageUnits.x1, picture.x1),
                 high(units.y1, pageUnits.y1, picture.y1)};
  pixels.x0 = std::clamp(pixels.x0, picture.x0, picture.x1);
  pixels.x1 = std::clamp(pixels.x1, pixels.x0, picture.x1);
  pixels.y0 = std::clamp(pixels.y0, picture.y0, picture.y1);
  pixels.y1 = std::clamp(pixels.y1, pixels.y0, picture.y1);
  return pixels;
}

}  // namespace hostsim
