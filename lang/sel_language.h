// TSel_Language: the dialog of SelectLanguageFile (lang/select_language.h), built from dialog
// template 3623 of the module it is given. The template provides the combo box 102 (the
// language names; its text is the chosen name), the static text 103 (code page and character
// set), the confirm button 1 and the cancel button 2.
#ifndef LINDAVOX_LANG_SEL_LANGUAGE_H
#define LINDAVOX_LANG_SEL_LANGUAGE_H

#include <string>

#include "ui/controls.h"
#include "ui/dialog.h"

namespace lang {

inline constexpr int kLanguageListId = 102;
inline constexpr int kCodePageTextId = 103;
// The icon the dialog shows: the program's own, which the programs of the product keep under
// this id in their application module.
inline constexpr int kProgramIconId = 212;

}  // namespace lang

class TSel_Language : public TDialog {
 public:
  // `directory` is a folder prefix ending with '/' ("" for the current directory).
  TSel_Language(TWindow* parent, TModule* module, std::string directory, std::string extension,
                std::string caption, bool writeProductConfig);

 protected:
  // Centres the dialog, creates the controls, translates the buttons, fills the list (or, with
  // no language file, says so and ends with IDCANCEL), preselects the current language, and
  // shows caption, icon and code page line.
  void SetupWindow() override;
  // Stores the chosen name and ends with IDOK; does nothing while no name is chosen.
  void CmOk() override;

 private:
  bool FillLanguageList();
  void SelectCurrentLanguage();
  void ShowIcon();
  void ShowCodePage();
  bool StoreChoice(const std::string& name);
  std::string ProductConfigFile() const;

  std::string directory_;
  std::string extension_;
  std::string caption_;
  bool writeProductConfig_;
  TComboBox* languages_;  // owned by the dialog, as children are
  TStatic* codePage_;
  TButton* ok_;
  TButton* cancel_;
};

#endif
