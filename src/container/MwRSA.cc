#include "container/MwRSA.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace container {
namespace {

// Twelve bytes fewer than the block, as the server expects (not the eleven of PKCS#1).
constexpr std::size_t kChunkReserve = 12;

bool writeAll(int fd, const pf::Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

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
  if (!cipher || path.empty()) return false;
  // Written beside the target and renamed over it, so the path holds either the old file or
  // the whole new one.
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = writeAll(fd, *cipher) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) {
    ::chmod(temp.c_str(), 0644);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) ok = false;
    else ok = ::rename(temp.c_str(), path.c_str()) == 0;
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::optional<pf::Bytes> MwRSA::decryptReadFile(const std::string& path, const std::optional<pf::Key>& key) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  pf::Bytes contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return decrypt(contents, key);
}

}  // namespace container
