// The apply helper on temporary installations, and the whole round trip:
// talvek-feed packs a release, the library downloads and hands it to the
// helper, which swaps it in and restarts the new version.
#include <fcntl.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/updater/client/update_client_fixture.h"
#include "updater/client/client_os.h"
#include "updater/client/package_names.h"

namespace VirelantDesktop::update_client::testing {
namespace {

using VirelantDesktop::testing::ReadTextFile;
using VirelantDesktop::testing::TempDir;
using VirelantDesktop::testing::WriteTextFile;

std::string Sha256Hex(const std::string& data) {
  unsigned char digest[32];
  EVP_Digest(data.data(), data.size(), digest, nullptr, EVP_sha256(), nullptr);
  std::string hex;
  for (const unsigned char byte : digest) {
    hex += "0123456789abcdef"[byte >> 4];
    hex += "0123456789abcdef"[byte & 15];
  }
  return hex;
}

// Names below the root other than "current" and "packages": leftovers.
std::vector<std::string> Leftovers(const std::string& root) {
  std::vector<std::string> names;
  for (const fs::directory_entry& item : fs::directory_iterator(root)) {
    const std::string name = item.path().filename().string();
    if (name != "current" && name != "packages") names.push_back(name);
  }
  return names;
}

class UpdateClientApplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.Join("root");
    started_ = temp_.Join("started.txt");
    // The installed "talvek" notes each start, so a restart can be seen.
    oldTalvek_ = "#!/bin/sh\necho \"old $*\" >> '" + started_ + "'\n";
    fs::create_directories(root_ + "/current/Bundle");
    fs::create_directories(root_ + "/packages");
    WriteTextFile(root_ + "/current/talvek", oldTalvek_);
    fs::permissions(root_ + "/current/talvek", fs::perms::owner_all);
    WriteTextFile(root_ + "/current/old.txt", "old");
    WriteTextFile(root_ + "/current/update.version", VersionJson("talvek", "1.0.0"));
  }

  std::vector<ZipItem> GoodItems(const std::string& version = "1.1.0") const {
    return {{"talvek", "#!/bin/sh\nexit 0\n", 0100755},
            {"talvek-update-apply", "helper", 0100755},
            {"libtalvek-update.so", "library", 0100644},
            {"update.version", VersionJson("talvek", version)},
            {"Bundle/", "", 0040755},
            {"Bundle/index.windows", "bundle"},
            {"engine/talvek-engine", "engine", std::nullopt}};
  }

  std::string PackagePath() const { return root_ + "/packages/talvek-1.1.0-full.nupkg"; }
  std::string FailedRecord() const { return ReadTextFile(root_ + "/packages/apply-failed.json"); }

  struct Options {
    std::optional<std::string> sha256;
    std::optional<uint64_t> size;
    bool restart = false;  // with the restart argument "--again"
  };

  // Runs the helper for the package at PackagePath(); the process it waits
  // for is a sleeper that the test ends once the helper is running.
  int Apply(const Options& options) {
    const std::string package = ReadTextFile(PackagePath());
    ChildProcess shell({"sleep", "60"});
    EXPECT_TRUE(shell.started());
    std::vector<std::string> argv = {TUC_APPLY_PATH, "--root", root_, "--app-id", "talvek", "--version", "1.1.0",
                                     "--package", PackagePath(), "--size",
                                     std::to_string(options.size.value_or(package.size())), "--sha256",
                                     options.sha256.value_or(Sha256Hex(package)), "--wait-pid",
                                     std::to_string(shell.pid())};
    if (options.restart) argv.insert(argv.end(), {"--restart", "--", "--again"});
    ChildProcess helper(argv);
    EXPECT_TRUE(helper.started());
    shell.Signal(SIGKILL);  // left unreaped: the helper must see a zombie as ended
    const int code = helper.Wait(kDeadline);
    shell.Wait(kDeadline);
    return code;
  }
  static Options Restarting() {
    Options options;
    options.restart = true;
    return options;
  }
  int Apply() { return Apply(Options{}); }
  int Apply(std::optional<std::string> sha256, std::optional<uint64_t> size = std::nullopt) {
    return Apply(Options{sha256, size, false});
  }

