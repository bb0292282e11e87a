// The picture of a masked PDF page: the page rendered by poppler as shown,
// the masks painted black over it, as the data of an image in the masked copy.
// Pages are rendered when the copy is written, one at a time and in bands of
// rows, so that memory stays small whatever the number and size of pages.
#pragma once

#include <memory>
#include <qpdf/QPDFObjectHandle.hh>
#include <string>
#include <vector>

#include "hostsim/pdf_geometry.h"

namespace poppler {
class document;
}

namespace hostsim {

struct PagePicture {
  std::shared_ptr<poppler::document> source;  // the file to render, keep-frames taken out
  int pageIndex = 0;                          // from 0
  PageGeometry geometry;
  int dpi = 0;
  UnitBox pixels;              // the picture's size (PicturePixels)
  std::vector<UnitBox> masks;  // in pixels (OutwardPixels)
};

// The image XObject for the picture, its data made when it is written (a
// failure to render then throws and stops the writing).
QPDFObjectHandle NewPictureImage(QPDF& qpdf, const PagePicture& picture);

// The content stream that draws the image named `name` over the whole page,
// whose media box is [0 0 width height] in the page's units.
std::string PictureContent(const PagePicture& picture, const std::string& name);

}  // namespace hostsim
