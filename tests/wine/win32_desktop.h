// What the tests of the desktop program's window on Windows share: the menus as USER32 reports
// them, boxes and choosers answered from a script (or the real ones worked from another thread,
// as a person would), the thread's message queue, and the main window with a Program over a
// port and port list the test keeps, as WinMain puts them together. Needs a display.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "frontends/win32/dialogs.h"
#include "frontends/win32/main_window.h"
#include "frontends/win32/message_loop.h"
#include "platform/win32/file_service.h"
#include "tests/support/files.h"
#include "tests/support/prompt_device.h"
#include "tests/support/quiet_console.h"
#include "tests/support/recording_operator.h"
#include "transfer/frames.h"

namespace morva::testing {

using namespace std::chrono_literals;
using win32::ChosenFont;

inline std::string menuText(HMENU menu, int position) {
  char text[256] = {};
  GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
  return text;
}

inline UINT menuState(HMENU menu, int position) {
  return GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION);
}

// A visible dialog-class window with this caption, looked for every 20 ms for up to `ms`.
inline HWND waitForDialog(const std::string& caption, HWND owner = nullptr, int ms = 10000) {
  for (int waited = 0; waited < ms; waited += 20) {
    HWND found = FindWindowA("#32770", caption.c_str());
    if (found != nullptr && IsWindowVisible(found) &&
        (owner == nullptr || GetWindow(found, GW_OWNER) == owner))
      return found;
    Sleep(20);
  }
  return nullptr;
}

inline void pressButton(HWND dialog, int button) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

// Works the real file dialog titled `title` from another thread, as a person would: `name`
// typed into its name field, then Open. Should the dialog refuse the name with a box of its
// own, the box is answered and the dialog cancelled; its text comes back.
inline std::string typeIntoFileDialog(const std::string& title, const std::string& name) {
  constexpr int nameCombo = 0x47C, nameEdit = 0x480;  // cmb13, and edt1 in the older layout
  HWND dialog = waitForDialog(title);
  if (dialog == nullptr) return "no dialog";
  if (!SetDlgItemTextA(dialog, nameCombo, name.c_str()))
    SetDlgItemTextA(dialog, nameEdit, name.c_str());
  pressButton(dialog, IDOK);
  for (int waited = 0; IsWindow(dialog) && waited < 10000; waited += 20) {
    for (HWND box = GetWindow(GetDesktopWindow(), GW_CHILD); box != nullptr;
         box = GetWindow(box, GW_HWNDNEXT)) {
      if (GetWindow(box, GW_OWNER) != dialog || !IsWindowVisible(box)) continue;
      char text[512] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      pressButton(box, IDOK);
      Sleep(100);
      pressButton(dialog, IDCANCEL);
      return text;
    }
    Sleep(20);
  }
  return {};
}

class ScriptedDialogs : public win32::Dialogs {
 public:
  struct Shown {
    Message message;
    HWND owner;
  };
  std::vector<Shown> shown;
  std::deque<Answer> answers;  // for questions; the default button when empty
  std::deque<std::optional<FileChoice>> files;
  std::vector<FileRequest> fileRequests;
  std::deque<std::optional<ChosenFont>> fonts;
  std::vector<LOGFONTA> fontRequests;
  std::function<void(const Message&)> onMessage;  // runs while the "box" is up

  Answer showMessage(HWND owner, const Message& message) override {
    shown.push_back({message, owner});
    if (onMessage) onMessage(message);
    return scriptedAnswer(message, answers);
  }
  // When set, the real file dialog is shown, and this name typed into it.
  std::optional<std::string> typeIntoRealChooser;
  std::string chooserSaid;  // the real dialog's own box, if it refused the name

  std::optional<FileChoice> chooseFile(HWND owner, const FileRequest& request) override {
    fileRequests.push_back(request);
    if (!typeIntoRealChooser) return nextOf(files);
    std::thread person(
        [&] { chooserSaid = typeIntoFileDialog(request.title, *typeIntoRealChooser); });
    auto choice = win32::Win32Dialogs().chooseFile(owner, request);
    person.join();
    return choice;
  }
  // When set, the real font chooser is shown and accepted as it opens; what its face field
  // showed is kept.
  bool acceptRealFontChooser = false;
  std::string fontChooserFace;

