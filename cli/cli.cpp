// The command line itself: the commands, their arguments and their help, parsed with CLI11.
// Every argument is checked here, before any command touches a file.
#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string_view>

#include "cli/commands.h"
#include "cli/session.h"
#include "platform/shared_folder.h"
#include "store/telefon.h"

namespace cli {
namespace {

constexpr const char* kDescription =
    "lindavox-prepaid - looks up, changes and checks the prepaid cards of the card store\n"
    "(PREPAID.DAT, PREPAID.BIN) in a data directory, imports card orders (PREPAID.INC) from an\n"
    "exchange directory. Safe while the card tools and the telephony server use the files.";

constexpr const char* kFooter =
    "Card numbers are written zero-padded to the width PREPAID.BIN configures.\n"
    "Exit codes: 0 done; 1 the card is missing or locked, the check found problems, or the\n"
    "import rejected lines or met a batch imported before; 2 the command line is wrong;\n"
    "3 a file could not be used or is still being written (the reason is said).";

// A decimal number of 32 bits: digits (leading zeros allowed), with a sign when `sign` is set.
// Numbers are read here rather than by the parser, which would take 010 for octal.
std::optional<int32_t> ParseNumber(std::string_view text, bool sign) {
  bool negative = false;
  if (sign && !text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

CLI::Validator NumberCheck(const char* what, bool sign, bool nonZero = false) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        const std::optional<int32_t> value = ParseNumber(text, sign);
        if (!value) {
          return std::string(sign ? "a whole number" : "digits only") + " of 32 bits, not '" +
                 text + "'";
        }
        if (nonZero && *value == 0) return "0 changes nothing";
        return "";
      },
      "", what);
}

CLI::Validator TelefonCheck(bool allowEmpty) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        if (text.empty() && allowEmpty) return "";
        if (text.empty() || !store::TelefonFits(text)) {
          return "digits only, at most 18 after leading zeros, not '" + text + "'";
        }
        return "";
      },
      "", "telephone number");
}

int32_t Number(const std::string& text) { return ParseNumber(text, true).value_or(0); }

void AddCard(CLI::App* command, std::string* card) {
  command->add_option("CARD", *card, "the card number")
      ->required()
      ->type_name("")
      ->check(NumberCheck("CARD", false));
}

void AddFormat(CLI::App* command, std::string* format) {
  command->add_option("--format", *format, "table (the default), csv or json")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->type_name("FORMAT");
}

// The help of every command (--help-all), laid out so that help2man makes a man page of it: a
// heading per command, then its usage, description, arguments and options, indented.
class AllCommandsFormatter : public CLI::Formatter {
 public:
  std::string make_expanded(const CLI::App* command) const override {
    std::string text = make_usage(command, "lindavox-prepaid " + command->get_name()) + "\n" +
                       make_description(command) + make_positionals(command) +
                       make_groups(command, CLI::AppFormatMode::Sub);
    text = CLI::detail::find_and_replace(text, "\n", "\n  ");
    return "\nCommand " + command->get_name() + ":\n  " + text.substr(0, text.size() - 2);
  }
};

