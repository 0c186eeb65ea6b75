#include "modules/media/media_request.h"

#include <array>
#include <cmath>

#include "modules/media/cache_scope.h"
#include "platform/ascii_text.h"
#include "platform/url_text.h"
#include "talvek/fixed_values.h"

namespace VirelantDesktop::media {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

constexpr std::array<KindRule, 5> kKinds{{
    {"image", 10 * kMiB, 5 * kMiB, 60000},
    {"avatar", 10 * kMiB, 2 * kMiB, 60000},
    {"video", 200 * kMiB, 0, 180000},
    {"audio", 20 * kMiB, 0, 60000},
    {"file", 100 * kMiB, 0, 60000},
}};

constexpr std::array<std::string_view, 4> kImagePaths{
    "/api/dm/messages/image",
    "/api/dm/threads/image",
    "/api/workspace/directory/avatar",
    "/api/account/avatar",
};

constexpr std::string_view kStoragePrefix = "/api/storage/";

// ASCII case-insensitive equality of `text` with the lower-case `lower`.
bool EqualsLower(std::string_view text, std::string_view lower) {
  return platform::EqualsIgnoringAsciiCase(text, lower);
}

// An encoded ".", "/", "\" or NUL: "%2e", "%2f", "%5c", "%00" in any case.
bool HasEncodedSeparator(std::string_view path) {
  for (size_t at = path.find('%'); at != std::string_view::npos && at + 2 < path.size(); at = path.find('%', at + 1)) {
    const char a = path[at + 1];
    const char b = platform::LowerAscii(path[at + 2]);
    if ((a == '2' && (b == 'e' || b == 'f')) || (a == '5' && b == 'c') || (a == '0' && b == '0')) return true;
  }
  return false;
}

// Printable ASCII that a URL may carry unescaped (no non-ASCII bytes).
bool IsUrlByte(unsigned char c) { return c < 0x80 && !platform::IsUnsafeUrlByte(c); }

bool HasDotSegment(std::string_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "." || segment == "..") return true;
    start = end + 1;
  }
  return false;
}

bool IsTokenByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '+' || c == '-' ||
         c == '.' || c == '/' || c == '=' || c == '_' || c == '~';
}

bool IsPrintableAscii(std::string_view value) {
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte > 126) return false;
  }
  return true;
}

// The name a header is sent under, when its value passes the header's own
// rule; null otherwise.
const char* CheckHeader(std::string_view name, std::string_view value, std::string_view path) {
  if (EqualsLower(name, "authorization")) {
    constexpr std::string_view kBearer = "Bearer ";
    if (value.size() < 8 || value.substr(0, kBearer.size()) != kBearer) return nullptr;
    for (char c : value.substr(kBearer.size())) {
      if (!IsTokenByte(static_cast<unsigned char>(c))) return nullptr;
    }
    return "Authorization";
  }
  if (EqualsLower(name, "x-workspace-id")) {
    if (value.size() > 64) return nullptr;
    for (char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      const bool ok = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                      byte == '_' || byte == '-';
      if (!ok) return nullptr;
    }
    return "X-Workspace-Id";
  }
  if (EqualsLower(name, "x-chat-unlock")) return path.substr(0, 8) == "/api/dm/" ? "X-Chat-Unlock" : nullptr;
  if (EqualsLower(name, "cache-control")) return "Cache-Control";
  if (EqualsLower(name, "accept")) return "Accept";
  return nullptr;
}

FetchRequestCheck Refuse(const char* code) { return {std::nullopt, code}; }

const std::string* StringField(const JSValue& object, const char* name) {
  const auto it = object.find(name);
  return it != object.end() && it->is_string() ? &it->get_ref<const std::string&>() : nullptr;
}

}  // namespace

const KindRule* FindKind(std::string_view kind) noexcept {
  for (const KindRule& rule : kKinds) {
    if (kind == rule.name) return &rule;
  }
  return nullptr;
}

UrlCheck ValidateMediaUrl(std::string_view url) {
  if (url.empty() || url.size() > kMaxUrlBytes) return {{}, kInvalidRequest};
  for (char c : url) {
    if (!IsUrlByte(static_cast<unsigned char>(c))) return {{}, kInvalidRequest};
  }
  if (url.size() < 8 || !EqualsLower(url.substr(0, 8), "https://")) return {{}, kHostNotAllowed};

  const size_t authorityEnd = url.find_first_of("/?#", 8);
  if (authorityEnd == std::string_view::npos) return {{}, kHostNotAllowed};
  const std::string_view authority = url.substr(8, authorityEnd - 8);
  static const std::string host = fixed::kServiceHost;
  static const std::string hostWithPort = host + ":443";
  if (!EqualsLower(authority, host) && !EqualsLower(authority, hostWithPort)) return {{}, kHostNotAllowed};
  if (url.find('#') != std::string_view::npos) return {{}, kHostNotAllowed};

  const size_t queryStart = url.find('?', authorityEnd);
  const std::string_view path =
      url.substr(authorityEnd, (queryStart == std::string_view::npos ? url.size() : queryStart) - authorityEnd);
  if (HasEncodedSeparator(path)) return {{}, kHostNotAllowed};
  if (path.find("//") != std::string_view::npos) return {{}, kHostNotAllowed};

  for (std::string_view allowed : kImagePaths) {
    if (path == allowed) return {std::string(path), nullptr};
  }
  if (path.substr(0, kStoragePrefix.size()) != kStoragePrefix || path.size() < kStoragePrefix.size() + 1 ||
      HasDotSegment(path)) {
    return {{}, kHostNotAllowed};
  }
  return {std::string(path), nullptr};
}

