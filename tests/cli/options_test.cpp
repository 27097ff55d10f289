#include "frontends/cli/options.h"

#include <gtest/gtest.h>

namespace morva::cli {
namespace {

struct Accepted {
  std::vector<std::string> args;
  Command command;
  Direction direction;
  DataKind kind;
  std::vector<std::string> ports;
  bool yes;
};

TEST(Options, AcceptsEachCommandLineForm) {
  const Accepted cases[] = {
      {{"write", "program", "fw.upg"},
       Command::Transfer,
       Direction::WriteToDevice,
       DataKind::FirmwareUpgrade,
       {},
       false},
      {{"read", "user", "u.bin", "--yes"},
       Command::Transfer,
       Direction::ReadFromDevice,
       DataKind::UserData,
       {},
       true},
      {{"--port", "/dev/pts/3", "verify", "libraries", "l.lib"},
       Command::Transfer,
       Direction::Verify,
       DataKind::FixtureLibraries,
       {"/dev/pts/3"},
       false},
      {{"detect", "--port=/tmp/a", "--port", "/tmp/b"},
       Command::Detect,
       Direction::WriteToDevice,
       DataKind::FirmwareUpgrade,
       {"/tmp/a", "/tmp/b"},
       false},
      {{"ports"}, Command::Ports, Direction::WriteToDevice, DataKind::FirmwareUpgrade, {}, false},
      {{"write", "--help"},
       Command::Help,
       Direction::WriteToDevice,
       DataKind::FirmwareUpgrade,
       {},
       false},
      {{"-y", "write", "program", "--", "-odd.upg"},
       Command::Transfer,
       Direction::WriteToDevice,
       DataKind::FirmwareUpgrade,
       {},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    auto r = parseOptions(c.args);
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->command, c.command);
    EXPECT_EQ(r.options->direction, c.direction);
    EXPECT_EQ(r.options->kind, c.kind);
    EXPECT_EQ(r.options->ports, c.ports);
    EXPECT_EQ(r.options->yes, c.yes);
  }
  EXPECT_EQ(parseOptions({"write", "program", "--", "-odd.upg"}).options->file, "-odd.upg");
}

TEST(Options, RefusesWhatItCannotUnderstand) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"write"},
      {"write", "program"},
      {"write", "firmware", "f.upg"},
      {"erase", "program", "f.upg"},
      {"write", "program", "f.upg", "extra"},
      {"write", "program", "f.upg", "--frobnicate"},
      {"detect", "--port"},
      {"ports", "now"},
  };
  for (const auto& args : cases) {
    auto r = parseOptions(args);
    EXPECT_FALSE(r.options) << testing::PrintToString(args);
    EXPECT_FALSE(r.error.empty());
  }
}

}  // namespace
}  // namespace morva::cli
