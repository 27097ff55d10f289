// What every desktop shell promises the operator, shown through the shell's own window, menus
// and loop over a scripted Vk350: the start-up's boxes, the kind entries, Repeat, the Port
// menu's ticks, Esc, Exit, and a transfer under an open menu.
//
// A shell's test program includes this header once and defines makeShell(): its window and a
// Program over the given port and port list, worked as that desktop delivers input (menu
// highlights, commands and keys as its window gets them; boxes and choosers answered from a
// script, which remembers what they were given).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/commands.h"
#include "app/program.h"
#include "tests/support/files.h"
#include "tests/support/prompt_device.h"
#include "tests/support/quiet_console.h"
#include "transfer/frames.h"
#include "transfer/session_steps.h"

namespace morva::testing {

struct ShownBox {
  Message message;
  bool overWindow = false;  // owned by the main window
  bool windowUp = false;    // the main window was on the screen when the box came
};

class DesktopShell {
 public:
  virtual ~DesktopShell() = default;

  // Program::start through the shell: the port list, the menus, the window, one search.
  virtual int start() = 0;
  // The program as its main() runs it: start-up, the loop until the window has closed, then
  // shutdown; `inLoop` is done once from inside the loop. The exit status.
  virtual int run(const std::function<void()>& inLoop) = 0;
  virtual Program& program() = 0;

  // Input as the desktop delivers it: an item of a menu highlighted, a menu command, a key.
  virtual void highlight(MenuId menu, int position) = 0;
  virtual void command(int number) = 0;
  virtual void character(int code) = 0;

  // The shell's loop until `done` holds; false when a hang guard ended it first.
  virtual bool runUntil(const std::function<bool()>& done) = 0;
  struct UnderMenu {
    bool menuOpen = false;
    std::size_t boxes = 0;
  };
  // Opens the Action menu and runs the loop under it until `done` holds; notes whether the
  // menu is still open and how many boxes have come, then closes it.
  virtual UnderMenu runUnderOpenMenu(const std::function<bool()>& done) = 0;

  // What the window shows: itself, the Port menu's ticks, Repeat, repaints asked for.
  virtual bool windowShown() = 0;
  virtual bool portTicked(int portIndex) = 0;
  virtual bool repeatEnabled() = 0;
  virtual void forgetRepaints() = 0;
  virtual bool repaintAsked() = 0;

  virtual const std::vector<ShownBox>& boxes() = 0;
  virtual const std::vector<FileRequest>& fileRequests() = 0;
  // The file chooser's next answer; it is cancelled once they have run out.
  virtual void offerFile(const std::string& path) = 0;
};

std::unique_ptr<DesktopShell> makeShell(SerialPort& port, PortLister& lister);

// The device behind the first or second port, as devicesOn says.
class DesktopContract : public ::testing::Test, protected PromptDevice {
 protected:
#ifdef _WIN32
  const std::string first = "COM1", second = "COM2";
#else
  const std::string first = "/dev/ttyUSB0", second = "/dev/ttyUSB1";
#endif
  ListedPorts lister;
  ScratchDir folder;
  std::unique_ptr<DesktopShell> shell;

  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    lister.names = {first, second};
    shell = makeShell(port, lister);
  }
  void TearDown() override { shell.reset(); }

  // Started with the device behind the first port.
  void startWithDevice() {
    devicesOn = {first};
    ASSERT_EQ(shell->start(), 0);
    ASSERT_TRUE(port.isOpen());
  }
  // The chooser's next answer: a firmware file of `blocks` blocks.
  void offerImage(std::size_t blocks) {
    shell->offerFile(writeFile(folder / "image.upg", Bytes(blocks * blockSize, 0x5A)));
  }
  const SessionState& state() { return shell->program().state(); }
  bool running() { return sessionRunning(state().transferStep); }
};

TEST_F(DesktopContract, WithNoPortListedOnlyAnUnownedBoxIsShownAndNoWindow) {
  lister.names.clear();
  EXPECT_EQ(shell->run([] {}), exitNoPort);
  ASSERT_EQ(shell->boxes().size(), 1u);
  const ShownBox& box = shell->boxes()[0];
  EXPECT_EQ(box.message.text, "No serial port available !");
  EXPECT_EQ(box.message.caption, "What a pity !");
  EXPECT_EQ(box.message.icon, Icon::Warning);
  EXPECT_FALSE(box.overWindow);
  EXPECT_FALSE(box.windowUp);
  EXPECT_FALSE(shell->windowShown());
  EXPECT_TRUE(port.opened.empty());
}

