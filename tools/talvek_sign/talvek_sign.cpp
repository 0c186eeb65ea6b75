// talvek-sign: makes update signing keys, signs update manifests and checks
// signature files the way the updater does.
//
//   talvek-sign keygen [--bits N] --out KEY.pem
//   talvek-sign pubkey --key KEY.pem --out PUB.der
//   talvek-sign sign --manifest FILE --out FILE.sig --key KEY.pem:KEYID [--key ...]
//   talvek-sign verify --manifest FILE --sig FILE.sig --pub PUB.der:KEYID [--pub ...]
//
// Private keys are unencrypted PKCS#8 PEM files written with mode 0600; a
// key is only taken when the updater would accept its public half (RSA,
// 2048 to 8192 bits, exponent 65537). Signatures are RSASSA-PKCS1-v1_5 with
// SHA-256 over the manifest's exact bytes, one entry per key in the order
// given. Exit codes: 0 done (verify: verified), 1 failed (I/O, a key that
// is refused, verify: not verified), 2 bad usage.
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/base64.h"
#include "platform/process_setup.h"
#include "platform/read_file.h"
#include "platform/secure_zero.h"
#include "platform/win32_error.h"
#include "updater/rsa_verify.h"
#include "updater/signature_check.h"

namespace {

namespace platform = VirelantDesktop::platform;
namespace updater = VirelantDesktop::updater;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr int kMinKeyBits = 2048;
constexpr int kMaxKeyBits = 8192;
constexpr int kDefaultKeyBits = 3072;

constexpr const char* kUsage =
    "usage: talvek-sign keygen [--bits N] --out KEY.pem\n"
    "       talvek-sign pubkey --key KEY.pem --out PUB.der\n"
    "       talvek-sign sign --manifest FILE --out FILE.sig --key KEY.pem:KEYID [--key ...]\n"
    "       talvek-sign verify --manifest FILE --sig FILE.sig --pub PUB.der:KEYID [--pub ...]\n";

// A refusal or failure already reported on stderr; carries the exit code.
struct Exit {
  int code;
};

[[noreturn]] void Fail(int code, const std::string& message) {
  std::fprintf(stderr, "talvek-sign: %s\n", message.c_str());
  throw Exit{code};
}
[[noreturn]] void UsageError(const std::string& message) { Fail(kExitUsage, message); }
[[noreturn]] void Failure(const std::string& message) { Fail(kExitFailed, message); }

// The most recent OpenSSL error, for messages; the queue is emptied.
std::string OpenSslDetail() {
  unsigned long last = 0;
  while (unsigned long code = ERR_get_error()) last = code;
  if (last == 0) return "no detail";
  char text[256];
  ERR_error_string_n(last, text, sizeof text);
  return text;
}

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct BnFree {
  void operator()(BIGNUM* number) const { BN_free(number); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Key material read from or written to disk; zeroed when it goes.
class SecretText {
 public:
  SecretText() = default;
  explicit SecretText(std::string text) : text_(std::move(text)) {}
  ~SecretText() { platform::SecureWipe(text_); }
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  const std::string& get() const { return text_; }

 private:
  std::string text_;
};

// ---- Arguments ----

// "--name value" pairs after the command. Names in `repeatable` may appear
// more than once; every other allowed name at most once.
using Options = std::map<std::string, std::vector<std::string>>;

Options ParseOptions(const std::string& command, int argc, char** argv, const std::set<std::string>& allowed,
                     const std::set<std::string>& repeatable) {
  Options options;
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    if (allowed.count(name) == 0) {
      if (name.size() > 1 && name[0] == '-') UsageError(command + ": unknown option " + name);
      UsageError(command + ": unexpected argument \"" + name + "\"");
    }
    if (i + 1 >= argc) UsageError(command + ": " + name + " needs a value");
    std::vector<std::string>& values = options[name];
    if (!values.empty() && repeatable.count(name) == 0) UsageError(command + ": " + name + " given twice");
    values.emplace_back(argv[++i]);
  }
  return options;
}

const std::string& Required(const Options& options, const std::string& command, const std::string& name) {
  const auto found = options.find(name);
  if (found == options.end()) UsageError(command + ": " + name + " is required");
  if (found->second.front().empty()) UsageError(command + ": " + name + " needs a non-empty value");
  return found->second.front();
}

// Key ids go into the signature file as JSON strings unescaped, and must
// match the trusted table's ids exactly: a plain alphabet keeps both simple.
bool IsValidKeyId(std::string_view id) {
  if (id.empty() || id.size() > 128) return false;
  for (char c : id) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-';
    if (!plain) return false;
  }
  return true;
}

struct PathAndId {
  std::string path;
  std::string keyId;
};

// "PATH:KEYID", split at the last colon (paths may hold colons, ids never).
std::vector<PathAndId> PathsAndIds(const Options& options, const std::string& command, const std::string& name) {
  const auto found = options.find(name);
  if (found == options.end()) UsageError(command + ": at least one " + name + " FILE:KEYID is required");
  std::vector<PathAndId> result;
  std::set<std::string> seen;
  for (const std::string& value : found->second) {
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0) UsageError(command + ": " + name + " needs FILE:KEYID, got \"" + value + "\"");
    PathAndId item{value.substr(0, colon), value.substr(colon + 1)};
    if (!IsValidKeyId(item.keyId)) {
      UsageError(command + ": key id \"" + item.keyId + "\" must be 1 to 128 of A-Z a-z 0-9 . _ -");
    }
    if (!seen.insert(item.keyId).second) UsageError(command + ": key id \"" + item.keyId + "\" given twice");
    result.push_back(std::move(item));
  }
  return result;
}

