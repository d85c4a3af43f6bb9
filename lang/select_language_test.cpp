// SelectLanguageFile with the shipped resource library, driven through the headless backend.
#include "lang/select_language.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lang/lang_test.h"
#include "platform/dir_search.h"
#include "testsupport/int_flag_call.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/headless/headless.h"

namespace lang {
namespace {

using testsupport::FileExists;
using testsupport::IniText;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr const char* kCaption = "Sprache wählen";

// The controls of the running dialog.
struct Selection {
  TDialog& dialog;
  TComboBox& list;
  TWindow& codePage;
  TWindow& ok;
  TWindow& cancel;
};

std::vector<std::string> Items(const TComboBox& list) {
  std::vector<std::string> items;
  char item[300];
  for (int i = 0; i < list.GetCount(); ++i) {
    list.GetString(item, i, sizeof item);
    items.push_back(item);
  }
  return items;
}

bool LibraryMapped() {
  return ReadFile("/proc/self/maps").find("liblindavox_langsel") != std::string::npos;
}

class SelectLanguageTest : public LangTest {
 protected:
  void SetUp() override {
    LangTest::SetUp();
    backend = &ui::HeadlessBackend::Install();
    app = std::make_unique<TApplication>("vantor");
    app->AddIcon(212, IconResource{{1, 2, 3}, {4}});
  }
  void TearDown() override {
    app.reset();
    ui::InstallBackend(nullptr);
    LangTest::TearDown();
  }

  // The flag is passed as a C caller's int: only its low byte may count.
  int32_t Select(int32_t writeProductConfig = 0, uintptr_t parent = 0,
                 const char* library = LV_LANGSEL_LIBRARY) {
    auto select =
        testsupport::WithIntFlags<int32_t(uintptr_t, const char*, const char*, const char*, int32_t,
                                          const char*)>(&SelectLanguageFile);
    return select(parent, Dir().c_str(), "LX", kCaption, writeProductConfig, library);
  }
  // Runs `script` on the next dialog.
  void OnDialog(std::function<void(Selection&)> script) {
    backend->QueueDialogScript([script](TDialog& dialog) {
      auto* list = dynamic_cast<TComboBox*>(dialog.ChildWithId(102));
      TWindow* codePage = dialog.ChildWithId(103);
      TWindow* ok = dialog.ChildWithId(IDOK);
      TWindow* cancel = dialog.ChildWithId(IDCANCEL);
      ASSERT_TRUE(list && codePage && ok && cancel);
      Selection selection{dialog, *list, *codePage, *ok, *cancel};
      script(selection);
    });
  }
  // Picks `name` and confirms.
  void Choose(Selection& s, const std::string& name) {
    std::vector<std::string> items = Items(s.list);
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == name) backend->SelectItem(s.list, static_cast<int>(i));
    }
    ASSERT_EQ(s.list.GetText(), name);
    backend->Click(s.ok);
  }
  // What the dialog preselects, then cancelled.
  std::string Preselected() {
    std::string selected = "<not run>";
    OnDialog([&](Selection& s) {
      selected = s.list.GetText();
      backend->Click(s.cancel);
    });
    EXPECT_EQ(Select(), IDCANCEL);
    return selected;
  }
  void WriteLanguages() {
    WriteLanguage("english", IniText({{"PREPAID", {{"2", "Card data saved"}}}}));
    WriteLanguage("FRANCAIS", "");
  }
  std::string UserProfile() { return ReadFile(ConfigDir() + "win.ini"); }

  ui::HeadlessBackend* backend = nullptr;
  std::unique_ptr<TApplication> app;
};

