// What the download engine reads from a server: a header line and the head
// of a body.
//
// Input: the text up to the first zero byte is a header line; the rest is
// the start of a body.
//  - HeaderValues gives values only for the asked name, each trimmed, none
//    empty and none holding a comma;
//  - DeclaredMediaType is lower case without parameters or blanks;
//  - SniffContent always gives one of the table's types, "txt" only for a
//    head without zero bytes, and the same answer for the first 4096 bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "modules/media/fetch_rules.h"
#include "modules/media/http_transfer.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace VirelantDesktop::media;
  const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t lineSize = end ? static_cast<size_t>(end - data) : size;
  const std::string_view line(reinterpret_cast<const char*>(data), lineSize);

  for (const char* name : {"content-encoding", "content-type", "content-length"}) {
    if (auto values = HeaderValues(line, name)) {
      for (const std::string& value : *values) {
        Check(!value.empty() && value.find(',') == std::string::npos);
        Check(value.front() != ' ' && value.back() != ' ' && value.front() != '\t' && value.back() != '\t');
      }
      OnlyIdentityEncoding(*values);
    }
  }
  const std::string declared = DeclaredMediaType(line);
  for (char c : declared) Check(!(c >= 'A' && c <= 'Z') && c != ';');

  const std::span<const uint8_t> body(data + lineSize, size - lineSize);
  const SniffedType type = SniffContent(body);
  Check(type.ext != nullptr && type.mime != nullptr);
  if (std::string_view(type.ext) == "txt") Check(std::memchr(body.data(), 0, std::min(body.size(), kSniffHeadBytes)) == nullptr);
  if (body.size() > kSniffHeadBytes) {
    Check(std::string_view(SniffContent(body.first(kSniffHeadBytes)).mime) == type.mime);
  }
  for (const char* kind : {"image", "avatar", "video", "audio", "file"}) SniffedTypeFitsKind(kind, type.mime, declared);
  return 0;
}
