// The desktop contract over the program itself: the recording desktop stands for the window,
// and the loop is the one every front end runs (post a step, run it, wake it on the port).
#include "tests/support/desktop_contract.h"

#include "platform/posix/file_service.h"
#include "tests/app/fake_desktop.h"

namespace morva::testing {
namespace {

class ProgramShell : public DesktopShell {
 public:
  ProgramShell(SerialPort& port, PortLister& lister) : program_(desktop_, port, lister, options()) {
    desktop_.onMessage = [this](const Message& m) {
      boxes_.push_back({m, m.owned, windowShown()});
    };
  }

  int start() override { return program_.start(); }
  int run(const std::function<void()>& inLoop) override {
    if (const int status = start(); status != 0) return status;
    inLoop();
    runUntil([this] { return desktop_.windowClosed; });
    program_.shutdown();
    return desktop_.windowClosed ? 0 : 1;
  }
  Program& program() override { return program_; }

  void highlight(MenuId menu, int position) override { program_.menuSelect(menu, position); }
  void command(int number) override { program_.command(number); }
  void character(int code) override { program_.character(code); }

  bool runUntil(const std::function<bool()>& done) override {
    for (int guard = 0; guard < 1000000 && !done(); ++guard) {
      if (const auto step = program_.stepToPost(false))
        program_.runStep(*step, false);
      else if (program_.waitingOnPort())
        program_.portReady();
      else
        break;  // nothing left to run
    }
    return done();
  }
  UnderMenu runUnderOpenMenu(const std::function<bool()>& done) override {
    program_.menuShown(true);
    runUntil(done);
    program_.showOwedBoxes();  // a front end may look at any time: nothing while it is open
    const UnderMenu seen{true, boxes_.size()};
    program_.menuShown(false);
    program_.showOwedBoxes();
    return seen;
  }

  // A window that was closed is off the screen.
  bool windowShown() override { return desktop_.windowShown && !desktop_.windowClosed; }
  bool portTicked(int portIndex) override {
    bool ticked = false;
    for (auto [index, on] : desktop_.op.ticks)
      if (index == portIndex) ticked = on;
    return ticked;
  }
  bool repeatEnabled() override { return desktop_.repeatEnabled; }
  void forgetRepaints() override { desktop_.op.invalidations.clear(); }
  bool repaintAsked() override { return !desktop_.op.invalidations.empty(); }

  const std::vector<ShownBox>& boxes() override { return boxes_; }
  const std::vector<FileRequest>& fileRequests() override { return desktop_.op.fileRequests; }
  void offerFile(const std::string& path) override {
    desktop_.op.fileChoices.push_back(FileChoice{path, false});
  }

 private:
  ProgramOptions options() {
    ProgramOptions o;
    o.files = &files_;
    return o;
  }

  PosixFileService files_;
  FakeDesktop desktop_;
  Program program_;
  std::vector<ShownBox> boxes_;
};

}  // namespace

std::unique_ptr<DesktopShell> makeShell(SerialPort& port, PortLister& lister) {
  return std::make_unique<ProgramShell>(port, lister);
}

}  // namespace morva::testing
