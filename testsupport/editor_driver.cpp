// editor_driver: the card editor's search-edit-save cycle, run on the headless backend as an
// operator would run it, over and over, for soak tests.
//
//   editor_driver DATADIR --log FILE [--cards FIRST-LAST] [--rate SAVES_PER_SECOND]
//                 [--seconds N] [--seed N] [--think MS]
//
// Each round types a random card number into the search dialog and presses Enter. In the card
// data dialog it waits a moment (an operator reading; up to --think ms), adds a small amount to
// the balance shown or changes the telephone number between the card's two soak numbers
// ("0" and 300000000 + card, "0" and 400000000 + card), and presses Enter. The message box tells
// the outcome; each is appended to the log as one line:
//
//   saved <card> <units added>    (0 when only the telephone number was changed)
//   refused <card>                (the not-saved box: nothing was written)
//   missing <card>                (the not-found box)
//
// A line is written only after the box was shown, so the log never claims a save that did not
// happen. SIGTERM or SIGINT ends the program after the round in progress.
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "lang/lang.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"
#include "ui/headless/headless.h"
#include "vantor/vantor.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void Stop(int) { g_stop = 1; }

constexpr const char* kSaved = "Kartendaten erfolgreich gespeichert";
constexpr const char* kNotFound = "Kartennummer ung\xfcltig oder Karte leer";

struct Options {
  std::string log;
  int32_t first = 1, last = 100;
  double rate = 2;
  double seconds = 0;
  unsigned seed = 1;
  int thinkMs = 100;
};

void Sleep(double seconds) {
  if (seconds <= 0) return;
  const auto ns = static_cast<long long>(seconds * 1e9);
  const struct timespec pause {
    static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)
  };
  nanosleep(&pause, nullptr);
}

class Driver {
 public:
  Driver(const Options& options, ui::HeadlessBackend* backend, int log)
      : options_(options), backend_(backend), log_(log), random_(options.seed) {}

  void Run(App& app);

 private:
  void Round(TDialog& search);
  void Log(const char* kind, int32_t card, long units);

  const Options& options_;
  ui::HeadlessBackend* backend_;
  int log_;
  std::mt19937 random_;
};

void Driver::Log(const char* kind, int32_t card, long units) {
  char line[64];
  const int length = units == LONG_MIN
                         ? std::snprintf(line, sizeof line, "%s %d\n", kind, card)
                         : std::snprintf(line, sizeof line, "%s %d %ld\n", kind, card, units);
  if (!platform::WriteAll(log_, line, static_cast<size_t>(length), options_.log)) {
    std::fprintf(stderr, "editor_driver: cannot write the log %s\n", options_.log.c_str());
    std::exit(3);
  }
}

void Driver::Round(TDialog& search) {
  const int32_t card =
      std::uniform_int_distribution<int32_t>(options_.first, options_.last)(random_);
  const bool changeBalance = std::uniform_int_distribution<int>(0, 3)(random_) != 0;
  const long added = std::uniform_int_distribution<int>(1, 50)(random_);
  long shownBalance = 0;
  backend_->QueueDialogScript([&](TDialog& dialog) {
    Sleep(std::uniform_int_distribution<int>(0, options_.thinkMs)(random_) / 1000.0);
    auto& balance = *static_cast<TEdit*>(dialog.ChildWithId(436));
    auto& telefon = *static_cast<TEdit*>(dialog.ChildWithId(435));
    shownBalance = std::strtol(dialog.ChildWithId(433)->GetText().c_str(), nullptr, 10);
    TEdit& field = changeBalance ? balance : telefon;
    std::string text;
    if (changeBalance) {
      text = std::to_string(shownBalance + added);
    } else {
      const bool first = telefon.GetText() != "0" + std::to_string(300000000 + card);
      text = "0" + std::to_string((first ? 300000000 : 400000000) + card);
    }
    field.SetFocus();
    field.SetSelection(0, -1);
    backend_->Type(text);
    backend_->PressEnter();
  });
  backend_->ClearMessageBoxes();
  auto& number = *static_cast<TEdit*>(search.ChildWithId(133));
  number.SetText("");
  backend_->TypeInto(number, std::to_string(card));
  backend_->PressEnter();
  if (backend_->MessageBoxes().size() != 1) {
    std::fprintf(stderr, "editor_driver: no message box for card %d\n", card);
    std::exit(3);
  }
  const std::string& text = backend_->MessageBoxes()[0].text;
  if (text == kSaved) {
    Log("saved", card, changeBalance ? added : 0);
  } else if (text == kNotFound) {
    Log("missing", card, LONG_MIN);
  } else {
    Log("refused", card, LONG_MIN);
  }
}

void Driver::Run(App& app) {
  backend_->SetLoopScript([&] {
    backend_->AdvanceTime(200);  // the start-up timer shows the main window
    TFrameWindow& frame = *app.GetMainWindow();
    TDialog& search = *static_cast<TDialog*>(frame.GetClientWindow());
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(options_.seconds));
    std::exponential_distribution<double> gap(options_.rate);
    while (!g_stop && (options_.seconds <= 0 || std::chrono::steady_clock::now() < end)) {
      Round(search);
      Sleep(gap(random_));
    }
    backend_->Close(frame);
  });
  app.Run();
}

bool ParseOptions(int argc, char** argv, Options* options) {
  if (argc < 2 || argv[1][0] == '-') return false;
  std::snprintf(DataDir, sizeof DataDir, "%s%s", argv[1],
                argv[1][std::strlen(argv[1]) - 1] == '/' ? "" : "/");
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--log") {
      options->log = value;
    } else if (name == "--cards") {
      if (std::sscanf(value, "%d-%d", &options->first, &options->last) != 2) return false;
    } else if (name == "--rate") {
      options->rate = std::atof(value);
    } else if (name == "--seconds") {
      options->seconds = std::atof(value);
    } else if (name == "--seed") {
      options->seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
    } else if (name == "--think") {
      options->thinkMs = std::atoi(value);
    } else {
      return false;
    }
  }
  return argc % 2 == 0 && !options->log.empty() && options->rate > 0 &&
         options->first <= options->last && options->thinkMs >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: editor_driver DATADIR --log FILE [--cards FIRST-LAST] "
                 "[--rate SAVES_PER_SECOND] [--seconds N] [--seed N] [--think MS]\n");
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = Stop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  platform::UniqueFd log(
      open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!log) {
    std::perror(options.log.c_str());
    return 3;
  }
  ui::HeadlessBackend& backend = ui::HeadlessBackend::Install();
  App app;
  LS_init("Lindavox", DataDir, "LX", nullptr, 0, 0);
  Driver(options, &backend, log.get()).Run(app);
  return 0;
}
