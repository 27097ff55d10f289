#include <gtest/gtest.h>

#include <sstream>

#include "app/help.h"
#include "record/session_log.h"
#include "tests/app/program_fixture.h"

namespace morva::testing {
namespace {

using CommandsTest = ProgramTest;

TEST_F(CommandsTest, ChosenDirectionAndHighlightedKindStartTheSession) {
  startWithDevice();
  struct Case {
    int position;
    int command;
    Direction direction;
    DataKind kind;
    const char* file;
  };
  const Case cases[] = {
      {3, CMD_WRITE, Direction::WriteToDevice, DataKind::FixtureLibraries, "a.lib"},
      {4, CMD_VERIFY, Direction::Verify, DataKind::UserData, "b.bin"},
      {2, CMD_READ, Direction::ReadFromDevice, DataKind::FirmwareUpgrade, "new.upg"},
  };
  for (const Case& c : cases) {
    if (c.direction == Direction::ReadFromDevice)
      desktop.op.fileChoices.push_back(FileChoice{(dir.path() / c.file).string(), false});
    else
      offerFile(c.file);
    program->menuSelect(MenuId::Action, c.position);
    program->command(c.command);
    EXPECT_EQ(state().transferStep, TransferStep::AwaitWakeUpSent) << c.file;
    EXPECT_EQ(state().direction, c.direction);
    EXPECT_EQ(state().sessionKind, c.kind);
    // The kind highlighted while the session runs is the next session's, not this one's.
    program->menuSelect(MenuId::Action, c.position == 2 ? 3 : 2);
    EXPECT_EQ(state().sessionKind, c.kind);
  }
  EXPECT_TRUE(desktop.op.messages.empty()) << desktop.op.shown().front();
}

TEST_F(CommandsTest, DirectionIsTakenEvenWhenNoPortCanBeMadeReady) {
  ASSERT_EQ(start({"/dev/ttyUSB0"}), 0);
  port.unopenable = {"/dev/ttyUSB0"};
  forget();
  program->command(CMD_VERIFY);
  EXPECT_EQ(state().direction, Direction::Verify);
  EXPECT_EQ(captions(), (std::vector<std::string>{"Warning", "A problem :"}));
  EXPECT_TRUE(desktop.op.fileRequests.empty());
  EXPECT_TRUE(program->menus().action.items[repeatPosition].grayed);
  EXPECT_FALSE(desktop.repeatEnabled);
}

TEST_F(CommandsTest, RepeatTakesTheLastDirectionTheKindHighlightedLastAndTheLastFile) {
  startWithDevice();
  const std::string file = offerFile("image.upg", 3 * 256);
  program->menuSelect(MenuId::Action, 2);
  program->command(CMD_VERIFY);
  program->command(CMD_STOP);
  forget();

  program->menuSelect(MenuId::Action, 4);
  program->command(CMD_REPEAT);
  EXPECT_TRUE(desktop.op.fileRequests.empty());
  EXPECT_EQ(state().transferStep, TransferStep::AwaitWakeUpSent);
  EXPECT_EQ(state().direction, Direction::Verify);
  EXPECT_EQ(state().sessionKind, DataKind::UserData);
  EXPECT_EQ(state().firstBlock, 896);
  EXPECT_EQ(state().fileName, file);
}

// A Repeat of a write into another kind's blocks than the file was chosen for must pass the
// extension rule; a Repeat of the same kind, a read and a verification take the file as it is.
TEST_F(CommandsTest, ARepeatedWriteIntoAnotherKindMustPassTheExtensionRule) {
  constexpr int program = 2, libraries = 3, user = 4;
  struct Case {
    const char* file;
    int chosenUnder;
    int command;
    bool extensionDifferent;  // as the chooser reports it
    int repeatedUnder;
    bool started;
  };
  const Case cases[] = {
      {"fw.upg", program, CMD_WRITE, false, user, false},
      {"fw.upg", program, CMD_WRITE, false, program, true},
      {"fw.lib", program, CMD_WRITE, true, program, true},  // refused once, repeated as it is
      {"show.bin", user, CMD_WRITE, true, libraries, false},
      {"scanners.lib", libraries, CMD_WRITE, false, program, false},
      {"fw.lib", program, CMD_WRITE, true, libraries, true},  // now its own kind's extension
      {"fw.upg", program, CMD_VERIFY, false, user, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + std::string(" repeated under ") + std::to_string(c.repeatedUnder));
    startWithDevice();
    const Bytes image(3 * 256, 0x5a);
    const std::string file = dir.file(c.file, &image);
    desktop.op.fileChoices.push_back(FileChoice{file, c.extensionDifferent});
    this->program->menuSelect(MenuId::Action, c.chosenUnder);
    this->program->command(c.command);
    this->program->command(CMD_STOP);
    this->program->menuSelect(MenuId::Action, c.repeatedUnder);
    for (int repeat = 0; repeat < 2; ++repeat) {
      forget();
      const std::size_t operations = port.operations.size();
      this->program->command(CMD_REPEAT);
      EXPECT_EQ(sessionRunning(state().transferStep), c.started);
      EXPECT_EQ(state().fileName, file);
      if (c.started) break;
      EXPECT_EQ(desktop.op.shown(),
                std::vector<std::string>{"Warning: Don't change file extension !"});
      EXPECT_EQ(desktop.op.messages.at(0).icon, Icon::Error);
      EXPECT_EQ(port.operations.size(), operations) << "something was sent";
    }
  }
}

// Repeat takes the last file as it stands: its checks again (the overwrite question), but no
// chooser; the command after it chooses again.
TEST_F(CommandsTest, RepeatReusesTheLastFileOnlyForItself) {
  startWithDevice();
  const Bytes old(256, 0x5a);
  const std::string file = dir.file("old.upg", &old);
  desktop.op.fileChoices = {FileChoice{file, false}, FileChoice{file, false}};
  desktop.op.answers = {Answer::Yes, Answer::Yes, Answer::Yes};
  program->command(CMD_READ);  // asks to overwrite the existing file
  program->command(CMD_REPEAT);
  EXPECT_EQ(desktop.op.fileRequests.size(), 1u);
  EXPECT_EQ(desktop.op.messages.size(), 2u);
  EXPECT_EQ(state().transferStep, TransferStep::AwaitWakeUpSent);
  program->command(CMD_READ);
  EXPECT_EQ(desktop.op.fileRequests.size(), 2u);
}

TEST_F(CommandsTest, AfterARepeatWithoutPortTheNextStartAsksForAFile) {
  startWithDevice();
  port.unopenable = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
  program->command(CMD_REPEAT);
  EXPECT_EQ(captions(), (std::vector<std::string>{"Warning", "A problem :"}));
  port.unopenable.clear();
  program->command(CMD_WRITE);
  EXPECT_EQ(desktop.op.fileRequests.size(), 1u);
}

// What a key repaints: every key the whole window; Esc first the band of the session it
// stopped, and the Stop command's whole window, before the key's own.
TEST_F(CommandsTest, EscRepaintsTheStoppedSessionsBandBeforeTheWindow) {
  startWithDevice();
  const Invalidation window{Area::Window, true}, band{Area::BlockLine, true};
  struct Case {
    int code;
    std::vector<Invalidation> repaints;
  };
  for (const Case& c : {Case{'a', {window}}, Case{13, {window}}, Case{27, {band, window, window}}}) {
    startWrite();
    program->character(c.code);
    EXPECT_EQ(desktop.op.invalidations, c.repaints) << c.code;
  }
}

TEST_F(CommandsTest, StopEndsTheSessionButKeepsItsFileOpen) {
  startWithDevice();
  startWrite();
  const int purges = port.purges;
  EXPECT_TRUE(program->command(CMD_STOP));
  EXPECT_EQ(state().transferStep, TransferStep::Idle);
  EXPECT_EQ(state().outcome, SessionOutcome::Stopped);
  EXPECT_EQ(port.purges, purges + 1);
  EXPECT_TRUE(state().sourceFile.isOpen());
  EXPECT_TRUE(port.isOpen());
  EXPECT_TRUE(port.writes().size() == 1 && port.writes()[0] == std::vector<std::uint8_t>{ESC})
      << "nothing but the WakeUp went to the device";
  EXPECT_EQ(desktop.op.invalidations,
            (std::vector<Invalidation>{{Area::BlockLine, true}, {Area::Window, true}}));
}

TEST_F(CommandsTest, StopWhileIdlePurgesAnOpenPortAndRepaints) {
  startWithDevice();
  int purges = port.purges;
  program->command(CMD_STOP);
  EXPECT_EQ(port.purges, purges + 1);
  EXPECT_TRUE(desktop.op.messages.empty());
  EXPECT_EQ(state().outcome, SessionOutcome::None);
  port.close();
  purges = port.purges;
  program->command(CMD_STOP);
  EXPECT_EQ(port.purges, purges);  // no port open: nothing to purge
  EXPECT_EQ(desktop.op.invalidations.size(), 2u);
}

TEST_F(CommandsTest, AboutNamesTheProgramAndItsVersion) {
  startWithDevice();
  program->command(CMD_ABOUT);
  ASSERT_EQ(desktop.op.messages.size(), 1u);
  const Message& box = desktop.op.messages[0];
  EXPECT_NE(box.text.find("Vk350 Morva communication program"), std::string::npos);
  EXPECT_NE(box.text.find(programVersionText()), std::string::npos);
  EXPECT_NE(programVersionText(), "Morva ");
  EXPECT_EQ(box.icon, Icon::Information);
  EXPECT_TRUE(box.owned);
}

TEST_F(CommandsTest, FontChooserStartsFromTheDisplayFontAndCancelKeepsIt) {
  startWithDevice();
  FontSpec chosen;
  chosen.face = "DejaVu Sans";
  chosen.pointSize = 14;
  chosen.fixedPitch = false;
  desktop.fonts = {chosen, std::nullopt};
  program->command(CMD_FONT);
  program->command(CMD_FONT);
  ASSERT_EQ(desktop.fontRequests.size(), 2u);
  EXPECT_EQ(desktop.fontRequests[0], FontSpec{});
  EXPECT_EQ(desktop.fontRequests[1], chosen);
  EXPECT_EQ(program->displayFont(), chosen);
  EXPECT_EQ(desktop.op.invalidations,
            (std::vector<Invalidation>{{Area::Window, true}, {Area::Window, true}}));
}

TEST_F(CommandsTest, NumbersThatNameNoCommandDoNothing) {
  startWithDevice();
  for (int number : {0, 99, 109, 150, 199, CMD_PORT_FIRST + 2, CMD_PORT_FIRST + 1000, -5}) {
    EXPECT_FALSE(program->command(number)) << number;
  }
  EXPECT_TRUE(desktop.events.empty());
  EXPECT_TRUE(desktop.op.invalidations.empty());
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(program->link().portIndex, 0);
}

class HelpTest : public ProgramTest {
 protected:
  std::filesystem::path bin = dir.path() / "bin";
  std::filesystem::path share = dir.path() / "share" / "morva";

