#include "platform/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "platform/temp_name.h"
#include "tests/support/temp_dir.h"
#include "tests/support/umask_guard.h"

namespace VirelantDesktop::platform {
namespace {

namespace fs = std::filesystem;
using testing::ReadTextFile;
using testing::TempDir;
using testing::WriteTextFile;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path << ": " << std::strerror(errno);
  return info.st_mode & 07777;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

using testing::UmaskGuard;

// Every entry below `folder` with its content (files), target (symlinks)
// or "folder", to show that a failed write changed nothing.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().string();
    if (entry.is_symlink()) {
      entries[name] = "link:" + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      entries[name] = "file:" + ReadTextFile(name);
    } else {
      entries[name] = "folder";
    }
  }
  return entries;
}

std::string ResultText(const AtomicWriteResult& result) {
  return std::string(AtomicWriteStageName(result.failedStage)) + ": " +
         std::strerror(result.error);
}

TEST(AtomicFileTest, CreatesFileWithContentAndPrivateMode) {
  UmaskGuard mask(022);
  TempDir temp;
  const std::string path = temp.Join("settings.json");

  const auto result = WriteFileAtomic(path, "{\"a\":1}");

  ASSERT_TRUE(result.ok()) << ResultText(result);
  EXPECT_EQ(result.error, 0);
  EXPECT_EQ(ReadTextFile(path), "{\"a\":1}");
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_FALSE(Exists(DefaultTempPath(path)));
}

TEST(AtomicFileTest, NewFileModeFollowsOptionsAndUmask) {
  UmaskGuard mask(027);
  struct Case {
    mode_t requested;
    mode_t expected;
  };
  const Case cases[] = {{0600, 0600}, {0644, 0640}, {0666, 0640}, {0400, 0400}};
  TempDir temp;
  for (const auto& [requested, expected] : cases) {
    SCOPED_TRACE(::testing::Message() << std::oct << requested);
    const std::string path = temp.Join("file");
    AtomicWriteOptions options;
    options.mode = requested;
    ASSERT_TRUE(WriteFileAtomic(path, "x", options).ok());
    // Each write makes a new file: the mode is the requested one, not the
    // mode of the file it replaces.
    EXPECT_EQ(ModeOf(path), expected);
  }
}

TEST(AtomicFileTest, ReplacesWholeContent) {
  TempDir temp;
  const std::string path = temp.Join("state");
  WriteTextFile(path, std::string(10000, 'o'));

  // Shorter than before: nothing of the old content may remain.
  const std::string shorter("new\0content", 11);
  ASSERT_TRUE(WriteFileAtomic(path, shorter).ok());
  EXPECT_EQ(ReadTextFile(path), shorter);

  ASSERT_TRUE(WriteFileAtomic(path, "").ok());
  EXPECT_EQ(ReadTextFile(path), "");
  EXPECT_EQ(fs::file_size(path), 0u);
  EXPECT_FALSE(Exists(DefaultTempPath(path)));
}

TEST(AtomicFileTest, WritesLargeContent) {
  TempDir temp;
  const std::string path = temp.Join("big");
  std::string data(8 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4093);

  ASSERT_TRUE(WriteFileAtomic(path, data).ok());
  EXPECT_TRUE(ReadTextFile(path) == data);
}

TEST(AtomicFileTest, ReplacesTempFileLeftByACrash) {
  UmaskGuard mask(022);
  TempDir temp;
  const std::string path = temp.Join("state");
  WriteTextFile(path, "old");
  const std::string leftover = DefaultTempPath(path);
  WriteTextFile(leftover, "half-written leftover that is longer than the new content");
  ASSERT_EQ(chmod(leftover.c_str(), 0666), 0);

  ASSERT_TRUE(WriteFileAtomic(path, "new").ok());

  EXPECT_EQ(ReadTextFile(path), "new");
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_FALSE(Exists(leftover));
}

