#include "embed/embed_profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/folders.h"
#include "platform/profile_lock.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::Embed {
namespace {

namespace fs = std::filesystem;
using platform::MarkerState;
using platform::ProbeMarker;

// Another process holding a marker locked until it is killed.
struct MarkerHolder {
  explicit MarkerHolder(const std::string& marker) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    if ((pid = fork()) == 0) {
      const platform::UniqueFd fd = platform::CreateLockedMarker(marker);
      (void)!write(ready[1], fd ? "1" : "0", 1);
      for (;;) pause();
    }
    close(ready[1]);
    char answer = 0;
    locked = pid > 0 && read(ready[0], &answer, 1) == 1 && answer == '1';
    close(ready[0]);
  }
  ~MarkerHolder() { Kill(); }
  void Kill() {
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    pid = -1;
  }
  pid_t pid = -1;
  bool locked = false;
};

class EmbedProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EmbedProfile::ResetForTesting();
    fs::remove_all(EmbedProfileBase() + "/embed-tmp");  // what earlier tests let go of
  }
  void TearDown() override { EmbedProfile::ResetForTesting(); }
  std::string Folder(const std::string& relative) {
    fs::create_directories(dir_.Join(relative));
    return dir_.Join(relative);
  }
  testing::TempDir dir_;
};