  std::optional<ChosenFont> chooseFont(HWND owner, const LOGFONTA& current) override {
    fontRequests.push_back(current);
    if (!acceptRealFontChooser) return nextOf(fonts);
    std::thread person([&] {
      constexpr int faceCombo = 0x470;  // cmb1
      HWND dialog = waitForDialog("Font", owner);
      if (dialog == nullptr) return;
      char face[LF_FACESIZE] = {};
      GetDlgItemTextA(dialog, faceCombo, face, sizeof face);
      fontChooserFace = face;
      pressButton(dialog, IDOK);
    });
    auto chosen = win32::Win32Dialogs().chooseFont(owner, current);
    person.join();
    return chosen;
  }
  bool openHelp(HWND, const std::string&) override { return false; }
};

// Takes every message off the thread's queue (a WM_QUIT left by a destroyed window too).
inline void drainQueue() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// What a thread timer calls: the test's condition, through this one slot.
inline std::function<void()>& timerAction() {
  thread_local std::function<void()> action;
  return action;
}
inline void CALLBACK onTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (timerAction()) timerAction()();
}

// Open menus show as visible windows of the menu class.
inline BOOL CALLBACK countOpenMenu(HWND window, LPARAM count) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (IsWindowVisible(window) && std::string(name) == "#32768") ++*reinterpret_cast<int*>(count);
  return TRUE;
}
inline int openMenus() {
  int count = 0;
  EnumWindows(countOpenMenu, reinterpret_cast<LPARAM>(&count));
  return count;
}

// The main window and a Program over the test's port and port list, with scripted dialogs.
struct Win32Desktop {
  Win32FileService files;
  ScriptedDialogs dialogs;
  std::optional<win32::MainWindow> window;
  std::optional<Program> program;

  Win32Desktop() = default;
  Win32Desktop(const Win32Desktop&) = delete;
  Win32Desktop& operator=(const Win32Desktop&) = delete;
  ~Win32Desktop() { close(); }

  int start(SerialPort& port, PortLister& lister) {
    static const bool registered = win32::registerMainWindowClass(GetModuleHandleA(nullptr));
    EXPECT_TRUE(registered);
    drainQueue();
    window.emplace(GetModuleHandleA(nullptr), dialogs, nullptr, SW_SHOWNOACTIVATE);
    ProgramOptions options;
    options.files = &files;
    program.emplace(*window, port, lister, options);
    window->attach(*program);
    return program->start();
  }
  void close() {
    program.reset();
    window.reset();
    drainQueue();
  }

  HWND handle() const { return window ? window->handle() : nullptr; }
  LRESULT send(UINT message, WPARAM wParam, LPARAM lParam = 0) {
    return SendMessageA(handle(), message, wParam, lParam);
  }
  HMENU action() { return GetSubMenu(GetMenu(handle()), 0); }
  HMENU ports() { return GetSubMenu(GetMenu(handle()), 1); }

  // Runs the message loop until `done` holds, looking every 5 ms; a hang guard ends it after
  // `limit`. The loop's exit code: 0 when done, 1 when the guard ended it.
  int loopUntil(const std::function<bool()>& done, win32::LoopCounts* counts = nullptr,
                std::chrono::milliseconds limit = 300s) {
    const auto until = Clock::now() + limit;
    timerAction() = [&] {
      if (done())
        PostQuitMessage(0);
      else if (Clock::now() > until)
        PostQuitMessage(1);
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 5, onTimer);
    const int status = win32::runMessageLoop(*window, *program, counts);
    KillTimer(nullptr, timer);
    timerAction() = nullptr;
    return status;
  }
};

// The window started over the device on COM1 only.
class DesktopTest : public ::testing::Test, protected PromptDevice, protected Win32Desktop {
 protected:
  ListedPorts lister;
  ScratchDir folder;  // of this run's own: another run's tests may share the temporary folder

  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    devicesOn = {"COM1"};
  }
  void TearDown() override { close(); }

  int start(std::vector<std::string> ports = {"COM1", "COM2"}) {
    lister.names = std::move(ports);
    return Win32Desktop::start(port, lister);
  }
  std::string imageFile(const char* name, std::size_t size) {
    return writeFile(folder / name, Bytes(size, 0x5A));
  }
};

}  // namespace morva::testing
