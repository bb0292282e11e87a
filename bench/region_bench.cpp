// The region side by side with pixman (and, when configured with one, with
// the region of an earlier tree) on the same pages, in one run: each page's
// full work by each, interleaved round by round, the best round of each (in
// CPU time of the benchmark's thread, which other work on a busy machine
// does not add to), and the median of each round's ratios against the bounds
// the region is held to. A kind of page drawn at random is timed over many
// pages drawn alike (bench/bench_pages.h). Then how the region's time grows with the pieces it
// makes on the layouts that have been hardest for it, as fitted exponents,
// and its memory on the ruled page.
//
// Exits with 1 when the region and pixman leave different areas of a page
// uncovered; a ratio beyond its bound is marked, not fatal, since timings on
// a shared machine vary.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_pages.h"
#include "bench/region_engines.h"

namespace {

using bench::Frame;
using bench::Pages;
using Run = std::int64_t (*)(const std::vector<Frame>&);

volatile std::int64_t sink = 0;

double ThreadMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Microseconds of CPU time per run, over `runs` runs, taking the pages in
// turn from the one numbered `from`.
double TimeRuns(Run run, const Pages& pages, int runs, std::size_t from = 0) {
  const double start = ThreadMicroseconds();
  for (int i = 0; i < runs; ++i) {
    sink = sink + run(pages[(from + static_cast<std::size_t>(i)) % pages.size()]);
  }
  return (ThreadMicroseconds() - start) / runs;
}

// Runs enough to take about `spanMicroseconds`; when that is more runs than
// there are pages, every page as often.
int RunsFor(Run run, const Pages& pages, double spanMicroseconds) {
  const double once = TimeRuns(run, pages, 1);
  const int runs = std::max(1, static_cast<int>(spanMicroseconds / std::max(once, 0.01)));
  const auto count = static_cast<int>(pages.size());
  return runs < count ? runs : (runs + count - 1) / count * count;
}

// Each run's time in each of `rounds` rounds, the runs taking turns in every
// round so that a busy moment of the machine falls on all of them alike.
constexpr int kRounds = 9;

struct Rounds {
  std::vector<std::vector<double>> times;  // [round][run]
  // A run's best time.
  double Best(std::size_t run) const {
    double best = 1e300;
    for (const std::vector<double>& round : times) best = std::min(best, round[run]);
    return best;
  }
  // The median over the rounds of one run's time against another's in the
  // same round. The machine's speed drifts over seconds, so runs timed one
  // after the other in a round compare more steadily than their best times
  // taken from different rounds.
  double Ratio(std::size_t run, std::size_t against) const {
    std::vector<double> ratios;
    for (const std::vector<double>& round : times) ratios.push_back(round[run] / round[against]);
    const std::size_t middle = ratios.size() / 2;
    std::nth_element(ratios.begin(), ratios.begin() + static_cast<std::ptrdiff_t>(middle),
                     ratios.end());
    return ratios[middle];
  }
};

// In each round every program starts at the same page; a round that takes
// fewer runs than there are pages starts where the one before it stopped.
Rounds TimeRounds(const std::vector<Run>& runs, const Pages& pages, int rounds,
                  double spanMicroseconds) {
  std::vector<int> counts;
  for (Run run : runs) counts.push_back(RunsFor(run, pages, spanMicroseconds));
  Rounds timed;
  std::size_t from = 0;
  for (int round = 0; round < rounds; ++round) {
    std::vector<double> times;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      times.push_back(TimeRuns(runs[i], pages, counts[i], from));
    }
    from += static_cast<std::size_t>(counts[0]);
    timed.times.push_back(times);
  }
  return timed;
}

std::string Micro(double us) {
  char text[32];
  if (us >= 10000) {
    std::snprintf(text, sizeof text, "%.1f ms", us / 1000);
  } else if (us >= 100) {
    std::snprintf(text, sizeof text, "%.0f µs", us);
  } else {
    std::snprintf(text, sizeof text, "%.2f µs", us);
  }
  return text;
}

std::string Ratio(double ratio, double bound) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%s", ratio, ratio > bound ? " (over)" : "");
  return text;
}

// Compares the areas on every page of the kind.
bool CompareAreas(const bench::Page& page) {
  for (std::size_t i = 0; i < page.pages.size(); ++i) {
    const bench::Carved ours = bench::current::Carve(page.pages[i]);
    const bench::Carved theirs = bench::PixmanCarved(page.pages[i]);
    if (ours.area == theirs.area) continue;
    std::printf("AREA DIFFERS on %s, page %zu: region %lld, pixman %lld\n", page.name.c_str(),
                i + 1, static_cast<long long>(ours.area), static_cast<long long>(theirs.area));
    return false;
  }
  return true;
}

// The pieces left and the pieces made, on average over the pages.
struct Average {
  double pieces;
  double made;
};
Average AverageCarved(const Pages& pages) {
  Average sum{0, 0};
  for (const std::vector<Frame>& frames : pages) {
    const bench::Carved carved = bench::current::Carve(frames);
    sum.pieces += static_cast<double>(carved.pieces);
    sum.made += static_cast<double>(carved.made);
  }
  const auto count = static_cast<double>(pages.size());
  return Average{sum.pieces / count, sum.made / count};
}

