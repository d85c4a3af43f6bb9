// INI text for tests: files of sections and keys with CR LF line ends, as the profile functions
// and the language lookup read them.
#ifndef LINDAVOX_TESTSUPPORT_INI_TEXT_H
#define LINDAVOX_TESTSUPPORT_INI_TEXT_H

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// IniText({{"Common", {{"PrepaidMode", "Link"}}}}) is "[Common]\r\nPrepaidMode=Link\r\n".
using IniSection = std::pair<std::string, std::vector<std::pair<std::string, std::string>>>;
std::string IniText(const std::vector<IniSection>& sections);

}  // namespace testsupport

#endif
