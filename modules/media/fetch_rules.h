// The download engine's decisions that need no network: what a body's first
// bytes say it is, whether that fits the requested kind, what an answer's
// status and encoding mean, and which failure code a download reports.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace VirelantDesktop::media {

inline constexpr size_t kSniffHeadBytes = 4096;

struct SniffedType {
  const char* ext;   // "png", "jpg", ..., "txt", "bin"
  const char* mime;  // "image/png", ..., "text/plain", "application/octet-stream"
};

// The type of a body by its first (at most 4096) bytes; the first matching
// rule wins, and anything unrecognised is "bin".
SniffedType SniffContent(std::span<const uint8_t> head);

// The sniffed type fits the requested kind (and a declared image type needs
// a sniffed image): image and avatar need image/*, video video/*, audio
// audio/* or the video/mp4 and video/webm containers, file anything.
bool SniffedTypeFitsKind(std::string_view kind, std::string_view sniffedMime, std::string_view declaredType);

// The failure code of an answer's status: null for 200, "redirect_blocked"
// for 300 to 399, "http_error" for anything else.
const char* StatusFailure(long status) noexcept;

// True when every Content-Encoding value is "identity" (any case); an
// answer without one counts as identity.
bool OnlyIdentityEncoding(const std::vector<std::string>& encodings);

// The media type of a Content-Type value, lower-cased ("" when absent).
std::string DeclaredMediaType(std::string_view contentType);

// Why a job stopped: 0 running, 1 canceled, 2 timeout, 3 changed.
enum class JobStatus : uint32_t { Running = 0, Canceled = 1, Timeout = 2, Changed = 3 };
// A stop reason wins over any other code.
std::string FailureCode(JobStatus status, std::string_view explicitCode);

}  // namespace VirelantDesktop::media