bool PrintRatioTable() {
  const bool withEarlier = bench::earlier::Available();
  std::printf(
      "\n| page | pages | frames | pieces | region |%s pixman each | pixman batch | "
      "region / each (bound) | region / batch (bound) |%s\n",
      withEarlier ? " earlier region |" : "",
      withEarlier ? " earlier / each | earlier / batch |" : "");
  std::printf("|---|---|---|---|---|%s---|---|---|---|%s\n", withEarlier ? "---|" : "",
              withEarlier ? "---|---|" : "");
  bool areasAgree = true;
  for (const bench::Page& page : bench::NamedPages()) {
    areasAgree = CompareAreas(page) && areasAgree;
    std::vector<Run> runs{bench::current::FullWork, bench::PixmanEach, bench::PixmanBatch};
    if (withEarlier) runs.push_back(bench::earlier::FullWork);
    const Rounds t = TimeRounds(runs, page.pages, kRounds, 5000);
    enum : std::size_t { kRegion, kEach, kBatch, kEarlier };
    std::string earlier;
    std::string earlierRatios;
    if (withEarlier) {
      earlier = " " + Micro(t.Best(kEarlier)) + " |";
      earlierRatios = " " + Ratio(t.Ratio(kEarlier, kEach), page.bounds.each) + " | " +
                      Ratio(t.Ratio(kEarlier, kBatch), page.bounds.batch) + " |";
    }
    std::printf("| %s | %zu | %zu | %.0f | %s |%s %s | %s | %s (%.0f) | %s (%.0f) |%s\n",
                page.name.c_str(), page.pages.size(), page.pages.front().size(),
                AverageCarved(page.pages).pieces, Micro(t.Best(kRegion)).c_str(), earlier.c_str(),
                Micro(t.Best(kEach)).c_str(), Micro(t.Best(kBatch)).c_str(),
                Ratio(t.Ratio(kRegion, kEach), page.bounds.each).c_str(), page.bounds.each,
                Ratio(t.Ratio(kRegion, kBatch), page.bounds.batch).c_str(), page.bounds.batch,
                earlierRatios.c_str());
    std::fflush(stdout);
  }
  return areasAgree;
}

