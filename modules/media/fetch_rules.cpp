#include "modules/media/fetch_rules.h"

#include <cstring>

#include "platform/ascii_text.h"
#include "platform/url_text.h"

namespace VirelantDesktop::media {
namespace {

bool StartsWith(std::span<const uint8_t> head, size_t offset, std::string_view bytes) {
  return head.size() >= offset + bytes.size() && std::memcmp(head.data() + offset, bytes.data(), bytes.size()) == 0;
}

// Text: no zero byte, no controls but tab, LF and CR, and well-formed UTF-8
// up to the end, where a character cut by the head limit may lack its tail.
bool IsTextLike(std::span<const uint8_t> head) {
  if (head.empty()) return false;
  for (uint8_t c : head) {
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
  const size_t valid = platform::WellFormedUtf8Prefix(text);
  if (valid == text.size()) return true;
  // What is left must be the start of one character: a lead byte that needs
  // more bytes than are left, then continuation bytes only.
  const std::string_view tail = text.substr(valid);
  const auto lead = static_cast<unsigned char>(tail[0]);
  const size_t needed = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (needed <= tail.size()) return false;
  for (size_t k = 1; k < tail.size(); ++k) {
    if ((static_cast<unsigned char>(tail[k]) & 0xC0) != 0x80) return false;
  }
  return true;
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

SniffedType SniffContent(std::span<const uint8_t> head) {
  if (head.size() > kSniffHeadBytes) head = head.first(kSniffHeadBytes);
  if (StartsWith(head, 0, "\x89PNG\r\n\x1A\n")) return {"png", "image/png"};
  if (StartsWith(head, 0, "\xFF\xD8\xFF")) return {"jpg", "image/jpeg"};
  if (StartsWith(head, 0, "GIF87a") || StartsWith(head, 0, "GIF89a")) return {"gif", "image/gif"};
  if (StartsWith(head, 0, "RIFF") && StartsWith(head, 8, "WEBP")) return {"webp", "image/webp"};
  if (head.size() >= 8 && StartsWith(head, 4, "ftyp")) {
    if (StartsWith(head, 8, "qt  ")) return {"mov", "video/quicktime"};
    if (StartsWith(head, 8, "M4A ") || StartsWith(head, 8, "M4B ")) return {"m4a", "audio/mp4"};
    return {"mp4", "video/mp4"};
  }
  if (StartsWith(head, 0, "\x1A\x45\xDF\xA3")) return {"webm", "video/webm"};
  if (StartsWith(head, 0, "OggS")) return {"ogg", "audio/ogg"};
  if (StartsWith(head, 0, "ID3") || (head.size() >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0)) {
    return {"mp3", "audio/mpeg"};
  }
  if (StartsWith(head, 0, "%PDF")) return {"pdf", "application/pdf"};
  if (IsTextLike(head)) return {"txt", "text/plain"};
  return {"bin", "application/octet-stream"};
}

bool SniffedTypeFitsKind(std::string_view kind, std::string_view sniffedMime, std::string_view declaredType) {
  const bool sniffedImage = StartsWithText(sniffedMime, "image/");
  if (StartsWithText(declaredType, "image/") && !sniffedImage) return false;
  if (kind == "image" || kind == "avatar") return sniffedImage;
  if (kind == "video") return StartsWithText(sniffedMime, "video/");
  if (kind == "audio") {
    return StartsWithText(sniffedMime, "audio/") || sniffedMime == "video/mp4" || sniffedMime == "video/webm";
  }
  return kind == "file";
}

const char* StatusFailure(long status) noexcept {
  if (status == 200) return nullptr;
  if (status >= 300 && status <= 399) return "redirect_blocked";
  return "http_error";
}

bool OnlyIdentityEncoding(const std::vector<std::string>& encodings) {
  for (const std::string& encoding : encodings) {
    if (!platform::EqualsIgnoringAsciiCase(encoding, "identity")) return false;
  }
  return true;
}

std::string DeclaredMediaType(std::string_view contentType) {
  std::string_view type = contentType.substr(0, contentType.find(';'));
  while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) type.remove_prefix(1);
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
  return platform::LowerAscii(type);
}

std::string FailureCode(JobStatus status, std::string_view explicitCode) {
  switch (status) {
    case JobStatus::Canceled:
      return "canceled";
    case JobStatus::Timeout:
      return "timeout";
    case JobStatus::Changed:
      return "changed";
    case JobStatus::Running:
      break;
  }
  return std::string(explicitCode);
}

}  // namespace VirelantDesktop::media
