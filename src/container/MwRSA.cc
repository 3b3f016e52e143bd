#include "container/MwRSA.h"

#include <algorithm>
#include <filesystem>

#include "platform/foundation/FileManager.h"

namespace container {
namespace {

// Twelve bytes fewer than the block, as the server expects (not the eleven of PKCS#1).
constexpr std::size_t kChunkReserve = 12;

}  // namespace

std::optional<pf::Bytes> MwRSA::encrypt(std::span<const std::uint8_t> data, const std::optional<pf::Key>& key) {
  if (data.empty() || !key) return std::nullopt;
  const std::size_t block = key->blockSize();
  if (block <= kChunkReserve) return std::nullopt;
  const std::size_t chunk = block - kChunkReserve;
  const std::size_t chunks = (data.size() + chunk - 1) / chunk;
  pf::Bytes out;
  out.reserve(chunks * block);
  for (std::size_t i = 0; i < chunks; ++i) {
    auto piece = data.subspan(i * chunk, std::min(chunk, data.size() - i * chunk));
    auto cipher = key->rawRsa(piece);
    if (!cipher) return std::nullopt;
    out.insert(out.end(), cipher->begin(), cipher->end());
  }
  return out;
}

std::optional<pf::Bytes> MwRSA::decrypt(std::span<const std::uint8_t> data, const std::optional<pf::Key>& key) {
  if (data.empty() || !key) return std::nullopt;
  const std::size_t block = key->blockSize();
  if (block == 0) return std::nullopt;
  pf::Bytes out;
  out.reserve(data.size());
  for (std::size_t offset = 0; offset < data.size(); offset += block) {
    auto piece = data.subspan(offset, std::min(block, data.size() - offset));
    auto plain = key->rawRsa(piece);
    if (!plain) return std::nullopt;
    auto first = std::find_if(plain->begin(), plain->end(), [](std::uint8_t b) { return b != 0; });
    out.insert(out.end(), first, plain->end());
  }
  return out;
}

bool MwRSA::encryptWriteFile(const std::string& path, std::span<const std::uint8_t> data,
                             const std::optional<pf::Key>& key) {
  auto cipher = encrypt(data, key);
  std::error_code ec;
  if (!cipher || path.empty() || std::filesystem::is_directory(path, ec)) return false;
  // Atomically, so the path holds either the old file or the whole new one.
  return pf::FileManager::writeFile(path, *cipher, true);
}

std::optional<pf::Bytes> MwRSA::decryptReadFile(const std::string& path, const std::optional<pf::Key>& key) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  auto contents = pf::FileManager::readFile(path);
  if (!contents) return std::nullopt;
  return decrypt(*contents, key);
}

}  // namespace container