TEST_F(EmbedProfileTest, MarkerIsHeldWhileOpen_FreeOnceClosed_AndNeverALink) {
  const std::string marker = dir_.Join(".alive");
  EXPECT_EQ(ProbeMarker(marker), MarkerState::Missing);
  {
    const platform::UniqueFd fd = platform::CreateLockedMarker(marker);
    ASSERT_TRUE(fd);
    EXPECT_NE(fcntl(fd.Get(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(ProbeMarker(marker), MarkerState::Held);  // another open, even in this process
    EXPECT_FALSE(platform::CreateLockedMarker(marker));
  }
  EXPECT_EQ(ProbeMarker(marker), MarkerState::Free);
  ASSERT_EQ(symlink(dir_.Join("target").c_str(), dir_.Join("link").c_str()), 0);
  EXPECT_FALSE(platform::CreateLockedMarker(dir_.Join("link")));
  EXPECT_FALSE(fs::exists(dir_.Join("target")));
  EXPECT_EQ(ProbeMarker(dir_.Join("link")), MarkerState::Held);
}

TEST_F(EmbedProfileTest, WipeRemovesOnlyProfilesWhoseOwnerIsGone) {
  const std::string live = Folder("embed-tmp/live"), starting = Folder("embed-tmp/starting/wv2");
  MarkerHolder holder(live + "/.alive");
  ASSERT_TRUE(holder.locked);
  // Outside, a folder that would look stale if a link led the wipe there.
  const std::string outside = Folder("outside");
  testing::WriteTextFile(outside + "/.alive", "");
  fs::create_directory_symlink(outside, dir_.Join("embed-tmp/linked"));
  fs::create_directory_symlink(outside, starting + "/escape");
  testing::WriteTextFile(dir_.Join("embed-tmp/note"), "x");

  EXPECT_EQ(WipeStaleProfiles(dir_.path()), 0);  // the one without a marker is young
  EXPECT_TRUE(fs::exists(starting));
  EXPECT_EQ(WipeStaleProfiles(dir_.path(), 0), 1);
  EXPECT_FALSE(fs::exists(dir_.Join("embed-tmp/starting")));
  EXPECT_TRUE(fs::exists(live + "/.alive"));
  EXPECT_TRUE(fs::is_symlink(dir_.Join("embed-tmp/linked")));
  EXPECT_TRUE(fs::exists(dir_.Join("embed-tmp/note")));
  EXPECT_TRUE(fs::exists(outside + "/.alive"));

  holder.Kill();
  testing::TempDir linkedBase;  // an "embed-tmp" that is a link is not entered
  fs::create_directory_symlink(dir_.Join("embed-tmp"), linkedBase.Join("embed-tmp"));
  EXPECT_EQ(WipeStaleProfiles(linkedBase.path(), 0), 0);
  EXPECT_EQ(WipeStaleProfiles(""), 0);
  EXPECT_EQ(WipeStaleProfiles(dir_.path()), 1);  // no grace once the owner died
  EXPECT_FALSE(fs::exists(live));
}

TEST_F(EmbedProfileTest, EnsureCreatedMakesOneLockedProfileWithADataFolder) {
  const std::string base = EmbedProfileBase();
  ASSERT_EQ(base, *platform::UserDataDir() + "/TALVEK");
  const std::string profile = EmbedProfile::Get().EnsureCreated();
  ASSERT_EQ(fs::path(profile).parent_path(), fs::path(base + "/embed-tmp"));
  const std::string name = fs::path(profile).filename().string();  // a version 4 GUID
  ASSERT_EQ(name.size(), 32u);
  EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), std::string::npos) << name;
  EXPECT_EQ(name[12], '4') << name;
  EXPECT_NE(std::string("89ab").find(name[16]), std::string::npos) << name;
  EXPECT_EQ(EmbedProfile::Get().EnsureCreated(), profile);
  struct stat info {};
  ASSERT_EQ(stat(profile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(ProbeMarker(profile + "/.alive"), MarkerState::Held);
  EXPECT_FALSE(fs::exists(profile + "/.alive.new"));
  EXPECT_EQ(EmbedProfile::Get().DataFolder(), profile + "/wv2");
  EXPECT_TRUE(fs::is_directory(profile + "/wv2"));

  // Our own wipe keeps it; once let go of, the next process's wipe clears it.
  EXPECT_EQ(WipeStaleProfiles(base, 0), 0);
  EmbedProfile::ResetForTesting();
  const std::string next = EmbedProfile::Get().EnsureCreated();
  EXPECT_NE(next, profile);
  EXPECT_EQ(WipeStaleProfiles(base), 1);
  EXPECT_FALSE(fs::exists(profile));
  EXPECT_TRUE(fs::exists(next));
}

TEST_F(EmbedProfileTest, PurgeRemovesTheProfileForGood_OrGivesUpAtItsBudget) {
  const std::string profile = EmbedProfile::Get().EnsureCreated();
  testing::WriteTextFile(EmbedProfile::Get().DataFolder() + "/cookies", "x");
  int tries = 0;
  EmbedProfile::SetRemoveTreeForTesting([&](const std::string&) { return ++tries, false; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(EmbedProfile::Get().Purge(300));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(300));
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_GE(tries, 2);
  EXPECT_EQ(ProbeMarker(profile + "/.alive"), MarkerState::Free);  // the next start's wipe takes it
  tries = 0;
  EXPECT_FALSE(EmbedProfile::Get().Purge(0));
  EXPECT_EQ(tries, 1);

  EmbedProfile::SetRemoveTreeForTesting(nullptr);
  EXPECT_TRUE(EmbedProfile::Get().Purge(0));
  EXPECT_FALSE(fs::exists(profile));
  EXPECT_EQ(EmbedProfile::Get().EnsureCreated(), "");
  EXPECT_EQ(EmbedProfile::Get().DataFolder(), "");
  EXPECT_FALSE(fs::exists(profile));
}

TEST_F(EmbedProfileTest, FirstEnvironmentRequestWipesAgainBeforeMakingTheProfile_LaterOnesDoNot) {
  const std::string base = EmbedProfileBase();
  // Profiles whose owners died after this process started (and after its
  // start-up wipe): one let go of its marker, one never made one.
  const std::string released = base + "/embed-tmp/released", unmarked = base + "/embed-tmp/unmarked";
  {
    fs::create_directories(released);
    const platform::UniqueFd marker = platform::CreateLockedMarker(released + "/.alive");
    ASSERT_TRUE(marker);
  }
  fs::create_directories(unmarked + "/wv2");
  const std::string running = base + "/embed-tmp/running";
  fs::create_directories(running);
  MarkerHolder holder(running + "/.alive");
  ASSERT_TRUE(holder.locked);  // a running instance's profile

  const std::string data = EmbedProfile::Get().RequestEnvironment();
  ASSERT_FALSE(data.empty());
  EXPECT_EQ(data, EmbedProfile::Get().DataFolder());
  EXPECT_TRUE(fs::is_directory(data));
  EXPECT_FALSE(fs::exists(released)) << "its owner is gone";
  EXPECT_TRUE(fs::exists(unmarked)) << "young and without a marker: a process setting up";
  EXPECT_TRUE(fs::exists(running + "/.alive"));

  // Once per process: a profile released now waits for the next start.
  const std::string later = base + "/embed-tmp/later";
  {
    fs::create_directories(later);
    const platform::UniqueFd marker = platform::CreateLockedMarker(later + "/.alive");
    ASSERT_TRUE(marker);
  }
  EXPECT_EQ(EmbedProfile::Get().RequestEnvironment(), data);
  EXPECT_TRUE(fs::exists(later));
  EXPECT_EQ(ProbeMarker(fs::path(data).parent_path().string() + "/.alive"), MarkerState::Held);

  // After the purge no request is served and nothing is wiped.
  EXPECT_TRUE(EmbedProfile::Get().Purge(0));
  EmbedProfile::ResetForTesting();
  EXPECT_TRUE(EmbedProfile::Get().Purge(0));
  EXPECT_EQ(EmbedProfile::Get().RequestEnvironment(), "");
  EXPECT_TRUE(fs::exists(later));
}

TEST_F(EmbedProfileTest, WithoutADataFolderNothingIsMade) {
  const std::string home = getenv("HOME"), data = getenv("XDG_DATA_HOME");
  unsetenv("HOME");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(EmbedProfileBase(), "");
  EXPECT_EQ(EmbedProfile::Get().EnsureCreated(), "");
  EXPECT_EQ(EmbedProfile::Get().RequestEnvironment(), "");
  EXPECT_TRUE(EmbedProfile::Get().Purge(0));
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
}

}  // namespace
}  // namespace VirelantDesktop::Embed
