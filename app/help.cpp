#include "app/help.h"

#include <fstream>
#include <system_error>

namespace morva {

namespace {

bool readable(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  return file.is_open();
}

}  // namespace

std::vector<std::filesystem::path> manualPlaces(const std::filesystem::path& executableDir) {
  if (executableDir.empty()) return {};
  return {(executableDir / manualFileName).lexically_normal(),
          (executableDir.parent_path() / "share" / "morva" / manualFileName).lexically_normal()};
}

std::optional<std::filesystem::path> findManual(const std::filesystem::path& executableDir) {
  for (const auto& candidate : manualPlaces(executableDir))
    if (readable(candidate)) return candidate;
  return std::nullopt;
}

}  // namespace morva
