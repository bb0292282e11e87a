// The runner's account of host calls that failed: one line on standard error
// for each, naming the document, the call, the page and annotation, and the
// system's reason where there is one. The plug-in's own messages say less,
// and nothing at all about some failures (attribute reads and writes,
// removals, adds).
#pragma once

#include <string>

#include "hostsim/hostsim.h"

namespace runner {

// "velumo: doc.json: page 2, annotation 5: reading attribute %FillStyle
// failed (0x80004005)", with ": reason" after it where the host gave one.
std::string DescribeFailure(const hostsim::CallFailure& failure);

// Prints DescribeFailure's line to standard error; for hostsim::ReportFailuresTo.
void PrintFailure(const hostsim::CallFailure& failure);

}  // namespace runner
