#include "updater/client/apply_request.h"

#include <charconv>
#include <map>

#include "updater/client/package_names.h"
#include "updater/client/release_feed.h"

namespace VirelantDesktop::update_client {
namespace {

template <typename Number>
std::optional<Number> ParseNumber(const std::string& text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<std::string> ApplyRequestArguments(const ApplyRequest& request) {
  std::vector<std::string> arguments = {
      "--root",   request.root,        "--app-id", request.appId,
      "--version", request.version,    "--package", request.packagePath,
      "--size",   std::to_string(request.size), "--sha256", request.sha256,
      "--wait-pid", std::to_string(request.waitPid)};
  if (request.restart) arguments.emplace_back("--restart");
  if (!request.restartArgs.empty()) {
    arguments.emplace_back("--");
    arguments.insert(arguments.end(), request.restartArgs.begin(), request.restartArgs.end());
  }
  return arguments;
}

std::optional<ApplyRequest> ParseApplyRequest(const std::vector<std::string>& arguments) {
  std::map<std::string, std::string> values;
  ApplyRequest request;
  bool restartSeen = false;
  size_t i = 0;
  for (; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (option == "--restart") {
      if (restartSeen) return std::nullopt;
      restartSeen = true;
      continue;
    }
    static const char* const kValued[] = {"--root", "--app-id", "--version", "--package", "--size", "--sha256",
                                          "--wait-pid"};
    bool known = false;
    for (const char* name : kValued) known = known || option == name;
    if (!known || i + 1 >= arguments.size() || !values.emplace(option, arguments[i + 1]).second) return std::nullopt;
    ++i;
  }
  request.restartArgs.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
  if (values.size() != 7) return std::nullopt;

  request.root = values["--root"];
  request.appId = values["--app-id"];
  request.version = values["--version"];
  request.packagePath = values["--package"];
  request.restart = restartSeen;
  const std::optional<uint64_t> size = ParseNumber<uint64_t>(values["--size"]);
  const std::optional<int> pid = ParseNumber<int>(values["--wait-pid"]);
  const std::optional<std::string> sha256 = LowerHexDigest(values["--sha256"], 64);
  if (request.root.empty() || request.root.front() != '/' || request.packagePath.empty() ||
      request.packagePath.front() != '/' || !IsAppId(request.appId) || !IsReleaseVersion(request.version) ||
      !size || *size == 0 || *size > kMaxPackageBytes || !pid || *pid < 2 || !sha256) {
    return std::nullopt;
  }
  request.size = *size;
  request.waitPid = *pid;
  request.sha256 = *sha256;
  return request;
}

}  // namespace VirelantDesktop::update_client
