// Fuzz target: the document pass (MaskDocument) over a document and a host
// behaviour made from the fuzzer's bytes, with the in-memory host of
// tests/fuzz/fake_host.cpp and memory that may run out at any allocation.
//
// Input (little-endian, see tests/fuzz/fuzz_input.h):
//   byte   the failing call's ordinal: 1 to 10 pick one of the ten, else none
//   byte   which call of it fails, 0-based
//   byte   its result: below 0x80 one of a table of codes, else an int32 follows
//          (its top bit is set: any negative code)
//   byte   which allocation fails, 1-based; 0: none
//   byte   bit 0: a failing document-information call still gives the count;
//          bits 1-3: skew of the page count; bit 4: off-page rectangles are
//          refused; bit 5: an int32 minimum size follows; bit 6: a uint32 of
//          refused add calls follows
//   string the path (length byte, bytes)
//   byte   number of pages (modulo 7), then for each page:
//     int32 width, int32 height, byte: bits 0-3 annotations (at most 12),
//     bits 4-6 skew of the annotation count; then for each annotation a kind
//     byte (bits 0-1: 3 for an int32 type that follows, else a rectangle;
//     bit 2: border style present, bit 3: it is 1, else an int32 follows;
//     bit 4: fill style present, bits 5-6: 0, 1, 2 or an int32 that follows)
//     and four int32: x, y, width, height.
//
// After every run: close was called exactly once if and only if the open
// succeeded, and last; save was called exactly when the result is true or the
// save itself failed; the file holds the original unless the result is true,
// and then it holds the masked document: no keep-frame left on a page the pass
// went through, every other annotation kept in order, masks with border style
// 0 behind them, covering exactly the page minus the keep-frames where nothing
// was refused; every allocation released; and the messages are exactly those
// the rules give, in order. A pass that finished although an allocation
// failed saved exactly what a pass without the failure saves.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hostapi/host_api.h"
#include "masking/mask_document.h"
#include "masking/message_sink.h"
#include "masking/messages.h"
#include "tests/fuzz/fake_host.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/coverage_grid.h"
#include "tests/support/failing_memory.h"

