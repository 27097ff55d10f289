// Whole sessions from the menus against the simulated Vk350 on a pseudo-terminal, through the
// real serial port and the idle-driven step loop.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <optional>

#include "app/commands.h"
#include "frontends/qt/front_end.h"
#include "platform/posix/file_service.h"
#include "platform/posix/serial_port.h"
#include "sim/simulator.h"
#include "tests/qt/qt_support.h"
#include "tests/support/files.h"
#include "tests/support/quiet_console.h"
#include "transfer/frames.h"

namespace morva::testing {
namespace {

// The real serial port with the line's time-outs stretched tenfold. The simulated device shares
// a loaded machine with the PC: an answer it was late to give for want of a processor must not
// become a time-out (120 ms for an ACK). These sessions are about the loop and the boxes; the
// time-outs have tests of their own.
class UnhurriedPort : public PosixSerialPort {
 public:
  bool configure(const Timeouts& line) override {
    return PosixSerialPort::configure({line.perByte * 10, line.interval * 10});
  }
};

class SessionTest : public ::testing::Test {
 protected:
  sim::Simulator simulator;
  UnhurriedPort port;
  PosixFileService files;
  ListedPorts lister;
  ScratchDir dir;
  std::optional<qt::FrontEnd> frontEnd;

  void SetUp() override {
    ensureApplication();
    simulator.memory().assign(randomBytes(sim::MemoryImage::byteCount, 9));
  }

  void start(qt::Dialogs& dialogs) {
    ProgramOptions options;
    options.extraPorts = {simulator.portPath()};
    options.files = &files;
    frontEnd.emplace(dialogs, port, lister, options);
    ASSERT_EQ(frontEnd->start(), 0);
    ASSERT_TRUE(port.isOpen()) << "the simulated device was not found";
  }
  void TearDown() override {
    if (frontEnd) frontEnd->program().shutdown();
  }

  // As the operator: highlight the kind entry, then choose the direction from its popup.
  void choose(int kindPosition, int command) {
    frontEnd->window().itemAction(MenuId::Action, kindPosition)->hover();
    frontEnd->window().commandAction(command)->trigger();
  }
  const SessionState& state() { return frontEnd->program().state(); }
  // The device's memory from block `first` on.
  Bytes deviceBlocks(std::size_t first, std::size_t count) {
    return slice(simulator.memory().snapshot(), first * blockSize, count * blockSize);
  }
};

TEST_F(SessionTest, WriteFromTheMenusPutsTheFileIntoTheDevice) {
  ScriptedDialogs dialogs;
  const Bytes image = randomBytes(384 * blockSize, 5);
  dialogs.files.push_back(FileChoice{dir.file("scanners.lib", &image), false});
  start(dialogs);

  choose(3, CMD_WRITE);  // "Scanner &libraries", then "&Write to Vk350"
  ASSERT_EQ(state().transferStep, TransferStep::AwaitWakeUpSent);
  ASSERT_TRUE(runUntil([&] { return state().transferStep == TransferStep::Idle; }));

  EXPECT_EQ(state().outcome, SessionOutcome::Completed);
  EXPECT_TRUE(dialogs.shown.empty()) << dialogs.texts().front();
  EXPECT_EQ(dialogs.fileRequests.at(0).filterDescription, "Fixture libraries (*.lib)");
  EXPECT_EQ(state().firmwareVersionText, "2.05");
  EXPECT_EQ(deviceBlocks(512, 384), image);
  // The handshake and at least six steps a block; once the session ended, nothing more runs.
  const long steps = frontEnd->driver().stepsRun();
  EXPECT_GE(steps, 2 + 6 * 384);
  int idlePasses = 0;
  auto counter = QObject::connect(QAbstractEventDispatcher::instance(),
                                  &QAbstractEventDispatcher::aboutToBlock, [&] { ++idlePasses; });
  ASSERT_TRUE(runUntil([&] { return idlePasses >= 20; }));
  QObject::disconnect(counter);
  EXPECT_EQ(frontEnd->driver().stepsRun(), steps);
}

// Opens a real message box, the About box, while a read waits on the device. The box stays
// up for a number of the event loop's idle passes and until `mayClose` holds; a hang guard
// answers it anyway after a minute.
class BoxOpeningDialogs : public ScriptedDialogs {
 public:
  std::function<void()> onOpen;  // once, when the box has become the active modal window
  std::function<bool()> mayClose = [] { return true; };
  long stepsAtOpen = -1;
  long stepsAtClose = -1;
  int idlePassesOpen = 0;
  bool closedByGuard = false;
  const qt::StepDriver* driver = nullptr;

