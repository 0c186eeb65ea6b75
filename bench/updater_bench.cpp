// The update check end to end on this machine: UpdaterEngine::Check with the
// real backend and update client library against a local HTTPS feed
// (releases.json through the library; manifest.json, manifest.sig and
// pause.json through the asset fetcher; the signature and the policy
// checked; the issued-at record kept on disk). Prints the median per check.
//
//   build/default/bench/updater_bench
//
// The library finds its installation from the running executable, so the
// program first copies itself and the library into a temporary installation
// (<root>/current) and runs again from there.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/base64.h"
#include "tests/support/https_test_server.h"
#include "updater/asset_fetcher.h"
#include "updater/update_engine.h"
#include "updater/velopack_backend.h"

namespace {

using namespace VirelantDesktop;
namespace fs = std::filesystem;

constexpr const char* kChildFlag = "--as-installed";
constexpr const char* kFeedPath = "/talvek-desktop/production/linux-x64/";

std::vector<double> g_checkMs;

std::string SignWithDevKey(const std::string& message) {
  FILE* file = std::fopen(TALVEK_DEV_SIGNING_KEY, "r");
  if (file == nullptr) return "";
  EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (key == nullptr) return "";
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  size_t size = 0;
  const auto* data = reinterpret_cast<const uint8_t*>(message.data());
  EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key);
  EVP_DigestSign(context, nullptr, &size, data, message.size());
  std::vector<uint8_t> signature(size);
  EVP_DigestSign(context, signature.data(), &size, data, message.size());
  EVP_MD_CTX_free(context);
  EVP_PKEY_free(key);
  return R"([{"keyId":"tv-desktop-2026-11","sig":")" + platform::Base64Encode(signature) + "\"}]";
}

struct Feed {
  Feed() {
    const std::string sha256(64, 'a');
    files["releases.json"] =
        R"({"Assets":[{"PackageId":"talvek","Version":"0.2.2","Type":"Full","FileName":"talvek-0.2.2-full.nupkg",)"
        R"("SHA1":")" + std::string(40, 'b') + R"(","SHA256":")" + sha256 +
        R"(","Size":1000,"NotesMarkdown":"","NotesHtml":""}]})";
    files["manifest.json"] =
        R"({"version":"0.2.2","channel":"production","os":"linux-x64","issuedAt":"2026-12-01T00:00:00Z",)"
        R"("expiresAt":"2099-01-01T00:00:00Z","full":{"file":"talvek-0.2.2-full.nupkg","sha256":")" + sha256 + "\"}}";
    files["manifest.sig"] = SignWithDevKey(files["manifest.json"]);
    files["pause.json"] = R"({"paused":false})";
    server.Server().Get(R"(/talvek-desktop/production/linux-x64/(.*))",
                        [this](const httplib::Request& request, httplib::Response& response) {
                          const auto found = files.find(request.matches[1]);
                          if (found == files.end()) response.status = 404;
                          else response.set_content(found->second, "application/json");
                        });
    // Without it, the server's separate header and body writes meet the
    // client's delayed acknowledgement: 40 ms per request that is the test
    // server's, not the update check's.
    server.Server().set_tcp_nodelay(true);
    server.Start();
  }
  std::map<std::string, std::string> files;
  testing::HttpsTestServer server;
};

void BM_Check(benchmark::State& state) {
  static Feed feed;
  const auto library = TalvekUpdater::ProcessUpdateClient();
  if (!library || feed.files["manifest.sig"].empty()) {
    state.SkipWithError("no client library beside the program, or no development key");
    return;
  }
  const std::string ca = testing::HttpsTestServer::CaFile();
  library->Function<void (*)(const char*, const char*)>("tuc_set_trust_for_testing")(ca.c_str(), "");
  TalvekUpdater::SetAssetFetchTrustForTesting(ca, "");

  TalvekUpdater::VelopackBackend::Options options;
  options.feedUrl = feed.server.BaseUrl() + kFeedPath;
  options.fetchAsset = TalvekUpdater::FetchAsset;
  options.library = library;
  auto backend = std::make_shared<TalvekUpdater::VelopackBackend>(std::move(options));
  const std::string root = fs::path(backend->PackagesDir()).parent_path().string();
  TalvekUpdater::EngineParts parts;
  parts.backend = backend;
  parts.verifier = updater::MakeNativeVerifier();
  parts.policy = {"production", updater::kPolicyOs, {}, nullptr};
  parts.store = std::make_shared<TalvekUpdater::FileIssuedAtStore>(
      [root] { return root + "/talvek-issuedat.production.txt"; }, std::vector<updater::PathProvider>{});
  TalvekUpdater::UpdaterEngine engine(std::move(parts));

  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::optional<TalvekUpdater::CheckOutcome> outcome;
    try {
      outcome = engine.Check();
    } catch (const TalvekUpdater::UpdaterFail& failure) {
      state.SkipWithError(("check failed: " + failure.stage + "/" + failure.code).c_str());
      break;
    } catch (const std::exception& error) {
      state.SkipWithError(error.what());
      break;
    }
    g_checkMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!outcome) {
      state.SkipWithError("the feed offered no update");
      break;
    }
  }
}
BENCHMARK(BM_Check)->Unit(benchmark::kMillisecond)->Iterations(50);

// Lays out <dir>/current with this program, the library and the version
// file, runs the copy and returns its exit status.
int RunAsInstalled(int argc, char** argv) {
  bench::BenchTempDir dir("talvek-update-bench");
  const fs::path current = fs::path(dir.path()) / "current";
  fs::create_directories(current);
  const fs::path self = current / "updater_bench";
  fs::copy_file(fs::read_symlink("/proc/self/exe"), self);
  fs::copy_file(TALVEK_UPDATE_CLIENT_PATH, current / "libtalvek-update.so");
  std::FILE* version = std::fopen((current / "update.version").c_str(), "w");
  std::fputs("{\"id\":\"talvek\",\"version\":\"0.2.1\"}\n", version);
  std::fclose(version);

  std::vector<std::string> args = {self.string(), kChildFlag};
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0) return 1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) != kChildFlag) return RunAsInstalled(argc, argv);
  argv[1] = argv[0];  // drop the flag
  ++argv;
  --argc;
  if (!bench::RunRegisteredBenchmarks(argc, argv)) return 2;
  if (!g_checkMs.empty()) {
    std::printf("update check (engine + client library + asset fetcher, local HTTPS): median %.2f ms over %zu checks\n",
                bench::Median(g_checkMs), g_checkMs.size());
  }
  return 0;
}
