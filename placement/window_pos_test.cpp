#include "placement/window_pos.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "placement/window_pos_internal.h"
#include "platform/profile.h"
#include "testsupport/file_test.h"
#include "ui/application.h"
#include "ui/headless/headless.h"

namespace {

constexpr const char* kSection = "Lindavox";
constexpr const char* kKey = "quillet_pos";

// A screen of 1280 x 1024 whose full-screen client area is 1200 x 950, so that the older
// generation's screen-edge corrections (80 and 1024 - 950 - 20 = 54) are visible.
class PlacementTest : public testsupport::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    backend = &ui::HeadlessBackend::Install();
    backend->SetMetric(SM_CXSCREEN, 1280);
    backend->SetMetric(SM_CYSCREEN, 1024);
    backend->SetMetric(SM_CXFULLSCREEN, 1200);
    backend->SetMetric(SM_CYFULLSCREEN, 950);
    backend->SetMetric(SM_CYCAPTION, 20);
    backend->SetMetric(SM_CXFRAME, 4);
    backend->SetMetric(SM_CYFRAME, 4);
    frame = std::make_unique<TFrameWindow>(nullptr, "Frame", nullptr);
    frame->SetWindowPos(0, 7, 7, 333, 222, 0);
    frame->Create();
  }
  void TearDown() override {
    frame.reset();
    ui::InstallBackend(nullptr);
    FileTest::TearDown();
  }

  void Store(const char* text) {
    ASSERT_TRUE(platform::WriteUserProfileString(kSection, kKey, text));
  }
  std::string Stored() {
    char buffer[200];
    platform::ReadUserProfileString(kSection, kKey, "<none>", buffer, sizeof buffer);
    return buffer;
  }
  TRect Bounds() { return frame->GetWindowRect(); }
  static TRect Rect(int x, int y, int w, int h) { return TRect{x, y, x + w, y + h}; }
  int32_t RestoreNewer(uint32_t flags = 0, int minW = 0, int minH = 0) {
    return WindowPos_Restore(frame.get(), kSection, kKey, 350, 170, flags, minW, minH);
  }
  int32_t RestoreOlder(uint32_t flags = 0) {
    return RestorePosition(frame.get(), kSection, kKey, 350, 170, flags);
  }
  std::vector<int> Shows() { return backend->ShowCommands(*frame); }

  ui::HeadlessBackend* backend = nullptr;
  std::unique_ptr<TFrameWindow> frame;
};

TEST_F(PlacementTest, StoredPlacementWithShowState) {
  Store("100,50,400,300;MAX");
  RestoreNewer();
  EXPECT_EQ(Bounds(), Rect(100, 50, 400, 300));
  EXPECT_EQ(Shows(), std::vector<int>{SW_SHOWMAXIMIZED});

  // The older generation reads the same text: the suffix only ends the height's digits.
  frame->SetWindowPos(0, 0, 0, 10, 10, 0);
  EXPECT_EQ(RestoreOlder(), 1);
  EXPECT_EQ(Bounds(), Rect(100, 50, 400, 300));
  EXPECT_EQ(Shows().size(), 1u);
}

TEST_F(PlacementTest, ShowStateAloneOrBrokenNumbersGiveTheCentredDefault) {
  // Default: (1200 / 2 - 350 / 2, (950 + 20) / 2 - 170 / 2).
  Store(";MIN");
  RestoreNewer();
  EXPECT_EQ(Bounds(), Rect(425, 400, 350, 170));
  EXPECT_EQ(Shows(), std::vector<int>{SW_SHOWMINIMIZED});

  Store("100,50,400");
  RestoreNewer();
  EXPECT_EQ(Bounds(), Rect(425, 400, 350, 170));
  EXPECT_EQ(Shows().size(), 1u);  // no state stored, none asked for: no show step
  RestoreNewer(WPR_SHOWDEFAULT);
  EXPECT_EQ(Shows().back(), SW_SHOWDEFAULT);

  EXPECT_EQ(RestoreOlder(), 1);
  EXPECT_EQ(Bounds(), Rect(425, 400, 350, 170));
}

TEST_F(PlacementTest, UnknownShowStatesShowDefault) {
  for (const char* text : {"1,2,300,300;MAX;MIN", "1,2,300,300;max", "1,2,300,300;"}) {
    Store(text);
    RestoreNewer();
  }
  // An empty state after ';' counts as no state.
  EXPECT_EQ(Shows(), (std::vector<int>{SW_SHOWDEFAULT, SW_SHOWDEFAULT}));
  Store("1,2,300,300;MAX");
  RestoreNewer(WPR_NOSHOWSTATE);
  EXPECT_EQ(Shows().size(), 2u);
}

