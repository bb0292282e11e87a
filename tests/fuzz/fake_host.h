// A fast in-memory host for the document pass fuzz target: the ten host API
// functions of hostapi/host_api.h over a document held in memory, answering
// as the fuzzer's input says (refusals, one failing call with any code, odd
// page and annotation counts). It logs every call and checks, as it is
// called, that the pass keeps to the API: the right handle, sized and filled
// records, no call before the open or after the close, indexes within the
// counts it was given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostapi/host_api.h"

namespace fakehost {

struct Annotation {
  std::int32_t type = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool hasBorder = false;  // "%BorderStyle" present
  std::int32_t border = 0;
  bool hasFill = false;  // "%FillStyle" present
  std::int32_t fill = 0;
  int original = -1;  // index in the page as the document came, or -1 if the pass added it
  HostAnnotation handle = 0;
};

struct Page {
  std::int32_t width = 0;
  std::int32_t height = 0;
  // Added to the number of annotations the host reports for the page.
  std::int32_t countSkew = 0;
  std::vector<Annotation> annotations;
};

// Same content, whatever handles the annotations had.
bool SamePages(const std::vector<Page>& a, const std::vector<Page>& b);

// A keep-frame by the host's data: a rectangle with border style 1 and a fill
// style other than 1 (a missing attribute makes the pass give up instead).
bool IsKeepFrame(const Annotation& annotation);

struct Behaviour {
  int failOrdinal = 0;  // 0: no call fails
  int failCall = 0;     // which call of that ordinal fails, 1-based
  HostResult failCode = 0;
  bool infoWritesOnFailure = false;  // a failing document-information call still gives the count
  std::int32_t pageCountSkew = 0;    // added to the page count the host reports
  std::uint32_t refusedAdds = 0;     // bit i: the (i + 1)-th add call is refused
  bool refuseOffPage = false;        // rectangles reaching off the page are refused
  std::int32_t minimumSize = 1;      // smaller rectangles are refused
};

struct Call {
  int ordinal;
  HostResult result;
  // The page the call belongs to: the page of the latest page-information
  // call, or 0 for the calls on the whole document (open, information, save
  // and close).
  std::int32_t page;
};

struct State {
  Behaviour behaviour;
  std::string path;            // the path the pass must open
  std::vector<Page> original;  // the document as it came
  std::vector<Page> working;   // as changed through the open handle
  std::vector<Page> saved;     // what the file holds
  std::vector<Call> calls;
  std::int32_t reportedPageCount = 0;  // what the document-information call gave, if anything
  bool open = false;
  bool closed = false;
};

// Starts a fresh document for the next run.
void Reset(std::vector<Page> pages, const Behaviour& behaviour, std::string path);
const State& Get();

}  // namespace fakehost
