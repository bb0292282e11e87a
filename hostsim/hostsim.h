// The stand-in host: the ten functions of hostapi/host_api.h over documents
// held in memory from the open call to the close call, with the host's
// behaviour for each document (hostsim/document.h), failure injection and a
// log of the calls. Documents come from and go to the store the build links
// (hostsim/document_store.h): JSON files, or memory in the fuzz targets.
//
// The stand-in is single-threaded, like the pass that drives it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostapi/host_api.h"

namespace hostsim {

// The styles a rectangle annotation that the add call makes starts with: a
// border and a fill. The pass changes the border alone, so its masks keep
// this fill.
constexpr std::int32_t kNewRectangleBorderStyle = kBorderedStyle;
constexpr std::int32_t kNewRectangleFillStyle = kFilledStyle;

// One call into the host API, as the caller made it.
struct RecordedCall {
  int ordinal = 0;
  // The arguments in order, except the record pointer and the string. Other
  // pointers are logged as 0 (null) or 1, except the value of ordinal 66,
  // which is logged as the 32-bit integer it points to (0 if null):
  //   22 {handle pointer}            23 {document, reserved}
  //   24 {document}                  25 {document, page}
  //   32 {document, reserved}        55 {document, page, parent, index, reserved}
  //   56 {annotation, bufferSize, reserved}
  //   64 {document, type, page, x, y, created pointer, reserved}
  //   65 {document, annotation, reserved}
  //   66 {document, annotation, valueType, value, textCodePage, reserved}
  std::vector<std::int64_t> args;
  // The 32-bit words of the record as passed in, before the host wrote to it
  // (22: open mode, 24: document information, 25: page information,
  // 55: annotation information, 64: rectangle shape); empty if none or null.
  std::vector<std::int32_t> record;
  // The same record as the call left it.
  std::vector<std::int32_t> recordAfter;
  // The path (22) or attribute name (56, 66) as passed, else empty.
  std::string text;
  // The handle stored by a successful 22 or 64, else 0.
  std::uint32_t handleOut = 0;
  // The page (1-based) and the annotation's index on it (1-based) that the
  // call concerned, where the host knows them; else 0.
  std::int32_t page = 0;
  std::int32_t annotation = 0;
  std::int32_t result = 0;
};

// A call that failed, for diagnostics.
struct CallFailure {
  int ordinal = 0;
  std::string hostPath;         // the document's path as passed to the open call, if known
  std::int32_t page = 0;        // as in RecordedCall
  std::int32_t annotation = 0;  // as in RecordedCall
  std::string attribute;        // the attribute name (56, 66) as passed
  HostResult result = 0;
  std::string reason;  // why, in the system's words, where the host knows more
};

// From now on calls `reporter` (if not null) for every failing call, except
// an add the host refuses (the pass reports those pages itself).
void ReportFailuresTo(void (*reporter)(const CallFailure& failure));

// Turns call logging on or off (on by default).
void SetRecording(bool on);
// The logged calls since the last Reset(), oldest first.
const std::vector<RecordedCall>& Calls();
// Closes every open document without saving, clears the log and the call
// counts; the recording setting stays as it is. Handles are never reused,
// not even after a reset.
void Reset();
// Number of documents currently open.
int OpenHandleCount();

}  // namespace hostsim

// The same controls by name, for programs that load the stand-in as a DLL.
extern "C" {
// Calls of `ordinal` since the last reset (counted whether or not logging is on).
int HostSimCallCount(int ordinal);
int HostSimOpenHandleCount();
void HostSimReset();
// SetRecording.
void HostSimSetRecording(int on);

// A CallFailure in plain C, for a reporter in another module: the strings are
// valid during the report only and never null ("" where CallFailure's are
// empty).
struct HostSimFailure {
  int ordinal;
  const char* hostPath;
  std::int32_t page;
  std::int32_t annotation;
  const char* attribute;
  HostResult result;
  const char* reason;
};
// ReportFailuresTo, with the failure in that form.
void HostSimReportFailuresTo(void (*reporter)(const HostSimFailure* failure));
}
