// Tests of the SVG picture of a document.

#include "runner/svg_render.h"

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "hostsim/document_files.h"
#include "masking/mask_document.h"
#include "tests/support/documents.h"
#include "tests/support/files.h"

namespace {

using testfiles::ReadFile;
using testfiles::TempDir;
using testfiles::WriteFile;

struct Rect {
  std::string kind;
  std::int64_t x, y, width, height;
};

// The rectangles of one page group, in drawing order.
std::vector<Rect> RectsOfPage(const std::string& svg, int page) {
  const std::string open = "<g class=\"page\" id=\"page-" + std::to_string(page) + "\"";
  const auto start = svg.find(open);
  if (start == std::string::npos) return {};
  const std::string group = svg.substr(start, svg.find("</g>", start) - start);
  static const std::regex rect(
      R"re(<rect class="([a-z-]+)" x="(-?\d+)" y="(-?\d+)" width="(\d+)" height="(\d+)")re");
  std::vector<Rect> out;
  for (auto it = std::sregex_iterator(group.begin(), group.end(), rect);
       it != std::sregex_iterator(); ++it) {
    out.push_back({(*it)[1], std::stoll((*it)[2]), std::stoll((*it)[3]), std::stoll((*it)[4]),
                   std::stoll((*it)[5])});
  }
  return out;
}

std::int64_t PageOffset(const std::string& svg, int page) {
  const std::regex offset("id=\"page-" + std::to_string(page) +
                          "\" transform=\"translate\\(0 (-?\\d+)\\)\"");
  std::smatch match;
  if (!std::regex_search(svg, match, offset)) return INT64_MIN;
  return std::stoll(match[1]);
}

std::vector<std::int64_t> ViewBox(const std::string& svg) {
  std::smatch match;
  if (!std::regex_search(svg, match, std::regex(R"re(viewBox="(-?\d+) (-?\d+) (\d+) (\d+)")re"))) {
    return {};
  }
  return {std::stoll(match[1]), std::stoll(match[2]), std::stoll(match[3]), std::stoll(match[4])};
}

hostsim::Annotation Rectangle(std::int32_t x, std::int32_t y, std::int32_t width,
                              std::int32_t height, std::int32_t border, std::int32_t fill) {
  hostsim::Annotation annotation;
  annotation.type = 0x803D;
  annotation.x = x;
  annotation.y = y;
  annotation.width = width;
  annotation.height = height;
  annotation.SetAttribute("%BorderStyle", border);
  annotation.SetAttribute("%FillStyle", fill);
  return annotation;
}

TEST(SvgRenderTest, DrawsEachKindOfAnnotationInItsOwnStyle) {
  hostsim::Document document;
  document.pages.push_back({21000, 29700, {}, {}});
  auto& annotations = document.pages[0].annotations;
  annotations.push_back(Rectangle(1000, 2000, 3000, 4000, 1, 0));  // keep-frame
  annotations.push_back(Rectangle(0, 0, 21000, 2000, 0, 1));       // mask
  annotations.push_back(Rectangle(500, 600, 700, 800, 1, 1));      // neither
  hostsim::Annotation stamp;
  stamp.type = 0x8001;
  stamp.x = 10;
  stamp.y = 20;
  stamp.width = 30;
  stamp.height = 40;
  stamp.SetAttribute("%BorderStyle", 0);
  annotations.push_back(stamp);
  annotations.push_back(Rectangle(100, 100, -50, -60, 1, 5));  // negative size

  const std::string svg = DocumentToSvg(document);
  const std::vector<Rect> rects = RectsOfPage(svg, 1);
  ASSERT_EQ(rects.size(), 7u) << svg;
  EXPECT_EQ(rects[0].kind, "sheet");
  EXPECT_EQ(rects[0].width, 21000);
  EXPECT_EQ(rects[0].height, 29700);
  EXPECT_EQ(rects[1].kind, "kept") << "what the pass keeps, under the annotations";
  EXPECT_EQ(rects[1].x, 1000);
  EXPECT_EQ(rects[1].width, 3000);
  EXPECT_EQ(rects[1].height, 4000);
  EXPECT_EQ(rects[2].kind, "keep-frame");
  EXPECT_EQ(rects[2].x, 1000);
  EXPECT_EQ(rects[2].height, 4000);
  EXPECT_EQ(rects[3].kind, "mask");
  EXPECT_EQ(rects[3].width, 21000);
  EXPECT_EQ(rects[4].kind, "other");
  EXPECT_EQ(rects[5].kind, "other") << "only rectangles are keep-frames or masks";
  // The pass carves nothing out for a frame of negative size: it keeps nothing.
  EXPECT_EQ(rects[6].kind, "void-frame");
  EXPECT_EQ(rects[6].x, 50);
  EXPECT_EQ(rects[6].y, 40);
  EXPECT_EQ(rects[6].width, 50);
  EXPECT_EQ(rects[6].height, 60);

  EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos);
  EXPECT_NE(
      svg.find("class=\"mask\" x=\"0\" y=\"0\" width=\"21000\" height=\"2000\" fill=\"black\""),
      std::string::npos);
  EXPECT_NE(svg.find(">page 1</text>"), std::string::npos);
  EXPECT_NE(svg.find("width=\"600\""), std::string::npos);
}

