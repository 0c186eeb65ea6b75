// HTTPS GETs for the update client (libcurl over OpenSSL).
//
// https only, redirects only to https (at most 5), peer and host verified
// against the system's CA bundle, no cookies, no compression, through the
// proxy the environment names (https_proxy, no_proxy...). Time-outs:
// 10 s to connect, and a transfer that moves less than 1 byte/s for 30 s is
// abandoned; small fetches also end after 60 s in all. Progress and data
// callbacks run on the calling thread.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

namespace VirelantDesktop::update_client {

class TransferError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole body of a 200 answer; throws TransferError for any other
// status, a network failure or a body above `maxBytes`.
std::string FetchText(const std::string& url, size_t maxBytes);

// Streams the body of a 200 answer to `sink`. A sink that returns false ends
// the transfer (the caller knows why); FetchToSink then returns false.
// Throws TransferError for network failures and any other status.
bool FetchToSink(const std::string& url, const std::function<bool(const char* data, size_t size)>& sink);

// Tests only: trust `caFile` instead of the system bundle and connect as
// `connectTo` says (CURLOPT_CONNECT_TO, "HOST:PORT:CONNECT-HOST:CONNECT-PORT");
// empty strings restore the defaults. Never taken from the environment.
void SetTransferTrustForTesting(const std::string& caFile, const std::string& connectTo);

}  // namespace VirelantDesktop::update_client
