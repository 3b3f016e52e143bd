#include "platform/foundation/ZipReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Text.h"

namespace pf {
namespace {

constexpr std::size_t kMaxNameLength = 4096;
constexpr std::size_t kChunk = 64 * 1024;
constexpr unsigned kUnixHost = 3;
constexpr std::uint16_t kEncryptedFlags = 0x0001 | 0x0040;  // encrypted, strongly encrypted
constexpr std::uint16_t kStored = 0;

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

bool isDirectoryName(const std::string& name) { return !name.empty() && name.back() == '/'; }

// The path of an entry without a folder's trailing "/".
std::string entryPath(const std::string& name) {
  return isDirectoryName(name) ? name.substr(0, name.size() - 1) : name;
}

// The folders and files that the names make, each kept once under its parent folder by its
// folded component (never by its whole path): checking takes memory and time linear in the names.
class NameTree {
 public:
  // Adds an entry's path (its components); false with *error set when it makes a duplicate or
  // passes the entry limit.
  bool add(const std::vector<std::string>& parts, bool isDirectory, const ZipLimits& limits, Error* error) {
    std::uint64_t parent = 0;  // the destination
    const std::size_t folderCount = isDirectory ? parts.size() : parts.size() - 1;
    for (std::size_t i = 0; i < folderCount; ++i) {
      Key key{parent, canonicalFoldedText(parts[i])};
      auto found = folders_.find(key);
      if (found == folders_.end()) {
        if (files_.count(key)) return duplicate(error);
        if (!count(limits, error)) return false;
        found = folders_.emplace(std::move(key), Folder{made_, parts[i]}).first;
      } else if (found->second.spelled != parts[i]) {
        return duplicate(error);  // one folder spelled two ways
      }
      parent = found->second.id;
    }
    if (isDirectory) {
      if (!namedFolders_.insert(parent).second) return duplicate(error);
      return true;
    }
    Key key{parent, canonicalFoldedText(parts.back())};
    if (folders_.count(key) || !files_.insert(std::move(key)).second) return duplicate(error);
    return count(limits, error);
  }

 private:
  struct Key {
    std::uint64_t parent;
    std::string folded;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const {
      return std::hash<std::string>()(key.folded) ^ static_cast<std::size_t>(key.parent * 0x9E3779B97F4A7C15ull);
    }
  };
  struct Folder {
    std::uint64_t id;
    std::string spelled;
  };

  static bool duplicate(Error* error) { return zipFailure(error, kZipDuplicateEntry, "duplicate entry"); }
  bool count(const ZipLimits& limits, Error* error) {
    if (++made_ > limits.maxEntries) return zipFailure(error, kZipTooManyEntries, "too many entries and folders");
    return true;
  }

