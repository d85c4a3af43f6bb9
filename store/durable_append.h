// Adding text to the end of a file so that it survives a power cut whole, once: the import's
// batch markers (PREPAID.TRR) and rejected lines (PREPAID.REJ).
//
// The import notes a file's size in its journal before it adds to the file. The bytes go at
// that size, whether the addition is made for the first time or again after an interruption:
// what an interrupted addition left there (all of it, a part, or bytes a power cut left torn) is
// written over, so the text is in the file exactly once. A file that has become shorter than
// the noted size meanwhile (the report took the markers and removed PREPAID.TRR, an operator
// cut PREPAID.REJ) gets the bytes at its end. Then the file is synced, and its folder when the
// file is new, so the addition is on the disk before the journal moves past it.
//
// The file is opened under the rules for shared folders (links followed only under the link
// rule, a missing file created exclusively), appending, with others allowed to read only.
#ifndef LINDAVOX_STORE_DURABLE_APPEND_H
#define LINDAVOX_STORE_DURABLE_APPEND_H

#include <sys/types.h>

#include <string>
#include <string_view>

namespace store {

// The size of the file at `path`, looked at only through links the rules for shared folders
// follow (so the journal never notes the size of a file a planted link leads to); 0 when there
// is none.
off_t SizeBeforeAppending(const std::string& path);

enum class AppendAs {
  kAsItIs,
  kOwnLine,  // after a line end: CR LF goes first where the bytes before do not end a line
};

// Puts `bytes` into the file at `path` (created when missing) at `size`, as described above.
// `*added` tells whether they were missing there. False when the file cannot be opened,
// written or synced.
bool AppendDurably(const std::string& path, off_t size, std::string_view bytes, AppendAs as,
                   bool* added);

}  // namespace store

#endif