// Linux allows 255 bytes in a name: the temporary name must not depend on
// the target's.
TEST(AtomicFileTest, TheTemporaryNameIsShortWhateverTheTarget) {
  TempDir temp;
  const std::string longName(255, 'n');
  EXPECT_EQ(DefaultTempPath(temp.Join(longName)), temp.Join(TempNameFor(longName)));
  EXPECT_EQ(DefaultTempPath("/state"), "/" + TempNameFor("state"));
  EXPECT_EQ(DefaultTempPath("state"), "./" + TempNameFor("state"));

  const auto result = WriteFileAtomic(temp.Join(longName), "long");
  ASSERT_TRUE(result.ok()) << ResultText(result);
  EXPECT_EQ(ReadTextFile(temp.Join(longName)), "long");

  UniqueFd folder(open(temp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);
  WriteTextFile(temp.Join(TempNameFor("other" + longName.substr(5))), "leftover");
  const auto at = WriteFileAtomicAt(folder, "other" + longName.substr(5), "at", 0640);
  ASSERT_TRUE(at.ok()) << ResultText(at);
  EXPECT_EQ(ReadTextFile(temp.Join("other" + longName.substr(5))), "at");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(temp.path())) ++entries;
  EXPECT_EQ(entries, 2u) << "the leftover was replaced, no temporary file stays";
  EXPECT_EQ(WriteFileAtomicAt(folder, "a/b", "x").failedStage, AtomicWriteStage::CreateTemp);
  EXPECT_EQ(WriteFileAtomicAt(folder, "..", "x").failedStage, AtomicWriteStage::CreateTemp);
}

TEST(TempNameTest, NamesAreFixedLengthHiddenAndFresh) {
  for (const std::string& name : {RandomTempName(), TempNameFor(""), TempNameFor(std::string(255, 'x'))}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(name.size(), kTempNameBytes);
    EXPECT_EQ(name.front(), '.');
    EXPECT_EQ(name.substr(17), ".tmp");
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 1), 17u);
  }
  EXPECT_NE(RandomTempName(), RandomTempName());
  EXPECT_EQ(TempNameFor("kv.json"), TempNameFor("kv.json")) << "fixed for a target";
  EXPECT_NE(TempNameFor("kv.json"), TempNameFor("kv.jsoN"));
}

TEST(AtomicFileTest, UsesTheGivenTempPath) {
  TempDir temp;
  const std::string path = temp.Join("state");
  AtomicWriteOptions options;
  options.tempPath = temp.Join(".state.partial");

  ASSERT_TRUE(WriteFileAtomic(path, "content", options).ok());
  EXPECT_EQ(ReadTextFile(path), "content");
  EXPECT_FALSE(Exists(options.tempPath));
  EXPECT_FALSE(Exists(DefaultTempPath(path)));

  // Proof it is used: a temp path in a missing folder makes the write fail.
  options.tempPath = temp.Join("missing/state.tmp");
  const auto result = WriteFileAtomic(path, "other", options);
  EXPECT_EQ(result.failedStage, AtomicWriteStage::CreateTemp);
  EXPECT_EQ(result.error, ENOENT);
  EXPECT_EQ(ReadTextFile(path), "content");
}

TEST(AtomicFileTest, RelativePathInCurrentFolder) {
  TempDir temp;
  const fs::path previous = fs::current_path();
  fs::current_path(temp.path());
  const auto result = WriteFileAtomic("relative.txt", "here");
  fs::current_path(previous);

  EXPECT_TRUE(result.ok()) << ResultText(result);
  EXPECT_EQ(ReadTextFile(temp.Join("relative.txt")), "here");
}

