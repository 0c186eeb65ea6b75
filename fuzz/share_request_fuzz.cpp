// The share request a bundle may send (inputs that are not JSON are
// skipped), and the link rule on the raw bytes.
//
//  - IsShareableUrl against a plain restatement of the rule: 9 to 2048
//    bytes, "https://" in any case, no byte below 33, no DEL, none of
//    " < > \ ^ ` { | }, and a ninth byte that is not "/", "?" or "#".
//  - ParseShareRequest: accepted exactly when the value is an object whose
//    anchor holds four numbers, whose text (a string, else absent) is at
//    most 40,000 bytes, whose url (a string, else absent) passes the rule,
//    and that has a file path (any string), a non-empty text or a url; an
//    accepted request carries exactly those members.
// The counts of accepted requests are printed at exit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "bridge/js_value.h"
#include "fuzz/json_mutator.h"
#include "modules/share/share_request.h"

using VirelantDesktop::JSValue;
namespace share = VirelantDesktop::share;

namespace {

struct Counts {
  unsigned long long requests = 0, accepted = 0, withUrl = 0;
  ~Counts() {
    std::fprintf(stderr, "share_request_fuzz: requests %llu accepted %llu (with a url %llu)\n", requests, accepted,
                 withUrl);
  }
} g_counts;

bool UrlRule(std::string_view url) {
  if (url.size() < 9 || url.size() > 2048) return false;
  std::string scheme(url.substr(0, 8));
  for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (scheme != "https://") return false;
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 33 || byte == 127) return false;
    if (std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos) return false;
  }
  return url[8] != '/' && url[8] != '?' && url[8] != '#';
}

const JSValue* Member(const JSValue& object, const char* name) {
  const auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

void CheckRequest(const JSValue& value) {
  ++g_counts.requests;
  const auto parsed = share::ParseShareRequest(value);
  bool expected = value.is_object();
  std::string text;
  const JSValue* path = nullptr;
  const JSValue* url = nullptr;
  if (expected) {
    const JSValue* anchor = Member(value, "anchor");
    expected = anchor != nullptr && anchor->is_object();
    for (const char* name : {"x", "y", "width", "height"}) {
      const JSValue* number = expected ? Member(*anchor, name) : nullptr;
      expected = expected && number != nullptr && number->is_number();
    }
    const JSValue* textMember = Member(value, "text");
    if (textMember != nullptr && textMember->is_string()) text = textMember->get<std::string>();
    path = Member(value, "filePath");
    if (path != nullptr && !path->is_string()) path = nullptr;
    url = Member(value, "url");
    if (url != nullptr && !url->is_string()) url = nullptr;
    expected = expected && text.size() <= share::kMaxTextBytes;
    expected = expected && (url == nullptr || UrlRule(url->get<std::string>()));
    expected = expected && (path != nullptr || !text.empty() || url != nullptr);
  }
  if (parsed.has_value() != expected) __builtin_trap();
  if (!parsed) return;
  ++g_counts.accepted;
  if (parsed->text != text) __builtin_trap();
  if (parsed->filePath.has_value() != (path != nullptr)) __builtin_trap();
  if (path != nullptr && *parsed->filePath != path->get<std::string>()) __builtin_trap();
  if (parsed->url.has_value() != (url != nullptr)) __builtin_trap();
  if (url != nullptr) {
    ++g_counts.withUrl;
    if (*parsed->url != url->get<std::string>()) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  if (share::IsShareableUrl(raw) != UrlRule(raw)) __builtin_trap();
  const JSValue value = JSValue::parse(data, data + size, nullptr, false);
  if (value.is_discarded()) return 0;
  CheckRequest(value);
  return 0;
}