TEST_F(PlacementTest, OffScreenPositionsArePulledBackDifferentlyByEachGeneration) {
  Store("-20,-5,400,300");
  RestoreNewer();
  EXPECT_EQ(Bounds(), Rect(0, 0, 400, 300));
  RestoreOlder();
  EXPECT_EQ(Bounds(), Rect(80, 54, 400, 300));

  // Beyond the right and bottom edges.
  Store("1000,900,400,300");
  RestoreNewer();
  EXPECT_EQ(Bounds(), Rect(0, 0, 400, 300));
  RestoreOlder();
  EXPECT_EQ(Bounds(), Rect(80, 54, 400, 300));
}

TEST_F(PlacementTest, OversizedWindowsAreLimitedOnlyByTheNewerGeneration) {
  // maxW = 1200 + 8 = 1208, maxH = 950 + 20 + 8 = 978.
  Store("900,10,1300,2000");
  RestoreNewer();
  EXPECT_EQ(Bounds(), Rect(0, 0, 1208, 978));
  RestoreOlder();
  EXPECT_EQ(Bounds(), Rect(80, 54, 1300, 2000));

  // The maximum wins over a minimum.
  Store("10,10,100,100");
  RestoreNewer(0, 5000, 150);
  EXPECT_EQ(Bounds(), Rect(0, 10, 1208, 150));
}

TEST_F(PlacementTest, OptionBitsAndPassedThroughPositioningFlags) {
  Store("10,20,400,300");
  RestoreNewer(WPR_CAPTIONSHIFT);
  EXPECT_EQ(Bounds(), Rect(30, 40, 400, 300));

  frame->SetWindowPos(0, 0, 0, 512, 100, 0);
  RestoreNewer(WPR_KEEPWIDTH);
  EXPECT_EQ(Bounds(), Rect(10, 20, 512, 300));
  frame->SetWindowPos(0, 0, 0, 256, 100, 0);
  RestoreOlder(WPR_KEEPWIDTH);
  EXPECT_EQ(Bounds(), Rect(10, 20, 256, 300));

  // Only the low 16 bits reach the positioning: SWP_NOSIZE keeps the size.
  frame->SetWindowPos(0, 0, 0, 99, 88, 0);
  RestoreNewer(SWP_NOSIZE);
  EXPECT_EQ(Bounds(), Rect(10, 20, 99, 88));
}

