// The sign-in redirect as HTTP, free of I/O: reading the request, its query
// parameters and its Host, deciding what the redirect means, and the two
// answers (the result page and the 404).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace VirelantDesktop::authlb {

enum class OutcomeStatus : int32_t { Ok = 0, Error = 1, Canceled = 2, Timeout = 3 };

struct Outcome {
  OutcomeStatus status = OutcomeStatus::Error;
  std::string kind;   // "code" or "ott" (Ok only)
  std::string value;  // the credential, percent-decoded (Ok only)
  std::string error;  // Error only: the provider's code, "error", "no_code" or "listen_failed"
  bool stateVerified = false;
  std::string codeVerifier;  // copied in on Ok
};

struct ParsedRequest {
  bool ok = false;
  std::string path;
  std::string query;
  std::string host;            // as received
  std::string acceptLanguage;  // as received
  bool isGet = false;
};

// Parses a request's line and headers (only Host and Accept-Language kept).
ParsedRequest ParseRequest(std::string_view text);

// The first parameter of `query` whose decoded name is `name`, decoded
// (platform::PercentDecode: "%XY" becomes a byte, "+" stays).
std::optional<std::string> QueryParam(std::string_view query, std::string_view name);

// An empty Host passes; otherwise "127.0.0.1:<port>" or "localhost:<port>",
// compared with ASCII letters lower-cased.
bool HostMatches(std::string_view host, uint16_t port);

// Same length and same bytes, every byte compared whatever the first
// difference (no early exit to time).
bool ConstantTimeEquals(std::string_view a, std::string_view b) noexcept;

// What a redirect that passed every check means, from its "error", "code"
// and "ott" parameters.
Outcome OutcomeOfRedirect(const std::optional<std::string>& error, const std::optional<std::string>& code,
                          const std::optional<std::string>& ott, bool stateVerified, std::string_view codeVerifier);

// The page that tells the user to go back to the app, in Korean, Japanese,
// Chinese or English by the first Accept-Language entry.
std::string BuildResultPage(std::string_view acceptLanguage);

// The whole 200 answer around `page`.
std::string OkAnswer(std::string_view page);
inline constexpr std::string_view kNotFoundAnswer =
    "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

}  // namespace VirelantDesktop::authlb
