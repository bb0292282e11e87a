// Fuzz target: the document pass (MaskDocument) through the stand-in host's
// in-memory core (hostsim/hostsim.h), over a document and a host behaviour
// made from the fuzzer's bytes, with memory that may run out at any
// allocation. The document is held by the memory store of
// tests/fuzz/memory_store.h.
//
// Input (little-endian, see tests/fuzz/fuzz_input.h):
//   byte   the failing call's ordinal, modulo N + 1 for the N ordinals of
//          hostapi/xdwapi.def: 1 to N pick one in the list's order, 0 none
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
//     bits 4-6 skew of the annotation count (the first page's applies to
//     every page); then for each annotation a kind byte (bits 0-1: 3 for an
//     int32 type that follows, else a rectangle; bit 2: border style present,
//     bit 3: it is 1, else an int32 follows; bit 4: fill style present, bits
//     5-6: 0, 1, 2 or an int32 that follows) and four int32: x, y, width, height.
//
// The pass keeps to the host API, as the call log shows: every call names
// the open document, records carry their sizes, no call comes before the open
// or after the close, pages and indexes stay within the counts the host gave,
// only rectangles' attributes are read, only keep-frames the document had are
// removed and only the mask just added is written. And after every run: close
// was called exactly once if and only if the open succeeded, and last; save
// was called exactly when the result is true or the save itself failed; the
// store holds the original unless the result is true, and then it holds the
// masked document: no keep-frame left on a page the pass went through, every
// other annotation kept in order, masks with border style 0 behind them,
// covering exactly the page minus the keep-frames where nothing was refused;
// every allocation released; and the messages are exactly those the rules
// give, in order. A pass that finished although an allocation failed saved
// exactly what a pass without the failure saves.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "hostapi/host_api.h"
#include "hostsim/document.h"
#include "hostsim/hostsim.h"
#include "masking/keep_frame.h"
#include "masking/mask_document.h"
#include "masking/message_sink.h"
#include "masking/messages.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/memory_store.h"
#include "tests/support/coverage_grid.h"
#include "tests/support/failing_memory.h"

