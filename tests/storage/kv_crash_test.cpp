// Crash safety of the key-value store: kv_crash_writer rewrites kv.json
// without pause and is killed (SIGKILL) at a random moment, round after
// round, in the same folder. Whatever the moment, kv.json must be a whole
// store: a JSON object whose values pass their own check, never older than
// what an earlier round left. A leftover kv.json.tmp is allowed; the next
// writer must cope with it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/storage/kv_crash_value.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace VirelantDesktop::testing {
namespace {

constexpr int kRounds = 60;
constexpr int kMinRunMs = 1;
constexpr int kMaxRunMs = 30;
// Only a guard against a writer that hangs; nothing is timed.
constexpr auto kProgressGuard = std::chrono::seconds(60);

// What a round left in the folder.
struct Snapshot {
  bool exists = false;
  uint64_t n = 0;       // the number of the "k" value
  std::string problem;  // empty when kv.json is missing or a whole store
};

Snapshot Inspect(const std::string& folder) {
  Snapshot snapshot;
  const std::string path = folder + "/kv.json";
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    if (error) snapshot.problem = "cannot look for kv.json: " + error.message();
    return snapshot;
  }
  snapshot.exists = true;
  const std::string bytes = ReadTextFile(path);
  const nlohmann::json store = nlohmann::json::parse(bytes, nullptr, /*allow_exceptions=*/false);
  if (store.is_discarded()) {
    snapshot.problem = "kv.json is not JSON (" + std::to_string(bytes.size()) + " bytes)";
    return snapshot;
  }
  if (!store.is_object()) {
    snapshot.problem = "kv.json is not an object: " + store.dump().substr(0, 200);
    return snapshot;
  }
  auto k = store.find(kvcrash::kKey);
  if (k == store.end() || !k->is_string()) {
    snapshot.problem = "kv.json has no string \"k\" (the writer sets it first)";
    return snapshot;
  }
  const std::optional<uint64_t> n = kvcrash::CheckValue(k->get_ref<const std::string&>());
  if (!n) {
    snapshot.problem = "\"k\" fails its check: " + k->get_ref<const std::string&>().substr(0, 40) + "...";
    return snapshot;
  }
  snapshot.n = *n;
  // "p" follows "k" within a step, so it is never ahead of it.
  auto p = store.find(kvcrash::kSecondKey);
  if (p != store.end()) {
    const std::optional<uint64_t> pn = p->is_string() ? kvcrash::CheckValue(p->get_ref<const std::string&>())
                                                      : std::nullopt;
    if (!pn) {
      snapshot.problem = "\"p\" fails its check";
    } else if (*pn > *n) {
      snapshot.problem = "\"p\" (" + std::to_string(*pn) + ") is ahead of \"k\" (" + std::to_string(*n) + ")";
    }
  }
  return snapshot;
}

// Starts the writer on `folder`; -1 (and a test failure) when it cannot.
pid_t StartWriter(const std::string& folder) {
  std::string program = KV_CRASH_WRITER;
  std::string argument = folder;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot run " << program << ": " << std::strerror(spawned);
    return -1;
  }
  return pid;
}

// Kills and reaps the writer; empty when SIGKILL is what ended it,
// otherwise how it ended (it stops by itself only when something failed,
// and says what on its stderr).
std::string KillWriter(pid_t pid) {
  ::kill(pid, SIGKILL);
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(pid, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped != pid) return std::string("waitpid: ") + std::strerror(errno);
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return {};
  if (WIFEXITED(status)) return "the writer exited by itself with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "the writer died of signal " + std::to_string(WTERMSIG(status));
  return "the writer ended with wait status " + std::to_string(status);
}

TEST(KvCrashTest, KilledWriterAlwaysLeavesAWholeStoreThatNeverGoesBack) {
  TempDir dir;
  const std::string folder = dir.path();

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> runMs(kMinRunMs, kMaxRunMs);

  std::optional<uint64_t> last;  // "k" as the previous rounds left it
  int advanced = 0;              // rounds in which the writer got a step in
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const pid_t pid = StartWriter(folder);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(runMs(random)));
    const std::string ended = KillWriter(pid);
    ASSERT_EQ(ended, "");

    const Snapshot snapshot = Inspect(folder);
    ASSERT_EQ(snapshot.problem, "");
    if (!snapshot.exists) {
      // Only before the first write ever completed.
      ASSERT_FALSE(last.has_value()) << "kv.json vanished; it held \"k\" " << *last;
      continue;
    }
    if (last) {
      ASSERT_GE(snapshot.n, *last) << "\"k\" went back";
      if (snapshot.n > *last) ++advanced;
    } else {
      ++advanced;
    }
    last = snapshot.n;
  }

  // Make sure the rounds above did not pass for want of writes (a writer
  // stuck in start-up, say): one more writer, watched until its steps show
  // up in the store, then killed and checked like the others.
  const uint64_t before = last.value_or(0);
  const pid_t pid = StartWriter(folder);
  ASSERT_GT(pid, 0);
  const auto guard = std::chrono::steady_clock::now() + kProgressGuard;
  Snapshot watched;
  for (;;) {
    watched = Inspect(folder);
    if (!watched.problem.empty()) break;
    if (watched.exists && (!last || watched.n > before)) break;
    if (std::chrono::steady_clock::now() > guard) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const std::string ended = KillWriter(pid);
  ASSERT_EQ(watched.problem, "") << "while the writer was running";
  ASSERT_EQ(ended, "");
  ASSERT_TRUE(watched.exists && (!last || watched.n > before)) << "the writer made no progress";

  const Snapshot after = Inspect(folder);
  ASSERT_EQ(after.problem, "");
  ASSERT_TRUE(after.exists);
  EXPECT_GE(after.n, watched.n);
  RecordProperty("rounds_with_progress", advanced);
  RecordProperty("last_step", std::to_string(after.n));
}

}  // namespace
}  // namespace VirelantDesktop::testing
