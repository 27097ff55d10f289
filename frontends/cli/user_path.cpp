#include "frontends/cli/user_path.h"

#include <filesystem>
#include <system_error>

namespace morva::cli {
namespace {

// The longest path Linux's calls take (PATH_MAX, its terminating zero included).
constexpr std::size_t longestPath = 4095;

}  // namespace

std::optional<std::string> sessionPath(const std::string& typed, std::string& why) {
  const std::filesystem::path path(typed);
  if (path.is_absolute()) return typed;
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  if (error == std::errc::no_such_file_or_directory) {
    why = typed + ": the working folder this program was started in no longer exists";
    return std::nullopt;
  }
  if (error) return typed;  // too deep to be named: reached from the working folder itself
  // Joined, not made absolute through the library: that would look the working folder up again.
  std::string full = (folder / path).string();
  if (full.size() > longestPath) return typed;
  return full;
}

}  // namespace morva::cli
