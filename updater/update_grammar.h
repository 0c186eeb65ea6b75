// The two small grammars of the update feed: its UTC timestamps and its
// release versions. Both parsers are strict and never throw.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace VirelantDesktop::updater {

// "YYYY-MM-DDTHH:MM:SSZ" or "YYYY-MM-DDTHH:MM:SS.fZ" with one to three
// fraction digits (a fraction of a second: "5" is 500 ms, "05" is 50 ms).
// Upper-case "T" and "Z" only, no other offset, no leap second. Years 0000 to
// 9999 on the proleptic Gregorian calendar (year 0 is a leap year).
// Returns milliseconds since 1970-01-01T00:00:00Z (negative before it), or
// nullopt for anything else.
std::optional<int64_t> ParseTimestampMs(std::string_view text);

// A version "MAJOR.MINOR.PATCH[-PRE][+BUILD]". Build metadata is checked and
// then dropped: it takes no part in precedence.
struct SemVer {
  uint64_t major = 0;
  uint64_t minor = 0;
  uint64_t patch = 0;
  // The pre-release identifiers, empty for a release.
  std::vector<std::string> pre;
};

// Strict: each core number is 1 to 15 digits without a leading zero (other
// than "0" itself); pre-release and build identifiers are non-empty runs of
// [0-9A-Za-z-], and an all-digit pre-release identifier has no leading zero.
std::optional<SemVer> ParseSemVer(std::string_view text);

// -1, 0 or 1 as a has lower, equal or higher precedence than b; nullopt when
// either does not parse.
std::optional<int> CompareVersions(std::string_view a, std::string_view b);

}  // namespace VirelantDesktop::updater
