// Whole-file code-page conversions: the source is read in blocks of 500 bytes, each block is
// converted and written to the destination, so no file is ever held in memory.
//
// The source is opened first, so a missing source never touches the destination. The
// destination is opened like the C runtime's "wb" (created or emptied, nobody else may use it
// meanwhile); since the source's own open shares only reading, converting a file onto itself is
// refused by the sharing check before anything is emptied. What this call cannot finish, it
// does not leave behind: a destination it created but could not open, or whose conversion a
// failed read or write broke off, is removed, so an incomplete copy never passes for a
// converted file.
#include <string>

#include "platform/c_boundary.h"
#include "platform/file_io.h"
#include "platform/share.h"
#include "util/block_copy.h"
#include "util/convert.h"
#include "util/file_open_internal.h"

namespace {

constexpr size_t kBlockSize = 500;

void ConvertFile(const char* destination, const char* source, void (*convert)(char*, int32_t)) {
  if (!destination || !source) return;
  platform::CallNoThrow(false, [&] {
    platform::SharedFile in;
    if (util::OpenAsFopen(source, "rb", false, &in) != 0) return false;
    const bool existed = platform::PathExists(destination);
    platform::SharedFile out;
    if (util::OpenAsFopen(destination, "wb", false, &out) != 0) {
      if (!existed) platform::RemoveShared(destination);
      return false;
    }
    off_t written = 0;
    const bool copied = util::CopyBlocks(
        in, 0, -1, out, &written, kBlockSize,
        [convert](char* data, size_t size) { convert(data, static_cast<int32_t>(size)); });
    if (copied && out.Close() == 0) return true;
    out.Close();
    platform::RemoveShared(destination);
    return false;
  });
}

}  // namespace

void CONVERT_File_Ansi2Dos(const char* destination, const char* source) {
  ConvertFile(destination, source, CONVERT_Ansi2Ibm);
}

void CONVERT_File_Dos2Ansi(const char* destination, const char* source) {
  ConvertFile(destination, source, CONVERT_Ibm2Ansi);
}
