// talvek-feed: packs an installation folder into a full update package and
// publishes it in a feed folder.
//
//   talvek-feed --input DIR --id ID --version V --out FEED_DIR
//               [--key KEY.pem[:KEYID]] [--sign-tool PATH]
//               [--channel production] [--os linux-x64]
//               [--issued-at TIMESTAMP] [--expires-days 30] [--pause FILE]
//
// Writes into FEED_DIR:
//   <id>-<version>-full.nupkg  a zip of DIR's files at its top level, with
//                              "update.version" set to ID and V (DIR's own
//                              copy and an "update.applied" marker are left out)
//   releases.json              the asset list, the new "Full" asset added
//                              (replacing one of the same id and version)
//   manifest.json              the release manifest: version, channel, os,
//                              issuedAt, expiresAt, full file and sha256
//   manifest.sig               with --key: signed by talvek-sign (by default
//                              the one beside this program; key id
//                              "tv-desktop-2026-11" unless given)
//   pause.json                 with --pause: a copy of FILE
// manifest.json, manifest.sig and pause.json describe one release, so each
// run replaces or removes all three: a run without --key leaves no
// signature of an older manifest behind (it would fail every check), and one
// without --pause lifts an earlier pause. The old signature goes before the
// new manifest is written, so a failed run never pairs a signature with a
// manifest it does not sign. Packages and releases.json keep every release.
// DIR must hold what an installation cannot start or update without (the
// executable, the apply helper, both executable, and the update library),
// and no symbolic links or special files: the apply helper would refuse
// such a package. Exit codes: 0 done, 1 failed, 2 bad usage.
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zip.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/file_reader.h"
#include "platform/folders.h"
#include "platform/process_setup.h"
#include "platform/read_file.h"
#include "updater/client/installation.h"
#include "updater/client/package_names.h"
#include "updater/update_grammar.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace uc = VirelantDesktop::update_client;
namespace platform = VirelantDesktop::platform;
using nlohmann::json;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr const char* kDefaultKeyId = "tv-desktop-2026-11";
constexpr int64_t kDayMs = 86400000;

constexpr const char* kUsage =
    "usage: talvek-feed --input DIR --id ID --version V --out FEED_DIR [--key KEY.pem[:KEYID]]\n"
    "                   [--sign-tool PATH] [--channel NAME] [--os NAME] [--issued-at TIMESTAMP]\n"
    "                   [--expires-days N] [--pause FILE]\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::map<std::string, std::string> ParseOptions(int argc, char** argv) {
  static const char* const kKnown[] = {"--input", "--id",        "--version",   "--out",      "--key",   "--sign-tool",
                                       "--channel", "--os",      "--issued-at", "--expires-days", "--pause"};
  std::map<std::string, std::string> options;
  for (int i = 1; i < argc; i += 2) {
    const std::string name = argv[i];
    if (std::find(std::begin(kKnown), std::end(kKnown), name) == std::end(kKnown)) {
      throw UsageError("unknown option " + name);
    }
    if (i + 1 >= argc) throw UsageError(name + " needs a value");
    if (!options.emplace(name, argv[i + 1]).second) throw UsageError(name + " given twice");
  }
  for (const char* required : {"--input", "--id", "--version", "--out"}) {
    if (options.count(required) == 0) throw UsageError(std::string(required) + " is required");
  }
  return options;
}

std::string FormatTimestamp(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr) throw std::runtime_error("time out of range");
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// --- The package ---

struct PackEntry {
  std::string name;  // relative, "/"-separated; folders end in "/"
  fs::path source;
  bool executable = false;
};

std::vector<PackEntry> CollectEntries(const fs::path& input) {
  if (!fs::is_directory(fs::symlink_status(input))) throw std::runtime_error("not a folder: " + input.string());
  for (const uc::RequiredFile& required : uc::kRequiredFiles) {
    const fs::file_status status = fs::symlink_status(input / required.name);
    if (!fs::is_regular_file(status)) throw std::runtime_error("the input folder has no " + std::string(required.name));
    if (required.program && (status.permissions() & fs::perms::owner_exec) == fs::perms::none) {
      throw std::runtime_error(std::string(required.name) + " in the input folder is not executable");
    }
  }
  std::vector<PackEntry> entries;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(input)) {
    const std::string relative = fs::relative(item.path(), input).generic_string();
    if (relative == uc::kVersionFileName || relative == uc::kAppliedMarkerName) continue;
    const fs::file_status status = item.symlink_status();
    if (fs::is_symlink(status)) throw std::runtime_error("symbolic links cannot be packed: " + relative);
    if (fs::is_directory(status)) {
      entries.push_back({relative + "/", item.path(), false});
    } else if (fs::is_regular_file(status)) {
      const bool executable = (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
      entries.push_back({relative, item.path(), executable});
    } else {
      throw std::runtime_error("special files cannot be packed: " + relative);
    }
  }
  std::sort(entries.begin(), entries.end(), [](const PackEntry& a, const PackEntry& b) { return a.name < b.name; });
  return entries;
}

