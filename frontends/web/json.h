// The few JSON texts the page's C++ hands to its JavaScript (menus, boxes, file requests).
#pragma once

#include <string>
#include <string_view>

namespace morva::web {

// `text` as a JSON string, quotes included.
std::string jsonString(std::string_view text);

}  // namespace morva::web