TEST_F(DesktopContract, TheNotFoundBoxComesOverTheShownWindowOnceEveryPortWasProbed) {
  ASSERT_EQ(shell->start(), 0);
  ASSERT_EQ(shell->boxes().size(), 1u);
  const ShownBox& box = shell->boxes()[0];
  EXPECT_EQ(box.message.caption, "A problem :");
  EXPECT_EQ(box.message.text, "Vk350 not found !\nConnect and prepare device\nand try again.");
  EXPECT_EQ(box.message.icon, Icon::Warning);
  EXPECT_TRUE(box.overWindow);
  EXPECT_TRUE(box.windowUp);
  EXPECT_EQ(port.opened, (std::vector<std::string>{first, second}));
  EXPECT_FALSE(port.isOpen());
}

TEST_F(DesktopContract, TheDevicesPortStaysOpenAndTickedAndRepeatGrayed) {
  devicesOn = {second};
  ASSERT_EQ(shell->start(), 0);
  EXPECT_TRUE(shell->boxes().empty());
  EXPECT_TRUE(shell->windowShown());
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(port.name(), second);
  EXPECT_EQ(shell->program().link().portIndex, 1);
  EXPECT_TRUE(shell->portTicked(1));
  EXPECT_FALSE(shell->portTicked(0));
  EXPECT_TRUE(shell->program().menus().port.items[2].checked);
  EXPECT_FALSE(shell->program().menus().port.items[1].checked);
  EXPECT_FALSE(shell->repeatEnabled());
}

