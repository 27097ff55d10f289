// The port list: what the platform lists plus the ports named by hand, in the order the Port
// menu shows them.
#include <algorithm>
#include <set>

#include "link/link.h"

namespace morva {
namespace {

// ASCII only, so that the order does not change with the user's locale.
char upperCase(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Names equal but for case still get a fixed order, so the menu is the same on every start.
bool sortsBefore(const std::string& a, const std::string& b) {
  int order = comparePortNames(a, b);
  return order != 0 ? order < 0 : a < b;
}

}  // namespace

int comparePortNames(const std::string& a, const std::string& b) {
  for (std::size_t i = 0;; ++i) {
    // Past its end a name reads as the terminating zero, so a prefix sorts first.
    char ca = i < a.size() ? upperCase(a[i]) : '\0';
    char cb = i < b.size() ? upperCase(b[i]) : '\0';
    if (ca != cb) return static_cast<signed char>(ca) - static_cast<signed char>(cb);
    if (ca == '\0') return 0;
  }
}

void buildPortList(LinkPort& link, PortLister& lister, const std::vector<std::string>& extraPorts) {
  std::vector<std::string> names = lister.listPorts();
  names.insert(names.end(), extraPorts.begin(), extraPorts.end());

  // Device paths are case-sensitive: only the very same name is a duplicate.
  std::set<std::string> seen;
  std::vector<std::string> table;
  for (auto& name : names)
    if (!name.empty() && seen.insert(name).second) table.push_back(std::move(name));
  std::sort(table.begin(), table.end(), sortsBefore);

  link.portNameTable = std::move(table);
  link.portIndex = 0;
}

}  // namespace morva
