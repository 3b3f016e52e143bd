#include "platform/foundation/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/foundation/Log.h"

namespace pf {
namespace {

namespace fs = std::filesystem;

// What the atomic writer puts between the target's name and mkstemp's six characters.
constexpr std::string_view kAtomicWriteMark = ".write-";

// An open folder listing, closed however the scope is left (a name that cannot be stored raises).
struct CloseDir {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, CloseDir>;

Error fileError(std::int64_t code, const fs::path& path, int errnoValue, const std::string& what) {
  Value info = {{kLocalizedDescriptionKey, what + " \u201c" + path.filename().string() + "\u201d: " +
                                               std::strerror(errnoValue)},
                {kFilePathErrorKey, path.string()}};
  return Error(kCocoaErrorDomain, code, std::move(info)).withUnderlying(posixError(errnoValue));
}

std::int64_t readCode(int e) {
  if (e == ENOENT || e == ENOTDIR) return kFileReadNoSuchFileError;
  if (e == EACCES || e == EPERM) return kFileReadNoPermissionError;
  return kFileReadUnknownError;
}

std::int64_t writeCode(int e) {
  if (e == EEXIST || e == ENOTEMPTY) return kFileWriteFileExistsError;
  if (e == EACCES || e == EPERM || e == EROFS) return kFileWriteNoPermissionError;
  if (e == ENOSPC || e == EDQUOT) return kFileWriteOutOfSpaceError;
  if (e == ENOENT) return kFileNoSuchFileError;
  return kFileWriteUnknownError;
}

bool failWith(Error* error, std::int64_t code, const fs::path& path, int e, const std::string& what) {
  if (error) *error = fileError(code, path, e, what);
  return false;
}

double toSeconds(const struct timespec& ts) { return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9; }

std::string userAttributeName(std::string_view name) { return "user." + std::string(name); }


// Removes the folder `name` below `parentFd` with everything in it, at any depth: it descends
// one folder at a time and climbs back through "..", checked to be the folder it came from, so it
// holds at most three descriptors of its own; what it keeps is the names of the folders still to
// remove on its way down. Answers 0, or the errno of the first failure (ESTALE when a folder was
// moved while it was being emptied).
int removeTree(int parentFd, const std::string& name) {
  struct Level {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;                  // its name in the level above
    std::vector<std::string> folders;  // its folders still to remove
  };
  std::vector<Level> levels;
  // Opens a folder of the current level, removes everything in it but folders, and keeps those.
  auto enter = [&levels](int above, const std::string& child, UniqueFd& current) -> int {
    UniqueFd opened(::openat(above, child.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (opened.get() < 0 || ::fstat(opened.get(), &st) != 0) return errno;
    Level level{st.st_dev, st.st_ino, child, {}};
    std::vector<std::string> others;
    const int copy = ::fcntl(opened.get(), F_DUPFD_CLOEXEC, 0);
    UniqueDir dir(copy < 0 ? nullptr : ::fdopendir(copy));
    if (!dir) {
      const int e = errno;
      if (copy >= 0) ::close(copy);
      return e;
    }
    for (;;) {
      errno = 0;
      const struct dirent* entry = ::readdir(dir.get());
      if (!entry) break;
      const std::string_view entryName = entry->d_name;
      if (entryName == "." || entryName == "..") continue;
      bool folder = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat child {};
        folder = ::fstatat(opened.get(), entry->d_name, &child, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(child.st_mode);
      }
      (folder ? level.folders : others).emplace_back(entryName);
    }
    const int listed = errno;
    dir.reset();
    if (listed) return listed;
    for (const auto& other : others)
      if (::unlinkat(opened.get(), other.c_str(), 0) != 0 && errno != ENOENT) return errno;
    levels.push_back(std::move(level));
    current = std::move(opened);
    return 0;
  };

  UniqueFd current;
  if (const int e = enter(parentFd, name, current)) return e;
  for (;;) {
    Level& level = levels.back();
    if (!level.folders.empty()) {
      const std::string child = std::move(level.folders.back());
      level.folders.pop_back();
      if (const int e = enter(current.get(), child, current)) return e;
      continue;
    }
    if (levels.size() == 1) break;
    const std::string emptied = std::move(level.name);
    levels.pop_back();
    UniqueFd up(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (up.get() < 0 || ::fstat(up.get(), &st) != 0) return errno;
    if (st.st_dev != levels.back().device || st.st_ino != levels.back().inode) return ESTALE;
    current = std::move(up);
    if (::unlinkat(current.get(), emptied.c_str(), AT_REMOVEDIR) != 0) return errno;
  }
  current.reset();
  return ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

void collectSubpaths(const fs::path& root, const std::string& prefix, std::vector<std::string>& out, int depth) {
  if (depth > 256) return;  // a loop of bind mounts or an absurd tree: stop descending
  auto names = FileManager::contentsOfDirectory(root);
  if (!names) return;
  for (const auto& name : *names) {
    std::string relative = prefix.empty() ? name : prefix + "/" + name;
    out.push_back(relative);
    struct stat st {};
    if (::lstat((root / name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      collectSubpaths(root / name, relative, out, depth + 1);
  }
}

}  // namespace

bool FileManager::fileExists(const Path& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool FileManager::isDirectory(const Path& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileManager::isReadable(const Path& path) { return !path.empty() && ::access(path.c_str(), R_OK) == 0; }
bool FileManager::isWritable(const Path& path) { return !path.empty() && ::access(path.c_str(), W_OK) == 0; }

bool FileManager::createDirectory(const Path& path, bool withIntermediates, Error* error) {
  if (path.empty()) return failWith(error, kFileNoSuchFileError, path, ENOENT, "Could not create the folder");
  if (!withIntermediates) {
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    int e = errno;
    return failWith(error, writeCode(e), path, e, "Could not create the folder");
  }
  std::error_code ec;
  fs::create_directories(path, ec);
  if (!ec && isDirectory(path)) return true;
  int e = ec ? ec.value() : EEXIST;
  return failWith(error, writeCode(e), path, e, "Could not create the folder");
}

bool FileManager::createFile(const Path& path, const Bytes& contents) { return writeFile(path, contents, false); }

bool FileManager::createFileIfAbsent(const Path& path, Error* error) {
  if (path.empty()) return failWith(error, kFileNoSuchFileError, path, ENOENT, "Could not create");
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    int e = errno;
    return failWith(error, writeCode(e), path, e, "Could not create");
  }
  ::close(fd);
  return true;
}

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool FileManager::removeItem(const Path& path, Error* error) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0)
    return failWith(error, kFileNoSuchFileError, path, ENOENT, "Could not remove");
  if (!S_ISDIR(st.st_mode)) {
    if (::unlink(path.c_str()) == 0) return true;
    const int e = errno;
    return failWith(error, writeCode(e), path, e, "Could not remove");
  }
  const Path folder = path.has_filename() ? path : path.parent_path();  // "a/b/" is "a/b"
  const Path above = folder.has_parent_path() ? folder.parent_path() : Path(".");
  UniqueFd parent(::open(above.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const int e = parent.get() < 0 ? errno : removeTree(parent.get(), folder.filename().string());
  return e == 0 || failWith(error, writeCode(e), path, e, "Could not remove");
}

bool FileManager::moveItem(const Path& from, const Path& to, Error* error) {
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return failWith(error, kFileNoSuchFileError, from, errno, "Could not move");
  if (::lstat(to.c_str(), &st) == 0) return failWith(error, kFileWriteFileExistsError, to, EEXIST, "Could not move to");
  // renameat2 with RENAME_NOREPLACE closes the window between the check and the rename.
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  int e = errno;
  if (e == EINVAL || e == ENOSYS) {  // a file system without the flag
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    e = errno;
  }
  if (e == EXDEV) {
    if (!copyItem(from, to, error)) return false;
    return removeItem(from, error);
  }
  return failWith(error, writeCode(e), to, e, "Could not move to");
}

bool FileManager::exchangeItems(const Path& first, const Path& second, Error* error) {
  if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0) return true;
  const int e = errno;
  return failWith(error, e == ENOENT ? kFileNoSuchFileError : writeCode(e), e == ENOENT ? first : second, e,
                  "Could not exchange");
}

bool FileManager::copyItem(const Path& from, const Path& to, Error* error) {
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return failWith(error, readCode(errno), from, errno, "Could not copy");
  if (::lstat(to.c_str(), &st) == 0) return failWith(error, kFileWriteFileExistsError, to, EEXIST, "Could not copy to");
  std::error_code ec;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (!ec) return true;
  return failWith(error, writeCode(ec.value()), to, ec.value(), "Could not copy to");
}

std::optional<FileAttributes> FileManager::attributesOfItem(const Path& path, Error* error) {
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    int e = errno;
    failWith(error, readCode(e), path, e, "Could not read the attributes of");
    return std::nullopt;
  }
  FileAttributes a;
  mode_t mode = sx.stx_mode;
  a.type = S_ISREG(mode) ? FileType::Regular
           : S_ISDIR(mode) ? FileType::Directory
           : S_ISLNK(mode) ? FileType::SymbolicLink
                           : FileType::Other;
  a.size = sx.stx_size;
  a.allocatedSize = sx.stx_blocks * 512;
  a.modificationDate = toSeconds({static_cast<time_t>(sx.stx_mtime.tv_sec), sx.stx_mtime.tv_nsec});
  const auto& birth = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
  a.creationDate = toSeconds({static_cast<time_t>(birth.tv_sec), birth.tv_nsec});
  a.permissions = mode & 07777;
  return a;
}

bool FileManager::setModificationDate(const Path& path, double seconds, Error* error) {
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[0].tv_sec = 0;
  auto whole = static_cast<time_t>(seconds);
  times[1].tv_sec = whole;
  times[1].tv_nsec = static_cast<long>((seconds - static_cast<double>(whole)) * 1e9);
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0) return true;
  int e = errno;
  return failWith(error, writeCode(e), path, e, "Could not set the date of");
}

std::optional<std::string_view> FileManager::targetOfTemporaryName(std::string_view name, std::string_view mark) {
  constexpr std::size_t kRandom = 6;  // the "XXXXXX" of mkstemp and mkdtemp
  if (name.size() <= 1 + mark.size() + kRandom || name.front() != '.') return std::nullopt;
  const auto random = name.substr(name.size() - kRandom);
  const auto isRandomCharacter = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  if (!std::all_of(random.begin(), random.end(), isRandomCharacter)) return std::nullopt;
  if (name.substr(name.size() - kRandom - mark.size(), mark.size()) != mark) return std::nullopt;
  return name.substr(1, name.size() - 1 - mark.size() - kRandom);
}

std::size_t FileManager::removeAtomicWriteLeftovers(const Path& folder,
                                                    const std::function<bool(std::string_view name)>& isTarget) {
  std::size_t removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const auto target = targetOfTemporaryName(name, kAtomicWriteMark);
    if (!target || !isTarget(*target)) continue;
    struct stat st {};  // the writer makes regular files: a link or a folder of that name is not its
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlink(it->path().c_str()) != 0) continue;
    ++removed;
    logLine("removed " + it->path().string() + ", the temporary file of an interrupted write");
  }
  return removed;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectory(const Path& path, Error* error) {
  UniqueDir dir(::opendir(path.c_str()));
  if (!dir) {
    int e = errno;
    failWith(error, readCode(e), path, e, "Could not list");
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (struct dirent* entry = ::readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  dir.reset();
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::vector<std::string>> FileManager::subpathsOfDirectory(const Path& path, Error* error) {
  if (!contentsOfDirectory(path, error)) return std::nullopt;
  std::vector<std::string> out;
  collectSubpaths(path, "", out, 0);
  return out;
}

namespace {

// The rest of an open file (closed in every case), refused past maxBytes.
std::optional<Bytes> readOpenFile(int fd, const struct stat& st, const fs::path& path, Error* error,
                                  std::uint64_t maxBytes) {
  Bytes out;
  if (st.st_size > 0) out.reserve(std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size), maxBytes));
  std::uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      failWith(error, kFileReadUnknownError, path, e, "Could not read");
      return std::nullopt;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::close(fd);
      failWith(error, kFileReadTooLargeError, path, EFBIG, "Too large to read");
      return std::nullopt;
    }
    out.insert(out.end(), buffer, buffer + n);
  }
  ::close(fd);
  return out;
}

// The whole file at `path`. A regular-only read opens without blocking (a FIFO or a device cannot
// stall it) and refuses anything but a regular file of at most maxBytes before reading a byte.
// The descriptor open for reading and its status: without blocking and only a regular file when
// regularOnly, else anything but a folder; -1 (error set) otherwise.
int openForReading(const fs::path& path, Error* error, bool regularOnly, struct stat& st) {
  const int flags = O_RDONLY | O_CLOEXEC | (regularOnly ? O_NONBLOCK | O_NOCTTY : 0);
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) {
    int e = errno;
    failWith(error, readCode(e), path, e, "Could not open");
    return -1;
  }
  const bool known = ::fstat(fd, &st) == 0;
  if (!known || (regularOnly ? !S_ISREG(st.st_mode) : S_ISDIR(st.st_mode))) {
    const int e = !known ? errno : regularOnly ? EINVAL : EISDIR;
    ::close(fd);
    failWith(error, kFileReadUnknownError, path, e, regularOnly ? "Not a regular file" : "Could not read");
    return -1;
  }
  return fd;
}

std::optional<Bytes> readPath(const fs::path& path, Error* error, std::uint64_t maxBytes, bool regularOnly) {
  struct stat st {};
  const int fd = openForReading(path, error, regularOnly, st);
  if (fd < 0) return std::nullopt;
  if (regularOnly && static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    failWith(error, kFileReadTooLargeError, path, EFBIG, "Too large to read");
    return std::nullopt;
  }
  return readOpenFile(fd, st, path, error, maxBytes);
}

}  // namespace

std::optional<Bytes> FileManager::readFile(const Path& path, Error* error, std::uint64_t maxBytes) {
  return readPath(path, error, maxBytes, false);
}

std::optional<Bytes> FileManager::readRegularFile(const Path& path, Error* error, std::uint64_t maxBytes) {
  return readPath(path, error, maxBytes, true);
}

UniqueFd FileManager::openRegularFile(const Path& path, Error* error) {
  struct stat st {};
  return UniqueFd(openForReading(path, error, true, st));
}

bool FileManager::writeFile(const Path& path, std::string_view contents, bool atomically, Error* error) {
  return writeFile(path, Bytes(contents.begin(), contents.end()), atomically, error);
}

bool FileManager::writeAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

bool FileManager::writeFile(const Path& path, const Bytes& contents, bool atomically, Error* error) {
  if (path.empty() || !path.has_filename())
    return failWith(error, kFileNoSuchFileError, path, ENOENT, "Could not write");
  if (!atomically) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      int e = errno;
      return failWith(error, writeCode(e), path, e, "Could not write");
    }
    bool ok = writeAll(fd, contents);
    int e = errno;
    if (::close(fd) != 0 && ok) ok = false, e = errno;
    return ok || failWith(error, writeCode(e), path, e, "Could not write");
  }
  Path dir = path.has_parent_path() ? path.parent_path() : Path(".");
  std::string pattern = (dir / ("." + path.filename().string() + std::string(kAtomicWriteMark) + "XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    int e = errno;
    return failWith(error, writeCode(e), path, e, "Could not write");
  }
  bool ok = writeAll(fd, contents) && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  int e = errno;
  if (::close(fd) != 0 && ok) ok = false, e = errno;
  if (ok && ::rename(pattern.c_str(), path.c_str()) != 0) ok = false, e = errno;
  if (!ok) {
    ::unlink(pattern.c_str());
    return failWith(error, writeCode(e), path, e, "Could not write");
  }
  // Readers see the new contents already; a folder that cannot be flushed only leaves them to
  // the kernel's own write-back.
  syncFolder(dir);
  return true;
}

bool FileManager::syncFolder(const Path& folder, Error* error) {
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0 && ::fsync(fd.get()) == 0) return true;
  const int e = errno;
  return failWith(error, writeCode(e), folder, e, "Could not flush");
}

bool FileManager::syncFileSystem(const Path& path, Error* error) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() >= 0 && ::syncfs(fd.get()) == 0) return true;
  const int e = errno;
  return failWith(error, writeCode(e), path, e, "Could not flush");
}

