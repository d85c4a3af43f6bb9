#include "testsupport/ini_text.h"

namespace testsupport {

std::string IniText(const std::vector<IniSection>& sections) {
  std::string text;
  for (const auto& [name, keys] : sections) {
    text += "[" + name + "]\r\n";
    for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
  }
  return text;
}

}  // namespace testsupport
