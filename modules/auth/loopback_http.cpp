#include "modules/auth/loopback_http.h"

#include "platform/ascii_text.h"
#include "platform/url_text.h"

namespace VirelantDesktop::authlb {
namespace {


bool IsErrorCodeByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-';
}

void ReplaceAll(std::string& text, std::string_view token, std::string_view with) {
  for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + with.size())) {
    text.replace(at, token.size(), with);
  }
}

struct PageTexts {
  const char* code;
  const char* title;
  const char* subtitle;
};

constexpr PageTexts kKorean{"ko", "로그인 완료", "이 창을 닫고 TALVEK로 돌아가세요."};
constexpr PageTexts kJapanese{"ja", "ログイン完了", "このウィンドウを閉じて TALVEK に戻ってください。"};
constexpr PageTexts kChinese{"zh", "登录成功", "您可以关闭此窗口，返回 TALVEK。"};
constexpr PageTexts kEnglish{"en", "Signed in", "You can close this window and return to TALVEK."};

// The wordmark: the six letters drawn as plain blocks in a 2453 x 220 box.
constexpr const char* kWordmarkPaths =
    "<path fill=\"#fff\" d=\"M0 0h330v44H187v176h-44V44H0z\"/>"
    "<path fill=\"#fff\" fill-rule=\"evenodd\" d=\"M424 220L567 0h44l143 220h-48l-36-56H508l-36 56zM534 120h110L589 "
    "34z\"/>"
    "<path fill=\"#fff\" d=\"M848 0h44v176h286v44H848z\"/>"
    "<path fill=\"#fff\" d=\"M1272 0h48l117 168L1554 0h48l-143 220h-44z\"/>"
    "<path fill=\"#fff\" d=\"M1696 0h330v44h-286v44h250v44h-250v44h286v44h-330z\"/>"
    "<path fill=\"#fff\" d=\"M2120 0h44v90L2304 0h66L2210 102l166 118h-68l-144-104v104h-44z\"/>";

std::string PageTemplate() {
  std::string page =
      "<!DOCTYPE html>\n"
      "<html lang=\"@L@\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n"
      "<title>@T@ · TALVEK</title>\n"
      "<style>\n"
      "*{margin:0;padding:0;box-sizing:border-box}\n"
      "html,body{height:100%}\n"
      "body{background:#0915FF;color:#fff;font-family:'SUIT','SUIT Variable','Apple SD Gothic Neo','Pretendard',"
      "-apple-system,BlinkMacSystemFont,'Segoe UI',Roboto,sans-serif;display:flex;align-items:center;"
      "justify-content:center;-webkit-font-smoothing:antialiased}\n"
      "main{text-align:center;padding:40px;animation:f .4s ease both}\n"
      ".mark{margin-bottom:28px}\n"
      ".row{display:inline-flex;align-items:center;gap:9px;margin-bottom:10px}\n"
      "h1{font-size:24px;font-weight:700;letter-spacing:-.02em}\n"
      "p{font-size:15px;line-height:1.5;color:rgba(255,255,255,.72);margin-top:8px}\n"
      "@keyframes f{from{opacity:0;transform:translateY(8px)}to{opacity:1;transform:none}}\n"
      "</style>\n"
      "</head>\n"
      "<body>\n"
      "<main>\n"
      "<div class=\"mark\"><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"212\" height=\"19\" "
      "viewBox=\"0 0 2453 220\" fill=\"none\" aria-hidden=\"true\">";
  page += kWordmarkPaths;
  page +=
      "</svg></div>\n"
      "<div class=\"row\"><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"22\" height=\"22\" viewBox=\"0 0 24 24\" "
      "aria-hidden=\"true\"><circle cx=\"12\" cy=\"12\" r=\"11\" fill=\"#fff\"/><path d=\"M7 12.5l3.2 3.2L17 9\" "
      "fill=\"none\" stroke=\"#0915FF\" stroke-width=\"2.4\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>"
      "</svg><h1>@T@</h1></div>\n"
      "<p>@S@</p>\n"
      "</main>\n"
      "</body>\n"
      "</html>\n";
  return page;
}

