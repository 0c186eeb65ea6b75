// The bytes of a picture, from memory or from a file read front to back.
//
// The readers stream JPEG, PNG and GIF through Read() so that a large file is
// never held whole; the other formats take everything at once with ReadAll().
// Nothing here throws except ReadAll() on allocation failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_reader.h"

namespace VirelantDesktop::attach {

// Largest encoded file a reader takes into memory whole (WebP, HEIF, TIFF,
// BMP). The attachment pipeline refuses image files above 200 MiB first.
inline constexpr uint64_t kMaxWholeFileBytes = uint64_t{256} << 20;

class ImageSource {
 public:
  static ImageSource FromMemory(std::string_view bytes) noexcept;
  // nullopt when the file cannot be opened.
  static std::optional<ImageSource> OpenFile(const std::string& path);

  ImageSource(ImageSource&&) noexcept = default;
  ImageSource& operator=(ImageSource&&) noexcept = default;

  // The first `size` bytes (fewer when the source is shorter), without
  // consuming them. Only valid before the first Read() or ReadAll().
  std::string_view Peek(size_t size) noexcept;

  // Up to `size` bytes; fewer only at the end or on a read error (Failed()).
  size_t Read(void* out, size_t size) noexcept;

  // Everything not read yet; nullopt above `maxBytes` or on a read error.
  // The view lives as long as the source.
  std::optional<std::string_view> ReadAll(uint64_t maxBytes = kMaxWholeFileBytes);

  bool Failed() const noexcept { return failed_; }

 private:
  ImageSource() = default;

  bool fromFile_ = false;
  std::string_view memory_;   // memory: what is left to read
  platform::FileReader file_;
  std::string head_;          // file: bytes read by Peek() and not consumed yet
  size_t headPos_ = 0;
  std::string whole_;         // file: what ReadAll() returned
  bool failed_ = false;
};

}  // namespace VirelantDesktop::attach
