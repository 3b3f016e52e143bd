#pragma once
// File operations with the platform's answers: a boolean or an optional result, and an error of
// the domain "NSCocoaErrorDomain" with the platform's file codes (4 no such file, 260 no such
// file to read, 257/513 no permission, 516 destination exists, 512 other write failure, 256 other
// read failure, 640 out of space), the path under "NSFilePath" and the POSIX error underneath.
// Every operation is safe to call from any thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace pf {

inline constexpr std::int64_t kFileNoSuchFileError = 4;
inline constexpr std::int64_t kFileReadUnknownError = 256;
inline constexpr std::int64_t kFileReadNoPermissionError = 257;
inline constexpr std::int64_t kFileReadNoSuchFileError = 260;
inline constexpr std::int64_t kFileReadTooLargeError = 263;
inline constexpr std::int64_t kFileWriteUnknownError = 512;
inline constexpr std::int64_t kFileWriteNoPermissionError = 513;
inline constexpr std::int64_t kFileWriteFileExistsError = 516;
inline constexpr std::int64_t kFileWriteOutOfSpaceError = 640;
inline constexpr const char* kFilePathErrorKey = "NSFilePath";

enum class FileType { Regular, Directory, SymbolicLink, Other };

// An open file descriptor, closed when it goes.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  void reset();

 private:
  int fd_;
};

struct FileAttributes {
  FileType type = FileType::Other;
  std::uint64_t size = 0;            // bytes
  std::uint64_t allocatedSize = 0;   // blocks x 512
  double modificationDate = 0;       // seconds since 1970
  double creationDate = 0;           // birth time where the file system keeps one, else the change time
  unsigned permissions = 0;          // POSIX mode bits (0777)
};

class FileManager {
 public:
  using Path = std::filesystem::path;

  // Symbolic links are followed, as the platform's existence check follows them.
  static bool fileExists(const Path& path);
  static bool isDirectory(const Path& path);
  static bool isReadable(const Path& path);
  static bool isWritable(const Path& path);

  // With intermediates, an existing folder is success; without, the parent must exist and the
  // folder must not.
  static bool createDirectory(const Path& path, bool withIntermediates, Error* error = nullptr);
  // Creates a file with the bytes (replacing one that exists); false when that fails.
  static bool createFile(const Path& path, const Bytes& contents = {});
  // Creates an empty file only when nothing stands at the path (O_CREAT|O_EXCL): an existing
  // file is never truncated. False with 516 when something exists there.
  static bool createFileIfAbsent(const Path& path, Error* error = nullptr);
  // Removes a file or a folder with everything in it, at any depth with a fixed number of
  // descriptors (at most four). Symbolic links are removed, never followed.
  static bool removeItem(const Path& path, Error* error = nullptr);
  // Both fail with 516 when the destination exists. Moving across file systems copies.
  static bool moveItem(const Path& from, const Path& to, Error* error = nullptr);
  // Swaps two existing items (files or folders) in one step (renameat2 with RENAME_EXCHANGE): each
  // path names the other's item afterwards, and no moment exists where either is missing. Both
  // must be on one file system.
  static bool exchangeItems(const Path& first, const Path& second, Error* error = nullptr);
  static bool copyItem(const Path& from, const Path& to, Error* error = nullptr);

  // Not following a final symbolic link.
  static std::optional<FileAttributes> attributesOfItem(const Path& path, Error* error = nullptr);
  static bool setModificationDate(const Path& path, double secondsSince1970, Error* error = nullptr);

  // Names in the folder (not "." and ".."), sorted; nullopt when it cannot be listed.
  static std::optional<std::vector<std::string>> contentsOfDirectory(const Path& path, Error* error = nullptr);
  // Relative paths of everything below the folder at any depth, each folder's entries sorted and
  // followed by its own subpaths.
  static std::optional<std::vector<std::string>> subpathsOfDirectory(const Path& path, Error* error = nullptr);

  // The whole file, refused when it is larger than maxBytes.
  static std::optional<Bytes> readFile(const Path& path, Error* error = nullptr,
                                       std::uint64_t maxBytes = kDefaultMaxRead);
  // The same for a path from outside (a page, a peer) that must name a plain file: opened without
  // blocking, so a FIFO or a device cannot stall the caller, and refused unless that very
  // descriptor is a regular file of at most maxBytes.
  static std::optional<Bytes> readRegularFile(const Path& path, Error* error = nullptr,
                                              std::uint64_t maxBytes = kDefaultMaxRead);
  // The descriptor of a regular file for reading, opened without blocking (a FIFO or a device
  // cannot stall the caller) and checked on that very descriptor; -1 (error set) otherwise.
  static UniqueFd openRegularFile(const Path& path, Error* error = nullptr);
  // Atomically: into a temporary file of the same folder (".<name>.write-XXXXXX", made by
  // mkstemp), flushed, then renamed over the target, so that readers see the old or the new
  // contents, never a part; the folder is flushed after the rename, so the new contents also
  // survive a power loss.
  static bool writeFile(const Path& path, const Bytes& contents, bool atomically, Error* error = nullptr);
  static bool writeFile(const Path& path, std::string_view contents, bool atomically, Error* error = nullptr);
  // Removes what atomic writes killed before their rename left in `folder`: the regular files
  // named as the writer names its temporary files, for the names `isTarget` accepts. Nothing else
  // goes: no other name, no folder, no link. Each removal is logged. Answers how many went. Call it
  // only while none of those files is being written.
  static std::size_t removeAtomicWriteLeftovers(const Path& folder,
                                                const std::function<bool(std::string_view name)>& isTarget);
  // The name a temporary name was made for: `name` is "." + that name + `mark` + the six letters
  // or digits mkstemp and mkdtemp put for "XXXXXX" (".a.txt.write-Ab3xY9" with the mark ".write-"
  // was made for "a.txt"). Nullopt for any other name. The view points into `name`.
  static std::optional<std::string_view> targetOfTemporaryName(std::string_view name, std::string_view mark);
  // Writes every byte to an open descriptor, going on after interruptions; false (errno set) on
  // failure.
  static bool writeAll(int fd, std::span<const std::uint8_t> bytes);

  // Flushes a folder's own entries to disk (fsync): the names made, renamed or removed in it
  // survive a power loss.
  static bool syncFolder(const Path& folder, Error* error = nullptr);
  // Flushes everything written so far on the file system that holds `path` (syncfs): one call for
  // a whole tree of new files and folders, where a flush of each file would cost a disk round trip
  // apiece.
  static bool syncFileSystem(const Path& path, Error* error = nullptr);

  // Extended attributes; Linux keeps user attributes under "user.", which is added to the name.
  static bool setExtendedAttribute(const Path& path, std::string_view name, const Bytes& value,
                                   Error* error = nullptr);
  static std::optional<Bytes> extendedAttribute(const Path& path, std::string_view name, Error* error = nullptr);
  static bool removeExtendedAttribute(const Path& path, std::string_view name, Error* error = nullptr);

  static constexpr std::uint64_t kDefaultMaxRead = 512ull << 20;
};

}  // namespace pf
