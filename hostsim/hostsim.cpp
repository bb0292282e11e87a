// The stand-in host's implementation of the host API.
//
// Every open document lives in memory from the open call to the close call;
// only the save call hands it back to the store. Document and annotation
// handles come from one process-wide counter, so a handle never names two
// things, even across documents, and a document handle passed where an
// annotation handle belongs (or the other way round) is refused.

#include "hostsim/hostsim.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hostsim/cp932.h"
#include "hostsim/document.h"
#include "hostsim/document_store.h"

namespace hostsim {
namespace {

struct OpenDocument {
  std::string hostPath;  // as the caller passed it
  DocumentOrigin origin;
  Document document;
  std::map<int, std::int32_t> callCounts;  // per ordinal, for failure injection
};

// Where the annotation of a handle is. `position` is its index on the page
// when last seen; removals before it may have moved it, so it is checked on
// every use and refreshed from the page when it no longer holds.
struct AnnotationPlace {
  HostDocument document = 0;
  std::size_t page = 0;  // 0-based index into Document::pages
  std::size_t position = 0;
};

struct State {
  bool recording = true;
  std::vector<RecordedCall> calls;
  std::map<int, int> callCounts;  // per ordinal, all documents
  std::map<HostDocument, std::unique_ptr<OpenDocument>> documents;
  std::unordered_map<HostAnnotation, AnnotationPlace> annotations;
  // Starts well above small numbers so that a page number or index passed as
  // a handle is refused rather than matching by chance.
  std::uint32_t nextHandle = 0x10001;
  void (*reporter)(const CallFailure&) = nullptr;
};

// Never destroyed: the state outlives every caller, and the DLL build then
// has no static destructors to run at unload.
State& GetState() {
  static State* state = new State();
  return *state;
}

std::uint32_t NewHandle() {
  State& state = GetState();
  std::uint32_t handle = state.nextHandle++;
  if (handle == 0) handle = state.nextHandle++;
  return handle;
}

// What one call concerns: its log entry (null when not logging) and what a
// failure report says about it.
struct Call {
  RecordedCall* log = nullptr;
  const void* record = nullptr;  // the record to log again once the call is done
  std::size_t recordSize = 0;
  const char* hostPath = nullptr;
  std::int32_t page = 0;
  std::int32_t annotation = 0;
  const char* attribute = nullptr;
  std::string reason;
};

std::vector<std::int32_t> Words(const void* record, std::size_t size) {
  std::vector<std::int32_t> words(size / sizeof(std::int32_t));
  std::memcpy(words.data(), record, words.size() * sizeof(std::int32_t));
  return words;
}

void LogArgs(const Call& call, std::initializer_list<std::int64_t> args) {
  if (call.log != nullptr) call.log->args = args;
}

template <typename Record>
void LogRecord(Call& call, const Record* record) {
  static_assert(sizeof(Record) % sizeof(std::int32_t) == 0, "records are made of 32-bit words");
  if (record == nullptr) return;
  call.record = record;
  call.recordSize = sizeof(Record);
  if (call.log != nullptr) call.log->record = Words(record, sizeof(Record));
}

void LogText(const Call& call, const char* text) {
  if (call.log != nullptr && text != nullptr) call.log->text = text;
}

std::int64_t Flag(const void* pointer) { return pointer != nullptr ? 1 : 0; }

std::int32_t Clamped(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// An attribute name from the caller (ANSI code page) as the UTF-8 key used in
// the document; nothing if it cannot be represented. Plain ASCII, as every
// name the pass uses, needs no conversion.
std::optional<std::string> AttributeKey(const char* name) {
  const std::string_view text(name);
  if (text.empty()) return std::nullopt;
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::string(text);
  }
  return Cp932ToUtf8(text);
}

OpenDocument* FindDocument(HostDocument handle) {
  State& state = GetState();
  const auto it = state.documents.find(handle);
  return it == state.documents.end() ? nullptr : it->second.get();
}

// Counts a call against a document; a "failures" entry for exactly this call
// gives the result the call must return.
std::optional<HostResult> CountCall(OpenDocument& open, int ordinal) {
  const std::int32_t call = ++open.callCounts[ordinal];
  for (const FailureRule& rule : open.document.host.failures) {
    if (rule.ordinal == ordinal && rule.call == call) return rule.result;
  }
  return std::nullopt;
}

bool PageInRange(const Document& document, std::int32_t page) {
  return page >= 1 && static_cast<std::size_t>(page) <= document.pages.size();
}

// The annotation of a handle on its page, its place refreshed; null if the
// page no longer holds it.
// cppcheck-suppress constParameter
Annotation* Locate(OpenDocument& open, AnnotationPlace& place, HostAnnotation handle) {
  std::vector<Annotation>& list = open.document.pages[place.page].annotations;
  if (place.position < list.size() && list[place.position].handle == handle) {
    return &list[place.position];
  }
  // Removals moved the page's annotations: every place on it is renewed, so
  // that the following look-ups are direct again.
  State& state = GetState();
  Annotation* found = nullptr;
  for (std::size_t i = 0; i < list.size(); ++i) {
    state.annotations[list[i].handle].position = i;
    if (list[i].handle == handle) found = &list[i];
  }
  return found;
}

// The annotation of a handle in `document` (any open document if 0), with
// its page and index noted for the log; null if there is none.
Annotation* FindAnnotation(Call& call, HostAnnotation handle, HostDocument document,
                           OpenDocument** owner, AnnotationPlace** where) {
  State& state = GetState();
  const auto it = state.annotations.find(handle);
  if (it == state.annotations.end()) return nullptr;
  if (document != 0 && it->second.document != document) return nullptr;
  OpenDocument* open = FindDocument(it->second.document);
  if (open == nullptr) return nullptr;
  Annotation* annotation = Locate(*open, it->second, handle);
  if (annotation == nullptr) return nullptr;
  call.hostPath = open->hostPath.c_str();
  call.page = static_cast<std::int32_t>(it->second.page + 1);
  call.annotation = static_cast<std::int32_t>(it->second.position + 1);
  *owner = open;
  if (where != nullptr) *where = &it->second;
  return annotation;
}

void Forget(HostDocument handle) {
  State& state = GetState();
  const auto it = state.documents.find(handle);
  if (it == state.documents.end()) return;
  for (const Page& page : it->second->document.pages) {
    for (const Annotation& annotation : page.annotations)
      state.annotations.erase(annotation.handle);
  }
  state.documents.erase(it);
}

void Report(int ordinal, const Call& call, HostResult result) {
  const State& state = GetState();
  if (state.reporter == nullptr || result >= 0) return;
  // The pass names the pages with rectangles the host refused.
  if (ordinal == kOrdinalAddAnnotation && result == kHostInvalidArgument) return;
  CallFailure failure;
  failure.ordinal = ordinal;
  if (call.hostPath != nullptr) failure.hostPath = call.hostPath;
  failure.page = call.page;
  failure.annotation = call.annotation;
  if (call.attribute != nullptr) failure.attribute = call.attribute;
  failure.result = result;
  failure.reason = call.reason;
  state.reporter(failure);
}

// Runs one API call: counts, logs and reports it, and turns any exception
// into a result code so that none crosses the C boundary.
template <typename Body>
HostResult Run(int ordinal, Body&& body) noexcept {
  try {
    State& state = GetState();
    ++state.callCounts[ordinal];
    RecordedCall entry;
    Call call;
    if (state.recording) call.log = &entry;
    HostResult result = kHostOk;
    try {
      result = body(call);
    } catch (const std::bad_alloc&) {
      result = kHostOutOfMemory;
    } catch (...) {
      result = kHostFail;
    }
    if (state.recording) {
      entry.ordinal = ordinal;
      entry.result = result;
      entry.page = call.page;
      entry.annotation = call.annotation;
      if (call.record != nullptr) entry.recordAfter = Words(call.record, call.recordSize);
      state.calls.push_back(std::move(entry));
    }
    Report(ordinal, call, result);
    return result;
  } catch (const std::bad_alloc&) {
    return kHostOutOfMemory;
  } catch (...) {
    return kHostFail;
  }
}

HostResult Open(Call& call, const char* path, HostDocument* document, const HostOpenMode* mode) {
  LogArgs(call, {Flag(document)});
  LogRecord(call, mode);
  LogText(call, path);
  call.hostPath = path;
  if (path == nullptr || document == nullptr || mode == nullptr) return kHostInvalidArgument;

  auto open = std::make_unique<OpenDocument>();
  open->hostPath = path;
  const HostResult loaded = LoadDocument(path, open->document, open->origin, call.reason);
  if (loaded < 0) return loaded;
  if (const auto injected = CountCall(*open, kOrdinalOpenDocument)) return *injected;

  const HostDocument handle = NewHandle();
  State& state = GetState();
  std::vector<Page>& pages = open->document.pages;
  for (std::size_t page = 0; page < pages.size(); ++page) {
    std::vector<Annotation>& list = pages[page].annotations;
    for (std::size_t i = 0; i < list.size(); ++i) {
      list[i].handle = NewHandle();
      state.annotations[list[i].handle] = AnnotationPlace{handle, page, i};
    }
  }
  state.documents.emplace(handle, std::move(open));
  *document = handle;
  if (call.log != nullptr) call.log->handleOut = handle;
  return kHostOk;
}

HostResult Close(Call& call, HostDocument document, void* reserved) {
  LogArgs(call, {document, Flag(reserved)});
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  call.hostPath = open->hostPath.c_str();
  if (const auto injected = CountCall(*open, kOrdinalCloseDocument)) return *injected;
  Forget(document);
  return kHostOk;
}

HostResult DocumentInformation(Call& call, HostDocument document, HostDocumentInfo* info) {
  LogArgs(call, {document});
  LogRecord(call, info);
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  call.hostPath = open->hostPath.c_str();
  const Document& data = open->document;
  const std::int32_t count =
      Clamped(static_cast<std::int64_t>(data.pages.size()) + data.host.pageCountSkew);
  if (const auto injected = CountCall(*open, kOrdinalGetDocumentInformation)) {
    if (data.host.countOnFailure && info != nullptr) info->pageCount = count;
    return *injected;
  }
  if (info == nullptr) return kHostInvalidArgument;
  info->pageCount = count;
  return kHostOk;
}

HostResult PageInformation(Call& call, HostDocument document, std::int32_t page,
                           HostPageInfo* info) {
  LogArgs(call, {document, page});
  LogRecord(call, info);
  call.page = page;
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  call.hostPath = open->hostPath.c_str();
  if (const auto injected = CountCall(*open, kOrdinalGetPageInformation)) return *injected;
  if (info == nullptr || !PageInRange(open->document, page)) return kHostInvalidArgument;
  const Page& data = open->document.pages[static_cast<std::size_t>(page - 1)];
  info->width = data.width;
  info->height = data.height;
  info->annotationCount = Clamped(static_cast<std::int64_t>(data.annotations.size()) +
                                  open->document.host.annotationCountSkew);
  return kHostOk;
}

HostResult Save(Call& call, HostDocument document, void* reserved) {
  LogArgs(call, {document, Flag(reserved)});
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  call.hostPath = open->hostPath.c_str();
  if (const auto injected = CountCall(*open, kOrdinalSaveDocument)) return *injected;
  return StoreDocument(open->origin, open->document, call.reason);
}

HostResult AnnotationInformation(Call& call, HostDocument document, std::int32_t page,
                                 HostAnnotation parent, std::int32_t index,
                                 HostAnnotationInfo* info, void* reserved) {
  LogArgs(call, {document, page, parent, index, Flag(reserved)});
  LogRecord(call, info);
  call.page = page;
  call.annotation = index;
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  call.hostPath = open->hostPath.c_str();
  if (const auto injected = CountCall(*open, kOrdinalGetAnnotationInformation)) return *injected;
  // Annotations in these documents have no children: only the page level
  // (parent 0) has any.
  if (info == nullptr || parent != 0 || !PageInRange(open->document, page)) {
    return kHostInvalidArgument;
  }
  const auto& list = open->document.pages[static_cast<std::size_t>(page - 1)].annotations;
  if (index < 1 || static_cast<std::size_t>(index) > list.size()) return kHostInvalidArgument;
  const std::size_t position = static_cast<std::size_t>(index - 1);
  const Annotation& annotation = list[position];
  // Whoever asks about an annotation is about to use its handle.
  GetState().annotations[annotation.handle].position = position;
  info->handle = annotation.handle;
  info->x = annotation.x;
  info->y = annotation.y;
  info->width = annotation.width;
  info->height = annotation.height;
  info->type = annotation.type;
  return kHostOk;
}

HostResult GetAttribute(Call& call, HostAnnotation annotation, const char* name, void* buffer,
                        std::int32_t bufferSize, void* reserved) {
  LogArgs(call, {annotation, bufferSize, Flag(reserved)});
  LogText(call, name);
  call.attribute = name;
  OpenDocument* open = nullptr;
  const Annotation* found = FindAnnotation(call, annotation, 0, &open, nullptr);
  if (found == nullptr) return kHostInvalidArgument;
  if (const auto injected = CountCall(*open, kOrdinalGetAnnotationAttribute)) return *injected;
  if (name == nullptr || buffer == nullptr || bufferSize < static_cast<std::int32_t>(4)) {
    return kHostInvalidArgument;
  }
  const std::optional<std::string> key = AttributeKey(name);
  if (!key) return kHostInvalidArgument;
  const std::optional<std::int32_t> value = found->Attribute(*key);
  if (!value) {
    call.reason = "the annotation has no such attribute";
    return kHostInvalidArgument;
  }
  std::memcpy(buffer, &*value, sizeof *value);
  return kHostOk;
}

HostResult AddAnnotation(Call& call, HostDocument document, std::int32_t type, std::int32_t page,
                         std::int32_t x, std::int32_t y, const HostRectShape* shape,
                         HostAnnotation* created, void* reserved) {
  LogArgs(call, {document, type, page, x, y, Flag(created), Flag(reserved)});
  LogRecord(call, shape);
  call.page = page;
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  call.hostPath = open->hostPath.c_str();
  if (const auto injected = CountCall(*open, kOrdinalAddAnnotation)) return *injected;
  if (shape == nullptr || created == nullptr || !PageInRange(open->document, page)) {
    return kHostInvalidArgument;
  }
  const HostSettings& host = open->document.host;
  const std::int32_t minimum = std::max<std::int32_t>(1, host.minAnnotationSize);
  if (shape->width < minimum || shape->height < minimum) return kHostInvalidArgument;
  const std::size_t pageIndex = static_cast<std::size_t>(page - 1);
  Page& target = open->document.pages[pageIndex];
  if (host.refuseOffPage) {
    const std::int64_t right = std::int64_t{x} + shape->width;
    const std::int64_t bottom = std::int64_t{y} + shape->height;
    if (x < 0 || y < 0 || right > target.width || bottom > target.height) {
      return kHostInvalidArgument;
    }
  }
  Annotation annotation;
  annotation.type = type;
  annotation.x = x;
  annotation.y = y;
  annotation.width = shape->width;
  annotation.height = shape->height;
  annotation.attributes.reserve(2);
  annotation.SetAttribute(kBorderStyleAttribute, kNewRectangleBorderStyle);
  annotation.SetAttribute(kFillStyleAttribute, kNewRectangleFillStyle);
  annotation.handle = NewHandle();
  target.annotations.push_back(std::move(annotation));
  const HostAnnotation handle = target.annotations.back().handle;
  GetState().annotations[handle] =
      AnnotationPlace{document, pageIndex, target.annotations.size() - 1};
  call.annotation = static_cast<std::int32_t>(target.annotations.size());
  *created = handle;
  if (call.log != nullptr) call.log->handleOut = handle;
  return kHostOk;
}

HostResult RemoveAnnotation(Call& call, HostDocument document, HostAnnotation annotation,
                            void* reserved) {
  LogArgs(call, {document, annotation, Flag(reserved)});
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  call.hostPath = open->hostPath.c_str();
  AnnotationPlace* place = nullptr;
  const bool found = FindAnnotation(call, annotation, document, &open, &place) != nullptr;
  if (const auto injected = CountCall(*open, kOrdinalRemoveAnnotation)) return *injected;
  if (!found) return kHostInvalidArgument;
  auto& list = open->document.pages[place->page].annotations;
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(place->position));
  GetState().annotations.erase(annotation);
  return kHostOk;
}

HostResult SetAttribute(Call& call, HostDocument document, HostAnnotation annotation,
                        const char* name, std::int32_t valueType, const void* value,
                        std::int32_t textCodePage, void* reserved) {
  std::int32_t number = 0;
  if (value != nullptr) std::memcpy(&number, value, sizeof number);
  LogArgs(call, {document, annotation, valueType, number, textCodePage, Flag(reserved)});
  LogText(call, name);
  call.attribute = name;
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  call.hostPath = open->hostPath.c_str();
  Annotation* found = FindAnnotation(call, annotation, document, &open, nullptr);
  if (const auto injected = CountCall(*open, kOrdinalSetAnnotationAttribute)) return *injected;
  // Only integer attributes (value type 0) exist in these documents.
  if (name == nullptr || value == nullptr || valueType != 0) return kHostInvalidArgument;
  const std::optional<std::string> key = AttributeKey(name);
  if (found == nullptr || !key) return kHostInvalidArgument;
  if (!found->SetAttribute(*key, number)) {
    call.reason = "the annotation has as many attributes as a document may hold";
    return kHostInvalidArgument;
  }
  return kHostOk;
}

}  // namespace

