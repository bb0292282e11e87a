// A PDF page's geometry in the host's units and in pixels: the rounding that
// decides what a masked copy keeps.
#include "hostsim/pdf_geometry.h"

#include <gtest/gtest.h>

#include <optional>

namespace hostsim {
namespace {

// An A4 page (595 x 842 points) whose crop box is offset within its media box.
PageGeometry CroppedA4(int rotation) {
  return *MakePageGeometry(PdfBox{0, 0, 700, 900}, PdfBox{50, 20, 645, 862}, rotation, 1);
}

TEST(PdfGeometryTest, RefusesWhatNoViewerCouldShow) {
  EXPECT_FALSE(MakePageGeometry(PdfBox{0, 0, 100, 100}, PdfBox{200, 200, 300, 300}, 0, 1));
  EXPECT_FALSE(MakePageGeometry(PdfBox{0, 0, 100, 100}, std::nullopt, 45, 1));
  EXPECT_FALSE(MakePageGeometry(PdfBox{0, 0, 100, 100}, std::nullopt, 0, 0));
  const auto turned = MakePageGeometry(PdfBox{0, 0, 100, 100}, std::nullopt, -90, 1);
  ASSERT_TRUE(turned);
  EXPECT_EQ(turned->rotation, 270);
  // 200 inches and more at a unit of 75,000 points do not fit 32-bit page units.
  EXPECT_FALSE(PageUnits(*MakePageGeometry(PdfBox{0, 0, 14400, 14400}, std::nullopt, 0, 75000)));
}

TEST(PdfGeometryTest, PagesAreMeasuredAsShown) {
  const UnitBox upright = *PageUnits(CroppedA4(0));
  EXPECT_EQ(upright.x1, 20990);  // 595 points = 209.90 mm
  EXPECT_EQ(upright.y1, 29704);
  const UnitBox turned = *PageUnits(CroppedA4(90));
  EXPECT_EQ(turned.x1, upright.y1);
  EXPECT_EQ(turned.y1, upright.x1);
  const auto doubled = MakePageGeometry(PdfBox{0, 0, 36, 72}, std::nullopt, 0, 2);
  EXPECT_EQ(PageUnits(*doubled)->x1, 2540);  // 36 units of 2 points: one inch
}

// An inch square at the crop box's top left corner is shown at the corner
// each rotation takes it to (72 points are 2540 units; its edges within the
// page, 523 and 770 points, are 18450.3 and 27163.9 units, rounded inward).
TEST(PdfGeometryTest, EachRotationPutsTheBoxWhereTheViewerShowsIt) {
  const PdfBox corner{50, 790, 122, 862};  // one inch square at the crop box's top left
  struct Case {
    int rotation;
    UnitBox expected;
  } cases[] = {
      {0, {0, 0, 2540, 2540}},
      {90, {27164, 0, 29703, 2540}},
      {180, {18451, 27164, 20990, 29703}},
      {270, {0, 18451, 2540, 20990}},
  };
  for (const Case& c : cases) {
    const auto units = InwardUnits(CroppedA4(c.rotation), corner);
    ASSERT_TRUE(units) << c.rotation;
    EXPECT_EQ(units->x0, c.expected.x0) << c.rotation;
    EXPECT_EQ(units->y0, c.expected.y0) << c.rotation;
    EXPECT_EQ(units->x1, c.expected.x1) << c.rotation;
    EXPECT_EQ(units->y1, c.expected.y1) << c.rotation;
  }
}

TEST(PdfGeometryTest, KeepFramesShrinkToWholeUnitsAndMasksGrowToWholePixels) {
  const PageGeometry page = *MakePageGeometry(PdfBox{0, 0, 72, 72}, std::nullopt, 0, 1);
  // 0.5 to 71.5 points: 17.6 to 2522.4 units, kept as 18 to 2522.
  const UnitBox kept = *InwardUnits(page, PdfBox{0.5, 0.5, 71.5, 71.5});
  EXPECT_EQ(kept.x0, 18);
  EXPECT_EQ(kept.x1, 2522);
  // Thinner than a unit: nothing kept. Off the page: clipped to it.
  const UnitBox thin = *InwardUnits(page, PdfBox{10.001, 10, 10.002, 20});
  EXPECT_EQ(thin.x0, thin.x1);
  EXPECT_EQ(InwardUnits(page, PdfBox{-100, -100, 200, 200})->x1, 2540);

  const UnitBox picture = PicturePixels(page, 200);
  EXPECT_EQ(picture.x1, 200);
  const UnitBox pageUnits = *PageUnits(page);
  // Units 13 to 26 touch pixels 1 (12.7 to 25.4) and 2.
  const UnitBox mask = OutwardPixels(UnitBox{13, 0, 26, 10}, pageUnits, picture, 200);
  EXPECT_EQ(mask.x0, 1);
  EXPECT_EQ(mask.x1, 3);
  // Grown past the page's edges: to the picture's edges and no further.
  const UnitBox grown = OutwardPixels(UnitBox{-300, -300, 2840, 100}, pageUnits, picture, 200);
  EXPECT_EQ(grown.x0, 0);
  EXPECT_EQ(grown.y0, 0);
  EXPECT_EQ(grown.x1, 200);
  // A page that ends within a pixel: a mask up to its edge takes that pixel.
  const PageGeometry odd = *MakePageGeometry(PdfBox{0, 0, 72.1, 72}, std::nullopt, 0, 1);
  const UnitBox oddPicture = PicturePixels(odd, 200);
  EXPECT_EQ(oddPicture.x1, 201);
  EXPECT_EQ(
      OutwardPixels(UnitBox{0, 0, PageUnits(odd)->x1, 10}, *PageUnits(odd), oddPicture, 200).x1,
      201);
}

}  // namespace
}  // namespace hostsim
