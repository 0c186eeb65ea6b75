// One HTTPS GET over libcurl as the media downloads need it: no redirects
// followed, no cookies, no caches, no decompression, "Accept-Encoding:
// identity", 64 KiB reads. The answer is handed to a sink as it arrives; a
// Cancel from any thread interrupts the transfer at once, not at the next
// chunk.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "modules/media/media_job.h"
#include "modules/media/media_request.h"

namespace VirelantDesktop::media {

inline constexpr size_t kReadChunkBytes = 65536;

struct ResponseHead {
  long status = 0;
  std::vector<std::string> contentEncodings;  // each value of every Content-Encoding header
  std::string contentType;                    // "" when absent
  std::optional<uint64_t> contentLength;
};

// Receives the answer. Returning false stops the transfer (the sink keeps
// its own reason).
class TransferSink {
 public:
  virtual ~TransferSink() = default;
  virtual bool OnHead(const ResponseHead& head) = 0;
  virtual bool OnChunk(std::span<const uint8_t> chunk) = 0;
};

enum class TransferEnd {
  Completed,    // the whole body was delivered
  SinkStopped,  // the sink returned false
  Canceled,     // Cancel was called
  Failed,       // name resolution, TLS, connection, a cut-off body...
};

class HttpTransfer final : public InterruptibleOperation {
 public:
  HttpTransfer();
  ~HttpTransfer() override;
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  // Runs the GET to its end on the calling thread. `detail` gets libcurl's
  // text for a failure.
  TransferEnd Run(const std::string& url, const std::vector<HeaderPair>& headers, TransferSink& sink,
                  std::string* detail = nullptr);
  void Cancel() noexcept override;

 private:
  struct Impl;
  Impl* impl_;
  std::atomic<bool> canceled_{false};
};

// Test-only: trust `caFile` in addition to nothing else, and send every
// connection for "host:port" to another place ("host:port:address:port",
// libcurl's connect-to form). Empty strings restore the defaults.
void SetDownloadTrustForTesting(std::string caFile, std::string connectTo);

// Pure: the values of a raw header line "Name: v1, v2" when its name is
// `name` (any case); nullopt for other lines.
std::optional<std::vector<std::string>> HeaderValues(std::string_view line, std::string_view name);

}  // namespace VirelantDesktop::media
