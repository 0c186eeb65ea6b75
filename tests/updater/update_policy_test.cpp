#include "updater/update_policy.h"

#include <gtest/gtest.h>

#include "updater/update_grammar.h"

namespace VirelantDesktop::updater {
namespace {

// A store in memory; `saves` counts writes.
class MemoryStore final : public IssuedAtStore {
 public:
  LoadResult Load(int64_t& value) override {
    if (!stored) return LoadResult::Absent;
    value = *stored;
    return LoadResult::Found;
  }
  bool Save(int64_t value) override {
    ++saves;
    if (failSave) return false;
    stored = value;
    return true;
  }
  std::optional<int64_t> stored;
  bool failSave = false;
  int saves = 0;
};

const int64_t kNow = *ParseTimestampMs("2026-12-08T12:00:00Z");

std::string Manifest(const std::string& issued = "2026-12-01T00:00:00Z",
                     const std::string& expires = "2027-01-01T00:00:00Z", const std::string& version = "0.3.0",
                     const std::string& channel = "production", const std::string& os = "linux-x64") {
  return R"({"version":")" + version + R"(","channel":")" + channel + R"(","os":")" + os + R"(","issuedAt":")" +
         issued + R"(","expiresAt":")" + expires +
         R"(","full":{"file":"talvek-0.3.0-full.nupkg","sha256":")" + std::string(63, 'A') + "f\"}}";
}

class PolicyTest : public ::testing::Test {
 protected:
  std::string Evaluate(const std::string& manifest, const std::string& running = "0.2.1") {
    issuedAt_ = -1;
    return EvaluatePolicy(manifest, policy_, running, issuedAt_);
  }
  MemoryStore store_;
  UpdatePolicy policy_{"production", "linux-x64", [] { return kNow; }, &store_};
  int64_t issuedAt_ = -1;
};

TEST_F(PolicyTest, PassAndTheOrderOfTheChecks) {
  EXPECT_EQ(Evaluate(Manifest()), "");
  EXPECT_EQ(issuedAt_, *ParseTimestampMs("2026-12-01T00:00:00Z"));
  EXPECT_EQ(EvaluatePolicy(Manifest(), UpdatePolicy{"", "linux-x64", {}, nullptr}, "0.2.1", issuedAt_),
            "policy_unset");
  EXPECT_EQ(Evaluate("[]"), "policy_schema");
  EXPECT_EQ(Evaluate("{"), "policy_schema");
  EXPECT_EQ(Evaluate(R"({"channel":"production"})"), "policy_schema");
  EXPECT_EQ(Evaluate(Manifest("2026-12-01T00:00:00Z", "2026-12-01T00:00:00Z")), "policy_schema") << "expires = issued";
  EXPECT_EQ(Evaluate(Manifest("2026-12-01T00:00:00Z", "2027-01-01T00:00:00Z", "1.2")), "policy_schema");
  EXPECT_EQ(Evaluate(Manifest("2026-12-01T00:00:00Z", "2027-01-01T00:00:00Z", "0.3.0", "beta")), "wrong_channel");
  EXPECT_EQ(Evaluate(Manifest("2026-12-01T00:00:00Z", "2027-01-01T00:00:00Z", "0.3.0", "production", "win-x64")),
            "wrong_os");
  EXPECT_EQ(Evaluate(Manifest("2019-12-31T23:59:59.999Z")), "issued_too_old");
  EXPECT_EQ(Evaluate(Manifest("2026-12-09T12:00:00Z", "2027-01-01T00:00:00Z")), "") << "exactly 24 h ahead";
  EXPECT_EQ(Evaluate(Manifest("2026-12-09T12:00:00.001Z", "2027-01-01T00:00:00Z")), "issued_in_future");
  EXPECT_EQ(Evaluate(Manifest("2026-12-01T00:00:00Z", "2026-12-08T12:00:00Z")), "expired") << "expires exactly now";
  EXPECT_EQ(Evaluate(Manifest(), "0.3.0"), "not_newer");
  EXPECT_EQ(Evaluate(Manifest(), "0.3.0-rc.1"), "");
  EXPECT_EQ(Evaluate(Manifest(), "bad"), "policy_schema");
}

TEST_F(PolicyTest, ReplayWindowAndRecording) {
  const int64_t issued = *ParseTimestampMs("2026-12-01T00:00:00Z");
  store_.stored = issued;
  EXPECT_EQ(Evaluate(Manifest()), "") << "equal passes";
  store_.stored = issued + 1;
  EXPECT_EQ(Evaluate(Manifest()), "replay");
  store_.stored = kNow + kClockSkewMs + 1;
  EXPECT_EQ(Evaluate(Manifest()), "") << "a stored value beyond the window is ignored";
  store_.stored = kEarliestIssuedAtMs - 1;
  EXPECT_EQ(Evaluate(Manifest()), "");

  store_.stored = issued + 5;
  EXPECT_TRUE(RecordAcceptedIssuedAt(policy_, issued));
  EXPECT_EQ(store_.saves, 0) << "never backwards";
  store_.stored = std::nullopt;
  EXPECT_TRUE(RecordAcceptedIssuedAt(policy_, issued));
  EXPECT_EQ(store_.stored, issued);
  store_.failSave = true;
  EXPECT_FALSE(RecordAcceptedIssuedAt(policy_, issued + 1));
  EXPECT_FALSE(RecordAcceptedIssuedAt(policy_, kEarliestIssuedAtMs - 1));
  EXPECT_TRUE(RecordAcceptedIssuedAt(UpdatePolicy{"production", "linux-x64", {}, nullptr}, 0)) << "no store";
}

TEST(Manifest, ReadingAndFolding) {
  const auto manifest = ReadManifest(Manifest());
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->version, "0.3.0");
  EXPECT_EQ(manifest->file, "talvek-0.3.0-full.nupkg");
  EXPECT_EQ(manifest->sha256, std::string(63, 'a') + "f");
  EXPECT_FALSE(ReadManifest(R"({"version":"","full":{"file":"f","sha256":")" + std::string(64, 'a') + "\"}}"));
  EXPECT_FALSE(ReadManifest(R"({"version":"1","full":{"file":"f","sha256":")" + std::string(63, 'a') + "\"}}"));
  EXPECT_FALSE(ReadManifest(R"({"version":"1","full":{"file":"f","sha256":")" + std::string(63, 'a') + "g\"}}"));
  EXPECT_FALSE(ReadManifest(R"({"version":"1","full":"x"})"));
  EXPECT_FALSE(ReadManifest("[1]"));
}