void WritePackage(const std::vector<PackEntry>& entries, const std::string& versionText, const std::string& path) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) throw std::runtime_error("cannot create " + path);
  const auto fail = [&](const std::string& what) {
    const std::string text = what + ": " + zip_strerror(archive);
    zip_discard(archive);
    throw std::runtime_error(text);
  };
  const auto setMode = [&](zip_int64_t index, uint32_t mode, const std::string& name) {
    if (zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX, mode << 16) != 0) {
      fail("cannot mark " + name);
    }
  };
  for (const PackEntry& entry : entries) {
    if (entry.name.back() == '/') {
      const zip_int64_t index = zip_dir_add(archive, entry.name.substr(0, entry.name.size() - 1).c_str(), ZIP_FL_ENC_UTF_8);
      if (index < 0) fail("cannot add " + entry.name);
      setMode(index, S_IFDIR | 0755, entry.name);
      continue;
    }
    zip_source_t* source = zip_source_file(archive, entry.source.c_str(), 0, -1);
    if (source == nullptr) fail("cannot read " + entry.source.string());
    const zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      fail("cannot add " + entry.name);
    }
    setMode(index, S_IFREG | (entry.executable ? 0755 : 0644), entry.name);
  }
  // The buffer stays alive until zip_close below.
  zip_source_t* version = zip_source_buffer(archive, versionText.data(), versionText.size(), 0);
  if (version == nullptr) fail("cannot add update.version");
  const zip_int64_t index = zip_file_add(archive, uc::kVersionFileName, version, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(version);
    fail("cannot add update.version");
  }
  setMode(index, S_IFREG | 0644, uc::kVersionFileName);
  if (zip_close(archive) != 0) fail("cannot write " + path);
}

struct Digests {
  std::string sha1;
  std::string sha256;
  uint64_t size = 0;
};

Digests DigestFile(const std::string& path) {
  platform::FileReader reader;
  if (!reader.Open(path)) throw std::runtime_error("cannot read " + path);
  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  const std::unique_ptr<EVP_MD_CTX, Free> sha1(EVP_MD_CTX_new()), sha256(EVP_MD_CTX_new());
  if (!sha1 || !sha256 || EVP_DigestInit_ex(sha1.get(), EVP_sha1(), nullptr) != 1 ||
      EVP_DigestInit_ex(sha256.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("cannot digest " + path);
  }
  Digests digests;
  std::vector<char> block(size_t{1} << 20);
  for (;;) {
    const std::optional<size_t> got = reader.ReadBlock(block.data(), block.size());
    if (!got) throw std::runtime_error("cannot read " + path);
    if (*got == 0) break;
    EVP_DigestUpdate(sha1.get(), block.data(), *got);
    EVP_DigestUpdate(sha256.get(), block.data(), *got);
    digests.size += *got;
  }
  const auto hex = [&](EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1) throw std::runtime_error("cannot digest " + path);
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
      static constexpr char kDigits[] = "0123456789abcdef";
      text.push_back(kDigits[digest[i] >> 4]);
      text.push_back(kDigits[digest[i] & 0x0f]);
    }
    return text;
  };
  digests.sha1 = hex(sha1.get());
  digests.sha256 = hex(sha256.get());
  return digests;
}

// --- The feed files ---

void WriteFile(const std::string& path, const std::string& text) {
  const platform::AtomicWriteResult result = platform::WriteFileAtomic(path, text, {.tempPath = "", .mode = 0644});
  if (!result.ok()) throw std::runtime_error("cannot write " + path);
}

// Removes a file this tool writes; one that is not there is fine.
void RemoveOwnedFile(const std::string& path) {
  std::error_code error;
  fs::remove(path, error);
  if (error) throw std::runtime_error("cannot remove " + path + ": " + error.message());
}

std::string UpdatedReleases(const std::string& path, const json& asset) {
  json feed = {{"Assets", json::array()}};
  const platform::ReadFileResult existing = platform::ReadWholeFile(path);
  if (existing.status == platform::ReadStatus::Ok) {
    feed = json::parse(existing.data, nullptr, /*allow_exceptions=*/false);
    if (!feed.is_object() || !feed.contains("Assets") || !feed["Assets"].is_array()) {
      throw std::runtime_error(path + " is not an asset list");
    }
  } else if (existing.status != platform::ReadStatus::Missing) {
    throw std::runtime_error("cannot read " + path);
  }
  json& assets = feed["Assets"];
  assets.erase(std::remove_if(assets.begin(), assets.end(),
                              [&](const json& old) {
                                return old.value("PackageId", "") == asset["PackageId"] &&
                                       old.value("Version", "") == asset["Version"] && old.value("Type", "") == "Full";
                              }),
               assets.end());
  assets.push_back(asset);
  return feed.dump(2) + "\n";
}

