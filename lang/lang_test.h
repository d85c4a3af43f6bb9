// Fixture of the language lookup tests: a fresh folder as the program directory, lookup reset
// to inactive before each test, and helpers to write language and profile files there.
#ifndef LINDAVOX_LANG_LANG_TEST_H
#define LINDAVOX_LANG_LANG_TEST_H

#include <string>

#include "lang/lang.h"
#include "testsupport/file_test.h"
#include "testsupport/ini_text.h"

namespace lang {

class LangTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    LS_init("Lindavox", Dir().c_str(), "LX", "<deutsch>", 0, 0);
  }
  void WriteLanguage(const std::string& name, const std::string& ini) {
    testsupport::WriteFile(Path(name + ".LX"), ini);
  }
  void WriteUserProfile(const std::string& ini) {
    testsupport::WriteFile(ConfigDir() + "win.ini", ini);
  }
  bool Init(const char* language = nullptr, bool autoPick = false) {
    return LS_init("Lindavox", Dir().c_str(), "LX", language, autoPick ? 1 : 0, 0) == 1;
  }
  // LSS with a default that the call may not change.
  std::string Lookup(int32_t section, int32_t id, std::string fallback, int32_t colonMode = -1,
                     int32_t strip = 0, int32_t slot = 1) {
    return LSS(section, id, fallback.data(), slot, colonMode, strip);
  }
};

}  // namespace lang

#endif