TEST_F(SelectLanguageTest, ListsTheLanguageFilesInDirectoryOrderThenTheBuiltInTexts) {
  const std::map<std::string, std::string> names = {{"english.LX", "English"},
                                                    {"FRANCAIS.LX", "Francais"},
                                                    {"écOLE.LX", "École"},
                                                    {"deutsch.v2.LX", "Deutsch.v2"}};
  for (const auto& [file, name] : names) WriteFile(Path(file), "");
  // Besides files that are no language files, names the language lookup refuses: chosen, they
  // would write line breaks or paths into the profiles.
  for (const char* other : {"notes.txt", ".hidden.LX", "klein.lx", "LX", "evil\r\n[Lindavox].LX",
                            "c:\\temp.LX", "a?b.LX", "pipe|.LX", "tab\t.LX"})
    WriteFile(Path(other), "");
  ::mkdir(Path("ordner.LX").c_str(), 0755);
  std::vector<std::string> expected;
  platform::DirSearch search;
  for (bool found = search.First(Dir() + "*.LX"); found; found = search.Next()) {
    if (names.count(search.entry().name) != 0) expected.push_back(names.at(search.entry().name));
  }
  ASSERT_EQ(expected.size(), 4u);
  expected.push_back("<deutsch>");

  OnDialog([&](Selection& s) {
    EXPECT_TRUE(LibraryMapped());
    EXPECT_EQ(Items(s.list), expected);
    EXPECT_EQ(s.list.GetSelIndex(), 4);  // no choice stored: the built-in texts
    EXPECT_EQ(s.list.ClassName(), "COMBOBOX");
    EXPECT_EQ(s.dialog.GetText(), kCaption);
    EXPECT_TRUE(s.dialog.IsWindowVisible());
    EXPECT_EQ(s.ok.GetText(), "OK");
    EXPECT_EQ(s.cancel.GetText(), "Abbrechen");
    EXPECT_EQ(s.codePage.GetText(), "");  // no CHARSET.INI: the template's text
    EXPECT_EQ(*backend->LargeIcon(s.dialog), (std::vector<unsigned char>{1, 2, 3}));
    backend->Click(s.cancel);
  });
  EXPECT_EQ(Select(1), IDCANCEL);
  EXPECT_EQ(backend->UnendedModals(), 0);
  EXPECT_TRUE(backend->MessageBoxes().empty());
  // Cancelling stores nothing, and the library is gone again.
  EXPECT_FALSE(FileExists(ConfigDir() + "win.ini"));
  EXPECT_FALSE(FileExists(Path("LINDAVOX.INI")));
  EXPECT_FALSE(LibraryMapped());
}

TEST_F(SelectLanguageTest, PreselectsTheCurrentLanguageByItsBeginningInAnyCase) {
  WriteLanguages();
  WriteFile(Path("LINDAVOX.INI"), IniText({{"Common", {{"Language", "english"}}}}));
  EXPECT_EQ(Preselected(), "English");
  WriteUserProfile(IniText({{"Tarnwell", {{"Language", "fRAN"}}}}));
  EXPECT_EQ(Preselected(), "Francais");
  WriteUserProfile(IniText({{"Tarnwell", {{"Language", "<DEUTSCH>"}}}}));
  EXPECT_EQ(Preselected(), "<deutsch>");
  WriteUserProfile(IniText({{"Tarnwell", {{"Language", ""}}}}));
  EXPECT_EQ(Preselected(), "<deutsch>");
  WriteUserProfile(IniText({{"Tarnwell", {{"Language", "Englishman"}}}}));
  EXPECT_EQ(Preselected(), "");
}

TEST_F(SelectLanguageTest, ConfirmingWithoutAChoiceKeepsTheDialogOpen) {
  WriteLanguages();
  const std::string profile = IniText({{"Tarnwell", {{"Language", "italiano"}}}});
  WriteUserProfile(profile);
  // Ending with the cancel code shows that neither the button nor Enter ended the dialog.
  OnDialog([&](Selection& s) {
    EXPECT_EQ(s.list.GetSelIndex(), -1);
    backend->Click(s.ok);
    backend->PressEnter();
    backend->Click(s.cancel);
  });
  EXPECT_EQ(Select(1), IDCANCEL);
  EXPECT_EQ(backend->UnendedModals(), 0);
  EXPECT_EQ(UserProfile(), profile);
  EXPECT_FALSE(FileExists(Path("LINDAVOX.INI")));
}

TEST_F(SelectLanguageTest, ConfirmingStoresTheChoiceWhereTheProgramsLookForIt) {
  WriteLanguages();
  const std::string product = "[Common]\r\nPrepaidMode=Link\r\n";
  WriteFile(Path("LINDAVOX.INI"), product);

  // Without the product configuration flag only the user profile changes.
  OnDialog([&](Selection& s) { Choose(s, "English"); });
  EXPECT_EQ(Select(0), IDOK);
  EXPECT_EQ(UserProfile(), "[Tarnwell]\r\nLanguage=English\r\n");
  EXPECT_EQ(ReadFile(Path("LINDAVOX.INI")), product);
  ASSERT_TRUE(Init());  // finds english.LX for "English"
  EXPECT_EQ(Lookup(39, 2, "x"), "Card data saved");

  OnDialog([&](Selection& s) { Choose(s, "Francais"); });
  EXPECT_EQ(Select(0x101), IDOK);
  EXPECT_EQ(UserProfile(), "[Tarnwell]\r\nLanguage=Francais\r\n");
  EXPECT_EQ(ReadFile(Path("LINDAVOX.INI")),
            "[Common]\r\nPrepaidMode=Link\r\nLanguage=Francais\r\n");

  // The built-in texts are no entry in the product configuration, but a choice of the operator.
  OnDialog([&](Selection& s) { Choose(s, "<deutsch>"); });
  EXPECT_EQ(Select(1), IDOK);
  EXPECT_EQ(UserProfile(), "[Tarnwell]\r\nLanguage=<deutsch>\r\n");
  EXPECT_EQ(ReadFile(Path("LINDAVOX.INI")), product);
  EXPECT_FALSE(Init(nullptr, true));
  EXPECT_EQ(backend->UnendedModals(), 0);
}

