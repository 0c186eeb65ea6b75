#include "platform/win32_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace VirelantDesktop::platform {
namespace {

// Numbers as published in the Win32 error code list (winerror.h); messages
// quote them, so a wrong number misleads whoever reads the message.
TEST(Win32ErrorTest, MapsErrnoToWin32Numbers) {
  struct Row {
    int errnoValue;
    const char* errnoName;
    uint32_t win32;
  };
  const Row rows[] = {
      {0, "0", 0},                           // ERROR_SUCCESS
      {ENOENT, "ENOENT", 2},                 // ERROR_FILE_NOT_FOUND
      {ENOTDIR, "ENOTDIR", 3},               // ERROR_PATH_NOT_FOUND
      {EMFILE, "EMFILE", 4},                 // ERROR_TOO_MANY_OPEN_FILES
      {ENFILE, "ENFILE", 4},                 // ERROR_TOO_MANY_OPEN_FILES
      {EACCES, "EACCES", 5},                 // ERROR_ACCESS_DENIED
      {EPERM, "EPERM", 5},                   // ERROR_ACCESS_DENIED
      {EISDIR, "EISDIR", 5},                 // ERROR_ACCESS_DENIED
      {EBADF, "EBADF", 6},                   // ERROR_INVALID_HANDLE
      {ENOMEM, "ENOMEM", 8},                 // ERROR_NOT_ENOUGH_MEMORY
      {EXDEV, "EXDEV", 17},                  // ERROR_NOT_SAME_DEVICE
      {EROFS, "EROFS", 19},                  // ERROR_WRITE_PROTECT
      {EBUSY, "EBUSY", 32},                  // ERROR_SHARING_VIOLATION
      {ETXTBSY, "ETXTBSY", 32},              // ERROR_SHARING_VIOLATION
      {ENOSYS, "ENOSYS", 50},                // ERROR_NOT_SUPPORTED
      {EOPNOTSUPP, "EOPNOTSUPP", 50},        // ERROR_NOT_SUPPORTED
      {EINVAL, "EINVAL", 87},                // ERROR_INVALID_PARAMETER
      {E2BIG, "E2BIG", 87},                  // ERROR_INVALID_PARAMETER
      {EPIPE, "EPIPE", 109},                 // ERROR_BROKEN_PIPE
      {ENOSPC, "ENOSPC", 112},               // ERROR_DISK_FULL
      {EDQUOT, "EDQUOT", 112},               // ERROR_DISK_FULL
      {ENOTEMPTY, "ENOTEMPTY", 145},         // ERROR_DIR_NOT_EMPTY
      {EEXIST, "EEXIST", 183},               // ERROR_ALREADY_EXISTS
      {ENOEXEC, "ENOEXEC", 193},             // ERROR_BAD_EXE_FORMAT
      {ENAMETOOLONG, "ENAMETOOLONG", 206},   // ERROR_FILENAME_EXCED_RANGE
      {EIO, "EIO", 1117},                    // ERROR_IO_DEVICE
      {ECANCELED, "ECANCELED", 1223},        // ERROR_CANCELLED
      {ECONNREFUSED, "ECONNREFUSED", 1225},  // ERROR_CONNECTION_REFUSED
      {ETIMEDOUT, "ETIMEDOUT", 1460},        // ERROR_TIMEOUT
      {ELOOP, "ELOOP", 1921},                // ERROR_CANT_RESOLVE_FILENAME
  };
  for (const auto& [errnoValue, errnoName, win32] : rows) {
    SCOPED_TRACE(errnoName);
    EXPECT_EQ(Win32ErrorFromErrno(errnoValue), win32);
  }
}

TEST(Win32ErrorTest, NamedConstantsMatchTheTable) {
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT), kErrorFileNotFound);
  EXPECT_EQ(Win32ErrorFromErrno(ENOTDIR), kErrorPathNotFound);
  EXPECT_EQ(Win32ErrorFromErrno(EACCES), kErrorAccessDenied);
  EXPECT_EQ(Win32ErrorFromErrno(ENOSPC), kErrorDiskFull);
}

TEST(Win32ErrorTest, UnmatchedValuesAreGeneralFailures) {
  const int values[] = {EAGAIN, EINTR, ESRCH, EDOM, -1, -ENOENT, 100000};
  for (int value : values) {
    SCOPED_TRACE(value);
    EXPECT_EQ(Win32ErrorFromErrno(value), kErrorGenFailure);
  }
}

}  // namespace
}  // namespace VirelantDesktop::platform
