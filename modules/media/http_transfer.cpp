#include "modules/media/http_transfer.h"

#include <curl/curl.h>

#include <charconv>
#include <mutex>

#include "platform/ascii_text.h"


namespace VirelantDesktop::media {
namespace {

std::mutex g_trustLock;  // guards g_caFile and g_connectTo
std::string g_caFile;
std::string g_connectTo;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

struct CurlSlist {
  curl_slist* list = nullptr;
  ~CurlSlist() { curl_slist_free_all(list); }
  bool Append(const std::string& line) {
    curl_slist* next = curl_slist_append(list, line.c_str());
    if (!next) return false;
    list = next;
    return true;
  }
};

}  // namespace

std::optional<std::vector<std::string>> HeaderValues(std::string_view line, std::string_view name) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || !platform::EqualsIgnoringAsciiCase(Trim(line.substr(0, colon)), name)) return std::nullopt;
  std::vector<std::string> values;
  std::string_view rest = line.substr(colon + 1);
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view value = Trim(rest.substr(0, comma));
    if (!value.empty()) values.emplace_back(value);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return values;
}

struct HttpTransfer::Impl {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;

  // Per run: the head being collected and how the run ended.
  TransferSink* sink = nullptr;
  ResponseHead head;
  bool headDelivered = false;
  bool sinkStopped = false;
  bool badHead = false;

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& impl = *static_cast<Impl*>(self);
    const size_t bytes = size * count;
    const std::string_view line(data, bytes);
    if (line.rfind("HTTP/", 0) == 0) {  // a new status line: a fresh head (after 1xx answers too)
      impl.head = ResponseHead{};
      return bytes;
    }
    if (Trim(line).empty()) {
      long status = 0;
      curl_easy_getinfo(impl.easy, CURLINFO_RESPONSE_CODE, &status);
      // 0: not the server's answer but a proxy's reply to CONNECT (libcurl
      // keeps its code apart); the tunnel's answer follows.
      if (status == 0) return bytes;
      if (status >= 100 && status < 200) return bytes;  // an interim answer; the real one follows
      impl.head.status = status;
      impl.headDelivered = true;
      if (!impl.sink->OnHead(impl.head)) {
        impl.sinkStopped = true;
        return 0;
      }
      return bytes;
    }
    if (auto values = HeaderValues(line, "content-encoding")) {
      for (auto& value : *values) impl.head.contentEncodings.push_back(std::move(value));
    } else if (auto type = HeaderValues(line, "content-type")) {
      const size_t colon = line.find(':');
      impl.head.contentType = std::string(Trim(line.substr(colon + 1)));
    } else if (auto length = HeaderValues(line, "content-length")) {
      uint64_t value = 0;
      const std::string& text = length->empty() ? std::string() : length->front();
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (length->size() != 1 || error != std::errc() || end != text.data() + text.size()) {
        impl.badHead = true;  // libcurl refuses such an answer as well
      } else {
        impl.head.contentLength = value;
      }
    }
    return bytes;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto& impl = *static_cast<Impl*>(self);
    const size_t bytes = size * count;
    if (!impl.headDelivered) return 0;
    if (!impl.sink->OnChunk(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data), bytes))) {
      impl.sinkStopped = true;
      return 0;
    }
    return bytes;
  }
};

HttpTransfer::HttpTransfer() : impl_(new Impl) {
  InitCurlOnce();
  impl_->multi = curl_multi_init();
  impl_->easy = curl_easy_init();
}

HttpTransfer::~HttpTransfer() {
  if (impl_->multi && impl_->easy) curl_multi_remove_handle(impl_->multi, impl_->easy);
  if (impl_->easy) curl_easy_cleanup(impl_->easy);
  if (impl_->multi) curl_multi_cleanup(impl_->multi);
  delete impl_;
}

void HttpTransfer::Cancel() noexcept {
  canceled_.store(true);
  if (impl_->multi) curl_multi_wakeup(impl_->multi);
}

TransferEnd HttpTransfer::Run(const std::string& url, const std::vector<HeaderPair>& headers, TransferSink& sink,
                              std::string* detail) {
  auto fail = [detail](std::string text) {
    if (detail) *detail = std::move(text);
    return TransferEnd::Failed;
  };
  if (!impl_->multi || !impl_->easy) return fail("libcurl could not be initialised");
  if (canceled_.load()) return TransferEnd::Canceled;

  CurlSlist requestHeaders;
  for (const HeaderPair& header : headers) {
    // "Name;" is libcurl's way to send a header with an empty value.
    if (!requestHeaders.Append(header.value.empty() ? header.name + ";" : header.name + ": " + header.value))
      return fail("out of memory");
  }
  if (!requestHeaders.Append("Accept-Encoding: identity")) return fail("out of memory");

  std::string caFile, connectTo;
  {
    std::lock_guard lock(g_trustLock);
    caFile = g_caFile;
    connectTo = g_connectTo;
  }
  CurlSlist connectToList;
  if (!connectTo.empty() && !connectToList.Append(connectTo)) return fail("out of memory");

  char errorText[CURL_ERROR_SIZE] = {};
  CURL* easy = impl_->easy;
  impl_->sink = &sink;
  impl_->head = ResponseHead{};
  impl_->headDelivered = impl_->sinkStopped = impl_->badHead = false;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  // A proxy from the environment (https_proxy, all_proxy, no_proxy) is used
  // as libcurl finds it; its reply to CONNECT is not part of the answer.
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kReadChunkBytes));
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, requestHeaders.list);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, impl_);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, impl_);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
  if (!caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
  if (connectToList.list) curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectToList.list);

  if (curl_multi_add_handle(impl_->multi, easy) != CURLM_OK) return fail("libcurl refused the transfer");
  CURLcode result = CURLE_OK;
  bool finished = false;
  while (!canceled_.load()) {
    int running = 0;
    if (curl_multi_perform(impl_->multi, &running) != CURLM_OK) {
      result = CURLE_RECV_ERROR;
      finished = true;
      break;
    }
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(impl_->multi, &pending)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        result = message->data.result;
        finished = true;
      }
    }
    if (finished || running == 0) break;
    curl_multi_poll(impl_->multi, nullptr, 0, 1000, nullptr);
  }
  curl_multi_remove_handle(impl_->multi, easy);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(easy, CURLOPT_CONNECT_TO, nullptr);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);

  if (impl_->sinkStopped) return TransferEnd::SinkStopped;
  if (canceled_.load()) return TransferEnd::Canceled;
  if (!finished) return fail("the transfer ended without a result");
  if (result != CURLE_OK) return fail(errorText[0] ? errorText : curl_easy_strerror(result));
  if (impl_->badHead) return fail("invalid Content-Length");
  if (!impl_->headDelivered) return fail("no answer");
  return TransferEnd::Completed;
}

void SetDownloadTrustForTesting(std::string caFile, std::string connectTo) {
  std::lock_guard lock(g_trustLock);
  g_caFile = std::move(caFile);
  g_connectTo = std::move(connectTo);
}

}  // namespace VirelantDesktop::media
