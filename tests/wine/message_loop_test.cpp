// The main window and the message loop driving a Program over a scripted device: start-up,
// the menus' highlights and commands, keys, paint, an idle loop, a whole write, and the steps
// that come while a box or a menu is up.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/commands.h"
#include "frontends/win32/message_loop.h"
#include "tests/wine/win32_desktop.h"

namespace morva::testing {
namespace {

TEST_F(DesktopTest, StartUpShowsTheWindowWithItsMenusAndTicksThePortFound) {
  ASSERT_EQ(start(), 0);
  ASSERT_NE(handle(), nullptr);
  EXPECT_TRUE(IsWindowVisible(handle()));
  char title[100] = {};
  GetWindowTextA(handle(), title, sizeof title);
  EXPECT_STREQ(title, "Vk350 Morva communication program");
  char className[100] = {};
  GetClassNameA(handle(), className, sizeof className);
  EXPECT_STREQ(className, "Morva<->PC");
  EXPECT_EQ(GetMenu(handle()), window->menus().bar);
  EXPECT_TRUE(menuState(ports(), 1) & MF_CHECKED);
  EXPECT_FALSE(menuState(ports(), 2) & MF_CHECKED);
  EXPECT_TRUE(menuState(action(), 0) & MF_GRAYED);
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DesktopTest, NoPortShowsOnlyAnUnownedBoxAndNoWindow) {
  EXPECT_EQ(start({}), exitNoPort);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].message.text, "No serial port available !");
  EXPECT_EQ(dialogs.shown[0].owner, nullptr);
  EXPECT_EQ(handle(), nullptr);
}

TEST_F(DesktopTest, NotFoundBoxIsOwnedByTheShownWindow) {
  bool visibleAtBox = false;
  dialogs.onMessage = [&](const Message&) { visibleAtBox = IsWindowVisible(handle()); };
  ASSERT_EQ(start({"COM2"}), 0);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].message.caption, "A problem :");
  EXPECT_EQ(dialogs.shown[0].owner, handle());
  EXPECT_TRUE(visibleAtBox);
}

TEST_F(DesktopTest, OnlyTheKindEntriesOfTheActionPopupChooseTheKind) {
  ASSERT_EQ(start(), 0);
  auto highlight = [&](HMENU menu, int item, UINT flags) {
    return send(WM_MENUSELECT, MAKEWPARAM(item, flags), reinterpret_cast<LPARAM>(menu));
  };
  EXPECT_EQ(highlight(action(), 3, MF_POPUP | MF_HILITE), 0);
  EXPECT_EQ(program->state().dataKind, DataKind::FixtureLibraries);
  highlight(window->menus().choice, 4, MF_HILITE);  // not an entry of the Action popup
  highlight(action(), CMD_STOP, MF_HILITE);
  highlight(GetMenu(handle()), 2, MF_POPUP | MF_HILITE);
  EXPECT_EQ(program->state().dataKind, DataKind::FixtureLibraries);
  highlight(action(), 4, MF_POPUP | MF_HILITE);
  EXPECT_EQ(program->state().dataKind, DataKind::UserData);
  highlight(action(), 2, MF_POPUP | MF_HILITE);
  EXPECT_EQ(program->state().dataKind, DataKind::FirmwareUpgrade);
}

TEST_F(DesktopTest, ATransferCommandAsksForAFileAndEnablesRepeat) {
  ASSERT_EQ(start(), 0);
  send(WM_MENUSELECT, MAKEWPARAM(4, MF_POPUP | MF_HILITE), reinterpret_cast<LPARAM>(action()));
  EXPECT_EQ(send(WM_COMMAND, CMD_READ), 0);  // the chooser is cancelled
  ASSERT_EQ(dialogs.fileRequests.size(), 1u);
  EXPECT_EQ(dialogs.fileRequests[0].title, "Choose file to write into :");
  EXPECT_EQ(dialogs.fileRequests[0].filterPattern, "*.usr;*.bin");
  EXPECT_FALSE(menuState(action(), 0) & MF_GRAYED);
}

