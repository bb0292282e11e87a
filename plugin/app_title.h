// The application title: the caption of every message box the module shows.
// Portable: the Windows layer passes in its own module path and the lead-byte
// test of the ANSI code page.
#pragma once

#include <cstddef>

// True when `byte` starts a two-byte character in the path's code page.
using LeadByteTest = bool (*)(unsigned char byte);

// Writes the file name of `path` without its directory and its extension
// (the part from the last dot of the file name on) to `title`, a buffer of
// `titleSize` bytes, NUL-terminated and cut short at a character boundary if
// it does not fit. Both '\\' and '/' separate directories. The second byte of
// a two-byte character (which may equal '\\', '/' or '.') is never taken for
// a separator or a dot. A null path gives an empty title.
void ApplicationTitleFromPath(const char* path, LeadByteTest isLeadByte, char* title,
                              std::size_t titleSize);
