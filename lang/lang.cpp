// LS_init, LS_isActive, LSS and LS_Help: the module state and the lookups.
#include "lang/lang.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include "lang/lang_internal.h"
#include "platform/ansi_case.h"
#include "platform/c_boundary.h"
#include "platform/dir_search.h"
#include "platform/file_io.h"
#include "platform/profile.h"

namespace lang {
namespace {

constexpr const char* kBuiltInLanguage = "<deutsch>";
constexpr size_t kNameSize = 260;  // room for a language name read from a profile
constexpr size_t kHelpSize = 10;   // "Common"/"Help": only its first character is used
constexpr int32_t kInfoId = 9999;  // the one id whose key is a word
constexpr int kSharedSlot = 3;     // the result buffer of every slot other than 2, 3 and 4

// Valid from one LS_init to the next; `helpLetter` is 0 whenever `active` is false.
struct State {
  bool active = false;
  std::string path;  // the language file in use
  char helpLetter = 0;
};

State g_state;
char g_results[4][kMaxText + 1];
std::string g_helpName;

char* ResultBuffer(int32_t slot) {
  return g_results[slot >= 2 && slot <= 4 ? slot - 2 : kSharedSlot];
}

// The language of the alphabetically first language file in `directory` (the order NTFS
// lists a folder in, so the pick does not depend on the file system), or nullopt.
std::optional<std::string> FirstLanguageFile(const char* directory, const char* extension) {
  std::optional<std::string> first;
  platform::DirSearch search;
  const std::string pattern = std::string(directory) + "*." + extension;
  for (bool found = search.First(pattern); found; found = search.Next()) {
    const std::string& file = search.entry().name;
    // Everything before the extension, so "a.b.LX" gives "a.b", whose file is "a.b.LX" again.
    const std::string name = file.substr(0, file.rfind('.'));
    if (CanNameFile(name) && (!first || name < *first)) first = name;
  }
  return first;
}

// The language file "<name>.<extension>" in `directory` written in another case ("English" for
// english.LX), as Windows finds it; of several, the first by name. nullopt when there is none.
std::optional<std::string> FileIgnoringCase(const char* directory, const std::string& file) {
  std::optional<std::string> first;
  platform::DirSearch search;
  for (bool found = search.First(std::string(directory) + "*"); found; found = search.Next()) {
    const std::string& name = search.entry().name;
    if (platform::AnsiEqualIgnoreCase(name, file) && (!first || name < *first)) first = name;
  }
  if (!first) return std::nullopt;
  return FileInDirectory(directory, *first);
}

// The operator's choice from the user profile, else the product configuration's; with
// `autoPick`, a folder's language file stands in for the built-in texts when no choice was
// ever stored.
std::string ConfiguredLanguage(const char* directory, const char* extension, bool autoPick) {
  char configured[kNameSize];
  const std::string productIni = FileInDirectory(directory, "LINDAVOX.INI");
  platform::ReadProfileString("Common", "Language", kBuiltInLanguage, configured, sizeof configured,
                              productIni.c_str());
  char name[kNameSize];
  platform::ReadUserProfileString("Tarnwell", "Language", configured, name, sizeof name);
  if (name[0] == '<' && autoPick) {
    char stored[kNameSize];
    platform::ReadUserProfileString("Tarnwell", "Language", "", stored, sizeof stored);
    if (stored[0] == '\0') {
      if (std::optional<std::string> picked = FirstLanguageFile(directory, extension)) {
        return *picked;
      }
    }
  }
  return name;
}

char ReadHelpLetter(const std::string& languageFile) {
  char help[kHelpSize];
  platform::ReadProfileString("Common", "Help", "", help, sizeof help, languageFile.c_str());
  return CanNameFile(std::string_view(help, 1)) ? help[0] : '\0';
}

bool Init(const char* directory, const char* extension, const char* language, bool autoPick) {
  g_state = State();
  if (!directory || !extension) return false;
  const std::string name = language && *language
                               ? std::string(language)
                               : ConfiguredLanguage(directory, extension, autoPick);
  if (!CanNameFile(name)) return false;
  const std::string file = name + "." + extension;
  std::string path = FileInDirectory(directory, file);
  if (!platform::IsRegularFile(path)) {
    // Language names are stored as the selection shows them ("English"); the file system,
    // unlike the one they were chosen on, tells case apart.
    std::optional<std::string> other = FileIgnoringCase(directory, file);
    if (!other || !platform::IsRegularFile(*other)) return false;
    path = std::move(*other);
  }
  g_state.helpLetter = ReadHelpLetter(path);
  g_state.path = std::move(path);
  g_state.active = true;
  return true;
}

void Lookup(int32_t section, int32_t id, const char* defaultText, char* buffer) {
  // The default may be an earlier result in this very buffer.
  const std::string fallback = defaultText ? defaultText : "";
  char key[16];
  if (id == kInfoId) {
    std::snprintf(key, sizeof key, "Info");
  } else {
    std::snprintf(key, sizeof key, "%d", static_cast<int>(id));
  }
  // An index outside the table names no section: the default, as for a missing section. The
  // profile reader gives the default, trailing blanks dropped and cut, for an empty file name.
  const char* sectionName = SectionName(section);
  platform::ReadProfileString(sectionName ? sectionName : "", key, fallback.c_str(), buffer,
                              kMaxText + 1, sectionName ? g_state.path.c_str() : "");
}

std::string HelpName(const char* helpFile, const char* dot) {
  std::string name(helpFile, dot);
  name += g_state.helpLetter;
  name += dot;
  return name;
}

}  // namespace

std::string FileInDirectory(std::string_view directory, std::string_view name) {
  std::string path(directory);
  path += name;
  if (path.find_first_of("/\\") == std::string::npos) path.insert(0, "./");
  return path;
}

bool CanNameFile(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || std::strchr("<>:\"/\\|?*", c)) return false;
  }
  return true;
}

