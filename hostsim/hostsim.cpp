// The stand-in host's implementation of the host API.
//
// Every open document lives in memory from the open call to the close call;
// only the save call writes it back. Document and annotation handles come
// from one process-wide counter, so a handle never names two things, even
// across documents, and a document handle passed where an annotation handle
// belongs (or the other way round) is refused.

#include "hostsim/hostsim.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hostsim/document_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "hostsim/cp932.h"
#endif

namespace hostsim {
namespace {

// Annotation attributes the host gives a new annotation.
constexpr std::int32_t kDefaultBorderStyle = 1;
constexpr std::int32_t kDefaultFillStyle = 1;

struct OpenDocument {
  std::string path;  // file-system path
  Document document;
  std::map<int, std::int32_t> callCounts;  // per ordinal, for failure injection
};

struct AnnotationOwner {
  HostDocument document = 0;
  std::size_t page = 0;  // 0-based index into Document::pages
};

struct State {
  bool recording = true;
  std::vector<RecordedCall> calls;
  std::map<int, int> callCounts;  // per ordinal, all documents
  std::map<HostDocument, std::unique_ptr<OpenDocument>> documents;
  std::unordered_map<HostAnnotation, AnnotationOwner> annotations;
  // Starts well above small numbers so that a page number or index passed as
  // a handle is refused rather than matching by chance.
  std::uint32_t nextHandle = 0x10001;
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

// The handed-in path as a file-system path. On Linux this models a Japanese
// Windows: the ANSI code page is 932, the file system speaks UTF-8.
std::string FileSystemPath(const char* path) {
#ifdef _WIN32
  return path;
#else
  return Cp932ToUtf8(path);
#endif
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code = lead & 0x07u;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

// An attribute name from the caller (ANSI code page) as the UTF-8 key used in
// the file; nothing if it cannot be represented.
std::optional<std::string> AttributeKey(const char* name) {
#ifdef _WIN32
  const int wideLength = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (wideLength <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide.data(), wideLength);
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::nullopt;
  std::string key(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, key.data(), length, nullptr, nullptr);
  key.pop_back();  // the terminating NUL
#else
  std::string key = Cp932ToUtf8(name);
#endif
  if (key.empty() || !IsValidUtf8(key)) return std::nullopt;
  return key;
}

template <typename Record>
std::vector<std::int32_t> RecordWords(const Record* record) {
  static_assert(sizeof(Record) % sizeof(std::int32_t) == 0, "records are made of 32-bit words");
  if (record == nullptr) return {};
  std::vector<std::int32_t> words(sizeof(Record) / sizeof(std::int32_t));
  std::memcpy(words.data(), record, sizeof(Record));
  return words;
}

std::int64_t Flag(const void* pointer) { return pointer != nullptr ? 1 : 0; }

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

// The result points into `open`, and callers change the annotation through it.
// cppcheck-suppress constParameter
Annotation* FindAnnotationIn(OpenDocument& open, std::size_t page, HostAnnotation handle) {
  for (Annotation& annotation : open.document.pages[page].annotations) {
    if (annotation.handle == handle) return &annotation;
  }
  return nullptr;
}

void TrackAnnotation(HostDocument document, std::size_t page, Annotation& annotation) {
  annotation.handle = NewHandle();
  GetState().annotations[annotation.handle] = AnnotationOwner{document, page};
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

// Runs one API call: counts and logs it, and turns any exception into a
// result code so that none crosses the C boundary.
template <typename Body>
HostResult Run(int ordinal, Body&& body) noexcept {
  try {
    State& state = GetState();
    ++state.callCounts[ordinal];
    RecordedCall call;
    call.ordinal = ordinal;
    try {
      call.result = body(call);
    } catch (const std::bad_alloc&) {
      call.result = kHostOutOfMemory;
    } catch (...) {
      call.result = kHostFail;
    }
    const HostResult result = call.result;
    if (state.recording) state.calls.push_back(std::move(call));
    return result;
  } catch (const std::bad_alloc&) {
    return kHostOutOfMemory;
  } catch (...) {
    return kHostFail;
  }
}

HostResult Open(RecordedCall& call, const char* path, HostDocument* document,
                const HostOpenMode* mode) {
  call.args = {Flag(document)};
  call.record = RecordWords(mode);
  if (path != nullptr) call.text = path;
  if (path == nullptr || document == nullptr || mode == nullptr) return kHostInvalidArgument;

  auto open = std::make_unique<OpenDocument>();
  open->path = FileSystemPath(path);
  std::string error;
  switch (ReadDocumentFile(open->path, open->document, error)) {
    case FileStatus::kOk:
      break;
    case FileStatus::kNotFound:
      return kHostFileNotFound;
    case FileStatus::kAccessDenied:
      return kHostAccessDenied;
    case FileStatus::kInvalid:
      return kHostBadFormat;
  }
  if (const auto injected = CountCall(*open, kOrdinalOpenDocument)) return *injected;
  switch (CheckWritable(open->path)) {
    case FileStatus::kOk:
      break;
    case FileStatus::kNotFound:
      return kHostFileNotFound;
    default:
      return kHostAccessDenied;
  }

  const HostDocument handle = NewHandle();
  State& state = GetState();
  std::vector<Page>& pages = open->document.pages;
  for (std::size_t page = 0; page < pages.size(); ++page) {
    for (Annotation& annotation : pages[page].annotations)
      TrackAnnotation(handle, page, annotation);
  }
  state.documents.emplace(handle, std::move(open));
  *document = handle;
  call.handleOut = handle;
  return kHostOk;
}

HostResult Close(RecordedCall& call, HostDocument document, void* reserved) {
  call.args = {document, Flag(reserved)};
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  if (const auto injected = CountCall(*open, kOrdinalCloseDocument)) return *injected;
  Forget(document);
  return kHostOk;
}

HostResult DocumentInformation(RecordedCall& call, HostDocument document, HostDocumentInfo* info) {
  call.args = {document};
  call.record = RecordWords(info);
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  if (const auto injected = CountCall(*open, kOrdinalGetDocumentInformation)) return *injected;
  if (info == nullptr) return kHostInvalidArgument;
  info->pageCount = static_cast<std::int32_t>(open->document.pages.size());
  return kHostOk;
}

HostResult PageInformation(RecordedCall& call, HostDocument document, std::int32_t page,
                           HostPageInfo* info) {
  call.args = {document, page};
  call.record = RecordWords(info);
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  if (const auto injected = CountCall(*open, kOrdinalGetPageInformation)) return *injected;
  if (info == nullptr || !PageInRange(open->document, page)) return kHostInvalidArgument;
  const Page& data = open->document.pages[static_cast<std::size_t>(page - 1)];
  info->width = data.width;
  info->height = data.height;
  info->annotationCount = static_cast<std::int32_t>(data.annotations.size());
  return kHostOk;
}

HostResult Save(RecordedCall& call, HostDocument document, void* reserved) {
  call.args = {document, Flag(reserved)};
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  if (const auto injected = CountCall(*open, kOrdinalSaveDocument)) return *injected;
  std::string error;
  if (!WriteFileAtomically(open->path, SerializeDocument(open->document), error)) {
    return kHostAccessDenied;
  }
  return kHostOk;
}

HostResult AnnotationInformation(RecordedCall& call, HostDocument document, std::int32_t page,
                                 HostAnnotation parent, std::int32_t index,
                                 HostAnnotationInfo* info, void* reserved) {
  call.args = {document, page, parent, index, Flag(reserved)};
  call.record = RecordWords(info);
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  if (const auto injected = CountCall(*open, kOrdinalGetAnnotationInformation)) return *injected;
  // Annotations in these documents have no children: only the page level
  // (parent 0) has any.
  if (info == nullptr || parent != 0 || !PageInRange(open->document, page)) {
    return kHostInvalidArgument;
  }
  const auto& list = open->document.pages[static_cast<std::size_t>(page - 1)].annotations;
  if (index < 1 || static_cast<std::size_t>(index) > list.size()) return kHostInvalidArgument;
  const Annotation& annotation = list[static_cast<std::size_t>(index - 1)];
  info->handle = annotation.handle;
  info->x = annotation.x;
  info->y = annotation.y;
  info->width = annotation.width;
  info->height = annotation.height;
  info->type = annotation.type;
  return kHostOk;
}

HostResult GetAttribute(RecordedCall& call, HostAnnotation annotation, const char* name,
                        void* buffer, std::int32_t bufferSize, void* reserved) {
  call.args = {annotation, bufferSize, Flag(reserved)};
  if (name != nullptr) call.text = name;
  State& state = GetState();
  const auto owner = state.annotations.find(annotation);
  if (owner == state.annotations.end()) return kHostInvalidArgument;
  OpenDocument* open = FindDocument(owner->second.document);
  if (open == nullptr) return kHostInvalidArgument;
  if (const auto injected = CountCall(*open, kOrdinalGetAnnotationAttribute)) return *injected;
  if (name == nullptr || buffer == nullptr || bufferSize < static_cast<std::int32_t>(4)) {
    return kHostInvalidArgument;
  }
  const Annotation* found = FindAnnotationIn(*open, owner->second.page, annotation);
  const std::optional<std::string> key = AttributeKey(name);
  if (found == nullptr || !key) return kHostInvalidArgument;
  const std::optional<std::int32_t> value = found->Attribute(*key);
  if (!value) return kHostInvalidArgument;
  std::memcpy(buffer, &*value, sizeof *value);
  return kHostOk;
}

HostResult AddAnnotation(RecordedCall& call, HostDocument document, std::int32_t type,
                         std::int32_t page, std::int32_t x, std::int32_t y,
                         const HostRectShape* shape, HostAnnotation* created, void* reserved) {
  call.args = {document, type, page, x, y, Flag(created), Flag(reserved)};
  call.record = RecordWords(shape);
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
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
  annotation.SetAttribute(kBorderStyleAttribute, kDefaultBorderStyle);
  annotation.SetAttribute(kFillStyleAttribute, kDefaultFillStyle);
  target.annotations.push_back(std::move(annotation));
  TrackAnnotation(document, pageIndex, target.annotations.back());
  *created = target.annotations.back().handle;
  call.handleOut = *created;
  return kHostOk;
}

HostResult RemoveAnnotation(RecordedCall& call, HostDocument document, HostAnnotation annotation,
                            void* reserved) {
  call.args = {document, annotation, Flag(reserved)};
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  if (const auto injected = CountCall(*open, kOrdinalRemoveAnnotation)) return *injected;
  State& state = GetState();
  const auto owner = state.annotations.find(annotation);
  if (owner == state.annotations.end() || owner->second.document != document) {
    return kHostInvalidArgument;
  }
  auto& list = open->document.pages[owner->second.page].annotations;
  const auto it = std::find_if(list.begin(), list.end(), [annotation](const Annotation& a) {
    return a.handle == annotation;
  });
  if (it == list.end()) return kHostInvalidArgument;
  list.erase(it);
  state.annotations.erase(owner);
  return kHostOk;
}

HostResult SetAttribute(RecordedCall& call, HostDocument document, HostAnnotation annotation,
                        const char* name, std::int32_t valueType, const void* value,
                        std::int32_t textCodePage, void* reserved) {
  std::int32_t number = 0;
  if (value != nullptr) std::memcpy(&number, value, sizeof number);
  call.args = {document, annotation, valueType, number, textCodePage, Flag(reserved)};
  if (name != nullptr) call.text = name;
  OpenDocument* open = FindDocument(document);
  if (open == nullptr) return kHostInvalidArgument;
  if (const auto injected = CountCall(*open, kOrdinalSetAnnotationAttribute)) return *injected;
  // Only integer attributes (value type 0) exist in these documents.
  if (name == nullptr || value == nullptr || valueType != 0) return kHostInvalidArgument;
  const auto owner = GetState().annotations.find(annotation);
  if (owner == GetState().annotations.end() || owner->second.document != document) {
    return kHostInvalidArgument;
  }
  Annotation* found = FindAnnotationIn(*open, owner->second.page, annotation);
  const std::optional<std::string> key = AttributeKey(name);
  if (found == nullptr || !key) return kHostInvalidArgument;
  found->SetAttribute(*key, number);
  return kHostOk;
}

}  // namespace

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

}  // namespace hostsim

extern "C" {

HostResult HOST_API_CALL HostOpenDocument(const char* path, HostDocument* document,
                                          HostOpenMode* mode) {
  return hostsim::Run(kOrdinalOpenDocument, [&](hostsim::RecordedCall& call) {
    return hostsim::Open(call, path, document, mode);
  });
}

HostResult HOST_API_CALL HostCloseDocument(HostDocument document, void* reserved) {
  return hostsim::Run(kOrdinalCloseDocument, [&](hostsim::RecordedCall& call) {
    return hostsim::Close(call, document, reserved);
  });
}

HostResult HOST_API_CALL HostGetDocumentInformation(HostDocument document, HostDocumentInfo* info) {
  return hostsim::Run(kOrdinalGetDocumentInformation, [&](hostsim::RecordedCall& call) {
    return hostsim::DocumentInformation(call, document, info);
  });
}

HostResult HOST_API_CALL HostGetPageInformation(HostDocument document, std::int32_t page,
                                                HostPageInfo* info) {
  return hostsim::Run(kOrdinalGetPageInformation, [&](hostsim::RecordedCall& call) {
    return hostsim::PageInformation(call, document, page, info);
  });
}

HostResult HOST_API_CALL HostSaveDocument(HostDocument document, void* reserved) {
  return hostsim::Run(kOrdinalSaveDocument, [&](hostsim::RecordedCall& call) {
    return hostsim::Save(call, document, reserved);
  });
}

HostResult HOST_API_CALL HostGetAnnotationInformation(HostDocument document, std::int32_t page,
                                                      HostAnnotation parent, std::int32_t index,
                                                      HostAnnotationInfo* info, void* reserved) {
  return hostsim::Run(kOrdinalGetAnnotationInformation, [&](hostsim::RecordedCall& call) {
    return hostsim::AnnotationInformation(call, document, page, parent, index, info, reserved);
  });
}

HostResult HOST_API_CALL HostGetAnnotationAttribute(HostAnnotation annotation, const char* name,
                                                    void* buffer, std::int32_t bufferSize,
                                                    void* reserved) {
  return hostsim::Run(kOrdinalGetAnnotationAttribute, [&](hostsim::RecordedCall& call) {
    return hostsim::GetAttribute(call, annotation, name, buffer, bufferSize, reserved);
  });
}

HostResult HOST_API_CALL HostAddAnnotation(HostDocument document, std::int32_t type,
                                           std::int32_t page, std::int32_t x, std::int32_t y,
                                           HostRectShape* shape, HostAnnotation* created,
                                           void* reserved) {
  return hostsim::Run(kOrdinalAddAnnotation, [&](hostsim::RecordedCall& call) {
    return hostsim::AddAnnotation(call, document, type, page, x, y, shape, created, reserved);
  });
}

HostResult HOST_API_CALL HostRemoveAnnotation(HostDocument document, HostAnnotation annotation,
                                              void* reserved) {
  return hostsim::Run(kOrdinalRemoveAnnotation, [&](hostsim::RecordedCall& call) {
    return hostsim::RemoveAnnotation(call, document, annotation, reserved);
  });
}

HostResult HOST_API_CALL HostSetAnnotationAttribute(HostDocument document,
                                                    HostAnnotation annotation, const char* name,
                                                    std::int32_t valueType, const void* value,
                                                    std::int32_t textCodePage, void* reserved) {
  return hostsim::Run(kOrdinalSetAnnotationAttribute, [&](hostsim::RecordedCall& call) {
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

}  // extern "C"
