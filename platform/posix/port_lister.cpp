#include "platform/posix/port_lister.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <string_view>
#include <system_error>

namespace morva {
namespace fs = std::filesystem;
namespace {

// Name families of serial devices: USB adapters, USB modems (CDC ACM), ARM PrimeCell UARTs,
// Bluetooth serial links, and 8250-style UARTs (ttyS, checked further).
constexpr std::array<std::string_view, 5> serialFamilies = {"ttyUSB", "ttyACM", "ttyAMA", "rfcomm",
                                                            "ttyS"};

bool allDigits(std::string_view s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The family a name belongs to: its prefix followed by a number only ("ttyS0", not "ttySAC0").
std::string_view familyOf(std::string_view name) {
  for (auto family : serialFamilies)
    if (name.starts_with(family) && allDigits(name.substr(family.size()))) return family;
  return {};
}

std::string readWord(const fs::path& file) {
  std::ifstream in(file);
  std::string word;
  in >> word;
  return word;
}

}  // namespace

PosixPortLister::PosixPortLister(fs::path sysfsRoot, std::string devicePrefix)
    : ttyClass_(std::move(sysfsRoot) / "class" / "tty"), devicePrefix_(std::move(devicePrefix)) {}

std::vector<std::string> PosixPortLister::listPorts() {
  std::vector<std::string> ports;
  auto console = consoleNames();
  std::error_code ec;
  for (fs::directory_iterator it(ttyClass_, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (!isSerialPort(name)) continue;
    if (std::find(console.begin(), console.end(), name) != console.end()) continue;
    ports.push_back(devicePrefix_ + name);
  }
  return ports;
}

bool PosixPortLister::isSerialPort(const std::string& name) const {
  auto family = familyOf(name);
  if (family.empty()) return false;
  return family != "ttyS" || hasUart(ttyClass_ / name);
}

// The 8250 driver registers a fixed number of ttyS ports whether or not a UART answers at
// their addresses; the empty ones report type 0 (unknown port).
bool PosixPortLister::hasUart(const fs::path& tty) const {
  std::error_code ec;
  if (!fs::exists(tty / "device", ec)) return false;
  if (fs::exists(tty / "type", ec)) {
    std::string type = readWord(tty / "type");
    return allDigits(type) && type.find_first_not_of('0') != std::string::npos;
  }
  fs::path driver = fs::read_symlink(tty / "device" / "driver", ec);
  return !ec && driver.filename() != "serial8250";
}

std::vector<std::string> PosixPortLister::consoleNames() const {
  std::ifstream in(ttyClass_ / "console" / "active");
  std::vector<std::string> names;
  for (std::string name; in >> name;) names.push_back(name);
  return names;
}

}  // namespace morva
