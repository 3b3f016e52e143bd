#pragma once
// The structure of a zip archive, read without trusting any one record of it. The end record is
// searched over the whole window the format allows (22 + 65,535 bytes) and its comment must end
// exactly at the end of the file; the zip64 end records are read when their locator sits before
// it. The central directory is then walked record by record: it must start at the offset and span
// the size that the end records give, hold exactly the entries they count, and end exactly where
// the end records begin. Each entry's local header must repeat its name and method and carry its
// CRC and sizes (or be followed by a data descriptor that does); entries must not overlap, the
// first must start the file, and none may reach into the central directory. Sizes and offsets of
// 0xFFFFFFFF are read from the zip64 extra field. A name is taken from the Unicode path extra
// field (0x7075) when that field is of version 1 and carries the CRC-32 of the name bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"

namespace pf {

inline constexpr const char* kZipErrorDomain = "ZipErrorDomain";

// Error codes (domain kZipErrorDomain; the reason is the localized description).
enum ZipErrorCode : std::int64_t {
  kZipNotAnArchive = 1,    // unreadable, or no end record
  kZipBadEntryName = 2,    // see ZipReader::isSafeEntryName, or a name that does not decode
  kZipSymbolicLink = 3,
  kZipEncrypted = 4,
  kZipDuplicateEntry = 5,  // two names equal ignoring case (a folder "a/" and a file "a" included)
  kZipTooManyEntries = 6,
  kZipTooLarge = 7,        // more unpacked bytes than allowed
  kZipCorrupt = 8,         // records that disagree, overlap or run out; bad CRC or deflate data
  kZipWriteFailed = 9,     // the destination could not be written
  kZipNoFiles = 10,        // not one file entry
};

// One entry of the central directory, checked against its local header.
struct ZipRecord {
  std::string name;  // UTF-8: the Unicode path field's, or decodeZipEntryName's; folders end in "/"
  std::uint16_t versionMadeBy = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint32_t externalAttributes = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint64_t localHeaderOffset = 0;
  std::uint64_t dataOffset = 0;  // the first byte of the stored or deflated data
};

// The records of the archive open at `fd`, in directory order; nullopt with *error set when the
// structure does not hold together or more than `maxEntries` records are present.
std::optional<std::vector<ZipRecord>> readZipDirectory(int fd, std::uint64_t maxEntries, Error* error = nullptr);

// Exactly `length` bytes of the archive at `offset` (pread); false when they cannot be read.
bool readZipBytes(int fd, std::uint64_t offset, void* buffer, std::size_t length);

// Sets *error (when given) to a zip error with the reason; answers false.
bool zipFailure(Error* error, std::int64_t code, const std::string& reason);

// An entry name's bytes as UTF-8. With the UTF-8 flag (bit 11) the bytes must be valid,
// shortest-form UTF-8 (else nullopt); without it valid UTF-8 is taken as it is and any other
// bytes are read as CP437. Raw bytes are never passed on.
std::optional<std::string> decodeZipEntryName(std::string_view bytes, std::uint16_t flags);

}  // namespace pf
