#include "platform/win32/port_lister.h"

#include <windows.h>

#include <optional>

namespace morva {
namespace {

// EnumPortsA as winspool.h declares it; the library is loaded at run time so that a machine
// without the spooler still starts.
using EnumPortsFunction = BOOL(WINAPI*)(LPSTR server, DWORD level, LPBYTE ports, DWORD size,
                                        LPDWORD needed, LPDWORD returned);

// PORT_INFO_1A from winspool.h: level 1 is just the port's name.
struct PortInfo1 {
  LPSTR name;
};

class Library {
 public:
  explicit Library(const std::string& name) : module_(LoadLibraryA(name.c_str())) {}
  ~Library() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  EnumPortsFunction enumPorts() const {
    if (module_ == nullptr) return nullptr;
    // A function pointer taken from GetProcAddress always goes through this cast.
    return reinterpret_cast<EnumPortsFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "EnumPortsA")));
  }

 private:
  HMODULE module_;
};

// The names the spooler reports, or none when it cannot tell.
std::optional<std::vector<std::string>> reportedPorts(EnumPortsFunction enumPorts) {
  DWORD needed = 0;
  DWORD returned = 0;
  // Asks for the size only; it "fails" with ERROR_INSUFFICIENT_BUFFER when there are ports.
  enumPorts(nullptr, 1, nullptr, 0, &needed, &returned);
  std::vector<BYTE> buffer(needed);
  returned = 0;
  if (!enumPorts(nullptr, 1, buffer.data(), needed, &needed, &returned)) return std::nullopt;
  const auto* entries = reinterpret_cast<const PortInfo1*>(buffer.data());
  std::vector<std::string> names;
  for (DWORD i = 0; i < returned; ++i)
    if (entries[i].name != nullptr) names.emplace_back(entries[i].name);
  return names;
}

}  // namespace

Win32PortLister::Win32PortLister(std::string spoolerLibrary)
    : spoolerLibrary_(std::move(spoolerLibrary)) {}

std::vector<std::string> Win32PortLister::listPorts() {
  Library spooler(spoolerLibrary_);
  EnumPortsFunction enumPorts = spooler.enumPorts();
  if (enumPorts == nullptr) return fallbackPortNames();
  auto reported = reportedPorts(enumPorts);
  if (!reported) return fallbackPortNames();
  return comPortNames(*reported);
}

std::vector<std::string> comPortNames(const std::vector<std::string>& reported) {
  std::vector<std::string> names;
  for (std::string name : reported) {
    if (name.compare(0, 3, "COM") != 0) continue;
    if (name.back() == ':') name.pop_back();
    names.push_back(std::move(name));
  }
  return names;
}

std::vector<std::string> fallbackPortNames() {
  return {"COM1", "COM2"};
}

}  // namespace morva
