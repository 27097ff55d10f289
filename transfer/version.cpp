#include "transfer/version.h"

#include "version/number.h"

namespace morva {

std::string_view versionNumber() {
  return MORVA_VERSION_TEXT;
}

}  // namespace morva
