#include "platform/win32/os_error.h"

#include <windows.h>

namespace morva {
namespace {

std::string systemText(DWORD number) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, number, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result(text != nullptr ? text : "", length);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.'))
    result.pop_back();
  if (result.empty()) result = "error " + std::to_string(number);
  return result;
}

}  // namespace

OsError win32Error(unsigned long number, FailureCause cause) {
  // Windows refuses a port another program holds with "Access is denied".
  std::string advice;
  if (cause == FailureCause::Busy)
    advice = "Another program is using the port; close it and try again.";
  return OsError{static_cast<int>(number), systemText(number), cause, std::move(advice)};
}

FailureCause portOpenCause(unsigned long number) {
  switch (number) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return FailureCause::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FailureCause::NotFound;
    default:
      return FailureCause::Other;
  }
}

bool meansDeviceGone(unsigned long number) {
  switch (number) {
    case ERROR_ACCESS_DENIED:  // what a pulled USB adapter's handle answers from then on
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BROKEN_PIPE:
      return true;
    default:
      return false;
  }
}

}  // namespace morva