void ReportFailuresTo(void (*reporter)(const CallFailure& failure)) {
  GetState().reporter = reporter;
}

void SetRecording(bool on) { GetState().recording = on; }

const std::vector<RecordedCall>& Calls() { return GetState().calls; }

void Reset() {
  State& state = GetState();
  state.documents.clear();
  state.annotations.clear();
  state.calls.clear();
  state.callCounts.clear();
}

int OpenHandleCount() { return static_cast<int>(GetState().documents.size()); }

namespace {

// The reporter of another module (HostSimReportFailuresTo).
void (*moduleReporter)(const HostSimFailure*) = nullptr;

void ReportToModule(const CallFailure& failure) {
  const HostSimFailure plain{failure.ordinal,       failure.hostPath.c_str(),  failure.page,
                             failure.annotation,    failure.attribute.c_str(), failure.result,
                             failure.reason.c_str()};
  if (moduleReporter != nullptr) moduleReporter(&plain);
}

}  // namespace

}  // namespace hostsim

extern "C" {

HostResult HOST_API_CALL HostOpenDocument(const char* path, HostDocument* document,
                                          HostOpenMode* mode) {
  return hostsim::Run(kOrdinalOpenDocument, [&](hostsim::Call& call) {
    return hostsim::Open(call, path, document, mode);
  });
}

HostResult HOST_API_CALL HostCloseDocument(HostDocument document, void* reserved) {
  return hostsim::Run(kOrdinalCloseDocument, [&](hostsim::Call& call) {
    return hostsim::Close(call, document, reserved);
  });
}

HostResult HOST_API_CALL HostGetDocumentInformation(HostDocument document, HostDocumentInfo* info) {
  return hostsim::Run(kOrdinalGetDocumentInformation, [&](hostsim::Call& call) {
    return hostsim::DocumentInformation(call, document, info);
  });
}

HostResult HOST_API_CALL HostGetPageInformation(HostDocument document, std::int32_t page,
                                                HostPageInfo* info) {
  return hostsim::Run(kOrdinalGetPageInformation, [&](hostsim::Call& call) {
    return hostsim::PageInformation(call, document, page, info);
  });
}

HostResult HOST_API_CALL HostSaveDocument(HostDocument document, void* reserved) {
  return hostsim::Run(kOrdinalSaveDocument,
                      [&](hostsim::Call& call) { return hostsim::Save(call, document, reserved); });
}

HostResult HOST_API_CALL HostGetAnnotationInformation(HostDocument document, std::int32_t page,
                                                      HostAnnotation parent, std::int32_t index,
                                                      HostAnnotationInfo* info, void* reserved) {
  return hostsim::Run(kOrdinalGetAnnotationInformation, [&](hostsim::Call& call) {
    return hostsim::AnnotationInformation(call, document, page, parent, index, info, reserved);
  });
}

HostResult HOST_API_CALL HostGetAnnotationAttribute(HostAnnotation annotation, const char* name,
                                                    void* buffer, std::int32_t bufferSize,
                                                    void* reserved) {
  return hostsim::Run(kOrdinalGetAnnotationAttribute, [&](hostsim::Call& call) {
    return hostsim::GetAttribute(call, annotation, name, buffer, bufferSize, reserved);
  });
}

HostResult HOST_API_CALL HostAddAnnotation(HostDocument document, std::int32_t type,
                                           std::int32_t page, std::int32_t x, std::int32_t y,
                                           HostRectShape* shape, HostAnnotation* created,
                                           void* reserved) {
  return hostsim::Run(kOrdinalAddAnnotation, [&](hostsim::Call& call) {
    return hostsim::AddAnnotation(call, document, type, page, x, y, shape, created, reserved);
  });
}

HostResult HOST_API_CALL HostRemoveAnnotation(HostDocument document, HostAnnotation annotation,
                                              void* reserved) {
  return hostsim::Run(kOrdinalRemoveAnnotation, [&](hostsim::Call& call) {
    return hostsim::RemoveAnnotation(call, document, annotation, reserved);
  });
}

HostResult HOST_API_CALL HostSetAnnotationAttribute(HostDocument document,
                                                    HostAnnotation annotation, const char* name,
                                                    std::int32_t valueType, const void* value,
                                                    std::int32_t textCodePage, void* reserved) {
  return hostsim::Run(kOrdinalSetAnnotationAttribute, [&](hostsim::Call& call) {
    return hostsim::SetAttribute(call, document, annotation, name, valueType, value, textCodePage,
                                 reserved);
  });
}

int HostSimCallCount(int ordinal) {
  try {
    const auto& counts = hostsim::GetState().callCounts;
    const auto it = counts.find(ordinal);
    return it == counts.end() ? 0 : it->second;
  } catch (...) {
    return 0;
  }
}

int HostSimOpenHandleCount() {
  try {
    return hostsim::OpenHandleCount();
  } catch (...) {
    return 0;
  }
}

void HostSimReset() {
  try {
    hostsim::Reset();
  } catch (...) {
  }
}

void HostSimSetRecording(int on) { hostsim::SetRecording(on != 0); }

void HostSimReportFailuresTo(void (*reporter)(const HostSimFailure* failure)) {
  hostsim::moduleReporter = reporter;
  hostsim::ReportFailuresTo(reporter != nullptr ? hostsim::ReportToModule : nullptr);
}

}  // extern "C"
