#include "updater/asset_fetcher.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>

#include "updater/update_policy.h"

namespace TalvekUpdater {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_trustLock;  // guards g_caFile and g_connectTo
std::string g_caFile;
std::string g_connectTo;

uint64_t TickMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

struct Transfer {
  std::string body;
  bool requestStarted = false;  // connected: the silence clock runs from here
  Clock::time_point lastActivity;
  curl_off_t lastDown = 0;
  curl_off_t lastUp = 0;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (bytes > kMaxAssetBytes - transfer->body.size()) return 0;  // over the cap: curl stops with an error
  try {
    transfer->body.append(data, bytes);
  } catch (...) {
    return 0;
  }
  return bytes;
}

// Called once a connection is made, before the request goes out (and again
// for each redirect's connection).
int OnConnected(void* user, char*, char*, int, int) {
  auto* transfer = static_cast<Transfer*>(user);
  transfer->requestStarted = true;
  transfer->lastActivity = Clock::now();
  return CURL_PREREQFUNC_OK;
}

// The send and receive time-out: curl calls this about once a second even
// when nothing moves; a silence longer than kAssetIdleTimeoutMs after the
// connection was made ends the transfer. (curl's own low-speed limit counts
// whole seconds and only while receiving.)
// Header bytes are activity as much as body bytes.
size_t OnHeader(char*, size_t size, size_t count, void* user) {
  static_cast<Transfer*>(user)->lastActivity = Clock::now();
  return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto* transfer = static_cast<Transfer*>(user);
  if (!transfer->requestStarted) return 0;  // the connect time-out covers this part
  const Clock::time_point now = Clock::now();
  if (downloaded != transfer->lastDown || uploaded != transfer->lastUp) {
    transfer->lastDown = downloaded;
    transfer->lastUp = uploaded;
    transfer->lastActivity = now;
    return 0;
  }
  return now - transfer->lastActivity > std::chrono::milliseconds(kAssetIdleTimeoutMs) ? 1 : 0;
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

std::string AssetUrl(std::string_view feedUrl, std::string_view name, uint64_t tickMs) {
  std::string url(feedUrl);
  if (url.empty() || (url.back() != '/' && url.back() != '\\')) url.push_back('/');
  url.append(name);
  url.append("?t=");
  url.append(std::to_string(tickMs));
  return url;
}

std::optional<std::string> FetchAsset(const std::string& name, const std::string& feedUrl) noexcept {
  try {
    if (!VirelantDesktop::updater::IsPlainFileName(name)) return std::nullopt;
    if (feedUrl.size() < 8 || feedUrl.compare(0, 8, "https://") != 0) return std::nullopt;
    const std::string url = AssetUrl(feedUrl, name, TickMs());

    InitCurlOnce();
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return std::nullopt;
    std::unique_ptr<curl_slist, ListDeleter> headers(curl_slist_append(nullptr, "Cache-Control: no-cache"));
    if (!headers) return std::nullopt;
    std::string caFile;
    std::unique_ptr<curl_slist, ListDeleter> connectTo;
    {
      std::lock_guard lock(g_trustLock);
      caFile = g_caFile;
      if (!g_connectTo.empty()) connectTo.reset(curl_slist_append(nullptr, g_connectTo.c_str()));
    }

    Transfer transfer;
    CURL* handle = curl.get();
    bool ok = curl_easy_setopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_USERAGENT, kAssetUserAgent) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, kAssetConnectTimeoutMs) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, OnConnected) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_PREREQDATA, &transfer) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, OnProgress) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeader) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAssetBytes)) ==
                  CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
              curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    // A proxy from the environment (https_proxy, all_proxy, no_proxy) is
    // used as libcurl finds it, in tests as well.
    if (ok && !caFile.empty()) ok = curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK;
    if (ok && connectTo) ok = curl_easy_setopt(handle, CURLOPT_CONNECT_TO, connectTo.get()) == CURLE_OK;
    if (!ok) return std::nullopt;

    if (curl_easy_perform(handle) != CURLE_OK) return std::nullopt;
    long status = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) return std::nullopt;
    return std::move(transfer.body);
  } catch (...) {
    return std::nullopt;
  }
}

void SetAssetFetchTrustForTesting(const std::string& caFile, const std::string& connectTo) {
  std::lock_guard lock(g_trustLock);
  g_caFile = caFile;
  g_connectTo = connectTo;
}

}  // namespace TalvekUpdater