std::optional<std::vector<HeaderPair>> ParseHeaders(const JSValue& headers, std::string_view path) {
  if (!headers.is_object()) return std::nullopt;
  std::vector<HeaderPair> pairs;
  pairs.reserve(headers.size());
  for (const auto& [name, value] : headers.items()) {
    if (!value.is_string()) return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > kMaxHeaderValueBytes || !IsPrintableAscii(text)) return std::nullopt;
    const char* sentAs = CheckHeader(name, text, path);
    if (sentAs == nullptr) return std::nullopt;
    // Each accepted name maps to one sent name: a repeat is the same name
    // twice in different case.
    for (const HeaderPair& earlier : pairs) {
      if (earlier.name == sentAs) return std::nullopt;
    }
    pairs.push_back({sentAs, text});
  }
  return pairs;
}

uint32_t RequestTimeoutMs(const KindRule& kind, const JSValue* timeoutMs) noexcept {
  if (timeoutMs == nullptr || !timeoutMs->is_number()) return kind.defaultTimeoutMs;
  const double value = timeoutMs->get<double>();
  if (!(value > kMinTimeoutMs)) return kMinTimeoutMs;  // at or below the minimum, and NaN
  if (value >= kMaxTimeoutMs) return kMaxTimeoutMs;
  return static_cast<uint32_t>(std::trunc(value));
}

uint64_t FetchRequest::EffectiveMaxBytes() const noexcept {
  const KindRule* rule = FindKind(kind);
  if (memoryOnly && rule != nullptr && rule->memoryOnlyMaxBytes != 0) return rule->memoryOnlyMaxBytes;
  return maxBytes;
}

FetchRequestCheck ParseFetchRequest(const JSValue& request) {
  if (!request.is_object()) return Refuse(kInvalidRequest);
  const std::string* url = StringField(request, "url");
  const std::string* kind = StringField(request, "kind");
  const std::string* requestId = StringField(request, "requestId");
  const auto scopeIt = request.find("scope");
  if (url == nullptr || kind == nullptr || requestId == nullptr || scopeIt == request.end()) {
    return Refuse(kInvalidRequest);
  }
  if (requestId->empty()) return Refuse(kInvalidRequest);
  std::optional<CacheScope> scope = ParseCacheScope(*scopeIt);
  if (!scope) return Refuse(kInvalidRequest);
  const KindRule* rule = FindKind(*kind);
  if (rule == nullptr) return Refuse(kInvalidRequest);

  bool memoryOnly = false;
  const auto memoryIt = request.find("memoryOnly");
  if (memoryIt != request.end() && memoryIt->is_boolean() && memoryIt->get<bool>()) {
    if (rule->memoryOnlyMaxBytes == 0) return Refuse(kInvalidRequest);
    memoryOnly = true;
  }

  UrlCheck checked = ValidateMediaUrl(*url);
  if (!checked.ok()) return Refuse(checked.error);

  std::vector<HeaderPair> headers;
  const auto headersIt = request.find("headers");
  if (headersIt != request.end() && !headersIt->is_null()) {
    auto parsed = ParseHeaders(*headersIt, checked.path);
    if (!parsed) return Refuse(kInvalidRequest);
    headers = std::move(*parsed);
  }

  const auto timeoutIt = request.find("timeoutMs");
  const uint32_t timeoutMs = RequestTimeoutMs(*rule, timeoutIt == request.end() ? nullptr : &*timeoutIt);

  FetchRequest record;
  record.hash = CacheHash(scope->ws, *url);
  if (record.hash.empty()) return Refuse(kCacheUnavailable);
  record.dedupKey = DedupKey(*scope, memoryOnly, *url);
  record.url = *url;
  record.path = std::move(checked.path);
  record.kind = rule->name;
  record.requestId = *requestId;
  record.uid = std::move(scope->uid);
  record.ws = std::move(scope->ws);
  record.thread = std::move(scope->thread);
  record.headers = std::move(headers);
  record.maxBytes = rule->maxBytes;
  record.memoryOnly = memoryOnly;
  record.timeoutMs = timeoutMs;
  return {std::move(record), {}};
}

}  // namespace VirelantDesktop::media
