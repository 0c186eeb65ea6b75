#include "modules/media/cache_scope.h"

#include <openssl/evp.h>

#include <memory>

namespace VirelantDesktop::media {
namespace {

bool IsSegmentByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-';
}

std::string Field(const JSValue& scope, const char* name) {
  const auto it = scope.find(name);
  if (it == scope.end() || !it->is_string()) return {};
  return SanitizeScopeSegment(it->get_ref<const std::string&>());
}

}  // namespace

std::string SanitizeScopeSegment(std::string_view value) {
  std::string out;
  const size_t length = std::min(value.size(), kScopeSegmentMax);
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    out.push_back(IsSegmentByte(c) ? static_cast<char>(c) : '_');
  }
  return out;
}

std::optional<CacheScope> ParseCacheScope(const JSValue& scope) {
  if (!scope.is_object()) return std::nullopt;
  CacheScope result{Field(scope, "uid"), Field(scope, "ws"), Field(scope, "thread")};
  if (result.uid.empty()) return std::nullopt;
  if (result.uid == "tmp" || result.uid == "pending-wipe" || result.uid == "up") result.uid = "u_" + result.uid;
  if (result.ws.empty()) result.ws = "_person";
  if (result.thread.empty()) result.thread = "_none";
  return result;
}

std::string ScopeKey(const CacheScope& scope) {
  std::string key;
  key.reserve(scope.uid.size() + scope.ws.size() + scope.thread.size() + 2);
  key.append(scope.uid).append("|").append(scope.ws).append("|").append(scope.thread);
  return key;
}

std::string DedupKey(const CacheScope& scope, bool memoryOnly, std::string_view url) {
  std::string key;
  key.reserve(scope.uid.size() + scope.ws.size() + scope.thread.size() + 5 + url.size());
  key.append(scope.uid).append("|").append(scope.ws).append("|").append(scope.thread);
  key.append(memoryOnly ? "|m|" : "|d|").append(url);
  return key;
}

std::string CacheHash(std::string_view ws, std::string_view url) {
  // The algorithm is fetched once and each thread keeps its own context:
  // setting either up again costs more than hashing a URL.
  static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  thread_local std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (sha256 == nullptr || !context || EVP_DigestInit_ex(context.get(), sha256, nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), ws.data(), ws.size()) != 1 || EVP_DigestUpdate(context.get(), "|", 1) != 1 ||
      EVP_DigestUpdate(context.get(), url.data(), url.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest, &length) != 1 || length != 32) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex(64, '0');
  for (unsigned int i = 0; i < length; ++i) {
    hex[2 * i] = kHex[digest[i] >> 4];
    hex[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  return hex;
}

}  // namespace VirelantDesktop::media
