#include "platform/web/port_lister.h"

#include <emscripten.h>

#include "platform/web/browser.h"

// clang-format off
EM_JS(char*, morva_serial_names, (), {
  return morvaHost.text(morvaHost.serial.names().join("\n"));
});
// clang-format on

namespace morva {

std::vector<std::string> WebPortLister::listPorts() {
  const std::string text = browser::adopt(morva_serial_names());
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    names.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return names;
}

}  // namespace morva
