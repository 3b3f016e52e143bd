#pragma once
// The one zip reader: lists and checks an archive, then unpacks all of it into an empty folder.
// An archive that is no regular file (a FIFO, a device, a folder) is refused without being waited
// on. The archive's structure is read first and trusted in no single record (ZipDirectory.h); then
// every entry is checked before the first byte is written, and the whole archive is refused for
// an entry name that breaks the name rule (isSafeEntryName) or has more components than the
// limit, a symbolic link, an encrypted entry, a method other than stored or deflated, a folder
// entry carrying data, two names equal ignoring case and Unicode normalization (a folder "a/" and
// a file "a" included), no file entry at all, or more files and folders (implied ones included)
// or declared bytes than the limits allow. Checking takes memory and time linear in the central
// directory. While unpacking, bytes are counted as they inflate (declared sizes are not trusted)
// and every entry's CRC-32 is checked; a deflated file without data bytes is empty. Files are made
// with openat(O_EXCL | O_NOFOLLOW) below the destination's descriptor, so nothing is ever written
// outside it. On a refusal the destination may hold a part of the archive: callers unpack into a
// fresh staging folder and throw it away on failure.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/ZipDirectory.h"

namespace pf {

// What one archive may hold (docs/resources.md, "Zip archives").
struct ZipLimits {
  // Records of the central directory, and also the files and folders the names make: each file,
  // and each folder once, whether a folder entry names it or only a path implies it.
  std::uint64_t maxEntries = 10000;
  std::uint64_t maxUnpackedBytes = 128ull << 20;
  // Components of one name ("a/b/c.html" has 3): page trees are a few levels deep.
  std::uint64_t maxNameComponents = 64;
};

struct ZipEntry {
  std::string name;          // decoded to UTF-8 (folders end in "/")
  std::uint64_t size = 0;    // declared uncompressed size
  bool isDirectory = false;
};

class ZipReader {
 public:
  using Path = std::filesystem::path;

  // The checked entry list, in archive order; empty with *error set when the archive is refused.
  // The entries' data is not read: CRC and inflated sizes are checked by unpack.
  static std::vector<ZipEntry> entries(const Path& archive, const ZipLimits& limits, Error* error = nullptr);

  // Unpacks every entry into `destination`, an existing folder. False with *error set on refusal.
  static bool unpack(const Path& archive, const Path& destination, const ZipLimits& limits = {},
                     Error* error = nullptr);

  // The rule for one (decoded) entry name: valid UTF-8 of 1 to 4096 bytes, not starting with "/",
  // without a backslash, NUL or colon, and without an empty, "." or ".." component (a folder's
  // one trailing "/" aside).
  static bool isSafeEntryName(const std::string& name);
};

}  // namespace pf
