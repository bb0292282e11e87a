// Running one page's region work, as the document pass does it, on the
// engine's region and on the oracle, to compare the two step by step.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "masking/mask_region.h"
#include "tests/support/oracle_region.h"
#include "tests/support/region_helpers.h"

// A page, the keep-frames carved out of it in order, and the growth minimum.
struct RegionScript {
  std::int32_t width;
  std::int32_t height;
  std::vector<Rect> frames;
  std::int32_t minimum;
};

// What a run left: whether the region was made, what each Exclude answered
// up to the first refusal (the pass then gives up on the page), the pieces
// after each Exclude and, when every frame was carved, after growth.
struct RegionOutcome {
  bool created = false;
  std::vector<bool> excluded;
  std::vector<std::vector<Rect>> steps;
  bool operator==(const RegionOutcome& other) const {
    return created == other.created && excluded == other.excluded && steps == other.steps;
  }
};

inline std::ostream& operator<<(std::ostream& out, const RegionOutcome& outcome) {
  out << (outcome.created ? "created" : "not created");
  for (std::size_t i = 0; i < outcome.steps.size(); ++i) {
    out << (i < outcome.excluded.size() ? (outcome.excluded[i] ? "; carved:" : "; refused:")
                                        : "; grown:");
    for (const Rect& r : outcome.steps[i]) out << " " << r;
  }
  return out;
}

// How the engine's region went through a run.
struct EngineRun {
  RegionOutcome outcome;
  bool usedGrid = false;  // after some step
  std::string fault;      // the first the self-check found, with its step
};

// Carves the script's frames, then grows, calling afterStep(region, step)
// after each step.
template <typename Region, typename AfterStep>
void Carve(Region& region, const RegionScript& script, RegionOutcome& outcome,
           AfterStep afterStep) {
  for (const Rect& f : script.frames) {
    const bool excluded = region.Exclude(f.x, f.y, f.width, f.height);
    outcome.excluded.push_back(excluded);
    outcome.steps.push_back(Pieces(region));
    afterStep(region, outcome.steps.size());
    if (!excluded) return;
  }
  region.GrowSlivers(script.minimum);
  outcome.steps.push_back(Pieces(region));
  afterStep(region, outcome.steps.size());
}

inline RegionOutcome RunOracle(const RegionScript& script) {
  RegionOutcome outcome;
  oracle::MaskRegion* region = oracle::MaskRegion::Create(script.width, script.height);
  if (region == nullptr) return outcome;
  outcome.created = true;
  Carve(*region, script, outcome, [](const oracle::MaskRegion&, std::size_t) {});
  oracle::MaskRegion::Destroy(region);
  return outcome;
}

// With `checked`, the self-check runs after every step.
// `indexUpTo` is the region's: growth looks up neighbours through the grid
// in regions of more pieces.
inline EngineRun RunEngine(const RegionScript& script, std::uint32_t gridFrom, bool checked = true,
                           std::uint32_t indexUpTo = masking::kIndexUpTo) {
  EngineRun run;
  masking::MaskRegion* region =
      masking::MaskRegion::Create(script.width, script.height, gridFrom, indexUpTo);
  if (region == nullptr) return run;
  run.outcome.created = true;
  Carve(*region, script, run.outcome, [&](const masking::MaskRegion& r, std::size_t step) {
    run.usedGrid = run.usedGrid || r.UsesGrid();
    if (!checked || !run.fault.empty()) return;
    const std::string fault = RegionFault(r);
    if (!fault.empty()) run.fault = "step " + std::to_string(step) + ": " + fault;
  });
  masking::MaskRegion::Destroy(region);
  return run;
}
