#include "FxOutFolder.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sstream>

#include "platform/foundation/FileManager.h"

namespace fs = std::filesystem;

namespace fxrun {

namespace {

// The pictures of the start-up; the tour's are "tour-NN-<step>.png".
const char* const kStartPictures[] = {"launch", "downloading", "launch-animation", "first-page", "page", "stopped"};

// A name the mark may list: one entry of the folder itself, nothing above or below it.
bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

fs::path resolved(const fs::path& path) {
  std::error_code ec;
  fs::path out = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) out = fs::absolute(path).lexically_normal();
  if (!out.has_filename()) out = out.parent_path();
  return out;
}

// Whether `inner` is `outer` or lies inside it.
bool within(const fs::path& inner, const fs::path& outer) {
  const fs::path a = resolved(inner), b = resolved(outer);
  return std::mismatch(b.begin(), b.end(), a.begin(), a.end()).first == b.end();
}

// The longest mark a run writes is a few dozen short names.
constexpr std::uint64_t kMarkLimit = 1 << 20;

// The names an earlier run's mark lists; nullopt when the mark is not a plain file (a link, a
// FIFO, a folder) or is larger than any run writes.
std::optional<std::vector<std::string>> readMark(const fs::path& mark) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(mark, ec))) return std::nullopt;
  const auto bytes = pf::FileManager::readRegularFile(mark, nullptr, kMarkLimit);
  if (!bytes) return std::nullopt;
  std::vector<std::string> names;
  std::istringstream in(std::string(bytes->begin(), bytes->end()));
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line.front() != '#' && isPlainName(line) && line != OutFolder::kMark &&
        std::find(names.begin(), names.end(), line) == names.end())
      names.push_back(line);
  return names;
}

// For a test only: FXCLIENT_TEST_END_IN_MARK_WRITE=N ends the run in the middle of the Nth write
// of the mark, as a kill would. A file size limit of one byte lets the write's first byte through
// and ends the process (SIGXFSZ, without a core) at the next, wherever the writer puts them.
void endInThisWriteWhenAsked() {
  static const long at = [] {
    const char* n = std::getenv("FXCLIENT_TEST_END_IN_MARK_WRITE");
    return n ? std::atol(n) : 0L;
  }();
  static long writes = 0;
  if (at <= 0 || ++writes != at) return;
  const rlimit noCore{0, 0}, oneByte{1, 1};
  setrlimit(RLIMIT_CORE, &noCore);
  signal(SIGXFSZ, SIG_DFL);
  setrlimit(RLIMIT_FSIZE, &oneByte);
}

}  // namespace

bool OutFolder::isRunnerName(const std::string& name) {
  if (name == "startup.log" || name == "home" || name == "bundle" || name == "keys" || name == kMark) return true;
  const fs::path path(name);
  if (path.extension() != ".png") return false;
  const std::string stem = path.stem().string();
  return stem.rfind("tour-", 0) == 0 ||
         std::find(std::begin(kStartPictures), std::end(kStartPictures), stem) != std::end(kStartPictures);
}

int OutFolder::hold(const fs::path& dir, std::string& why) {
  if (int refused = refuseNonFolder(dir, "--out", why)) return refused;
  std::error_code ec;
  if (!fs::create_directories(dir, ec) && ec) {
    why = "--out " + dir.string() + " cannot be made: " + ec.message();
    return kCannotWrite;
  }
  if (int refused = hold_.take(dir, "--out", why)) return refused;
  dir_ = dir;
  return 0;
}

int OutFolder::claim(bool byDefault, const std::vector<fs::path>& keep, std::string& why) {
  const fs::path dir = dir_;
  std::error_code ec;
  std::vector<std::string> listed;
  if (!hold_.holds(dir)) {
    why = "--out " + dir.string() + " is not held by this run";
    return kCannotWrite;
  }
  // What a run killed while it wrote the mark left beside it goes (the mark itself is whole).
  pf::FileManager::removeAtomicWriteLeftovers(dir, [](std::string_view name) { return name == kMark; });
  const bool marked = fs::exists(fs::symlink_status(dir / kMark, ec));
  if (marked) {
    auto names = readMark(dir / kMark);
    if (!names) {
      why = "--out " + dir.string() + ": its " + kMark + " is not a plain file this runner wrote; " +
            "move it away or choose another folder";
      return kBadFolderOption;
    }
    listed = std::move(*names);
  }
  std::vector<std::string> present;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name == kMark) continue;
    const bool ours = std::find(listed.begin(), listed.end(), name) != listed.end();
    if (marked && !ours && isRunnerName(name)) {
      why = "--out " + dir.string() + ": " + name + " is not one this runner made (its mark does not list it); " +
            "move it away or choose another folder";
      return kBadFolderOption;
    }
    if (!marked && !(byDefault && isRunnerName(name))) {
      why = "--out " + dir.string() + " holds " + name + ", which this runner did not make (the folder has no " +
            kMark + "); choose an empty or new folder";
      return kBadFolderOption;
    }
    present.push_back(name);
  }
  if (ec) {
    why = "--out " + dir.string() + " cannot be read: " + ec.message();
    return kCannotWrite;
  }
  if (!marked) listed = present;  // the default folder of a run that left no mark
  // The mark is the first thing written: until the last run's things are gone, it still lists them.
  // It replaces the file that stood there, so a second name of that file elsewhere keeps its own.
  if (!writeMark(listed)) {
    why = "--out " + dir.string() + " cannot be written: " + std::strerror(errno);
    return kCannotWrite;
  }
  names_.clear();
  for (const auto& name : listed) {
    const fs::path entry = dir / name;
    // What the user named, and what lies in it or holds it, is the user's from now on: kept, and
    // no longer listed.
    if (std::any_of(keep.begin(), keep.end(),
                    [&](const fs::path& k) { return !k.empty() && (within(k, entry) || within(entry, k)); }))
      continue;
    if (name == "keys") {  // reused by every run
      if (fs::exists(fs::symlink_status(entry, ec))) names_.push_back(name);
      continue;
    }
    pf::Error error;
    if (fs::exists(fs::symlink_status(entry, ec)) && !pf::FileManager::removeItem(entry, &error)) {
      why = "--out " + dir.string() + ": " + error.localizedDescription();
      writeMark(listed);
      return kCannotWrite;
    }
  }
  if (!writeMark(names_)) {
    why = "--out " + dir.string() + " cannot be written: " + std::strerror(errno);
    return kCannotWrite;
  }
  return 0;
}

