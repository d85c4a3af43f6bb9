// What every command of lindavox-prepaid works with: the two directories, the output streams,
// and the helpers for the texts they share.
#ifndef LINDAVOX_CLI_SESSION_H
#define LINDAVOX_CLI_SESSION_H

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "store/prepaid.h"

namespace cli {

enum class Format { kTable, kCsv, kJson };

class Session {
 public:
  Session(std::ostream& out, std::ostream& err, bool terminal)
      : out(out), err(err), terminal(terminal) {}

  // Sets both directories from the options (an empty exchange directory is the data
  // directory); false, with the reason said, when one is no folder.
  bool SetDirectories(const std::string& data, const std::string& exchange);

  const std::string& dataDir() const { return dataDir_; }
  const std::string& exchangeDir() const { return exchangeDir_; }
  std::string DataPath(const char* name) const { return dataDir_ + name; }
  std::string ExchangePath(const char* name) const { return exchangeDir_ + name; }

  // The store settings, read once (Prepaid_ReadConfig); without PREPAID.BIN the card numbers
  // have no configured width.
  const PrepaidConfig& config();
  // A card number as the store writes it: zero-padded to the configured width.
  std::string Card(int32_t number) { return CardNumberText(number, config().cardDigits); }
  static std::string CardNumberText(int32_t number, uint16_t cardDigits);

  // Opens PREPAID.DAT for reading and closes it again: 0 when the commands can use it, else
  // kExitFileError with the reason said.
  int ProbeCardFile();

  // Says "cannot use PATH: REASON" and returns kExitFileError.
  int FileError(const std::string& path, int error);
  // Says which file the rules for shared folders refused during the command, and why
  // (platform::TakeRefusal), unless FileError named it already; also after a command that went
  // on without that file (a batch marker list left for the next report).
  void SayRefusal();
  // Says `message` on the error stream, prefixed with the program's name, and returns `code`.
  int Fail(int code, const std::string& message);

  std::ostream& out;
  std::ostream& err;
  const bool terminal;

 private:
  std::string dataDir_, exchangeDir_;
  std::string named_;  // the file FileError named last
  std::optional<PrepaidConfig> config_;
};

// The system's reason for an errno value, in the words an operator understands for the sharing
// layer's own errors.
std::string Reason(const std::string& path, int error);

}  // namespace cli

#endif
