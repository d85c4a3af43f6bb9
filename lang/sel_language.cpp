#include "lang/sel_language.h"

#include <cstdio>
#include <utility>

#include "lang/lang.h"
#include "lang/lang_internal.h"
#include "lang/select_language.h"
#include "lang/window_texts.h"
#include "placement/window_pos.h"
#include "platform/ansi_case.h"
#include "platform/dir_search.h"
#include "platform/file_io.h"
#include "platform/profile.h"
#include "ui/application.h"

namespace lang {
namespace {

constexpr const char* kBuiltInLanguage = "<deutsch>";
constexpr int kMaxName = 259;  // a language name as the list and the profiles hold it
constexpr int32_t kOkTextId = 16;
constexpr int32_t kCancelTextId = 3;

// The name a language file "english.LX" stands for: the first letter upper case and the others
// lower case, so english.LX and ENGLISH.LX both give "English". The name is everything before
// the extension, so that "english.v2.LX" gives a name that LS_init finds again.
std::string LanguageName(const std::string& file) {
  std::string name = file.substr(0, file.rfind('.'));
  for (size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    name[i] = static_cast<char>(i == 0 ? platform::AnsiUpper(c) : platform::AnsiLower(c));
  }
  return name;
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         platform::AnsiEqualIgnoreCase(std::string_view(text).substr(0, prefix.size()), prefix);
}

int ShowMessage(TWindow* owner, const char* text, const char* caption, unsigned type) {
  return ui::CurrentBackend().MessageBox(owner, text, caption, type);
}

}  // namespace
}  // namespace lang

TSel_Language::TSel_Language(TWindow* parent, TModule* module, std::string directory,
                             std::string extension, std::string caption, bool writeProductConfig)
    : TDialog(parent, LS_SELECT_LANGUAGE_DIALOG, module),
      directory_(std::move(directory)),
      extension_(std::move(extension)),
      caption_(std::move(caption)),
      writeProductConfig_(writeProductConfig),
      languages_(new TComboBox(this, lang::kLanguageListId)),
      codePage_(new TStatic(this, lang::kCodePageTextId)),
      ok_(new TButton(this, IDOK)),
      cancel_(new TButton(this, IDCANCEL)) {}

void TSel_Language::SetupWindow() {
  WindowPos_Center(this, 0);
  TDialog::SetupWindow();
  LSWW(ok_, LS_SECTION_COMMON, lang::kOkTextId, 1, LS_COLON_KEEP, 0);
  LSWW(cancel_, LS_SECTION_COMMON, lang::kCancelTextId, 1, LS_COLON_KEEP, 0);
  if (!FillLanguageList()) {
    lang::ShowMessage(this, "Please download a language pack first.", "Message",
                      MB_OK | MB_ICONINFORMATION);
    // The dialog ends without being shown; setting it up runs to its end all the same.
    CloseWindow(IDCANCEL);
  }
  languages_->AddString(lang::kBuiltInLanguage);
  SelectCurrentLanguage();
  SetCaption(caption_.c_str());
  ShowIcon();
  ShowCodePage();
}

// Adds the language files in the order the directory lists them; false when there is none.
// Only names that the language lookup accepts are offered: the chosen name is written into the
// profiles as it is, and a file named with a line break could write lines of its own there.
bool TSel_Language::FillLanguageList() {
  platform::DirSearch search;
  bool any = false;
  for (bool found = search.First(directory_ + "*." + extension_, platform::kOrdinaryFiles); found;
       found = search.Next()) {
    const std::string name = lang::LanguageName(search.entry().name);
    if (!lang::CanNameFile(name)) continue;
    languages_->AddString(name.c_str());
    any = true;
  }
  return any;
}

// The language the programs would start with now: the operator's choice from the user profile,
// else the product configuration's, else the built-in texts.
void TSel_Language::SelectCurrentLanguage() {
  char configured[lang::kMaxName + 1];
  platform::ReadProfileString("Common", "Language", lang::kBuiltInLanguage, configured,
                              sizeof configured, ProductConfigFile().c_str());
  char chosen[lang::kMaxName + 1];
  platform::ReadUserProfileString("Tarnwell", "Language", configured, chosen, sizeof chosen);
  // An empty choice names no language file, so it stands for the built-in texts too.
  const std::string current = chosen[0] != '\0' ? chosen : lang::kBuiltInLanguage;
  char item[lang::kMaxName + 1];
  for (int index = 0; index < languages_->GetCount(); ++index) {
    languages_->GetString(item, index, sizeof item);
    if (lang::StartsWithIgnoringCase(item, current)) {
      languages_->SetSelIndex(index);
      return;
    }
  }
}

void TSel_Language::ShowIcon() {
  TApplication* program = TApplication::Current();
  const IconResource* icon = program != nullptr ? program->FindIcon(lang::kProgramIconId) : nullptr;
  if (icon != nullptr && Peer() != nullptr) Peer()->SetIcon(icon->large, {});
}

void TSel_Language::ShowCodePage() {
  if (!platform::IsRegularFile(lang::FileInDirectory(directory_, "CHARSET.INI"))) return;
  char charset[100];
  char extra[100] = "";
  const int32_t codePage = LS_GetCharset(charset, extra, directory_.c_str(), 0);
  char line[256];
  if (charset[0] != '\0') {
    std::snprintf(line, sizeof line, "Codepage %d, charset %s %s", static_cast<int>(codePage),
                  charset, extra);
  } else {
    std::snprintf(line, sizeof line, "Codepage %d", static_cast<int>(codePage));
  }
  codePage_->SetWindowText(line);
}

void TSel_Language::CmOk() {
  char name[lang::kMaxName + 1];
  languages_->GetWindowText(name, sizeof name);
  if (name[0] == '\0') return;
  if (!StoreChoice(name)) {
    // Ending with IDOK would tell the caller the choice was stored.
    lang::ShowMessage(this, "The language choice could not be saved.", "Error",
                      MB_OK | MB_ICONHAND);
    return;
  }
  CloseWindow(IDOK);
}

bool TSel_Language::StoreChoice(const std::string& name) {
  if (writeProductConfig_) {
    // The built-in texts are the product configuration's default: no entry at all.
    const char* value = name[0] == '<' ? nullptr : name.c_str();
    if (!platform::WriteProfileString("Common", "Language", value, ProductConfigFile().c_str())) {
      return false;
    }
  }
  return platform::WriteUserProfileString("Tarnwell", "Language", name.c_str());
}

std::string TSel_Language::ProductConfigFile() const {
  return lang::FileInDirectory(directory_, "LINDAVOX.INI");
}
