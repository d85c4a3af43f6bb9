// GoogleTest fixture for tests that touch files: each test gets a fresh folder, and the
// configuration directory (user profile, bare INI names) points into it, so no test reads or
// writes the developer's own profile.
#ifndef LINDAVOX_TESTSUPPORT_FILE_TEST_H
#define LINDAVOX_TESTSUPPORT_FILE_TEST_H

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <memory>
#include <string>

#include "testsupport/temp_dir.h"

namespace testsupport {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<TempDir>();
    configDir_ = dir_->path() + "config/";
    ::mkdir(configDir_.c_str(), 0755);
    ::setenv("LINDAVOX_CONFIG_DIR", configDir_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("LINDAVOX_CONFIG_DIR");
    dir_.reset();
  }

  // The test's folder, with a trailing '/'.
  const std::string& Dir() const { return dir_->path(); }
  std::string Path(const std::string& name) const { return dir_->path() + name; }
  const std::string& ConfigDir() const { return configDir_; }
  // A path for `name` on another file system than the test's folder (in /dev/shm, named for
  // this process), or "" when there is none.
  std::string OnAnotherFileSystem(const std::string& name) const {
    struct stat here {
    }, shm{};
    if (::stat(dir_->path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev) {
      return "";
    }
    return "/dev/shm/" + name + "-" + std::to_string(::getpid());
  }

 private:
  std::unique_ptr<TempDir> dir_;
  std::string configDir_;
};

// A FileTest whose user runtime directory (where windows found by title live) is the test's
// own folder "run/" too.
class RuntimeDirTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    ::mkdir(Path("run").c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", Path("run").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_RUNTIME_DIR");
    FileTest::TearDown();
  }
};

}  // namespace testsupport

#endif
