// Rewrites the key-value store in FOLDER without end, for kv_crash_test to
// kill at random moments:
//
//   kv_crash_writer FOLDER
//
// Step n sets "k" and then "p" to value n (kv_crash_value.h), each through
// its own kv::Store::Set, so every step replaces kv.json twice. The first
// step follows the "k" found in the store, so the numbers keep growing from
// one run to the next. Runs until killed; exits 1 when a write fails and 2
// on bad usage, a missing folder or a stored value that fails its check.
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "modules/storage/kv_store.h"
#include "tests/storage/kv_crash_value.h"

namespace kv = VirelantDesktop::kv;
namespace kvcrash = VirelantDesktop::testing::kvcrash;

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: kv_crash_writer FOLDER\n");
    return 2;
  }
  // Never outlive the test that started us: an orphan would go on writing
  // (and re-create the folder) after the test removed it.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);

  const std::string folder = argv[1];
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::fprintf(stderr, "kv_crash_writer: %s is not a folder\n", folder.c_str());
    return 2;
  }

  kv::StoreOptions options;
  options.folder = folder;
  const kv::Store store(options);

  uint64_t n = 0;
  try {
    if (const std::optional<std::string> current = store.Get(kvcrash::kKey)) {
      const std::optional<uint64_t> found = kvcrash::CheckValue(*current);
      if (!found) {
        std::fprintf(stderr, "kv_crash_writer: the stored \"%s\" fails its check\n", kvcrash::kKey);
        return 2;
      }
      n = *found + 1;
    }
    for (;; ++n) {
      const std::string value = kvcrash::MakeValue(n);
      store.Set(kvcrash::kKey, value);
      store.Set(kvcrash::kSecondKey, value);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kv_crash_writer: step %llu failed: %s\n", static_cast<unsigned long long>(n), e.what());
    return 1;
  }
}