TEST(Gate, TextRules) {
  const GateRecord gate{"0.3.0+b.1", "talvek-0.3.0-full.nupkg", std::string(64, 'e')};
  const std::string text = BuildGateText(gate);
  EXPECT_EQ(text, "talvek-gate-v1\n0.3.0+b.1\ntalvek-0.3.0-full.nupkg\n" + std::string(64, 'e') + "\n");
  ASSERT_TRUE(ParseGateText(text));
  EXPECT_EQ(ParseGateText(text)->file, gate.file);
  EXPECT_FALSE(ParseGateText(text + "extra\n")) << "a fifth line";
  EXPECT_FALSE(ParseGateText(text.substr(0, text.size() - 1))) << "no final LF";
  EXPECT_FALSE(ParseGateText(BuildGateText({"0.3.0", "f", std::string(64, 'E')}))) << "upper-case digest";
  EXPECT_FALSE(ParseGateText(BuildGateText({std::string(65, '1'), "f", std::string(64, 'e')})));
  EXPECT_FALSE(ParseGateText(BuildGateText({"0.3.0", "a:b", std::string(64, 'e')})));
  EXPECT_FALSE(ParseGateText(BuildGateText({"0.3.0", "..", std::string(64, 'e')})));
  EXPECT_FALSE(ParseGateText("talvek-gate-v1\r\n0.3.0\nf\n" + std::string(64, 'e') + "\n")) << "CR";
}

}  // namespace
}  // namespace VirelantDesktop::updater
