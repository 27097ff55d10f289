// A path a person typed on the command line, made into the one the sessions use.
#pragma once

#include <optional>
#include <string>

namespace morva::cli {

// Absolute, so that every message names the file wherever it is read, but never normalised as
// text: in "d/link/../x.upg" the ".." leaves the folder the link points to, as the kernel and
// every other tool take it. A relative path whose absolute form would be longer than the system
// takes (a deep working folder) stays relative: the kernel still reaches it from the working
// folder. None, with `why`, when the working folder no longer exists.
std::optional<std::string> sessionPath(const std::string& typed, std::string& why);

}  // namespace morva::cli
