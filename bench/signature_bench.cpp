// The update signature check: a manifest against a signature file of 8
// entries where only the last verifies, so all eight raw RSA-3072
// operations run (the target is at most 0.5 ms).
//
//   build/default/bench/signature_bench
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/base64.h"
#include "updater/signature_check.h"

namespace {

using namespace VirelantDesktop;

struct Setup {
  Setup() {
    EVP_PKEY* key = EVP_RSA_gen(3072);
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key, &der);
    spki.assign(der, der + length);
    OPENSSL_free(der);
    manifest = R"({"version":"0.3.0","channel":"production","os":"linux-x64","issuedAt":"2026-12-01T00:00:00Z",)"
               R"("expiresAt":"2027-01-01T00:00:00Z","full":{"file":"talvek-0.3.0-full.nupkg","sha256":")" +
               std::string(64, 'a') + "\"}}";
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    size_t size = 0;
    EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key);
    EVP_DigestSign(context, nullptr, &size, reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size());
    std::vector<uint8_t> signature(size);
    EVP_DigestSign(context, signature.data(), &size, reinterpret_cast<const uint8_t*>(manifest.data()),
                   manifest.size());
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    std::vector<uint8_t> wrong = signature;
    signatureFile = "[";
    for (int i = 0; i < 7; ++i) {
      wrong[10] = static_cast<uint8_t>(wrong[10] ^ (i + 1));  // valid form, wrong value: the raw operation runs
      signatureFile += R"({"keyId":"k","sig":")" + platform::Base64Encode(wrong) + "\"},";
    }
    signatureFile += R"({"keyId":"k","sig":")" + platform::Base64Encode(signature) + "\"}]";
    verifier = updater::MakeVerifier({{"k", "rsa-sha256", spki}});
  }
  std::vector<uint8_t> spki;
  std::string manifest;
  std::string signatureFile;
  updater::SignatureVerifier verifier;
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void BM_EightEntriesLastVerifies(benchmark::State& state) {
  Setup& setup = Shared();
  for (auto _ : state) {
    const updater::SigVerdict verdict = setup.verifier(setup.manifest, setup.signatureFile);
    if (!verdict.ok) {
      state.SkipWithError("the last entry did not verify");
      break;
    }
  }
}
BENCHMARK(BM_EightEntriesLastVerifies)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
