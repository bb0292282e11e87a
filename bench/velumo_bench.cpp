// Speed of a whole document pass through the stand-in host (loading and
// saving its JSON included) and of the stand-in's reader. The region alone is
// timed side by side with pixman by velumo_region_bench.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/bench_pages.h"
#include "hostsim/document_json.h"
#include "hostsim/hostsim.h"
#include "masking/mask_document.h"
#include "masking/message_sink.h"

void masking::ShowMessage(const char*) {}

namespace {

using masking::MaskDocument;

using bench::Frame;
using bench::kPageHeight;
using bench::kPageWidth;

std::string GeneratedDocument(int pages, int framesPerPage) {
  nlohmann::json document;
  document["pages"] = nlohmann::json::array();
  for (int p = 0; p < pages; ++p) {
    nlohmann::json annotations = nlohmann::json::array();
    for (int t = 0; t < 10; ++t) {
      annotations.push_back({{"type", 0x8030},
                             {"x", 1500},
                             {"y", 1500 + 2500 * t},
                             {"width", 15000},
                             {"height", 900},
                             {"attributes", {{"%FontSize", 10}}}});
    }
    for (const Frame& f : bench::Plausible(framesPerPage, static_cast<std::uint32_t>(p))) {
      annotations.push_back(
          {{"type", 0x803D},
           {"x", f.x},
           {"y", f.y},
           {"width", f.width},
           {"height", f.height},
           {"attributes",
            {{kBorderStyleAttribute, kBorderedStyle}, {kFillStyleAttribute, kUnfilledStyle}}}});
    }
    document["pages"].push_back(
        {{"width", kPageWidth}, {"height", kPageHeight}, {"annotations", annotations}});
  }
  return document.dump();
}

void MaskThousandPages(benchmark::State& state) {
  const std::string bytes = GeneratedDocument(1000, 5);
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "velumo-bench-1000-pages.json";
  hostsim::SetRecording(false);
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(path, std::ios::binary) << bytes;
    state.ResumeTiming();
    if (!MaskDocument(path.string().c_str())) state.SkipWithError("the pass failed");
  }
  std::filesystem::remove(path);
  state.counters["pages"] = 1000;
}
BENCHMARK(MaskThousandPages)->Unit(benchmark::kMillisecond)->Iterations(5);

// Reading the stand-in's JSON takes time in proportion to its length, however
// many objects one array holds (arrays of objects once took the square of
// their length: 2 s for 40,000 pages). The fitted complexity is printed as
// ParseManyPages_BigO.
void ParseManyPages(benchmark::State& state) {
  const std::int64_t count = state.range(0);
  std::string text = R"({"pages": [)";
  for (std::int64_t i = 0; i < count; ++i) {
    text += std::string(i > 0 ? "," : "") + R"({"width": 1, "height": 1, "annotations": []})";
  }
  text += "]}";
  for (auto _ : state) {
    hostsim::Document document;
    std::string error;
    if (!hostsim::ParseDocument(text, document, error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(document.pages.data());
  }
  state.SetComplexityN(count);
}
BENCHMARK(ParseManyPages)
    ->RangeMultiplier(4)
    ->Range(4000, 256000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
