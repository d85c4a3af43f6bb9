// What every command of lindavox-prepaid works with: the two directories, the output streams,
// the options every command takes, and the helpers for the texts they share.
//
// Where things go. Data a command was asked for (a card, a listing, the survey of stats and
// check) goes to standard output. What a command did goes to standard output as a report for
// people, or as JSON with --format json; errors go to standard error, each line beginning with
// the program's name. In journal mode (--journal, or standard error being the journal stream
// of a systemd unit) reports and errors go to the system journal instead, as one entry each,
// with a priority and fields an operator can filter on; when the journal cannot be reached they
// are said on the streams as usual. --quiet leaves out the reports, but not their warnings.
#ifndef LINDAVOX_CLI_SESSION_H
#define LINDAVOX_CLI_SESSION_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/journal.h"
#include "platform/shared_folder.h"
#include "store/prepaid.h"

namespace cli {

enum class Format { kTable, kCsv, kJson };

// The options every command takes.
struct Settings {
  bool quiet = false;    // no reports when all went well
  bool verbose = false;  // also say what changed nothing (an import without an order file)
  bool journal = false;  // reports and errors to the system journal
};

// One journal entry beside a report's own.
struct JournalNote {
  std::string message;
  std::vector<platform::JournalField> fields;
};

// What a command has to say about what it did.
struct Report {
  std::string text;             // for people: whole lines, each ending in '\n'
  nlohmann::ordered_json json;  // the same for programs (--format json)
  std::string summary;          // the journal entry's message: one line
  platform::Priority priority = platform::Priority::kInfo;
  std::vector<platform::JournalField> fields;  // the entry's own fields
  std::vector<std::string> warnings;           // what --quiet still says, on standard error
  std::vector<JournalNote> notes;              // entries before the summary's, at its priority
};

class Session {
 public:
  Session(std::ostream& out, std::ostream& err, bool terminal)
      : out(out), err(err), terminal(terminal) {}

  // Sets both directories from the options (an empty exchange directory is the data
  // directory); false, with the reason said, when one is no folder.
  bool SetDirectories(const std::string& data, const std::string& exchange);
  // The same without looking at them, for a command that makes them.
  void SetDirectoriesUnchecked(const std::string& data, const std::string& exchange);

  void Configure(const Settings& settings, const std::string& command) {
    settings_ = settings;
    command_ = command;
  }
  const Settings& settings() const { return settings_; }

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
  // Why `path` could not be used: in the words of the rules for shared folders when they
  // refused it during the command, else Reason(path, error). The file counts as named, so
  // SayRefusal does not name it again.
  std::string Why(const std::string& path, int error);
  // Says which file the rules for shared folders refused during the command, and why
  // (platform::TakeRefusal), unless FileError or Why named it already; also after a command
  // that went on without that file (a batch marker list left for the next report).
  void SayRefusal();
  // Says `message` as an error (on the error stream, prefixed with the program's name, or in
  // the journal) and returns `code`. `fields` go into the journal entry.
  int Fail(int code, const std::string& message,
           const std::vector<platform::JournalField>& fields = {});
  // Says what a command did, as the settings and `format` ask (see the top of this file).
  void Present(const Report& report, Format format = Format::kTable);

  std::ostream& out;
  std::ostream& err;
  const bool terminal;

 private:
  // Sends one journal entry with the command's own fields added; false when it could not be
  // delivered.
  bool Log(platform::Priority priority, const std::string& message,
           std::vector<platform::JournalField> fields);
  // The latest refusal under the rules for shared folders since the command began.
  const std::optional<platform::Refusal>& Refusal();

  std::string dataDir_, exchangeDir_;
  std::string named_;                         // the file FileError or Why named last
  std::optional<platform::Refusal> refusal_;  // the latest refusal of the command
  std::optional<PrepaidConfig> config_;
  Settings settings_;
  std::string command_;
};

// The system's reason for an errno value, in the words an operator understands for the sharing
// layer's own errors.
std::string Reason(const std::string& path, int error);

// A journal field of a number.
platform::JournalField Field(const char* name, int64_t value);

// Marks the report of a dry run as such: in its journal entry (message and LINDAVOX_DRY_RUN) and
// its JSON ("dry_run"). The text for people says it in each command's own words.
void MarkDryRun(Report* report);

}  // namespace cli

#endif