void RunSignTool(const std::string& tool, const std::string& manifest, const std::string& signature,
                 const std::string& key) {
  std::vector<std::string> args = {tool, "sign", "--manifest", manifest, "--out", signature, "--key", key};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + tool);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("cannot wait for " + tool);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("signing failed (" + tool + ")");
}

int Run(int argc, char** argv) {
  const std::map<std::string, std::string> options = ParseOptions(argc, argv);
  const auto option = [&](const std::string& name, const std::string& fallback) {
    const auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
  };
  const std::string id = options.at("--id");
  const std::string version = options.at("--version");
  if (!uc::IsAppId(id)) throw UsageError("--id must be 1 to 64 of A-Z a-z 0-9 . _ (no \"-\")");
  if (!uc::IsReleaseVersion(version)) throw UsageError("--version must be a semantic version");

  int64_t issuedAt = static_cast<int64_t>(std::time(nullptr)) * 1000;
  if (options.count("--issued-at") != 0) {
    const std::optional<int64_t> parsed = VirelantDesktop::updater::ParseTimestampMs(options.at("--issued-at"));
    if (!parsed) throw UsageError("--issued-at must be a UTC timestamp like 2026-11-05T10:00:00Z");
    issuedAt = *parsed / 1000 * 1000;
  }
  int64_t days = 30;
  const std::string daysText = option("--expires-days", "30");
  const auto [end, error] = std::from_chars(daysText.data(), daysText.data() + daysText.size(), days);
  if (error != std::errc() || end != daysText.data() + daysText.size() || days < 1 || days > 3650) {
    throw UsageError("--expires-days must be 1 to 3650");
  }

  // Everything the run reads is read before anything is written.
  std::optional<std::string> pause;
  if (options.count("--pause") != 0) {
    platform::ReadFileResult file = platform::ReadWholeFile(options.at("--pause"));
    if (file.status != platform::ReadStatus::Ok) throw std::runtime_error("cannot read " + options.at("--pause"));
    pause = std::move(file.data);
  }
  const std::vector<PackEntry> entries = CollectEntries(options.at("--input"));

  const fs::path out = options.at("--out");
  fs::create_directories(out);
  const std::string fileName = uc::FullPackageFileName(id, version);
  const std::string packagePath = (out / fileName).string();
  const std::string partial = packagePath + ".partial";
  WritePackage(entries, uc::VersionFileText({id, version}), partial);
  fs::rename(partial, packagePath);
  const Digests digests = DigestFile(packagePath);

  const json asset = {{"PackageId", id},        {"Version", version},        {"Type", "Full"},
                      {"FileName", fileName},   {"SHA1", digests.sha1},      {"SHA256", digests.sha256},
                      {"Size", digests.size},   {"NotesMarkdown", ""},       {"NotesHtml", ""}};
  WriteFile((out / "releases.json").string(), UpdatedReleases((out / "releases.json").string(), asset));

  const json manifest = {{"version", version},
                         {"channel", option("--channel", "production")},
                         {"os", option("--os", "linux-x64")},
                         {"issuedAt", FormatTimestamp(issuedAt)},
                         {"expiresAt", FormatTimestamp(issuedAt + days * kDayMs)},
                         {"full", {{"file", fileName}, {"sha256", digests.sha256}}}};
  const std::string manifestPath = (out / "manifest.json").string();
  const std::string signaturePath = (out / "manifest.sig").string();
  const std::string pausePath = (out / "pause.json").string();
  RemoveOwnedFile(signaturePath);
  WriteFile(manifestPath, manifest.dump() + "\n");

  if (options.count("--key") != 0) {
    std::string key = options.at("--key");
    if (key.find(':') == std::string::npos) key += std::string(":") + kDefaultKeyId;
    const std::optional<std::string> ownDir = platform::ExecutableDir();
    const std::string tool = option("--sign-tool", ownDir ? *ownDir + "/talvek-sign" : "talvek-sign");
    RunSignTool(tool, manifestPath, signaturePath, key);
  }
  if (pause) {
    WriteFile(pausePath, *pause);
  } else {
    RemoveOwnedFile(pausePath);
  }
  std::printf("package %s\nsize %llu\nsha256 %s\n", packagePath.c_str(),
              static_cast<unsigned long long>(digests.size), digests.sha256.c_str());
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess();
  try {
    return Run(argc, argv);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "talvek-feed: %s\n%s", error.what(), kUsage);
    return kExitUsage;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "talvek-feed: %s\n", error.what());
    return kExitFailed;
  }
}
