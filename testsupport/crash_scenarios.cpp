#include "testsupport/crash_scenarios.h"

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "platform/boot_id.h"
#include "platform/fault.h"
#include "platform/profile.h"
#include "store/import.h"
#include "store/order.h"
#include "store/record_update.h"
#include "store/reorganize.h"
#include "store/report.h"
#include "testsupport/card_files.h"
#include "testsupport/other_process.h"
#include "testsupport/temp_dir.h"

namespace testsupport {
namespace {

constexpr size_t kRecord = 32;

void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

// The files a scenario looks at, by name relative to its folder; a missing file is absent.
using Files = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

Files Read(const std::string& dir, const Names& names) {
  Files files;
  for (const std::string& name : names) {
    if (FileExists(dir + name)) files[name] = ReadFile(dir + name);
  }
  return files;
}

// The files after the operation ran without a power cut.
Files Uninterrupted(const CrashScenario& scenario, const Names& names) {
  TempDir dir;
  scenario.prepare(dir.path());
  scenario.operation(dir.path());
  return Read(dir.path(), names);
}

// "" when `name` is as `expected` has it (absent included), else what differs.
std::string Compare(const Files& actual, const Files& expected, const std::string& name) {
  const auto a = actual.find(name), e = expected.find(name);
  const bool hasA = a != actual.end(), hasE = e != expected.end();
  if (!hasA && !hasE) return "";
  if (hasA != hasE) return name + (hasA ? " is there" : " is missing");
  if (a->second == e->second) return "";
  return name + " holds " + std::to_string(a->second.size()) + " bytes, not the " +
         std::to_string(e->second.size()) + " expected";
}

// Where two card files first differ, record by record.
std::string CardDifference(const std::string& actual, const std::string& expected) {
  for (size_t at = 0; at < std::max(actual.size(), expected.size()); at += kRecord) {
    const std::string a = actual.substr(std::min(at, actual.size()), kRecord);
    const std::string e = expected.substr(std::min(at, expected.size()), kRecord);
    if (a == e) continue;
    const auto describe = [](const std::string& bytes) {
      if (bytes.size() < 8) return std::string("nothing");
      const auto word = [&](size_t i) {
        return static_cast<int32_t>(
            static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8 |
            static_cast<uint8_t>(bytes[i + 2]) << 16 |
            static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 3])) << 24);
      };
      return "card " + std::to_string(word(0)) + " balance " + std::to_string(word(4));
    };
    return "PREPAID.DAT record " + std::to_string(at / kRecord) + " holds " + describe(a) +
           " instead of " + describe(e);
  }
  return "";
}

std::string Join(std::initializer_list<std::string> problems) {
  std::string text;
  for (const std::string& problem : problems) {
    if (!problem.empty()) text += (text.empty() ? "" : "; ") + problem;
  }
  return text;
}

// ---- import ----

const std::vector<PrepaidCard>& ImportCards() {
  static const std::vector<PrepaidCard> cards = {
      CardBuilder(1).Balance(10).Build(), CardBuilder(2).Balance(2147483000).Build(),
      CardBuilder(3).Balance(30).Locked().Build(), CardBuilder(1).Balance(99).Build()};
  return cards;
}

// Two batches, changes, new cards, a card changed twice, a line rejected for overflow.
constexpr const char* kOrders =
    "E2\r\nA,1,5\r\nA,9,90\r\nL,1\r\nA,2,1000\r\nA,9,1\r\nU,3\r\nE3\r\nA,10,100\r\nD,3\r\n";

int32_t Import(const std::string& dir) {
  return store::Include((dir + "exchange/").c_str(), dir.c_str(), util::SplitGeneration::kCurrent);
}

