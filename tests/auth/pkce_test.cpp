#include "modules/auth/pkce.h"

#include <gtest/gtest.h>

#include <vector>

namespace VirelantDesktop::authlb {
namespace {

TEST(Pkce, ChallengeIsBase64UrlOfSha256) {
  // The worked example of the PKCE standard.
  EXPECT_EQ(CodeChallengeFor("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  std::array<uint8_t, 32> bytes{};
  bytes.fill(0xFF);
  EXPECT_EQ(Base64UrlNoPad(bytes), std::string(42, '_') + "8");
  bytes.fill(0);
  EXPECT_EQ(Base64UrlNoPad(bytes), std::string(43, 'A'));
}

TEST(Pkce, VerifierSamplingSkipsHighBytes) {
  // 198 and above are skipped; below, the character at byte mod 66.
  std::vector<uint8_t> script = {198, 255, 0, 65, 66, 197};
  size_t draws = 0;
  const auto verifier = MakeCodeVerifier([&](uint8_t* out, size_t count) {
    ++draws;
    for (size_t i = 0; i < count; ++i) out[i] = draws == 1 && i < script.size() ? script[i] : 1;
    return true;
  });
  ASSERT_TRUE(verifier);
  EXPECT_EQ(verifier->substr(0, 4), "A~A~");
  EXPECT_EQ(verifier->size(), 64u);
  EXPECT_EQ(draws, 2u) << "only 62 usable bytes in the first draw";
  EXPECT_FALSE(MakeCodeVerifier([](uint8_t*, size_t) { return false; }));
  EXPECT_FALSE(MakeState([](uint8_t*, size_t) { return false; }));
}

TEST(Pkce, SystemSecrets) {
  for (int i = 0; i < 50; ++i) {
    const auto verifier = MakeCodeVerifier();
    const auto state = MakeState();
    ASSERT_TRUE(verifier && state);
    EXPECT_EQ(verifier->size(), kVerifierLength);
    EXPECT_EQ(verifier->find_first_not_of(kVerifierAlphabet), std::string::npos);
    EXPECT_EQ(state->size(), kStateLength);
    EXPECT_EQ(state->find_first_of("=+/"), std::string::npos);
    EXPECT_EQ(CodeChallengeFor(*verifier)->size(), 43u);
  }
}

}  // namespace
}  // namespace VirelantDesktop::authlb