TEST_F(SelectLanguageTest, CancelAndCloseStoreNothing) {
  WriteLanguages();
  OnDialog([&](Selection& s) {
    backend->SelectItem(s.list, 0);
    backend->Click(s.cancel);
  });
  EXPECT_EQ(Select(1), IDCANCEL);
  OnDialog([&](Selection& s) {
    backend->SelectItem(s.list, 0);
    backend->Close(s.dialog);
  });
  EXPECT_EQ(Select(1), IDCANCEL);
  OnDialog([&](Selection& s) {
    backend->SelectItem(s.list, 1);
    s.list.SetFocus();
    backend->PressEscape();
  });
  EXPECT_EQ(Select(1), IDCANCEL);
  EXPECT_EQ(backend->UnendedModals(), 0);
  EXPECT_FALSE(FileExists(ConfigDir() + "win.ini"));
  EXPECT_FALSE(FileExists(Path("LINDAVOX.INI")));
}

TEST_F(SelectLanguageTest, WithoutALanguageFileAMessageEndsTheDialogUnshown) {
  WriteFile(Path("english.TXT"), "");
  WriteFile(Path("line\nbreak.LX"), "");  // no name the lookup takes
  backend->QueueDialogScript([](TDialog&) { ADD_FAILURE() << "the dialog was shown"; });
  EXPECT_EQ(Select(1), IDCANCEL);
  ASSERT_EQ(backend->MessageBoxes().size(), 1u);
  const ui::ShownMessageBox& box = backend->MessageBoxes()[0];
  EXPECT_EQ(box.text, "Please download a language pack first.");
  EXPECT_EQ(box.caption, "Message");
  EXPECT_EQ(box.type, MB_OK | MB_ICONINFORMATION);
  EXPECT_NE(box.owner, nullptr);  // the dialog, gone by now
  EXPECT_EQ(backend->UnendedModals(), 0);
  EXPECT_FALSE(FileExists(ConfigDir() + "win.ini"));
  EXPECT_FALSE(FileExists(Path("LINDAVOX.INI")));
  EXPECT_FALSE(LibraryMapped());
}

TEST_F(SelectLanguageTest, CodePageLineFromCharsetIni) {
  WriteLanguages();
  auto line = [&] {
    std::string text = "<not run>";
    OnDialog([&](Selection& s) {
      text = s.codePage.GetText();
      backend->Click(s.cancel);
    });
    Select();
    return text;
  };
  WriteFile(Path("CHARSET.INI"), IniText({{"charset", {{"1252", "iso-8859-1 Arial"}}}}));
  EXPECT_EQ(line(), "Codepage 1252, charset iso-8859-1 Arial");
  WriteFile(Path("CHARSET.INI"), IniText({{"charset", {{"1252", "iso-8859-1"}}}}));
  EXPECT_EQ(line(), "Codepage 1252, charset iso-8859-1 ");
  WriteFile(Path("CHARSET.INI"), IniText({{"charset", {{"1250", "iso-8859-2"}}}}));
  EXPECT_EQ(line(), "Codepage 1252");
}

TEST_F(SelectLanguageTest, ButtonsAreTranslatedWhileALanguageIsActive) {
  WriteLanguage("english", IniText({{"common", {{"16", "Accept"}, {"3", "&Cancel"}}}}));
  ASSERT_TRUE(Init("english"));
  OnDialog([&](Selection& s) {
    EXPECT_EQ(s.ok.GetText(), "Accept");
    EXPECT_EQ(s.cancel.GetText(), "&Cancel");
    EXPECT_EQ(s.dialog.GetText(), kCaption);
    backend->Click(s.cancel);
  });
  EXPECT_EQ(Select(), IDCANCEL);
}

