#include "platform/foundation/ZipDirectory.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>

#include "platform/foundation/Text.h"

namespace pf {
namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::uint64_t kLocalSize = 30;
constexpr std::uint64_t kCentralSize = 46;
constexpr std::uint64_t kEndSize = 22;
constexpr std::uint64_t kLocatorSize = 20;
constexpr std::uint64_t kZip64EndSize = 56;
constexpr std::uint64_t kMaxComment = 65535;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kUnicodePathExtraId = 0x7075;
constexpr std::uint16_t kEncryptedFlag = 0x0001;
constexpr std::uint16_t kDescriptorFlag = 0x0008;
constexpr std::uint16_t kUtf8Flag = 0x0800;
constexpr std::uint64_t kMax16 = 0xFFFF;
constexpr std::uint64_t kMax32 = 0xFFFFFFFF;

// CP437 bytes 0x80-0xFF (the lower half is ASCII).
constexpr char32_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// A little-endian field of `width` bytes at `at` (the caller has checked the length).
std::uint64_t le(std::string_view bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

std::nullopt_t corrupt(Error* error, const std::string& reason) {
  zipFailure(error, kZipCorrupt, reason);
  return std::nullopt;
}

class ArchiveFile {
 public:
  ArchiveFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  std::uint64_t size() const { return size_; }

  // Exactly `length` bytes at `offset`, or nullopt.
  std::optional<std::string> read(std::uint64_t offset, std::uint64_t length) const {
    if (offset > size_ || length > size_ - offset) return std::nullopt;
    std::string out(static_cast<std::size_t>(length), '\0');
    if (!readZipBytes(fd_, offset, out.data(), out.size())) return std::nullopt;
    return out;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

// The data of the first extra field with this id (nullopt when there is none or the fields run
// out before it).
std::optional<std::string_view> extraField(std::string_view extra, std::uint16_t id) {
  std::size_t at = 0;
  while (extra.size() - at >= 4) {
    const auto fieldId = le(extra, at, 2);
    const auto length = le(extra, at + 2, 2);
    if (extra.size() - at - 4 < length) return std::nullopt;
    if (fieldId == id) return extra.substr(at + 4, length);
    at += 4 + length;
  }
  return std::nullopt;
}

// The name the Unicode path extra field gives, when the field is of version 1 and was written for
// these very name bytes (its CRC-32 is theirs); nullopt otherwise.
std::optional<std::string_view> unicodePath(std::string_view extra, std::string_view rawName) {
  const auto data = extraField(extra, kUnicodePathExtraId);
  if (!data || data->size() < 5 || static_cast<unsigned char>((*data)[0]) != 1) return std::nullopt;
  const auto crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(rawName.data()),
                         static_cast<uInt>(rawName.size()));
  if (le(*data, 1, 4) != crc) return std::nullopt;
  return data->substr(5);
}

// A field of a central record that the zip64 extra field replaces when it holds its placeholder.
struct WideField {
  std::uint64_t* value;
  std::uint64_t placeholder;
  int width;
};

// Reads the wide values of the fields that hold their placeholder, in the order the zip64 extra
// field stores them; false when it lacks one.
bool widen(std::string_view extra, std::initializer_list<WideField> fields) {
  std::optional<std::string_view> data;
  std::size_t at = 0;
  for (const auto& field : fields) {
    if (*field.value != field.placeholder) continue;
    if (!data && !(data = extraField(extra, kZip64ExtraId))) return false;
    if (data->size() - at < static_cast<std::size_t>(field.width)) return false;
    *field.value = le(*data, at, field.width);
    at += static_cast<std::size_t>(field.width);
  }
  return true;
}

struct Directory {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t end = 0;  // where the (zip64) end records begin
  std::uint64_t count = 0;
};

// The end record, found over the whole window a comment allows; its comment must reach exactly
// the end of the file. Then the zip64 end records when their locator sits right before it.
std::optional<Directory> locateDirectory(const ArchiveFile& file, Error* error) {
  if (file.size() < kEndSize) {
    zipFailure(error, kZipNotAnArchive, "not a zip archive");
    return std::nullopt;
  }
  const std::uint64_t window = std::min(file.size(), kEndSize + kMaxComment);
  const auto tail = file.read(file.size() - window, window);
  if (!tail) {
    zipFailure(error, kZipNotAnArchive, "unreadable archive");
    return std::nullopt;
  }
  std::optional<std::size_t> found;
  bool signatureSeen = false;
  for (std::size_t at = static_cast<std::size_t>(window - kEndSize) + 1; at-- > 0;) {
    if (le(*tail, at, 4) != kEndSignature) continue;
    signatureSeen = true;
    if (at + kEndSize + le(*tail, at + 20, 2) == window) {
      found = at;
      break;
    }
  }
  if (!found) {
    if (signatureSeen) return corrupt(error, "the archive comment does not end with the file");
    zipFailure(error, kZipNotAnArchive, "not a zip archive");
    return std::nullopt;
  }
  const std::string_view end = std::string_view(*tail).substr(*found, kEndSize);
  const std::uint64_t position = file.size() - window + *found;
  const std::uint64_t disk = le(end, 4, 2), directoryDisk = le(end, 6, 2);
  const std::uint64_t onDisk = le(end, 8, 2), count = le(end, 10, 2);
  const std::uint64_t size = le(end, 12, 4), offset = le(end, 16, 4);

  const auto locator = position >= kLocatorSize ? file.read(position - kLocatorSize, kLocatorSize) : std::nullopt;
  if (!locator || le(*locator, 0, 4) != kZip64LocatorSignature) {
    if (disk != 0 || directoryDisk != 0 || onDisk != count) return corrupt(error, "archive spans several disks");
    return Directory{offset, size, position, count};
  }
  const std::uint64_t zip64Offset = le(*locator, 8, 8);
  if (le(*locator, 4, 4) != 0 || le(*locator, 16, 4) > 1) return corrupt(error, "archive spans several disks");
  const std::uint64_t locatorAt = position - kLocatorSize;
  if (zip64Offset > locatorAt || locatorAt - zip64Offset < kZip64EndSize)
    return corrupt(error, "zip64 end record out of place");
  const auto record = file.read(zip64Offset, kZip64EndSize);
  if (!record || le(*record, 0, 4) != kZip64EndSignature || le(*record, 4, 8) != locatorAt - zip64Offset - 12)
    return corrupt(error, "zip64 end record does not reach its locator");
  const Directory wide{le(*record, 48, 8), le(*record, 40, 8), zip64Offset, le(*record, 32, 8)};
  if (le(*record, 16, 4) != 0 || le(*record, 20, 4) != 0 || le(*record, 24, 8) != wide.count)
    return corrupt(error, "archive spans several disks");
  // The classic record repeats each value or holds its placeholder.
  auto agrees = [](std::uint64_t classic, std::uint64_t value, std::uint64_t placeholder) {
    return classic == placeholder || classic == value;
  };
  if (!agrees(disk, 0, kMax16) || !agrees(directoryDisk, 0, kMax16) || !agrees(onDisk, wide.count, kMax16) ||
      !agrees(count, wide.count, kMax16) || !agrees(size, wide.size, kMax32) || !agrees(offset, wide.offset, kMax32))
    return corrupt(error, "the end records disagree");
  return wide;
}

// Checks the local header of a record against it and fills in where its data starts; answers
// where the entry ends (after its data descriptor, if any).
std::optional<std::uint64_t> checkLocalHeader(const ArchiveFile& file, std::uint64_t directoryOffset,
                                              std::string_view rawName, ZipRecord& record, Error* error) {
  const std::uint64_t offset = record.localHeaderOffset;
  if (offset > directoryOffset || directoryOffset - offset < kLocalSize)
    return corrupt(error, "local header out of place");
  const auto head = file.read(offset, kLocalSize);
  if (!head || le(*head, 0, 4) != kLocalSignature) return corrupt(error, "no local header at an entry's offset");
  const auto flags = static_cast<std::uint16_t>(le(*head, 6, 2));
  const std::uint64_t nameLength = le(*head, 26, 2), extraLength = le(*head, 28, 2);
  if (directoryOffset - offset - kLocalSize < nameLength + extraLength)
    return corrupt(error, "local header out of place");
  const auto variable = file.read(offset + kLocalSize, nameLength + extraLength);
  if (!variable) return corrupt(error, "unreadable local header");
  if (std::string_view(*variable).substr(0, nameLength) != rawName)
    return corrupt(error, "local header names another entry");
  if (le(*head, 8, 2) != record.method) return corrupt(error, "local header's method differs");
  if ((flags ^ record.flags) & kEncryptedFlag) return corrupt(error, "local header's encryption differs");
  const std::string_view extra = std::string_view(*variable).substr(nameLength);
  record.dataOffset = offset + kLocalSize + nameLength + extraLength;
  if (directoryOffset - record.dataOffset < record.compressedSize)
    return corrupt(error, "entry data runs into the central directory");
  const std::uint64_t dataEnd = record.dataOffset + record.compressedSize;

  if (!(flags & kDescriptorFlag)) {
    std::uint64_t compressed = le(*head, 18, 4), uncompressed = le(*head, 22, 4);
    if (compressed == kMax32 || uncompressed == kMax32) {
      // The local zip64 field holds both sizes (or, short, only the one with a placeholder).
      const auto data = extraField(extra, kZip64ExtraId);
      if (data && data->size() >= 16) {
        if (uncompressed == kMax32) uncompressed = le(*data, 0, 8);
        if (compressed == kMax32) compressed = le(*data, 8, 8);
      } else if (!widen(extra, {{&uncompressed, kMax32, 8}, {&compressed, kMax32, 8}})) {
        return corrupt(error, "local header lacks its zip64 sizes");
      }
    }
    if (le(*head, 14, 4) != record.crc || compressed != record.compressedSize ||
        uncompressed != record.uncompressedSize)
      return corrupt(error, "local header's sizes differ from the central directory");
    return dataEnd;
  }
  // A data descriptor after the data (its signature optional; 8-byte sizes with a zip64 field).
  const std::uint64_t width = extraField(extra, kZip64ExtraId) ? 8 : 4;
  const auto descriptor = file.read(dataEnd, std::min<std::uint64_t>(directoryOffset - dataEnd, 8 + 2 * width));
  if (!descriptor) return corrupt(error, "unreadable data descriptor");
  for (std::uint64_t skip : {std::uint64_t{4}, std::uint64_t{0}}) {
    if (descriptor->size() < skip + 4 + 2 * width) continue;
    if (skip && le(*descriptor, 0, 4) != kDescriptorSignature) continue;
    const int w = static_cast<int>(width);
    if (le(*descriptor, skip, 4) == record.crc && le(*descriptor, skip + 4, w) == record.compressedSize &&
        le(*descriptor, skip + 4 + width, w) == record.uncompressedSize)
      return dataEnd + skip + 4 + 2 * width;
  }
  return corrupt(error, "data descriptor differs from the central directory");
}

}  // namespace

bool readZipBytes(int fd, std::uint64_t offset, void* buffer, std::size_t length) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool zipFailure(Error* error, std::int64_t code, const std::string& reason) {
  if (error) *error = Error(kZipErrorDomain, code, {{kLocalizedDescriptionKey, reason}});
  return false;
}

std::optional<std::string> decodeZipEntryName(std::string_view bytes, std::uint16_t flags) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  if (flags & kUtf8Flag) return std::nullopt;
  std::string out;
  for (unsigned char c : bytes) appendUtf8(out, c < 0x80 ? char32_t{c} : kCp437High[c - 0x80]);
  return out;
}

std::optional<std::vector<ZipRecord>> readZipDirectory(int fd, std::uint64_t maxEntries, Error* error) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    zipFailure(error, kZipNotAnArchive, "unreadable archive");
    return std::nullopt;
  }
  const ArchiveFile file(fd, static_cast<std::uint64_t>(status.st_size));
  const auto directory = locateDirectory(file, error);
  if (!directory) return std::nullopt;
  if (directory->offset > directory->end || directory->end - directory->offset != directory->size)
    return corrupt(error, "the central directory does not end where the end record begins");

  std::vector<ZipRecord> records;
  struct Range {
    std::uint64_t begin, end;
  };
  std::vector<Range> ranges;
  std::uint64_t at = directory->offset;
  while (at < directory->end) {
    if (records.size() == maxEntries) {
      zipFailure(error, kZipTooManyEntries, "too many entries");
      return std::nullopt;
    }
    const auto head = directory->end - at >= kCentralSize ? file.read(at, kCentralSize) : std::nullopt;
    if (!head || le(*head, 0, 4) != kCentralSignature) return corrupt(error, "bad central directory record");
    const std::uint64_t nameLength = le(*head, 28, 2), extraLength = le(*head, 30, 2), commentLength = le(*head, 32, 2);
    if (directory->end - at - kCentralSize < nameLength + extraLength + commentLength)
      return corrupt(error, "central directory record runs past the directory");
    const auto variable = file.read(at + kCentralSize, nameLength + extraLength);
    if (!variable) return corrupt(error, "unreadable central directory");
    const std::string_view rawName = std::string_view(*variable).substr(0, nameLength);
    const std::string_view extra = std::string_view(*variable).substr(nameLength);

    ZipRecord record;
    record.versionMadeBy = static_cast<std::uint16_t>(le(*head, 4, 2));
    record.flags = static_cast<std::uint16_t>(le(*head, 8, 2));
    record.method = static_cast<std::uint16_t>(le(*head, 10, 2));
    record.crc = static_cast<std::uint32_t>(le(*head, 16, 4));
    record.compressedSize = le(*head, 20, 4);
    record.uncompressedSize = le(*head, 24, 4);
    record.externalAttributes = static_cast<std::uint32_t>(le(*head, 38, 4));
    record.localHeaderOffset = le(*head, 42, 4);
    std::uint64_t disk = le(*head, 34, 2);
    if (!widen(extra, {{&record.uncompressedSize, kMax32, 8},
                       {&record.compressedSize, kMax32, 8},
                       {&record.localHeaderOffset, kMax32, 8},
                       {&disk, kMax16, 4}}))
      return corrupt(error, "entry lacks its zip64 fields");
    if (disk != 0) return corrupt(error, "archive spans several disks");
    if (const auto spelled = unicodePath(extra, rawName)) {
      if (!isValidUtf8(*spelled)) {
        zipFailure(error, kZipBadEntryName, "entry's Unicode path is not valid UTF-8");
        return std::nullopt;
      }
      record.name = std::string(*spelled);
    } else {
      auto name = decodeZipEntryName(rawName, record.flags);
      if (!name) {
        zipFailure(error, kZipBadEntryName, "entry name is not valid UTF-8");
        return std::nullopt;
      }
      record.name = std::move(*name);
    }
    const auto end = checkLocalHeader(file, directory->offset, rawName, record, error);
    if (!end) return std::nullopt;
    ranges.push_back({record.localHeaderOffset, *end});
    records.push_back(std::move(record));
    at += kCentralSize + nameLength + extraLength + commentLength;
  }
  if (records.size() != directory->count)
    return corrupt(error, "the end record counts " + std::to_string(directory->count) +
                              " entries, the central directory holds " + std::to_string(records.size()));
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });
  if ((ranges.empty() ? directory->offset : ranges.front().begin) != 0)
    return corrupt(error, "bytes before the first entry");
  for (std::size_t i = 1; i < ranges.size(); ++i)
    if (ranges[i].begin < ranges[i - 1].end) return corrupt(error, "entries overlap");
  return records;
}

}  // namespace pf
