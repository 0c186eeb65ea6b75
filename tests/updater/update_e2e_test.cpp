// Self-update end to end on real programs: an installation of talvek 0.2.1
// checks a feed that offers 0.2.2 (signed with the build's development key),
// downloads and applies it; the apply helper swaps the installation and
// starts the new version, whose restartDetected reports the update, and
// whose start clears what it no longer needs from the packages folder. A
// release that cannot start is swapped out again: the old version starts
// and is not offered that package again.
//
// The feed URL is the compiled-in one, so the test runs in private mount and
// network namespaces (root only): loopback up, /etc/hosts naming 127.0.0.1
// for the update host, the test authority as the system's CA bundle, and the
// feed served on 127.0.0.1:443. The namespaces are this process's from the
// suite's set-up on, and every program it starts inherits them.
#include <gtest/gtest.h>
#include <net/if.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/https_test_server.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using VirelantDesktop::testing::ChildProcess;
using VirelantDesktop::testing::HttpsTestServer;
using VirelantDesktop::testing::ReadTextFile;
using VirelantDesktop::testing::TempDir;
using VirelantDesktop::testing::WriteTextFile;

constexpr const char* kFeedPath = "/talvek-desktop/production/linux-x64";

const char* const kBundle021 = R"(
'use strict';
const updater = globalThis.__turboModuleProxy('Updater');
AppRegistry.registerComponent('VirelantDesktop', () => async () => {
  try {
    console.log('e2e start ' + JSON.stringify(await updater.restartDetected()));
    const check = await updater.check();
    console.log('e2e check ' + (check === null ? 'null' : check.feed.version + ' ' + check.nativeKeyId));
    let last = 'none';
    const sub = RCTDeviceEventEmitter.addListener('Updater.progress', (e) => (last = e.pct));
    const download = await updater.download();
    sub.remove();
    console.log('e2e download ' + download.fullSha256 + ' progress ' + last);
    const engine = globalThis.__turboModuleProxy('EngineHost');
    await engine.start(await engine.bundledPath(), []);  // apply must stop it first
    await updater.apply();
    console.log('e2e apply resolved');
  } catch (e) {
    console.log('e2e rejected ' + e.code);
  }
});
)";

const char* const kBundle022 = R"(
'use strict';
const updater = globalThis.__turboModuleProxy('Updater');
const kv = globalThis.__turboModuleProxy('KV');
AppRegistry.registerComponent('VirelantDesktop', () => async () => {
  await kv.set('e2e.restart', JSON.stringify(await updater.restartDetected()));
});
)";

// Updates when the check finds something; otherwise records its start.
const char* const kBundleRetry021 = R"(
'use strict';
const updater = globalThis.__turboModuleProxy('Updater');
const kv = globalThis.__turboModuleProxy('KV');
AppRegistry.registerComponent('VirelantDesktop', () => async () => {
  try {
    const check = await updater.check();
    if (check === null) {
      await kv.set('e2e.nothing', JSON.stringify(await updater.restartDetected()));
      return;
    }
    await updater.download();
    await updater.apply();
  } catch (e) {
    console.log('e2e rejected ' + e.code);
  }
});
)";

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool BringLoopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

bool BindOver(const std::string& source, const std::string& target) {
  return mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

// Programs started by programs we started (the apply helper and the version
// it starts) become our children when their parent ends.
std::vector<pid_t> ProcessesUnder(const std::string& folder) {
  std::vector<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    const fs::path exe = fs::read_symlink(entry.path() / "exe", error);
    if (!error && exe.string().starts_with(folder + "/")) found.push_back(std::stoi(name));
  }
  return found;
}

class UpdateEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0) {
      skipReason_ = "needs root for private namespaces";
      return;
    }
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !BringLoopbackUp()) {
      skipReason_ = std::string("no private namespaces: ") + std::strerror(errno);
      return;
    }
    hosts_ = std::make_unique<TempDir>();
    WriteTextFile(hosts_->Join("hosts"), "127.0.0.1 localhost updates.talvek.chat\n");
    if (!BindOver(hosts_->Join("hosts"), "/etc/hosts") ||
        !BindOver(HttpsTestServer::CaFile(), "/etc/ssl/certs/ca-certificates.crt")) {
      skipReason_ = std::string("cannot bind over the system files: ") + std::strerror(errno);
    }
  }

  void SetUp() override {
    if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
  }

  void TearDown() override {
    if (server_) server_->stop();
    if (serving_.joinable()) serving_.join();
    for (pid_t pid : ProcessesUnder(dir_.path())) kill(pid, SIGKILL);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  // <root>/current as an installation of `version` running `bundle`.
  std::string Install(const std::string& root, const std::string& version, const char* bundle, bool withLibrary) {
    const fs::path current = fs::path(root) / "current";
    fs::create_directories(current / "Bundle");
    // Without its debug information the package stays small.
    const std::string strip = "objcopy --strip-debug '" TALVEK_PATH "' '" + (current / "talvek").string() + "'";
    EXPECT_EQ(std::system(strip.c_str()), 0);
    fs::copy_file(TUC_APPLY_PATH, current / "talvek-update-apply");
    fs::copy_file(TALVEK_JOB_GUARD_PATH, current / "talvek-job-guard");
    fs::create_directories(current / "engine");
    fs::copy_file(TALVEK_ENGINE_PATH, current / "engine/talvek-engine");
    if (withLibrary) fs::copy_file(TUC_LIBRARY_PATH, current / "libtalvek-update.so");
    WriteTextFile((current / "update.version").string(), R"({"id":"talvek","version":")" + version + "\"}\n");
    WriteTextFile((current / "Bundle/index.windows").string(), bundle);
    return current.string();
  }

  // Publishes `input` as 0.2.2 in a feed served at the update host.
  void Publish(const std::string& input) {
    const std::string feed = dir_.Join("feed");
    ChildProcess packer({TALVEK_FEED_PATH, "--input", input, "--id", "talvek", "--version", "0.2.2", "--out", feed,
                         "--key", TALVEK_DEV_SIGNING_KEY, "--sign-tool", TALVEK_SIGN_PATH});
    ASSERT_EQ(packer.Wait(120s), 0) << packer.output();
    server_ = std::make_unique<httplib::SSLServer>(HttpsTestServer::CertFile().c_str(),
                                                   HttpsTestServer::KeyFile().c_str());
    server_->set_tcp_nodelay(true);
    ASSERT_TRUE(server_->set_mount_point(kFeedPath, feed));
    ASSERT_TRUE(server_->bind_to_port("127.0.0.1", 443));
    serving_ = std::thread([this] { server_->listen_after_bind(); });
  }

  // Waits for the KV value `key` that a restarted version writes.
  std::optional<nlohmann::json> AwaitKvValue(const std::string& key) {
    std::optional<nlohmann::json> value;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!value && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(100ms);
      value = KvValue(key);
    }
    return value;
  }

  std::optional<nlohmann::json> KvValue(const std::string& key) {
    const auto root = std::getenv("XDG_DATA_HOME");
    const std::string text = ReadTextFile(std::string(root != nullptr ? root : "") + "/TALVEK/desktop/kv.json");
    const auto kv = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!kv.is_object() || !kv.contains(key) || !kv[key].is_string()) return std::nullopt;
    return nlohmann::json::parse(kv[key].get<std::string>(), nullptr, false);
  }

  static inline std::string skipReason_;
  static inline std::unique_ptr<TempDir> hosts_;
  TempDir dir_;
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread serving_;
};

