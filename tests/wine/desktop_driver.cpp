// Drives a running morva.exe from outside, as an operator would, for the desktop cases of
// run.sh: finds its main window, works its menus with the keyboard, reads and answers its
// message boxes, fills in its file dialog. One action per run; prints what it saw on stdout
// and ends with 0 when the action was done, 1 when not (and why), 2 on bad usage.
//
//   desktop_driver window MS                 wait for the main window; print its title
//   desktop_driver rect                      print the main window's place: x y width height
//   desktop_driver client                    the same for its client area
//   desktop_driver menu KEYS MS              Alt+first key, then the others, each once the
//                                            menus it opens or closes have done so
//   desktop_driver escape [N]                press Esc in the main window (N times)
//   desktop_driver menus                     print how many menus are open; 1 when none
//   desktop_driver close                     press Alt+F4 in the main window
//   desktop_driver box CAPTION ok|yes|no MS  wait for the box; print text and owner; answer
//   desktop_driver choose TITLE PATH MS      wait for the file dialog; choose PATH
//
// Keys go through SendInput, so the menus see them as typed: they open, highlight their
// entries (WM_MENUSELECT) and send their commands as for a person at the keyboard.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* mainClass = "Morva<->PC";
constexpr int messageTextId = 0xFFFF;  // the static text of a message box
constexpr int fileNameCombo = 0x47C;   // cmb13: the name field of the file dialog
constexpr int fileNameEdit = 0x480;    // edt1: the same in the dialog's older layout

