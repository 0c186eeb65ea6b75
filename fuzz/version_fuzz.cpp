// Version precedence on arbitrary bytes. The input is split on '\n' into
// a, b and (when there is a second '\n') c.
//  - CompareVersions(a, b) has a value exactly when both sides parse, and
//    it is -1, 0 or 1;
//  - it is antisymmetric: CompareVersions(b, a) is its negation;
//  - a valid version compares equal to itself, and to itself with its build
//    metadata removed or replaced;
//  - two valid versions compare equal exactly when their texts before the
//    first '+' are equal (the canonical forms leave one spelling per
//    precedence);
//  - with c: a <= b and b <= c give a <= c, strictly when either step is.
// The counts of valid sides and of orders are printed at exit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "updater/update_grammar.h"

using VirelantDesktop::updater::CompareVersions;
using VirelantDesktop::updater::ParseSemVer;

namespace {

struct Counts {
  unsigned long long inputs = 0, validSides = 0, less = 0, equal = 0, greater = 0, chains = 0;
  ~Counts() {
    std::fprintf(stderr,
                 "version_fuzz: inputs %llu valid sides %llu orders: less %llu equal %llu greater %llu "
                 "chains of three %llu\n",
                 inputs, validSides, less, equal, greater, chains);
  }
} g_counts;

std::string_view WithoutBuild(std::string_view text) { return text.substr(0, text.find('+')); }

void CheckPair(std::string_view a, std::string_view b) {
  const bool validA = ParseSemVer(a).has_value();
  const bool validB = ParseSemVer(b).has_value();
  const auto ab = CompareVersions(a, b);
  const auto ba = CompareVersions(b, a);
  if (ab.has_value() != (validA && validB) || ba.has_value() != ab.has_value()) std::abort();
  if (!ab) return;
  if (*ab < -1 || *ab > 1 || *ba != -*ab) std::abort();
  if ((*ab == 0) != (WithoutBuild(a) == WithoutBuild(b))) std::abort();
}

void CheckSelf(std::string_view a) {
  if (!ParseSemVer(a)) return;
  ++g_counts.validSides;
  if (CompareVersions(a, a) != 0) std::abort();
  const std::string core(WithoutBuild(a));
  if (CompareVersions(a, core) != 0) std::abort();
  if (CompareVersions(a, core + "+x.0-1") != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ++g_counts.inputs;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t first = input.find('\n');
  const std::string_view a = input.substr(0, first);
  std::string_view b, c;
  bool haveC = false;
  if (first != std::string_view::npos) {
    const std::string_view rest = input.substr(first + 1);
    const size_t second = rest.find('\n');
    b = rest.substr(0, second);
    if (second != std::string_view::npos) {
      c = rest.substr(second + 1);
      haveC = true;
    }
  }

  CheckSelf(a);
  CheckSelf(b);
  CheckPair(a, b);
  if (const auto ab = CompareVersions(a, b)) {
    ++(*ab < 0 ? g_counts.less : *ab == 0 ? g_counts.equal : g_counts.greater);
  }
  if (!haveC) return 0;
  CheckSelf(c);
  CheckPair(b, c);
  CheckPair(a, c);
  const auto ab = CompareVersions(a, b);
  const auto bc = CompareVersions(b, c);
  const auto ac = CompareVersions(a, c);
  if (!ab || !bc || !ac) return 0;
  ++g_counts.chains;
  if (*ab <= 0 && *bc <= 0 && *ac != (*ab < 0 || *bc < 0 ? -1 : 0)) std::abort();
  if (*ab >= 0 && *bc >= 0 && *ac != (*ab > 0 || *bc > 0 ? 1 : 0)) std::abort();
  return 0;
}
