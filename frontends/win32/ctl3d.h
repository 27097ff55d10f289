// The 3-D control library of old Windows versions, which gave dialogs and message boxes their
// sculpted look. Current Windows has none: where the library is missing, nothing is done.
#pragma once

#include <windows.h>

namespace morva::win32 {

class Ctl3d {
 public:
  Ctl3d() = default;
  // Unregisters the program if it registered, and lets the library go.
  ~Ctl3d();
  Ctl3d(const Ctl3d&) = delete;
  Ctl3d& operator=(const Ctl3d&) = delete;

  // Loads CTL3D32.DLL from the system directory only (never from beside the program or the
  // current directory, where anybody could put one) and calls Ctl3dRegister(instance).
  // False when the library or the function is missing, or registration failed.
  bool registerProgram(HINSTANCE instance);

 private:
  HMODULE library_ = nullptr;
  HINSTANCE instance_ = nullptr;
  bool registered_ = false;
};

}  // namespace morva::win32
