// Speed of the console runner as a user meets it: `velumo mask` on large
// generated documents, timed as a whole process (start, JSON load, pass,
// save, exit), with the process's peak memory.
//
//   velumo_runner_bench [VELUMO]   (default: the runner built beside it)
//
// Cases:
//  - one page with 80,000 keep-frames, laid out as stacked bands across the
//    page: each frame carves one piece, so the engine's region work stays
//    small and the time is the stand-in's (attribute calls, removals, JSON);
//  - the same page with its 80,000 keep-frames set apart in a grid of 200 by
//    400, so that the region carves around each and the page's pieces are
//    many: the engine's region work is most of the time;
//  - 10,000 pages with 5 keep-frames each, apart on the page.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/timed_process.h"
#include "hostapi/host_api.h"

namespace {

// A keep-frame as the stand-in stores it.
void AppendFrame(std::string& out, long x, long y, long width, long height) {
  out += R"({"type":)" + std::to_string(kRectangleAnnotation) + R"(,"x":)" + std::to_string(x) +
         R"(,"y":)" + std::to_string(y) + R"(,"width":)" + std::to_string(width) + R"(,"height":)" +
         std::to_string(height) + R"(,"attributes":{")" + kBorderStyleAttribute + R"(":)" +
         std::to_string(kBorderedStyle) + R"(,")" + kFillStyleAttribute + R"(":)" +
         std::to_string(kUnfilledStyle) + "}}";
}

// The start of a one-page document, up to its first annotation.
std::string OnePageOpening(long height) {
  return R"({"pages":[{"width":21000,"height":)" + std::to_string(height) + R"(,"annotations":[)";
}

// One page of `frames` keep-frames, each a full-width band of 10 units.
std::string BandsPage(int frames) {
  std::string out = OnePageOpening(frames * 10L);
  for (int i = 0; i < frames; ++i) {
    if (i > 0) out += ',';
    AppendFrame(out, 0, i * 10L, 21000, 10);
  }
  return out + "]}]}\n";
}

// The page of BandsPage(columns * rows), its keep-frames set apart in a grid
// of `columns` by `rows`.
std::string GridPage(int columns, int rows) {
  const long width = 21000 / columns;
  const long height = 10L * columns;
  std::string out = OnePageOpening(rows * height);
  for (int j = 0; j < rows; ++j) {
    for (int i = 0; i < columns; ++i) {
      if (i > 0 || j > 0) out += ',';
      AppendFrame(out, i * width + width / 4, j * height + height / 4, width / 2, height / 2);
    }
  }
  return out + "]}]}\n";
}

// `pages` A4 pages of five keep-frames each.
std::string FivePerPage(int pages) {
  std::string out = R"({"pages":[)";
  for (int p = 0; p < pages; ++p) {
    if (p > 0) out += ',';
    out += R"({"width":21000,"height":29700,"annotations":[)";
    for (int i = 0; i < 5; ++i) {
      if (i > 0) out += ',';
      AppendFrame(out, 1000 + 3900 * i, 2000 + 5200 * i, 3000, 2500 + 100 * (p % 7));
    }
    out += "]}";
  }
  return out + "]}\n";
}

using Run = bench::TimedRun;

Run MaskOnce(const std::string& velumo, const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  std::string program = velumo, command = "mask", file = path;
  char* const arguments[] = {program.data(), command.data(), file.data(), nullptr};
  return bench::RunTimed(arguments);
}

void Measure(const std::string& velumo, const std::string& folder, const char* name,
             const std::string& text, double targetSeconds, long targetMiB) {
  const std::string path = folder + "/bench.json";
  Run best{1e9, 0, 0};
  for (int round = 0; round < 3; ++round) {
    const Run run = MaskOnce(velumo, path, text);
    if (run.status != 0) {
      std::printf("%-34s exit status %d\n", name, run.status);
      return;
    }
    if (run.seconds < best.seconds) best.seconds = run.seconds;
    best.peakKiB = std::max(best.peakKiB, run.peakKiB);
  }
  std::printf("%-34s %8.2f s %8.0f MiB   (%.1f MB of JSON; target %.1f s%s)\n", name, best.seconds,
              static_cast<double>(best.peakKiB) / 1024.0, static_cast<double>(text.size()) / 1e6,
              targetSeconds,
              targetMiB > 0 ? (", " + std::to_string(targetMiB) + " MiB").c_str() : "");
  ::unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string velumo = argc > 1 ? argv[1] : VELUMO_RUNNER_PATH;
  char folder[] = "/tmp/velumo-runner-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  std::printf("velumo mask, best of 3 runs, peak memory of the process (%s)\n", velumo.c_str());
  Measure(velumo, folder, "1 page, 80,000 keep-frames", BandsPage(80000), 2.0, 0);
  Measure(velumo, folder, "the same, set apart, 200 by 400", GridPage(200, 400), 2.0, 0);
  Measure(velumo, folder, "10,000 pages, 5 keep-frames each", FivePerPage(10000), 0.6, 150);
  ::rmdir(folder);
  return 0;
}