  std::unordered_map<Key, Folder, KeyHash> folders_;
  std::unordered_set<Key, KeyHash> files_;
  std::unordered_set<std::uint64_t> namedFolders_;  // folders a folder entry names
  std::uint64_t made_ = 0;                           // files and folders so far (a folder's id)
};

// Every record is checked before anything is written: names, kinds, methods, duplicates ignoring
// case and normalization (of the named entries and the folders their paths imply), at least one
// file, the limits.
bool checkRecords(const std::vector<ZipRecord>& records, const ZipLimits& limits, Error* error) {
  NameTree tree;
  std::uint64_t declared = 0;
  std::size_t fileCount = 0;
  for (const auto& record : records) {
    if (!ZipReader::isSafeEntryName(record.name)) return zipFailure(error, kZipBadEntryName, "unsafe entry name");
    const unsigned mode = record.externalAttributes >> 16;
    if ((record.versionMadeBy >> 8) == kUnixHost && S_ISLNK(mode))
      return zipFailure(error, kZipSymbolicLink, "symbolic link entry");
    if (record.flags & kEncryptedFlags) return zipFailure(error, kZipEncrypted, "encrypted entry");
    const bool isDirectory = isDirectoryName(record.name);
    if (isDirectory) {
      if (record.uncompressedSize != 0 || (record.method == kStored && record.compressedSize != 0))
        return zipFailure(error, kZipCorrupt, "folder entry carries data");
    } else {
      if (record.method != kStored && record.method != Z_DEFLATED)
        return zipFailure(error, kZipCorrupt, "unknown compression method");
      if (record.method == kStored && record.compressedSize != record.uncompressedSize)
        return zipFailure(error, kZipCorrupt, "stored entry's sizes differ");
      ++fileCount;
    }
    const auto parts = components(entryPath(record.name));
    if (parts.size() > limits.maxNameComponents)
      return zipFailure(error, kZipBadEntryName,
                        "entry name has more than " + std::to_string(limits.maxNameComponents) + " components");
    if (!tree.add(parts, isDirectory, limits, error)) return false;
    declared += record.uncompressedSize;
    if (record.uncompressedSize > limits.maxUnpackedBytes || declared > limits.maxUnpackedBytes)
      return zipFailure(error, kZipTooLarge, "archive too large");
  }
  if (fileCount == 0) return zipFailure(error, kZipNoFiles, "no file in the archive");
  return true;
}

// The archive open, its structure read and every record checked.
std::optional<std::pair<UniqueFd, std::vector<ZipRecord>>> openChecked(const std::filesystem::path& archive,
                                                                       const ZipLimits& limits, Error* error) {
  // A FIFO or a device in the archive's place is refused, never waited on.
  UniqueFd file = FileManager::openRegularFile(archive);
  if (file.get() < 0) {
    zipFailure(error, kZipNotAnArchive, "unreadable archive");
    return std::nullopt;
  }
  auto records = readZipDirectory(file.get(), limits.maxEntries, error);
  if (!records || !checkRecords(*records, limits, error)) return std::nullopt;
  return std::make_pair(std::move(file), std::move(*records));
}

// The folder of an entry below the destination, made as needed. The folders of the last entry
// stay open, one descriptor a level (at most the name component limit): the next entry walks only
// the levels where its folder differs.
class FolderWalker {
 public:
  explicit FolderWalker(int root) : root_(root) {}

  // The descriptor of the folder made of the first `count` of `parts`; -1 on failure.
  int folder(const std::vector<std::string>& parts, std::size_t count) {
    std::size_t same = 0;
    while (same < count && same < levels_.size() && levels_[same].name == parts[same]) ++same;
    levels_.resize(same);
    while (levels_.size() < count) {
      const int parent = levels_.empty() ? root_ : levels_.back().fd.get();
      const std::string& name = parts[levels_.size()];
      if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) return -1;
      UniqueFd next(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (next.get() < 0) return -1;
      levels_.push_back({name, std::move(next)});
    }
    return levels_.empty() ? root_ : levels_.back().fd.get();
  }

 private:
  struct Level {
    std::string name;
    UniqueFd fd;
  };
  int root_;
  std::vector<Level> levels_;  // the current folder's, from the top
};

// Reads one entry's data (inflating deflated data) and hands every piece to `sink`, counting the
// bytes against the declared size and the limit as they come; then checks size and CRC-32.
template <class Sink>
bool readEntryData(int archive, const ZipRecord& record, std::uint64_t& unpacked, const ZipLimits& limits,
                   Error* error, Sink&& sink) {
  const bool inflating = record.method == Z_DEFLATED;
  z_stream stream{};
  if (inflating && inflateInit2(&stream, -MAX_WBITS) != Z_OK) return zipFailure(error, kZipCorrupt, "cannot inflate");
  struct End {
    z_stream* stream;
    ~End() {
      if (stream) inflateEnd(stream);
    }
  } end{inflating ? &stream : nullptr};

  std::vector<std::uint8_t> input(kChunk), output(inflating ? kChunk : 0);
  std::uint64_t size = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  auto emit = [&](const std::uint8_t* bytes, std::size_t n) {
    size += n;
    unpacked += n;
    if (size > record.uncompressedSize) return zipFailure(error, kZipCorrupt, "entry longer than declared");
    if (unpacked > limits.maxUnpackedBytes) return zipFailure(error, kZipTooLarge, "archive too large");
    crc = crc32(crc, bytes, static_cast<uInt>(n));
    return sink(bytes, n);
  };
  // A deflated entry without any data bytes holds nothing, as other readers take it.
  bool ended = !inflating || record.compressedSize == 0;
  std::uint64_t offset = record.dataOffset, remaining = record.compressedSize;
  while (remaining > 0 && !(inflating && ended)) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunk));
    if (!readZipBytes(archive, offset, input.data(), n)) return zipFailure(error, kZipCorrupt, "unreadable entry data");
    offset += n;
    remaining -= n;
    if (!inflating) {
      if (!emit(input.data(), n)) return false;
      continue;
    }
    stream.next_in = input.data();
    stream.avail_in = static_cast<uInt>(n);
    do {
      stream.next_out = output.data();
      stream.avail_out = static_cast<uInt>(output.size());
      const int status = inflate(&stream, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
        return zipFailure(error, kZipCorrupt, "bad entry data");
      const std::size_t produced = output.size() - stream.avail_out;
      if (produced && !emit(output.data(), produced)) return false;
      if (status == Z_STREAM_END) {
        ended = true;
        break;
      }
      if (status == Z_BUF_ERROR) break;  // wants more input
    } while (stream.avail_in > 0 || stream.avail_out == 0);
  }
  if (!ended) return zipFailure(error, kZipCorrupt, "entry data ends early");
  if (size != record.uncompressedSize || crc != record.crc)
    return zipFailure(error, kZipCorrupt, "entry fails its check");
  return true;
}

