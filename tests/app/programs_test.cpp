#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/product_fonts.h"

namespace {

using ::testing::HasSubstr;

using Child = VirelantDesktop::testing::ChildProcess;

std::string ExecutableDir() {
  const std::string path = TALVEK_PATH;
  return path.substr(0, path.rfind('/'));
}

// A home where an earlier start installed the fonts: the shell runs on in
// the process the test started.
class Talvek : public ::testing::Test {
 protected:
  void SetUp() override { VirelantDesktop::testing::PreinstallProductFonts(std::getenv("XDG_DATA_HOME"), ExecutableDir()); }
};

TEST_F(Talvek, RunsTheDemoBundleHeadlessAndEndsOnTerminate) {
  Child talvek({TALVEK_PATH});
  ASSERT_TRUE(talvek.started());
  ASSERT_TRUE(talvek.WaitForOutput("demo bundle done", std::chrono::seconds(10))) << talvek.output();
  EXPECT_THAT(talvek.output(), HasSubstr("TALVEK demo bundle, root tag 1"));
  talvek.Signal(SIGTERM);
  EXPECT_EQ(talvek.Wait(std::chrono::seconds(5)), 0);
}

TEST_F(Talvek, ASecondStartHandsOverAndExitsZero) {
  Child first({TALVEK_PATH});
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.WaitForOutput("demo bundle done", std::chrono::seconds(10))) << first.output();

  const auto start = std::chrono::steady_clock::now();
  Child second({TALVEK_PATH, "--some-flag"});
  ASSERT_TRUE(second.started());
  EXPECT_EQ(second.Wait(std::chrono::seconds(5)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "accepted within one scan";
  EXPECT_EQ(second.output(), "") << "the second start runs no bundle";

  Child uninstall({TALVEK_PATH, "--VELOAPP-UNINSTALL"});
  EXPECT_EQ(uninstall.Wait(std::chrono::seconds(5)), 0) << "the uninstall switch needs no lock";

  // The uninstall took the fonts away; without them the next start would
  // relaunch itself.
  VirelantDesktop::testing::PreinstallProductFonts(std::getenv("XDG_DATA_HOME"), ExecutableDir());
  first.Signal(SIGKILL);  // a killed instance must not block the next start
  EXPECT_EQ(first.Wait(std::chrono::seconds(5)), 128 + SIGKILL);
  Child third({TALVEK_PATH});
  ASSERT_TRUE(third.WaitForOutput("demo bundle done", std::chrono::seconds(10))) << third.output();
  third.Signal(SIGTERM);
  EXPECT_EQ(third.Wait(std::chrono::seconds(5)), 0);
}

TEST_F(Talvek, ManySimultaneousStartsLeaveOneInstance) {
  std::vector<std::unique_ptr<Child>> starts;
  for (int i = 0; i < 10; ++i) starts.push_back(std::make_unique<Child>(std::vector<std::string>{TALVEK_PATH}));
  std::vector<bool> done(starts.size(), false);
  int exited = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (exited < 9 && std::chrono::steady_clock::now() < deadline) {
    for (size_t i = 0; i < starts.size(); ++i) {
      if (done[i]) continue;
      const int code = starts[i]->Wait(std::chrono::milliseconds(10));
      if (code != -1) {
        done[i] = true;
        EXPECT_EQ(code, 0);
        ++exited;
      }
    }
  }
  EXPECT_EQ(exited, 9) << "all but one handed over";
  for (auto& start : starts) start->Signal(SIGTERM);
}

// Processes handed to this one (a subreaper) whose command line holds `word`.
std::vector<pid_t> AdoptedProcesses(const std::string& word) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) != 2 || parent != getpid()) continue;
    std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
    const std::string arguments((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    if (arguments.find(word) != std::string::npos) found.push_back(std::stoi(name));
  }
  return found;
}

// The font files of ours in the user's font folder.
size_t ProductFontFiles(const std::string& folder) {
  size_t count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename();
    if (name.starts_with("SUIT-Variable") || name.starts_with("NotoSansJP-VF")) ++count;
  }
  return count;
}

std::string FontList() {
  Child list({"fc-list", ":", "family"});
  list.WaitForOutput("\x01", std::chrono::seconds(20));  // reads to the end
  list.Wait(std::chrono::seconds(5));
  return list.output();
}

