#pragma once
// The one zip reader (over minizip): lists and checks an archive, then unpacks all of it into an
// empty folder. Every entry is checked before the first byte is written, and the whole archive is
// refused for any entry that is absolute, has an empty, "." or ".." component, a backslash or a NUL
// in its name, is a symbolic link, is encrypted, appears twice, or would pass the limits. While
// unpacking, bytes are counted as they inflate (declared sizes are not trusted) and every entry's
// CRC-32 is checked. Files are made with openat(O_EXCL | O_NOFOLLOW) below the destination's
// descriptor, so nothing is ever written outside it. On a refusal the destination may hold a part
// of the archive: callers unpack into a fresh staging folder and throw it away on failure.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"

namespace pf {

inline constexpr const char* kZipErrorDomain = "ZipErrorDomain";

// Error codes (domain kZipErrorDomain; the reason is the localized description).
enum ZipErrorCode : std::int64_t {
  kZipNotAnArchive = 1,    // unreadable or not a zip archive
  kZipBadEntryName = 2,    // absolute, "..", ".", empty component, backslash or NUL
  kZipSymbolicLink = 3,
  kZipEncrypted = 4,
  kZipDuplicateEntry = 5,
  kZipTooManyEntries = 6,
  kZipTooLarge = 7,        // more unpacked bytes than allowed
  kZipCorrupt = 8,         // bad CRC, bad deflate data, size differs from the directory
  kZipWriteFailed = 9,     // the destination could not be written
};

struct ZipLimits {
  std::uint64_t maxEntries = 10000;
  std::uint64_t maxUnpackedBytes = 128ull << 20;
};

struct ZipEntry {
  std::string name;          // as stored (folders end in "/")
  std::uint64_t size = 0;    // declared uncompressed size
  bool isDirectory = false;
};

class ZipReader {
 public:
  using Path = std::filesystem::path;

  // The checked entry list, in archive order; empty with *error set when the archive is refused.
  static std::vector<ZipEntry> entries(const Path& archive, const ZipLimits& limits, Error* error = nullptr);

  // Unpacks every entry into `destination`, an existing folder. False with *error set on refusal.
  static bool unpack(const Path& archive, const Path& destination, const ZipLimits& limits = {},
                     Error* error = nullptr);

  // The rule for one entry name (exposed for the checks of callers and tests).
  static bool isSafeEntryName(const std::string& name);
};

}  // namespace pf
