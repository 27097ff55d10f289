// The main window and the message loop driving a Program over a scripted device: start-up,
// paint, an idle loop, a whole write, and the steps that come while a box is up.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/commands.h"
#include "frontends/win32/message_loop.h"
#include "tests/wine/win32_desktop.h"

namespace morva::testing {
namespace {

TEST_F(DesktopTest, StartUpShowsTheWindowOfItsClassWithItsTitleAndMenuBar) {
  ASSERT_EQ(start(), 0);
  ASSERT_NE(handle(), nullptr);
  char title[100] = {};
  GetWindowTextA(handle(), title, sizeof title);
  EXPECT_STREQ(title, "Vk350 Morva communication program");
  char className[100] = {};
  GetClassNameA(handle(), className, sizeof className);
  EXPECT_STREQ(className, "Morva<->PC");
  EXPECT_EQ(GetMenu(handle()), window->menus().bar);
}

TEST_F(DesktopTest, PaintPlacesTheLineBandsByTheFontAndTheEngineRepaintsThem) {
  ASSERT_EQ(start(), 0);
  InvalidateRect(handle(), nullptr, TRUE);
  UpdateWindow(handle());
  HDC screen = GetDC(handle());
  const LOGFONTA description = window->logFontFor(program->displayFont());
  HFONT font = CreateFontIndirectA(&description);
  HGDIOBJ previous = SelectObject(screen, font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(screen, &metrics);
  SelectObject(screen, previous);
  DeleteObject(font);
  ReleaseDC(handle(), screen);
  const int h = metrics.tmHeight;
  const int w = metrics.tmAveCharWidth;
  ASSERT_GT(h, 0);
  EXPECT_EQ(window->lineRects().statusLineRect, (Rect{10, 3 * h + 4, 42 * w + 4, 4 * h + 4}));
  EXPECT_EQ(window->lineRects().blockLineRect, (Rect{10, h + 4, 42 * w + 4, 3 * h + 4}));

  window->invalidate(Area::StatusLine, true);
  RECT update{};
  ASSERT_TRUE(GetUpdateRect(handle(), &update, FALSE));
  EXPECT_EQ((Rect{update.left, update.top, update.right, update.bottom}),
            window->lineRects().statusLineRect);
}

TEST_F(DesktopTest, AnIdleLoopPostsNoStepAndSleeps) {
  ASSERT_EQ(start(), 0);
  win32::LoopCounts counts;
  const auto until = Clock::now() + 200ms;
  EXPECT_EQ(loopUntil([&] { return Clock::now() > until; }, &counts), 0);
  EXPECT_EQ(counts.stepsPosted, 0);
  // One wake for each timer tick and paint, give or take; a spinning loop wakes millions.
  EXPECT_LT(counts.waits, 200);
}

TEST_F(DesktopTest, TheLoopCarriesAWriteToItsEndWaitingOnThePort) {
  ASSERT_EQ(start(), 0);
  const std::string image = imageFile("image.upg", 512 * 256);
  dialogs.files.push_back(FileChoice{image, false});
  send(WM_COMMAND, CMD_WRITE);
  ASSERT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  win32::LoopCounts counts;
  const int status =
      loopUntil([&] { return program->state().outcome != SessionOutcome::Running; }, &counts);
  ASSERT_EQ(status, 0) << "the session did not end";
  EXPECT_EQ(program->state().outcome, SessionOutcome::Completed);
  ASSERT_EQ(dataFrames.size(), 512u);
  EXPECT_EQ(dataFrames[511][0], 0x5A);
  // Every operation was pending once: the loop slept on the port instead of posting again.
  EXPECT_GT(counts.portWakes, 1000);
  EXPECT_GE(counts.waits, counts.portWakes);
  EXPECT_GT(counts.stepsPosted, 2000);
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DesktopTest, AStepThatArrivesWhileABoxIsUpIsDroppedAndPostedAgainLater) {
  ASSERT_EQ(start(), 0);
  // The WakeUp is sent at once: a step 1 that ran would start reading the identification.
  pendingPolls = 0;
  dialogs.files.push_back(FileChoice{imageFile("image.upg", 512 * 256), false});
  send(WM_COMMAND, CMD_VERIFY);
  ASSERT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  const auto step = program->stepToPost(false);
  ASSERT_TRUE(step.has_value());
  PostMessageA(handle(), WM_USER, static_cast<WPARAM>(*step), 0);
  std::size_t operationsDuringBox = 0;
  dialogs.onMessage = [&](const Message&) {
    const std::size_t before = port.operations.size();
    drainQueue();  // the box's own message loop
    operationsDuringBox = port.operations.size() - before;
  };
  Message about;
  about.text = "A box";
  window->showMessage(about);
  dialogs.onMessage = nullptr;
  EXPECT_EQ(operationsDuringBox, 0u);
  EXPECT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  // Once the box has gone, the loop posts the step again: the session reads on. Its first
  // operation is the one looked at; the loop may have run further steps before it stopped.
  const std::size_t operations = port.operations.size();
  ASSERT_EQ(loopUntil([&] { return port.operations.size() > operations; }), 0);
  EXPECT_TRUE(port.operations[operations].isRead);
}

TEST(MessageLoopTest, WaitsAreWholeMillisecondsUpToAQuarterSecond) {
  const auto now = Clock::now();
  EXPECT_EQ(win32::waitMilliseconds(now - 5ms, now), 0u);
  EXPECT_EQ(win32::waitMilliseconds(now, now), 0u);
  EXPECT_EQ(win32::waitMilliseconds(now + 1200us, now), 2u);
  EXPECT_EQ(win32::waitMilliseconds(now + 40ms, now), 40u);
  EXPECT_EQ(win32::waitMilliseconds(now + 10s, now), 250u);
  EXPECT_EQ(win32::waitMilliseconds(Clock::time_point::max(), now), 250u);
}

}  // namespace
}  // namespace morva::testing
