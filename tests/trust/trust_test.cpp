#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/catalogue.h"
#include "res/builtin_image.h"
#include "trust/comment_words.h"
#include "trust/file_kind.h"
#include "trust/image_gate.h"
#include "trust/trust_policy.h"

namespace plcburn {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

std::string Sample(const char* name) {
  std::ifstream in(fs::path(PLCBURN_MINISIGN_SAMPLES) / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `text` with `cut` characters at `at` replaced by `put`.
std::string Spoilt(const std::string& text, std::size_t at, std::size_t cut, const char* put) {
  return text.substr(0, at) + put + text.substr(at + cut);
}

TEST(MinisignFiles, MalformedKeysAndSignaturesAreRefusedWithOneLine) {
  const std::string pub = Sample("key.pub"), sig = Sample("prehashed.minisig");
  const std::size_t key = pub.find('\n') + 1, line2 = sig.find('\n') + 1;
  const std::size_t line3 = sig.find('\n', line2) + 1, line4 = sig.find('\n', line3) + 1;
  const struct {
    const char* what;
    std::optional<std::string> key;        // none: the key file is a folder
    std::optional<std::string> signature;  // none: 100 MB
    const char* error;
  } cases[] = {
      {"key: bad base64", Spoilt(pub, key, 1, "!"), sig, "key is not valid base64"},
      {"key: four characters short", Spoilt(pub, key, 4, ""), sig, "39 bytes, not 42"},
      {"key: not Ed25519", Spoilt(pub, key, 3, "RWg"), sig, "not an Ed25519 key"},
      {"key: no comment line", pub.substr(key), sig, "1 lines, not 2"},
      {"key: text after it", pub + "more\n", sig, "text after line 2"},
      {"key: a folder", std::nullopt, sig, "is not a regular file"},
      {"signature: bad base64", pub, Spoilt(sig, line2, 1, "%"), "signature is not valid base64"},
      {"signature: not Ed25519", pub, Spoilt(sig, line2, 3, "RXQ"), "not an Ed25519 signature"},
      {"signature: four characters short", pub, Spoilt(sig, line2, 4, ""), "71 bytes, not 74"},
      {"signature: no trusted comment", pub, Spoilt(sig, line3, line4 - line3, ""),
       "3 lines, not 4"},
      {"signature: third line untrusted", pub, Spoilt(sig, line3, 7, "untrusted"),
       "not a trusted comment"},
      {"signature: global one short", pub, Spoilt(sig, line4, 4, ""),
       "global signature has 61 bytes"},
      {"signature: 100 MB", pub, std::nullopt, "longer than 8192 bytes"},
      {"well-formed, over other bytes", pub, sig, "the file or its signature was changed"},
  };
  const fs::path folder = fs::temp_directory_path() / "plcburn-trust-test";
  const fs::path keyFile = folder / "key.pub", image = folder / "VL_x.bin";
  const fs::path minisig = image.string() + ".minisig";
  for (const auto& c : cases) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (c.key) {
      std::ofstream(keyFile, std::ios::binary) << *c.key;
    } else {
      fs::create_directory(keyFile);
    }
    std::ofstream(minisig, std::ios::binary) << c.signature.value_or(sig);
    if (!c.signature) fs::resize_file(minisig, 100u << 20);

    const LoadedPolicy loaded = LoadTrustPolicy(folder / "none", {keyFile.string()});
    const std::string error =
        loaded.policy
            ? AdmitImage({image.string(), RandomBytes(3000, 1), std::nullopt}, *loaded.policy).error
            : loaded.error;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << c.what << ": " << error;
  }
  fs::remove_all(folder);
}

TEST(FileKind, OtherKindsAreRefusedRawImagesOfEveryAllowedSizeAccepted) {
  std::string pe(0x80, '\0');
  pe.replace(0, 2, "MZ");
  pe[0x3C] = 0x40;
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
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
                   "ELF\x01\x01\x01\0",
                   8),
       "an ELF executable"},
      {"PE/COFF", pe, "a PE/COFF executable"},
      {"zip", std::string("PK\x03\x04\x14\0\0\0\x08\0", 10), "a zip archive"},
      {"gzip", std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03\xCB\x48\xCD\xC9\xC9\x07\0", 17),
       "a gzip file"},
      {"text", "VL firmware v189\nrelease notes\n", "a text file"},
      {"\"MZ\" with no PE header where it points", Spoilt(pe, 0x41, 1, "X"), nullptr},
      {"\":\" then binary", std::string(":\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B", 12),
       nullptr},
      {"hex digits without a line end", ":1001000021460136012147", nullptr},
      {"text without a line break", "VL firmware", nullptr},
  };
  for (const auto& c : cases) {
    const auto kind = NotARawImage(std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end()));
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

