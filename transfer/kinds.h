// What a session moves (the data kind and its block range) and which way (the direction).
#pragma once

#include <cstdint>
#include <string_view>

namespace morva {

enum class DataKind : int { FirmwareUpgrade = 0, FixtureLibraries = 1, UserData = 2 };
enum class Direction : int { WriteToDevice = 0, ReadFromDevice = 1, Verify = 2 };

struct KindInfo {
  std::uint16_t firstBlock;
  std::uint16_t blockCount;
  std::string_view defaultExtension;
  std::string_view filterDescription;
  std::string_view filterPattern;
};

struct DirectionInfo {
  std::string_view dialogTitle;
  bool mustExist;     // write and verify: the chosen file must exist
  bool createPrompt;  // read: a missing file may be named; an existing one is overwritten
};

// Null for a value outside the enumeration (a session start then refuses it).
const KindInfo* kindInfo(DataKind kind);
const DirectionInfo* directionInfo(Direction direction);

}  // namespace morva