namespace {

using coverage::Box;
using coverage::BoxOf;
using coverage::CoverageGrid;
using masking::HostErrorText;
using masking::kUnmaskablePageText;
using masking::MaskDocument;

struct ShownMessage {
  std::string text;
  long requests;  // allocation requests made when it was shown
};

std::vector<ShownMessage>& Shown() {
  static std::vector<ShownMessage> shown;
  return shown;
}

// エラーが発生しました。 in code page 932, spelled out here so that the check
// does not rest on the engine's own table.
const char kGeneralError[] =
    "\x83\x47\x83\x89\x81\x5B\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";

constexpr int kOrdinals[] = {kOrdinalOpenDocument,           kOrdinalCloseDocument,
                             kOrdinalGetDocumentInformation, kOrdinalGetPageInformation,
                             kOrdinalSaveDocument,           kOrdinalGetAnnotationInformation,
                             kOrdinalGetAnnotationAttribute, kOrdinalAddAnnotation,
                             kOrdinalRemoveAnnotation,       kOrdinalSetAnnotationAttribute};

constexpr std::uint32_t kCodes[] = {0x80070057u, 0x80040001u, 0x80040003u, 0x80070002u, 0x80070005u,
                                    0x8007007Bu, 0x800E0005u, 0x8007000Bu, 0x80070050u, 0x80004005u,
                                    0x8007000Eu, 0x80000000u, 0xFFFFFFFFu};

constexpr std::int32_t kSkews[] = {0, 0, 0, 0, -1, 1, -2, 2};

std::int32_t AttributeValue(FuzzInput& input, unsigned selector) {
  switch (selector) {
    case 0:
      return 0;
    case 1:
      return 1;
    case 2:
      return 2;
    default:
      return input.Int32();
  }
}

std::vector<fakehost::Page> ReadPages(FuzzInput& input) {
  std::vector<fakehost::Page> pages(input.Byte() % 7);
  for (fakehost::Page& page : pages) {
    page.width = input.Int32();
    page.height = input.Int32();
    const std::uint8_t layout = input.Byte();
    page.countSkew = kSkews[(layout >> 4) & 7];
    page.annotations.resize(static_cast<std::size_t>(std::min(layout & 15, 12)));
    for (fakehost::Annotation& annotation : page.annotations) {
      const std::uint8_t kind = input.Byte();
      annotation.type = (kind & 3) == 3 ? input.Int32() : kRectangleAnnotation;
      annotation.hasBorder = (kind & 4) != 0;
      annotation.border = (kind & 8) != 0 ? 1 : (annotation.hasBorder ? input.Int32() : 0);
      annotation.hasFill = (kind & 16) != 0;
      annotation.fill = annotation.hasFill ? AttributeValue(input, (kind >> 5) & 3u) : 0;
      annotation.x = input.Int32();
      annotation.y = input.Int32();
      annotation.width = input.Int32();
      annotation.height = input.Int32();
    }
  }
  return pages;
}

std::string PageMessage(std::int32_t page, const std::string* path) {
  std::string text = std::to_string(page) + kUnmaskablePageText;
  if (path != nullptr) text += "(" + *path + ")";
  return text;
}

// Annotations the pass reads on a page: those within the count the host gives.
std::size_t ReadCount(const fakehost::Page& page) {
  const std::int64_t count = static_cast<std::int64_t>(page.annotations.size()) + page.countSkew;
  if (count < 0) return 0;
  return std::min(page.annotations.size(), static_cast<std::size_t>(count));
}

// A page of a document the pass finished: the keep-frames it read are gone,
// all else stays in order, and the masks follow, borderless, each with the
// host's other defaults. Where the host refused nothing, the masks cover
// exactly the page minus the keep-frames.
void CheckMaskedPage(const fakehost::Page& before, const fakehost::Page& after, bool refused) {
  const std::size_t read = ReadCount(before);
  std::vector<Box> frames;
  std::vector<const fakehost::Annotation*> kept;
  for (std::size_t i = 0; i < before.annotations.size(); ++i) {
    const fakehost::Annotation& a = before.annotations[i];
    if (i < read && fakehost::IsKeepFrame(a)) {
      frames.push_back(BoxOf(a.x, a.y, a.width, a.height));
    } else {
      kept.push_back(&a);
    }
  }
  FUZZ_CHECK(after.annotations.size() >= kept.size());
  std::vector<Box> masks;
  for (std::size_t i = 0; i < after.annotations.size(); ++i) {
    const fakehost::Annotation& a = after.annotations[i];
    if (i < kept.size()) {
      FUZZ_CHECK(a.original == kept[i]->original);
      continue;
    }
    FUZZ_CHECK(a.original < 0 && a.type == kRectangleAnnotation);
    FUZZ_CHECK(a.hasBorder && a.border == 0 && a.hasFill && a.fill == 1);
    masks.push_back(BoxOf(a.x, a.y, a.width, a.height));
  }
  if (frames.empty()) {
    FUZZ_CHECK(masks.empty());
    return;
  }
  bool nonNegative = true;
  for (const Box& f : frames) nonNegative = nonNegative && f.right >= f.left && f.bottom >= f.top;
  if (refused || !nonNegative || before.width <= 0 || before.height <= 0) return;
  std::vector<Box> edges = frames;
  edges.insert(edges.end(), masks.begin(), masks.end());
  const CoverageGrid grid(before.width, before.height, edges);
  const std::vector<int> inFrame = grid.Count(frames);
  const std::vector<int> masked = grid.Count(masks);
  for (std::size_t cell = 0; cell < masked.size(); ++cell) {
    FUZZ_CHECK((inFrame[cell] > 0) == (masked[cell] == 0));
  }
}

}  // namespace