// A trusted comment's words: model= binds, the rest is kept; what would rewrite a terminal or
// make the model unclear is refused with one line.
TEST(CommentWords, TheModelWordAndCommentsThatCannotBeTrusted) {
  const struct {
    const char* comment;
    const char* model;  // nullptr: none
    std::size_t pairs;
    const char* error = "";
  } cases[] = {
      {"VL v2 for line 4", nullptr, 0},
      {"timestamp:1733650000\tfile:QW_v190.bin\thashed", nullptr, 0},  // minisign's own
      {"model=QW version=190", "QW", 2},
      {"  version=190\tmodel=TR7-B  note=a=b ", "TR7-B", 3},
      {"=QW model", nullptr, 0},
      {"model=QW model=VL", nullptr, 0, "model= twice"},
      {"model= version=190", nullptr, 0, "without a model"},
      {"model=VL \x1B[2J", nullptr, 0, "control character"},
      {"model=VL\rmodel=QW", nullptr, 0, "control character"},
  };
  for (const auto& c : cases) {
    const CommentWords words = ParseCommentWords(c.comment);
    EXPECT_EQ(words.model.value_or("(none)"), c.model != nullptr ? c.model : "(none)") << c.comment;
    EXPECT_NE(words.error.find(c.error), std::string::npos) << c.comment << ": " << words.error;
    EXPECT_EQ(words.error.empty(), c.error[0] == '\0') << c.comment << ": " << words.error;
    if (words.error.empty()) {
      EXPECT_EQ(words.pairs.size(), c.pairs) << c.comment;
    }
  }
}

// Unsigned images under no policy: the model and the size decide, as the burn would.
TEST(ImageGate, ModelAndSizeOfImagesNoKeyIsAskedFor) {
  const std::size_t vl = *FindModel("VL"), qw = *FindModel("QW"), trb = *FindModel("TR7-B");
  const struct {
    const char* path;
    std::size_t size;
    std::optional<std::size_t> forModel;
    bool builtIn;
    bool requireModel;
    std::optional<std::size_t> admittedFor;  // none: refused
    const char* error;
  } cases[] = {
      {"VL_v1.bin", 20000, std::nullopt, false, false, vl, ""},
      {"firmware.bin", 20000, qw, false, false, qw, ""},
      {"TR7-B_v12.bin", 20000, qw, false, false, std::nullopt, "named for the TR7-B, not the QW"},
      {"tr7-b_v12.bin", 20000, trb, false, false, trb, ""},
      {"firmware.bin", LargestImageSize() + 1, std::nullopt, false, false, std::nullopt,
       "larger than any model's image"},
      {"VL_v1.bin", ModelAt(vl).maxSize + 1, std::nullopt, false, false, std::nullopt,
       "EXCEEDS the MAXIMUM"},
      {"VL_builtin.bin", 20000, vl, true, true, vl, ""},
  };
  for (const auto& c : cases) {
    const auto bytes = RandomBytes(c.size, 3);
    TrustPolicy policy;
    policy.requireModel = c.requireModel;
    const Admission a = AdmitImage({c.path, bytes, c.forModel, c.builtIn}, policy);
    EXPECT_EQ(a.accepted ? a.modelRow : std::nullopt, c.admittedFor) << c.path << ": " << a.error;
    EXPECT_NE(a.error.find(c.error), std::string::npos) << c.path << ": " << a.error;
    EXPECT_EQ(a.reason.has_value(), !a.accepted) << c.path;
  }
  // The build's own image passes as the build's model, with no signature asked for.
  TrustPolicy requireModel;
  requireModel.requireModel = true;
  const std::size_t build = ModelFromImageName(BuiltinImageName());
  const Admission builtIn =
      AdmitImage({std::string(BuiltinImageName()), BuiltinImage(), build, true}, requireModel);
  EXPECT_TRUE(builtIn.accepted) << builtIn.error;
}

}  // namespace
}  // namespace plcburn
