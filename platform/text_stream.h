// Text-mode streams: files with CR LF line ends on disk, seen as LF lines by the program.
//
// Reading drops the CR of every CR LF pair (a lone CR is kept) and ends at the first Ctrl-Z
// (0x1A), as the Windows C runtime does in text mode. Writing turns every LF into CR LF. The
// stream is an ordinary FILE* (glibc fopencookie), so callers use the standard stream functions
// on it. Positions (fseek, ftell) are byte offsets in the file on disk, as in the C runtime's
// text mode. The stream itself is unbuffered: reads come from the stream's own read-ahead,
// and every write call reaches the file at once. A write that fails is reported by the call
// that made it (a short count, EOF, the error indicator) and writes nothing of its text; the
// close reports it once more (EOF, errno of the failed write), since the file then lacks text.
// Reads and writes consult the fault hook of platform/fault.h.
#ifndef LINDAVOX_PLATFORM_TEXT_STREAM_H
#define LINDAVOX_PLATFORM_TEXT_STREAM_H

#include <cstdio>
#include <string>

namespace platform {

// A text-mode stream over the open descriptor `fd`, which the stream owns from then on (the
// standard close operation closes it). `mode` is a standard stream mode string; `path` names
// the file for the fault hook. Returns null with errno set on failure (`fd` then stays the
// caller's).
std::FILE* OpenTextStream(int fd, const char* mode, const std::string& path);

}  // namespace platform

#endif
