// The command line itself: the commands, their arguments and their help, parsed with CLI11.
// Every argument is checked here, before any command touches a file.
#include "cli/cli.h"

#include <grp.h>

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
    "lindavox-prepaid - looks up, changes and checks the prepaid cards of the\n"
    "card store (PREPAID.DAT, PREPAID.BIN) in a data directory, imports card\n"
    "orders (PREPAID.INC) from an exchange directory. Safe while the card tools\n"
    "and the telephony server use the files.";

constexpr const char* kFooter =
    "Options of the program may stand before or after the command.\n"
    "Card numbers are written zero-padded to the width PREPAID.BIN configures.\n"
    "Exit codes: 0 done; 1 the card is missing or locked, the check found\n"
    "problems, or the import rejected lines or met a batch imported before;\n"
    "2 the command line is wrong; 3 a file could not be used or is still being\n"
    "written (the reason is said).";

// Where the descriptions of options and commands begin: leaves them 55 columns of 80.
constexpr size_t kHelpColumn = 25;

constexpr const char* kGlobalGroup = "Options of every command";

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

CLI::Validator GroupCheck() {
  return CLI::Validator(
      [](std::string& name) -> std::string {
        return ::getgrnam(name.c_str()) ? "" : "there is no group '" + name + "'";
      },
      "", "group");
}

int32_t Number(const std::string& text) { return ParseNumber(text, true).value_or(0); }

// The options every command takes, given on the program or on the command: both bind the same
// variables, so `-d DIR show 42` and `show 42 -d DIR` mean the same (the later one wins).
struct Common {
  std::string dataDir, exchangeDir;
  Settings settings;
};

void AddCommonOptions(CLI::App* command, Common* common) {
  command
      ->add_option("-d,--data-dir", common->dataDir,
                   "the folder of PREPAID.DAT, PREPAID.BIN and\n"
                   "LINDAVOX.INI (default: the current folder)")
      ->type_name("DIR")
      ->group(kGlobalGroup);
  command
      ->add_option("-x,--exchange-dir", common->exchangeDir,
                   "the folder of PREPAID.INC, .TRR, .REJ and .TXT\n"
                   "(default: the data directory)")
      ->type_name("DIR")
      ->group(kGlobalGroup);
  command
      ->add_flag("-q,--quiet", common->settings.quiet,
                 "no report when all went well; warnings and errors\n"
                 "are still said")
      ->group(kGlobalGroup);
  command
      ->add_flag("-v,--verbose", common->settings.verbose,
                 "also say what changed nothing (an import without\n"
                 "an order file)")
      ->group(kGlobalGroup);
  command
      ->add_flag("--journal", common->settings.journal,
                 "reports and errors to the system journal (the\n"
                 "default when standard error is the journal)")
      ->group(kGlobalGroup);
}

void AddCard(CLI::App* command, std::string* card) {
  command->add_option("CARD", *card, "the card number")
      ->required()
      ->type_name("")
      ->check(NumberCheck("CARD", false));
}

// --format of the listings: table, csv or json.
void AddListFormat(CLI::App* command, std::string* format) {
  command->add_option("--format", *format, "table (the default), csv or json")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->type_name("FORMAT");
}

