// vk350-sim: its command line, and the program itself run as a child process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/program_options.h"
#include "tests/sim/pty_client.h"
#include "tests/support/files.h"

extern char** environ;

namespace morva::sim {
namespace {

using namespace test;
namespace fs = std::filesystem;

std::optional<ProgramOptions> parse(std::vector<std::string_view> args, std::string& error) {
  return parseProgramOptions(args, error);
}

TEST(ProgramOptionsTest, ReadsEveryOption) {
  std::string error;
  const auto options = parse(
      {"--firmware", "3.07", "--second=9.100", "--paced", "--latency", "30", "--trace", "--memory",
       "m.bin", "--link=/tmp/x", "--fault", "nak@command:5", "--fault", "silence@wakeup/once"},
      error);
  ASSERT_TRUE(options) << error;
  const Identification& id = options->simulator.identification;
  EXPECT_EQ(identificationFrame(id), (Bytes{3, 7, 9, 100, 0x89, 0x06}));
  EXPECT_TRUE(options->simulator.paced);
  EXPECT_TRUE(options->trace);
  EXPECT_EQ(options->simulator.answerLatency, std::chrono::milliseconds(30));
  EXPECT_EQ(options->simulator.memoryFile, "m.bin");
  EXPECT_EQ(options->linkPath, "/tmp/x");
  ASSERT_EQ(options->simulator.faults.size(), 2u);
  EXPECT_EQ(describeFault(options->simulator.faults[1]), "silence@wakeup/once");
  EXPECT_FALSE(options->help);
}

TEST(ProgramOptionsTest, RejectsWhatItCannotRead) {
  const std::vector<std::vector<std::string_view>> bad = {
      {"--bogus"},           {"--firmware"},      {"--firmware", "2"},
      {"--second", "256.1"}, {"--second", "1.x"}, {"--latency", "-3"},
      {"--fault", "nak"},    {"--paced=yes"},     {"--link", ""},
  };
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(parse(args, error)) << args.front();
    EXPECT_FALSE(error.empty());
  }
}

// The program as a user starts it: stdout gives the path, SIGTERM ends it cleanly.
class ProgramRun : public ::testing::Test {
 protected:
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  void start(std::vector<std::string> args) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    args.insert(args.begin(), VK350_SIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawn(&pid_, VK350_SIM_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    out_ = pipeFds[0];
  }

  // The first line on the program's stdout, within a hang guard.
  std::string firstLine() {
    std::string line;
    char c = 0;
    pollfd p{out_, POLLIN, 0};
    while (::poll(&p, 1, 5000) > 0 && ::read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  // Sends SIGTERM and returns the exit status (-1 when it did not exit normally in time).
  int terminate() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  pid_t pid_ = -1;
  int out_ = -1;
};

TEST_F(ProgramRun, ServesOnTheLinkUntilTerminatedAndSavesTheMemory) {
  const morva::testing::ScratchDir dir;
  const std::string link = (dir / "vk350").string();
  const std::string memory = (dir / "memory.bin").string();
  start({"--link", link, "--memory", memory, "--firmware", "3.07"});
  ASSERT_EQ(firstLine(), link);
  ASSERT_TRUE(fs::is_symlink(link));
  {
    PtyClient pc(link);
    pc.send({0x1B});
    EXPECT_EQ(pc.receive(6), (Bytes{3, 7, 1, 10, 0xEB, 0x06}));
    pc.send(writeCommand(2));
    ASSERT_EQ(pc.receive(1), Bytes{0x06});
    pc.send(sealed(blockPattern(2)));
    ASSERT_EQ(pc.receive(1), Bytes{0x06});
  }
  EXPECT_EQ(terminate(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  const Bytes saved = morva::testing::readFile(memory);
  ASSERT_EQ(saved.size(), MemoryImage::byteCount);
  const Bytes two = blockPattern(2);
  EXPECT_TRUE(std::equal(two.begin(), two.end(), saved.begin() + 512));
}

TEST_F(ProgramRun, PrintsThePtyPathWithoutALink) {
  start({});
  const std::string path = firstLine();
  EXPECT_TRUE(path.starts_with("/dev/pts/")) << path;
  EXPECT_EQ(terminate(), 0);
}

}  // namespace
}  // namespace morva::sim
