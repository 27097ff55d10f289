// Lets the display tests build session records without the transfer library: the display
// reads the record's fields and never opens, reads or closes its data files.
#include "transfer/data_file.h"

namespace morva {

DataFile::~DataFile() = default;

}  // namespace morva