std::optional<std::string> TranslateWindowText(int32_t section, int32_t id,
                                               std::string_view windowText, int32_t slot,
                                               int32_t colonMode, int32_t stripAmpersand) noexcept {
  if (!g_state.active) return std::nullopt;
  try {
    std::string text(windowText.substr(0, kMaxWindowText));
    return std::string(LSS(section, id, text.data(), slot, colonMode, stripAmpersand));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<std::string> TranslateMenuText(int32_t section, int32_t id,
                                             std::string_view itemText) noexcept {
  if (!g_state.active) return std::nullopt;
  try {
    std::string text(itemText.substr(0, kMaxMenuText));
    return std::string(LSS(section, id, text.data(), 1, -1, 0));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace lang

uint8_t LS_init(const char* /*product*/, const char* directory, const char* extension,
                const char* language, uint8_t autoPick, int32_t /*unused*/) {
  return platform::CallNoThrow<uint8_t>(0, [&]() -> uint8_t {
    return lang::Init(directory, extension, language, autoPick != 0) ? 1 : 0;
  });
}

uint8_t LS_isActive(void) { return lang::g_state.active ? 1 : 0; }

char* LSS(int32_t section, int32_t id, char* defaultText, int32_t slot, int32_t colonMode,
          int32_t stripAmpersand) {
  if (!lang::g_state.active) return defaultText;
  return platform::CallNoThrow<char*>(defaultText, [&]() -> char* {
    char* buffer = lang::ResultBuffer(slot);
    lang::Lookup(section, id, defaultText, buffer);
    lang::UndoEscapes(buffer);
    lang::ApplyColonMode(buffer, colonMode);
    if (stripAmpersand != 0) lang::StripFirstAmpersand(buffer);
    return buffer;
  });
}

char* LS_Help(char* helpFile) {
  if (!helpFile || lang::g_state.helpLetter == '\0') return helpFile;
  const char* dot = std::strchr(helpFile, '.');
  if (!dot) return helpFile;
  return platform::CallNoThrow<char*>(helpFile, [&]() -> char* {
    lang::g_helpName = lang::HelpName(helpFile, dot);
    return lang::g_helpName.data();
  });
}
