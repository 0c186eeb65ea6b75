// Error numbers in messages follow the Win32 numbering, whatever the OS:
// this table maps an errno value to the Win32 error that means the same.
#pragma once

#include <cstdint>

namespace VirelantDesktop::platform {

inline constexpr uint32_t kErrorFileNotFound = 2;     // ENOENT
inline constexpr uint32_t kErrorPathNotFound = 3;     // ENOTDIR
inline constexpr uint32_t kErrorAccessDenied = 5;     // EACCES, EPERM
inline constexpr uint32_t kErrorDiskFull = 112;       // ENOSPC, EDQUOT
inline constexpr uint32_t kErrorNotFound = 1168;      // an element (credential) not found
inline constexpr uint32_t kErrorGenFailure = 31;      // anything without a closer match

// The Win32 error number for `errnoValue` (0 maps to 0).
uint32_t Win32ErrorFromErrno(int errnoValue) noexcept;

}  // namespace VirelantDesktop::platform