bool FileManager::setExtendedAttribute(const Path& path, std::string_view name, const Bytes& value, Error* error) {
  if (::setxattr(path.c_str(), userAttributeName(name).c_str(), value.data(), value.size(), 0) == 0) return true;
  int e = errno;
  return failWith(error, e == ENOENT ? kFileNoSuchFileError : writeCode(e), path, e,
                  "Could not set an attribute of");
}

std::optional<Bytes> FileManager::extendedAttribute(const Path& path, std::string_view name, Error* error) {
  std::string key = userAttributeName(name);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t size = ::getxattr(path.c_str(), key.c_str(), nullptr, 0);
    if (size >= 0) {
      Bytes value(static_cast<std::size_t>(size));
      ssize_t n = ::getxattr(path.c_str(), key.c_str(), value.data(), value.size());
      if (n >= 0) {
        value.resize(static_cast<std::size_t>(n));
        return value;
      }
      if (errno == ERANGE) continue;  // grew in between
    }
    break;
  }
  int e = errno;
  failWith(error, readCode(e), path, e, "Could not read an attribute of");
  return std::nullopt;
}

bool FileManager::removeExtendedAttribute(const Path& path, std::string_view name, Error* error) {
  if (::removexattr(path.c_str(), userAttributeName(name).c_str()) == 0) return true;
  int e = errno;
  return failWith(error, writeCode(e), path, e, "Could not remove an attribute of");
}

}  // namespace pf
