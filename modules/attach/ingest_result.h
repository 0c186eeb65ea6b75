// The record of one attachment put through the staging pipeline, and the
// object JavaScript receives for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/js_value.h"

namespace VirelantDesktop::attach {

// Error codes of a failed item (IngestResult::error).
inline constexpr const char* kErrNotFound = "not_found";
inline constexpr const char* kErrUnsupported = "unsupported";
inline constexpr const char* kErrTooLarge = "too_large";
inline constexpr const char* kErrDiskFull = "disk_full";
inline constexpr const char* kErrCopyFailed = "copy_failed";
// A picture that would take more work to decode than one may (a JPEG past
// kMaxJpegScans scans); other pictures that cannot be decoded are
// "unsupported".
inline constexpr const char* kErrDecodeFailed = "decode_failed";

struct IngestResult {
  bool ok = false;
  std::string error;  // a code above when not ok
  std::string path;   // the staged file
  std::string name;   // its (cleaned) file name
  uint64_t size = 0;
  std::string mime;
  uint32_t width = 0, height = 0;  // 0 when not measured or not an image
  std::string thumb;               // "data:image/jpeg;base64,..." or ""

  static IngestResult Failed(std::string_view code) {
    IngestResult result;
    result.error = code;
    return result;
  }
};

// Staged: {"path", "name", "size", "mime"}, plus "width" and "height" when
// both are non-zero and "thumb" when there is one. Failed: {"error"} alone.
JSValue IngestResultToJson(const IngestResult& result);

}  // namespace VirelantDesktop::attach
