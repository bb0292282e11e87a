#include "tests/fuzz/fake_host.h"

#include <array>
#include <cstring>
#include <utility>

#include "masking/keep_frame.h"
#include "tests/fuzz/fuzz_check.h"

namespace fakehost {
namespace {

constexpr HostDocument kDocumentHandle = 0x5EED;
constexpr HostAnnotation kFirstAnnotationHandle = 0x10000;

struct Host {
  State state;
  std::array<int, 67> callCounts{};  // per ordinal
  std::int32_t currentPage = 0;
  std::int32_t reportedAnnotationCount = 0;  // for the current page
  HostAnnotation nextHandle = kFirstAnnotationHandle;
};

Host& TheHost() {
  static Host host;
  return host;
}

bool SameAnnotation(const Annotation& a, const Annotation& b) {
  return a.type == b.type && a.x == b.x && a.y == b.y && a.width == b.width &&
         a.height == b.height && a.hasBorder == b.hasBorder && a.border == b.border &&
         a.hasFill == b.hasFill && a.fill == b.fill && a.original == b.original;
}

// Counts the call and gives the injected result if this is the call that
// fails; `page` is the page the call belongs to (see Call).
bool Injected(int ordinal, std::int32_t page, HostResult& result) {
  Host& host = TheHost();
  const Behaviour& behaviour = host.state.behaviour;
  const int call = ++host.callCounts[static_cast<std::size_t>(ordinal)];
  if (behaviour.failOrdinal != ordinal || behaviour.failCall != call) return false;
  result = behaviour.failCode;
  host.state.calls.push_back(Call{ordinal, result, page});
  return true;
}

HostResult Log(int ordinal, std::int32_t page, HostResult result) {
  TheHost().state.calls.push_back(Call{ordinal, result, page});
  return result;
}

// Every call after the open names the open document; none comes after the close.
void CheckDocument(HostDocument document) {
  const State& state = TheHost().state;
  FUZZ_CHECK(state.open && !state.closed);
  FUZZ_CHECK(document == kDocumentHandle);
}

Annotation* FindAnnotation(HostAnnotation handle, std::int32_t* page) {
  std::vector<Page>& pages = TheHost().state.working;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    for (Annotation& annotation : pages[p].annotations) {
      if (annotation.handle == handle) {
        if (page != nullptr) *page = static_cast<std::int32_t>(p + 1);
        return &annotation;
      }
    }
  }
  return nullptr;
}

bool PageExists(std::int32_t page) {
  return page >= 1 && static_cast<std::size_t>(page) <= TheHost().state.working.size();
}

Page& WorkingPage(std::int32_t page) {
  return TheHost().state.working[static_cast<std::size_t>(page - 1)];
}

}  // namespace

bool SamePages(const std::vector<Page>& a, const std::vector<Page>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t p = 0; p < a.size(); ++p) {
    if (a[p].width != b[p].width || a[p].height != b[p].height ||
        a[p].annotations.size() != b[p].annotations.size()) {
      return false;
    }
    for (std::size_t i = 0; i < a[p].annotations.size(); ++i) {
      if (!SameAnnotation(a[p].annotations[i], b[p].annotations[i])) return false;
    }
  }
  return true;
}

bool IsKeepFrame(const Annotation& annotation) {
  return annotation.hasBorder && annotation.hasFill &&
         masking::IsKeepFrame(annotation.type, annotation.border, annotation.fill);
}

void Reset(std::vector<Page> pages, const Behaviour& behaviour, std::string path) {
  Host& host = TheHost();
  host.state.behaviour = behaviour;
  host.state.path = std::move(path);
  host.state.original = std::move(pages);
  for (Page& page : host.state.original) {
    for (std::size_t i = 0; i < page.annotations.size(); ++i) {
      page.annotations[i].original = static_cast<int>(i);
      page.annotations[i].handle = 0;
    }
  }
  host.state.working.clear();
  host.state.saved = host.state.original;
  host.state.calls.clear();
  host.state.reportedPageCount = 0;
  host.state.open = false;
  host.state.closed = false;
  host.callCounts.fill(0);
  host.currentPage = 0;
  host.reportedAnnotationCount = 0;
  host.nextHandle = kFirstAnnotationHandle;
}

