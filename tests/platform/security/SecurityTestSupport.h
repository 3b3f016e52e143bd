#pragma once
// Helpers of the security tests: the generated PKI, file access and the openssl command.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "support/TestSupport.h"

namespace sectest {

inline pf::Bytes readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return pf::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::filesystem::path& path) { return pf::toString(readBytes(path)); }

inline void writeBytes(const std::filesystem::path& path, const pf::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs a command to its end; its exit status.
inline int run(std::vector<std::string> argv) {
  fxtest::ChildProcess child(std::move(argv));
  while (child.readLine(20000)) {
  }
  return child.wait(20000);
}

inline std::string hex(const pf::Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (auto b : bytes) out += digits[b >> 4], out += digits[b & 15];
  return out;
}

inline pf::Bytes unhex(const std::string& text) {
  pf::Bytes out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return out;
}

// The folder of certificates and keys written by peers/make_pki.py, made once per process.
inline const std::filesystem::path& pki() {
  static fxtest::TempDir dir;
  static const bool made = [] {
    auto script = fxtest::sourceDir() / "tests/platform/security/peers/make_pki.py";
    fxtest::ChildProcess child({fxtest::kPython, script.string(), dir.path().string()});
    auto line = child.readLine(30000);
    child.wait(30000);
    if (!line || *line != "ok") throw std::runtime_error("make_pki.py failed");
    return true;
  }();
  (void)made;
  return dir.path();
}

}  // namespace sectest
