#include "transfer/version.h"

#ifndef MORVA_VERSION_TEXT
#error "MORVA_VERSION_TEXT names the version: the build defines it from the project's version"
#endif

namespace morva {

std::string_view versionNumber() {
  return MORVA_VERSION_TEXT;
}

}  // namespace morva