Format FormatOf(const std::string& name) {
  return name == "csv" ? Format::kCsv : name == "json" ? Format::kJson : Format::kTable;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
  CLI::App app(kDescription, "lindavox-prepaid");
  app.footer(kFooter);
  std::string dataDir, exchangeDir;
  app.add_option("-d,--data-dir", dataDir,
                 "the folder of PREPAID.DAT, PREPAID.BIN, LINDAVOX.INI\n"
                 "(default: the current folder)")
      ->type_name("DIR");
  app.add_option("-x,--exchange-dir", exchangeDir,
                 "the folder of PREPAID.INC, PREPAID.TRR, PREPAID.REJ,\n"
                 "PREPAID.TXT (default: the data directory)")
      ->type_name("DIR");
  app.set_version_flag("--version", "lindavox-prepaid " LV_VERSION);
  app.set_help_all_flag("--help-all", "print the help of every command and exit");
  app.require_subcommand(1);
  app.formatter(std::make_shared<AllCommandsFormatter>());

  Session session(out, err, terminal);
  std::function<int()> command;
  std::string format = "table";
  std::string card, amount;

  CLI::App* show =
      app.add_subcommand("show",
                         "show cards: balance, telephone and last number, lock, record position;\n"
                         "exit 1 for a card that is missing or locked");
  std::vector<std::string> cards;
  show->add_option("CARD", cards, "card numbers")
      ->required()
      ->type_name("")
      ->check(NumberCheck("CARD", false));
  AddFormat(show, &format);
  show->callback([&] {
    std::vector<int32_t> numbers;
    for (const std::string& text : cards) numbers.push_back(Number(text));
    command = [&, numbers] { return Show(session, numbers, FormatOf(format)); };
  });

  CLI::App* findPhone = app.add_subcommand(
      "find-phone", "the card of a telephone number (leading zeros do not count)");
  std::string telefon;
  bool anyBalance = false;
  findPhone->add_option("NUMBER", telefon, "the telephone number")
      ->required()
      ->type_name("")
      ->check(TelefonCheck(false));
  findPhone->add_flag("--any-balance", anyBalance,
                      "find cards without units too, as the balance query does\n"
                      "(by default, as in the card editor, only cards with units)");
  AddFormat(findPhone, &format);
  findPhone->callback(
      [&] { command = [&] { return FindPhone(session, telefon, anyBalance, FormatOf(format)); }; });

  CLI::App* set = app.add_subcommand(
      "set",
      "change a card's balance or telephone number as the card editor saves them:\n"
      "the record is read again and only these fields change");
  std::string balance, newTelefon;
  AddCard(set, &card);
  CLI::Option* balanceOption = set->add_option("--balance", balance, "the new balance in units")
                                   ->check(NumberCheck("the balance", true))
                                   ->type_name("N");
  CLI::Option* phoneOption =
      set->add_option("--phone", newTelefon, "the new telephone number (\"\" removes it)")
          ->check(TelefonCheck(true))
          ->type_name("NUMBER");
  set->callback([&] {
    if (!*balanceOption && !*phoneOption)
      throw CLI::ValidationError("set", "--balance or --phone is needed");
    CardEdit edit;
    if (*balanceOption) edit.balance = Number(balance);
    if (*phoneOption) edit.telefon = newTelefon;
    command = [&, edit] { return Set(session, Number(card), edit); };
  });

  CLI::App* topup =
      app.add_subcommand("topup",
                         "add units to a card (a negative amount takes units away), creating\n"
                         "the card when it does not exist, as the import line A,CARD,AMOUNT does");
  AddCard(topup, &card);
  topup->add_option("AMOUNT", amount, "units to add")
      ->required()
      ->type_name("")
      ->check(NumberCheck("AMOUNT", true, true));
  topup->callback(
      [&] { command = [&] { return ApplyOrder(session, 'A', Number(card), Number(amount)); }; });

  struct SingleOrder {
    const char* name;
    char command;
    const char* help;
  };
  for (const SingleOrder& order :
       {SingleOrder{"lock", 'L', "lock a card, as an import line L,CARD does"},
        SingleOrder{"unlock", 'U', "unlock a card, as an import line U,CARD does"},
        SingleOrder{"empty", 'D', "set a card's balance to 0, as an import line D,CARD does"}}) {
    CLI::App* sub = app.add_subcommand(order.name, order.help);
    AddCard(sub, &card);
    const char letter = order.command;
    sub->callback([&, letter] {
      command = [&, letter] { return ApplyOrder(session, letter, Number(card)); };
    });
  }

  CLI::App* import = app.add_subcommand(
      "import",
      "apply the card orders of PREPAID.INC to PREPAID.DAT; says how many lines\n"
      "were applied, skipped and rejected (to PREPAID.REJ), and the batch markers\n"
      "(exit 1 when lines were rejected or a batch was imported before)");
  bool dryRun = false;
  import->add_flag("--dry-run", dryRun,
                   "say what the import would do, the rejected lines with their reasons,\n"
                   "and change nothing");
  import->callback([&] { command = [&] { return Import(session, dryRun);
};
}  // namespace cli
);

app.add_subcommand("export",
                   "write the card report PREPAID.TXT (the batch markers imported since the\n"
                   "last report, every card with units); says its path and what it holds")
    ->callback([&] { command = [&] { return Export(session); }; });

app.add_subcommand("reorganize",
                   "compact PREPAID.DAT: drop the cards without units; says how many cards\n"
                   "were kept and dropped (exit 3 while another program has the file open)")
    ->callback([&] { command = [&] { return Reorganize(session); }; });

CLI::App* decode = app.add_subcommand(
    "decode", "the card number of a card code, or why the code is not valid (exit 1)");
std::string code;
decode->add_option("CODE", code, "the card code")->required()->type_name("");
decode->callback([&] { command = [&] { return Decode(session, code); }; });

CLI::App* list = app.add_subcommand("list", "every card in file order, read as it is written out");
bool lockedOnly = false, emptyOnly = false;
list->add_flag("--locked", lockedOnly, "only locked cards");
list->add_flag("--empty", emptyOnly, "only cards without units");
AddFormat(list, &format);
list->callback([&] {
  command = [&] { return List(session, lockedOnly, emptyOnly, FormatOf(format)); };
});

app.add_subcommand("stats",
                   "cards, total units, locked and empty cards, trailing bytes,\n"
                   "duplicate card numbers")
    ->callback([&] { command = [&] { return Stats(session); }; });

app.add_subcommand("check",
                   "the card files' health: a length no multiple of 32, duplicate card numbers\n"
                   "(and which record wins), digit counts that do not fit their numbers, a\n"
                   "PREPAID.BIN that does not fit; exit 0 only when all is well")
    ->callback([&] { command = [&] { return Check(session); }; });

std::vector<std::string> reversed(args.rbegin(), args.rend());
try {
  app.parse(reversed);
} catch (const CLI::ParseError& e) {
  if (app.get_subcommands().empty() && !app.remaining().empty()) {
    return session.Fail(kExitUsage, "unknown command '" + app.remaining().front() +
                                        "' (see lindavox-prepaid --help)");
  }
  const int code = app.exit(e, out, err);
  return code == 0 ? kExitOk : kExitUsage;
}
if (!session.SetDirectories(dataDir, exchangeDir)) return kExitFileError;
try {
  if (!command) return kExitUsage;
  platform::TakeRefusal();  // only this command's refusals are told
  const int code = command();
  session.SayRefusal();
  return code;
} catch (const std::exception& e) {  // only memory can run out here
  return session.Fail(kExitFileError, e.what());
}
}

}  // namespace cli
