// The console runner's message display (masking::ShowMessage): each message
// goes to standard output as one line of UTF-8, in the order shown.
#pragma once

namespace runner {

// Whether some message could not be written to standard output.
bool StandardOutputFailed();

}  // namespace runner
