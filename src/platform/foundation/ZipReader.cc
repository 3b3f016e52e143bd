#include "platform/foundation/ZipReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "platform/foundation/FileManager.h"

namespace pf {
namespace {

constexpr std::size_t kMaxNameLength = 4096;
constexpr unsigned kUnixHost = 3;

bool fail(Error* error, std::int64_t code, const std::string& reason) {
  if (error) *error = Error(kZipErrorDomain, code, {{kLocalizedDescriptionKey, reason}});
  return false;
}

struct UnzClose {
  void operator()(void* file) const { unzClose(file); }
};
using UnzHandle = std::unique_ptr<void, UnzClose>;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

std::vector<std::string> components(const std::string& name) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= name.size()) {
    auto end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    out.push_back(name.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Walks the archive's central directory once, checking every entry; `visit` sees each checked entry
// while the archive stands on it. False (with *error) at the first refusal.
template <class Visit>
bool walk(unzFile zip, const ZipLimits& limits, Error* error, Visit&& visit) {
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) return fail(error, kZipNotAnArchive, "unreadable central directory");
  if (global.number_entry > limits.maxEntries) return fail(error, kZipTooManyEntries, "too many entries");
  std::unordered_set<std::string> seen;
  std::uint64_t declared = 0;
  std::array<char, kMaxNameLength + 1> nameBuffer{};
  int status = unzGoToFirstFile(zip);
  for (std::uint64_t index = 0; index < global.number_entry; ++index) {
    if (status != UNZ_OK) return fail(error, kZipNotAnArchive, "unreadable entry");
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nameBuffer.data(), nameBuffer.size(), nullptr, 0, nullptr, 0) != UNZ_OK)
      return fail(error, kZipNotAnArchive, "unreadable entry");
    if (info.size_filename > kMaxNameLength) return fail(error, kZipBadEntryName, "entry name too long");
    std::string name(nameBuffer.data(), info.size_filename);
    if (!ZipReader::isSafeEntryName(name)) return fail(error, kZipBadEntryName, "unsafe entry name");
    const unsigned mode = static_cast<unsigned>(info.external_fa >> 16);
    if ((info.version >> 8) == kUnixHost && S_ISLNK(mode)) return fail(error, kZipSymbolicLink, "symbolic link entry");
    if (info.flag & 1u) return fail(error, kZipEncrypted, "encrypted entry");
    const bool isDirectory = name.back() == '/';
    if (!isDirectory && info.compression_method != 0 && info.compression_method != Z_DEFLATED)
      return fail(error, kZipCorrupt, "unknown compression method");
    std::string key = isDirectory ? name.substr(0, name.size() - 1) : name;
    if (!seen.insert(std::move(key)).second) return fail(error, kZipDuplicateEntry, "duplicate entry");
    declared += info.uncompressed_size;
    if (info.uncompressed_size > limits.maxUnpackedBytes || declared > limits.maxUnpackedBytes)
      return fail(error, kZipTooLarge, "archive too large");
    if (!visit(ZipEntry{std::move(name), info.uncompressed_size, isDirectory}, info)) return false;
    status = unzGoToNextFile(zip);
  }
  return true;
}

UnzHandle openArchive(const std::filesystem::path& archive, Error* error) {
  UnzHandle zip(unzOpen64(archive.c_str()));
  if (!zip) fail(error, kZipNotAnArchive, "not a zip archive");
  return zip;
}

// The folder of an entry below the destination, made as needed; the last one is kept open.
class FolderWalker {
 public:
  explicit FolderWalker(int root) : root_(root) {}