bool extractFile(int archive, int folder, const std::string& leaf, const ZipRecord& record, std::uint64_t& unpacked,
                 const ZipLimits& limits, Error* error) {
  UniqueFd out(::openat(folder, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (out.get() < 0)
    return zipFailure(error, kZipWriteFailed, std::string("cannot create entry: ") + std::strerror(errno));
  return readEntryData(archive, record, unpacked, limits, error, [&](const std::uint8_t* bytes, std::size_t n) {
    if (FileManager::writeAll(out.get(), {bytes, n})) return true;
    return zipFailure(error, kZipWriteFailed, std::string("cannot write entry: ") + std::strerror(errno));
  });
}

}  // namespace

bool ZipReader::isSafeEntryName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength || name.front() == '/' || !isValidUtf8(name) ||
      name.find_first_of(std::string("\\:\0", 3)) != std::string::npos)
    return false;
  auto parts = components(name);
  if (name.back() == '/') parts.pop_back();  // a folder entry's trailing slash
  if (parts.empty()) return false;
  for (const auto& part : parts)
    if (part.empty() || part == "." || part == "..") return false;
  return true;
}

std::vector<ZipEntry> ZipReader::entries(const Path& archive, const ZipLimits& limits, Error* error) {
  auto opened = openChecked(archive, limits, error);
  if (!opened) return {};
  std::vector<ZipEntry> out;
  for (auto& record : opened->second) {
    const bool isDirectory = isDirectoryName(record.name);
    out.push_back({std::move(record.name), record.uncompressedSize, isDirectory});
  }
  return out;
}

bool ZipReader::unpack(const Path& archive, const Path& destination, const ZipLimits& limits, Error* error) {
  auto opened = openChecked(archive, limits, error);
  if (!opened) return false;
  const int file = opened->first.get();
  UniqueFd root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (root.get() < 0) return zipFailure(error, kZipWriteFailed, "destination is not a folder");
  FolderWalker folders(root.get());
  std::uint64_t unpacked = 0;
  for (const auto& record : opened->second) {
    const auto parts = components(entryPath(record.name));
    if (isDirectoryName(record.name)) {
      if (folders.folder(parts, parts.size()) < 0) return zipFailure(error, kZipWriteFailed, "cannot create folder");
      // A deflated folder entry's data must inflate to nothing.
      if (record.compressedSize > 0 &&
          !readEntryData(file, record, unpacked, limits, error, [](const std::uint8_t*, std::size_t) { return true; }))
        return false;
      continue;
    }
    const int folder = folders.folder(parts, parts.size() - 1);
    if (folder < 0) return zipFailure(error, kZipWriteFailed, "cannot create folder");
    if (!extractFile(file, folder, parts.back(), record, unpacked, limits, error)) return false;
  }
  return true;
}

}  // namespace pf
