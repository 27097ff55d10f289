#include "platform/win32/file_service.h"

#include <windows.h>

#include "platform/win32/os_error.h"

namespace morva {
namespace {

// Others may read, write, rename and delete the file while we hold it, as with the C runtime's
// streams: the identity check, not a sharing refusal, tells when the path changed.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

OsError fileError(DWORD number) {
  FailureCause cause = FailureCause::Other;
  if (number == ERROR_ACCESS_DENIED) cause = FailureCause::PermissionDenied;
  if (number == ERROR_FILE_NOT_FOUND || number == ERROR_PATH_NOT_FOUND)
    cause = FailureCause::NotFound;
  if (number == ERROR_SHARING_VIOLATION || number == ERROR_LOCK_VIOLATION)
    cause = FailureCause::Busy;
  OsError error = win32Error(number, cause);
  error.advice.clear();  // the advice is about ports, not files
  return error;
}

// What an open handle is: a file or a directory on a disk, a disk itself (a device path such
// as \\.\PhysicalDrive0), or a character device or pipe.
PathKind kindOfHandle(HANDLE h, const std::string& path) {
  switch (GetFileType(h)) {
    case FILE_TYPE_DISK: {
      BY_HANDLE_FILE_INFORMATION info{};
      if (GetFileInformationByHandle(h, &info))
        return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory
                                                                  : PathKind::Regular;
      return path.starts_with("\\\\.\\") ? PathKind::BlockDevice : PathKind::Other;
    }
    default:
      return PathKind::Other;
  }
}

// A file on a disk by its volume and index; a device has none the session could compare.
std::optional<FileIdentity> identityOfHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info))
    return std::nullopt;
  return FileIdentity{
      .device = false,
      .volume = info.dwVolumeSerialNumber,
      .number = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// Opens the path only to look at it: no access to the content, directories included.
HANDLE openForQuery(const std::string& path) {
  return CreateFileA(path.c_str(), 0, shareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

class Win32OpenFile : public OpenFile {
 public:
  Win32OpenFile(HANDLE h, std::string path) : handle_(h), path_(std::move(path)) {}
  ~Win32OpenFile() override { close(); }
  Win32OpenFile(const Win32OpenFile&) = delete;
  Win32OpenFile& operator=(const Win32OpenFile&) = delete;

  ReadResult read(std::span<std::uint8_t> into) override {
    ReadResult result;
    while (result.count < into.size()) {
      DWORD n = 0;
      const auto want = static_cast<DWORD>(into.size() - result.count);
      if (!ReadFile(handle_, into.data() + result.count, want, &n, nullptr)) {
        // A pipe whose writer has gone has ended, like a file.
        if (GetLastError() == ERROR_BROKEN_PIPE) {
          result.endOfFile = true;
        } else {
          result.error = !fail(GetLastError());
        }
        break;
      }
      if (n == 0) {
        result.endOfFile = true;
        break;
      }
      result.count += n;
    }
    return result;
  }

  bool write(std::span<const std::uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD n = 0;
      const auto want = static_cast<DWORD>(bytes.size() - done);
      if (!WriteFile(handle_, bytes.data() + done, want, &n, nullptr)) return fail(GetLastError());
      if (n == 0) return fail(ERROR_WRITE_FAULT);
      done += n;
    }
    return true;
  }

  bool seek(std::uint64_t offset) override {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) || fail(GetLastError());
  }

  std::optional<std::uint64_t> length() override {
    LARGE_INTEGER size{};
    if (GetFileType(handle_) != FILE_TYPE_DISK || !GetFileSizeEx(handle_, &size)) {
      fail(GetLastError());
      return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  bool truncate(std::uint64_t length) override {
    LARGE_INTEGER at{}, to{};
    to.QuadPart = static_cast<LONGLONG>(length);
    // SetEndOfFile cuts at the position: go there, cut, and come back.
    if (!SetFilePointerEx(handle_, LARGE_INTEGER{}, &at, FILE_CURRENT) ||
        !SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_)) {
      const DWORD number = GetLastError();
      SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN);
      return fail(number);
    }
    return SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) || fail(GetLastError());
  }

  PathKind kind() override { return kindOfHandle(handle_, path_); }
  std::optional<FileIdentity> identity() override { return identityOfHandle(handle_); }
  // A COM port or a console; NUL, also a character device, takes a read as /dev/null does.
  bool isTerminal() override {
    DCB line{};
    DWORD mode = 0;
    return GetCommState(handle_, &line) || GetConsoleMode(handle_, &mode);
  }

  bool isAt(const std::string& path) override {
    BY_HANDLE_FILE_INFORMATION held{}, named{};
    if (!GetFileInformationByHandle(handle_, &held)) return fail(GetLastError());
    HANDLE other = openForQuery(path);
    if (other == INVALID_HANDLE_VALUE) return fail(GetLastError());
    const bool known = GetFileInformationByHandle(other, &named);
    const DWORD number = GetLastError();
    CloseHandle(other);
    if (!known) return fail(number);
    return held.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
           held.nFileIndexHigh == named.nFileIndexHigh && held.nFileIndexLow == named.nFileIndexLow;
  }

  bool lock(LockKind kind) override {
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
    if (kind == LockKind::Exclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
    OVERLAPPED at{};
    if (LockFileEx(handle_, flags, 0, MAXDWORD, MAXDWORD, &at)) {
      locked_ = true;
      return true;
    }
    const DWORD number = GetLastError();
    if (number == ERROR_LOCK_VIOLATION || number == ERROR_IO_PENDING) {
      lastError_ = fileError(ERROR_LOCK_VIOLATION);
      lastError_.cause = FailureCause::Busy;
      lastError_.advice = "Another transfer is using the file; let it end, then try again.";
      return false;
    }
    // A device or a file system without locks has nothing to take.
    if (number == ERROR_INVALID_FUNCTION || number == ERROR_NOT_SUPPORTED) return true;
    return fail(number);
  }

  void unlock() override {
    if (!locked_) return;
    OVERLAPPED at{};
    UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &at);
    locked_ = false;
  }

  bool close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    unlock();
    const BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed || fail(GetLastError());
  }

  const OsError& lastError() const override { return lastError_; }

 private:
  bool fail(DWORD number) {
    lastError_ = fileError(number);
    return false;
  }

  HANDLE handle_;
  std::string path_;  // a disk opened by its device path tells what it is only by the path
  bool locked_ = false;
  OsError lastError_;
};

}  // namespace

