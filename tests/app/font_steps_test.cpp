#include "app/font_steps.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fonts/font_tables.h"

namespace VirelantDesktop::app {
namespace {

// Records every step the start-up takes, in order.
class FontStepsTest : public ::testing::Test {
 protected:
  FontStepDeps Deps() {
    FontStepDeps deps;
    deps.install = [this] {
      steps_.push_back("install");
      return installed_;
    };
    deps.releaseInstance = [this] { steps_.push_back("release"); };
    deps.retakeInstance = [this] {
      steps_.push_back("retake");
      return retakes_;
    };
    deps.launch = [this](const std::vector<std::string>& argv) {
      steps_.push_back("launch");
      launched_ = argv;
      return launches_;
    };
    deps.executablePath = "/opt/talvek/talvek";
    deps.userFontsFolder = [this] { return folder_; };
    deps.familyAvailable = [this](const std::string& family, const std::string& folder) {
      steps_.push_back("check " + family);
      EXPECT_EQ(folder, folder_);
      ++checks_;
      return available_(family, checks_);
    };
    deps.sleep = [this](int ms) { steps_.push_back("sleep " + std::to_string(ms)); };
    return deps;
  }

  bool installed_ = true;
  bool launches_ = true;
  bool retakes_ = true;
  std::string folder_ = "/home/u/.local/share/fonts";
  std::function<bool(const std::string&, int)> available_ = [](const std::string&, int) { return true; };
  std::vector<std::string> steps_;
  std::vector<std::string> launched_;
  int checks_ = 0;
};

TEST_F(FontStepsTest, NewFontsReleaseTheInstanceThenRelaunchOnceWithTheSwitch) {
  EXPECT_FALSE(InstallFontsOrRelaunch({"./talvek", "talvek://open?x=1", "--verbose"}, Deps())) << "this process exits";
  EXPECT_EQ(steps_, (std::vector<std::string>{"install", "release", "launch"}));
  EXPECT_EQ(launched_, (std::vector<std::string>{"/opt/talvek/talvek", "talvek://open?x=1", "--verbose",
                                                 "--fonts-installed"}));
}

TEST_F(FontStepsTest, NoRelaunchWhenNothingIsNewOrThisIsTheRelaunch) {
  installed_ = false;
  EXPECT_TRUE(InstallFontsOrRelaunch({"talvek"}, Deps()));
  installed_ = true;
  EXPECT_TRUE(InstallFontsOrRelaunch({"talvek", "--Fonts-Installed"}, Deps()));
  EXPECT_EQ(steps_, (std::vector<std::string>{"install", "install"}));
  auto deps = Deps();
  deps.executablePath.clear();
  EXPECT_TRUE(InstallFontsOrRelaunch({"talvek"}, deps)) << "no own path: nothing to relaunch";
}

TEST_F(FontStepsTest, AFailedRelaunchRetakesTheInstanceAndRunsOnUnlessAnotherTookIt) {
  launches_ = false;
  EXPECT_TRUE(InstallFontsOrRelaunch({"talvek"}, Deps()));
  EXPECT_EQ(steps_, (std::vector<std::string>{"install", "release", "launch", "retake"}));
  retakes_ = false;
  EXPECT_FALSE(InstallFontsOrRelaunch({"talvek"}, Deps())) << "another instance runs now";
}

TEST_F(FontStepsTest, TheRelaunchLineOfAnEmptyCommandLineIsTheProgramAndTheSwitch) {
  EXPECT_EQ(RelaunchCommandLine({}, "/p/talvek"), (std::vector<std::string>{"/p/talvek", "--fonts-installed"}));
}

TEST_F(FontStepsTest, TheCheckAsksOnceForBothFamilies) {
  EXPECT_TRUE(CheckProductFonts({"talvek"}, Deps()));
  EXPECT_EQ(steps_, (std::vector<std::string>{"check " + std::string(fonts::kSansFamily),
                                              "check " + std::string(fonts::kSansJpFamily)}));
  steps_.clear();
  available_ = [](const std::string& family, int) { return family == fonts::kSansFamily; };
  EXPECT_FALSE(CheckProductFonts({"talvek"}, Deps())) << "both families are needed";
  EXPECT_EQ(steps_.size(), 2u) << "one attempt without the switch";
}

TEST_F(FontStepsTest, AfterARelaunchTheCheckTriesFiveTimesTwoHundredMillisecondsApart) {
  available_ = [](const std::string&, int) { return false; };
  EXPECT_FALSE(CheckProductFonts({"talvek", "--fonts-installed"}, Deps()));
  EXPECT_EQ(checks_, 5);
  EXPECT_EQ(std::count(steps_.begin(), steps_.end(), "sleep 200"), 4);

  steps_.clear();
  checks_ = 0;
  available_ = [](const std::string&, int check) { return check >= 2; };  // the first question fails
  EXPECT_TRUE(CheckProductFonts({"talvek", "--fonts-installed"}, Deps())) << "seen on the second attempt";
  EXPECT_EQ(std::count(steps_.begin(), steps_.end(), "sleep 200"), 1);
}

TEST_F(FontStepsTest, NoFontFolderMeansNoFontsAndNoQuestions) {
  folder_.clear();
  EXPECT_FALSE(CheckProductFonts({"talvek", "--fonts-installed"}, Deps()));
  EXPECT_TRUE(steps_.empty());
}

}  // namespace
}  // namespace VirelantDesktop::app
