// The desktop opener with a stand-in `xdg-open` first on PATH: it records
// its arguments and exits with the status the test chose. The suite runs on
// a private session bus without a file manager, so showing a file falls back
// to opening its folder.
#include "platform/desktop_opener.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <future>

#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

using namespace std::chrono_literals;

class DesktopOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = getenv("PATH");
    savedPath_ = path ? path : "";
    setenv("PATH", (dir_.path() + ":" + savedPath_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

  void FakeLauncher(int status) {
    testing::WriteTextFile(dir_.Join("xdg-open"), "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" +
                                                     dir_.Join("args") + "'\nexit " + std::to_string(status) + "\n");
    chmod(dir_.Join("xdg-open").c_str(), 0755);
  }
  bool Await(const std::function<void(OpenDone)>& call) {
    auto result = std::make_shared<std::promise<bool>>();
    auto future = result->get_future();
    call([result](bool launched) { result->set_value(launched); });
    EXPECT_EQ(future.wait_for(15s), std::future_status::ready);
    return future.get();
  }

  testing::TempDir dir_;
  std::string savedPath_;
  std::shared_ptr<DesktopOpener> opener_ = MakeDesktopOpener();
};

TEST_F(DesktopOpenerTest, TheTargetIsOneArgumentAndTheExitStatusDecides) {
  FakeLauncher(0);
  const std::string url = "https://example.com/a?b=$(touch x)&c='d'";
  EXPECT_TRUE(Await([&](OpenDone done) { opener_->Open(url, std::move(done)); }));
  EXPECT_EQ(testing::ReadTextFile(dir_.Join("args")), "1\n" + url + "\n") << "no shell in between";
  FakeLauncher(3);
  EXPECT_FALSE(Await([&](OpenDone done) { opener_->Open("/tmp", std::move(done)); }));
}

TEST_F(DesktopOpenerTest, AFileIsShownThroughItsFolderWithoutAFileManager) {
  FakeLauncher(0);
  testing::WriteTextFile(dir_.Join("a b.txt"), "x");
  EXPECT_TRUE(Await([&](OpenDone done) { opener_->ShowFile(dir_.Join("a b.txt"), std::move(done)); }));
  EXPECT_EQ(testing::ReadTextFile(dir_.Join("args")), "1\n" + dir_.path() + "\n");
}

TEST_F(DesktopOpenerTest, NoLauncherAtAll) {
  setenv("PATH", dir_.path().c_str(), 1);  // neither xdg-open nor gio
  EXPECT_FALSE(Await([&](OpenDone done) { opener_->Open("https://example.com", std::move(done)); }));
}

}  // namespace
}  // namespace VirelantDesktop::platform
