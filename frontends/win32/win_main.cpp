// morva.exe: the desktop program that moves firmware, fixture libraries and user data between
// the PC and the Vk350 Morva, on Windows.
#include <windows.h>

#include <string>

#include "app/program.h"
#include "frontends/win32/dialogs.h"
#include "frontends/win32/main_window.h"
#include "frontends/win32/message_loop.h"
#include "platform/win32/file_service.h"
#include "platform/win32/port_lister.h"
#include "platform/win32/serial_port.h"

namespace {

// The exit status when the program could not even put up its window.
constexpr int exitNoWindow = 1;

// Without a window there is no loop to run: say so and end.
int cannotStart(const char* what, DWORD error) {
  const std::string text = std::string(what) + "\nError code : " + std::to_string(error);
  MessageBoxA(nullptr, text.c_str(), "Fail", MB_ICONERROR | MB_OK);
  return exitNoWindow;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  using namespace morva;
  using namespace morva::win32;
  // Null when the picture is missing: the window then shows its background colour.
  HBITMAP picture = LoadBitmapA(instance, MAKEINTRESOURCEA(pictureResource));
  if (!registerMainWindowClass(instance))
    return cannotStart("The main window's class cannot be registered !", GetLastError());

  Win32SerialPort port;
  Win32PortLister lister;
  Win32Dialogs dialogs;
  MainWindow window(instance, dialogs, picture, showCommand);
  Win32FileService files;
  ProgramOptions options;
  options.files = &files;
  options.executableDir = programDirectory();
  Program program(window, port, lister, options);
  window.attach(program);

  int started = 0;
  try {
    started = program.start();
  } catch (const WindowCreationFailed& failure) {
    return cannotStart("The main window cannot be created !", failure.error);
  }
  if (started != 0) return started;

  const int status = runMessageLoop(window, program);
  window.destroyMenus();
  program.shutdown();
  if (picture != nullptr) DeleteObject(picture);
  return status;
}
