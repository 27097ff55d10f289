// The Win32 data-file service on real files under Wine: the cases every OS shares.
#include "platform/win32/file_service.h"

#include "tests/support/file_service_cases.h"

namespace morva::testing {

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, FileServiceContract, Win32FileService);

}  // namespace morva::testing
