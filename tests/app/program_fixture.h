// The program on a scripted port, a fixed port list and a recording desktop; a Vk350 answers
// the probe on the ports named in devicesOn.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/program.h"
#include "platform/posix/file_service.h"
#include "tests/app/fake_desktop.h"
#include "tests/support/files.h"
#include "tests/support/scripted_machine.h"
#include "transfer/frames.h"

namespace morva::testing {

class ProgramTest : public ::testing::Test, protected ScriptedMachine {
 protected:
  FakeDesktop desktop;
  ProgramOptions options;
  std::optional<Program> program;
  ScratchDir dir;

  void SetUp() override { options.files = &files; }

  int start(std::vector<std::string> ports) {
    lister.names = std::move(ports);
    program.emplace(desktop, port, lister, options);
    return program->start();
  }

  // Started with a device on the first of two ports; the boxes of start-up are forgotten.
  void startWithDevice() {
    devicesOn = {"/dev/ttyUSB0"};
    ASSERT_EQ(start({"/dev/ttyUSB0", "/dev/ttyUSB1"}), 0);
    ASSERT_TRUE(port.isOpen());
    forget();
  }

  void forget() {
    desktop.op.clear();
    desktop.events.clear();
  }

  // Queues the file chooser's answer: a file of `size` bytes named `name` in the folder.
  std::string offerFile(const std::string& name, std::size_t size = 512) {
    const Bytes content(size, 0x5a);
    std::string path = dir.file(name, &content);
    desktop.op.fileChoices.push_back(FileChoice{path, false});
    return path;
  }

  SessionState& state() { return program->state(); }

  // A write of the firmware file `name` started from the menus: transferStep is 1.
  void startWrite(const std::string& name = "image.upg") {
    offerFile(name);
    program->menuSelect(MenuId::Action, firstKindPosition);
    ASSERT_TRUE(program->command(CMD_WRITE));
    ASSERT_EQ(state().transferStep, TransferStep::AwaitWakeUpSent);
    forget();
  }

  std::vector<std::string> captions() const {
    std::vector<std::string> c;
    for (const auto& m : desktop.op.messages) c.push_back(m.caption);
    return c;
  }
};

}  // namespace morva::testing
