#include "platform/win32/console.h"

#include <windows.h>

#include <atomic>
#include <iostream>

namespace morva {
namespace {

// The control handler runs on a thread of its own, with no way to pass it an object: a
// lock-free flag with static storage is what it can reach.
std::atomic<bool> stopFlag{false};

BOOL WINAPI onControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  stopFlag.store(true);
  return TRUE;
}

bool isConsole(DWORD which) {
  DWORD mode = 0;
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

}  // namespace

Win32Console::Win32Console() {
  SetConsoleCtrlHandler(onControl, TRUE);
}

Win32Console::~Win32Console() {
  SetConsoleCtrlHandler(onControl, FALSE);
}

bool Win32Console::inputIsTerminal() const {
  return isConsole(STD_INPUT_HANDLE);
}

bool Win32Console::errorIsTerminal() const {
  return isConsole(STD_ERROR_HANDLE);
}

int Win32Console::errorColumns() const {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::optional<std::string> Win32Console::readLine() {
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();  // typed lines end in CR LF
  return line;
}

bool Win32Console::stopRequested() const {
  return stopFlag.load();
}

}  // namespace morva