TEST_F(DesktopContract, OnlyTheKindEntriesOfTheActionMenuChooseTheKind) {
  startWithDevice();
  struct Case {
    std::vector<std::pair<MenuId, int>> highlights;
    DataKind kind;
    std::string filter;
  };
  const Case cases[] = {
      {{{MenuId::Action, 3}}, DataKind::FixtureLibraries, "Fixture libraries (*.lib)"},
      // Going back over "&Program" before choosing changes the kind again.
      {{{MenuId::Action, 3}, {MenuId::Action, 2}},
       DataKind::FirmwareUpgrade,
       "FirmWare upgrade (*.upg)"},
      // Command items (Stop, Font), the kinds' popup, the Port menu and the bar leave it alone.
      {{{MenuId::Action, 4},
        {MenuId::Action, 6},
        {MenuId::Action, 8},
        {MenuId::Choice, 2},
        {MenuId::Port, 2},
        {MenuId::Bar, 2}},
       DataKind::UserData,
       "User data (*.usr)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    for (auto [menu, position] : c.highlights) shell->highlight(menu, position);
    EXPECT_EQ(state().dataKind, c.kind);
    shell->command(CMD_WRITE);  // the chooser is cancelled
    ASSERT_FALSE(shell->fileRequests().empty());
    EXPECT_EQ(shell->fileRequests().back().filterDescription, c.filter);
  }
}

TEST_F(DesktopContract, ATransferCommandAsksForAFileAndEnablesRepeatEvenIfCancelled) {
  startWithDevice();
  ASSERT_FALSE(shell->repeatEnabled());
  shell->highlight(MenuId::Action, 4);
  shell->command(CMD_READ);
  ASSERT_EQ(shell->fileRequests().size(), 1u);
  EXPECT_EQ(shell->fileRequests()[0].title, "Choose file to write into :");
  EXPECT_EQ(shell->fileRequests()[0].filterPattern, "*.usr;*.bin");
  EXPECT_EQ(state().transferStep, TransferStep::Idle);
  EXPECT_TRUE(shell->repeatEnabled());
  EXPECT_FALSE(shell->program().menus().action.items[repeatPosition].grayed);
  shell->command(CMD_WRITE);
  EXPECT_EQ(shell->fileRequests().size(), 2u);
  EXPECT_TRUE(shell->repeatEnabled());
  EXPECT_TRUE(shell->boxes().empty());
}

TEST_F(DesktopContract, AChosenPortIsTickedAsSoonAsItOpensWithoutAProbe) {
  startWithDevice();
  const std::size_t operations = port.operations.size();
  shell->command(CMD_PORT_FIRST + 1);
  EXPECT_EQ(port.name(), second);
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(port.operations.size(), operations);  // nothing was asked of the device
  EXPECT_EQ(shell->program().link().portIndex, 1);
  EXPECT_FALSE(shell->portTicked(0));
  EXPECT_TRUE(shell->portTicked(1));
  EXPECT_TRUE(shell->boxes().empty());
}

// The Port menu's items are checkable: clicking one ticks it, but the program decides.
TEST_F(DesktopContract, APortThatCannotBeOpenedOrConfiguredIsLeftUnticked) {
  struct Case {
    bool opens;
    const char* text;
  };
  for (const Case& c :
       {Case{false, "Port open error !"}, Case{true, "Port configuration error !"}}) {
    SCOPED_TRACE(c.text);
    shell.reset();
    shell = makeShell(port, lister);
    startWithDevice();
    (c.opens ? port.unconfigurable : port.unopenable) = {second};
    shell->command(CMD_PORT_FIRST + 1);
    ASSERT_EQ(shell->boxes().size(), 1u);
    EXPECT_EQ(shell->boxes()[0].message.text, c.text);
    EXPECT_EQ(shell->boxes()[0].message.caption, "Warning");
    EXPECT_TRUE(shell->boxes()[0].overWindow);
    EXPECT_FALSE(shell->portTicked(0));
    EXPECT_FALSE(shell->portTicked(1));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(shell->program().link().portIndex, 1);
    port.unopenable.clear();
    port.unconfigurable.clear();
  }
}

TEST_F(DesktopContract, EscStopsTheTransferAndOtherCharactersOnlyRepaint) {
  startWithDevice();
  pendingPolls = 1 << 30;  // the device owes every answer: the session stays under way
  offerImage(4);
  shell->command(CMD_VERIFY);
  ASSERT_TRUE(running());
  struct Case {
    int code;
    bool runningAfter;
    int purges;
  };
  for (const Case& c : {Case{'a', true, 0}, Case{13, true, 0}, Case{escapeCharacter, false, 1}}) {
    SCOPED_TRACE(c.code);
    shell->forgetRepaints();
    const int purges = port.purges;
    shell->character(c.code);
    EXPECT_EQ(running(), c.runningAfter);
    EXPECT_EQ(port.purges - purges, c.purges);
    EXPECT_TRUE(shell->repaintAsked());
  }
  EXPECT_EQ(state().outcome, SessionOutcome::Stopped);
  EXPECT_TRUE(shell->boxes().empty());
}

TEST_F(DesktopContract, ExitEndsTheProgramWithStatusZeroWithoutAQuestionEvenDuringATransfer) {
  devicesOn = {first};
  bool wasRunning = false;
  int purges = 0;
  const int status = shell->run([&] {
    offerImage(512);
    shell->command(CMD_WRITE);
    wasRunning = running();
    purges = port.purges;
    shell->command(CMD_EXIT);
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(wasRunning);
  EXPECT_FALSE(shell->windowShown());
  EXPECT_FALSE(port.isOpen());
  EXPECT_GT(port.purges, purges);
  EXPECT_TRUE(shell->boxes().empty());
}

// With the Action menu open the write goes on to the frame the device refuses; the failure's
// box waits until the menu has closed.
TEST_F(DesktopContract, UnderAnOpenMenuTheTransferGoesOnAndItsBoxWaitsForTheMenuToClose) {
  startWithDevice();
  refuseFrame = 30;
  offerImage(512);
  shell->command(CMD_WRITE);
  ASSERT_TRUE(running());
  const auto underMenu =
      shell->runUnderOpenMenu([&] { return state().outcome != SessionOutcome::Running; });
  EXPECT_EQ(state().outcome, SessionOutcome::Failed);
  EXPECT_EQ(dataFrames.size(), 30u);
  EXPECT_TRUE(underMenu.menuOpen) << "the menu had closed before the session ended";
  EXPECT_EQ(underMenu.boxes, 0u) << "a box came over the open menu";
  ASSERT_TRUE(shell->runUntil([&] { return !shell->boxes().empty(); }));
  ASSERT_EQ(shell->boxes().size(), 1u);
  EXPECT_EQ(shell->boxes()[0].message.text, "Transmission error : got NAK");
  EXPECT_EQ(shell->boxes()[0].message.caption, "Fail");
  EXPECT_TRUE(shell->boxes()[0].overWindow);
}

}  // namespace morva::testing
