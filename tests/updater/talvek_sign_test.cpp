// talvek-sign run as a real process: keys, a two-key signature file and its
// check by the updater's verifier.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "updater/signature_check.h"

namespace VirelantDesktop::updater {
namespace {

using testing::ChildProcess;
using testing::TempDir;

struct Outcome {
  int code;
  std::string output;
};

Outcome RunSign(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), TALVEK_SIGN_PATH);
  ChildProcess child(arguments);
  EXPECT_TRUE(child.started());
  child.WaitForOutput("\n", std::chrono::seconds(60));  // verify's one line, or the end of the output
  const int code = child.Wait(std::chrono::seconds(60));
  return {code, child.output()};
}

TEST(TalvekSign, SignsWithSeveralKeysAndTheUpdaterVerifierAcceptsTheTrustedOne) {
  TempDir dir;
  const std::string manifestPath = dir.Join("manifest.json");
  const std::string sigPath = dir.Join("manifest.sig");
  const std::string manifest = R"({"version":"0.3.0","channel":"production"})";
  testing::WriteTextFile(manifestPath, manifest);

  // The first key is the build's development key where there is one.
#ifdef TALVEK_DEV_SIGNING_KEY
  const std::string firstKey = TALVEK_DEV_SIGNING_KEY;
  const std::string firstId = "tv-desktop-2026-11";
#else
  const std::string firstKey = dir.Join("first.pem");
  const std::string firstId = "first-key";
  ASSERT_EQ(RunSign({"keygen", "--bits", "2048", "--out", firstKey}).code, 0);
#endif
  const std::string keyPath = dir.Join("feed.pem");
  const std::string pubPath = dir.Join("feed.der");
  ASSERT_EQ(RunSign({"keygen", "--bits", "2048", "--out", keyPath}).code, 0);
  struct stat info{};
  ASSERT_EQ(stat(keyPath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "private key readable by others";
  ASSERT_EQ(RunSign({"pubkey", "--key", keyPath, "--out", pubPath}).code, 0);

  ASSERT_EQ(RunSign({"sign", "--manifest", manifestPath, "--out", sigPath, "--key", firstKey + ":" + firstId,
                     "--key", keyPath + ":feed-2026"})
                .code,
            0);
  const auto entries = ParseSignatureFile(testing::ReadTextFile(sigPath));
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].keyId, firstId);
  EXPECT_EQ((*entries)[1].keyId, "feed-2026");

  const std::vector<std::string> verify = {"verify", "--manifest", manifestPath, "--sig", sigPath,
                                           "--pub", pubPath + ":feed-2026"};
  const Outcome verified = RunSign(verify);
  EXPECT_EQ(verified.code, 0);
  EXPECT_EQ(verified.output, "ok feed-2026\n");

  std::string changed = manifest;
  changed[changed.size() - 3] ^= 1;
  testing::WriteTextFile(manifestPath, changed);
  const Outcome refused = RunSign(verify);
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.output, "not verified\n");
}

TEST(TalvekSign, BadUsageExitsWithTwo) {
  TempDir dir;
  testing::WriteTextFile(dir.Join("m.json"), "{}");
  EXPECT_EQ(RunSign({"sign", "--manifest", dir.Join("m.json"), "--out", dir.Join("m.sig")}).code, 2) << "no key";
  EXPECT_EQ(RunSign({"sign", "--manifest", dir.Join("m.json"), "--out", dir.Join("m.sig"), "--key",
                     dir.Join("k.pem") + ":bad\"id"})
                .code,
            2);
  EXPECT_EQ(RunSign({"keygen", "--bits", "1024", "--out", dir.Join("k.pem")}).code, 2);
}

}  // namespace
}  // namespace VirelantDesktop::updater