// The check of an import scenario: the next import leaves the files as the uninterrupted
// operation did. A journal that a power cut left after its order file was gone belongs to no
// order file and is harmless; it is not compared.
void CheckImportAgainstUninterrupted(CrashScenario* scenario) {
  const Names names = {"PREPAID.DAT", "exchange/PREPAID.TRR", "exchange/PREPAID.REJ",
                       "exchange/PREPAID.INC"};
  const auto expected = std::make_shared<Files>(Uninterrupted(*scenario, names));
  scenario->check = [expected, names](const std::string& dir) {
    Import(dir);
    const Files after = Read(dir, names);
    return Join({CardDifference(after.count("PREPAID.DAT") ? after.at("PREPAID.DAT") : "",
                                expected->at("PREPAID.DAT")),
                 Compare(after, *expected, "exchange/PREPAID.TRR"),
                 Compare(after, *expected, "exchange/PREPAID.REJ"),
                 Compare(after, *expected, "exchange/PREPAID.INC")});
  };
}

CrashScenario ImportScenario() {
  CrashScenario scenario;
  scenario.name = "import";
  scenario.prepare = [](const std::string& dir) {
    MakeFolder(dir + "exchange");
    WriteCardFile(dir + "PREPAID.DAT", ImportCards());
    WriteFile(dir + "exchange/PREPAID.TRR", "E1\r\n");
    WriteFile(dir + "exchange/PREPAID.INC", kOrders);
  };
  scenario.operation = [](const std::string& dir) { Import(dir); };
  CheckImportAgainstUninterrupted(&scenario);
  return scenario;
}

// An import into a folder that is both the data and the exchange directory and holds only the
// order file: the card file, the marker list, the rejects and the journal are all new.
CrashScenario FirstImportScenario() {
  CrashScenario scenario;
  scenario.name = "first import";
  scenario.prepare = [](const std::string& dir) { WriteFile(dir + "PREPAID.INC", kOrders); };
  scenario.operation = [](const std::string& dir) {
    store::Include(dir.c_str(), dir.c_str(), util::SplitGeneration::kCurrent);
  };
  const Names names = {"PREPAID.DAT", "PREPAID.TRR", "PREPAID.REJ", "PREPAID.INC"};
  const auto expected = std::make_shared<Files>(Uninterrupted(scenario, names));
  scenario.check = [expected, names](const std::string& dir) {
    store::Include(dir.c_str(), dir.c_str(), util::SplitGeneration::kCurrent);
    const Files after = Read(dir, names);
    return Join({Compare(after, *expected, "PREPAID.DAT"), Compare(after, *expected, "PREPAID.TRR"),
                 Compare(after, *expected, "PREPAID.REJ"),
                 Compare(after, *expected, "PREPAID.INC")});
  };
  return scenario;
}

// The import that finishes one killed in the middle of a group's card writes, after the system
// was restarted and another program charged a card of that group: the orders of that card
// cannot be told applied and go to PREPAID.REJ, the rest of the group is finished.
CrashScenario ImportAfterKillScenario() {
  CrashScenario scenario = ImportScenario();
  scenario.name = "import after a kill";
  scenario.operation = [](const std::string& dir) {
    const platform::ScopedBootId restarted("00000000-0000-0000-0000-after0kill00");
    Import(dir);
  };
  const auto prepare = scenario.prepare;
  scenario.prepare = [prepare](const std::string& dir) {
    prepare(dir);
    const auto cardWrites = [&](platform::FileOp op, std::string_view path) {
      return op == platform::FileOp::kWrite && path == dir + "PREPAID.DAT";
    };
    if (!KilledAtStep(2, cardWrites, [&] { Import(dir); })) std::abort();
    std::vector<PrepaidCard> cards = ReadCardFile(dir + "PREPAID.DAT");
    cards[0].balance -= 4;  // a call used units of card 1 meanwhile
    WriteCardFile(dir + "PREPAID.DAT", cards);
  };
  CheckImportAgainstUninterrupted(&scenario);
  return scenario;
}

// ---- report ----

int32_t Export(const std::string& dir) {
  const PrepaidConfig config{1, 0, 5, 4};
  return store::Export((dir + "exchange/").c_str(), dir.c_str(), &config,
                       store::ReportDate::kWithSeconds);
}