TEST(TalvekFonts, AFreshHomeGetsTheFontsThroughOneRelaunchAndTheUninstallSwitchTakesThemAway) {
  // The relaunched shell outlives the first: it is handed to this process.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const std::string fontFolder = std::string(std::getenv("XDG_DATA_HOME")) + "/fonts";

  Child first({TALVEK_PATH});
  ASSERT_TRUE(first.started());
  EXPECT_EQ(first.Wait(std::chrono::seconds(20)), 0) << "the first start exits once its relaunch runs";
  ASSERT_TRUE(first.WaitForOutput("demo bundle done", std::chrono::seconds(20))) << first.output();
  EXPECT_THAT(first.output(), HasSubstr(R"("fontsLoaded":true)"));
  const auto relaunched = AdoptedProcesses("--fonts-installed");
  ASSERT_EQ(relaunched.size(), 1u) << "exactly one relaunch, with the switch";
  EXPECT_EQ(ProductFontFiles(fontFolder), 8u);
  const std::string families = FontList();
  EXPECT_THAT(families, HasSubstr("TALVEK Sans\n"));
  EXPECT_THAT(families, HasSubstr("TALVEK Sans JP"));
  kill(relaunched.front(), SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(relaunched.front(), &status, 0), relaunched.front());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Installed: the next start changes nothing and runs on itself.
  const auto installedAt = std::filesystem::last_write_time(fontFolder + "/SUIT-Variable.ttf");
  Child second({TALVEK_PATH});
  ASSERT_TRUE(second.WaitForOutput("demo bundle done", std::chrono::seconds(20))) << second.output();
  EXPECT_THAT(second.output(), HasSubstr(R"("fontsLoaded":true)"));
  EXPECT_TRUE(second.Running()) << "no second relaunch";
  EXPECT_EQ(std::filesystem::last_write_time(fontFolder + "/SUIT-Variable.ttf"), installedAt);
  second.Signal(SIGTERM);
  EXPECT_EQ(second.Wait(std::chrono::seconds(5)), 0);

  Child uninstall({TALVEK_PATH, "--veloapp-uninstall"});
  EXPECT_EQ(uninstall.Wait(std::chrono::seconds(20)), 0);
  EXPECT_EQ(ProductFontFiles(fontFolder), 0u);
  EXPECT_THAT(FontList(), ::testing::Not(HasSubstr("TALVEK Sans")));
}

TEST(TalvekFonts, WithoutADataFolderNothingIsInstalledAndFontsAreNotLoaded) {
  // Neither HOME nor XDG_DATA_HOME gives an absolute path.
  auto environment = VirelantDesktop::testing::WithVariables(VirelantDesktop::testing::CurrentEnvironment(),
                                                             {{"XDG_DATA_HOME", "relative/data"}, {"HOME", std::nullopt}});
  Child talvek({TALVEK_PATH}, environment);
  ASSERT_TRUE(talvek.WaitForOutput("demo bundle done", std::chrono::seconds(20))) << talvek.output();
  EXPECT_THAT(talvek.output(), HasSubstr(R"("fontsLoaded":false)"));
  EXPECT_TRUE(talvek.Running()) << "nothing installed, no relaunch";
  talvek.Signal(SIGTERM);
  EXPECT_EQ(talvek.Wait(std::chrono::seconds(5)), 0);
}

TEST(TalvekRun, RunsTheDemoBundleAndExitsWhenIdle) {
  const std::string bundle = ExecutableDir() + "/Bundle/index.windows";
  Child run({TALVEK_RUN_PATH, bundle});
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.WaitForOutput("demo bundle done", std::chrono::seconds(10))) << run.output();
  EXPECT_EQ(run.Wait(std::chrono::seconds(5)), 0);
}

TEST(TalvekRun, BadUsageExitsTwo) {
  for (std::vector<std::string> argv : {std::vector<std::string>{TALVEK_RUN_PATH},
                                        {TALVEK_RUN_PATH, "a.js", "--timeout-ms"},
                                        {TALVEK_RUN_PATH, "a.js", "--timeout-ms", "soon"},
                                        {TALVEK_RUN_PATH, "a.js", "b.js"},
                                        {TALVEK_RUN_PATH, "--verbose", "a.js"}}) {
    SCOPED_TRACE(::testing::PrintToString(argv));
    Child run(argv);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.Wait(std::chrono::seconds(5)), 2);
  }
}

}  // namespace
