#include "platform/web/browser.h"

#include <cstdlib>

namespace morva::browser {

std::string adopt(char* text) {
  if (text == nullptr) return {};
  std::string taken(text);
  std::free(text);
  return taken;
}

OsError errorFrom(const std::string& described) {
  const std::size_t first = described.find(' ');
  const std::size_t second = first == std::string::npos ? first : described.find(' ', first + 1);
  if (second == std::string::npos) return OsError{5, described, FailureCause::Other};
  const int number = std::atoi(described.substr(0, first).c_str());
  const std::string cause = described.substr(first + 1, second - first - 1);
  FailureCause c = FailureCause::Other;
  if (cause == "busy") c = FailureCause::Busy;
  if (cause == "denied") c = FailureCause::PermissionDenied;
  if (cause == "missing") c = FailureCause::NotFound;
  if (cause == "gone") c = FailureCause::Vanished;
  return OsError{number, described.substr(second + 1), c};
}

}  // namespace morva::browser
