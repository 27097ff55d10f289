// The command numbers the menu items carry. The port items are numbered from CMD_PORT_FIRST
// on: CMD_PORT_FIRST + i stands for port i of the list.
#pragma once

namespace morva {

inline constexpr int CMD_HELP_CONTENTS = 100;
inline constexpr int CMD_ABOUT = 101;
inline constexpr int CMD_READ = 102;
inline constexpr int CMD_WRITE = 103;
inline constexpr int CMD_VERIFY = 104;
inline constexpr int CMD_STOP = 105;
inline constexpr int CMD_EXIT = 106;
inline constexpr int CMD_REPEAT = 107;
inline constexpr int CMD_FONT = 108;
inline constexpr int CMD_PORT_AUTO = 200;
inline constexpr int CMD_PORT_FIRST = 201;

// The key that stops a running transfer.
inline constexpr int escapeCharacter = 27;

}  // namespace morva
