// The update client's pure rules: names, the version file, the feed and the
// choice of update, the apply helper's arguments and the zip entry check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "updater/client/apply_request.h"
#include "updater/client/package_names.h"
#include "updater/client/release_feed.h"
#include "updater/client/zip_entry_rules.h"

namespace VirelantDesktop::update_client {
namespace {

const std::string kSha1(40, 'a');
const std::string kSha256(64, 'b');

FeedAsset Full(const std::string& version, const std::string& id = "talvek") {
  FeedAsset asset;
  asset.packageId = id;
  asset.version = version;
  asset.type = "Full";
  asset.fileName = id + "-" + version + "-full.nupkg";
  asset.sha1 = kSha1;
  asset.sha256 = kSha256;
  asset.size = 10;
  return asset;
}

TEST(UpdateClientNamesTest, AppIdsNeverHoldAHyphen) {
  EXPECT_TRUE(IsAppId("talvek"));
  EXPECT_TRUE(IsAppId("Talvek.Desktop_2"));
  for (const char* bad : {"", "talvek-desktop", ".hidden", "a/b", "a b", "ä"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(IsAppId(bad));
  }
  EXPECT_FALSE(IsAppId(std::string(65, 'a')));
}

TEST(UpdateClientNamesTest, PackageFileNamesRoundTripWithTheirVersion) {
  EXPECT_EQ(FullPackageFileName("talvek", "1.2.3-rc.1"), "talvek-1.2.3-rc.1-full.nupkg");
  EXPECT_EQ(VersionOfFullPackage("talvek-1.2.3-rc.1-full.nupkg", "talvek"), "1.2.3-rc.1");
  for (const char* other : {"talvek-1.2.3-delta.nupkg", "talvek-1.2.3-full.nupkg.partial", "my-talvek-1.2.3-full.nupkg",
                            "talvek-01.2.3-full.nupkg", "talvek--full.nupkg", "talvekx-1.2.3-full.nupkg"}) {
    SCOPED_TRACE(other);
    EXPECT_FALSE(VersionOfFullPackage(other, "talvek"));
  }
  for (const char* bad : {"", "..", "a..b", "a/b", "a\\b", "c:x", "a\nb", "a\x7f"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(IsPlainFileName(bad));
  }
  EXPECT_TRUE(IsPlainFileName("talvek-1.2.3-full.nupkg"));
}

TEST(UpdateClientNamesTest, VersionFileNeedsAValidIdAndVersion) {
  const auto parsed = ParseVersionFile(VersionFileText({"talvek", "0.2.1"}));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->appId, "talvek");
  EXPECT_EQ(parsed->version, "0.2.1");
  for (const char* bad : {"", "[]", "{\"id\":\"talvek\"}", "{\"id\":\"talvek\",\"version\":\"0.2\"}",
                          "{\"id\":\"a-b\",\"version\":\"0.2.1\"}", "{\"id\":1,\"version\":\"0.2.1\"}",
                          "{\"id\":\"talvek\",\"version\":\"0.2.1\"} trailing"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseVersionFile(bad));
  }
}

TEST(UpdateClientFeedTest, MissingTextMembersStayNullAndSizesAreIntegers) {
  const std::vector<FeedAsset> assets = ParseReleaseFeed(
      R"({"Assets":[{"PackageId":"talvek","Version":"1.0.0","Type":"Full","FileName":"f","SHA1":null,"Size":5},
                    {"Size":18446744073709551615}]})");
  ASSERT_EQ(assets.size(), 2u);
  EXPECT_EQ(assets[0].fileName, "f");
  EXPECT_FALSE(assets[0].sha1);
  EXPECT_FALSE(assets[0].sha256);
  EXPECT_FALSE(assets[0].notesHtml);
  EXPECT_EQ(assets[0].size, 5u);
  EXPECT_EQ(assets[1].size, UINT64_MAX);
  EXPECT_TRUE(ParseReleaseFeed(R"({"Assets":[]})").empty());
}

TEST(UpdateClientFeedTest, MalformedFeedsAreErrors) {
  for (const char* bad : {"", "not json", "[]", "{}", R"({"Assets":{}})", R"({"Assets":[1]})",
                          R"({"Assets":[{"Version":1}]})", R"({"Assets":[{"Size":-1}]})",
                          R"({"Assets":[{"Size":1.5}]})", R"({"Assets":[{"Size":"5"}]})"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseReleaseFeed(bad), FeedError);
  }
  // Deep nesting is refused as a wrong shape, without exhausting the stack.
  const std::string deep = R"({"Assets":[)" + std::string(100000, '[') + std::string(100000, ']') + "]}";
  EXPECT_THROW(ParseReleaseFeed(deep), FeedError);
}

TEST(UpdateClientFeedTest, ChoosesTheHighestNewerFullReleaseOfThisApp) {
  FeedAsset delta = Full("1.3.0");
  delta.type = "Delta";
  delta.fileName = "talvek-1.3.0-delta.nupkg";
  FeedAsset unparsable = Full("1.9.0");
  unparsable.version = "v1.9";
  const std::vector<FeedAsset> assets = {Full("1.1.0"), Full("1.3.0-rc.1"), Full("1.3.0"), delta,
                                         Full("9.0.0", "other"), unparsable, Full("1.2.0")};
  const UpdateChoice choice = ChooseUpdate(assets, "talvek", "1.0.0");
  ASSERT_EQ(choice.outcome, UpdateChoice::Outcome::kUpdate);
  EXPECT_EQ(choice.target.version, "1.3.0");
  ASSERT_EQ(choice.deltas.size(), 1u);
  EXPECT_EQ(choice.deltas[0].fileName, "talvek-1.3.0-delta.nupkg");

  EXPECT_EQ(ChooseUpdate(assets, "talvek", "1.3.0").outcome, UpdateChoice::Outcome::kNoUpdate);
  EXPECT_EQ(ChooseUpdate(assets, "talvek", "2.0.0").outcome, UpdateChoice::Outcome::kNoUpdate);  // no downgrade
  EXPECT_EQ(ChooseUpdate(assets, "nobody", "1.0.0").outcome, UpdateChoice::Outcome::kEmpty);
  EXPECT_EQ(ChooseUpdate({}, "talvek", "1.0.0").outcome, UpdateChoice::Outcome::kEmpty);
  // A pre-release of the running version is older than it.
  EXPECT_EQ(ChooseUpdate(assets, "talvek", "1.3.0-rc.0").target.version, "1.3.0");
}

TEST(UpdateClientFeedTest, OnlyAWellFormedNewerFullAssetMayBeDownloaded) {
  EXPECT_FALSE(RefuseFullAsset(Full("1.1.0"), "talvek", "1.0.0"));
  FeedAsset upperCase = Full("1.1.0");
  upperCase.sha256 = std::string(64, 'B');
  EXPECT_FALSE(RefuseFullAsset(upperCase, "talvek", "1.0.0"));

  std::vector<std::pair<const char*, FeedAsset>> cases;
  const auto add = [&](const char* what, auto change) {
    FeedAsset asset = Full("1.1.0");
    change(asset);
    cases.emplace_back(what, asset);
  };
  add("same version", [](FeedAsset& a) { a = Full("1.0.0"); });
  add("older version", [](FeedAsset& a) { a = Full("0.9.0"); });
  add("other app", [](FeedAsset& a) { a = Full("1.1.0", "other"); });
  add("delta", [](FeedAsset& a) { a.type = "Delta"; });
  add("escaping name", [](FeedAsset& a) { a.fileName = "../talvek-1.1.0-full.nupkg"; });
  add("other name", [](FeedAsset& a) { a.fileName = "talvek-1.1.1-full.nupkg"; });
  add("zero size", [](FeedAsset& a) { a.size = 0; });
  add("huge size", [](FeedAsset& a) { a.size = kMaxPackageBytes + 1; });
  add("short sha256", [](FeedAsset& a) { a.sha256 = std::string(63, 'b'); });
  add("null sha1", [](FeedAsset& a) { a.sha1.reset(); });
  for (const auto& [what, asset] : cases) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(RefuseFullAsset(asset, "talvek", "1.0.0"));
  }
}

