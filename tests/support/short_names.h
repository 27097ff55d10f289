// The directions and kinds by the short names that tables of cases use.
#pragma once

#include "transfer/kinds.h"

namespace morva::testing::short_names {

inline constexpr Direction W = Direction::WriteToDevice, R = Direction::ReadFromDevice,
                           V = Direction::Verify;
inline constexpr DataKind FW = DataKind::FirmwareUpgrade, LIB = DataKind::FixtureLibraries,
                          USR = DataKind::UserData;

}  // namespace morva::testing::short_names
