// Every text a session shows the operator, in one place: the failures, the overwrite question
// and the verification's question. The texts, captions and icons are the system's own.
#pragma once

#include <cstdint>
#include <string>

#include "transfer/failure.h"
#include "transfer/operator.h"

namespace morva {

// The box for a failure: caption, icon and text, and the file's or the OS's reason as the
// detail where there is one.
Message failureMessage(const Failure& failure);

// "File NAME already exists !\nDo you want overwrite the file ?", Yes and No, No the default.
Message overwriteQuestion(const std::string& path);

// A difference found by a verification: the block as the operator counts it (from 1), the
// position in the block, the file's byte and the device's.
Message differenceQuestion(unsigned shownBlock, std::size_t position, std::uint8_t fileByte,
                           std::uint8_t deviceByte);

}  // namespace morva
