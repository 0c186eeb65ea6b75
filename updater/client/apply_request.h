// What the client hands to the apply helper, as its command line:
//
//   talvek-update-apply --root DIR --app-id ID --version V --package PATH
//                       --size N --sha256 HEX --wait-pid PID [--restart]
//                       [-- RESTART-ARG...]
//
// The pid's pidfd, when the kernel has them, arrives as descriptor 3.
// Pure: no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace VirelantDesktop::update_client {

struct ApplyRequest {
  std::string root;         // the installation root; "current" is swapped below it
  std::string appId;
  std::string version;      // the package's version
  std::string packagePath;  // <root>/packages/<id>-<version>-full.nupkg
  uint64_t size = 0;
  std::string sha256;       // lower-case hex
  int waitPid = 0;          // the process whose end the helper awaits
  bool restart = false;
  std::vector<std::string> restartArgs;
};

// The arguments after the program name.
std::vector<std::string> ApplyRequestArguments(const ApplyRequest& request);

// nullopt when an option is missing, repeated, unknown or out of range
// (relative paths, a bad id, version or digest, a pid below 2).
std::optional<ApplyRequest> ParseApplyRequest(const std::vector<std::string>& arguments);

}  // namespace VirelantDesktop::update_client
