#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "tests/support/minisign_tool.h"
#include "trust/file_kind.h"
#include "trust/image_trust.h"
#include "trust/trust_policy.h"

namespace plcburn {
namespace {

namespace fs = std::filesystem;
using namespace plcburn::testing;

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// Two key pairs, A and B, made by minisign in a folder of their own.
class Keys : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = fs::temp_directory_path() / "plcburn-trust-test";
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "installed");
    ASSERT_TRUE(MakeMinisignKey(folder_, "A"));
    ASSERT_TRUE(MakeMinisignKey(folder_, "B"));
  }
  static void TearDownTestSuite() { fs::remove_all(folder_); }

  static std::string KeyIdOf(const std::string& name) {
    const std::string pub = ReadText(folder_ / (name + ".pub"));
    const std::string marker = "minisign public key ";
    return pub.substr(pub.find(marker) + marker.size(), 16);
  }
  static fs::path Path(const std::string& name) { return folder_ / name; }

  static inline fs::path folder_;
};

TEST_F(Keys, SignaturesMadeByMinisignAreCheckedAsItWould) {
  enum class Tamper { None, Image, Signature, Comment, DropSignature };
  const struct {
    const char* what;
    bool legacy;
    const char* signer;
    std::vector<std::string> trusted;  // key pairs named on the command line
    bool installA;                     // A.pub in the trusted-keys folder
    Tamper tamper;
    const char* error;  // nullptr: accepted
  } cases[] = {
      {"prehashed, key named", false, "A", {"A.pub"}, false, Tamper::None, nullptr},
      {"legacy, key named", true, "A", {"A.pub"}, false, Tamper::None, nullptr},
      {"prehashed, key installed", false, "A", {}, true, Tamper::None, nullptr},
      {"signed by the second trusted key",
       false,
       "B",
       {"A.pub", "B.pub"},
       false,
       Tamper::None,
       nullptr},
      {"one byte of the image flipped",
       false,
       "A",
       {"A.pub"},
       false,
       Tamper::Image,
       "the file or its signature was changed"},
      {"one byte of a legacy image flipped",
       true,
       "A",
       {"A.pub"},
       false,
       Tamper::Image,
       "the file or its signature was changed"},
      {"one byte of the signature flipped",
       false,
       "A",
       {"A.pub"},
       false,
       Tamper::Signature,
       "the file or its signature was changed"},
      {"the trusted comment altered",
       false,
       "A",
       {"A.pub"},
       true,
       Tamper::Comment,
       "trusted comment in"},
      {"another key", false, "B", {"A.pub"}, true, Tamper::None, "which is not a trusted key"},
      {"no .minisig", false, "A", {"A.pub"}, false, Tamper::DropSignature, "is not signed: no"},
      {"no policy: an unsigned image as before",
       false,
       "A",
       {},
       false,
       Tamper::DropSignature,
       nullptr},
      {"no policy: a tampered image is not checked", false, "A", {}, false, Tamper::Image, nullptr},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path image = Path("VL_" + std::to_string(++n) + ".bin");
    auto bytes = RandomBytes(5000, static_cast<unsigned>(n));
    WriteText(image, std::string(bytes.begin(), bytes.end()));
    const std::string comment = std::string("release ") + c.what;
    ASSERT_TRUE(MinisignSign(folder_, c.signer, image, comment, c.legacy)) << c.what;
    const fs::path minisig = image.string() + ".minisig";
    const std::string signature = ReadText(minisig);
    switch (c.tamper) {
      case Tamper::None: break;
      case Tamper::Image: bytes[1234] ^= 0x01; break;
      case Tamper::Signature:
        WriteText(minisig, Flipped(signature, InFileSignature(signature)));
        break;
      case Tamper::Comment:
        WriteText(minisig, Flipped(signature, InTrustedComment(signature)));
        break;
      case Tamper::DropSignature: fs::remove(minisig); break;
    }
    fs::remove(Path("installed/A.pub"));
    if (c.installA) fs::copy_file(Path("A.pub"), Path("installed/A.pub"));
    std::vector<std::string> named;
    for (const std::string& key : c.trusted) named.push_back(Path(key).string());

    const LoadedPolicy loaded = LoadTrustPolicy(Path("installed"), named);
    ASSERT_TRUE(loaded.policy) << c.what << ": " << loaded.error;
    const ImageTrust trust = CheckImageTrust(image.string(), bytes, *loaded.policy);
    EXPECT_EQ(trust.accepted, c.error == nullptr) << c.what << ": " << trust.error;
    if (c.error != nullptr) {
      EXPECT_NE(trust.error.find(c.error), std::string::npos) << c.what << ": " << trust.error;
      EXPECT_EQ(trust.error.find('\n'), std::string::npos) << c.what;
    } else if (loaded.policy->Enforced()) {
      EXPECT_EQ(trust.keyId, KeyIdOf(c.signer)) << c.what;
      EXPECT_EQ(trust.trustedComment, comment) << c.what;
    } else {
      EXPECT_EQ(trust.keyId, "") << c.what;
    }
  }
  fs::remove(Path("installed/A.pub"));
}