PathInfo Win32FileService::inspect(const std::string& path) {
  PathInfo info;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Device names (NUL, COM1, \\.\...) have no attributes; opening them tells what they are.
    HANDLE h = openForQuery(path);
    if (h == INVALID_HANDLE_VALUE) {
      info.error = fileError(GetLastError());
      return info;
    }
    info.kind = kindOfHandle(h, path);
    CloseHandle(h);
    return info;
  }
  info.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::Regular;
  info.writeProtected = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (HANDLE h = openForQuery(path); h != INVALID_HANDLE_VALUE) {
    info.identity = identityOfHandle(h);
    CloseHandle(h);
  }
  return info;
}

std::unique_ptr<OpenFile> Win32FileService::open(const std::string& path, OpenMode mode,
                                                 OsError& error) {
  DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::Read:
      break;
    case OpenMode::Update:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    case OpenMode::CreateNew:
      access = GENERIC_READ | GENERIC_WRITE;  // read too: the session reads it back at its end
      disposition = CREATE_NEW;
      break;
    case OpenMode::WriteOnly:
      access = GENERIC_WRITE;
      break;
    case OpenMode::Append:
      access = FILE_APPEND_DATA;  // every write goes to the end, whoever else writes
      disposition = OPEN_ALWAYS;
      break;
  }
  HANDLE h = CreateFileA(path.c_str(), access, shareAll, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = fileError(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32OpenFile>(h, path);
}

std::vector<FileIdentity> standardOutputIdentities() {
  std::vector<FileIdentity> identities;
  for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) continue;
    if (const auto identity = identityOfHandle(h)) identities.push_back(*identity);
  }
  return identities;
}

}  // namespace morva
