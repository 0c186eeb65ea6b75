// The apply helper's inputs: zip entry names and modes, the version file,
// package file names and its own command line (arguments split at NUL); and
// the failed-apply record the client reads back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "updater/client/apply_request.h"
#include "updater/client/package_names.h"
#include "updater/client/zip_entry_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace VirelantDesktop::update_client;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  uint32_t mode = 0;
  if (size >= 4) std::memcpy(&mode, data, 4);
  const ZipEntryVerdict verdict = CheckZipEntry(text, size % 2 == 0 ? std::optional<uint32_t>(mode) : std::nullopt);
  if (verdict.ok) {
    // An accepted name stays inside the folder: relative, and no empty, "."
    // or ".." component (a folder's one trailing "/" aside).
    if (text.empty() || text.front() == '/') __builtin_trap();
    std::string_view rest = verdict.directory ? text.substr(0, text.size() - 1) : text;
    for (;;) {
      const size_t slash = rest.find('/');
      const std::string_view part = rest.substr(0, slash);
      if (part.empty() || part == "." || part == "..") __builtin_trap();
      if (slash == std::string_view::npos) break;
      rest = rest.substr(slash + 1);
    }
  }
  (void)ParseVersionFile(text);
  if (const auto failed = ParseFailedApply(text)) {
    if (ParseFailedApply(FailedApplyText(*failed)).value_or(FailedApply{}).sha256 != failed->sha256) __builtin_trap();
  }
  (void)VersionOfFullPackage(text, "talvek");
  std::vector<std::string> arguments;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      arguments.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (const auto request = ParseApplyRequest(arguments)) {
    if (request->root.empty() || request->root.front() != '/') __builtin_trap();
  }
  return 0;
}