// --format of the reports: text or json.
void AddReportFormat(CLI::App* command, std::string* format) {
  command->add_option("--format", *format, "text (the default) or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->type_name("FORMAT");
}

void AddDryRun(CLI::App* command, bool* dryRun,
               const char* description = "say what would happen and change nothing") {
  command->add_flag("--dry-run", *dryRun, description);
}

Format FormatOf(const std::string& name) {
  return name == "csv" ? Format::kCsv : name == "json" ? Format::kJson : Format::kTable;
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

// A usage error in the words of the other errors, with where to read more.
std::string UsageError(const CLI::App& app, const CLI::ParseError& error) {
  const std::vector<CLI::App*> parsed = app.get_subcommands();
  const std::string help = parsed.empty()
                               ? " (see lindavox-prepaid --help)"
                               : " (see lindavox-prepaid " + parsed[0]->get_name() + " --help)";
  if (parsed.empty() && !app.remaining().empty()) {
    return "unknown command '" + app.remaining().front() + "'" + help;
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
    // CLI11 lists them in reverse order; they are said as they were given.
    std::string words;
    for (const std::string& word : app.remaining(true)) words += (words.empty() ? "" : " ") + word;
    return "not expected: " + words + help;
  }
  if (parsed.empty() && dynamic_cast<const CLI::RequiredError*>(&error)) {
    return "a command is needed" + help;
  }
  return error.what() + help;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal,
        bool stderrIsJournal) {
  CLI::App app(kDescription, "lindavox-prepaid");
  app.footer(kFooter);
  Common common;
  AddCommonOptions(&app, &common);
  app.set_version_flag("--version", "lindavox-prepaid " LV_VERSION);
  app.set_help_all_flag("--help-all", "print the help of every command and exit");
  app.require_subcommand(1);
  app.formatter(std::make_shared<AllCommandsFormatter>());
  app.get_formatter()->column_width(kHelpColumn);

  Session session(out, err, terminal);
  session.Configure(Settings{false, false, stderrIsJournal}, "");
  std::function<int()> command;
  bool makesFolders = false;  // init: the folders need not exist yet
  std::string format = "table";
  std::string card, amount;
  bool dryRun = false;

  const auto addCommand = [&](const char* name, const char* description) {
    CLI::App* sub = app.add_subcommand(name, description);
    AddCommonOptions(sub, &common);
    return sub;
  };

  CLI::App* show = addCommand("show",
                              "show cards: balance, telephone and last number,\n"
                              "lock, record position; exit 1 for a card that is\n"
                              "missing or locked");
  std::vector<std::string> cards;
  show->add_option("CARD", cards, "card numbers")
      ->required()
      ->type_name("")
      ->check(NumberCheck("CARD", false));
  AddListFormat(show, &format);
  show->callback([&] {
    std::vector<int32_t> numbers;
    for (const std::string& text : cards) numbers.push_back(Number(text));
    command = [&, numbers] { return Show(session, numbers, FormatOf(format)); };
  });

  CLI::App* findPhone = addCommand("find-phone",
                                   "the card of a telephone number (leading zeros do\n"
                                   "not count)");
  std::string telefon;
  bool anyBalance = false;
  findPhone->add_option("NUMBER", telefon, "the telephone number")
      ->required()
      ->type_name("")
      ->check(TelefonCheck(false));
  findPhone->add_flag("--any-balance", anyBalance,
                      "find cards without units too, as the balance\n"
                      "query does (by default, as in the card editor,\n"
                      "only cards with units)");
  AddListFormat(findPhone, &format);
  findPhone->callback(
      [&] { command = [&] { return FindPhone(session, telefon, anyBalance, FormatOf(format)); }; });

  CLI::App* set = addCommand("set",
                             "change a card's balance or telephone number as\n"
                             "the card editor saves them: the record is read\n"
                             "again and only these fields change");
  std::string balance, newTelefon;
  AddCard(set, &card);
  CLI::Option* balanceOption = set->add_option("--balance", balance, "the new balance in units")
                                   ->check(NumberCheck("the balance", true))
                                   ->type_name("N");
  CLI::Option* phoneOption =
      set->add_option("--phone", newTelefon, "the new telephone number (\"\" removes it)")
          ->check(TelefonCheck(true))
          ->type_name("NUMBER");
  AddDryRun(set, &dryRun);
  set->callback([&] {
    if (!*balanceOption && !*phoneOption)
      throw CLI::ValidationError("set", "--balance or --phone is needed");
    CardEdit edit;
    if (*balanceOption) edit.balance = Number(balance);
    if (*phoneOption) edit.telefon = newTelefon;
    command = [&, edit] { return Set(session, Number(card), edit, dryRun); };
  });

  CLI::App* topup = addCommand("topup",
                               "add units to a card (a negative amount takes\n"
                               "units away), as the import line A,CARD,AMOUNT\n"
                               "does; with --create also to a card that does not\n"
                               "exist yet");
  AddCard(topup, &card);
  topup->add_option("AMOUNT", amount, "units to add")
      ->required()
      ->type_name("")
      ->check(NumberCheck("AMOUNT", true, true));
  bool create = false;
  topup->add_flag("--create", create, "create the card with the amount when it does not\nexist");
  AddDryRun(topup, &dryRun);
  topup->callback([&] {
    command = [&] {
      return ApplyOrder(session, 'A', Number(card), Number(amount), {create, dryRun});
    };
  });

  struct SingleOrder {
    const char* name;
    char command;
    const char* help;
  };
  for (const SingleOrder& order :
       {SingleOrder{"lock", 'L', "lock a card, as an import line L,CARD does"},
        SingleOrder{"unlock", 'U', "unlock a card, as an import line U,CARD does"},
        SingleOrder{"empty", 'D',
                    "set a card's balance to 0, as an import line D,CARD\n"
                    "does"}}) {
    CLI::App* sub = addCommand(order.name, order.help);
    AddCard(sub, &card);
    AddDryRun(sub, &dryRun);
    const char letter = order.command;
    sub->callback([&, letter] {
      command = [&, letter] {
        return ApplyOrder(session, letter, Number(card), 0, {false, dryRun});
      };
    });
  }

  CLI::App* import = addCommand("import",
                                "apply the card orders of PREPAID.INC to\n"
                                "PREPAID.DAT; says how many lines were applied,\n"
                                "skipped and rejected (to PREPAID.REJ), and the\n"
                                "batch markers (exit 1 when lines were rejected\n"
                                "or a batch was imported before)");
  AddReportFormat(import, &format);
  AddDryRun(import, &dryRun,
            "say what the import would do, the lines it would\n"
            "reject with their reasons, and change nothing");
  import->callback([&] { command = [&] { return Import(session, FormatOf(format), dryRun);
};
}  // namespace cli
);

CLI::App* exportReport = addCommand("export",
                                    "write the card report PREPAID.TXT (the batch\n"
                                    "markers imported since the last report, every\n"
                                    "card with units); says its path and what it holds");
AddReportFormat(exportReport, &format);
exportReport->callback([&] { command = [&] { return Export(session, FormatOf(format)); }; });

CLI::App* reorganize = addCommand("reorganize",
                                  "compact PREPAID.DAT: drop the cards without units;\n"
                                  "says how many cards were kept and dropped (exit 3\n"
                                  "while another program has the file open)");
AddDryRun(reorganize, &dryRun);
reorganize->callback([&] { command = [&] { return Reorganize(session, dryRun); }; });

CLI::App* decode = addCommand("decode",
                              "the card number of a card code, or why the code is\n"
                              "not valid (exit 1)");
std::string code;
decode->add_option("CODE", code, "the card code")->required()->type_name("");
decode->callback([&] { command = [&] { return Decode(session, code); }; });

CLI::App* list = addCommand("list", "every card in file order, read as it is written out");
bool lockedOnly = false, emptyOnly = false;
list->add_flag("--locked", lockedOnly, "only locked cards");
list->add_flag("--empty", emptyOnly, "only cards without units");
AddListFormat(list, &format);
list->callback([&] {
  command = [&] { return List(session, lockedOnly, emptyOnly, FormatOf(format)); };
});

CLI::App* stats = addCommand("stats",
                             "cards, total units, locked and empty cards,\n"
                             "trailing bytes, duplicate card numbers");
AddReportFormat(stats, &format);
stats->callback([&] { command = [&] { return Stats(session, FormatOf(format)); }; });

CLI::App* check = addCommand("check",
                             "the card files' health: a length no multiple of\n"
                             "32, duplicate card numbers (and which record\n"
                             "wins), digit counts that do not fit their numbers,\n"
                             "a PREPAID.BIN that does not fit; exit 0 only when\n"
                             "all is well");
AddReportFormat(check, &format);
check->callback([&] { command = [&] { return Check(session, FormatOf(format)); }; });

CLI::App* init = addCommand("init",
                            "prepare the data directory named with -d (and the\n"
                            "exchange directory) for a new site: the folders,\n"
                            "setgid and writable for their group, and an empty\n"
                            "card file; what is there is kept");
std::string group;
CLI::Option* groupOption = init->add_option("--group", group,
                                            "the group that may change the cards (default:\n"
                                            "lindavox when there is such a group)")
                               ->type_name("NAME")
                               ->check(GroupCheck());
init->callback([&] {
  if (common.dataDir.empty())
    throw CLI::ValidationError("init", "name the data directory with -d DIR");
  if (!*groupOption && ::getgrnam("lindavox")) group = "lindavox";
  makesFolders = true;
  command = [&] { return Init(session, group); };
});

AddHistoryCommand(app, session, command);

std::vector<std::string> reversed(args.rbegin(), args.rend());
try {
  app.parse(reversed);
} catch (const CLI::ParseError& e) {
  if (e.get_exit_code() == 0) {  // --help, --help-all, --version
    app.exit(e, out, err);
    return kExitOk;
  }
  return session.Fail(kExitUsage, UsageError(app, e));
}
Settings settings = common.settings;
settings.journal = settings.journal || stderrIsJournal;
session.Configure(settings, app.get_subcommands().front()->get_name());
if (makesFolders) {
  session.SetDirectoriesUnchecked(common.dataDir, common.exchangeDir);
} else if (!session.SetDirectories(common.dataDir, common.exchangeDir)) {
  return kExitFileError;
}
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
