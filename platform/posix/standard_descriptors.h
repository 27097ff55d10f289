// The three standard descriptors of a program started with some of them closed.
#pragma once

#include <vector>

#include "transfer/file_identity.h"

namespace morva {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Otherwise the first file or
// port the program opens takes that number, and its messages (progress lines, escape codes)
// are written into the data file or down the serial line. Call first thing in main, before
// anything is opened. False when /dev/null cannot be opened.
bool fillClosedStandardDescriptors();

// What standard output and standard error are (a file, a terminal, a pipe...), so that no data
// file of a session is opened on the same file as the program's own messages.
std::vector<FileIdentity> standardOutputIdentities();

}  // namespace morva