TEST(UpdateClientApplyRequestTest, ArgumentsRoundTripAndBadOnesAreRefused) {
  ApplyRequest request;
  request.root = "/opt/t";
  request.appId = "talvek";
  request.version = "1.2.0";
  request.packagePath = "/opt/t/packages/talvek-1.2.0-full.nupkg";
  request.size = 42;
  request.sha256 = kSha256;
  request.waitPid = 1234;
  request.restart = true;
  request.restartArgs = {"--", "--restart", "x y"};
  const std::optional<ApplyRequest> parsed = ParseApplyRequest(ApplyRequestArguments(request));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->packagePath, request.packagePath);
  EXPECT_EQ(parsed->size, 42u);
  EXPECT_EQ(parsed->waitPid, 1234);
  EXPECT_TRUE(parsed->restart);
  EXPECT_EQ(parsed->restartArgs, request.restartArgs);

  std::vector<std::string> good = ApplyRequestArguments(request);
  good.resize(14);  // without --restart and the restart arguments
  ASSERT_TRUE(ParseApplyRequest(good));
  const auto with = [&](size_t index, const std::string& value) {
    std::vector<std::string> changed = good;
    changed[index] = value;
    return ParseApplyRequest(changed);
  };
  EXPECT_FALSE(with(1, "relative/root"));
  EXPECT_FALSE(with(3, "a-b"));
  EXPECT_FALSE(with(9, "0"));
  EXPECT_FALSE(with(11, "xyz"));
  EXPECT_FALSE(with(13, "1"));
  EXPECT_FALSE(with(12, "--unknown"));
  std::vector<std::string> twice = good;
  twice.insert(twice.end(), {"--size", "1"});
  EXPECT_FALSE(ParseApplyRequest(twice));
}

