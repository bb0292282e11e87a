// The host's document API (xdwapi.dll) as Velumo uses it: the operations,
// the records, the result codes and the annotation facts of the boundary.
//
// The library is bound by ordinal only (hostapi/xdwapi.def, the one list of
// the ordinals); the names below are this project's own. On 32-bit Windows
// every call uses the Windows API calling convention. On Windows the module
// links the import library made from that list; everywhere else (native Linux
// builds) the same declarations link against the stand-in host in hostsim/.
//
// Every record handed to the host starts with its own size in bytes; the
// layouts are fixed by the host and checked below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hostapi/host_ordinals.h"

#if defined(_WIN32)
#define HOST_API_CALL __stdcall
#else
#define HOST_API_CALL
#endif

using HostResult = std::int32_t;
// Opaque 32-bit values handed out by the host.
using HostDocument = std::uint32_t;
using HostAnnotation = std::uint32_t;

// Result codes. Negative means failure. The pass tells these apart: the
// messages for a failing call are chosen by them, and kHostInvalidArgument
// from the add operation is the host refusing a rectangle.
constexpr HostResult kHostOk = 0;
constexpr HostResult kHostNotInstalled = static_cast<HostResult>(0x80040001u);
constexpr HostResult kHostNoRight = static_cast<HostResult>(0x80040003u);
constexpr HostResult kHostFileNotFound = static_cast<HostResult>(0x80070002u);
constexpr HostResult kHostAccessDenied = static_cast<HostResult>(0x80070005u);
constexpr HostResult kHostBadFormat = static_cast<HostResult>(0x8007000Bu);
constexpr HostResult kHostOutOfMemory = static_cast<HostResult>(0x8007000Eu);
constexpr HostResult kHostFileExists = static_cast<HostResult>(0x80070050u);
constexpr HostResult kHostInvalidArgument = static_cast<HostResult>(0x80070057u);
constexpr HostResult kHostBadName = static_cast<HostResult>(0x8007007Bu);
constexpr HostResult kHostCannotOpen = static_cast<HostResult>(0x800E0005u);
// A failure without a more precise code.
constexpr HostResult kHostFail = static_cast<HostResult>(0x80004005u);

// The rectangle annotation type: keep-frames and mask annotations are both of it.
constexpr std::int32_t kRectangleAnnotation = 0x803D;

// Integer attributes of a rectangle annotation, by the host's names (ANSI
// code page; these are plain ASCII).
inline constexpr char kBorderStyleAttribute[] = "%BorderStyle";
inline constexpr char kFillStyleAttribute[] = "%FillStyle";

// The values of those attributes that the annotation convention rests on
// (masking/keep_frame.h): a border or none, filled or not.
constexpr std::int32_t kBorderedStyle = 1;
constexpr std::int32_t kBorderlessStyle = 0;
constexpr std::int32_t kFilledStyle = 1;
constexpr std::int32_t kUnfilledStyle = 0;

// The host may refuse a rectangle annotation narrower or lower than this many
// page units, so the pass grows thinner pieces to it.
constexpr std::int32_t kMinimumRectangleSize = 300;

struct HostOpenMode {
  std::int32_t size;  // 12
  std::int32_t option1;
  std::int32_t option2;
};

struct HostDocumentInfo {
  std::int32_t size;  // 40
  std::int32_t pageCount;
  std::int32_t reserved[8];
};

struct HostPageInfo {
  std::int32_t size;  // 32
  std::int32_t width;
  std::int32_t height;
  std::int32_t reserved[4];
  std::int32_t annotationCount;
};

struct HostAnnotationInfo {
  std::int32_t size;  // 32
  HostAnnotation handle;
  std::int32_t x;
  std::int32_t y;
  std::int32_t width;
  std::int32_t height;
  std::int32_t type;
  std::int32_t reserved;
};

struct HostRectShape {
  std::int32_t size;  // 24
  std::int32_t type;
  std::int32_t reserved1;
  std::int32_t reserved2;
  std::int32_t width;
  std::int32_t height;
};

