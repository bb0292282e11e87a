// A PDF page's geometry as the host sees it, and back: the host's page units
// (1/100 mm) on the page as it is shown, and the pixels of its picture.
//
// A PDF page is shown as its visible area (the crop box within the media
// box), turned clockwise by its rotation, at UserUnit/72 inch per unit, with
// its y axis upwards. The host's page runs from the top left corner of the
// page as shown, x to the right and y downwards.
#pragma once

#include <cstdint>
#include <optional>

namespace hostsim {

// A rectangle in PDF units: edges x0 <= x1, y0 <= y1.
struct PdfBox {
  double x0 = 0;
  double y0 = 0;
  double x1 = 0;
  double y1 = 0;
};

// A rectangle in the host's page units or in pixels: edges, left and top
// inclusive, right and bottom exclusive.
struct UnitBox {
  std::int64_t x0 = 0;
  std::int64_t y0 = 0;
  std::int64_t x1 = 0;
  std::int64_t y1 = 0;
};

struct PageGeometry {
  PdfBox visible;       // the crop box clipped to the media box, never empty
  int rotation = 0;     // 0, 90, 180 or 270, clockwise
  double userUnit = 1;  // in 1/72 inch
};

// Host units in one inch.
constexpr double kUnitsPerInch = 2540;

// The geometry of a page with these boxes, the rotation as the file gives it
// (any multiple of 90, negative too) and UserUnit (absent: 0 or 1). Nothing
// when the visible area is empty, the rotation is no multiple of 90 or the
// unit is not positive.
std::optional<PageGeometry> MakePageGeometry(PdfBox media, std::optional<PdfBox> crop,
                                             std::int64_t rotation, double userUnit);

// The page's size in host units, as shown; nothing when it does not fit the
// host's 32-bit page sizes.
std::optional<UnitBox> PageUnits(const PageGeometry& page);

// A rectangle of the page (in PDF units) in host units, as shown, rounded
// inward to whole units so that it never takes in more than it covers, and
// clipped to the page. Nothing when the page's size does not fit the host
// (PageUnits) or the rectangle is not finite.
std::optional<UnitBox> InwardUnits(const PageGeometry& page, PdfBox box);

// The size in pixels of the page's picture at `dpi`: whole pixels, the last
// one reaching past the page's right or bottom edge where the page ends
// within a pixel.
UnitBox PicturePixels(const PageGeometry& page, int dpi);

// The pixels of a picture at `dpi` that a rectangle in host units touches,
// rounded outward, clipped to the picture; a rectangle that reaches the
// page's edge (`pageUnits`) or past it takes the picture's pixels up to its
// edge. Empty (x0 == x1 or y0 == y1) when it touches none.
UnitBox OutwardPixels(UnitBox units, UnitBox pageUnits, UnitBox picture, int dpi);

}  // namespace hostsim
