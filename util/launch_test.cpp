// Launching against associations of the test's own: a private data folder with one MIME
// database entry per test type and one .desktop file whose program is the argument recorder
// write_args, so no real desktop application is ever started. GIO reads these folders once per
// process, so the environment is set up before the first test.
#include "util/launch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lang/lang.h"
#include "testsupport/file_test.h"
#include "testsupport/message_boxes.h"
#include "testsupport/started_program.h"
#include "testsupport/temp_dir.h"

namespace {

using Arguments = std::vector<std::string>;
using testsupport::ShownBox;
using testsupport::WriteFile;
using Boxes = std::vector<ShownBox>;

constexpr const char* kFileNotFound =
    "Die angegebene Datei wurde nicht gefunden. Sie wurde evt. schon von Ihnen gelöscht.";
constexpr const char* kNoApplication =
    "Es wurde keine passende Applikation zum Anzeigen der angegebenen Datei gefunden.\n"
    "Installieren Sie bitte eine passende Anwendung und versuchen Sie es erneut.";

void InstallProgram(const std::string& path) {
  WriteFile(path, testsupport::ReadFile(LV_WRITE_ARGS));
  ::chmod(path.c_str(), 0755);
}

// The desktop of these tests: documents "*.lvt" and help files "*.lvh" open in the viewer
// <root>/bin/lvviewer (a write_args), which is started as "lvviewer --opened <file>".
class Desktop : public ::testing::Environment {
 public:
  void SetUp() override {
    root_ = std::make_unique<testsupport::TempDir>();
    for (const char* folder : {"bin", "data", "data/mime", "data/applications", "config", "none"}) {
      ::mkdir((*root_ / folder).c_str(), 0755);
    }
    InstallProgram(Viewer());
    WriteFile(*root_ / "data/mime/globs2",
              "50:application/x-lindavox-test:*.lvt\n50:application/x-lindavox-help:*.lvh\n");
    WriteFile(*root_ / "data/applications/lvviewer.desktop",
              "[Desktop Entry]\nType=Application\nName=Test viewer\nExec=" + Viewer() +
                  " --opened %f\nMimeType=application/x-lindavox-test;application/"
                  "x-lindavox-help;\nNoDisplay=true\n");
    WriteFile(*root_ / "config/mimeapps.list",
              "[Default Applications]\napplication/x-lindavox-test=lvviewer.desktop\n"
              "application/x-lindavox-help=lvviewer.desktop\n");
    ::setenv("XDG_DATA_HOME", (*root_ / "data").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (*root_ / "none").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (*root_ / "config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (*root_ / "none").c_str(), 1);
    ::setenv("GIO_USE_VFS", "local", 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (*root_ / "no-bus")).c_str(), 1);
  }
  void TearDown() override { root_.reset(); }

  static std::string Viewer() { return *root_ / "bin/lvviewer"; }

 private:
  static inline std::unique_ptr<testsupport::TempDir> root_;
};

[[maybe_unused]] ::testing::Environment* const g_desktop =
    ::testing::AddGlobalTestEnvironment(new Desktop);

class LaunchTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    recorded_ = std::make_unique<testsupport::ArgumentsFile>(Path("started"));
    program_ = Path("my tool");
    InstallProgram(program_);
    document_ = Path("a document.lvt");
    WriteFile(document_, "text");
    WriteFile(Path("unknown.zzz"), "text");
  }
  void TearDown() override {
    recorded_.reset();
    FileTest::TearDown();
  }

  std::optional<Arguments> Started() { return recorded_->Await(); }
  std::optional<testsupport::StartState> StartedWith() { return recorded_->TakeStartState(); }
  bool NothingStarted() { return recorded_->NothingStarted(); }

  std::string program_;
  std::string document_;
  testsupport::RecordedMessageBoxes boxes_;

 private:
  std::unique_ptr<testsupport::ArgumentsFile> recorded_;
};

TEST_F(LaunchTest, ExecuteFileStartsProgramsAndOpensDocuments) {
  EXPECT_EQ(LIB_ExecuteFile(nullptr, program_.c_str(), 1), 1);
  EXPECT_EQ(Started(), (Arguments{program_}));
  EXPECT_EQ(LIB_ExecuteFile(nullptr, ('"' + program_ + "\" -x \"y z\"").c_str(), 1), 1);
  EXPECT_EQ(Started(), (Arguments{program_, "-x", "y z"}));
  EXPECT_EQ(LIB_ExecuteFile(nullptr, document_.c_str(), 1), 1);
  EXPECT_EQ(Started(), (Arguments{Desktop::Viewer(), "--opened", document_}));
  EXPECT_TRUE(boxes_.shown().empty());

  const std::string missing = Path("missing.lvt");
  const std::string unknown = Path("unknown.zzz");
  EXPECT_EQ(LIB_ExecuteFile(nullptr, missing.c_str(), 0), 0);
  EXPECT_EQ(LIB_ExecuteFile(nullptr, unknown.c_str(), 0), 0);
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(LIB_ExecuteFile(nullptr, missing.c_str(), 1), 0);
  EXPECT_EQ(LIB_ExecuteFile(nullptr, unknown.c_str(), 1), 0);
  EXPECT_EQ(boxes_.Take(),
            (Boxes{{kFileNotFound, missing, 0x10}, {kNoApplication, unknown, 0x10}}));
  EXPECT_TRUE(NothingStarted());
}

