#include "container/MwLicenseKey.h"

#include <cctype>
#include <mutex>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/security/Digest.h"

namespace container {
namespace {

constexpr const char* kKeyFileName = "mwframework_license";
constexpr std::uint64_t kMaxKeyFile = 64 * 1024;
constexpr std::size_t kHashLength = 64;  // hex of SHA-256

pf::Mutex directoryMutex;
std::filesystem::path testDirectory PF_GUARDED_BY(directoryMutex);

std::optional<pf::Bytes> keyFile() {
  std::filesystem::path path;
  {
    pf::MutexLock lock(directoryMutex);
    path = testDirectory;
  }
  if (path.empty()) {
    auto found = pf::Bundle::main()->pathForResource(kKeyFileName, "");
    if (!found) return std::nullopt;
    path = *found;
  } else {
    path /= kKeyFileName;
  }
  auto bytes = pf::FileManager::readRegularFile(path, nullptr, kMaxKeyFile);
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes;
}

// Where the root element's name ends in the text (the hash attribute's place); npos when there is
// no root start tag. Skips the declaration, processing instructions and comments before it.
std::size_t rootNameEnd(std::string_view text) {
  std::size_t pos = 0;
  for (;;) {
    pos = text.find('<', pos);
    if (pos == std::string_view::npos || pos + 1 >= text.size()) return std::string_view::npos;
    if (text.compare(pos, 4, "<!--") == 0) {
      pos = text.find("-->", pos + 4);
      if (pos == std::string_view::npos) return pos;
      continue;
    }
    if (text[pos + 1] == '?' || text[pos + 1] == '!') {
      pos = text.find('>', pos);
      if (pos == std::string_view::npos) return pos;
      continue;
    }
    std::size_t end = pos + 1;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) && text[end] != '/' &&
           text[end] != '>')
      ++end;
    return end > pos + 1 ? end : std::string_view::npos;
  }
}

bool isUpperHex(std::string_view text) {
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c)) && !(c >= 'A' && c <= 'F')) return false;
  return true;
}

}  // namespace

std::optional<std::string> MwLicenseKey::keyForName(std::string_view name) {
  auto key = keyFile();
  if (!key) return std::nullopt;
  return pf::hexEncode(pf::hmac(pf::DigestAlgorithm::Sha256, *key,
                                {reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}),
                       true);
}

std::optional<std::string> MwLicenseKey::fileHash(std::string_view hashedText, std::string_view fileName) {
  auto key = keyForName(fileName);
  if (!key) return std::nullopt;
  pf::Digester digester(pf::DigestAlgorithm::Sha256);
  digester.update(hashedText);
  digester.update(*key);
  return pf::hexEncode(digester.finish(), true);
}

std::optional<std::string> MwLicenseKey::signXMLText(const std::string& xmlWithoutHash, std::string_view fileName) {
  const std::size_t at = rootNameEnd(xmlWithoutHash);
  if (at == std::string::npos) return std::nullopt;
  auto hash = fileHash(xmlWithoutHash, fileName);
  if (!hash) return std::nullopt;
  std::string out = xmlWithoutHash;
  out.insert(at, " hash=\"" + *hash + "\"");
  return out;
}

bool MwLicenseKey::verifyXMLText(const std::string& xmlText, std::string_view fileName) {
  const std::size_t at = rootNameEnd(xmlText);
  static constexpr std::string_view kOpen = " hash=\"";
  if (at == std::string::npos || xmlText.size() < at + kOpen.size() + kHashLength + 1) return false;
  if (xmlText.compare(at, kOpen.size(), kOpen) != 0 || xmlText[at + kOpen.size() + kHashLength] != '"') return false;
  std::string_view stored(xmlText.data() + at + kOpen.size(), kHashLength);
  if (!isUpperHex(stored)) return false;
  std::string without = xmlText;
  without.erase(at, kOpen.size() + kHashLength + 1);
  auto expected = fileHash(without, fileName);
  return expected && *expected == stored;
}

void MwLicenseKey::setKeyDirectoryForTesting(const std::filesystem::path& directory) {
  pf::MutexLock lock(directoryMutex);
  testDirectory = directory;
}

}  // namespace container
