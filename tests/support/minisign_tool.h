#pragma once
// The real minisign, run by tests to make keys and signatures as a plant would, and the edits
// that tamper with what it made.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace plcburn::testing {

inline std::string Quoted(const std::filesystem::path& path) {
  return "'" + path.string() + "'";
}

// A key pair without a password: NAME.pub and NAME.key in `folder`.
inline bool MakeMinisignKey(const std::filesystem::path& folder, const std::string& name) {
  const std::string command = "minisign -G -W -f -p " + Quoted(folder / (name + ".pub")) + " -s " +
                              Quoted(folder / (name + ".key")) + " </dev/null >/dev/null";
  return std::system(command.c_str()) == 0;
}

// FILE.minisig by the key NAME of `folder`: prehashed, as minisign signs by default, or legacy.
inline bool MinisignSign(const std::filesystem::path& folder, const std::string& name,
                         const std::filesystem::path& file, const std::string& comment,
                         bool legacy = false) {
  const std::string command = "minisign -S " + std::string(legacy ? "-l " : "") + "-s " +
                              Quoted(folder / (name + ".key")) + " -m " + Quoted(file) + " -t " +
                              Quoted(comment) + " </dev/null >/dev/null";
  return std::system(command.c_str()) == 0;
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The text with the character at `at` replaced by another of the same alphabet.
inline std::string Flipped(std::string text, std::size_t at) {
  text[at] = text[at] == 'A' ? 'B' : 'A';
  return text;
}

// Where, in a .minisig, a flip changes only the file's signature (the second line, past the
// algorithm and key id), and only the trusted comment (the last character of the third line).
inline std::size_t InFileSignature(const std::string& minisig) {
  return minisig.find('\n') + 1 + 40;
}
inline std::size_t InTrustedComment(const std::string& minisig) {
  std::size_t line = 0;
  for (int i = 0; i < 3; ++i) line = minisig.find('\n', line) + 1;
  return line - 2;
}

}  // namespace plcburn::testing
