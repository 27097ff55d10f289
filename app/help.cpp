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

std::optional<std::filesystem::path> findManual(const std::filesystem::path& executableDir) {
  if (executableDir.empty()) return std::nullopt;
  const std::filesystem::path candidates[] = {
      executableDir / manualFileName,
      executableDir.parent_path() / "share" / "morva" / manualFileName,
  };
  for (const auto& candidate : candidates)
    if (readable(candidate)) return candidate.lexically_normal();
  return std::nullopt;
}

}  // namespace morva