CrashScenario ReportScenario() {
  CrashScenario scenario;
  scenario.name = "report";
  scenario.prepare = [](const std::string& dir) {
    MakeFolder(dir + "exchange");
    WriteCardFile(dir + "PREPAID.DAT", {CardBuilder(7).Balance(70).Build(), CardBuilder(8).Build(),
                                        CardBuilder(9).Balance(-5).Locked().Build()});
    WriteFile(dir + "exchange/PREPAID.TRR", "E5\r\nE6\r\n");
    WriteFile(dir + "exchange/PREPAID.TXT", "the previous report\r\n");
    WriteFile(dir + "exchange/.PREPAID.TXT.new", "left by an export that was killed");
  };
  scenario.operation = [](const std::string& dir) { Export(dir); };
  const std::string report =
      Uninterrupted(scenario, {"exchange/PREPAID.TXT"})["exchange/PREPAID.TXT"];
  scenario.returned = [report](const std::string& dir) -> std::string {
    return ReadFile(dir + "exchange/PREPAID.TXT") == report ? "" : "the new report is lost";
  };
  scenario.check = [report](const std::string& dir) -> std::string {
    const std::string text = ReadFile(dir + "exchange/PREPAID.TXT");
    if (text != report && text != "the previous report\r\n") {
      return "PREPAID.TXT is neither the old report nor the new one";
    }
    const std::string markers = ReadFile(dir + "exchange/PREPAID.TRR");
    for (const char* marker : {"E5\r\n", "E6\r\n"}) {
      if (text.find(marker) == std::string::npos && markers.find(marker) == std::string::npos) {
        return std::string("the batch marker ") + marker[0] + marker[1] + " is lost";
      }
    }
    if (Export(dir) != 1) return "the next export fails";
    return "";
  };
  return scenario;
}

// ---- compaction ----

CrashScenario CompactionScenario() {
  CrashScenario scenario;
  scenario.name = "compaction";
  const std::vector<PrepaidCard> cards = {
      CardBuilder(1).Balance(10).Build(), CardBuilder(2).Build(),
      CardBuilder(3).Balance(-3).Build(), CardBuilder(4).Locked().Build(),
      CardBuilder(5).Balance(50).Locked().Build()};
  scenario.prepare = [cards](const std::string& dir) {
    WriteCardFile(dir + "PREPAID.DAT", cards);
    WriteFile(dir + "PREPAID.BIN", std::string(200, 'b'));
    WriteFile(dir + "LINDAVOX.INI", "[Common]\r\nPrepaidMode=L\r\n");
    WriteFile(dir + "PREPAID.NEW", "left by a compaction that was killed");
  };
  scenario.operation = [](const std::string& dir) { store::Reorganize(dir.c_str(), nullptr); };
  const Names names = {"PREPAID.DAT", "PREPAID.BIN", "LINDAVOX.INI"};
  const auto before = std::make_shared<Files>();
  {
    TempDir dir;
    scenario.prepare(dir.path());
    *before = Read(dir.path(), names);
  }
  const auto compacted = std::make_shared<Files>(Uninterrupted(scenario, names));
  scenario.returned = [compacted](const std::string& dir) -> std::string {
    return CardDifference(ReadFile(dir + "PREPAID.DAT"), compacted->at("PREPAID.DAT"));
  };
  scenario.check = [before, compacted, names](const std::string& dir) -> std::string {
    Files now = Read(dir, names);
    if (now["PREPAID.DAT"] != before->at("PREPAID.DAT") &&
        now["PREPAID.DAT"] != compacted->at("PREPAID.DAT")) {
      return "PREPAID.DAT is neither the old card file nor the compacted one";
    }
    if (std::string other =
            Join({Compare(now, *before, "PREPAID.BIN"), Compare(now, *before, "LINDAVOX.INI")});
        !other.empty()) {
      return other;
    }
    if (store::Reorganize(dir.c_str(), nullptr) != 1) return "the next compaction fails";
    now = Read(dir, {"PREPAID.DAT", "PREPAID.NEW"});
    if (now.count("PREPAID.NEW")) return "PREPAID.NEW stays after the next compaction";
    return CardDifference(now["PREPAID.DAT"], compacted->at("PREPAID.DAT"));
  };
  return scenario;
}