const State& Get() { return TheHost().state; }

}  // namespace fakehost

using fakehost::TheHost;

extern "C" {

HostResult HOST_API_CALL HostOpenDocument(const char* path, HostDocument* document,
                                          HostOpenMode* mode) {
  fakehost::Host& host = TheHost();
  FUZZ_CHECK(!host.state.open && !host.state.closed && host.state.calls.empty());
  FUZZ_CHECK(path != nullptr && host.state.path == path);
  FUZZ_CHECK(document != nullptr && *document == 0);
  FUZZ_CHECK(mode != nullptr && mode->size == 12 && mode->option1 == 1 && mode->option2 == 1);
  HostResult result = kHostOk;
  if (fakehost::Injected(kOrdinalOpenDocument, 0, result)) return result;
  host.state.open = true;
  host.state.working = host.state.original;
  for (fakehost::Page& page : host.state.working) {
    for (fakehost::Annotation& annotation : page.annotations) annotation.handle = host.nextHandle++;
  }
  *document = fakehost::kDocumentHandle;
  return fakehost::Log(kOrdinalOpenDocument, 0, kHostOk);
}

HostResult HOST_API_CALL HostCloseDocument(HostDocument document, void* reserved) {
  fakehost::CheckDocument(document);
  FUZZ_CHECK(reserved == nullptr);
  fakehost::Host& host = TheHost();
  host.state.closed = true;
  HostResult result = kHostOk;
  if (fakehost::Injected(kOrdinalCloseDocument, 0, result)) return result;
  return fakehost::Log(kOrdinalCloseDocument, 0, kHostOk);
}

HostResult HOST_API_CALL HostGetDocumentInformation(HostDocument document, HostDocumentInfo* info) {
  fakehost::CheckDocument(document);
  FUZZ_CHECK(info != nullptr && info->size == 40 && info->pageCount == 0);
  for (const std::int32_t field : info->reserved) FUZZ_CHECK(field == 0);
  fakehost::Host& host = TheHost();
  const std::int32_t count =
      static_cast<std::int32_t>(host.state.working.size()) + host.state.behaviour.pageCountSkew;
  HostResult result = kHostOk;
  if (fakehost::Injected(kOrdinalGetDocumentInformation, 0, result)) {
    if (host.state.behaviour.infoWritesOnFailure) {
      info->pageCount = count;
      host.state.reportedPageCount = count;
    }
    return result;
  }
  info->pageCount = count;
  host.state.reportedPageCount = count;
  return fakehost::Log(kOrdinalGetDocumentInformation, 0, kHostOk);
}

HostResult HOST_API_CALL HostGetPageInformation(HostDocument document, std::int32_t page,
                                                HostPageInfo* info) {
  fakehost::CheckDocument(document);
  fakehost::Host& host = TheHost();
  // Pages in order, each once, within the count the host gave.
  FUZZ_CHECK(page == host.currentPage + 1 && page <= host.state.reportedPageCount);
  FUZZ_CHECK(info != nullptr && info->size == 32);
  host.currentPage = page;
  HostResult result = kHostOk;
  if (fakehost::Injected(kOrdinalGetPageInformation, page, result)) return result;
  if (!fakehost::PageExists(page))
    return fakehost::Log(kOrdinalGetPageInformation, page, kHostInvalidArgument);
  const fakehost::Page& data = fakehost::WorkingPage(page);
  info->width = data.width;
  info->height = data.height;
  info->annotationCount = static_cast<std::int32_t>(data.annotations.size()) + data.countSkew;
  host.reportedAnnotationCount = info->annotationCount;
  return fakehost::Log(kOrdinalGetPageInformation, page, kHostOk);
}

HostResult HOST_API_CALL HostGetAnnotationInformation(HostDocument document, std::int32_t page,
                                                      HostAnnotation parent, std::int32_t index,
                                                      HostAnnotationInfo* info, void* reserved) {
  fakehost::CheckDocument(document);
  fakehost::Host& host = TheHost();
  FUZZ_CHECK(page == host.currentPage && parent == 0 && reserved == nullptr);
  FUZZ_CHECK(index >= 1 && index <= host.reportedAnnotationCount);
  FUZZ_CHECK(info != nullptr && info->size == 32);
  HostResult result = kHostOk;
  if (fakehost::Injected(kOrdinalGetAnnotationInformation, page, result)) return result;
  const auto& list = fakehost::WorkingPage(page).annotations;
  if (static_cast<std::size_t>(index) > list.size()) {
    return fakehost::Log(kOrdinalGetAnnotationInformation, page, kHostInvalidArgument);
  }
  const fakehost::Annotation& annotation = list[static_cast<std::size_t>(index - 1)];
  info->handle = annotation.handle;
  info->x = annotation.x;
  info->y = annotation.y;
  info->width = annotation.width;
  info->height = annotation.height;
  info->type = annotation.type;
  return fakehost::Log(kOrdinalGetAnnotationInformation, page, kHostOk);
}

HostResult HOST_API_CALL HostGetAnnotationAttribute(HostAnnotation annotation, const char* name,
                                                    void* buffer, std::int32_t bufferSize,
                                                    void* reserved) {
  fakehost::Host& host = TheHost();
  FUZZ_CHECK(host.state.open && !host.state.closed);
  FUZZ_CHECK(buffer != nullptr && bufferSize == 4 && reserved == nullptr && name != nullptr);
  const bool border = std::strcmp(name, kBorderStyleAttribute) == 0;
  FUZZ_CHECK(border || std::strcmp(name, kFillStyleAttribute) == 0);
  std::int32_t page = 0;
  const fakehost::Annotation* found = fakehost::FindAnnotation(annotation, &page);
  // Only attributes of rectangles on the current page are read.
  FUZZ_CHECK(found != nullptr && page == host.currentPage && found->type == kRectangleAnnotation);
  HostResult result = kHostOk;
  if (fakehost::Injected(kOrdinalGetAnnotationAttribute, page, result)) return result;
  if (!(border ? found->hasBorder : found->hasFill)) {
    return fakehost::Log(kOrdinalGetAnnotationAttribute, page, kHostInvalidArgument);
  }
  const std::int32_t value = border ? found->border : found->fill;
  std::memcpy(buffer, &value, sizeof value);
  return fakehost::Log(kOrdinalGetAnnotationAttribute, page, kHostOk);
}

HostResult HOST_API_CALL HostAddAnnotation(HostDocument document, std::int32_t type,
                                           std::int32_t page, std::int32_t x, std::int32_t y,
                                           HostRectShape* shape, HostAnnotation* created,
                                           void* reserved) {
  fakehost::CheckDocument(document);
  fakehost::Host& host = TheHost();
  FUZZ_CHECK(type == kRectangleAnnotation && page == host.currentPage && reserved == nullptr);
  FUZZ_CHECK(shape != nullptr && shape->size == 24 && shape->type == kRectangleAnnotation &&
             shape->reserved1 == 0 && shape->reserved2 == 0);
  FUZZ_CHECK(created != nullptr);
  HostResult result = kHostOk;
  const int call = host.callCounts[kOrdinalAddAnnotation] + 1;
  if (fakehost::Injected(kOrdinalAddAnnotation, page, result)) return result;
  const fakehost::Behaviour& behaviour = host.state.behaviour;
  fakehost::Page& target = fakehost::WorkingPage(page);
  const std::int64_t right = std::int64_t{x} + shape->width;
  const std::int64_t bottom = std::int64_t{y} + shape->height;
  const bool refused = (call <= 32 && (behaviour.refusedAdds >> (call - 1) & 1u) != 0) ||
                       shape->width < behaviour.minimumSize ||
                       shape->height < behaviour.minimumSize || shape->width < 1 ||
                       shape->height < 1 ||
                       (behaviour.refuseOffPage &&
                        (x < 0 || y < 0 || right > target.width || bottom > target.height));
  if (refused) return fakehost::Log(kOrdinalAddAnnotation, page, kHostInvalidArgument);
  fakehost::Annotation annotation;
  annotation.type = type;
  annotation.x = x;
  annotation.y = y;
  annotation.width = shape->width;
  annotation.height = shape->height;
  // The host's defaults for a new rectangle.
  annotation.hasBorder = true;
  annotation.border = 1;
  annotation.hasFill = true;
  annotation.fill = 1;
  annotation.handle = host.nextHandle++;
  target.annotations.push_back(annotation);
  *created = annotation.handle;
  return fakehost::Log(kOrdinalAddAnnotation, page, kHostOk);
}

HostResult HOST_API_CALL HostRemoveAnnotation(HostDocument document, HostAnnotation annotation,
                                              void* reserved) {
  fakehost::CheckDocument(document);
  fakehost::Host& host = TheHost();
  FUZZ_CHECK(reserved == nullptr);
  std::int32_t page = 0;
  const fakehost::Annotation* found = fakehost::FindAnnotation(annotation, &page);
  // Only the current page's keep-frames are removed, and never a mask.
  FUZZ_CHECK(found != nullptr && page == host.currentPage && fakehost::IsKeepFrame(*found));
  FUZZ_CHECK(found->original >= 0);
  HostResult result = kHostOk;
  if (fakehost::Injected(kOrdinalRemoveAnnotation, page, result)) return result;
  auto& list = fakehost::WorkingPage(page).annotations;
  list.erase(list.begin() + (found - list.data()));
  return fakehost::Log(kOrdinalRemoveAnnotation, page, kHostOk);
}

HostResult HOST_API_CALL HostSetAnnotationAttribute(HostDocument document,
                                                    HostAnnotation annotation, const char* name,
                                                    std::int32_t valueType, const void* value,
                                                    std::int32_t textCodePage, void* reserved) {
  fakehost::CheckDocument(document);
  fakehost::Host& host = TheHost();
  FUZZ_CHECK(name != nullptr && std::strcmp(name, kBorderStyleAttribute) == 0);
  FUZZ_CHECK(valueType == 0 && value != nullptr && textCodePage == 0 && reserved == nullptr);
  std::int32_t number = 0;
  std::memcpy(&number, value, sizeof number);
  FUZZ_CHECK(number == 0);
  std::int32_t page = 0;
  fakehost::Annotation* found = fakehost::FindAnnotation(annotation, &page);
  // Only the mask just added is written.
  FUZZ_CHECK(found != nullptr && page == host.currentPage && found->original < 0);
  FUZZ_CHECK(&fakehost::WorkingPage(page).annotations.back() == found);
  HostResult result = kHostOk;
  if (fakehost::Injected(kOrdinalSetAnnotationAttribute, page, result)) return result;
  found->hasBorder = true;
  found->border = number;
  return fakehost::Log(kOrdinalSetAnnotationAttribute, page, kHostOk);
}

HostResult HOST_API_CALL HostSaveDocument(HostDocument document, void* reserved) {
  fakehost::CheckDocument(document);
  FUZZ_CHECK(reserved == nullptr);
  HostResult result = kHostOk;
  if (fakehost::Injected(kOrdinalSaveDocument, 0, result)) return result;
  fakehost::Host& host = TheHost();
  host.state.saved = host.state.working;
  return fakehost::Log(kOrdinalSaveDocument, 0, kHostOk);
}

}  // extern "C"
