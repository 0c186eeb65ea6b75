#include "updater/client/https_transfer.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace VirelantDesktop::update_client {
namespace {

constexpr long kConnectTimeoutSeconds = 10;
constexpr long kLowSpeedBytesPerSecond = 1;
constexpr long kLowSpeedSeconds = 30;
constexpr long kSmallFetchTimeoutSeconds = 60;
constexpr long kMaxRedirects = 5;
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr const char* kUserAgent = "TALVEK-Updater/1";

// Guards g_testCaFile and g_testConnectTo.
std::mutex g_trustMutex;
std::string g_testCaFile;
std::string g_testConnectTo;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Sink {
  const std::function<bool(const char*, size_t)>* deliver = nullptr;
  bool stoppedBySink = false;
  CURL* handle = nullptr;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const size_t bytes = size * count;
  // Nothing of a redirect or an error page reaches the sink.
  long status = 0;
  curl_easy_getinfo(sink->handle, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) return bytes;
  if (!(*sink->deliver)(data, bytes)) {
    sink->stoppedBySink = true;
    return CURL_WRITEFUNC_ERROR;
  }
  return bytes;
}

void Check(CURLcode code, const char* what) {
  if (code != CURLE_OK) throw TransferError(std::string("cannot set up the transfer (") + what + ")");
}

bool Transfer(const std::string& url, const std::function<bool(const char*, size_t)>& deliver, long totalTimeout) {
  if (url.rfind("https://", 0) != 0) throw TransferError("not an https URL: " + url);
  GlobalInit();
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) throw TransferError("cannot start a transfer");
  CURL* handle = easy.get();
  char errorText[CURL_ERROR_SIZE] = {};
  Sink sink{&deliver, false, handle};
  std::unique_ptr<curl_slist, ListDeleter> headers(curl_slist_append(nullptr, "Cache-Control: no-cache"));

  Check(curl_easy_setopt(handle, CURLOPT_URL, url.c_str()), "url");
  Check(curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https"), "protocols");
  Check(curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https"), "redirect protocols");
  Check(curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L), "redirects");
  Check(curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects), "redirect count");
  Check(curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L), "verify peer");
  Check(curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L), "verify host");
  Check(curl_easy_setopt(handle, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)), "tls version");
  Check(curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L), "no signals");
  Check(curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds), "connect time-out");
  Check(curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond), "low speed");
  Check(curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds), "low speed time");
  Check(curl_easy_setopt(handle, CURLOPT_TIMEOUT, totalTimeout), "time-out");
  Check(curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent), "user agent");
  Check(curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get()), "headers");
  Check(curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText), "error buffer");
  // Larger reads than the 16 KiB default: fewer callbacks per package.
  Check(curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes), "buffer size");
  Check(curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnData), "write function");
  Check(curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink), "write data");

  std::unique_ptr<curl_slist, ListDeleter> connectTo;
  {
    const std::lock_guard lock(g_trustMutex);
    if (!g_testCaFile.empty()) {
      Check(curl_easy_setopt(handle, CURLOPT_CAINFO, g_testCaFile.c_str()), "ca file");
      Check(curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr), "ca path");
    }
    if (!g_testConnectTo.empty()) {
      connectTo.reset(curl_slist_append(nullptr, g_testConnectTo.c_str()));
      Check(curl_easy_setopt(handle, CURLOPT_CONNECT_TO, connectTo.get()), "connect to");
    }
  }

  const CURLcode result = curl_easy_perform(handle);
  if (sink.stoppedBySink) return false;
  if (result != CURLE_OK) {
    throw TransferError("download of " + url + " failed: " +
                        (errorText[0] != '\0' ? std::string(errorText) : curl_easy_strerror(result)));
  }
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) throw TransferError("download of " + url + " answered HTTP " + std::to_string(status));
  return true;
}

}  // namespace

std::string FetchText(const std::string& url, size_t maxBytes) {
  std::string body;
  const std::function<bool(const char*, size_t)> append = [&](const char* data, size_t size) {
    if (size > maxBytes - body.size()) return false;
    body.append(data, size);
    return true;
  };
  if (!Transfer(url, append, kSmallFetchTimeoutSeconds)) {
    throw TransferError(url + " is larger than " + std::to_string(maxBytes) + " bytes");
  }
  return body;
}

bool FetchToSink(const std::string& url, const std::function<bool(const char*, size_t)>& sink) {
  return Transfer(url, sink, /*totalTimeout=*/0);
}

void SetTransferTrustForTesting(const std::string& caFile, const std::string& connectTo) {
  const std::lock_guard lock(g_trustMutex);
  g_testCaFile = caFile;
  g_testConnectTo = connectTo;
}

}  // namespace VirelantDesktop::update_client