static_assert(sizeof(HostOpenMode) == 12, "open-mode record is 12 bytes");
static_assert(offsetof(HostOpenMode, option2) == 8, "open-mode layout");
static_assert(sizeof(HostDocumentInfo) == 40, "document-information record is 40 bytes");
static_assert(offsetof(HostDocumentInfo, pageCount) == 4, "page count at offset 4");
static_assert(sizeof(HostPageInfo) == 32, "page-information record is 32 bytes");
static_assert(offsetof(HostPageInfo, width) == 4, "page width at offset 4");
static_assert(offsetof(HostPageInfo, height) == 8, "page height at offset 8");
static_assert(offsetof(HostPageInfo, annotationCount) == 28, "annotation count at offset 28");
static_assert(sizeof(HostAnnotationInfo) == 32, "annotation-information record is 32 bytes");
static_assert(offsetof(HostAnnotationInfo, handle) == 4, "annotation handle at offset 4");
static_assert(offsetof(HostAnnotationInfo, x) == 8, "x at offset 8");
static_assert(offsetof(HostAnnotationInfo, y) == 12, "y at offset 12");
static_assert(offsetof(HostAnnotationInfo, width) == 16, "width at offset 16");
static_assert(offsetof(HostAnnotationInfo, height) == 20, "height at offset 20");
static_assert(offsetof(HostAnnotationInfo, type) == 24, "type at offset 24");
static_assert(sizeof(HostRectShape) == 24, "rectangle-shape record is 24 bytes");
static_assert(offsetof(HostRectShape, type) == 4, "shape type at offset 4");
static_assert(offsetof(HostRectShape, width) == 16, "shape width at offset 16");
static_assert(offsetof(HostRectShape, height) == 20, "shape height at offset 20");

extern "C" {

// 22: opens the document at `path` (ANSI code page) and stores its handle.
HostResult HOST_API_CALL HostOpenDocument(const char* path, HostDocument* document,
                                          HostOpenMode* mode);
// 23: releases the handle; unsaved changes are dropped.
HostResult HOST_API_CALL HostCloseDocument(HostDocument document, void* reserved);
// 24: fills the document-information record.
HostResult HOST_API_CALL HostGetDocumentInformation(HostDocument document, HostDocumentInfo* info);
// 25: fills the page-information record for a 1-based page number.
HostResult HOST_API_CALL HostGetPageInformation(HostDocument document, std::int32_t page,
                                                HostPageInfo* info);
// 32: writes the changes made through the handle to the document's file.
HostResult HOST_API_CALL HostSaveDocument(HostDocument document, void* reserved);
// 55: describes the annotation at a 1-based index of a page (`parent` 0: page level).
HostResult HOST_API_CALL HostGetAnnotationInformation(HostDocument document, std::int32_t page,
                                                      HostAnnotation parent, std::int32_t index,
                                                      HostAnnotationInfo* info, void* reserved);
// 56: reads an integer attribute into a buffer of `bufferSize` bytes.
HostResult HOST_API_CALL HostGetAnnotationAttribute(HostAnnotation annotation, const char* name,
                                                    void* buffer, std::int32_t bufferSize,
                                                    void* reserved);
// 64: adds an annotation of `type` at (x, y) with the shape record's size.
HostResult HOST_API_CALL HostAddAnnotation(HostDocument document, std::int32_t type,
                                           std::int32_t page, std::int32_t x, std::int32_t y,
                                           HostRectShape* shape, HostAnnotation* created,
                                           void* reserved);
// 65: removes an annotation from its page.
HostResult HOST_API_CALL HostRemoveAnnotation(HostDocument document, HostAnnotation annotation,
                                              void* reserved);
// 66: sets an integer attribute (`valueType` 0) from `value`.
HostResult HOST_API_CALL HostSetAnnotationAttribute(HostDocument document,
                                                    HostAnnotation annotation, const char* name,
                                                    std::int32_t valueType, const void* value,
                                                    std::int32_t textCodePage, void* reserved);

}  // extern "C"