// ---- record update ----

CrashScenario RecordUpdateScenario() {
  CrashScenario scenario;
  scenario.name = "record update";
  const std::vector<PrepaidCard> cards = {CardBuilder(1).Balance(10).Build(),
                                          CardBuilder(2).Balance(20).Telefon("0301234").Build(),
                                          CardBuilder(3).Balance(30).Build()};
  scenario.prepare = [cards](const std::string& dir) { WriteCardFile(dir + "PREPAID.DAT", cards); };
  // A save of the card editor (one record changed in place), then a top-up that creates a card.
  scenario.operation = [](const std::string& dir) {
    store::UpdateCard(dir.c_str(), 1, 2, [](PrepaidCard* card) {
      card->balance = 25;
      card->telefonLow = 7654321;
      return true;
    });
    store::ApplyOneOrder(dir.c_str(), store::Order{'A', 4, 40});
  };
  std::string old;
  for (const PrepaidCard& card : cards) old += CardBytes(card);
  const std::string updated = Uninterrupted(scenario, {"PREPAID.DAT"})["PREPAID.DAT"];
  scenario.check = [old, updated](const std::string& dir) -> std::string {
    const std::string now = ReadFile(dir + "PREPAID.DAT");
    if (now.size() != old.size() && now.size() != updated.size()) {
      return "PREPAID.DAT holds " + std::to_string(now.size()) + " bytes";
    }
    for (size_t at = 0; at < now.size(); at += kRecord) {
      const std::string record = now.substr(at, kRecord);
      if (record != old.substr(std::min(at, old.size()), kRecord) &&
          record != updated.substr(at, kRecord)) {
        return "record " + std::to_string(at / kRecord) + " is neither the old nor the new one";
      }
    }
    return "";
  };
  return scenario;
}

// ---- INI writes ----

CrashScenario IniScenario() {
  CrashScenario scenario;
  scenario.name = "ini write";
  scenario.prepare = [](const std::string& dir) {
    WriteFile(dir + "LINDAVOX.INI", "; settings\r\n[Common]\r\nPrepaidMode=L\r\nLanguage=x\r\n");
  };
  // A key changed in the data folder's INI file, then the first write of a user profile, whose
  // folder does not exist yet.
  scenario.operation = [](const std::string& dir) {
    platform::WriteProfileString("Common", "Language", "english", (dir + "LINDAVOX.INI").c_str());
    ::setenv("LINDAVOX_CONFIG_DIR", (dir + "config/").c_str(), 1);
    platform::WriteUserProfileString("Lindavox", "quillet_pos", "1,2,3,4");
    ::unsetenv("LINDAVOX_CONFIG_DIR");
  };
  const Names names = {"LINDAVOX.INI", "config/win.ini"};
  const auto before = std::make_shared<Files>();
  {
    TempDir dir;
    scenario.prepare(dir.path());
    *before = Read(dir.path(), names);
  }
  const auto after = std::make_shared<Files>(Uninterrupted(scenario, names));
  scenario.returned = [after, names](const std::string& dir) -> std::string {
    const Files now = Read(dir, names);
    for (const std::string& name : names) {
      if (!Compare(now, *after, name).empty()) return "the write of " + name + " is lost";
    }
    return "";
  };
  scenario.check = [before, after, names](const std::string& dir) -> std::string {
    const Files now = Read(dir, names);
    for (const std::string& name : names) {
      if (!Compare(now, *before, name).empty() && !Compare(now, *after, name).empty()) {
        return name + " is neither the old file nor the new one";
      }
    }
    return "";
  };
  return scenario;
}

}  // namespace

std::vector<CrashScenario> StoreCrashScenarios() {
  return {ImportScenario(), FirstImportScenario(), ImportAfterKillScenario(),
          ReportScenario(), CompactionScenario(),  RecordUpdateScenario(),
          IniScenario()};
}

}  // namespace testsupport