namespace {

using coverage::Box;
using coverage::BoxOf;
using coverage::CoverageGrid;
using hostsim::RecordedCall;
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

// Each annotation of the document carries its index on the page as a member
// the host carries along ("id"), so that it can be followed through the pass;
// the masks the pass adds have none.
int OriginalIndex(const hostsim::Annotation& annotation) {
  if (annotation.extra.empty()) return -1;
  return std::stoi(annotation.extra.substr(annotation.extra.find(':') + 1));
}

void ReadPages(FuzzInput& input, hostsim::Document& document) {
  document.pages.resize(input.Byte() % 7);
  bool first = true;
  for (hostsim::Page& page : document.pages) {
    page.width = input.Int32();
    page.height = input.Int32();
    const std::uint8_t layout = input.Byte();
    if (first) document.host.annotationCountSkew = kSkews[(layout >> 4) & 7];
    first = false;
    page.annotations.resize(static_cast<std::size_t>(std::min(layout & 15, 12)));
    int index = 0;
    for (hostsim::Annotation& annotation : page.annotations) {
      const std::uint8_t kind = input.Byte();
      annotation.type = (kind & 3) == 3 ? input.Int32() : kRectangleAnnotation;
      if ((kind & 4) != 0) {
        annotation.SetAttribute(kBorderStyleAttribute,
                                (kind & 8) != 0 ? kBorderedStyle : input.Int32());
      }
      if ((kind & 16) != 0) {
        annotation.SetAttribute(kFillStyleAttribute, AttributeValue(input, (kind >> 5) & 3u));
      }
      annotation.x = input.Int32();
      annotation.y = input.Int32();
      annotation.width = input.Int32();
      annotation.height = input.Int32();
      annotation.extra = "\"id\":" + std::to_string(index++);
    }
  }
}

bool IsKeepFrame(const hostsim::Annotation& annotation) {
  const auto border = annotation.Attribute(kBorderStyleAttribute);
  const auto fill = annotation.Attribute(kFillStyleAttribute);
  return border && fill && masking::IsKeepFrame(annotation.type, *border, *fill);
}

bool SamePage(const hostsim::Page& a, const hostsim::Page& b) {
  if (a.width != b.width || a.height != b.height || a.extra != b.extra ||
      a.annotations.size() != b.annotations.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.annotations.size(); ++i) {
    const hostsim::Annotation& x = a.annotations[i];
    const hostsim::Annotation& y = b.annotations[i];
    if (x.type != y.type || x.x != y.x || x.y != y.y || x.width != y.width ||
        x.height != y.height || x.attributes != y.attributes || x.extra != y.extra) {
      return false;
    }
  }
  return true;
}

bool SamePages(const hostsim::Document& a, const hostsim::Document& b) {
  if (a.pages.size() != b.pages.size()) return false;
  for (std::size_t p = 0; p < a.pages.size(); ++p) {
    if (!SamePage(a.pages[p], b.pages[p])) return false;
  }
  return true;
}

// The annotation of the document that the open gave `handle`: the host
// numbers them in page order right after the document's own handle.
const hostsim::Annotation* OriginalOf(const hostsim::Document& document, HostDocument opened,
                                      std::int64_t handle) {
  std::int64_t left = handle - std::int64_t{opened} - 1;
  if (left < 0) return nullptr;
  for (const hostsim::Page& page : document.pages) {
    if (left < static_cast<std::int64_t>(page.annotations.size())) {
      return &page.annotations[static_cast<std::size_t>(left)];
    }
    left -= static_cast<std::int64_t>(page.annotations.size());
  }
  return nullptr;
}

// The pass keeps to the host API: checked over the call log.
void CheckProtocol(const std::vector<RecordedCall>& calls, const std::string& path,
                   const hostsim::Document& original) {
  FUZZ_CHECK(!calls.empty());
  const RecordedCall& open = calls.front();
  FUZZ_CHECK(open.ordinal == kOrdinalOpenDocument && open.text == path);
  FUZZ_CHECK(open.args == std::vector<std::int64_t>{1});
  FUZZ_CHECK((open.record == std::vector<std::int32_t>{12, 1, 1}));
  if (open.result < 0) {
    FUZZ_CHECK(calls.size() == 1);
    return;
  }
  const std::int64_t document = open.handleOut;
  std::int64_t reportedPages = 0;
  std::int64_t currentPage = 0;
  std::int64_t reportedAnnotations = 0;
  std::map<std::int64_t, std::int32_t> described;  // handle: type, on the current page
  for (std::size_t i = 1; i < calls.size(); ++i) {
    const RecordedCall& call = calls[i];
    const std::vector<std::int64_t>& args = call.args;
    FUZZ_CHECK(call.ordinal != kOrdinalOpenDocument);
    // The close comes last; every call but the attribute read names the document.
    FUZZ_CHECK(call.ordinal != kOrdinalCloseDocument || i + 1 == calls.size());
    if (call.ordinal != kOrdinalGetAnnotationAttribute) {
      FUZZ_CHECK(!args.empty() && args[0] == document);
    }
    switch (call.ordinal) {
      case kOrdinalCloseDocument:
      case kOrdinalSaveDocument:
        FUZZ_CHECK(args[1] == 0);
        break;
      case kOrdinalGetDocumentInformation:
        FUZZ_CHECK(call.record.size() == 10 && call.record[0] == 40);
        for (std::size_t w = 1; w < call.record.size(); ++w) FUZZ_CHECK(call.record[w] == 0);
        if (call.result >= 0) reportedPages = call.recordAfter[1];
        break;
      case kOrdinalGetPageInformation:
        // Pages in order, each once, within the count the host gave.
        FUZZ_CHECK(args[1] == currentPage + 1 && args[1] <= reportedPages);
        FUZZ_CHECK(call.record.size() == 8 && call.record[0] == 32);
        currentPage = args[1];
        described.clear();
        reportedAnnotations = call.result >= 0 ? call.recordAfter[7] : 0;
        break;
      case kOrdinalGetAnnotationInformation:
        FUZZ_CHECK(args[1] == currentPage && args[2] == 0 && args[4] == 0);
        FUZZ_CHECK(args[3] >= 1 && args[3] <= reportedAnnotations);
        FUZZ_CHECK(call.record.size() == 8 && call.record[0] == 32);
        if (call.result >= 0) described[call.recordAfter[1]] = call.recordAfter[6];
        break;
      case kOrdinalGetAnnotationAttribute: {
        FUZZ_CHECK(args[1] == 4 && args[2] == 0);
        FUZZ_CHECK(call.text == kBorderStyleAttribute || call.text == kFillStyleAttribute);
        // Only attributes of rectangles on the current page are read.
        const auto it = described.find(args[0]);
        FUZZ_CHECK(it != described.end() && it->second == kRectangleAnnotation);
        break;
      }
      case kOrdinalAddAnnotation:
        FUZZ_CHECK(args[1] == kRectangleAnnotation && args[2] == currentPage);
        FUZZ_CHECK(args[5] == 1 && args[6] == 0);
        FUZZ_CHECK(call.record.size() == 6 && call.record[0] == 24 &&
                   call.record[1] == kRectangleAnnotation && call.record[2] == 0 &&
                   call.record[3] == 0);
        break;
      case kOrdinalRemoveAnnotation: {
        // Only keep-frames the document had, just described.
        FUZZ_CHECK(args[2] == 0 && described.count(args[1]) == 1);
        const hostsim::Annotation* removed = OriginalOf(original, open.handleOut, args[1]);
        FUZZ_CHECK(removed != nullptr && IsKeepFrame(*removed));
        break;
      }
      case kOrdinalSetAnnotationAttribute:
        // Only the mask just added is written, and only its border.
        FUZZ_CHECK(call.text == kBorderStyleAttribute);
        FUZZ_CHECK(args[2] == 0 && args[3] == 0 && args[4] == 0 && args[5] == 0);
        FUZZ_CHECK(calls[i - 1].ordinal == kOrdinalAddAnnotation && calls[i - 1].result >= 0 &&
                   calls[i - 1].handleOut == args[1]);
        break;
      default:
        FUZZ_CHECK(false);
    }
  }
  FUZZ_CHECK(calls.back().ordinal == kOrdinalCloseDocument);
}

std::string PageMessage(std::int32_t page, const std::string* path) {
  std::string text = std::to_string(page) + kUnmaskablePageText;
  if (path != nullptr) text += "(" + *path + ")";
  return text;
}

// Annotations the pass reads on a page: those within the count the host gives.
std::size_t ReadCount(const hostsim::Page& page, std::int32_t skew) {
  const std::int64_t count = static_cast<std::int64_t>(page.annotations.size()) + skew;
  if (count < 0) return 0;
  return std::min(page.annotations.size(), static_cast<std::size_t>(count));
}

// A page of a document the pass finished: the keep-frames it read are gone,
// all else stays in order, and the masks follow, borderless, each with the
// host's other defaults. Where the host refused nothing, the masks cover
// exactly the page minus the keep-frames.
void CheckMaskedPage(const hostsim::Page& before, const hostsim::Page& after, std::int32_t skew,
                     bool refused) {
  const std::size_t read = ReadCount(before, skew);
  std::vector<Box> frames;
  std::vector<const hostsim::Annotation*> kept;
  for (std::size_t i = 0; i < before.annotations.size(); ++i) {
    const hostsim::Annotation& a = before.annotations[i];
    if (i < read && IsKeepFrame(a)) {
      frames.push_back(BoxOf(a.x, a.y, a.width, a.height));
    } else {
      kept.push_back(&a);
    }
  }
  FUZZ_CHECK(after.annotations.size() >= kept.size());
  std::vector<Box> masks;
  for (std::size_t i = 0; i < after.annotations.size(); ++i) {
    const hostsim::Annotation& a = after.annotations[i];
    if (i < kept.size()) {
      FUZZ_CHECK(OriginalIndex(a) == OriginalIndex(*kept[i]));
      continue;
    }
    FUZZ_CHECK(OriginalIndex(a) < 0 && a.type == kRectangleAnnotation);
    FUZZ_CHECK(a.Attribute(kBorderStyleAttribute) == kBorderlessStyle &&
               a.Attribute(kFillStyleAttribute) == hostsim::kNewRectangleFillStyle);
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
  hostsim::Document original;
  hostsim::HostSettings& host = original.host;
  const std::size_t ordinal = input.Byte() % (std::size(kHostOrdinals) + 1);
  const std::int32_t failCall = 1 + input.Byte();
  const std::uint8_t code = input.Byte();
  const auto failCode =
      static_cast<HostResult>(code < 0x80 ? kCodes[code % (sizeof kCodes / sizeof kCodes[0])]
                                          : input.Uint32() | 0x80000000u);
  // The injected failure comes first, so that it wins over a refusal of the
  // same add call.
  if (ordinal != 0) host.failures.push_back({kHostOrdinals[ordinal - 1], failCall, failCode});
  const long failAt = input.Byte();
  const std::uint8_t quirks = input.Byte();
  host.countOnFailure = (quirks & 1) != 0;
  host.pageCountSkew = kSkews[(quirks >> 1) & 7];
  host.refuseOffPage = (quirks & 16) != 0;
  if ((quirks & 32) != 0) host.minAnnotationSize = input.Int32();
  if ((quirks & 64) != 0) {
    const std::uint32_t refusedAdds = input.Uint32();
    for (std::int32_t call = 1; call <= 32; ++call) {
      if ((refusedAdds >> (call - 1) & 1u) != 0) {
        host.failures.push_back({kOrdinalAddAnnotation, call, kHostInvalidArgument});
      }
    }
  }
  std::string path = input.String();
  for (char& c : path) {
    if (c == '\0') c = '0';
  }
  ReadPages(input, original);
  fuzzstore::Put(path, original);
  hostsim::Reset();

  Shown().clear();
  FailAllocationAfter(failAt);
  const bool result = MaskDocument(path.c_str());
  const long requests = AllocationRequests();
  FailAllocationAfter(0);
  FUZZ_CHECK(LiveBlocks() == 0);

  const std::vector<RecordedCall>& calls = hostsim::Calls();
  CheckProtocol(calls, path, original);
  const fuzzstore::Stored& stored = fuzzstore::Get();
  if (calls.front().result < 0) {
    FUZZ_CHECK(!result);
    FUZZ_CHECK(Shown().size() == 1 && Shown()[0].text == HostErrorText(calls.front().result));
    FUZZ_CHECK(stored.saves == 0);
    return 0;
  }

  int saves = 0;
  std::int64_t reportedPageCount = 0;
  for (const RecordedCall& call : calls) {
    saves += call.ordinal == kOrdinalSaveDocument ? 1 : 0;
    if (call.ordinal == kOrdinalGetDocumentInformation && call.result >= 0) {
      reportedPageCount = call.recordAfter[1];
    }
  }

  // The call that made the pass give up: a failing call other than the close
  // (not examined) and a refused add. A failing document-information call
  // counts even when the host wrote a page count.
  const RecordedCall* fatal = nullptr;
  for (const RecordedCall& call : calls) {
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
  FUZZ_CHECK(stored.saves == (result ? 1 : 0));

  // Each page with a refused rectangle is named once, after its last piece,
  // unless the pass gave up on that very page; then the host's message for a
  // failing information call or save, or the general one for memory.
  std::vector<std::int32_t> refusedPages;
  for (const RecordedCall& call : calls) {
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

  // Nothing half done reaches the store.
  if (!result) {
    FUZZ_CHECK(SamePages(stored.document, original));
    return 0;
  }
  const std::size_t pagesDone =
      std::min(original.pages.size(),
               static_cast<std::size_t>(std::max<std::int64_t>(reportedPageCount, 0)));
  FUZZ_CHECK(stored.document.pages.size() == original.pages.size());
  for (std::size_t p = 0; p < original.pages.size(); ++p) {
    if (p >= pagesDone) {
      FUZZ_CHECK(SamePage(stored.document.pages[p], original.pages[p]));
      continue;
    }
    bool refused = false;
    for (const std::int32_t page : refusedPages)
      refused = refused || page == static_cast<std::int32_t>(p + 1);
    CheckMaskedPage(original.pages[p], stored.document.pages[p], host.annotationCountSkew, refused);
  }

  // A pass that finished although memory ran out lost only what it could do
  // without (a region's grid, the path in a message): it saved exactly what
  // a pass with all the memory it wants saves.
  if (memoryRanOut) {
    const hostsim::Document saved = stored.document;
    fuzzstore::Put(path, original);
    hostsim::Reset();
    FUZZ_CHECK(MaskDocument(path.c_str()));
    FUZZ_CHECK(SamePages(fuzzstore::Get().document, saved));
    FUZZ_CHECK(LiveBlocks() == 0);
  }
  return 0;
}