TEST_F(LaunchTest, DocumentsOpenInTheirFolderWithTheStandardStreamsOnly) {
  ::mkdir(Path("docs").c_str(), 0755);
  const std::string document = Path("docs/letter.lvt");
  WriteFile(document, "text");
  // Opened the way a host program may open a file: inheritable.
  const int inheritable = ::open(document.c_str(), O_RDONLY);
  ASSERT_GE(inheritable, 3);
  char docs[PATH_MAX], here[PATH_MAX];
  ASSERT_TRUE(::realpath(Path("docs").c_str(), docs) && ::getcwd(here, sizeof here));
  const std::pair<std::string, std::string> cases[] = {{document, docs}, {program_, here}};
  for (const auto& [path, folder] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(LIB_ExecuteFile(nullptr, path.c_str(), 1), 1);
    ASSERT_TRUE(Started());
    const std::optional<testsupport::StartState> state = StartedWith();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->folder, folder);
    for (int descriptor : state->descriptors) EXPECT_LE(descriptor, 2) << "inherited";
  }
  ::close(inheritable);
}

TEST_F(LaunchTest, TellsWhatStartsAFile) {
  const struct {
    std::string path;
    int32_t startable;
    std::string starter;
  } cases[] = {
      {"C:/x/TOOL.exe", 1, ""},
      {"/x/EXE", 1, ""},
      {"/x/run.Com", 1, ""},
      {program_, 1, ""},
      {document_, 1, Desktop::Viewer()},
      {Path("unknown.zzz"), 0, ""},
      {Path("missing.lvt"), 0, ""},
      {Path("config"), 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LIB_TestExecuteFile(nullptr, c.path.c_str(), 0), c.startable) << c.path;
    EXPECT_EQ(std::string(LIB_GetFileStarter(c.path.c_str())), c.starter) << c.path;
  }
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(LIB_TestExecuteFile(nullptr, Path("unknown.zzz").c_str(), 1), 0);
  EXPECT_EQ(boxes_.Take(), (Boxes{{kNoApplication, "unknown.zzz", 0x10}}));
  EXPECT_TRUE(NothingStarted());
}

TEST_F(LaunchTest, HelpOpenPassesFileAndTopicAsOneArgument) {
  const std::string dir = Dir().substr(0, Dir().size() - 1);
  WriteFile(Path("x.lvh"), "help");
  WriteFile(Path("a \"b\" c.lvh"), "help");
  WriteFile(Path("xE.lvh"), "help");
  WriteFile(Path("x.zzz"), "help");
  const struct {
    const char* name;
    const char* topic;
    std::string argument;
  } cases[] = {
      {"x.lvh", "intro", dir + "/x.lvh#intro"},
      {"x.lvh", "", dir + "/x.lvh"},
      {"x.lvh", nullptr, dir + "/x.lvh"},
      {"a \"b\" c.lvh", "t", dir + "/a \"b\" c.lvh#t"},
  };
  for (const auto& c : cases) {
    std::vector<char> name(c.name, c.name + std::strlen(c.name) + 1);
    EXPECT_EQ(LIB_HelpOpen(nullptr, dir.c_str(), name.data(), c.topic, "no viewer", "no file"), 1);
    EXPECT_EQ(Started(), (Arguments{Desktop::Viewer(), c.argument})) << c.name;
  }

  // The language's help letter goes into the name.
  WriteFile(Path("english.LX"), "[Common]\r\nHelp=E\r\n");
  ASSERT_EQ(LS_init(nullptr, Dir().c_str(), "LX", "english", 0, 0), 1);
  char name[] = "x.lvh";
  EXPECT_EQ(LIB_HelpOpen(nullptr, Dir().c_str(), name, "t", "no viewer", "no file"), 1);
  LS_init(nullptr, Dir().c_str(), "LX", "<deutsch>", 0, 0);
  EXPECT_EQ(Started(), (Arguments{Desktop::Viewer(), Path("xE.lvh#t")}));

  char unknown[] = "x.zzz";
  char missing[] = "gone.lvh";
  EXPECT_EQ(LIB_HelpOpen(nullptr, dir.c_str(), unknown, "t", "no viewer", "no file"), 0);
  EXPECT_EQ(LIB_HelpOpen(nullptr, dir.c_str(), missing, "t", "no viewer", "no file"), 0);
  EXPECT_EQ(boxes_.Take(),
            (Boxes{{"x.zzz", "no viewer", 0x10}, {dir + "gone.lvh", "no file", 0x10}}));
  EXPECT_TRUE(NothingStarted());
}

TEST_F(LaunchTest, SystemTextsAndVersion) {
  EXPECT_STREQ(LIB_LastErrorString(LIB_NO_MESSAGE_BOX, ENOENT), "No such file or directory");
  EXPECT_TRUE(boxes_.shown().empty());
  errno = EACCES;
  EXPECT_STREQ(LIB_LastErrorString(nullptr, 0), "Permission denied");
  EXPECT_EQ(boxes_.Take(), (Boxes{{"Permission denied", "Error", 0x40}}));
  EXPECT_EQ(LIB_isXP(), 1);
}

}  // namespace
