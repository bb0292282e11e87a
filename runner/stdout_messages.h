// The console runner's message display: each message goes to standard output
// as one line of UTF-8, in the order shown.
#pragma once

// The last message shown, as the engine passed it (code page 932), or null.
const char* LastMessageShown();
