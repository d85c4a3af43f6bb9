// lindavox-prepaid history: the card history (store/card_history.h) of one card or of all,
// oldest first, the rotated generation PREPAID.HIS.1 included.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "cli/cli.h"
#include "cli/commands.h"
#include "platform/time_zone.h"
#include "store/card_history.h"

namespace cli {
namespace {

// A moment as the operator types it, local time: 2026-03-05, 2026-03-05 14:30 or
// 2026-03-05T14:30:15.
std::optional<int64_t> ParseSince(const std::string& text) {
  platform::CalendarTime local;
  char separator = 0;
  int consumed = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%n%c%2d:%2d%n:%2d%n", &local.year,
                                 &local.month, &local.day, &consumed, &separator, &local.hour,
                                 &local.minute, &consumed, &local.second, &consumed);
  const bool whole = static_cast<size_t>(consumed) == text.size();
  if (!whole || (fields != 3 && fields != 6 && fields != 7) ||
      (fields > 3 && separator != ' ' && separator != 'T') || local.month < 1 || local.month > 12 ||
      local.day < 1 || local.day > 31 || local.hour > 23 || local.minute > 59 ||
      local.second > 59) {
    return std::nullopt;
  }
  return platform::FromLocalTime(local);
}

std::optional<int32_t> ParseCard(const std::string& text) {
  int32_t card = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), card);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() || card < 0) {
    return std::nullopt;
  }
  return card;
}

// The time of an entry as it was on the clock where it was made.
std::string LocalTimeText(const store::HistoryEntry& entry) {
  const platform::CalendarTime t =
      platform::ToUtcTime(entry.time + entry.offset).value_or(platform::CalendarTime{});
  const int minutes = (entry.offset < 0 ? -entry.offset : entry.offset) / 60;
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02d:%02d", t.year, t.month,
                t.day, t.hour, t.minute, t.second, entry.offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

class HistoryTable {
 public:
  HistoryTable(Session& session, Format format) : session_(session), format_(format) {}

  void Write(const store::HistoryEntry& e) {
    std::ostream& out = session_.out;
    const std::string card = session_.Card(e.card);
    switch (format_) {
      case Format::kCsv:
        if (count_ == 0) {
          out << "time,user,program,detail,card,balance_before,balance_after,locked_before,"
                 "locked_after,phone_changed,phone\n";
        }
        out << LocalTimeText(e) << ',' << CsvField(e.user) << ',' << CsvField(e.program) << ','
            << CsvField(e.detail) << ',' << card << ',' << e.balanceBefore << ',' << e.balanceAfter
            << ',' << e.lockedBefore << ',' << e.lockedAfter << ',' << e.phoneChanged << ','
            << CsvField(e.phone) << '\n';
        break;
      case Format::kJson: {
        const nlohmann::json object = {{"time", LocalTimeText(e)},
                                       {"user", e.user},
                                       {"program", e.program},
                                       {"detail", e.detail},
                                       {"card", e.card},
                                       {"balance_before", e.balanceBefore},
                                       {"balance_after", e.balanceAfter},
                                       {"locked_before", e.lockedBefore},
                                       {"locked_after", e.lockedAfter},
                                       {"phone_changed", e.phoneChanged},
                                       {"phone", e.phone}};
        out << (count_ == 0 ? "[\n  " : ",\n  ")
            << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        break;
      }
      case Format::kTable: {
        if (count_ == 0) {
          WriteRow("time", "user", "program", "detail", "card", "balance", "lock", "phone");
        }
        const std::string balance =
            e.balanceBefore == e.balanceAfter
                ? std::to_string(e.balanceAfter)
                : std::to_string(e.balanceBefore) + " -> " + std::to_string(e.balanceAfter);
        const char* lock = e.lockedBefore == e.lockedAfter ? (e.lockedAfter ? "locked" : "")
                           : e.lockedAfter                 ? "locked now"
                                                           : "unlocked now";
        const std::string phone =
            e.phoneChanged ? (e.phone.empty() ? "changed" : "now " + e.phone) : "";
        WriteRow(LocalTimeText(e), e.user, e.program, e.detail, card, balance, lock, phone);
        break;
      }
    }
    ++count_;
  }

  void Finish() {
    if (format_ == Format::kJson) session_.out << (count_ == 0 ? "[]\n" : "\n]\n");
  }

 private:
  void WriteRow(const std::string& time, const std::string& user, const std::string& program,
                const std::string& detail, const std::string& card, const std::string& balance,
                const std::string& lock, const std::string& phone) {
    char row[512];
    std::snprintf(row, sizeof row, "%-26s %-10s %-10s %-22s %10s %21s  %-12s %s", time.c_str(),
                  user.c_str(), program.c_str(), detail.c_str(), card.c_str(), balance.c_str(),
                  lock.c_str(), phone.c_str());
    std::string line = row;
    line.erase(line.find_last_not_of(' ') + 1);
    session_.out << line << '\n';
  }

  Session& session_;
  const Format format_;
  int64_t count_ = 0;
};

}  // namespace

int History(Session& session, std::optional<int32_t> card, std::optional<int64_t> since,
            Format format) {
  HistoryTable table(session, format);
  int64_t unreadable = 0;
  const int error = store::ReadHistoryLines(session.dataDir().c_str(), [&](std::string_view line) {
    store::HistoryEntry entry;
    if (!store::ParseHistoryLine(line, &entry)) {
      unreadable += !line.empty() && line.rfind("time;", 0) != 0;
      return true;
    }
    if ((!card || entry.card == *card) && (!since || entry.time >= *since)) table.Write(entry);
    return true;
  });
  table.Finish();
  if (error != 0) return session.FileError(session.DataPath(store::kHistoryName), error);
  if (unreadable > 0) {
    session.err << "lindavox-prepaid: " << unreadable << " lines of "
                << session.DataPath(store::kHistoryName) << " are no history lines\n";
  }
  return kExitOk;
}

void AddHistoryCommand(CLI::App& app, Session& session, std::function<int()>& command) {
  CLI::App* history = app.add_subcommand("history",
                                         "the card history: changes of a card or of all cards,\n"
                                         "oldest first: when, who, from where, before and after");
  struct Options {
    std::string card, since, format = "table";
  };
  auto options = std::make_shared<Options>();
  history->add_option("CARD", options->card, "a card number")
      ->type_name("")
      ->check(CLI::Validator(
          [](std::string& text) {
            return ParseCard(text) ? std::string() : text + " is no card number";
          },
          "", ""));
  history->add_option("--since", options->since, "only changes from this local time on")
      ->type_name("DATE")
      ->check(CLI::Validator(
          [](std::string& text) {
            return ParseSince(text)
                       ? std::string()
                       : "--since: " + text + " is no date (2026-03-05, 2026-03-05 14:30[:15])";
          },
          "", ""));
  history->add_option("--format", options->format, "table, csv or json (default: table)")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  history->callback([&session, &command, options] {
    std::optional<int32_t> card;
    if (!options->card.empty()) card = ParseCard(options->card);
    std::optional<int64_t> since;
    if (!options->since.empty()) since = ParseSince(options->since);
    const Format format = options->format == "csv"    ? Format::kCsv
                          : options->format == "json" ? Format::kJson
                                                      : Format::kTable;
    command = [&session, card, since, format] { return History(session, card, since, format); };
  });
}

}  // namespace cli
