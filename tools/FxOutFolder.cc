#include "FxOutFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/foundation/Bytes.h"
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

// Whether the resolved path `inner` is `outer` or lies inside it.
bool lexicallyWithin(const fs::path& inner, const fs::path& outer) {
  return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first == outer.end();
}

// Whether `inner` is `outer` or lies inside it.
bool within(const fs::path& inner, const fs::path& outer) { return lexicallyWithin(resolved(inner), resolved(outer)); }

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

// A record lists a line for each folder a run holds: a few thousand at the deepest.
constexpr off_t kRecordLimit = 1 << 20;
// The set-up lock's file and the records' names in the holds folder.
constexpr const char* kSetUpLock = "setup.lock";
constexpr const char* kRecordPrefix = "run-";

// A folder one run holds: alone (its out folder, its home) or shared (a folder around them).
struct Hold {
  dev_t dev;
  ino_t ino;
  bool alone;
  bool sameFolder(const Hold& other) const { return dev == other.dev && ino == other.ino; }
};

// Calls `visit(i, folder, hold)` for each hold of a run whose own folders (resolved) are `own`:
// alone on each of them, shared on each existing folder above them that lies in none of them; a
// folder that does not exist (yet) or cannot be looked at is held by no run. Stops at the first
// nonzero answer and gives it.
template <class Visit>
int forEachHold(const std::vector<fs::path>& own, Visit visit) {
  for (std::size_t i = 0; i < own.size(); ++i)
    for (fs::path up = own[i];; up = up.parent_path()) {
      const bool alone = up == own[i];
      struct stat st {};
      if ((alone || std::none_of(own.begin(), own.end(), [&](const fs::path& o) { return lexicallyWithin(up, o); })) &&
          stat(up.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        if (int answer = visit(i, up, Hold{st.st_dev, st.st_ino, alone})) return answer;
      if (up == up.parent_path()) break;
    }
  return 0;
}

// The holds of the runs going on, from their records in `folder`; the record of a run that has
// ended (its lock free) goes. 0, or kCannotWrite with `why` when a record cannot be read.
int liveHolds(int folder, const fs::path& where, std::vector<Hold>& holds, std::string& why) {
  const auto fault = [&](const std::string& what) {
    why = "the runner's holds folder " + where.string() + " cannot be read (" + what + "): " + std::strerror(errno);
    return kCannotWrite;
  };
  std::vector<std::string> names;
  {
    const int listFd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* list = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!list) {
      if (listFd >= 0) close(listFd);
      return fault("its list");
    }
    while (const dirent* entry = readdir(list))
      if (std::string_view(entry->d_name).starts_with(kRecordPrefix)) names.emplace_back(entry->d_name);
    closedir(list);
  }
  for (const auto& name : names) {
    const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    // What cannot be opened (gone, a link, a socket, a file the user may not read) is no run's
    // record, which every run makes readable; a descriptor that cannot be had is a fault.
    if (fd < 0 && errno != EMFILE && errno != ENFILE && errno != ENOMEM) continue;
    if (fd < 0) return fault(name);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kRecordLimit) {
      close(fd);
      continue;
    }
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) {  // its run has ended
      unlinkat(folder, name.c_str(), 0);
      close(fd);
      continue;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    const ssize_t got = pread(fd, text.data(), text.size(), 0);
    const int error = errno;
    close(fd);
    errno = error;
    if (got < 0) return fault(name);
    text.resize(static_cast<std::size_t>(got));
    std::istringstream lines(text);
    for (std::string kind; lines >> kind;) {
      unsigned long long dev = 0, ino = 0;
      if ((kind == "alone" || kind == "around") && lines >> dev >> ino)
        holds.push_back(Hold{static_cast<dev_t>(dev), static_cast<ino_t>(ino), kind == "alone"});
      lines.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
  }
  return 0;
}

// Makes `dir` and every missing folder above it, noting each one made in `made` (outermost
// first): 0, or kCannotWrite with `why`.
int makeFolder(const fs::path& dir, const std::string& option, std::vector<RunHolds::Made>* made, std::string& why) {
  const auto fault = [&](int error) {
    why = option + " " + dir.string() + " cannot be made: " + std::strerror(error);
    return kCannotWrite;
  };
  std::error_code ec;  // (as named: a ".." after a link leads where the link leads)
  fs::path full = fs::absolute(dir, ec);
  if (ec) return fault(ec.value());
  if (!full.has_filename()) full = full.parent_path();
  std::vector<fs::path> missing;
  for (fs::path up = full;; up = up.parent_path()) {
    struct stat st {};
    if (stat(up.c_str(), &st) == 0) break;
    if (errno != ENOENT) return fault(errno);
    missing.push_back(up);
    if (up == up.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (mkdir(it->c_str(), 0777) != 0) {
      if (errno == EEXIST) continue;
      return fault(errno);
    }
    struct stat st {};
    if (made && lstat(it->c_str(), &st) == 0) made->push_back({*it, st.st_dev, st.st_ino});
  }
  struct stat st {};
  if (stat(full.c_str(), &st) != 0) return fault(errno);
  return S_ISDIR(st.st_mode) ? 0 : fault(ENOTDIR);
}

// A file made and removed again: the one sure test that the run can write into `dir`.
int tryWriting(const fs::path& dir, const std::string& option, std::string& why) {
  std::string probe = (dir / ".fxclient-probe-XXXXXX").string();
  const int fd = mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) {
    why = option + " " + dir.string() + " cannot be written: " + std::strerror(errno);
    return kCannotWrite;
  }
  close(fd);
  unlink(probe.c_str());
  return 0;
}

// "name (uid N)" of a user, or "uid N" when the system knows no name for it.
std::string userName(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry {};
  passwd* found = nullptr;
  const std::string number = "uid " + std::to_string(uid);
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return number;
  return std::string(found->pw_name) + " (" + number + ")";
}

// Whether the open folder `fd` is the user's alone: a folder the user owns that no one else may
// read or write into.
bool isPrivateFolder(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace

fs::path resolved(const fs::path& path) {
  std::error_code ec;
  fs::path out = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) out = fs::absolute(path).lexically_normal();
  if (!out.has_filename()) out = out.parent_path();
  return out;
}

bool OutFolder::isRunnerName(const std::string& name) {
  if (name == "startup.log" || name == "home" || name == "bundle" || name == "keys" || name == kMark) return true;
  const fs::path path(name);
  if (path.extension() != ".png") return false;
  const std::string stem = path.stem().string();
  return stem.rfind("tour-", 0) == 0 ||
         std::find(std::begin(kStartPictures), std::end(kStartPictures), stem) != std::end(kStartPictures);
}

int OutFolder::claim(const fs::path& dir, bool byDefault, const std::vector<fs::path>& keep, std::string& why) {
  dir_ = dir;
  std::error_code ec;
  std::vector<std::string> listed;
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

RunHolds::~RunHolds() {
  unlockSetUp();
  // The record goes while still locked, so no run takes it for a dead run's before it is gone.
  if (record_ >= 0) unlinkat(folder_, recordName_.c_str(), 0);
  for (int fd : {record_, folder_})
    if (fd >= 0) close(fd);
}

int RunHolds::openFolder(std::string& why) {
  if (folder_ >= 0) return 0;
  // One place for every run of the user's, whatever its environment, so that every run sees the
  // others: a folder of theirs in /tmp, which a hostile user may have made first, so it is taken
  // only when it is the user's alone. For a test only, FXCLIENT_TEST_HOLDS_IN names another parent.
  const char* parent = std::getenv("FXCLIENT_TEST_HOLDS_IN");
  if (!parent || parent[0] != '/') parent = "/tmp";
  const std::string name = "fxclient-" + std::to_string(geteuid());
  where_ = fs::path(parent) / name;
  const int above = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int error = above < 0 ? errno : 0;
  struct stat st {};
  bool theirs = false;  // another user made it first: in a sticky /tmp, only they can remove it
  if (above >= 0) {
    if (mkdirat(above, name.c_str(), 0700) != 0 && errno != EEXIST) error = errno;
    theirs = fstatat(above, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_uid != geteuid();
    if (!theirs) {
      folder_ = openat(above, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (folder_ < 0 && !error) error = errno;
    }
    close(above);
  }
  if (folder_ >= 0 && isPrivateFolder(folder_)) return 0;
  if (theirs) {
    why = "the runner's holds folder " + where_.string() + " belongs to another user, " + userName(st.st_uid) +
          ", who made it first: only they or an administrator can remove it; until then runs of fxclient of "
          "yours cannot start";
  } else if (folder_ >= 0 || error == ELOOP || error == ENOTDIR) {
    why = "the runner's holds folder " + where_.string() +
          " is not yours alone (it must be a folder you own that no one else can read or write, not a link); "
          "move it away";
  } else {
    why = "the runner's holds folder " + where_.string() + " cannot be made or opened: " + std::strerror(error);
  }
  if (folder_ >= 0) close(folder_);
  folder_ = -1;
  return kCannotWrite;
}

int RunHolds::lockSetUp(double secondsLeft, std::string& why) {
  const fs::path path = where_ / kSetUpLock;
  const int fd = openat(folder_, kSetUpLock, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = "the runner's set-up lock " + path.string() + " cannot be opened: " + std::strerror(errno);
    return kCannotWrite;
  }
  // Another run keeps it for milliseconds: a short wait, polled, bounded (by the run's deadline
  // when that comes first).
  const bool deadlineFirst = secondsLeft < kSetUpWait;
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::duration<double>(std::clamp(secondsLeft, 0.0, kSetUpWait));
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if ((error != EWOULDBLOCK && error != EINTR) || std::chrono::steady_clock::now() >= until) {
      close(fd);
      const std::string lock = "the runner's set-up lock " + path.string();
      const char* stopped = "another run of fxclient is stopped while it takes its folders; let it go on or end, then try again";
      if (error == EWOULDBLOCK && deadlineFirst) {
        why = "deadline passed while " + lock + " stayed taken: " + stopped;
        return kDeadlinePassed;
      }
      if (error == EWOULDBLOCK) {
        std::ostringstream text;
        text << lock << " stayed taken for " << kSetUpWait << " s: " << stopped;
        why = text.str();
        return kInUse;
      }
      why = lock + " cannot be locked: " + std::strerror(error);
      return kCannotWrite;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  setUp_ = fd;
  return 0;
}

void RunHolds::unlockSetUp() {
  if (setUp_ >= 0) close(setUp_);  // closing lets go of the lock
  setUp_ = -1;
}

namespace {

// The folders `held` names, as the system resolves them now.
std::vector<fs::path> resolvedDirs(const std::vector<const RunHolds::Folder*>& held) {
  std::vector<fs::path> dirs;
  for (const auto* folder : held) dirs.push_back(resolved(folder->dir));
  return dirs;
}

}  // namespace

int RunHolds::take(const std::vector<Folder>& folders, double secondsLeft, std::string& why) {
  if (int code = openFolder(why)) return code;
  if (int code = lockSetUp(secondsLeft, why)) return code;
  std::vector<const Folder*> named;  // the folders held alone
  for (const auto& folder : folders)
    if (folder.held) named.push_back(&folder);
  // Whatever another run holds alone is refused, and so is a held folder holding another run's:
  // all before anything is made (a folder that does not exist yet holds none of another run's).
  std::vector<Hold> live;
  int code = liveHolds(folder_, where_, live, why);
  if (code == 0)
    code = forEachHold(resolvedDirs(named), [&](std::size_t i, const fs::path& up, const Hold& hold) {
      const bool taken = std::any_of(live.begin(), live.end(),
                                     [&](const Hold& other) { return other.sameFolder(hold) && (other.alone || hold.alone); });
      if (!taken) return 0;
      why = named[i]->option + " " + named[i]->dir.string() +
            (hold.alone ? std::string() : " lies in " + up.string() + ", which") +
            " is in use by another run of fxclient; let it end or choose another folder";
      return kInUse;
    });
  for (auto it = folders.begin(); code == 0 && it != folders.end(); ++it) {
    code = makeFolder(it->dir, it->option, &made_, why);
    if (code == 0 && it->tried) code = tryWriting(it->dir, it->option, why);
  }
  if (code == 0) code = record(named, why);
  if (code != 0) removeMade();
  unlockSetUp();
  return code;
}

int RunHolds::record(const std::vector<const Folder*>& held, std::string& why) {
  // (Resolved again: a folder made since resolves through what now exists.)
  std::vector<Hold> holds;
  forEachHold(resolvedDirs(held), [&](std::size_t, const fs::path&, const Hold& hold) {
    if (std::none_of(holds.begin(), holds.end(), [&](const Hold& h) { return h.sameFolder(hold); }))
      holds.push_back(hold);
    return 0;
  });
  std::ostringstream text;
  text << "# the folders run " << getpid() << " of fxclient holds (device, inode), while this file is locked\n";
  for (const auto& hold : holds)
    text << (hold.alone ? "alone " : "around ") << static_cast<unsigned long long>(hold.dev) << " "
         << static_cast<unsigned long long>(hold.ino) << "\n";
  std::string name;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    name = kRecordPrefix + std::to_string(getpid()) + "-" + std::to_string(attempt);
    fd = openat(folder_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  // (Locked before the set-up lock goes: no run reads it unlocked, as a dead run's.)
  if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 || !pf::FileManager::writeAll(fd, pf::toBytes(text.str()))) {
    why = "the runner's holds folder " + where_.string() + " cannot be written: " + std::strerror(errno);
    if (fd >= 0) {
      unlinkat(folder_, name.c_str(), 0);
      close(fd);
    }
    return kCannotWrite;
  }
  record_ = fd;
  recordName_ = name;
  return 0;
}

void RunHolds::removeMade() {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
    struct stat st {};
    if (lstat(it->path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev == it->dev && st.st_ino == it->ino)
      rmdir(it->path.c_str());  // (fails, leaving it, when something is in it now)
  }
  made_.clear();
}

void RunHolds::undo() {
  if (made_.empty()) return;
  // Under the set-up lock, so that no run is making a folder in one of them meanwhile; a set-up
  // lock that stays taken leaves them.
  std::string why;
  if (lockSetUp(kSetUpWait, why) != 0) return;
  removeMade();
  unlockSetUp();
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
  if (int failed = makeFolder(dir, option, nullptr, why)) return failed;
  return tryWriting(dir, option, why);
}

}  // namespace fxrun