  void SetUp() override {
    ProgramTest::SetUp();
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(share);
    options.executableDir = bin;
  }
  void putManual(const std::filesystem::path& folder) {
    std::ofstream(folder / manualFileName) << "<html></html>";
  }
  void expectNoAccessBox() {
    ASSERT_EQ(desktop.op.messages.size(), 1u);
    const Message& box = desktop.op.messages[0];
    EXPECT_EQ(box.text, "Sorry, help file is inaccessible at this time !");
    EXPECT_EQ(box.caption, "No access !");
    EXPECT_EQ(box.icon, Icon::Information);
  }
};

TEST_F(HelpTest, ManualBesideTheExecutableComesFirst) {
  putManual(bin);
  putManual(share);
  startWithDevice();
  program->command(CMD_HELP_CONTENTS);
  EXPECT_EQ(desktop.helpOpened, (std::vector<std::string>{(bin / manualFileName).string()}));
  EXPECT_TRUE(desktop.op.messages.empty());
}

TEST_F(HelpTest, ManualInTheShareDirectoryOfThePrefix) {
  putManual(share);
  startWithDevice();
  program->command(CMD_HELP_CONTENTS);
  EXPECT_EQ(desktop.helpOpened, (std::vector<std::string>{(share / manualFileName).string()}));
}

TEST_F(HelpTest, ManualInTheCurrentDirectoryIsNotLookedAt) {
  const auto previous = std::filesystem::current_path();
  putManual(dir.path());
  std::filesystem::current_path(dir.path());
  startWithDevice();
  program->command(CMD_HELP_CONTENTS);
  std::filesystem::current_path(previous);
  EXPECT_TRUE(desktop.helpOpened.empty());
  expectNoAccessBox();
  // The detail says where the manual was looked for.
  EXPECT_EQ(desktop.op.messages[0].detail, "The manual is in none of these places:\n" +
                                               (bin / manualFileName).string() + "\n" +
                                               (share / manualFileName).string());
}

TEST_F(HelpTest, ViewerThatCannotOpenTheManualGetsTheSameBox) {
  putManual(bin);
  desktop.helpViewerWorks = false;
  startWithDevice();
  program->command(CMD_HELP_CONTENTS);
  expectNoAccessBox();
  EXPECT_EQ(desktop.op.messages[0].detail,
            (bin / manualFileName).string() + ": no program on this desktop would show it.");
}

}  // namespace
}  // namespace morva::testing

