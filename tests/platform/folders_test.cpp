#include "platform/folders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/temp_dir.h"

namespace VirelantDesktop::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 5> kVariables = {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                                   "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"};

// Each test changes the folder variables; they are put back afterwards so
// later tests still see the isolated folders the test main set up.
class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < kVariables.size(); ++i) {
      const char* value = getenv(kVariables[i]);
      saved_[i] = value ? std::optional<std::string>(value) : std::nullopt;
    }
  }
  void TearDown() override {
    for (size_t i = 0; i < kVariables.size(); ++i) Set(kVariables[i], saved_[i]);
  }
  static void Set(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

 private:
  std::array<std::optional<std::string>, kVariables.size()> saved_;
};

using Env = std::optional<std::string>;
constexpr std::nullopt_t kUnset = std::nullopt;

TEST_F(FoldersTest, ResolvesFromEnvironment) {
  struct Case {
    const char* name;
    Env home, data, cache, config, runtime;
    Env wantData, wantCache, wantConfig, wantRuntime;
  };
  const Case cases[] = {
      {"XDG variables win over HOME", "/home/u", "/x/data", "/x/cache", "/x/config", "/run/user/1",
       "/x/data", "/x/cache", "/x/config", "/run/user/1"},
      {"XDG variables need no HOME", kUnset, "/x/data", "/x/cache", "/x/config", "/run/user/1",
       "/x/data", "/x/cache", "/x/config", "/run/user/1"},
      {"unset XDG variables fall back to HOME", "/home/u", kUnset, kUnset, kUnset, kUnset,
       "/home/u/.local/share", "/home/u/.cache", "/home/u/.config", kUnset},
      {"empty XDG variables fall back to HOME", "/home/u", "", "", "", "",
       "/home/u/.local/share", "/home/u/.cache", "/home/u/.config", kUnset},
      {"relative XDG variables fall back to HOME", "/home/u", "data", "./cache", "~/config",
       "run", "/home/u/.local/share", "/home/u/.cache", "/home/u/.config", kUnset},
      {"no HOME and no XDG variables", kUnset, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset,
       kUnset, kUnset},
      {"empty HOME", "", kUnset, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset},
      {"relative HOME", "home/u", kUnset, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset},
      {"relative HOME, one XDG variable", "home/u", kUnset, "/x/cache", kUnset, kUnset, kUnset,
       "/x/cache", kUnset, kUnset},
      {"HOME with a trailing slash", "/home/u/", kUnset, kUnset, kUnset, kUnset,
       "/home/u/.local/share", "/home/u/.cache", "/home/u/.config", kUnset},
      {"HOME is the root folder", "/", kUnset, kUnset, kUnset, kUnset, "/.local/share", "/.cache",
       "/.config", kUnset},
      {"paths with spaces kept as they are", "/home/a b", "/x y/data", kUnset, kUnset,
       "/run/a b", "/x y/data", "/home/a b/.cache", "/home/a b/.config", "/run/a b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Set("HOME", c.home);
    Set("XDG_DATA_HOME", c.data);
    Set("XDG_CACHE_HOME", c.cache);
    Set("XDG_CONFIG_HOME", c.config);
    Set("XDG_RUNTIME_DIR", c.runtime);
    EXPECT_EQ(UserDataDir(), c.wantData);
    EXPECT_EQ(UserCacheDir(), c.wantCache);
    EXPECT_EQ(UserConfigDir(), c.wantConfig);
    EXPECT_EQ(UserRuntimeDir(), c.wantRuntime);
  }
}

// The kernel records the path the program was started with (AT_EXECFN);
// it names the same file as ExecutablePath() whatever its spelling.
fs::path StartedAs() { return reinterpret_cast<const char*>(getauxval(AT_EXECFN)); }
fs::path StartedFrom() {
  const fs::path parent = StartedAs().parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

TEST(ExecutablePathTest, NamesTheRunningProgram) {
  const auto path = ExecutablePath();
  ASSERT_TRUE(path.has_value());
  EXPECT_TRUE(fs::path(*path).is_absolute()) << *path;
  EXPECT_TRUE(fs::equivalent(*path, StartedAs())) << *path << " vs " << StartedAs();
}

TEST(ExecutablePathTest, DirIsTheProgramsFolder) {
  const auto dir = ExecutableDir();
  const auto path = ExecutablePath();
  ASSERT_TRUE(dir.has_value());
  ASSERT_TRUE(path.has_value());
  EXPECT_TRUE(fs::is_directory(*dir)) << *dir;
  ASSERT_FALSE(dir->empty());
  EXPECT_NE(dir->back(), '/') << *dir;
  EXPECT_TRUE(fs::equivalent(*dir, StartedFrom())) << *dir;
  EXPECT_EQ(*dir + "/" + fs::path(*path).filename().string(), *path);
}

// Runs `program` with no arguments; its standard output, or nullopt when it
// could not be run or failed.
std::optional<std::string> RunAndCapture(const std::string& program, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot run " << program << ": " << std::strerror(spawned);
    return std::nullopt;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << program << " failed, status " << status;
    return std::nullopt;
  }
  return testing::ReadTextFile(output);
}

// /proc/self/exe has no length known in advance; paths longer than any
// first guess at a buffer must come back whole.
TEST(ExecutablePathTest, ReportsCopiesRunFromAnyFolder) {
  const std::string longName(120, 'n');
  struct Case {
    const char* name;
    std::string folder;  // below the temp folder
  };
  const Case cases[] = {
      {"short path", "bin"},
      {"spaces in names", "my apps/x y"},
      {"path over 256 characters", longName + "/" + longName + "/" + longName},
      {"path over 2048 characters", [&] {
         std::string folder = "deep";
         while (folder.size() < 2100) folder += "/" + longName;
         return folder;
       }()},
  };
  testing::TempDir temp;
  // The kernel reports the path with symlinks resolved.
  const std::string root = fs::canonical(temp.path()).string();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = root + "/" + c.folder;
    const std::string program = folder + "/probe";
    fs::create_directories(folder);
    fs::copy_file(TALVEK_EXE_PATH_PROBE, program, fs::copy_options::overwrite_existing);
    fs::permissions(program, fs::perms::owner_all);

    const auto output = RunAndCapture(program, temp.Join("output.txt"));
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(*output, program + "\n" + folder + "\n");
  }
}

}  // namespace
}  // namespace VirelantDesktop::platform