// The slope of log(time) over log(pieces made): time grows as pieces^slope.
double FittedExponent(const std::vector<double>& pieces, const std::vector<double>& times) {
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  const double n = static_cast<double>(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const double x = std::log(pieces[i]);
    const double y = std::log(times[i]);
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

struct Layout {
  const char* name;
  const char* key;  // its name on the command line
  // The pages of `count` frames: one page laid out by rule, or pages drawn
  // alike.
  Pages (*pages)(int count);
  std::vector<int> counts;
};

Pages PackedWith(int count) { return {bench::Packed(count)}; }
Pages StaircaseWith(int count) { return {bench::Staircase(count)}; }
Pages RuledWith(int count) { return {bench::Ruled(count / 2)}; }
// Frames of 20 to 200 units, which leave pieces on the page at every count.
Pages TinyWith(int count) {
  return bench::Drawn(
      count, [count](std::uint32_t seed) { return bench::RandomFrames(count, seed, 20, 200); });
}

// The layouts whose growth is fitted, each at six sizes. Ruled pages make
// (frames / 2 + 1)^2 pieces: 800 frames already make 160,801, so that series
// stops there.
std::vector<Layout> Layouts() {
  return {
      {"packed", "packed", PackedWith, {100, 300, 1000, 3000, 10000, 20000}},
      {"staircase", "staircase", StaircaseWith, {100, 300, 1000, 3000, 10000, 20000}},
      {"random, 20 to 200 units", "random", TinyWith, {100, 300, 1000, 3000, 10000, 20000}},
      {"ruled", "ruled", RuledWith, {20, 50, 100, 200, 400, 800}},
  };
}

void PrintExponents() {
  const std::vector<Layout> layouts = Layouts();
  std::printf("\n| layout | frames | pieces made | region | fitted exponent (bound 1.2) |\n");
  std::printf("|---|---|---|---|---|\n");
  for (const Layout& layout : layouts) {
    std::vector<double> pieces;
    std::vector<double> times;
    for (const int count : layout.counts) {
      const Pages pages = layout.pages(count);
      pieces.push_back(AverageCarved(pages).made);
      times.push_back(TimeRounds({bench::current::FullWork}, pages, 5, 5000).Best(0));
    }
    const double exponent = FittedExponent(pieces, times);
    std::printf("| %s | %d to %d | %.0f to %.0f | %s to %s | %.2f%s |\n", layout.name,
                layout.counts.front(), layout.counts.back(), pieces.front(), pieces.back(),
                Micro(times.front()).c_str(), Micro(times.back()).c_str(), exponent,
                exponent > 1.2 ? " (over)" : "");
    std::fflush(stdout);
  }
}

void PrintMemory() {
  const std::vector<Frame> frames = bench::Ruled(400);
  const bench::MemoryUse now = bench::current::Memory(frames);
  std::printf(
      "\nMemory on the ruled page (400 + 400), the most held at once: region %.1f MiB in "
      "%zu requests",
      static_cast<double>(now.peakBytes) / (1 << 20), now.requests);
  if (bench::earlier::Available()) {
    const bench::MemoryUse before = bench::earlier::Memory(frames);
    std::printf("; earlier region %.1f MiB in %zu requests; ratio %.2f (bound 1.5)",
                static_cast<double>(before.peakBytes) / (1 << 20), before.requests,
                static_cast<double>(now.peakBytes) / static_cast<double>(before.peakBytes));
  }
  std::printf(" (bytes asked for; malloc adds its own per request)\n");
}

// Runs this tree's region alone on one named kind of page, `runs` times
// (taking its pages in turn, or only its first when `firstOnly`), for a
// profiler (valgrind --tool=callgrind counts instructions repeatably on a
// busy machine), and prints the CPU time of a run: after a run that warms
// the caches and the allocator, the best of five rounds of runs / 5 runs, so
// that two builds compare alike however the machine's load varies.
int ProfileOnePage(const char* name, int runs, bool firstOnly) {
  constexpr int kProfileRounds = 5;
  for (const bench::Page& page : bench::NamedPages()) {
    if (page.name != name) continue;
    const Pages pages = firstOnly ? Pages{page.pages.front()} : page.pages;
    sink = sink + bench::current::FullWork(pages.front());
    const int perRound = std::max(1, runs / kProfileRounds);
    double best = 1e300;
    for (int round = 0; round < kProfileRounds; ++round) {
      best = std::min(best, TimeRuns(bench::current::FullWork, pages, perRound,
                                     static_cast<std::size_t>(round * perRound)));
    }
    std::printf("%s: %s a run over %zu page%s, best of %d rounds of %d runs\n", name,
                Micro(best).c_str(), pages.size(), pages.size() == 1 ? "" : "s", kProfileRounds,
                perRound);
    return 0;
  }
  std::fprintf(stderr, "no page named \"%s\"; the pages are:\n", name);
  for (const bench::Page& page : bench::NamedPages()) {
    std::fprintf(stderr, "  %s\n", page.name.c_str());
  }
  return 2;
}

// Lists the layouts, or a layout's sizes, or runs the region's full work
// once on one of them (its first page) and prints the pieces it made, for a profiler to count
// its work (bench/work_exponents.sh).
int RunLayout(const char* key, const char* frames) {
  if (key == nullptr) {
    for (const Layout& layout : Layouts()) std::printf("%s\n", layout.key);
    return 0;
  }
  for (const Layout& layout : Layouts()) {
    if (std::string(layout.key) != key) continue;
    if (frames == nullptr) {
      for (const int count : layout.counts) std::printf("%d\n", count);
      return 0;
    }
    const std::vector<Frame> page = layout.pages(std::atoi(frames)).front();
    sink = sink + bench::current::FullWork(page);
    std::printf("%lld\n", static_cast<long long>(bench::current::Carve(page).made));
    return 0;
  }
  std::fprintf(stderr, "no layout \"%s\"; the layouts are:", key);
  for (const Layout& layout : Layouts()) std::fprintf(stderr, " %s", layout.key);
  std::fprintf(stderr, "\n");
  return 2;
}

}  // namespace

// velumo_region_bench: the whole comparison. velumo_region_bench PAGE [RUNS
// [--first-page]]: the region's full work on that kind of page alone, RUNS
// times (1), over its pages or its first page only, and its time.
// velumo_region_bench --layout [KEY [FRAMES]]: the layouts, a layout's sizes,
// or its full work once at that size and the pieces it made.
int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--layout") {
    return RunLayout(argc > 2 ? argv[2] : nullptr, argc > 3 ? argv[3] : nullptr);
  }
  if (argc > 1) {
    const bool firstOnly = argc > 3 && std::string(argv[3]) == "--first-page";
    if (argc > 3 && !firstOnly) {
      std::fprintf(stderr, "usage: velumo_region_bench [PAGE [RUNS [--first-page]]]\n");
      return 2;
    }
    return ProfileOnePage(argv[1], argc > 2 ? std::max(1, std::atoi(argv[2])) : 1, firstOnly);
  }
  std::printf(
      "One page's full region work (create, carve, grow, read, free) against pixman's "
      "pixman_region32: CPU time, best of %d interleaved rounds; each ratio is the median of "
      "the rounds' ratios. A page drawn at random is timed over as many pages drawn alike (the "
      "pages column), each run on the next.\n",
      kRounds);
  const bool areasAgree = PrintRatioTable();
  PrintExponents();
  PrintMemory();
  if (!areasAgree) return 1;
  std::printf("\nThe region and pixman leave the same area of every page uncovered.\n");
  return 0;
}
