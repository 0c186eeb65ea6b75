// A temporary folder for one test, removed with everything in it.
#pragma once

#include <string>

namespace VirelantDesktop::testing {

class TempDir {
 public:
  TempDir();  // fails the current test (ADD_FAILURE) when none can be made
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const noexcept { return path_; }
  // path() + "/" + name
  std::string Join(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `content` to `path` (plain write; fails the test on error).
void WriteTextFile(const std::string& path, const std::string& content);
// The file's whole content; empty when it cannot be read.
std::string ReadTextFile(const std::string& path);

}  // namespace VirelantDesktop::testing