TEST_F(UpdateEndToEnd, CheckDownloadApplyAndTheNewVersionReportsTheRestart) {
  const std::string root = dir_.Join("install");
  const std::string current = Install(root, "0.2.1", kBundle021, /*withLibrary=*/true);
  Publish(Install(dir_.Join("next"), "0.2.2", kBundle022, /*withLibrary=*/true));
  // What an earlier update left: the package 0.2.1 was installed from.
  fs::create_directories(root + "/packages");
  WriteTextFile(root + "/packages/talvek-0.2.1-full.nupkg", "applied long ago");

  ChildProcess shell({current + "/talvek"});
  ASSERT_TRUE(shell.started());
  // Apply hands over and quits; its promise may not reach JavaScript first.
  ASSERT_TRUE(shell.WaitForOutput(" progress 100", 120s)) << shell.output();
  EXPECT_EQ(shell.Wait(60s), 0) << "the shell quits after apply";
  EXPECT_NE(shell.output().find(R"(e2e start {"restarted":false,"version":"0.2.1"})"), std::string::npos);
  EXPECT_NE(shell.output().find("e2e check 0.2.2 tv-desktop-2026-11"), std::string::npos) << shell.output();
  EXPECT_EQ(shell.output().find("e2e rejected"), std::string::npos) << shell.output();

  // The helper swaps 0.2.2 in and starts it; it records what it was told.
  const std::optional<nlohmann::json> restart = AwaitKvValue("e2e.restart");
  ASSERT_TRUE(restart) << ReadTextFile(root + "/packages/apply.log");
  EXPECT_EQ(*restart, nlohmann::json({{"restarted", true}, {"version", "0.2.2"}}));
  EXPECT_NE(ReadTextFile(root + "/current/update.version").find("0.2.2"), std::string::npos);
  // 0.2.2 keeps its own package; the older one and the gate and manifest
  // copies of the applied update are gone.
  EXPECT_EQ(NamesIn(root + "/packages"),
            (std::vector<std::string>{".apply.lock", "apply.log", "talvek-0.2.2-full.nupkg"}));

  const std::vector<pid_t> restarted = ProcessesUnder(root);
  ASSERT_EQ(restarted.size(), 1u);
  kill(restarted[0], SIGTERM);
  int status = 0;
  EXPECT_EQ(waitpid(restarted[0], &status, 0), restarted[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(UpdateEndToEnd, AReleaseThatCannotStartIsUndoneAndNotOfferedAgain) {
  const std::string root = dir_.Join("install");
  const std::string current = Install(root, "0.2.1", kBundleRetry021, /*withLibrary=*/true);
  const std::string next = Install(dir_.Join("next"), "0.2.2", kBundle022, /*withLibrary=*/true);
  WriteTextFile(next + "/talvek", "#!/nonexistent/interpreter\n");
  Publish(next);

  ChildProcess shell({current + "/talvek"});
  ASSERT_TRUE(shell.started());
  EXPECT_EQ(shell.Wait(120s), 0) << "the shell quits after apply";
  EXPECT_EQ(shell.output().find("e2e rejected"), std::string::npos) << shell.output();

  // The helper swaps 0.2.2 in, cannot start it, swaps 0.2.1 back and starts
  // that, whose check now finds nothing.
  const std::optional<nlohmann::json> second = AwaitKvValue("e2e.nothing");
  ASSERT_TRUE(second) << ReadTextFile(root + "/packages/apply.log");
  EXPECT_EQ(*second, nlohmann::json({{"restarted", false}, {"version", "0.2.1"}}));
  EXPECT_NE(ReadTextFile(root + "/current/update.version").find("0.2.1"), std::string::npos);
  EXPECT_NE(ReadTextFile(root + "/packages/apply.log").find("the new version did not start"), std::string::npos);
  EXPECT_NE(ReadTextFile(root + "/packages/apply-failed.json").find("\"version\":\"0.2.2\""), std::string::npos);
  EXPECT_EQ(NamesIn(root + "/packages"), (std::vector<std::string>{".apply.lock", "apply-failed.json", "apply.log"}));
  for (const std::string& name : NamesIn(root)) EXPECT_EQ(name.rfind("current-", 0), std::string::npos) << name;
}

TEST_F(UpdateEndToEnd, WithoutTheClientLibraryTheShellRunsAndCheckRejects) {
  const std::string current = Install(dir_.Join("install"), "0.2.1", kBundle021, /*withLibrary=*/false);
  ChildProcess shell({current + "/talvek"});
  ASSERT_TRUE(shell.WaitForOutput("e2e rejected check", 60s)) << shell.output();
  EXPECT_NE(shell.output().find(R"(e2e start {"restarted":false,"version":""})"), std::string::npos);
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.Wait(10s), 0);
}

}  // namespace