const PageTexts& TextsFor(std::string_view acceptLanguage) {
  std::string first(acceptLanguage.substr(0, acceptLanguage.find(',')));
  for (char& c : first) c = platform::LowerAscii(c);
  const size_t start = first.find_first_not_of(' ');
  const std::string_view tag = start == std::string::npos ? std::string_view() : std::string_view(first).substr(start);
  if (tag.size() >= 2) {
    if (tag.substr(0, 2) == "ko") return kKorean;
    if (tag.substr(0, 2) == "ja") return kJapanese;
    if (tag.substr(0, 2) == "zh") return kChinese;
  }
  return kEnglish;
}

}  // namespace

ParsedRequest ParseRequest(std::string_view text) {
  ParsedRequest result;
  if (text.size() < 2) return result;
  size_t lineEnd = text.find("\r\n");
  if (lineEnd == std::string_view::npos) return result;
  const std::string_view line = text.substr(0, lineEnd);
  const size_t firstSpace = line.find(' ');
  if (firstSpace == std::string_view::npos) return result;
  const size_t secondSpace = line.find(' ', firstSpace + 1);
  if (secondSpace == std::string_view::npos) return result;
  result.isGet = line.substr(0, firstSpace) == "GET";
  const std::string_view target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  const size_t question = target.find('?');
  result.path = std::string(target.substr(0, question));
  if (question != std::string_view::npos) result.query = std::string(target.substr(question + 1));

  size_t at = lineEnd + 2;
  for (;;) {
    lineEnd = text.find("\r\n", at);
    if (lineEnd == std::string_view::npos || lineEnd == at) break;  // no more lines, or the empty line
    const std::string_view header = text.substr(at, lineEnd - at);
    at = lineEnd + 2;
    const size_t colon = header.find(':');
    if (colon == std::string_view::npos) continue;
    std::string name(header.substr(0, colon));
    for (char& c : name) c = platform::LowerAscii(c);
    std::string_view value = header.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    if (name == "host") result.host = std::string(value);
    else if (name == "accept-language") result.acceptLanguage = std::string(value);
  }
  result.ok = true;
  return result;
}

std::optional<std::string> QueryParam(std::string_view query, std::string_view name) {
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(query.find('&', start), query.size());
    const std::string_view piece = query.substr(start, end - start);
    const size_t equals = piece.find('=');
    const std::string_view rawName = piece.substr(0, equals);
    if (platform::PercentDecode(rawName) == name) {
      return equals == std::string_view::npos ? std::string() : platform::PercentDecode(piece.substr(equals + 1));
    }
    if (end >= query.size()) return std::nullopt;
    start = end + 1;
  }
}

bool HostMatches(std::string_view host, uint16_t port) {
  if (host.empty()) return true;
  std::string lowered(host);
  for (char& c : lowered) c = platform::LowerAscii(c);
  const std::string portText = std::to_string(port);
  return lowered == "127.0.0.1:" + portText || lowered == "localhost:" + portText;
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

Outcome OutcomeOfRedirect(const std::optional<std::string>& error, const std::optional<std::string>& code,
                          const std::optional<std::string>& ott, bool stateVerified, std::string_view codeVerifier) {
  Outcome outcome;
  outcome.stateVerified = stateVerified;
  if (error) {
    if (*error == "access_denied") {
      outcome.status = OutcomeStatus::Canceled;
      return outcome;
    }
    bool plain = !error->empty() && error->size() <= 64;
    for (char c : *error) plain = plain && IsErrorCodeByte(c);
    outcome.status = OutcomeStatus::Error;
    outcome.error = plain ? *error : "error";
    return outcome;
  }
  const bool useCode = code.has_value();
  const std::string credential = useCode ? *code : ott.value_or(std::string());
  if (credential.empty()) {
    outcome.status = OutcomeStatus::Error;
    outcome.error = "no_code";
    return outcome;
  }
  outcome.status = OutcomeStatus::Ok;
  outcome.kind = useCode ? "code" : "ott";
  outcome.value = credential;
  outcome.codeVerifier = std::string(codeVerifier);
  return outcome;
}

std::string BuildResultPage(std::string_view acceptLanguage) {
  const PageTexts& texts = TextsFor(acceptLanguage);
  std::string page = PageTemplate();
  ReplaceAll(page, "@L@", texts.code);
  ReplaceAll(page, "@T@", texts.title);
  ReplaceAll(page, "@S@", texts.subtitle);
  return page;
}

std::string OkAnswer(std::string_view page) {
  std::string answer =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(page.size()) +
      "\r\nCache-Control: no-store\r\nReferrer-Policy: no-referrer\r\nConnection: close\r\n\r\n";
  answer += page;
  return answer;
}

}  // namespace VirelantDesktop::authlb
