// The sign-in listener's request reading: what a local client sends to the
// loopback port, up to 8 KiB, is read by ParseRequest.
//
// The first two bytes are a port (little-endian); the rest is the request.
//  ParseRequest:
//  - ok exactly when the text has a "\r\n" and the line before it has two
//    spaces; otherwise every field is empty and isGet false;
//  - path has no '?', and path, then "?" and query when the target (the
//    text between the line's first two spaces) had a '?', is the target;
//  - isGet exactly when the line starts with "GET ";
//  - host and acceptLanguage are the values (leading blanks and tabs off)
//    of the last "Host" and "Accept-Language" header lines (name before the
//    first ':', ASCII case ignored) before the empty line.
//  HostMatches, for the port of the first two bytes and, when the host ends
//  in ":<digits>" within 0..65535, for that port: true exactly when the host
//  is empty or, ASCII letters lower-cased, "127.0.0.1:<port>" or
//  "localhost:<port>".
//  BuildResultPage(acceptLanguage): starts with "<!DOCTYPE html>", has no
//  "@L@", "@T@" or "@S@" left, and its <html lang> is "ko", "ja" or "zh" when
//  the first entry (before ','), leading spaces off and lower-cased, starts
//  with it, else "en".
// The counts of parsed requests, GETs and matching hosts are printed at exit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "modules/auth/loopback_http.h"

namespace authlb = VirelantDesktop::authlb;

namespace {

struct Counts {
  unsigned long long inputs = 0, parsed = 0, gets = 0, withQuery = 0, hostMatches = 0, nonEnglish = 0;
  ~Counts() {
    std::fprintf(stderr,
                 "loopback_request_fuzz: inputs %llu parsed %llu GET %llu with query %llu host matches %llu "
                 "non-English pages %llu\n",
                 inputs, parsed, gets, withQuery, hostMatches, nonEnglish);
  }
} g_counts;

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return out;
}

// The header values as the request's reader should keep them.
struct Headers {
  std::string host, acceptLanguage;
};

Headers ReferenceHeaders(std::string_view text, size_t firstLineEnd) {
  Headers headers;
  size_t at = firstLineEnd + 2;
  while (at <= text.size()) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos || end == at) break;
    const std::string_view line = text.substr(at, end - at);
    at = end + 2;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    const size_t start = value.find_first_not_of(" \t");
    value = start == std::string_view::npos ? std::string_view() : value.substr(start);
    const std::string name = Lowered(line.substr(0, colon));
    if (name == "host") headers.host = std::string(value);
    if (name == "accept-language") headers.acceptLanguage = std::string(value);
  }
  return headers;
}

bool ReferenceHostMatches(std::string_view host, uint16_t port) {
  if (host.empty()) return true;
  const std::string lowered = Lowered(host);
  const std::string portText = std::to_string(port);
  return lowered == "127.0.0.1:" + portText || lowered == "localhost:" + portText;
}

void CheckHost(std::string_view host, uint16_t port) {
  const bool matches = authlb::HostMatches(host, port);
  if (matches != ReferenceHostMatches(host, port)) __builtin_trap();
  if (matches && !host.empty()) ++g_counts.hostMatches;
}

const char* ReferenceLanguage(std::string_view acceptLanguage) {
  std::string first = Lowered(acceptLanguage.substr(0, acceptLanguage.find(',')));
  const size_t start = first.find_first_not_of(' ');
  first = start == std::string::npos ? std::string() : first.substr(start);
  for (const char* code : {"ko", "ja", "zh"}) {
    if (first.rfind(code, 0) == 0) return code;
  }
  return "en";
}

void CheckPage(std::string_view acceptLanguage) {
  const std::string page = authlb::BuildResultPage(acceptLanguage);
  if (page.rfind("<!DOCTYPE html>", 0) != 0) __builtin_trap();
  for (const char* token : {"@L@", "@T@", "@S@"}) {
    if (page.find(token) != std::string::npos) __builtin_trap();
  }
  const char* language = ReferenceLanguage(acceptLanguage);
  if (page.find("<html lang=\"" + std::string(language) + "\">") == std::string::npos) __builtin_trap();
  if (std::string_view(language) != "en") ++g_counts.nonEnglish;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ++g_counts.inputs;
  const uint16_t port = size >= 2 ? static_cast<uint16_t>(data[0] | (data[1] << 8)) : 0;
  const std::string_view text = size >= 2 ? std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2)
                                          : std::string_view();
  const authlb::ParsedRequest request = authlb::ParseRequest(text);

  const size_t lineEnd = text.find("\r\n");
  const std::string_view line = lineEnd == std::string_view::npos ? std::string_view() : text.substr(0, lineEnd);
  const size_t firstSpace = line.find(' ');
  const size_t secondSpace = firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
  const bool wellFormed = lineEnd != std::string_view::npos && secondSpace != std::string_view::npos;
  if (request.ok != wellFormed) __builtin_trap();
  if (!request.ok) {
    if (request.isGet || !request.path.empty() || !request.query.empty() || !request.host.empty() ||
        !request.acceptLanguage.empty()) {
      __builtin_trap();
    }
    CheckHost(request.host, port);
    return 0;
  }
  ++g_counts.parsed;

  if (request.path.find('?') != std::string::npos) __builtin_trap();
  const std::string_view target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  const bool hasQuestion = target.find('?') != std::string_view::npos;
  if (!hasQuestion && !request.query.empty()) __builtin_trap();
  if ((hasQuestion ? request.path + "?" + request.query : request.path) != target) __builtin_trap();
  if (hasQuestion) ++g_counts.withQuery;
  if (request.isGet != (line.rfind("GET ", 0) == 0)) __builtin_trap();
  if (request.isGet) ++g_counts.gets;

  const Headers headers = ReferenceHeaders(text, lineEnd);
  if (request.host != headers.host || request.acceptLanguage != headers.acceptLanguage) __builtin_trap();

  CheckHost(request.host, port);
  // The port the host names, so that the matching side is reached too.
  const size_t colon = request.host.rfind(':');
  if (colon != std::string::npos && colon + 1 < request.host.size() && request.host.size() - colon - 1 <= 5) {
    uint32_t named = 0;
    bool digits = true;
    for (size_t i = colon + 1; i < request.host.size() && digits; ++i) {
      const char c = request.host[i];
      digits = c >= '0' && c <= '9';
      if (digits) named = named * 10 + static_cast<uint32_t>(c - '0');
    }
    if (digits && named <= 65535) CheckHost(request.host, static_cast<uint16_t>(named));
  }
  CheckPage(request.acceptLanguage);
  return 0;
}
