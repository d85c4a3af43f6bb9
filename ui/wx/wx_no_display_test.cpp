// Starting the backend where no display can be opened: InstallWxBackend says why in one line
// and installs nothing. Runs without an X server on purpose.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ui/backend.h"
#include "ui/wx/wx_backend.h"

namespace {

int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

bool StartWithout(std::string* errors) {
  char name[] = "/opt/lindavox/quillet";
  char* argv[] = {name, nullptr};
  int argc = 1;
  testing::internal::CaptureStderr();
  bool started = ui::InstallWxBackend(argc, argv);
  *errors = testing::internal::GetCapturedStderr();
  return started;
}

TEST(WxBackendStart, WithoutDisplayFailsWithOneLineAndInstallsNothing) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  std::string errors;
  EXPECT_FALSE(StartWithout(&errors));
  EXPECT_EQ(CountLines(errors), 1) << errors;
  EXPECT_EQ(errors.rfind("quillet: ", 0), 0u) << errors;
  EXPECT_NE(errors.find("DISPLAY"), std::string::npos) << errors;
  EXPECT_FALSE(ui::HasBackend());
}

// A display that names no X server (nothing listens on display 99 of an unreachable path).
TEST(WxBackendStart, WithUnreachableDisplayFailsWithOneLineNamingIt) {
  setenv("DISPLAY", "unix:/nonexistent/socket:99", 1);
  unsetenv("WAYLAND_DISPLAY");
  std::string errors;
  EXPECT_FALSE(StartWithout(&errors));
  EXPECT_EQ(CountLines(errors), 1) << errors;
  EXPECT_NE(errors.find("unix:/nonexistent/socket:99"), std::string::npos) << errors;
  EXPECT_FALSE(ui::HasBackend());
}

}  // namespace