  Answer showMessage(QWidget* owner, const Message& message) override {
    if (message.caption != "About") return ScriptedDialogs::showMessage(owner, message);
    auto box = qt::makeMessageBox(message, owner);
    auto counter = QObject::connect(QAbstractEventDispatcher::instance(),
                                    &QAbstractEventDispatcher::aboutToBlock,
                                    [&] { idlePassesOpen += box->isVisible() ? 1 : 0; });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
      closedByGuard = true;
      box->reject();
    });
    QTimer tick;
    tick.setInterval(2);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      if (QApplication::activeModalWidget() != box.get()) return;
      if (stepsAtOpen < 0) {
        stepsAtOpen = driver->stepsRun();
        guard.start(60000);
        if (onOpen) onOpen();
      }
      if (idlePassesOpen < 30 || !mayClose()) return;
      stepsAtClose = driver->stepsRun();
      box->accept();
    });
    tick.start();
    box->exec();
    QObject::disconnect(counter);
    shown.push_back({message, owner});
    return Answer::Ok;
  }
};

int bytesWaiting(int descriptor) {
  int count = 0;
  return ioctl(descriptor, FIONREAD, &count) == 0 ? count : -1;
}

TEST_F(SessionTest, NoStepRunsWhileABoxIsOpenAndTheTransferResumesAfterIt) {
  // The device keeps block 40's data frame back until the box is up: the box opens mid-read
  // whatever the machine's speed (the PC waits at least half a minute for a frame that has
  // not begun), and the frame reaches the port while the box is open.
  simulator.setFaults({*sim::parseFault("hold@data:40/once")});
  BoxOpeningDialogs dialogs;
  const Bytes stored = deviceBlocks(0, 512);
  const std::string target = dir.file("firmware.upg");
  dialogs.files.push_back(FileChoice{target, false});
  start(dialogs);
  dialogs.driver = &frontEnd->driver();
  dialogs.onOpen = [&] { simulator.release(); };
  dialogs.mayClose = [&] { return bytesWaiting(port.descriptor()) >= int{dataFrameSize}; };

  choose(2, CMD_READ);
  ASSERT_TRUE(runUntil([&] { return simulator.holdsReached() > 0; }));
  ASSERT_EQ(state().currentBlock, 40);
  ASSERT_NE(state().transferStep, TransferStep::Idle);
  frontEnd->window().commandAction(CMD_ABOUT)->trigger();

  ASSERT_GE(dialogs.stepsAtOpen, 0) << "the box never became the modal window";
  EXPECT_FALSE(dialogs.closedByGuard) << "the held frame never reached the port";
  EXPECT_GE(dialogs.idlePassesOpen, 30);
  EXPECT_EQ(dialogs.stepsAtClose, dialogs.stepsAtOpen);
  ASSERT_TRUE(runUntil([&] { return state().transferStep == TransferStep::Idle; }));
  EXPECT_EQ(state().outcome, SessionOutcome::Completed);
  EXPECT_EQ(dialogs.shown.size(), 1u) << dialogs.texts().back();  // the About box alone
  EXPECT_EQ(readFile(target), stored);
}

// With a menu open the transfer goes on, and the box of a failure meanwhile waits until the
// menu has closed.
TEST_F(SessionTest, AMenuOpenDuringATransferKeepsItGoingAndItsBoxWaiting) {
  simulator.setFaults({*sim::parseFault("nak@command:100/once")});
  ScriptedDialogs dialogs;
  dialogs.files.push_back(FileChoice{dir.file("firmware.upg"), false});
  start(dialogs);
  choose(2, CMD_READ);
  ASSERT_NE(state().transferStep, TransferStep::Idle);
  QMenu* action = frontEnd->window().menu(MenuId::Action);
  action->popup(QPoint(10, 10));
  ASSERT_TRUE(action->isVisible());
  ASSERT_TRUE(runUntil([&] { return state().outcome != SessionOutcome::Running; }));
  EXPECT_EQ(state().outcome, SessionOutcome::Failed);
  EXPECT_EQ(state().currentBlock, 100) << "the blocks before the refused command went on";
  EXPECT_TRUE(action->isVisible());
  EXPECT_TRUE(dialogs.shown.empty()) << dialogs.texts().front();
  action->hide();
  ASSERT_TRUE(runUntil([&] { return !dialogs.shown.empty(); }, 10000));
  EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Fail: Acknowledgment error : got NAK"});
}

TEST_F(SessionTest, ReadThenVerifyFromTheMenus) {
  ScriptedDialogs dialogs;
  const Bytes stored = deviceBlocks(896, 3200);
  const std::string target = dir.file("user.usr");
  dialogs.files.push_back(FileChoice{target, false});
  start(dialogs);

  choose(4, CMD_READ);
  ASSERT_TRUE(runUntil([&] { return state().transferStep == TransferStep::Idle; }));
  EXPECT_EQ(state().outcome, SessionOutcome::Completed);
  EXPECT_EQ(readFile(target), stored);

  // Repeat takes the same file, now to verify it against the device.
  frontEnd->window().commandAction(CMD_VERIFY)->trigger();  // cancelled: sets the direction
  frontEnd->window().commandAction(CMD_REPEAT)->trigger();
  ASSERT_TRUE(runUntil([&] { return state().transferStep == TransferStep::Idle; }));
  EXPECT_EQ(state().outcome, SessionOutcome::Completed);
  EXPECT_EQ(state().differences, 0u);
  EXPECT_TRUE(dialogs.shown.empty()) << dialogs.texts().front();
}

}  // namespace
}  // namespace morva::testing
