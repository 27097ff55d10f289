// The texts of the main window's lines, composed from the session's values. Values outside the
// tables give empty text; nothing is ever looked up past a table's end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "transfer/kinds.h"
#include "transfer/session_steps.h"

namespace morva {

// "Write to Vk350", "Read from Vk350", "Veryfication"; empty outside the enumeration.
std::string_view directionText(Direction direction);
// "program", "libraries", "user data"; empty outside the enumeration.
std::string_view kindText(DataKind kind);
// The word for a transfer step: "Waiting . . ." while an answer or a write is awaited,
// "Command", "Sending", "Receiving"; empty for 0, 9 and steps outside 0 to 9.
std::string_view statusWord(TransferStep step);

// "Firmware version : " + first + " | " + second.
std::string firmwareLine(std::string_view firmwareVersion, std::string_view secondVersion);
// "Write to Vk350 : program"; empty when either value is outside its enumeration.
std::string sessionLine(Direction direction, DataKind kind);
// "Block i z N": i = current - first + 1 and N = current + left - first, in signed 32-bit so
// that no 16-bit wrap-around can show. With no block left, i is N: it never passes the total.
std::string blockLine(std::uint16_t currentBlock, std::uint16_t blocksLeft,
                      std::uint16_t firstBlock);
// The step's word followed directly by "(step)"; empty at step 0. Step 9 reads "(9)".
std::string statusLine(TransferStep step);

// How the port menu and the port list name the simulated device's port, which would otherwise
// look like any pseudo-terminal: "Simulated Vk350 (/dev/pts/3)".
std::string simulatedPortLabel(std::string_view path);

}  // namespace morva
