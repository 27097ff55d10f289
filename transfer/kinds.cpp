#include "transfer/kinds.h"

#include <array>

namespace morva {

namespace {

// The three kinds share the device's blocks 0..4095 without gap or overlap.
constexpr std::array<KindInfo, 3> kinds{{
    {0, 512, "upg", "FirmWare upgrade (*.upg)", "*.upg"},
    {512, 384, "lib", "Fixture libraries (*.lib)", "*.lib"},
    {896, 3200, "usr", "User data (*.usr)", "*.usr;*.bin"},
}};

constexpr std::array<DirectionInfo, 3> directions{{
    {"Choose file with data :", true, false},
    {"Choose file to write into :", false, true},
    {"Choose file for veryfication :", true, false},
}};

}  // namespace

const KindInfo* kindInfo(DataKind kind) {
  auto index = static_cast<unsigned>(kind);
  return index < kinds.size() ? &kinds[index] : nullptr;
}

const DirectionInfo* directionInfo(Direction direction) {
  auto index = static_cast<unsigned>(direction);
  return index < directions.size() ? &directions[index] : nullptr;
}

}  // namespace morva