  void ExpectOldInstallationUntouched() {
    EXPECT_EQ(ReadTextFile(root_ + "/current/talvek"), oldTalvek_);
    EXPECT_EQ(ReadTextFile(root_ + "/current/old.txt"), "old");
    EXPECT_FALSE(fs::exists(root_ + "/current/update.applied"));
    EXPECT_TRUE(Leftovers(root_).empty());
  }

  TempDir temp_;
  std::string root_;
  std::string started_;
  std::string oldTalvek_;
};

TEST_F(UpdateClientApplyTest, SwapsAGoodPackageIn) {
  MakeZip(PackagePath(), GoodItems());
  ASSERT_EQ(Apply(), 0) << ReadTextFile(root_ + "/packages/apply.log");

  EXPECT_EQ(ReadTextFile(root_ + "/current/talvek"), "#!/bin/sh\nexit 0\n");
  EXPECT_EQ(fs::status(root_ + "/current/talvek").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(fs::status(root_ + "/current/Bundle/index.windows").permissions() & fs::perms::owner_exec,
            fs::perms::none);
  EXPECT_EQ(ReadTextFile(root_ + "/current/engine/talvek-engine"), "engine");
  EXPECT_FALSE(fs::exists(root_ + "/current/old.txt"));
  EXPECT_EQ(ReadTextFile(root_ + "/current/update.applied"), "1.1.0\n");
  EXPECT_TRUE(Leftovers(root_).empty());
  EXPECT_NE(ReadTextFile(root_ + "/packages/apply.log").find("1.1.0: applied 1.1.0"), std::string::npos);
}

TEST_F(UpdateClientApplyTest, OneApplyAtATimeAndLeftoversOfEarlierAppliesGo) {
  MakeZip(PackagePath(), GoodItems());
  fs::create_directories(root_ + "/current-0.9.0-0123456789abcdef");
  WriteTextFile(root_ + "/current-0.9.0-0123456789abcdef/talvek", "half unpacked");

  const int held = open((root_ + "/packages/.apply.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(Apply(), 1) << "another helper is at work";
  EXPECT_EQ(ReadTextFile(root_ + "/current/talvek"), oldTalvek_);
  EXPECT_EQ(Leftovers(root_), std::vector<std::string>{"current-0.9.0-0123456789abcdef"}) << "nothing touched";
  EXPECT_NE(ReadTextFile(root_ + "/packages/apply.log").find("another update is being applied"), std::string::npos);
  close(held);

  ASSERT_EQ(Apply(), 0) << ReadTextFile(root_ + "/packages/apply.log");
  EXPECT_TRUE(Leftovers(root_).empty()) << "the unfinished folder of an earlier apply is gone";
}

TEST_F(UpdateClientApplyTest, RefusesHostilePackagesAndLeavesCurrentAlone) {
  const auto refuse = [&](const char* what, std::vector<ZipItem> extra) {
    SCOPED_TRACE(what);
    std::vector<ZipItem> items = GoodItems();
    items.insert(items.end(), extra.begin(), extra.end());
    MakeZip(PackagePath(), items);
    EXPECT_EQ(Apply(), 1);
    ExpectOldInstallationUntouched();
    EXPECT_FALSE(fs::exists(temp_.Join("x")));
    EXPECT_FALSE(fs::exists("/abs-talvek-test"));
  };
  refuse("parent escape", {{"../../x", "escaped"}});
  refuse("absolute name", {{"/abs-talvek-test", "escaped"}});
  refuse("symbolic link", {{"Bundle/link", "/etc/passwd", 0120777}});
  refuse("fifo", {{"Bundle/fifo", "", 0010644}});
  refuse("file and folder of one name", {{"talvek/inner", "x"}});
  {
    SCOPED_TRACE("version file of another version");
    MakeZip(PackagePath(), GoodItems("1.2.0"));
    EXPECT_EQ(Apply(), 1);
    ExpectOldInstallationUntouched();
  }
  {
    SCOPED_TRACE("no executable");
    std::vector<ZipItem> items = GoodItems();
    items.erase(items.begin());
    MakeZip(PackagePath(), items);
    EXPECT_EQ(Apply(), 1);
    ExpectOldInstallationUntouched();
  }
  {
    SCOPED_TRACE("not a zip");
    WriteTextFile(PackagePath(), "not a zip archive");
    EXPECT_EQ(Apply(), 1);
    ExpectOldInstallationUntouched();
  }
  {
    SCOPED_TRACE("package changed after the check");
    MakeZip(PackagePath(), GoodItems());
    EXPECT_EQ(Apply(std::string(64, '0')), 1);
    EXPECT_EQ(Apply(std::nullopt, ReadTextFile(PackagePath()).size() + 1), 1);
    ExpectOldInstallationUntouched();
  }
  EXPECT_NE(ReadTextFile(root_ + "/packages/apply.log").find("failed: package refused: ../../x"), std::string::npos);
}

TEST_F(UpdateClientApplyTest, UnknownArgumentsAreAUsageError) {
  ChildProcess helper({TUC_APPLY_PATH, "--root", root_});
  EXPECT_EQ(helper.Wait(kDeadline), 2);
  ExpectOldInstallationUntouched();
}

// The shell has quit when the helper fails: the installed version is started
// again, the package goes, and the record names it for the check.
TEST_F(UpdateClientApplyTest, AFailedApplyRestartsTheInstalledVersionAndRecordsThePackage) {
  std::vector<ZipItem> items = GoodItems();
  items.erase(items.begin());  // no "talvek"
  MakeZip(PackagePath(), items);
  const std::string sha256 = Sha256Hex(ReadTextFile(PackagePath()));
  ASSERT_EQ(Apply(Restarting()), 1);
  ExpectOldInstallationUntouched();
  ASSERT_TRUE(WaitForFileText(started_, "old --again\n")) << ReadTextFile(root_ + "/packages/apply.log");
  EXPECT_FALSE(fs::exists(PackagePath()));
  const std::optional<FailedApply> failed = ParseFailedApply(FailedRecord());
  ASSERT_TRUE(failed) << FailedRecord();
  EXPECT_EQ(failed->version, "1.1.0");
  EXPECT_EQ(failed->sha256, sha256);
  EXPECT_NE(failed->reason.find("package refused: no talvek"), std::string::npos) << failed->reason;
  EXPECT_NE(ReadTextFile(root_ + "/packages/apply.log").find("restarted the installed version"), std::string::npos);

  // A later apply that works forgets the failure.
  MakeZip(PackagePath(), GoodItems());
  ASSERT_EQ(Apply(), 0) << ReadTextFile(root_ + "/packages/apply.log");
  EXPECT_FALSE(fs::exists(root_ + "/packages/apply-failed.json"));
}

TEST_F(UpdateClientApplyTest, AnUnpackThatFailsHalfWayLeavesNothingBehind) {
  // The last entry's bytes are changed after its checksum was taken: every
  // entry before it is written before the unpack fails.
  std::vector<ZipItem> items = GoodItems();
  const std::string last(64 * 1024, 'Q');
  items.push_back({"zz/last.bin", last, 0100644, /*stored=*/true});
  MakeZip(PackagePath(), items);
  std::string bytes = ReadTextFile(PackagePath());
  const size_t at = bytes.find(last);
  ASSERT_NE(at, std::string::npos);
  bytes[at + last.size() / 2] = 'R';
  WriteTextFile(PackagePath(), bytes);

  ASSERT_EQ(Apply(Restarting()), 1);
  ExpectOldInstallationUntouched();
  ASSERT_TRUE(WaitForFileText(started_, "old --again\n"));
  EXPECT_NE(ReadTextFile(root_ + "/packages/apply.log").find("zz/last.bin"), std::string::npos);
  EXPECT_EQ(ParseFailedApply(FailedRecord()).value_or(FailedApply{}).sha256, Sha256Hex(bytes));
}

TEST_F(UpdateClientApplyTest, APackageThatCouldNotStartIsRefused) {
  const auto refuse = [&](const char* what, const std::string& reason, auto change) {
    SCOPED_TRACE(what);
    std::vector<ZipItem> items = GoodItems();
    change(items);
    MakeZip(PackagePath(), items);
    EXPECT_EQ(Apply(), 1);
    ExpectOldInstallationUntouched();
    EXPECT_NE(FailedRecord().find(reason), std::string::npos) << FailedRecord();
  };
  // Made elsewhere than on Unix: no file types, no modes.
  refuse("no mode bits", "talvek is not executable", [](std::vector<ZipItem>& items) {
    for (ZipItem& item : items) item.mode = std::nullopt;
  });
  refuse("executable without the execute bit", "talvek is not executable",
         [](std::vector<ZipItem>& items) { items[0].mode = 0100644; });
  refuse("helper without the execute bit", "talvek-update-apply is not executable",
         [](std::vector<ZipItem>& items) { items[1].mode = 0100600; });
  refuse("no helper", "no talvek-update-apply",
         [](std::vector<ZipItem>& items) { items.erase(items.begin() + 1); });
  refuse("no update library", "no libtalvek-update.so",
         [](std::vector<ZipItem>& items) { items.erase(items.begin() + 2); });
  refuse("the executable is a folder", "no talvek", [](std::vector<ZipItem>& items) {
    items[0] = {"talvek/", "", 0040755};
  });
}

TEST_F(UpdateClientApplyTest, ANewVersionThatDoesNotStartIsSwappedOutAgain) {
  std::vector<ZipItem> items = GoodItems();
  items[0].content = "#!/nonexistent/interpreter\n";
  MakeZip(PackagePath(), items);
  ASSERT_EQ(Apply(Restarting()), 1);
  ExpectOldInstallationUntouched();
  EXPECT_EQ(ReadTextFile(root_ + "/current/update.version"), VersionJson("talvek", "1.0.0"));
  ASSERT_TRUE(WaitForFileText(started_, "old --again\n"));
  EXPECT_NE(FailedRecord().find("the new version did not start"), std::string::npos) << FailedRecord();
}

// The state a swap by two renames leaves when it is killed between them.
void CutSwap(const std::string& root) {
  fs::rename(root + "/current", root + "/current-previous");
  fs::create_directories(root + "/current-1.1.0-0123456789abcdef");
  WriteTextFile(root + "/current-1.1.0-0123456789abcdef/talvek", "new");
}

TEST_F(UpdateClientApplyTest, TheNextApplyRecoversASwapCutBetweenItsRenames) {
  CutSwap(root_);
  // The package is gone as well: the helper can only put the old version
  // back and start it.
  ASSERT_EQ(Apply({std::string(64, 'a'), 10, true}), 1);
  ExpectOldInstallationUntouched();
  ASSERT_TRUE(WaitForFileText(started_, "old --again\n"));
  EXPECT_FALSE(fs::exists(root_ + "/packages/apply-failed.json")) << "the package was never judged";

  // The name earlier helpers parked the old folder under.
  fs::rename(root_ + "/current", root_ + "/current-1.0.5-0123456789abcdef.old");
  ASSERT_EQ(Apply({std::string(64, 'a'), 10, true}), 1);
  ExpectOldInstallationUntouched();
  ASSERT_TRUE(WaitForFileText(started_, "old --again\nold --again\n"));
}

TEST(UpdateClientRecoveryTest, AStartFromTheParkedFolderPutsItBack) {
  TempDir temp;
  const std::string root = temp.Join("root");
  LayOutInstallation(root, "1.0.0");
  CutSwap(root);
  const auto start = [&] {
    ChildProcess driver({root + "/current-previous/talvek", "hooks"});
    driver.WaitForOutput("\x01", kDeadline);  // reads everything until the output ends
    EXPECT_EQ(driver.Wait(kDeadline), 0);
    EXPECT_EQ(driver.output(), "hooks done\n");
  };
  // While a helper holds the installation, the swap is its own to finish.
  fs::create_directories(root + "/packages");
  const int held = open((root + "/packages/.apply.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  start();
  EXPECT_FALSE(fs::exists(root + "/current"));
  close(held);

  start();
  EXPECT_TRUE(fs::is_regular_file(root + "/current/talvek"));
  EXPECT_EQ(ReadTextFile(root + "/current/update.version"), VersionJson("talvek", "1.0.0"));
  EXPECT_FALSE(fs::exists(root + "/current-previous"));
}

TEST(UpdateClientRecoveryTest, SwapByRenamesAndItsRecovery) {
  TempDir temp;
  const std::string current = temp.Join("current"), incoming = temp.Join("current-1.1.0-x"),
                    aside = temp.Join("current-previous");
  fs::create_directories(current);
  fs::create_directories(incoming);
  WriteTextFile(current + "/v", "old");
  WriteTextFile(incoming + "/v", "new");

  // A failed second rename puts the old folder back.
  EXPECT_THROW(os::MoveInByRenames(temp.Join("missing"), current, aside), os::OsError);
  EXPECT_EQ(ReadTextFile(current + "/v"), "old");
  EXPECT_FALSE(fs::exists(aside));

  EXPECT_EQ(os::MoveInByRenames(incoming, current, aside), aside);
  EXPECT_EQ(ReadTextFile(current + "/v"), "new");
  EXPECT_EQ(ReadTextFile(aside + "/v"), "old");
  EXPECT_FALSE(os::RestoreCurrentFolder(current, aside)) << "current is there: nothing to recover";
  EXPECT_EQ(ReadTextFile(current + "/v"), "new");

  fs::remove_all(current);
  fs::create_directory_symlink(temp.Join("elsewhere"), temp.Join("link"));
  EXPECT_FALSE(os::RestoreCurrentFolder(current, temp.Join("link"))) << "a link is never moved in";
  EXPECT_TRUE(os::RestoreCurrentFolder(current, aside));
  EXPECT_EQ(ReadTextFile(current + "/v"), "old");
  EXPECT_FALSE(fs::exists(aside));
}

std::atomic<int> g_terminations{0};

TEST(UpdateClientRecoveryTest, SignalsWaitWhileHeld) {
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = [](int) { ++g_terminations; };
  ASSERT_EQ(sigaction(SIGTERM, &action, &previous), 0);
  {
    const os::SignalsHeld held;
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(g_terminations.load(), 0);
  }
  EXPECT_EQ(g_terminations.load(), 1);
  sigaction(SIGTERM, &previous, nullptr);
}

TEST(UpdateClientRoundTripTest, PackedDownloadedAppliedAndRestarted) {
  TempDir temp;
  const std::string root = temp.Join("root");
  LayOutInstallation(root, "1.0.0");
  const std::string events = temp.Join("events.txt");

  // A start to uninstall runs the before-uninstall hook alone (and marks no
  // first run); then the first start of the installation, then an ordinary one.
  EXPECT_EQ(RunDriver(root, {"--VeloApp-Uninstall"}, /*trustTestCa=*/false), "before-uninstall 1.0.0\nhooks done\n");
  EXPECT_NE(RunDriver(root, {"--out", events, "hooks"}).find("first-run 1.0.0\n"), std::string::npos);
  EXPECT_EQ(RunDriver(root, {"hooks"}), "hooks done\n");

  // Release 1.1.0: the same programs, packed from a copy of the folder.
  const std::string input = temp.Join("input");
  fs::copy(root + "/current", input, fs::copy_options::recursive);
  WriteTextFile(input + "/NEW", "1.1.0");
  const std::string feed = temp.Join("feed");
  std::vector<std::string> pack = {TALVEK_FEED_PATH, "--input", input,  "--id", "talvek", "--version", "1.1.0",
                                   "--out",          feed,        "--issued-at", "2026-11-05T10:00:00Z"};
#ifdef TALVEK_DEV_SIGNING_KEY
  pack.insert(pack.end(), {"--key", TALVEK_DEV_SIGNING_KEY, "--sign-tool", TALVEK_SIGN_PATH});
#endif
  ChildProcess packer(pack);
  ASSERT_EQ(packer.Wait(kDeadline), 0);
  EXPECT_EQ(ReadTextFile(feed + "/manifest.json"),
            "{\"channel\":\"production\",\"expiresAt\":\"2026-12-05T10:00:00Z\",\"full\":{\"file\":"
            "\"talvek-1.1.0-full.nupkg\",\"sha256\":\"" +
                Sha256Hex(ReadTextFile(feed + "/talvek-1.1.0-full.nupkg")) +
                "\"},\"issuedAt\":\"2026-11-05T10:00:00Z\",\"os\":\"linux-x64\",\"version\":\"1.1.0\"}\n");
#ifdef TALVEK_DEV_SIGNING_KEY
  ChildProcess verify({TALVEK_SIGN_PATH, "verify", "--manifest", feed + "/manifest.json", "--sig",
                       feed + "/manifest.sig", "--pub", TALVEK_DEV_PUBLIC_KEY ":tv-desktop-2026-11"});
  EXPECT_EQ(verify.Wait(kDeadline), 0);
#endif

  FeedServer server;
  server.PutFolder(feed);
  const std::string download = RunDriver(root, {"download", server.FeedUrl()});
  ASSERT_NE(download.find("download ok\n"), std::string::npos) << download;

  // The driver hands over and exits; the helper waits for it, applies, and
  // starts the new "talvek" (the driver again), which reports its hooks.
  const std::string apply =
      RunDriver(root, {"apply-restart", server.FeedUrl(), "--", "--out", events, "hooks"});
  ASSERT_NE(apply.find("apply started\n"), std::string::npos) << apply;
  ASSERT_TRUE(WaitForFileText(events, "restarted 1.1.0\n")) << ReadTextFile(root + "/packages/apply.log");
  EXPECT_EQ(ReadTextFile(root + "/current/NEW"), "1.1.0");
  EXPECT_NE(ReadTextFile(root + "/current/update.version").find("\"version\":\"1.1.0\""), std::string::npos);
  EXPECT_EQ(ReadTextFile(events).find("first-run", 1), std::string::npos);  // only the very first start
  EXPECT_NE(ReadTextFile(root + "/packages/apply.log").find("applied 1.1.0, restarted"), std::string::npos);
  // The restart consumed the marker: later starts are ordinary again, and
  // nothing newer is pending.
  ASSERT_TRUE(WaitForFileText(events, "hooks done\n"));
  EXPECT_EQ(RunDriver(root, {"hooks"}), "hooks done\n");
  EXPECT_NE(RunDriver(root, {"pending", server.FeedUrl()}).find("pending none"), std::string::npos);
}

TEST(UpdateClientRoundTripTest, ApplyOutsideAnInstallationFolderIsRefused) {
  TempDir temp;
  const std::string root = temp.Join("root");
  LayOutInstallation(root, "1.0.0");
  fs::rename(root + "/current", root + "/bin");
  fs::create_directories(root + "/packages");
  MakeZip(root + "/packages/talvek-1.1.0-full.nupkg", {{"talvek", "x", 0100755}});
  ChildProcess driver({root + "/bin/talvek", "apply", "https://localhost/feed/"});
  ASSERT_TRUE(driver.WaitForOutput("apply failed: the executable does not run from an installation's current folder",
                                   kDeadline))
      << driver.output();
  EXPECT_EQ(driver.Wait(kDeadline), 0);
  EXPECT_FALSE(fs::exists(root + "/current"));
}

}  // namespace
}  // namespace VirelantDesktop::update_client::testing