TEST_F(DesktopTest, PortCommandsMoveTheTick) {
  ASSERT_EQ(start(), 0);
  send(WM_COMMAND, CMD_PORT_FIRST + 1);
  EXPECT_FALSE(menuState(ports(), 1) & MF_CHECKED);
  EXPECT_TRUE(menuState(ports(), 2) & MF_CHECKED);
  port.unopenable = {"COM1"};
  send(WM_COMMAND, CMD_PORT_FIRST);
  EXPECT_FALSE(menuState(ports(), 1) & MF_CHECKED);
  EXPECT_FALSE(menuState(ports(), 2) & MF_CHECKED);
  ASSERT_FALSE(dialogs.shown.empty());
  EXPECT_EQ(dialogs.shown.back().message.text, "Port open error !");
  EXPECT_EQ(dialogs.shown.back().owner, handle());
}

TEST_F(DesktopTest, EscapeStopsTheTransferAndOtherCharactersOnlyRepaint) {
  ASSERT_EQ(start(), 0);
  dialogs.files.push_back(FileChoice{imageFile("image.upg", 1024), false});
  send(WM_COMMAND, CMD_VERIFY);
  ASSERT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  ValidateRect(handle(), nullptr);
  send(WM_CHAR, 'a');
  EXPECT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  EXPECT_TRUE(GetUpdateRect(handle(), nullptr, FALSE));
  send(WM_CHAR, escapeCharacter);
  EXPECT_EQ(program->state().transferStep, TransferStep::Idle);
  EXPECT_EQ(program->state().outcome, SessionOutcome::Stopped);
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

// With the Action menu open the write goes on to the frame the device refuses; the failure's
// box waits until the menu has closed.
TEST_F(DesktopTest, WithAMenuOpenTheTransferGoesOnAndItsBoxWaitsForTheMenuToClose) {
  ASSERT_EQ(start(), 0);
  refuseFrame = 30;
  dialogs.files.push_back(FileChoice{imageFile("image.upg", 512 * 256), false});
  send(WM_COMMAND, CMD_WRITE);
  ASSERT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  int menusAtEnd = 0;
  std::size_t boxesAtEnd = 1;
  const auto until = Clock::now() + 30s;
  // Runs inside the menu's own loop: once the session has ended (or a guard ran out), notes
  // what stands and closes the menu.
  timerAction() = [&] {
    if (program->state().outcome == SessionOutcome::Running && Clock::now() < until) return;
    menusAtEnd = openMenus();
    boxesAtEnd = dialogs.shown.size();
    EndMenu();
  };
  const UINT_PTR timer = SetTimer(nullptr, 0, 5, onTimer);
  SendMessageA(handle(), WM_SYSCOMMAND, SC_KEYMENU, 'a');  // returns once the menu has closed
  KillTimer(nullptr, timer);
  timerAction() = nullptr;
  EXPECT_EQ(program->state().outcome, SessionOutcome::Failed);
  EXPECT_EQ(dataFrames.size(), 30u);
  EXPECT_GT(menusAtEnd, 0) << "the menu had closed before the session ended";
  EXPECT_EQ(boxesAtEnd, 0u) << "a box came over the open menu";
  drainQueue();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].message.text, "Transmission error : got NAK");
  EXPECT_EQ(dialogs.shown[0].owner, handle());
}

TEST_F(DesktopTest, ExitEndsTheLoopWithStatusZeroAndTheWindowGone) {
  ASSERT_EQ(start(), 0);
  PostMessageA(handle(), WM_COMMAND, CMD_EXIT, 0);
  EXPECT_EQ(win32::runMessageLoop(*window, *program), 0);
  EXPECT_EQ(handle(), nullptr);
  EXPECT_EQ(window->menus().bar, nullptr);
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