namespace morva::testing {
namespace {

// With --log, every session leaves one record: one that completed, one that was stopped, one
// whose start was declined.
TEST_F(ProgramTest, EverySessionLeavesOneRecordInTheLog) {
  SessionLog log;
  std::string why;
  const std::string path = dir.file("sessions.log");
  ASSERT_TRUE(log.open(files, path, why)) << why;
  options.log = &log;
  port.device = [](const Operation& op) {
    if (!op.isRead) return Reply::written();
    if (op.size == identificationSize) return Reply::bytes(deviceIdentification);
    return Reply::bytes({ACK});
  };
  devicesOn = {"/dev/ttyUSB0"};
  ASSERT_EQ(start({"/dev/ttyUSB0"}), 0);
  startWrite();
  while (sessionRunning(state().transferStep)) {
    if (const auto step = program->stepToPost(false))
      program->runStep(*step, false);
    else
      program->portReady();
  }
  startWrite("second.upg");
  program->command(CMD_STOP);
  desktop.op.fileChoices.push_back(FileChoice{dir.file("second.upg"), false});
  desktop.op.answers = {Answer::No};  // do not overwrite it
  program->menuSelect(MenuId::Action, firstKindPosition);
  program->command(CMD_READ);
  const Bytes text = readFile(path);
  std::istringstream lines(std::string(text.begin(), text.end()));
  std::vector<std::string> outcomes;
  for (std::string line; std::getline(lines, line);) {
    const auto record = parseJsonLine(line, why);
    ASSERT_TRUE(record) << why;
    EXPECT_EQ(record->port, "/dev/ttyUSB0");
    outcomes.push_back(record->direction + " " + record->outcome);
  }
  EXPECT_EQ(outcomes,
            (std::vector<std::string>{"write completed", "write stopped", "read declined"}));
}

}  // namespace
}  // namespace morva::testing