// ---- Files ----

std::string ReadFileOrFail(const std::string& path, const char* what) {
  platform::ReadFileResult read = platform::ReadWholeFile(path);
  if (read.status != platform::ReadStatus::Ok) {
    Failure(std::string("cannot read ") + what + " " + path + " (error " +
            std::to_string(platform::Win32ErrorFromErrno(read.error)) + ")");
  }
  return std::move(read.data);
}

void WriteFileOrFail(const std::string& path, std::string_view data, mode_t mode) {
  platform::AtomicWriteOptions options;
  options.mode = mode;
  const platform::AtomicWriteResult result = platform::WriteFileAtomic(path, data, options);
  if (!result.ok()) {
    Failure("cannot write " + path + " (" + platform::AtomicWriteStageName(result.failedStage) + ", error " +
            std::to_string(platform::Win32ErrorFromErrno(result.error)) + ")");
  }
}

// ---- Keys ----

// The DER SubjectPublicKeyInfo of `key`.
std::vector<uint8_t> PublicDer(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  if (length <= 0) Failure("cannot encode the public key: " + OpenSslDetail());
  std::vector<uint8_t> bytes(der, der + length);
  OPENSSL_free(der);
  return bytes;
}

// Refuses a key the updater could never trust, before anything is written.
updater::RsaPublicKey CheckUsable(EVP_PKEY* key, const std::vector<uint8_t>& der, const std::string& path) {
  updater::RsaPublicKey parsed;
  if (EVP_PKEY_is_a(key, "RSA")) parsed = updater::ParseRsaPublicKeyDer(der);
  if (!parsed.usable) Failure(path + ": not an RSA key of 2048 to 8192 bits with exponent 65537");
  return parsed;
}

// Encrypted keys are refused rather than prompted for: the tool runs in
// scripts and tests.
int NoPassphrase(char*, int, int, void*) { return -1; }

Pkey LoadPrivateKey(const std::string& path) {
  const SecretText pem(ReadFileOrFail(path, "key"));
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.get().data(), static_cast<int>(pem.get().size())));
  if (!bio) Failure("out of memory");
  Pkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr));
  if (!key) Failure(path + ": not an unencrypted PEM private key (" + OpenSslDetail() + ")");
  return key;
}

// ---- Commands ----

int Keygen(int argc, char** argv) {
  const Options options = ParseOptions("keygen", argc, argv, {"--bits", "--out"}, {});
  const std::string& out = Required(options, "keygen", "--out");
  int bits = kDefaultKeyBits;
  if (const auto found = options.find("--bits"); found != options.end()) {
    const std::string& text = found->second.front();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || value < kMinKeyBits || value > kMaxKeyBits) {
      UsageError("keygen: --bits must be a number from 2048 to 8192");
    }
    bits = static_cast<int>(value);
  }
  // A signing key is not replaced by accident: losing it strands every
  // installation that trusts it.
  struct stat existing{};
  if (lstat(out.c_str(), &existing) == 0) Failure(out + " already exists; not overwritten");

  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  std::unique_ptr<BIGNUM, BnFree> exponent(BN_new());
  EVP_PKEY* generated = nullptr;
  if (!context || !exponent || BN_set_word(exponent.get(), RSA_F4) != 1 ||
      EVP_PKEY_keygen_init(context.get()) <= 0 || EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), bits) <= 0 ||
      EVP_PKEY_CTX_set1_rsa_keygen_pubexp(context.get(), exponent.get()) <= 0 ||
      EVP_PKEY_generate(context.get(), &generated) <= 0) {
    Failure("cannot generate the key: " + OpenSslDetail());
  }
  const Pkey key(generated);
  CheckUsable(key.get(), PublicDer(key.get()), out);

  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_secmem()));
  if (!bio || PEM_write_bio_PKCS8PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    Failure("cannot encode the key: " + OpenSslDetail());
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  if (length <= 0 || data == nullptr) Failure("cannot encode the key");
  const SecretText pem(std::string(data, static_cast<size_t>(length)));
  WriteFileOrFail(out, pem.get(), 0600);
  return kExitOk;
}

