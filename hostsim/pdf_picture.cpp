#include "hostsim/pdf_picture.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <stdexcept>
#include <utility>

namespace hostsim {
namespace {

// Bytes of pixels rendered at a time: a band of whole rows, at least one.
constexpr std::int64_t kBandBytes = std::int64_t{16} << 20;
// PNG's "Up" row filter: each byte less the one above it, which turns the
// rows of plain paper and of masks into zeros that compress to next to nothing.
constexpr unsigned char kPngUp = 2;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

// Renders the page band by band, paints the masks and hands the rows, PNG
// filtered and deflated, to `pipeline`.
void WritePicture(const PagePicture& picture, Pipeline* pipeline) {
  const std::unique_ptr<poppler::page> page(picture.source->create_page(picture.pageIndex));
  if (!page) throw std::runtime_error("the page cannot be rendered");
  poppler::page_renderer renderer;
  // As pdftoppm renders by default: smooth text and lines, no hinting.
  renderer.set_render_hints(poppler::page_renderer::antialiasing |
                            poppler::page_renderer::text_antialiasing);
  renderer.set_image_format(poppler::image::format_bgr24);
  // poppler counts 1/72 inch per unit, whatever the page's UserUnit.
  const double resolution = picture.dpi * picture.geometry.userUnit;

  const std::int64_t width = picture.pixels.x1;
  const std::int64_t height = picture.pixels.y1;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  const std::int64_t bandRows = std::max<std::int64_t>(1, kBandBytes / (width * 3));
  std::vector<unsigned char> band;
  std::vector<unsigned char> above(rowBytes, 0);
  std::vector<unsigned char> filtered(rowBytes + 1);
  Pl_Flate deflate("picture", pipeline, Pl_Flate::a_deflate);
  for (std::int64_t top = 0; top < height; top += bandRows) {
    const std::int64_t rows = std::min(bandRows, height - top);
    const poppler::image image =
        renderer.render_page(page.get(), resolution, resolution, 0, static_cast<int>(top),
                             static_cast<int>(width), static_cast<int>(rows));
    if (!image.is_valid() || image.format() != poppler::image::format_bgr24) {
      throw std::runtime_error("the page cannot be rendered");
    }
    // Paper where poppler gave less than was asked for (the part of the last
    // pixel beyond the page's edge).
    band.assign(rowBytes * static_cast<std::size_t>(rows), 0xff);
    const std::int64_t gotRows = std::min<std::int64_t>(rows, image.height());
    const std::int64_t gotColumns = std::min<std::int64_t>(width, image.width());
    for (std::int64_t y = 0; y < gotRows; ++y) {
      const auto* from =
          reinterpret_cast<const unsigned char*>(image.const_data()) + y * image.bytes_per_row();
      unsigned char* to = band.data() + static_cast<std::size_t>(y) * rowBytes;
      for (std::int64_t x = 0; x < gotColumns; ++x, from += 3, to += 3) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
      }
    }
    for (const UnitBox& mask : picture.masks) {
      const std::int64_t from = std::max(mask.y0, top);
      const std::int64_t to = std::min(mask.y1, top + rows);
      for (std::int64_t y = from; y < to; ++y) {
        unsigned char* row = band.data() + static_cast<std::size_t>(y - top) * rowBytes;
        std::memset(row + mask.x0 * 3, 0, static_cast<std::size_t>(mask.x1 - mask.x0) * 3);
      }
    }
    for (std::int64_t y = 0; y < rows; ++y) {
      const unsigned char* row = band.data() + static_cast<std::size_t>(y) * rowBytes;
      filtered[0] = kPngUp;
      for (std::size_t i = 0; i < rowBytes; ++i) {
        filtered[i + 1] = static_cast<unsigned char>(row[i] - above[i]);
      }
      deflate.write(filtered.data(), filtered.size());
      std::memcpy(above.data(), row, rowBytes);
    }
  }
  deflate.finish();
}

class PictureData : public QPDFObjectHandle::StreamDataProvider {
 public:
  explicit PictureData(PagePicture picture) : picture_(std::move(picture)) {}
  void provideStreamData(QPDFObjGen const& /*og*/, Pipeline* pipeline) override {
    WritePicture(picture_, pipeline);
  }

 private:
  PagePicture picture_;
};

}  // namespace

QPDFObjectHandle NewPictureImage(QPDF& qpdf, const PagePicture& picture) {
  QPDFObjectHandle image = QPDFObjectHandle::newStream(&qpdf);
  QPDFObjectHandle parameters = QPDFObjectHandle::newDictionary();
  parameters.replaceKey("/Predictor", QPDFObjectHandle::newInteger(15));
  parameters.replaceKey("/Colors", QPDFObjectHandle::newInteger(3));
  parameters.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
  parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(picture.pixels.x1));
  image.replaceStreamData(std::make_shared<PictureData>(picture),
                          QPDFObjectHandle::newName("/FlateDecode"), parameters);
  QPDFObjectHandle dictionary = image.getDict();
  dictionary.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
  dictionary.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
  dictionary.replaceKey("/Width", QPDFObjectHandle::newInteger(picture.pixels.x1));
  dictionary.replaceKey("/Height", QPDFObjectHandle::newInteger(picture.pixels.y1));
  dictionary.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceRGB"));
  dictionary.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
  return image;
}

std::string PictureContent(const PagePicture& picture, const std::string& name) {
  // Pixels at dpi per inch; the page has UserUnit/72 inch per unit. The image
  // hangs from the top left corner, its last pixels past the page's edges
  // where the page ends within a pixel.
  const double unitsPerPixel = 72.0 / (picture.dpi * picture.geometry.userUnit);
  const double width = static_cast<double>(picture.pixels.x1) * unitsPerPixel;
  const double height = static_cast<double>(picture.pixels.y1) * unitsPerPixel;
  const PdfBox& v = picture.geometry.visible;
  const bool turned = picture.geometry.rotation == 90 || picture.geometry.rotation == 270;
  const double pageHeight = turned ? v.x1 - v.x0 : v.y1 - v.y0;
  return "q " + Number(width) + " 0 0 " + Number(height) + " 0 " + Number(pageHeight - height) +
         " cm " + name + " Do Q\n";
}

}  // namespace hostsim
