// The main of every test suite: HOME and the XDG folders point at a fresh
// temporary folder, so no test reads or writes the user's real files, and
// no proxy of the caller's environment sits between a test and its servers
// (tests that want one set it themselves).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/process_setup.h"

int main(int argc, char** argv) {
  VirelantDesktop::platform::InitProcess();
  ::testing::InitGoogleTest(&argc, argv);

  std::string root = (std::filesystem::temp_directory_path() / "talvek-home-XXXXXX").string();
  if (mkdtemp(root.data()) == nullptr) {
    perror("mkdtemp");
    return 2;
  }
  const std::pair<const char*, const char*> folders[] = {
      {"HOME", "/home"},
      {"XDG_DATA_HOME", "/data"},
      {"XDG_CACHE_HOME", "/cache"},
      {"XDG_CONFIG_HOME", "/config"},
      {"XDG_RUNTIME_DIR", "/runtime"},
  };
  for (const auto& [variable, sub] : folders) {
    std::string path = root + sub;
    std::filesystem::create_directories(path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    setenv(variable, path.c_str(), 1);
  }

  for (const char* variable :
       {"https_proxy", "HTTPS_PROXY", "http_proxy", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
    unsetenv(variable);
  }

  int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return result;
}