int Pubkey(int argc, char** argv) {
  const Options options = ParseOptions("pubkey", argc, argv, {"--key", "--out"}, {});
  const std::string& keyPath = Required(options, "pubkey", "--key");
  const std::string& out = Required(options, "pubkey", "--out");
  const Pkey key = LoadPrivateKey(keyPath);
  const std::vector<uint8_t> der = PublicDer(key.get());
  CheckUsable(key.get(), der, keyPath);
  WriteFileOrFail(out, std::string_view(reinterpret_cast<const char*>(der.data()), der.size()), 0644);
  return kExitOk;
}

std::vector<uint8_t> SignSha256(EVP_PKEY* key, std::string_view message, const std::string& path) {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
  EVP_PKEY_CTX* keyContext = nullptr;  // owned by `context`
  const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
  size_t length = 0;
  if (!context || EVP_DigestSignInit_ex(context.get(), &keyContext, "SHA256", nullptr, nullptr, key, nullptr) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING) <= 0 ||
      EVP_DigestSign(context.get(), nullptr, &length, bytes, message.size()) != 1) {
    Failure(path + ": cannot sign: " + OpenSslDetail());
  }
  std::vector<uint8_t> signature(length);
  if (EVP_DigestSign(context.get(), signature.data(), &length, bytes, message.size()) != 1) {
    Failure(path + ": cannot sign: " + OpenSslDetail());
  }
  signature.resize(length);
  return signature;
}

int Sign(int argc, char** argv) {
  const Options options = ParseOptions("sign", argc, argv, {"--manifest", "--out", "--key"}, {"--key"});
  const std::string& manifestPath = Required(options, "sign", "--manifest");
  const std::string& out = Required(options, "sign", "--out");
  const std::vector<PathAndId> keys = PathsAndIds(options, "sign", "--key");
  if (keys.size() > updater::kMaxSignatureEntries) UsageError("sign: at most 8 --key");

  const std::string manifest = ReadFileOrFail(manifestPath, "manifest");
  if (manifest.size() > updater::kMaxSignedMessageBytes) {
    Failure(manifestPath + ": over 512 KiB; the updater refuses manifests that large");
  }

  std::string file = "[";
  for (size_t i = 0; i < keys.size(); ++i) {
    const Pkey key = LoadPrivateKey(keys[i].path);
    const updater::RsaPublicKey publicKey = CheckUsable(key.get(), PublicDer(key.get()), keys[i].path);
    const std::vector<uint8_t> signature = SignSha256(key.get(), manifest, keys[i].path);
    // Checked with the updater's own code before it goes out.
    if (!updater::VerifyRsaSha256(publicKey, manifest, signature)) {
      Failure(keys[i].path + ": the signature does not verify under the key's own public half");
    }
    if (i > 0) file += ",";
    file += R"({"keyId":")" + keys[i].keyId + R"(","sig":")" + platform::Base64Encode(signature) + R"("})";
  }
  file += "]";
  WriteFileOrFail(out, file, 0644);
  return kExitOk;
}

int Verify(int argc, char** argv) {
  const Options options = ParseOptions("verify", argc, argv, {"--manifest", "--sig", "--pub"}, {"--pub"});
  const std::string& manifestPath = Required(options, "verify", "--manifest");
  const std::string& sigPath = Required(options, "verify", "--sig");
  const std::vector<PathAndId> pubs = PathsAndIds(options, "verify", "--pub");

  std::vector<std::vector<uint8_t>> ders;
  for (const PathAndId& pub : pubs) {
    const std::string text = ReadFileOrFail(pub.path, "public key");
    ders.emplace_back(text.begin(), text.end());
    if (!updater::ParseRsaPublicKeyDer(ders.back()).usable) {
      Failure(pub.path + ": not a DER RSA public key the updater accepts");
    }
  }
  std::vector<updater::TrustedKeyDer> table;
  for (size_t i = 0; i < pubs.size(); ++i) table.push_back({pubs[i].keyId, "rsa-sha256", ders[i]});

  const std::string manifest = ReadFileOrFail(manifestPath, "manifest");
  const std::string signatures = ReadFileOrFail(sigPath, "signature file");
  const updater::SigVerdict verdict = updater::MakeVerifier(table)(manifest, signatures);
  if (!verdict.ok) {
    std::printf("not verified\n");
    return kExitFailed;
  }
  std::printf("ok %s\n", verdict.keyId.c_str());
  return kExitOk;
}

int Run(int argc, char** argv) {
  if (argc < 2) UsageError("no command given (keygen, pubkey, sign or verify)");
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "keygen") return Keygen(argc, argv);
  if (command == "pubkey") return Pubkey(argc, argv);
  if (command == "sign") return Sign(argc, argv);
  if (command == "verify") return Verify(argc, argv);
  UsageError("unknown command \"" + std::string(command) + "\" (keygen, pubkey, sign or verify)");
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitProcess();
  int code = kExitFailed;
  try {
    code = Run(argc, argv);
  } catch (const Exit& exit) {
    code = exit.code;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "talvek-sign: %s\n", error.what());
  }
  if (std::fflush(stdout) != 0 && code == kExitOk) code = kExitFailed;
  return code;
}