TEST(UpdateClientZipEntryTest, OnlyRelativeRegularFilesAndFoldersPass) {
  constexpr uint32_t kFile = 0100644, kExec = 0100755, kDir = 0040755, kLink = 0120777, kFifo = 0010644;
  const struct {
    const char* name;
    std::optional<uint32_t> mode;
    bool ok;
  } cases[] = {
      {"talvek", kExec, true},         {"Bundle/index.windows", kFile, true}, {"Bundle/", kDir, true},
      {"engine/x", std::nullopt, true}, {"../x", kFile, false},                {"a/../../x", kFile, false},
      {"/abs", kFile, false},          {"a//b", kFile, false},                {"./a", kFile, false},
      {"a\\b", kFile, false},          {"a\x01", kFile, false},               {"", kFile, false},
      {"/", kDir, false},              {"a//", kDir, false},                  {"link", kLink, false},                {"fifo", kFifo, false},
      {"dir", kDir, false},            {"file/", kFile, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckZipEntry(c.name, c.mode).ok, c.ok) << CheckZipEntry(c.name, c.mode).reason;
  }
  EXPECT_TRUE(CheckZipEntry("talvek", kExec).executable);
  EXPECT_FALSE(CheckZipEntry("talvek", kFile).executable);
  EXPECT_FALSE(CheckZipEntry("talvek", std::nullopt).executable);
  EXPECT_TRUE(CheckZipEntry("Bundle/", std::nullopt).directory);
  EXPECT_FALSE(CheckZipEntry(std::string(256, 'a'), kFile).ok);
}

}  // namespace
}  // namespace VirelantDesktop::update_client
