// Where the program's manual is found: beside the executable (a build tree or a portable
// copy), then in the share directory of the prefix it was installed under.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace morva {

inline constexpr const char* manualFileName = "morva-manual.html";

// The manual's path when one of the two places holds a readable file; none otherwise. The
// current directory is never looked at: where the program was started from says nothing.
std::optional<std::filesystem::path> findManual(const std::filesystem::path& executableDir);

// The places findManual looks at, in order.
std::vector<std::filesystem::path> manualPlaces(const std::filesystem::path& executableDir);

}  // namespace morva