std::string windowText(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string className(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// Line breaks shown as "\n", so that a box's text fits on one output line.
std::string oneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

// Looks every 20 ms until `find` gives a window or `ms` have passed.
HWND waitFor(const std::function<HWND()>& find, int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (HWND found = find()) return found;
    if (Clock::now() >= until) return nullptr;
    std::this_thread::sleep_for(20ms);
  }
}

HWND mainWindow() {
  HWND window = FindWindowA(mainClass, nullptr);
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

// A visible dialog-class window with this caption.
HWND dialogTitled(const std::string& caption) {
  HWND window = FindWindowA("#32770", caption.c_str());
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

void press(HWND dialog, int button);

int fail(const std::string& why) {
  std::printf("%s\n", why.c_str());
  return 1;
}

int waitWindow(int ms) {
  HWND window = waitFor(mainWindow, ms);
  if (window == nullptr) return fail("no main window");
  std::printf("title: %s\n", windowText(window).c_str());
  return 0;
}

int answerBox(const std::string& caption, const std::string& answer, int ms) {
  HWND box = waitFor([&] { return dialogTitled(caption); }, ms);
  if (box == nullptr) return fail("no box \"" + caption + "\"");
  char text[1024] = {};
  GetDlgItemTextA(box, messageTextId, text, sizeof text);
  HWND owner = GetWindow(box, GW_OWNER);
  const char* ownerName = owner == nullptr                ? "none"
                          : className(owner) == mainClass ? "main"
                                                          : "other";
  std::printf("text: %s\nowner: %s\n", oneLine(text).c_str(), ownerName);
  press(box, answer == "yes" ? IDYES : answer == "no" ? IDNO : IDOK);
  return 0;
}

void press(HWND dialog, int button) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

struct OwnedBoxSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK findOwnedBox(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<OwnedBoxSearch*>(data);
  if (GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window) ||
      className(window) != "#32770")
    return TRUE;
  search->found = window;
  return FALSE;
}

// A visible box that `owner` put up over itself, or null.
HWND boxOwnedBy(HWND owner) {
  OwnedBoxSearch search{owner, nullptr};
  EnumWindows(findOwnedBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Fills in the name and presses Open. A dialog that asks whether to create a missing file is
// answered Yes; the run ends when the dialog has gone.
int chooseFile(const std::string& title, const std::string& path, int ms) {
  HWND dialog = waitFor([&] { return dialogTitled(title); }, ms);
  if (dialog == nullptr) return fail("no file dialog \"" + title + "\"");
  if (!SetDlgItemTextA(dialog, fileNameCombo, path.c_str()) &&
      !SetDlgItemTextA(dialog, fileNameEdit, path.c_str()))
    return fail("the file dialog has no name field");
  press(dialog, IDOK);
  std::printf("chose: %s\n", path.c_str());
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (IsWindow(dialog)) {
    if (HWND prompt = boxOwnedBy(dialog)) {
      char text[1024] = {};
      GetDlgItemTextA(prompt, messageTextId, text, sizeof text);
      std::printf("prompt: %s\n", oneLine(text).c_str());
      press(prompt, IDYES);
      std::this_thread::sleep_for(100ms);
    }
    if (Clock::now() >= until) return fail("the file dialog is still open");
    std::this_thread::sleep_for(20ms);
  }
  return 0;
}

int printRect(bool clientArea) {
  HWND window = mainWindow();
  RECT r{};
  if (window == nullptr || !(clientArea ? GetClientRect(window, &r) : GetWindowRect(window, &r)))
    return fail("no main window");
  if (clientArea) MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  return 0;
}

void key(WORD virtualKey, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &input, sizeof input);
}

void tap(WORD virtualKey) {
  key(virtualKey, false);
  key(virtualKey, true);
}

// The key that types `letter`.
WORD keyOf(char letter) {
  return static_cast<WORD>(VkKeyScanA(letter) & 0xFF);
}

BOOL CALLBACK countOpenMenu(HWND window, LPARAM data) {
  if (IsWindowVisible(window) && className(window) == "#32768") ++*reinterpret_cast<int*>(data);
  return TRUE;
}

// Open menus show as visible windows of the menu class.
int openMenus() {
  int count = 0;
  EnumWindows(countOpenMenu, reinterpret_cast<LPARAM>(&count));
  return count;
}

bool menusBecome(const std::function<bool(int)>& wanted, int ms) {
  return waitFor([&] { return wanted(openMenus()) ? GetDesktopWindow() : nullptr; }, ms) != nullptr;
}

HWND foregroundMainWindow() {
  HWND window = mainWindow();
  if (window != nullptr) SetForegroundWindow(window);
  return window;
}

int menuKeys(const std::string& keys, int ms) {
  if (keys.empty()) return fail("no keys");
  if (foregroundMainWindow() == nullptr) return fail("no main window");
  key(VK_MENU, false);
  tap(keyOf(keys[0]));
  key(VK_MENU, true);
  if (!menusBecome([](int open) { return open > 0; }, ms))
    return fail(std::string("Alt+") + keys[0] + " opened no menu");
  for (std::size_t i = 1; i < keys.size(); ++i) {
    const int before = openMenus();
    tap(keyOf(keys[i]));
    if (!menusBecome([before](int open) { return open != before; }, ms))
      return fail(std::string("the key ") + keys[i] + " changed no menu");
  }
  return 0;
}

int printOpenMenus() {
  const int open = openMenus();
  std::printf("%d\n", open);
  return open > 0 ? 0 : 1;
}

int escape(int times) {
  if (foregroundMainWindow() == nullptr) return fail("no main window");
  for (int i = 0; i < times; ++i) tap(VK_ESCAPE);
  return 0;
}

int closeByKeys() {
  if (foregroundMainWindow() == nullptr) return fail("no main window");
  key(VK_MENU, false);
  tap(VK_F4);
  key(VK_MENU, true);
  return 0;
}

int usage() {
  std::printf(
      "usage: desktop_driver window MS | rect | client | menu KEYS MS | escape [N] | close"
      " | menus | box CAPTION ok|yes|no MS | choose TITLE PATH MS\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string action = argc > 1 ? argv[1] : "";
  auto number = [&](int i) { return i < argc ? std::atoi(argv[i]) : 0; };
  if (action == "window" && argc == 3) return waitWindow(number(2));
  if (action == "box" && argc == 5) return answerBox(argv[2], argv[3], number(4));
  if (action == "choose" && argc == 5) return chooseFile(argv[2], argv[3], number(4));
  if (action == "rect" && argc == 2) return printRect(false);
  if (action == "client" && argc == 2) return printRect(true);
  if (action == "menu" && argc == 4) return menuKeys(argv[2], number(3));
  if (action == "escape" && argc <= 3) return escape(argc == 3 ? number(2) : 1);
  if (action == "menus" && argc == 2) return printOpenMenus();
  if (action == "close" && argc == 2) return closeByKeys();
  return usage();
}
