// The version of Morva, as the build gives it (one number for every program and package).
#pragma once

#include <string_view>

namespace morva {

// "1.0.0"
std::string_view versionNumber();

}  // namespace morva