TEST_F(SelectLanguageTest, CentredOnTheScreenAndOwnedByTheParentOfTheHandle) {
  WriteLanguages();
  backend->SetMetric(SM_CXFULLSCREEN, 1200);
  backend->SetMetric(SM_CYFULLSCREEN, 950);
  backend->SetMetric(SM_CYCAPTION, 20);
  TFrameWindow frame(nullptr, "Owner", nullptr);
  frame.SetWindowPos(0, 300, 200, 400, 300, 0);
  ASSERT_TRUE(frame.Create());
  ASSERT_EQ(TWindow::FromHandle(frame.GetHandle()), &frame);

  OnDialog([&](Selection& s) {
    TRect rect = s.dialog.GetWindowRect();
    EXPECT_GT(rect.Width(), 0);
    EXPECT_EQ(rect.left, 600 - rect.Width() / 2);
    EXPECT_EQ(rect.top, 10 + 475 - rect.Height() / 2);
    EXPECT_EQ(s.dialog.GetParent(), &frame);
    EXPECT_FALSE(frame.IsWindowEnabled());  // modal to its owner
    backend->Click(s.cancel);
  });
  EXPECT_EQ(Select(0, frame.GetHandle()), IDCANCEL);
  EXPECT_TRUE(frame.IsWindowEnabled());
  EXPECT_TRUE(frame.Children().empty());

  // An unknown handle, or the handle of a window that is gone, gives no owner.
  const uintptr_t gone = frame.GetHandle();
  frame.Destroy();
  EXPECT_EQ(TWindow::FromHandle(gone), nullptr);
  EXPECT_EQ(TWindow::FromHandle(0), nullptr);
  for (uintptr_t handle : {gone, uintptr_t{0x1234}}) {
    OnDialog([&](Selection& s) {
      EXPECT_EQ(s.dialog.GetParent(), nullptr);
      backend->Click(s.cancel);
    });
    EXPECT_EQ(Select(0, handle), IDCANCEL);
  }
  EXPECT_EQ(backend->UnendedModals(), 0);
}

TEST_F(SelectLanguageTest, MissingLibraryOrTemplateCancelsWithoutShowingAnything) {
  WriteLanguages();
  backend->QueueDialogScript([](TDialog&) { ADD_FAILURE() << "a dialog was shown"; });
  EXPECT_EQ(Select(0, 0, "/nonexistent/liblindavox_langsel.so"), IDCANCEL);
  EXPECT_EQ(Select(0, 0, "libmissing_resources.so"), IDCANCEL);
  EXPECT_EQ(Select(0, 0, "libm.so.6"), IDCANCEL);  // a library without templates
  EXPECT_EQ(Select(0, 0, ""), IDCANCEL);
  EXPECT_EQ(Select(0, 0, nullptr), IDCANCEL);
  EXPECT_EQ(SelectLanguageFile(0, nullptr, "LX", kCaption, 0, LV_LANGSEL_LIBRARY), IDCANCEL);
  EXPECT_EQ(SelectLanguageFile(0, Dir().c_str(), nullptr, kCaption, 0, LV_LANGSEL_LIBRARY),
            IDCANCEL);
  EXPECT_TRUE(backend->MessageBoxes().empty());
  EXPECT_FALSE(LibraryMapped());

  // Without a window backend there is no dialog to show.
  ui::InstallBackend(nullptr);
  EXPECT_EQ(Select(), IDCANCEL);
  backend = &ui::HeadlessBackend::Install();

  // A bare name is found in the program's folder, as the programs ship the library.
  bool shown = false;
  OnDialog([&](Selection& s) {
    shown = true;
    EXPECT_EQ(s.dialog.GetText(), "");  // a null caption
    backend->Click(s.cancel);
  });
  EXPECT_EQ(SelectLanguageFile(0, Dir().c_str(), "LX", nullptr, 0, LV_LANGSEL_NAME), IDCANCEL);
  EXPECT_TRUE(shown);
  EXPECT_FALSE(LibraryMapped());
}

TEST_F(SelectLanguageTest, AChoiceThatCannotBeStoredIsNotReportedAsStored) {
  WriteLanguages();
  // A file where the configuration directory would have to be created.
  testsupport::WriteFile(Path("blocked"), "");
  ::setenv("LINDAVOX_CONFIG_DIR", Path("blocked/config/").c_str(), 1);
  OnDialog([&](Selection& s) {
    Choose(s, "English");
    backend->Click(s.cancel);  // still open: this ends it
  });
  EXPECT_EQ(Select(0), IDCANCEL);
  ASSERT_EQ(backend->MessageBoxes().size(), 1u);
  EXPECT_EQ(backend->MessageBoxes()[0].text, "The language choice could not be saved.");
  EXPECT_EQ(backend->MessageBoxes()[0].type, MB_OK | MB_ICONHAND);
  EXPECT_EQ(backend->UnendedModals(), 0);
}

}  // namespace
}  // namespace lang
