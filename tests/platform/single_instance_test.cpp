#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/folders.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

namespace fs = std::filesystem;

std::string SelfPath() { return ExecutablePath().value_or(""); }

TEST(HandOverMessage, RoundTripsAndRefusesMalformedInput) {
  const std::vector<std::string> args = {"/opt/talvek/talvek", "--fonts-installed", "", "\xC3\xA9 x"};
  EXPECT_EQ(DecodeHandOver(EncodeHandOver(args)), args);
  EXPECT_EQ(DecodeHandOver(EncodeHandOver({})), std::vector<std::string>{});
  const std::string good = EncodeHandOver({"a"});
  const std::pair<const char*, std::string> bad[] = {
      {"empty", ""},
      {"bad magic", "XLVW" + good.substr(4)},
      {"short", good.substr(0, 6)},
      {"length too large", good.substr(0, 4) + std::string("\x05\x00\x00\x00", 4) + "a"},
      {"trailing bytes", good + "x"},
      {"no terminator", good.substr(0, 4) + std::string("\x01\x00\x00\x00", 4) + "a"},
      {"over the cap", std::string("TLVW") + std::string("\x01\x00\x01\x00", 4) + std::string(65537, 'a')},
  };
  for (const auto& [what, message] : bad) {
    SCOPED_TRACE(what);
    EXPECT_EQ(DecodeHandOver(message), std::nullopt);
  }
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  std::string Folder() const { return dir_.path(); }
  testing::TempDir dir_;
};

TEST_F(SingleInstanceTest, OneHolderAtATime_AndTheSocketGoesBeforeTheLock) {
  InstanceGuard first;
  ASSERT_EQ(InstanceGuard::TryAcquire(Folder(), first), InstanceGuard::Outcome::Acquired);
  EXPECT_GE(first.ListenFd(), 0);
  EXPECT_TRUE(fs::exists(dir_.Join(kInstanceSocketName)));
  InstanceGuard second;
  EXPECT_EQ(InstanceGuard::TryAcquire(Folder(), second), InstanceGuard::Outcome::HeldByAnother);
  first.Release();
  EXPECT_FALSE(fs::exists(dir_.Join(kInstanceSocketName)));
  EXPECT_EQ(InstanceGuard::TryAcquire(Folder(), second), InstanceGuard::Outcome::Acquired);
  EXPECT_NE(fcntl(second.ListenFd(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST_F(SingleInstanceTest, AStaleSocketFileNeverBlocks) {
  testing::WriteTextFile(dir_.Join(kInstanceSocketName), "left by a killed instance");
  InstanceGuard guard;
  ASSERT_EQ(InstanceGuard::TryAcquire(Folder(), guard), InstanceGuard::Outcome::Acquired);
  EXPECT_GE(guard.ListenFd(), 0);
}

TEST_F(SingleInstanceTest, AKilledHolderReleasesTheLock) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstanceGuard guard;
    const char outcome = InstanceGuard::TryAcquire(Folder(), guard) == InstanceGuard::Outcome::Acquired ? 'y' : 'n';
    (void)!write(ready[1], &outcome, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char outcome = 0;
  ASSERT_EQ(read(ready[0], &outcome, 1), 1);
  close(ready[0]);
  ASSERT_EQ(outcome, 'y');
  InstanceGuard probe;
  EXPECT_EQ(InstanceGuard::TryAcquire(Folder(), probe), InstanceGuard::Outcome::HeldByAnother);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(InstanceGuard::TryAcquire(Folder(), probe), InstanceGuard::Outcome::Acquired);
}

// Serves one hand-over on the guard's socket from a thread.
std::thread ServeOne(const InstanceGuard& guard, bool accept, std::optional<std::vector<std::string>>* received) {
  return std::thread([fd = guard.ListenFd(), accept, received] {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 5000) != 1) return;
    const int connection = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return;
    *received = ReceiveHandOver(connection, 2000);
    if (*received) AnswerHandOver(connection, accept);
    close(connection);
  });
}

TEST_F(SingleInstanceTest, HandOverReachesTheSameProgramAndCarriesItsAnswer) {
  InstanceGuard guard;
  ASSERT_EQ(InstanceGuard::TryAcquire(Folder(), guard), InstanceGuard::Outcome::Acquired);
  for (bool accept : {true, false}) {
    std::optional<std::vector<std::string>> received;
    std::thread server = ServeOne(guard, accept, &received);
    const auto result = SendHandOver(Folder(), {"talvek", "--open", "x y"}, SelfPath(), 2000);
    server.join();
    EXPECT_EQ(result, accept ? HandOverResult::Accepted : HandOverResult::Declined);
    EXPECT_EQ(received, (std::vector<std::string>{"talvek", "--open", "x y"}));
  }
}

TEST_F(SingleInstanceTest, AnotherProgramIsNeverSentTheCommandLine) {
  InstanceGuard guard;
  ASSERT_EQ(InstanceGuard::TryAcquire(Folder(), guard), InstanceGuard::Outcome::Acquired);
  std::optional<std::vector<std::string>> received;
  std::thread server = ServeOne(guard, true, &received);
  EXPECT_EQ(SendHandOver(Folder(), {"talvek"}, "/usr/bin/some-other-program", 2000), HandOverResult::WrongPeer);
  server.join();
  EXPECT_EQ(received, std::nullopt) << "the primary got nothing";
}

TEST_F(SingleInstanceTest, NoPrimary_IsNoPeer) {
  EXPECT_EQ(SendHandOver(Folder(), {"talvek"}, SelfPath(), 500), HandOverResult::NoPeer);
}

TEST_F(SingleInstanceTest, APrimaryThatNeverAnswers_IsGivenUpOn) {
  InstanceGuard guard;
  ASSERT_EQ(InstanceGuard::TryAcquire(Folder(), guard), InstanceGuard::Outcome::Acquired);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendHandOver(Folder(), {"talvek"}, SelfPath(), 300), HandOverResult::Failed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(SingleInstanceTest, APeerThatSaysNothing_IsGivenUpOn) {
  InstanceGuard guard;
  ASSERT_EQ(InstanceGuard::TryAcquire(Folder(), guard), InstanceGuard::Outcome::Acquired);
  const int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = dir_.Join(kInstanceSocketName);
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  pollfd pfd{guard.ListenFd(), POLLIN, 0};
  ASSERT_EQ(poll(&pfd, 1, 2000), 1);
  const int connection = accept4(guard.ListenFd(), nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(connection, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReceiveHandOver(connection, 200), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  close(connection);
  close(client);
}

TEST(InstanceFolder, OnlyAPrivateRealFolderOfOurs) {
  testing::TempDir runtime;
  const char* saved = getenv("XDG_RUNTIME_DIR");
  const std::string savedValue = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);

  auto folder = InstanceFolder();
  ASSERT_TRUE(folder.has_value());
  EXPECT_EQ(*folder, runtime.Join("talvek"));
  struct stat info {};
  ASSERT_EQ(stat(folder->c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  chmod(folder->c_str(), 0755);
  EXPECT_EQ(InstanceFolder(), std::nullopt) << "open to others";
  fs::remove(*folder);
  fs::create_directory_symlink(runtime.path(), *folder);
  EXPECT_EQ(InstanceFolder(), std::nullopt) << "a link";
  fs::remove(*folder);

  setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
}

}  // namespace
}  // namespace VirelantDesktop::platform
