#include "updater/update_grammar.h"

#include <cstddef>

namespace VirelantDesktop::updater {
namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr bool IsIdentifierChar(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
}

bool AllDigits(std::string_view text) {
  for (const char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// The value of a run of digits already checked to be digits.
int64_t Digits(std::string_view text) {
  int64_t value = 0;
  for (const char c : text) value = value * 10 + (c - '0');
  return value;
}

constexpr bool IsLeapYear(int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr int DaysInMonth(int64_t year, int64_t month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given proleptic Gregorian date, counted in
// 400-year eras that start on March 1 so that the leap day ends each year.
constexpr int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;  // 0..399
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;  // 0..365
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

static_assert(DaysFromCivil(1970, 1, 1) == 0);
static_assert(DaysFromCivil(2000, 3, 1) == 11017);
static_assert(DaysFromCivil(0, 1, 1) == -719528);

// Whether text is '.'-separated identifiers, each a non-empty run of
// [0-9A-Za-z-]; pre-release identifiers also may not be digits with a
// leading zero. An empty text is refused too.
bool ValidIdentifiers(std::string_view text, bool preRelease) {
  if (text.empty()) return false;
  for (;;) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    if (part.empty()) return false;
    for (const char c : part) {
      if (!IsIdentifierChar(c)) return false;
    }
    if (preRelease && part.size() > 1 && part[0] == '0' && AllDigits(part)) return false;
    if (dot == std::string_view::npos) return true;
    text.remove_prefix(dot + 1);
  }
}

// One core number: 1 to 15 digits, no leading zero unless it is "0".
std::optional<uint64_t> CoreNumber(std::string_view text) {
  if (text.empty() || text.size() > 15 || !AllDigits(text)) return std::nullopt;
  if (text.size() > 1 && text[0] == '0') return std::nullopt;
  return static_cast<uint64_t>(Digits(text));
}

// A checked version whose pre-release stays one view into the text, so that
// comparing needs no allocation.
struct VersionView {
  uint64_t major = 0;
  uint64_t minor = 0;
  uint64_t patch = 0;
  std::string_view pre;  // empty for a release
};

std::optional<VersionView> ParseView(std::string_view text) {
  if (const size_t plus = text.find('+'); plus != std::string_view::npos) {
    if (!ValidIdentifiers(text.substr(plus + 1), false)) return std::nullopt;
    text = text.substr(0, plus);
  }

  VersionView version;
  if (const size_t dash = text.find('-'); dash != std::string_view::npos) {
    version.pre = text.substr(dash + 1);
    if (!ValidIdentifiers(version.pre, true)) return std::nullopt;
    text = text.substr(0, dash);
  }

  const size_t dot1 = text.find('.');
  if (dot1 == std::string_view::npos) return std::nullopt;
  const size_t dot2 = text.find('.', dot1 + 1);
  if (dot2 == std::string_view::npos) return std::nullopt;
  const auto major = CoreNumber(text.substr(0, dot1));
  const auto minor = CoreNumber(text.substr(dot1 + 1, dot2 - dot1 - 1));
  const auto patch = CoreNumber(text.substr(dot2 + 1));  // a third '.' makes this fail
  if (!major || !minor || !patch) return std::nullopt;
  version.major = *major;
  version.minor = *minor;
  version.patch = *patch;
  return version;
}

// Takes the identifier up to the next '.' off the front of text.
std::string_view NextIdentifier(std::string_view& text) {
  const size_t dot = text.find('.');
  const std::string_view id = text.substr(0, dot);
  text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  return id;
}

int CompareIdentifiers(std::string_view a, std::string_view b) {
  const bool numericA = AllDigits(a);
  const bool numericB = AllDigits(b);
  if (numericA && numericB) {
    // Neither has a leading zero, so the shorter is the smaller and equal
    // lengths order like their digits; this holds for any length.
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  } else if (numericA != numericB) {
    return numericA ? -1 : 1;
  }
  const int order = a.compare(b);  // as unsigned bytes
  return (order > 0) - (order < 0);
}

}  // namespace

std::optional<int64_t> ParseTimestampMs(std::string_view text) {
  const size_t size = text.size();
  if (size != 20 && (size < 22 || size > 24)) return std::nullopt;

  constexpr std::string_view kPattern = "dddd-dd-ddTdd:dd:dd";
  for (size_t i = 0; i < kPattern.size(); ++i) {
    if (kPattern[i] == 'd' ? !IsDigit(text[i]) : text[i] != kPattern[i]) return std::nullopt;
  }
  if (text[size - 1] != 'Z') return std::nullopt;

  int64_t millis = 0;
  if (size > 20) {
    if (text[19] != '.') return std::nullopt;
    const std::string_view fraction = text.substr(20, size - 21);
    if (!AllDigits(fraction)) return std::nullopt;
    millis = Digits(fraction);
    for (size_t n = fraction.size(); n < 3; ++n) millis *= 10;
  }

  const int64_t year = Digits(text.substr(0, 4));
  const int64_t month = Digits(text.substr(5, 2));
  const int64_t day = Digits(text.substr(8, 2));
  const int64_t hour = Digits(text.substr(11, 2));
  const int64_t minute = Digits(text.substr(14, 2));
  const int64_t second = Digits(text.substr(17, 2));
  if (month < 1 || month > 12) return std::nullopt;
  if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;

  const int64_t seconds =
      DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return seconds * 1000 + millis;
}

std::optional<SemVer> ParseSemVer(std::string_view text) {
  const auto view = ParseView(text);
  if (!view) return std::nullopt;
  SemVer version{view->major, view->minor, view->patch, {}};
  for (std::string_view rest = view->pre; !rest.empty();) version.pre.emplace_back(NextIdentifier(rest));
  return version;
}

std::optional<int> CompareVersions(std::string_view a, std::string_view b) {
  const auto left = ParseView(a);
  const auto right = ParseView(b);
  if (!left || !right) return std::nullopt;

  if (left->major != right->major) return left->major < right->major ? -1 : 1;
  if (left->minor != right->minor) return left->minor < right->minor ? -1 : 1;
  if (left->patch != right->patch) return left->patch < right->patch ? -1 : 1;

  // A release outranks every pre-release of the same core.
  if (left->pre.empty() != right->pre.empty()) return left->pre.empty() ? 1 : -1;
  std::string_view restA = left->pre;
  std::string_view restB = right->pre;
  while (!restA.empty() && !restB.empty()) {
    const int order = CompareIdentifiers(NextIdentifier(restA), NextIdentifier(restB));
    if (order != 0) return order;
  }
  // Equal so far: the one with identifiers left over is greater.
  if (restA.empty() != restB.empty()) return restA.empty() ? -1 : 1;
  return 0;
}

}  // namespace VirelantDesktop::updater
