// Any bytes as a zip archive: the reader unpacks or refuses, and nothing is ever written outside
// the destination folder (the scratch folder holds only the archive and the destination). An
// archive it accepts has exactly the entries a second walk of the central directory finds (written
// apart from the reader: it follows the end record's count and takes a Unicode path field of
// version 1 written for the name bytes), every name is UTF-8 without a colon and within the
// component limit, no two names are equal ignoring case and normalization, at least one entry is
// a file, every file is on disk with its declared size, and the files and folders on disk are
// within the entry limit.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/ZipReader.h"

namespace {

std::uint64_t field(const std::uint8_t* p, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// The name in a Unicode path field (0x7075) of version 1 whose CRC-32 is that of the raw name.
std::optional<std::string> unicodePath(const std::uint8_t* extra, std::uint64_t length, std::string_view raw) {
  for (std::uint64_t at = 0; length - at >= 4;) {
    const std::uint64_t id = field(extra + at, 2), fieldLength = field(extra + at + 2, 2);
    if (length - at - 4 < fieldLength) return std::nullopt;
    const std::uint8_t* body = extra + at + 4;
    if (id == 0x7075) {
      const auto crc = crc32(0, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size()));
      if (fieldLength < 5 || body[0] != 1 || field(body + 1, 4) != crc) return std::nullopt;
      return std::string(reinterpret_cast<const char*>(body + 5), fieldLength - 5);
    }
    at += 4 + fieldLength;
  }
  return std::nullopt;
}

// The names the central directory lists, decoded; nullopt when the walk runs out of bytes.
std::optional<std::vector<std::string>> secondWalk(const std::uint8_t* data, std::size_t size) {
  if (size < 22) return std::nullopt;
  std::size_t end = size - 22;
  const std::size_t lowest = size > 22 + 65535 ? size - 22 - 65535 : 0;
  for (;; --end) {
    if (field(data + end, 4) == 0x06054b50 && end + 22 + field(data + end + 20, 2) == size) break;
    if (end == lowest) return std::nullopt;
  }
  std::uint64_t count = field(data + end + 10, 2), at = field(data + end + 16, 4);
  if (end >= 20 && field(data + end - 20, 4) == 0x07064b50) {
    const std::uint64_t record = field(data + end - 12, 8);
    if (record > size || size - record < 56) return std::nullopt;
    count = field(data + record + 32, 8);
    at = field(data + record + 48, 8);
  }
  std::vector<std::string> names;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (at > size || size - at < 46 || field(data + at, 4) != 0x02014b50) return std::nullopt;
    const auto flags = static_cast<std::uint16_t>(field(data + at + 8, 2));
    const std::uint64_t nameLength = field(data + at + 28, 2), extraLength = field(data + at + 30, 2);
    const std::uint64_t skip = 46 + nameLength + extraLength + field(data + at + 32, 2);
    if (size - at < skip) return std::nullopt;
    const std::string_view raw(reinterpret_cast<const char*>(data + at + 46), nameLength);
    auto name = unicodePath(data + at + 46 + nameLength, extraLength, raw);
    if (!name) name = pf::decodeZipEntryName(raw, flags);
    if (!name) return std::nullopt;
    names.push_back(*name);
    at += skip;
  }
  return names;
}

std::string path(const std::string& name) {
  return !name.empty() && name.back() == '/' ? name.substr(0, name.size() - 1) : name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  static const fs::path root = [] {
    auto path = fs::temp_directory_path() / ("fuzz_zip." + std::to_string(::getpid()));
    fs::create_directories(path / "scratch");
    std::atexit([] { fs::remove_all(fs::temp_directory_path() / ("fuzz_zip." + std::to_string(::getpid()))); });
    return path;
  }();
  const fs::path scratch = root / "scratch";
  const fs::path archive = scratch / "archive.zip";
  const fs::path out = scratch / "out";
  fs::remove_all(out);
  fs::create_directories(out);
  pf::FileManager::writeFile(archive, pf::Bytes(data, data + size), false);
  pf::ZipLimits limits;
  limits.maxUnpackedBytes = 4u << 20;
  limits.maxEntries = 512;
  limits.maxNameComponents = 16;
  const auto entries = pf::ZipReader::entries(archive, limits);
  const bool unpacked = pf::ZipReader::unpack(archive, out, limits);
  std::size_t beside = 0;
  for (const auto& entry : fs::directory_iterator(scratch)) {
    (void)entry;
    ++beside;
  }
  std::size_t above = 0;
  for (const auto& entry : fs::directory_iterator(root)) {
    (void)entry;
    ++above;
  }
  if (beside != 2 || above != 1) std::abort();  // something landed outside the destination
  std::uint64_t made = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (entry.is_symlink()) std::abort();
    ++made;
  }
  if (made > limits.maxEntries) std::abort();
  if (!unpacked) return 0;

  const auto walked = secondWalk(data, size);
  if (entries.empty() || !walked || walked->size() != entries.size()) std::abort();
  bool anyFile = false;
  std::vector<std::string> folded;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& name = entries[i].name;
    if (name != (*walked)[i] || !pf::isValidUtf8(name) || name.find(':') != std::string::npos) std::abort();
    if (static_cast<std::uint64_t>(std::count(name.begin(), name.end(), '/') + 1) >
        limits.maxNameComponents + (entries[i].isDirectory ? 1 : 0))
      std::abort();
    folded.push_back(pf::canonicalFoldedText(path(name)));
    for (std::size_t j = 0; j < i; ++j)
      if (folded[i] == folded[j]) std::abort();
    if (entries[i].isDirectory) continue;
    anyFile = true;
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(out / name)) || fs::file_size(out / name, error) != entries[i].size)
      std::abort();
  }
  if (!anyFile) std::abort();
  return 0;
}