TEST_F(PlacementTest, DefaultPlacementEdgeSizes) {
  // The newer default turns a zero size into 200 and takes the current width when asked;
  // the older one keeps what it is given.
  EXPECT_EQ(WindowPos_Restore(frame.get(), kSection, kKey, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(Bounds(), Rect(500, 385, 200, 200));
  RestorePosition(frame.get(), kSection, kKey, 0, 0, 0);
  EXPECT_EQ(Bounds(), Rect(600, 485, 0, 0));
  // Wider and taller than the screen: lowered to (1200, 970) by the newer only.
  WindowPos_Restore(frame.get(), kSection, kKey, 3000, 3000, 0, 0, 0);
  EXPECT_EQ(Bounds(), Rect(0, 0, 1200, 970));
  RestorePosition(frame.get(), kSection, kKey, 3001, 3000, 0);
  EXPECT_EQ(Bounds(), Rect(600 - 1500, 485 - 1500, 3001, 3000));
  frame->SetWindowPos(0, 0, 0, 640, 10, 0);
  WindowPos_Restore(frame.get(), kSection, kKey, 350, 170, WPR_KEEPWIDTH, 0, 0);
  EXPECT_EQ(Bounds(), Rect(280, 400, 640, 170));
}

TEST_F(PlacementTest, FieldsThatDoNotConvert) {
  Store("a,b,c,d");
  RestoreNewer();
  EXPECT_EQ(Bounds(), Rect(0, 0, 0, 0));
  Store(" +12x, -0,  7 ,8 9");
  RestoreOlder();
  EXPECT_EQ(Bounds(), Rect(12, 0, 7, 8));
  // Numbers beyond 32 bits stop at the limit instead of wrapping.
  Store("99999999999,5,10,10");
  RestoreNewer();
  EXPECT_EQ(Bounds(), Rect(0, 5, 10, 10));
}

TEST_F(PlacementTest, SavingWritesTheWindowRectangle) {
  frame->SetWindowPos(0, -3, 60, 49, 300, 0);
  Store("1,1,100,100");
  WindowPos_Save(frame.get(), kSection, kKey, 1);
  EXPECT_EQ(Stored(), "1,1,100,100");  // narrower than 50: nothing written

  frame->SetWindowPos(0, -3, 60, 50, 50, 0);
  WindowPos_Save(frame.get(), kSection, kKey, 1);
  EXPECT_EQ(Stored(), "-3,60,50,50");
  frame->ShowWindow(SW_SHOWMAXIMIZED);
  WindowPos_Save(frame.get(), kSection, kKey, 1);
  EXPECT_EQ(Stored(), "-3,60,50,50;MAX");
  WindowPos_Save(frame.get(), kSection, kKey, 0);
  EXPECT_EQ(Stored(), "-3,60,50,50");

  // The older save has no size check and no state.
  frame->SetWindowPos(0, 5, 6, 10, 20, 0);
  EXPECT_EQ(SavePosition(frame.get(), kSection, kKey), 1);
  EXPECT_EQ(Stored(), "5,6,10,20");
  std::ifstream file(ConfigDir() + "win.ini", std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  EXPECT_EQ(bytes.str(), "[Lindavox]\r\nquillet_pos=5,6,10,20\r\n");
}

TEST_F(PlacementTest, MissingNamesOrWindowsTouchNothing) {
  Store("1,2,300,400");
  EXPECT_EQ(SavePosition(frame.get(), kSection, nullptr), 0);
  WindowPos_Save(frame.get(), kSection, nullptr, 0);
  EXPECT_EQ(Stored(), "1,2,300,400");
  EXPECT_EQ(SavePosition(nullptr, kSection, kKey), 0);
  EXPECT_EQ(RestorePosition(nullptr, kSection, kKey, 350, 170, 0), 0);
  EXPECT_EQ(WindowPos_Restore(nullptr, kSection, kKey, 350, 170, 0, 0, 0), 0);
  EXPECT_EQ(WindowPos_Center(nullptr, 0), 0);
  // A null key reads as no placement.
  RestoreNewer();
  WindowPos_Restore(frame.get(), kSection, nullptr, 350, 170, 0, 0, 0);
  EXPECT_EQ(Bounds(), Rect(425, 400, 350, 170));
}

TEST_F(PlacementTest, CentringDialogs) {
  auto app = std::make_unique<TApplication>();
  app->AddDialog(
      DialogTemplate{1, WS_POPUP | WS_CAPTION, "D", "MS Sans Serif", 8, 0, 0, 100, 40, {}});
  TDialog dialog(nullptr, 1);
  ASSERT_TRUE(dialog.Create());
  dialog.SetWindowPos(0, 0, 0, 300, 101, 0);
  backend->SetMetric(SM_CYFULLSCREEN, 1000);
  EXPECT_EQ(WindowPos_Center(&dialog, 1), 1);
  EXPECT_EQ(dialog.GetWindowRect(), Rect(450, 250, 300, 101));
  // 20 / 2 + 1000 / 2 - 101 / 2 = 460.
  EXPECT_EQ(CenterDialog(&dialog), 1);
  EXPECT_EQ(dialog.GetWindowRect(), Rect(450, 460, 300, 101));
  dialog.SetWindowPos(0, 0, 0, 3000, 3000, 0);
  WindowPos_Center(&dialog, 0);
  EXPECT_EQ(dialog.GetWindowRect(), Rect(0, 0, 3000, 3000));
}

TEST(StartStateTest, RequestsMapToShowCommands) {
  using placement::StartStateFor;
  EXPECT_EQ(StartStateFor(std::nullopt, SW_SHOWNORMAL, true), SW_SHOWNORMAL);
  EXPECT_EQ(StartStateFor(SW_SHOWMAXIMIZED, 5, true), SW_SHOWNORMAL);
  EXPECT_EQ(StartStateFor(SW_SHOWMAXIMIZED, 5, false), SW_SHOWMAXIMIZED);
  EXPECT_EQ(StartStateFor(SW_SHOWMINNOACTIVE, 5, true), SW_HIDE);
  EXPECT_EQ(StartStateFor(SW_SHOWMINNOACTIVE, 5, false), SW_SHOWMINIMIZED);
  EXPECT_EQ(StartStateFor(SW_SHOWMINIMIZED, 5, false), 5);
  // No show request reaches a program here: the default stands.
  EXPECT_EQ(GetStartState(SW_SHOWDEFAULT, 1), SW_SHOWDEFAULT);
  EXPECT_EQ(GetStartState(SW_SHOWMAXIMIZED, 0), SW_SHOWMAXIMIZED);
}

}  // namespace
