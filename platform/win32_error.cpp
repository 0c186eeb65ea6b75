#include "platform/win32_error.h"

#include <cerrno>

namespace VirelantDesktop::platform {

uint32_t Win32ErrorFromErrno(int errnoValue) noexcept {
  switch (errnoValue) {
    case 0:
      return 0;  // ERROR_SUCCESS
    case ENOENT:
      return kErrorFileNotFound;  // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
      return kErrorPathNotFound;  // ERROR_PATH_NOT_FOUND
    case EMFILE:
    case ENFILE:
      return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;  // ERROR_ACCESS_DENIED
    case EBADF:
      return 6;  // ERROR_INVALID_HANDLE
    case ENOMEM:
      return 8;  // ERROR_NOT_ENOUGH_MEMORY
    case EROFS:
      return 19;  // ERROR_WRITE_PROTECT
    case EXDEV:
      return 17;  // ERROR_NOT_SAME_DEVICE
    case EBUSY:
    case ETXTBSY:
      return 32;  // ERROR_SHARING_VIOLATION
    case ENOSYS:
    case EOPNOTSUPP:  // same value as ENOTSUP on Linux
      return 50;  // ERROR_NOT_SUPPORTED
    case EINVAL:
    case E2BIG:
      return 87;  // ERROR_INVALID_PARAMETER
    case EPIPE:
      return 109;  // ERROR_BROKEN_PIPE
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;  // ERROR_DISK_FULL
    case ENOTEMPTY:
      return 145;  // ERROR_DIR_NOT_EMPTY
    case EEXIST:
      return 183;  // ERROR_ALREADY_EXISTS
    case ENOEXEC:
      return 193;  // ERROR_BAD_EXE_FORMAT
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EIO:
      return 1117;  // ERROR_IO_DEVICE
    case ECANCELED:
      return 1223;  // ERROR_CANCELLED
    case ECONNREFUSED:
      return 1225;  // ERROR_CONNECTION_REFUSED
    case ETIMEDOUT:
      return 1460;  // ERROR_TIMEOUT
    case ELOOP:
      return 1921;  // ERROR_CANT_RESOLVE_FILENAME
    default:
      return kErrorGenFailure;  // ERROR_GEN_FAILURE
  }
}

}  // namespace VirelantDesktop::platform
