// The feed's timestamps on arbitrary bytes: every accepted text formats back
// to itself from the returned milliseconds, once the fraction's trailing
// zeros are dropped (".500Z" and ".5Z" name the same instant, ".000Z" is
// "Z"). The formatter below works from the value alone, so a wrong field,
// a wrong leap-year rule or a wrong fraction scale shows up as a mismatch.
// The accepted inputs are counted and printed at exit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "updater/update_grammar.h"

using VirelantDesktop::updater::ParseTimestampMs;

namespace {

struct Counts {
  unsigned long long inputs = 0, accepted = 0, fractions = 0, beforeEpoch = 0;
  ~Counts() {
    std::fprintf(stderr, "timestamp_fuzz: inputs %llu accepted %llu (with fraction %llu, before 1970 %llu)\n",
                 inputs, accepted, fractions, beforeEpoch);
  }
} g_counts;

constexpr int64_t kMsPerDay = 86400000;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0); }

void AppendNumber(std::string& out, int64_t value, int width) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%0*lld", width, static_cast<long long>(value));
  out += buffer;
}

// Milliseconds since the epoch to the canonical text: the date from the day
// count (proleptic Gregorian, eras of 400 years from March 1), the fraction
// with its trailing zeros dropped and no "." when nothing is left.
std::string Format(int64_t ms) {
  const int64_t days = FloorDiv(ms, kMsPerDay);
  int64_t inDay = ms - days * kMsPerDay;

  const int64_t z = days + 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  if (year < 0 || year > 9999) std::abort();

  std::string out;
  AppendNumber(out, year, 4);
  out += '-';
  AppendNumber(out, month, 2);
  out += '-';
  AppendNumber(out, day, 2);
  out += 'T';
  AppendNumber(out, inDay / 3600000, 2);
  inDay %= 3600000;
  out += ':';
  AppendNumber(out, inDay / 60000, 2);
  inDay %= 60000;
  out += ':';
  AppendNumber(out, inDay / 1000, 2);
  if (const int64_t millis = inDay % 1000; millis != 0) {
    std::string fraction;
    AppendNumber(fraction, millis, 3);
    while (fraction.back() == '0') fraction.pop_back();
    out += '.';
    out += fraction;
  }
  out += 'Z';
  return out;
}

// The input with its fraction's trailing zeros dropped, and the "." too when
// nothing is left of the fraction.
std::string Canonical(std::string_view text) {
  std::string out(text.substr(0, text.size() - 1));
  if (out.size() > 19) {
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
  }
  return out + 'Z';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ++g_counts.inputs;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto ms = ParseTimestampMs(text);
  if (!ms) return 0;
  ++g_counts.accepted;
  if (size > 20) ++g_counts.fractions;
  if (*ms < 0) ++g_counts.beforeEpoch;
  if (size != 20 && (size < 22 || size > 24)) std::abort();
  if (Format(*ms) != Canonical(text)) {
    std::fprintf(stderr, "%.*s -> %lld -> %s\n", static_cast<int>(size), text.data(),
                 static_cast<long long>(*ms), Format(*ms).c_str());
    std::abort();
  }
  return 0;
}
