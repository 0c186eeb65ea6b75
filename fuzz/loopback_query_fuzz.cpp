// The redirect's query: percent-decoding, the parameter lookup and what the
// found parameters mean.
//
// The input is the query (the text after '?').
//  PercentDecode, on the input:
//  - equals a plain reference decoder ("%" and two hex digits become the
//    byte, everything else is copied, one pass);
//  - is never longer than the input, and leaves an input without '%'
//    unchanged;
//  - "%XY" for the first byte in upper-, lower- and mixed-case hex gives
//    that byte.
//  QueryParam for "code", "ott", "error" and "state": the reference (split on
//  '&', the name before the first '=', both decoded, the first whose name
//  matches; no '=' gives ""), and a found value sent back fully
//  percent-encoded after another parameter is found unchanged.
//  OutcomeOfRedirect on the found parameters when code, ott or error is
//  there (stateVerified from the input's length, verifier "v"):
//  - error present: Canceled exactly for "access_denied", else Error with
//    the provider's code when it is 1..64 bytes of [A-Za-z0-9._-], else
//    "error";
//  - otherwise Ok with kind "code" (code present, even when ott is) or
//    "ott", a non-empty value equal to that parameter and the verifier, or
//    Error "no_code" when that parameter is empty;
//  - stateVerified passed through; never Timeout.
// The counts of parameters found and of outcomes are printed at exit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modules/auth/loopback_http.h"
#include "platform/url_text.h"

namespace authlb = VirelantDesktop::authlb;

namespace {

struct Counts {
  unsigned long long inputs = 0, found = 0, ok = 0, error = 0, providerError = 0, canceled = 0;
  ~Counts() {
    std::fprintf(stderr,
                 "loopback_query_fuzz: inputs %llu parameters found %llu outcomes: ok %llu error %llu "
                 "(provider's code %llu) canceled %llu\n",
                 inputs, found, ok, error, providerError, canceled);
  }
} g_counts;

constexpr std::string_view kNames[] = {"code", "ott", "error", "state"};

int ReferenceHex(unsigned char c) {
  static constexpr std::string_view kDigits = "0123456789abcdef";
  const unsigned char lower = c >= 'A' && c <= 'F' ? static_cast<unsigned char>(c | 0x20) : c;
  const size_t at = kDigits.find(static_cast<char>(lower));
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

std::string ReferenceDecode(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '%' && text.size() - i >= 3) {
      const int high = ReferenceHex(static_cast<unsigned char>(text[i + 1]));
      const int low = ReferenceHex(static_cast<unsigned char>(text[i + 2]));
      if (high >= 0 && low >= 0) {
        out += static_cast<char>((high << 4) | low);
        i += 3;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::optional<std::string> ReferenceParam(std::string_view query, std::string_view name) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= query.size(); ++i) {
    if (i == query.size() || query[i] == '&') {
      pieces.push_back(query.substr(start, i - start));
      start = i + 1;
    }
  }
  for (std::string_view piece : pieces) {
    const size_t equals = piece.find('=');
    if (ReferenceDecode(piece.substr(0, equals)) != name) continue;
    if (equals == std::string_view::npos) return std::string();
    return ReferenceDecode(piece.substr(equals + 1));
  }
  return std::nullopt;
}

std::string EncodeAll(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  return out;
}

bool IsProviderCode(const std::string& text) {
  if (text.empty() || text.size() > 64) return false;
  for (char c : text) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '_' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

void CheckDecode(std::string_view text) {
  const std::string decoded = VirelantDesktop::platform::PercentDecode(text);
  if (decoded != ReferenceDecode(text)) __builtin_trap();
  if (decoded.size() > text.size()) __builtin_trap();
  if (text.find('%') == std::string_view::npos && decoded != text) __builtin_trap();
  if (text.empty()) return;
  static constexpr char kUpper[] = "0123456789ABCDEF";
  static constexpr char kLower[] = "0123456789abcdef";
  const auto byte = static_cast<unsigned char>(text[0]);
  const std::string forms[] = {
      {'%', kUpper[byte >> 4], kUpper[byte & 15]},
      {'%', kLower[byte >> 4], kLower[byte & 15]},
      {'%', kUpper[byte >> 4], kLower[byte & 15]},
  };
  for (const std::string& form : forms) {
    if (VirelantDesktop::platform::PercentDecode(form) != std::string(1, static_cast<char>(byte))) __builtin_trap();
  }
}

void CheckOutcome(const std::optional<std::string>& error, const std::optional<std::string>& code,
                  const std::optional<std::string>& ott, bool stateVerified) {
  const authlb::Outcome outcome = authlb::OutcomeOfRedirect(error, code, ott, stateVerified, "v");
  if (outcome.stateVerified != stateVerified) __builtin_trap();
  switch (outcome.status) {
    case authlb::OutcomeStatus::Ok: {
      ++g_counts.ok;
      if (error) __builtin_trap();
      if (outcome.value.empty() || !outcome.error.empty() || outcome.codeVerifier != "v") __builtin_trap();
      if (outcome.kind == "code") {
        if (!code || outcome.value != *code) __builtin_trap();
      } else if (outcome.kind == "ott") {
        if (code || !ott || outcome.value != *ott) __builtin_trap();
      } else {
        __builtin_trap();
      }
      break;
    }
    case authlb::OutcomeStatus::Error: {
      ++g_counts.error;
      if (!outcome.kind.empty() || !outcome.value.empty()) __builtin_trap();
      if (outcome.error != "error" && outcome.error != "no_code" && !IsProviderCode(outcome.error)) __builtin_trap();
      if (error) {
        if (*error == "access_denied") __builtin_trap();
        if (outcome.error != (IsProviderCode(*error) ? *error : std::string("error"))) __builtin_trap();
        if (IsProviderCode(*error)) ++g_counts.providerError;
      } else {
        const std::optional<std::string>& used = code ? code : ott;
        if (outcome.error != "no_code" || (used && !used->empty())) __builtin_trap();
      }
      break;
    }
    case authlb::OutcomeStatus::Canceled:
      ++g_counts.canceled;
      if (!error || *error != "access_denied") __builtin_trap();
      break;
    default:
      __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ++g_counts.inputs;
  const std::string_view query(reinterpret_cast<const char*>(data), size);
  CheckDecode(query);

  std::optional<std::string> found[4];
  for (size_t i = 0; i < 4; ++i) {
    found[i] = authlb::QueryParam(query, kNames[i]);
    if (found[i] != ReferenceParam(query, kNames[i])) __builtin_trap();
    if (!found[i]) continue;
    ++g_counts.found;
    const std::string sentBack = "x=1&" + std::string(kNames[i]) + "=" + EncodeAll(*found[i]);
    if (authlb::QueryParam(sentBack, kNames[i]) != found[i]) __builtin_trap();
  }
  const std::optional<std::string>& code = found[0];
  const std::optional<std::string>& ott = found[1];
  const std::optional<std::string>& error = found[2];
  if (code || ott || error) CheckOutcome(error, code, ott, size % 2 != 0);
  return 0;
}
