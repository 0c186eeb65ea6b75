// Small pieces the benchmark programs share.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace VirelantDesktop::bench {

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// A temporary folder under $TMPDIR (when absolute) or `fallbackBase`,
// removed with its content; the program ends when none can be made.
class BenchTempDir {
 public:
  BenchTempDir(const char* prefix, const char* fallbackBase = "/tmp") {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base == '/' ? base : fallbackBase) + "/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~BenchTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  BenchTempDir(const BenchTempDir&) = delete;
  BenchTempDir& operator=(const BenchTempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace VirelantDesktop::bench