  // The descriptor of the folder made of `parts` (all but the leaf); -1 on failure.
  int folder(const std::vector<std::string>& parts, std::size_t count) {
    std::string key;
    for (std::size_t i = 0; i < count; ++i) key += parts[i] + "/";
    if (count == 0) return root_;
    if (key == cachedKey_ && cached_.get() >= 0) return cached_.get();
    Fd current(::fcntl(root_, F_DUPFD_CLOEXEC, 0));
    for (std::size_t i = 0; i < count && current.get() >= 0; ++i) {
      if (::mkdirat(current.get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST) return -1;
      current = Fd(::openat(current.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (current.get() < 0) return -1;
    cached_ = std::move(current);
    cachedKey_ = std::move(key);
    return cached_.get();
  }

 private:
  int root_;
  Fd cached_;
  std::string cachedKey_;
};

bool extractCurrent(unzFile zip, int folder, const std::string& leaf, const unz_file_info64& info,
                    std::uint64_t& unpacked, const ZipLimits& limits, Error* error) {
  Fd out(::openat(folder, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (out.get() < 0) return fail(error, kZipWriteFailed, std::string("cannot create entry: ") + std::strerror(errno));
  if (unzOpenCurrentFile(zip) != UNZ_OK) return fail(error, kZipCorrupt, "unreadable entry data");
  std::array<std::uint8_t, 64 * 1024> buffer{};
  uLong crc = crc32(0L, Z_NULL, 0);
  std::uint64_t size = 0;
  bool ok = true;
  for (;;) {
    int n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (n < 0) {
      ok = fail(error, kZipCorrupt, "bad entry data");
      break;
    }
    if (n == 0) break;
    size += static_cast<std::uint64_t>(n);
    unpacked += static_cast<std::uint64_t>(n);
    if (size > info.uncompressed_size) {
      ok = fail(error, kZipCorrupt, "entry longer than declared");
      break;
    }
    if (unpacked > limits.maxUnpackedBytes) {
      ok = fail(error, kZipTooLarge, "archive too large");
      break;
    }
    crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
    if (!FileManager::writeAll(out.get(), {buffer.data(), static_cast<std::size_t>(n)})) {
      ok = fail(error, kZipWriteFailed, std::string("cannot write entry: ") + std::strerror(errno));
      break;
    }
  }
  const int closed = unzCloseCurrentFile(zip);
  if (!ok) return false;
  if (closed != UNZ_OK || crc != info.crc || size != info.uncompressed_size)
    return fail(error, kZipCorrupt, "entry fails its check");
  return true;
}

}  // namespace

bool ZipReader::isSafeEntryName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos ||
      name.find('\0') != std::string::npos)
    return false;
  auto parts = components(name);
  if (name.back() == '/') parts.pop_back();  // a folder entry's trailing slash
  if (parts.empty()) return false;
  for (const auto& part : parts)
    if (part.empty() || part == "." || part == "..") return false;
  return true;
}

std::vector<ZipEntry> ZipReader::entries(const Path& archive, const ZipLimits& limits, Error* error) {
  auto zip = openArchive(archive, error);
  if (!zip) return {};
  std::vector<ZipEntry> out;
  if (!walk(zip.get(), limits, error, [&](ZipEntry entry, const unz_file_info64&) {
        out.push_back(std::move(entry));
        return true;
      }))
    return {};
  return out;
}

bool ZipReader::unpack(const Path& archive, const Path& destination, const ZipLimits& limits, Error* error) {
  auto zip = openArchive(archive, error);
  if (!zip) return false;
  // First pass: every name and flag is checked before anything is written.
  if (!walk(zip.get(), limits, error, [](const ZipEntry&, const unz_file_info64&) { return true; })) return false;
  Fd root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (root.get() < 0) return fail(error, kZipWriteFailed, "destination is not a folder");
  FolderWalker folders(root.get());
  std::uint64_t unpacked = 0;
  return walk(zip.get(), limits, error, [&](const ZipEntry& entry, const unz_file_info64& info) {
    auto parts = components(entry.isDirectory ? entry.name.substr(0, entry.name.size() - 1) : entry.name);
    if (entry.isDirectory) {
      if (folders.folder(parts, parts.size()) < 0) return fail(error, kZipWriteFailed, "cannot create folder");
      return true;
    }
    int folder = folders.folder(parts, parts.size() - 1);
    if (folder < 0) return fail(error, kZipWriteFailed, "cannot create folder");
    return extractCurrent(zip.get(), folder, parts.back(), info, unpacked, limits, error);
  });
}

}  // namespace pf