TEST_F(Keys, MalformedKeysAndSignaturesAreRefusedWithOneLine) {
  const std::string pub = ReadText(Path("A.pub"));
  const std::string keyLine = pub.substr(pub.find('\n') + 1);
  const std::string comment = pub.substr(0, pub.find('\n') + 1);
  const fs::path image = Path("VL_bad.bin");
  const auto bytes = RandomBytes(3000, 7);
  WriteText(image, std::string(bytes.begin(), bytes.end()));
  ASSERT_TRUE(MinisignSign(folder_, "A", image, "good"));
  const std::string sig = ReadText(image.string() + ".minisig");
  const std::size_t line2 = sig.find('\n') + 1, line3 = sig.find('\n', line2) + 1;
  const std::size_t line4 = sig.find('\n', line3) + 1;

  const struct {
    const char* what;
    std::optional<std::string> key;        // the key file's text; none: the key is a folder
    std::optional<std::string> signature;  // none: a 100 MB file
    const char* error;
  } cases[] = {
      {"key: bad base64", comment + "RWQ!" + keyLine.substr(4), sig, "not valid base64"},
      {"key: four characters short", comment + keyLine.substr(4), sig, "bytes, not 42"},
      {"key: not Ed25519", comment + "RWg" + keyLine.substr(3), sig, "not an Ed25519 key"},
      {"key: no comment line", keyLine, sig, "lines, not 2"},
      {"key: empty", "", sig, "lines, not 2"},
      {"key: a folder", std::nullopt, sig, "is not a regular file"},
      {"key: text after it", pub + "more\n", sig, "text after line 2"},
      {"signature: bad base64", pub, sig.substr(0, line2) + "%" + sig.substr(line2 + 1),
       "signature is not valid base64"},
      {"signature: not Ed25519", pub, sig.substr(0, line2) + "RXQ" + sig.substr(line2 + 3),
       "not an Ed25519 signature"},
      {"signature: wrong length", pub, sig.substr(0, line2) + sig.substr(line2 + 4),
       "bytes, not 74"},
      {"signature: no trusted comment", pub, sig.substr(0, line3) + sig.substr(line4),
       "lines, not 4"},
      {"signature: third line no trusted comment", pub,
       sig.substr(0, line3) + "untrusted" + sig.substr(line3 + 7), "not a trusted comment"},
      {"signature: global one short", pub, sig.substr(0, line4) + sig.substr(line4 + 4),
       "global signature has 61 bytes"},
      {"signature: 100 MB", pub, std::nullopt, "longer than 8192 bytes"},
      {"signature: windows line ends are fine, a tampered comment is not", pub,
       sig.substr(0, line3) + "trusted comment: evil\r\n" + sig.substr(line4),
       "trusted comment in"},
  };
  for (const auto& c : cases) {
    const fs::path key = Path("bad.pub");
    fs::remove_all(key);
    if (c.key) {
      WriteText(key, *c.key);
    } else {
      fs::create_directory(key);
    }
    const fs::path minisig = image.string() + ".minisig";
    fs::remove(minisig);
    if (c.signature) {
      WriteText(minisig, *c.signature);
    } else {
      { std::ofstream(minisig) << sig; }
      fs::resize_file(minisig, 100u << 20);
    }
    const LoadedPolicy loaded = LoadTrustPolicy(Path("installed"), {key.string()});
    std::string error = loaded.error;
    if (loaded.policy) error = CheckImageTrust(image.string(), bytes, *loaded.policy).error;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << c.what << ": " << error;
  }
}

TEST(FileKind, OtherKindsAreRefusedRawImagesOfEveryAllowedSizeAccepted) {
  std::string pe(0x80, '\0');
  pe.replace(0, 2, "MZ");
  pe[0x3C] = 0x40;
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  std::string mzOnly = pe;
  mzOnly[0x41] = 'X';
  const struct {
    const char* what;
    std::string bytes;
    const char* kind;  // nullptr: may be a raw image
  } cases[] = {
      {"Intel HEX", ":10010000214601360121470136007EFE09D2190140\r\n:00000001FF\r\n",
       "an Intel HEX file"},
      {"S-record", "S00F000068656C6C6F202020202000003C\nS9030000FC\n", "a Motorola S-record file"},
      {"ELF",
       std::string("\x7F"
                   "ELF\x01\x01\x01\0\0\0\0\0",
                   12),
       "an ELF executable"},
      {"PE/COFF", pe, "a PE/COFF executable"},
      {"zip", std::string("PK\x03\x04\x14\0\0\0\x08\0", 10), "a zip archive"},
      {"empty zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'), "a zip archive"},
      {"gzip", std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03\xCB\x48\xCD\xC9\xC9\x07\0", 17),
       "a gzip file"},
      {"text", "VL firmware v189\nrelease notes\n", "a text file"},
      {"\"MZ\" without a PE header", mzOnly, nullptr},
      {"\":\" then binary", std::string(":\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B", 12),
       nullptr},
      {"hex digits without a line end", ":1001000021460136012147", nullptr},
      {"a text of one line without its break", "VL firmware", nullptr},
      {"a single line break", "\n", nullptr},
  };
  for (const auto& c : cases) {
    const auto kind = NotARawImage(Bytes(c.bytes));
    EXPECT_EQ(kind.value_or("raw"), c.kind == nullptr ? "raw" : c.kind) << c.what;
  }
  for (std::size_t row = 0; row < kModelCount; ++row) {
    const ModelRules& model = ModelAt(row);
    for (const std::uint32_t size : {model.minSize + 1, model.maxSize}) {
      const auto image = RandomBytes(size, static_cast<unsigned>(row * 7 + size));
      EXPECT_EQ(NotARawImage(image), std::nullopt) << model.name << ", " << size << " bytes";
    }
  }
}

}  // namespace
}  // namespace plcburn
