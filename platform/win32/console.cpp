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

// Whether the console acts on escape codes: some (Wine's) accept the mode that asks for it
// and still print the codes. Tried on a screen buffer of its own, which nobody sees: an erase
// to the end of the line that moves the cursor was printed.
bool consoleActsOnEscapes() {
  HANDLE probe = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0, written = 0;
  CONSOLE_SCREEN_BUFFER_INFO before{}, after{};
  const bool acts = GetConsoleMode(probe, &mode) &&
                    SetConsoleMode(probe, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) &&
                    GetConsoleScreenBufferInfo(probe, &before) &&
                    WriteConsoleA(probe, "\x1b[K", 3, &written, nullptr) &&
                    GetConsoleScreenBufferInfo(probe, &after) &&
                    after.dwCursorPosition.X == before.dwCursorPosition.X &&
                    after.dwCursorPosition.Y == before.dwCursorPosition.Y;
  CloseHandle(probe);
  return acts;
}

}  // namespace

Win32Console::Win32Console() {
  SetConsoleCtrlHandler(onControl, TRUE);
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (error == nullptr || error == INVALID_HANDLE_VALUE || !GetConsoleMode(error, &mode)) return;
  if (!consoleActsOnEscapes()) return;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
    escapes_ = true;
  } else if (SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    error_ = error;  // the mode goes back as it was at the end
    mode_ = mode;
    escapes_ = true;
  }
}

Win32Console::~Win32Console() {
  if (error_ != nullptr) SetConsoleMode(static_cast<HANDLE>(error_), mode_);
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