bool OutFolder::note(const std::string& name) {
  if (std::find(names_.begin(), names_.end(), name) != names_.end()) return true;
  names_.push_back(name);
  return writeMark(names_);
}

bool OutFolder::writeMark(const std::vector<std::string>& names) const {
  std::string text = "# made by fxclient; the next run in this folder removes these and nothing else\n";
  for (const auto& name : names) text += name + "\n";
  endInThisWriteWhenAsked();
  return pf::FileManager::writeFile(dir_ / kMark, text, true);
}

int FolderHold::take(const fs::path& dir, const std::string& what, std::string& why, bool shared) {
  release();
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    why = what + " " + dir.string() + " cannot be opened: " + std::strerror(errno);
    return kCannotWrite;
  }
  int locked;
  while ((locked = flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (locked != 0) {
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) {
      why = what + " " + dir.string() + " is in use by another run of fxclient; let it end or choose another folder";
      return kInUse;
    }
    why = what + " " + dir.string() + " cannot be locked: " + std::strerror(error);
    return kCannotWrite;
  }
  fd_ = fd;
  return 0;
}

void FolderHold::release() {
  if (fd_ >= 0) close(fd_);  // closing lets go of the lock
  fd_ = -1;
}

bool FolderHold::holds(const fs::path& dir) const {
  struct stat held {}, named {};
  return fd_ >= 0 && fstat(fd_, &held) == 0 && stat(dir.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

int holdAround(const fs::path& dir, const std::string& option, const std::vector<fs::path>& own,
               std::list<FolderHold>& around, std::string& why) {
  const fs::path full = resolved(dir);
  for (fs::path up = full.parent_path();; up = up.parent_path()) {
    std::error_code ec;
    const bool ours = std::any_of(own.begin(), own.end(), [&](const fs::path& o) { return !o.empty() && within(up, o); });
    const bool held = std::any_of(around.begin(), around.end(), [&](const FolderHold& h) { return h.holds(up); });
    if (!ours && !held && fs::is_directory(up, ec)) {
      std::string lockWhy;
      around.emplace_back();
      const int code = around.back().take(up, option, lockWhy, true);
      if (code != 0) around.pop_back();
      if (code == kInUse) {
        why = option + " " + dir.string() + " lies in " + up.string() +
              ", which is in use by another run of fxclient; let it end or choose another folder";
        return kInUse;
      }
    }
    if (up == up.parent_path()) return 0;
  }
}

int refuseNonFolder(const fs::path& dir, const std::string& option, std::string& why) {
  std::error_code ec;
  const auto status = fs::status(dir, ec);
  if (fs::exists(status) && !fs::is_directory(status)) {
    why = option + " " + dir.string() + " is not a folder";
    return kBadFolderOption;
  }
  return 0;
}

int prepareFolder(const fs::path& dir, const std::string& option, std::string& why) {
  if (int refused = refuseNonFolder(dir, option, why)) return refused;
  std::error_code ec;
  if (!fs::create_directories(dir, ec) && ec) {
    why = option + " " + dir.string() + " cannot be made: " + ec.message();
    return kCannotWrite;
  }
  // A file made and removed again: the one sure test that the run can write there.
  std::string probe = (dir / ".fxclient-probe-XXXXXX").string();
  const int fd = mkstemp(probe.data());
  if (fd < 0) {
    why = option + " " + dir.string() + " cannot be written: " + std::strerror(errno);
    return kCannotWrite;
  }
  close(fd);
  unlink(probe.c_str());
  return 0;
}

}  // namespace fxrun
