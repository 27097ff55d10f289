#include "frontends/win32/ctl3d.h"

namespace morva::win32 {

namespace {

using RegistrationFunction = BOOL(WINAPI*)(HINSTANCE);

// Not in the headers of every toolchain; Windows 7 has it with its 2011 loader update, and a
// Windows without it refuses the flag, which is as good as no library.
constexpr DWORD searchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

RegistrationFunction function(HMODULE library, const char* name) {
  if (library == nullptr) return nullptr;
  // A function pointer taken from GetProcAddress always goes through this cast.
  return reinterpret_cast<RegistrationFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

Ctl3d::~Ctl3d() {
  if (registered_) {
    if (RegistrationFunction unregister = function(library_, "Ctl3dUnregister"))
      unregister(instance_);
  }
  if (library_ != nullptr) FreeLibrary(library_);
}

bool Ctl3d::registerProgram(HINSTANCE instance) {
  if (library_ == nullptr) library_ = LoadLibraryExA("CTL3D32.DLL", nullptr, searchSystem32);
  RegistrationFunction registerFunction = function(library_, "Ctl3dRegister");
  if (registerFunction == nullptr) return false;
  instance_ = instance;
  registered_ = registerFunction(instance) != FALSE;
  return registered_;
}

}  // namespace morva::win32
