// libFuzzer target for the line editors: the bounded replacement against a plain model that
// searches from the start every round, the line-end helpers on exactly sized buffers, and the
// three file editors on arbitrary file contents against models of their results (lines in
// pieces of the editors' lengths, every byte outside a change kept).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "testsupport/fuzz_support.h"
#include "util/line_edit.h"

namespace {

using fuzz::Require;

std::string UpperAZ(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The replacement as described: search from the start, replace while the result fits.
std::string SwitchModel(std::string text, size_t capacity, const std::string& find,
                        const std::string& replacement, bool* replaced = nullptr) {
  if (replaced) *replaced = false;
  if (find == replacement) return text;
  capacity = std::min<size_t>(capacity, 2000);
  for (size_t at; (at = text.find(find)) != std::string::npos;) {
    if (text.size() + replacement.size() >= capacity + find.size()) break;
    text.replace(at, find.size(), replacement);
    if (replaced) *replaced = true;
  }
  return text;
}

void FuzzSwitch(const std::string& text, size_t extra, const std::string& find,
                const std::string& replacement) {
  const size_t capacity = text.size() + 1 + extra;
  std::unique_ptr<char[]> buffer(new char[capacity]);
  std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
  const bool replaced = CONVERT_SwitchString(buffer.get(), static_cast<uint32_t>(capacity),
                                             find.c_str(), replacement.c_str());
  if (text.size() <= 120) {
    bool modelReplaced;
    const std::string expected = SwitchModel(text, capacity, find, replacement, &modelReplaced);
    Require(expected == buffer.get(), "replacement as modelled");
    Require(replaced == modelReplaced, "result as modelled");
  }
  std::unique_ptr<char[]> line(new char[text.size() + 3]);
  std::memcpy(line.get(), text.c_str(), text.size() + 1);
  CONVERT_RemoveCRLF(line.get());
  CONVERT_AddCRLF(line.get());
}

// Lines as the first two editors read them: pieces of at most `max` characters up to a line
// end, a CR LF counting as the one character '\n'; each with its text and its bytes on disk.
struct TextPiece {
  std::string text, bytes;
};

std::vector<TextPiece> TextPieces(const std::string& bytes, size_t max) {
  std::vector<TextPiece> pieces;
  for (size_t at = 0; at < bytes.size();) {
    TextPiece piece;
    while (piece.text.size() < max && at < bytes.size()) {
      const bool pair = bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n';
      piece.bytes += bytes.substr(at, pair ? 2 : 1);
      piece.text += pair ? '\n' : bytes[at];
      at += pair ? 2 : 1;
      if (piece.text.back() == '\n') break;
    }
    pieces.push_back(piece);
  }
  return pieces;
}

// The bytes of a piece whose text was changed to `text`: every line feed written as the
// piece's own line end (a lone LF stays one; CR LF otherwise).
std::string ChangedBytes(const TextPiece& piece, const std::string& text) {
  const bool lone = piece.bytes.back() == '\n' && piece.text.size() == piece.bytes.size();
  std::string bytes;
  for (char c : text) {
    if (c == '\n' && !lone) bytes.push_back('\r');
    bytes.push_back(c);
  }
  return bytes;
}

// Lines as the removal by number reads them: pieces of at most `max` bytes, up to a line feed.
std::vector<std::string> Pieces(const std::string& text, size_t max) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at < text.size();) {
    const size_t lineFeed = text.find('\n', at);
    const size_t end =
        std::min(lineFeed == std::string::npos ? text.size() : lineFeed + 1, at + max);
    pieces.push_back(text.substr(at, end - at));
    at = end;
  }
  return pieces;
}

void FuzzFileEditors(int which, const std::string& bytes, const std::string& find,
                     const std::string& replacement, int32_t keep) {
  const std::string file = fuzz::Folder() + "file.txt";
  const std::string work = fuzz::Folder() + "file.bak";
  fuzz::WriteBytes(file, bytes);
  std::string expected;
  if (which == 0) {
    Require(CONVERT_FileReplace(file.c_str(), work.c_str(), find.c_str(), replacement.c_str()),
            "replace");
    if (find == replacement) return Require(fuzz::ReadBytes(file) == bytes, "untouched");
    for (const TextPiece& piece : TextPieces(bytes, 299)) {
      const size_t text = std::strlen(piece.text.c_str());
      const std::string changed =
          SwitchModel(piece.text.substr(0, text), 999, find, replacement) + piece.text.substr(text);
      expected += changed == piece.text ? piece.bytes : ChangedBytes(piece, changed);
    }
  } else if (which == 1) {
    std::string keyword = find;
    Require(CONVERT_RemoveLineByKeyword(file.c_str(), work.c_str(), keyword.data()), "keyword");
    for (const TextPiece& piece : TextPieces(bytes, 499)) {
      if (UpperAZ(piece.text).find(UpperAZ(find)) == std::string::npos) expected += piece.bytes;
    }
    Require(fuzz::ReadBytes(work) == bytes, "keyword removal keeps the original aside");
  } else {
    Require(CONVERT_RemoveLineByLinenumber(file.c_str(), work.c_str(), keep), "number");
    std::vector<std::string> pieces = Pieces(bytes, 25999);
    const size_t dropped = static_cast<size_t>(std::max(keep, 0));
    if (dropped < pieces.size()) pieces.erase(pieces.begin() + static_cast<ptrdiff_t>(dropped));
    for (const std::string& piece : pieces) expected += piece;
  }
  Require(fuzz::ReadBytes(file) == expected, "edited file as modelled");
  if (which != 1) Require(fuzz::ReadBytes(work) == "<missing>", "work file removed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int which = input.ConsumeIntegralInRange(0, 3);
  const size_t extra = input.ConsumeIntegralInRange<size_t>(0, 2100);
  const int32_t keep = input.ConsumeIntegralInRange<int32_t>(-2, 40);
  const std::string find = input.ConsumeRandomLengthString(8);
  const std::string replacement = input.ConsumeRandomLengthString(8);
  const std::string bytes = input.ConsumeRemainingBytesAsString();
  const std::string findText = find.c_str();
  const std::string replacementText = replacement.c_str();
  if (which == 3) {
    FuzzSwitch(bytes.c_str(), extra, findText, replacementText);
  } else {
    FuzzFileEditors(which, bytes, findText, replacementText, keep);
  }
  return 0;
}