// Failures that also happen when the tests run as root, where permission
// checks would not stop anything.
TEST(AtomicFileTest, FailuresLeaveTargetAndNoTempBehind) {
  struct Case {
    const char* name;
    // Prepares the temp folder; returns the target path.
    std::string (*prepare)(const TempDir&, AtomicWriteOptions&);
    AtomicWriteStage stage;
    int error;
  };
  const Case cases[] = {
      {"parent folder missing",
       [](const TempDir& temp, AtomicWriteOptions&) { return temp.Join("missing/state"); },
       AtomicWriteStage::CreateTemp, ENOENT},
      {"parent is a file",
       [](const TempDir& temp, AtomicWriteOptions&) {
         WriteTextFile(temp.Join("file"), "keep");
         return temp.Join("file/state");
       },
       AtomicWriteStage::CreateTemp, ENOTDIR},
      {"target is a folder",
       [](const TempDir& temp, AtomicWriteOptions&) {
         fs::create_directory(temp.Join("state"));
         WriteTextFile(temp.Join("state/inner"), "keep");
         return temp.Join("state");
       },
       AtomicWriteStage::Rename, EISDIR},
      {"symlink at the temp path",
       [](const TempDir& temp, AtomicWriteOptions&) {
         WriteTextFile(temp.Join("victim"), "keep");
         fs::create_symlink(temp.Join("victim"), DefaultTempPath(temp.Join("state")));
         WriteTextFile(temp.Join("state"), "old");
         return temp.Join("state");
       },
       AtomicWriteStage::CreateTemp, ELOOP},
      {"dangling symlink at the temp path",
       [](const TempDir& temp, AtomicWriteOptions&) {
         fs::create_symlink(temp.Join("nowhere"), DefaultTempPath(temp.Join("state")));
         return temp.Join("state");
       },
       AtomicWriteStage::CreateTemp, ELOOP},
      {"folder at the temp path",
       [](const TempDir& temp, AtomicWriteOptions&) {
         fs::create_directory(DefaultTempPath(temp.Join("state")));
         WriteTextFile(DefaultTempPath(temp.Join("state")) + "/inner", "keep");
         WriteTextFile(temp.Join("state"), "old");
         return temp.Join("state");
       },
       AtomicWriteStage::CreateTemp, EISDIR},
      {"temp path is the target",
       [](const TempDir& temp, AtomicWriteOptions& options) {
         WriteTextFile(temp.Join("state"), "old");
         options.tempPath = temp.Join("state");
         return temp.Join("state");
       },
       AtomicWriteStage::CreateTemp, EINVAL},
      {"empty target path",
       [](const TempDir&, AtomicWriteOptions&) { return std::string(); },
       AtomicWriteStage::CreateTemp, EINVAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir temp;
    AtomicWriteOptions options;
    const std::string path = c.prepare(temp, options);
    const auto before = Snapshot(temp.path());

    const auto result = WriteFileAtomic(path, "new content", options);

    EXPECT_FALSE(result.ok());
    EXPECT_STREQ(AtomicWriteStageName(result.failedStage), AtomicWriteStageName(c.stage));
    EXPECT_EQ(result.error, c.error) << std::strerror(result.error);
    EXPECT_EQ(Snapshot(temp.path()), before);
  }
}

// A write that stops part-way (here the file size limit, which applies to
// root as well) is retried until it fails, and nothing is left behind.
TEST(AtomicFileTest, WriteFailureRemovesTemp) {
  TempDir temp;
  const std::string path = temp.Join("state");
  WriteTextFile(path, "old");

  struct sigaction ignore {};
  struct sigaction previousAction {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previousAction), 0);
  rlimit previousLimit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
  rlimit limit = previousLimit;
  limit.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const auto result = WriteFileAtomic(path, std::string(10000, 'x'));
  setrlimit(RLIMIT_FSIZE, &previousLimit);
  sigaction(SIGXFSZ, &previousAction, nullptr);

  EXPECT_EQ(result.failedStage, AtomicWriteStage::Write);
  EXPECT_EQ(result.error, EFBIG) << std::strerror(result.error);
  EXPECT_EQ(ReadTextFile(path), "old");
  EXPECT_FALSE(Exists(DefaultTempPath(path)));
}

TEST(AtomicFileTest, StageNamesForMessages) {
  const std::pair<AtomicWriteStage, std::string_view> names[] = {
      {AtomicWriteStage::None, "none"},
      {AtomicWriteStage::CreateTemp, "create_temp"},
      {AtomicWriteStage::Write, "write"},
      {AtomicWriteStage::SyncFile, "sync_file"},
      {AtomicWriteStage::Rename, "rename"},
      {AtomicWriteStage::SyncFolder, "sync_folder"},
  };
  for (const auto& [stage, name] : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(AtomicWriteStageName(stage), name);
  }
}

}  // namespace
}  // namespace VirelantDesktop::platform
