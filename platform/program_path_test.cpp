#include "platform/program_path.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>

TEST(ProgramDirectoryTest, DirectoryOfTheGivenPathWithItsSeparator) {
  EXPECT_EQ(platform::ProgramDirectory("/srv/cards/quillet"), "/srv/cards/");
  EXPECT_EQ(platform::ProgramDirectory("./vantor"), "./");
  EXPECT_EQ(platform::ProgramDirectory("/quillet"), "/");
  EXPECT_EQ(platform::ProgramDirectory("data/"), "data/");
  // A backslash is an ordinary character of a Linux file name.
  EXPECT_EQ(platform::ProgramDirectory("a\\b/c\\d"), "a\\b/");
}

TEST(ProgramDirectoryTest, WithoutSeparatorTheRunningExecutablesDirectory) {
  char self[PATH_MAX] = {};
  ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::string expected(self);
  expected.resize(expected.rfind('/') + 1);
  EXPECT_EQ(platform::ProgramDirectory("quillet"), expected);
  EXPECT_EQ(platform::ProgramDirectory(""), expected);
  EXPECT_EQ(platform::ProgramDirectory(nullptr), expected);
}
