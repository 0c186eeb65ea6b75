// A fixture for tests that stage files: the media root (and with it the
// staging area) in a fresh cache folder per test, and a folder for sources.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "modules/attach/staging_root.h"
#include "modules/media/media_root.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::testing {

class StagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("XDG_CACHE_HOME");
    savedCache_ = old ? old : "";
    setenv("XDG_CACHE_HOME", cache_.Join("cache").c_str(), 1);
    media::ResetMediaRootForTesting();
    media::ResetStagingWipeForTesting();
    staging_ = attach::StagingRoot();
    ASSERT_FALSE(staging_.empty());
  }
  void TearDown() override {
    setenv("XDG_CACHE_HOME", savedCache_.c_str(), 1);
    media::ResetMediaRootForTesting();
  }

  // The names directly in the staging area, sorted.
  std::vector<std::string> StagedEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(staging_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // A source file with `content`; its path.
  std::string Source(const std::string& name, const std::string& content = "content") {
    const std::string path = sources_.Join(name);
    WriteTextFile(path, content);
    return path;
  }
  // A sparse source file of `size` bytes.
  std::string SparseSource(const std::string& name, uint64_t size) {
    const std::string path = Source(name, "");
    std::filesystem::resize_file(path, size);
    return path;
  }

  TempDir cache_;
  TempDir sources_;
  std::string staging_;

 private:
  std::string savedCache_;
};

}  // namespace VirelantDesktop::testing