void masking::ShowMessage(const char* text) {
  Shown().push_back(ShownMessage{text, AllocationRequests()});
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  fakehost::Behaviour behaviour;
  const unsigned ordinal = input.Byte() % 11u;
  behaviour.failOrdinal = ordinal == 0 ? 0 : kOrdinals[ordinal - 1];
  behaviour.failCall = 1 + input.Byte();
  const std::uint8_t code = input.Byte();
  behaviour.failCode =
      static_cast<HostResult>(code < 0x80 ? kCodes[code % (sizeof kCodes / sizeof kCodes[0])]
                                          : input.Uint32() | 0x80000000u);
  const long failAt = input.Byte();
  const std::uint8_t quirks = input.Byte();
  behaviour.infoWritesOnFailure = (quirks & 1) != 0;
  behaviour.pageCountSkew = kSkews[(quirks >> 1) & 7];
  behaviour.refuseOffPage = (quirks & 16) != 0;
  if ((quirks & 32) != 0) behaviour.minimumSize = input.Int32();
  if ((quirks & 64) != 0) behaviour.refusedAdds = input.Uint32();
  std::string path = input.String();
  for (char& c : path) {
    if (c == '\0') c = '0';
  }
  const std::vector<fakehost::Page> pages = ReadPages(input);
  fakehost::Reset(pages, behaviour, path);

  Shown().clear();
  FailAllocationAfter(failAt);
  const bool result = MaskDocument(path.c_str());
  const long requests = AllocationRequests();
  FailAllocationAfter(0);
  FUZZ_CHECK(LiveBlocks() == 0);

  const fakehost::State& host = fakehost::Get();
  const std::vector<fakehost::Call>& calls = host.calls;
  FUZZ_CHECK(!calls.empty() && calls.front().ordinal == kOrdinalOpenDocument);
  std::vector<std::string> expected;
  if (calls.front().result < 0) {
    FUZZ_CHECK(!result && calls.size() == 1 && !host.closed);
    FUZZ_CHECK(Shown().size() == 1 && Shown()[0].text == HostErrorText(calls.front().result));
    FUZZ_CHECK(fakehost::SamePages(host.saved, host.original));
    return 0;
  }

  // Closed once, as the last call.
  FUZZ_CHECK(host.closed && calls.back().ordinal == kOrdinalCloseDocument);
  int closes = 0;
  int saves = 0;
  for (const fakehost::Call& call : calls) {
    closes += call.ordinal == kOrdinalCloseDocument ? 1 : 0;
    saves += call.ordinal == kOrdinalSaveDocument ? 1 : 0;
  }
  FUZZ_CHECK(closes == 1);

  // The call that made the pass give up: a failing call other than the close
  // (not examined) and a refused add. A failing document-information call
  // counts even when the host wrote a page count.
  const fakehost::Call* fatal = nullptr;
  for (const fakehost::Call& call : calls) {
    if (call.result < 0 && call.ordinal != kOrdinalCloseDocument &&
        !(call.ordinal == kOrdinalAddAnnotation && call.result == kHostInvalidArgument)) {
      fatal = &call;
      break;
    }
  }
  const bool memoryRanOut = failAt > 0 && requests >= failAt;
  if (fatal != nullptr) {
    FUZZ_CHECK(!result);
    FUZZ_CHECK(fatal == &calls[calls.size() - 2]);  // then only the close
  } else if (!memoryRanOut) {
    FUZZ_CHECK(result);
  }
  const bool gaveUpForMemory = fatal == nullptr && !result;
  FUZZ_CHECK(saves ==
             (result || (fatal != nullptr && fatal->ordinal == kOrdinalSaveDocument) ? 1 : 0));

  // Each page with a refused rectangle is named once, after its last piece,
  // unless the pass gave up on that very page; then the host's message for a
  // failing information call or save, or the general one for memory.
  std::vector<std::int32_t> refusedPages;
  for (const fakehost::Call& call : calls) {
    if (call.ordinal == kOrdinalAddAnnotation && call.result == kHostInvalidArgument &&
        (refusedPages.empty() || refusedPages.back() != call.page)) {
      refusedPages.push_back(call.page);
    }
  }
  if (fatal != nullptr && !refusedPages.empty() && refusedPages.back() == fatal->page) {
    refusedPages.pop_back();
  }
  const std::vector<ShownMessage>& shown = Shown();
  std::size_t next = 0;
  for (const std::int32_t page : refusedPages) {
    FUZZ_CHECK(next < shown.size());
    // Without memory for the path the message still names the page.
    const bool short_ = shown[next].requests == failAt;
    FUZZ_CHECK(shown[next].text == PageMessage(page, short_ ? nullptr : &path));
    ++next;
  }
  if (fatal != nullptr && (fatal->ordinal == kOrdinalGetDocumentInformation ||
                           fatal->ordinal == kOrdinalGetPageInformation ||
                           fatal->ordinal == kOrdinalGetAnnotationInformation ||
                           fatal->ordinal == kOrdinalSaveDocument)) {
    FUZZ_CHECK(next < shown.size() && shown[next].text == HostErrorText(fatal->result));
    ++next;
  }
  if (gaveUpForMemory) {
    FUZZ_CHECK(next < shown.size() && shown[next].text == kGeneralError);
    ++next;
  }
  FUZZ_CHECK(next == shown.size());

  // Nothing half done reaches the file.
  if (!result) {
    FUZZ_CHECK(fakehost::SamePages(host.saved, host.original));
    return 0;
  }
  FUZZ_CHECK(fakehost::SamePages(host.saved, host.working));
  const std::size_t pagesDone =
      std::min(host.original.size(), static_cast<std::size_t>(std::max(host.reportedPageCount, 0)));
  for (std::size_t p = 0; p < host.original.size(); ++p) {
    if (p >= pagesDone) {
      FUZZ_CHECK(fakehost::SamePages({host.saved[p]}, {host.original[p]}));
      continue;
    }
    bool refused = false;
    for (const std::int32_t page : refusedPages)
      refused = refused || page == static_cast<std::int32_t>(p + 1);
    CheckMaskedPage(host.original[p], host.saved[p], refused);
  }

  // A pass that finished although memory ran out lost only what it could do
  // without (a region's grid, the path in a message): it saved exactly what
  // a pass with all the memory it wants saves.
  if (memoryRanOut) {
    const std::vector<fakehost::Page> saved = host.saved;
    fakehost::Reset(pages, behaviour, path);
    FUZZ_CHECK(MaskDocument(path.c_str()));
    FUZZ_CHECK(fakehost::SamePages(fakehost::Get().saved, saved));
    FUZZ_CHECK(LiveBlocks() == 0);
  }
  return 0;
}
