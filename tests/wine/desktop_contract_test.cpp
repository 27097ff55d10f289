// The desktop contract over the Win32 program's main window: menu highlights, commands and
// keys as the window procedure gets them, the menus' states as USER32 holds them, and the
// program's own message loop.
#include "tests/support/desktop_contract.h"

#include "frontends/win32/message_loop.h"
#include "tests/wine/win32_desktop.h"

namespace morva::testing {
namespace {

class Win32Shell : public DesktopShell {
 public:
  Win32Shell(SerialPort& port, PortLister& lister) : port_(port), lister_(lister) {
    desktop_.dialogs.onMessage = [this](const Message& m) {
      HWND owner = desktop_.dialogs.shown.back().owner;
      boxes_.push_back({m, owner != nullptr && owner == handle(), windowShown()});
    };
  }

  int start() override { return desktop_.start(port_, lister_); }
  // As WinMain: the loop until the window has gone, its menus, then shutdown.
  int run(const std::function<void()>& inLoop) override {
    if (const int status = start(); status != 0) return status;
    bool ran = false;
    const auto guard = Clock::now() + 300s;
    timerAction() = [&] {
      if (!ran) inLoop();
      ran = true;
      if (Clock::now() > guard) PostQuitMessage(1);
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 5, onTimer);
    const int status = win32::runMessageLoop(*desktop_.window, *desktop_.program);
    KillTimer(nullptr, timer);
    timerAction() = nullptr;
    EXPECT_EQ(desktop_.window->menus().bar, nullptr) << "the menus did not go with the window";
    desktop_.window->destroyMenus();
    desktop_.program->shutdown();
    return status;
  }
  Program& program() override { return *desktop_.program; }

  // For a popup entry WM_MENUSELECT names its position, for a command item its number.
  void highlight(MenuId menu, int position) override {
    const MenuItem& item = program().menus().menu(menu).items.at(static_cast<std::size_t>(position));
    const WPARAM which = item.type == MenuItem::Type::Popup
                             ? MAKEWPARAM(position, MF_POPUP | MF_HILITE)
                             : MAKEWPARAM(item.command, MF_HILITE);
    const auto handle = reinterpret_cast<LPARAM>(desktop_.window->menus().handle(menu));
    EXPECT_EQ(desktop_.send(WM_MENUSELECT, which, handle), 0);
  }
  void command(int number) override { desktop_.send(WM_COMMAND, static_cast<WPARAM>(number)); }
  void character(int code) override { desktop_.send(WM_CHAR, static_cast<WPARAM>(code)); }

  bool runUntil(const std::function<bool()>& done) override {
    return desktop_.loopUntil(done, nullptr, 30s) == 0;
  }
  // The Action menu opened from the keyboard runs its own loop: the condition is looked at
  // from a timer inside it, which ends the menu too.
  UnderMenu runUnderOpenMenu(const std::function<bool()>& done) override {
    UnderMenu seen;
    const auto guard = Clock::now() + 30s;
    timerAction() = [&] {
      if (!done() && Clock::now() < guard) return;
      seen = {openMenus() > 0, boxes_.size()};
      EndMenu();
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 5, onTimer);
    desktop_.send(WM_SYSCOMMAND, SC_KEYMENU, 'a');  // returns once the menu has closed
    KillTimer(nullptr, timer);
    timerAction() = nullptr;
    return seen;
  }

  bool windowShown() override { return IsWindowVisible(handle()) != FALSE; }
  bool portTicked(int portIndex) override {
    return (menuState(desktop_.ports(), portItemPosition(portIndex)) & MF_CHECKED) != 0;
  }
  bool repeatEnabled() override {
    return (menuState(desktop_.action(), repeatPosition) & MF_GRAYED) == 0;
  }
  void forgetRepaints() override { ValidateRect(handle(), nullptr); }
  bool repaintAsked() override { return GetUpdateRect(handle(), nullptr, FALSE) != FALSE; }

  const std::vector<ShownBox>& boxes() override { return boxes_; }
  const std::vector<FileRequest>& fileRequests() override { return desktop_.dialogs.fileRequests; }
  void offerFile(const std::string& path) override {
    desktop_.dialogs.files.push_back(FileChoice{path, false});
  }

 private:
  HWND handle() const { return desktop_.handle(); }

  SerialPort& port_;
  PortLister& lister_;
  Win32Desktop desktop_;
  std::vector<ShownBox> boxes_;
};

}  // namespace

std::unique_ptr<DesktopShell> makeShell(SerialPort& port, PortLister& lister) {
  return std::make_unique<Win32Shell>(port, lister);
}

}  // namespace morva::testing