TEST(SvgRenderTest, PagesAreStackedAndEverythingOffThePageStaysInView) {
  hostsim::Document document;
  document.pages.push_back({1000, 2000, {}, {}});
  document.pages.push_back({1500, 1000, {}, {}});
  // Page 1 has a mask reaching 500 below and 300 left of the page.
  document.pages[0].annotations.push_back(Rectangle(-300, 1800, 400, 700, 0, 1));
  // Page 2 has one far to the right and well above the page.
  document.pages[1].annotations.push_back(Rectangle(1400, -1000, 900, 100, 1, 0));

  const std::string svg = DocumentToSvg(document);
  const std::int64_t first = PageOffset(svg, 1);
  const std::int64_t second = PageOffset(svg, 2);
  ASSERT_NE(first, INT64_MIN) << svg;
  ASSERT_NE(second, INT64_MIN) << svg;
  // Page 2's highest point (-1000) lies below page 1's lowest (2500).
  EXPECT_GT(second - 1000, first + 2500);

  const std::vector<std::int64_t> box = ViewBox(svg);
  ASSERT_EQ(box.size(), 4u);
  EXPECT_LT(box[0], -300);
  EXPECT_LT(box[1], first);
  EXPECT_GT(box[0] + box[2], 2300);
  EXPECT_GT(box[1] + box[3], second + 1000);
  EXPECT_NE(svg.find(">page 2</text>"), std::string::npos);
}

TEST(SvgRenderTest, EmptyDocumentStillGivesAPicture) {
  const std::string svg = DocumentToSvg(hostsim::Document{});
  const std::vector<std::int64_t> box = ViewBox(svg);
  ASSERT_EQ(box.size(), 4u);
  EXPECT_GT(box[2], 0);
  EXPECT_GT(box[3], 0);
  EXPECT_EQ(svg.find("<g class=\"page\""), std::string::npos);
}

TEST(SvgRenderTest, RenderReadsTheFileAndReportsFailures) {
  TempDir dir;
  const std::string document = dir.File("doc.json");
  WriteFile(document, R"({"pages": [{"width": 100, "height": 200, "annotations": [
      {"type": 32829, "x": 1, "y": 2, "width": 3, "height": 4,
       "attributes": {"%BorderStyle": 0}}]}]})");
  std::string error;
  ASSERT_TRUE(RenderDocumentSvg(document, dir.File("out.svg"), error)) << error;
  const std::string svg = ReadFile(dir.File("out.svg"));
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  const std::vector<Rect> rects = RectsOfPage(svg, 1);
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_EQ(rects[1].kind, "mask");

  EXPECT_FALSE(RenderDocumentSvg(dir.File("none.json"), dir.File("x.svg"), error));
  EXPECT_NE(error.find("none.json"), std::string::npos) << error;
  WriteFile(dir.File("bad.json"), "{\"pages\": [{\"width\": 1}]}");
  EXPECT_FALSE(RenderDocumentSvg(dir.File("bad.json"), dir.File("x.svg"), error));
  EXPECT_NE(error.find("not a valid document"), std::string::npos) << error;
  EXPECT_FALSE(RenderDocumentSvg(document, dir.File("no-folder/out.svg"), error));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"bad.json", "doc.json", "out.svg"}));
}

// The picture never shows as kept what the pass covers: whatever the frames
// (overlapping, touching the edges, of negative width or height), every point
// of the page is either in a "kept" piece or under a mask of the masked
// document, never both, and a dashed keep-frame outlines only kept ground.
TEST(SvgRenderTest, WhatThePictureKeepsIsWhatMaskKeeps) {
  testdoc::DocumentDir dir;
  const std::string path =
      dir.Put("doc.json",
              testdoc::Document({testdoc::Page(
                  1000, 1000,
                  {testdoc::KeepFrame(100, 100, 300, 200), testdoc::KeepFrame(300, 200, 300, 300),
                   testdoc::KeepFrame(0, 800, 1000, 100), testdoc::KeepFrame(700, 300, -200, 100),
                   testdoc::KeepFrame(800, 600, 100, -300), testdoc::TextNote(50, 50, 10, 10)})}));
  hostsim::Document document;
  hostsim::FileVersion version;
  std::string error;
  ASSERT_EQ(hostsim::ReadDocumentFile(path, document, version, error), hostsim::FileStatus::kOk);
  const std::vector<Rect> drawn = RectsOfPage(DocumentToSvg(document), 1);
  ASSERT_TRUE(masking::MaskDocument(path.c_str()));
  std::vector<Rect> masks;
  const testdoc::Json result = testdoc::ReadDocument(path);
  for (const auto& a : result["pages"][0]["annotations"]) {
    if (a["attributes"].value("%BorderStyle", 1) == 0) {
      masks.push_back({"mask", a["x"], a["y"], a["width"], a["height"]});
    }
  }
  ASSERT_FALSE(masks.empty());
  const auto inside = [](const Rect& r, std::int64_t x, std::int64_t y) {
    return x > r.x && x < r.x + r.width && y > r.y && y < r.y + r.height;
  };
  int keptPoints = 0;
  for (std::int64_t y = 5; y < 1000; y += 10) {
    for (std::int64_t x = 5; x < 1000; x += 10) {
      bool masked = false;
      for (const Rect& m : masks) masked = masked || inside(m, x, y);
      bool kept = false;
      bool outlined = false;
      for (const Rect& r : drawn) {
        kept = kept || (r.kind == "kept" && inside(r, x, y));
        outlined = outlined || (r.kind == "keep-frame" && inside(r, x, y));
      }
      ASSERT_NE(kept, masked) << "at (" << x << ", " << y << ")";
      ASSERT_FALSE(outlined && masked) << "at (" << x << ", " << y << ")";
      keptPoints += kept ? 1 : 0;
    }
  }
  EXPECT_GT(keptPoints, 0);
}

}  // namespace
