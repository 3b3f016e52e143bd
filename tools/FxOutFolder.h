#pragma once
// The runner's out folder. Whatever the runner writes there it first lists in the folder's mark
// (".fxclient-made", one name a line), and the next run deletes only what that mark lists: a
// folder it did not make is never emptied. A folder holding something without a mark is refused,
// unless it is the default folder holding only names the runner writes (made before there was a
// mark); so is one whose mark is not a plain file. Folders the user named (--home, --keys) are
// never deleted (and leave the mark: they are the user's from then on), nor the runner's own
// keys, which every run reuses.
//
// A run holds its out folder and its home for its whole life (FolderHold): a second run that
// names either is refused at once, before it reads or changes anything there. It also holds,
// shared, every folder around them (holdAround): no run's folder lies inside another's, so what a
// run removes in its out folder is never a folder another run uses, whichever starts first.
//
// The mark is only ever replaced whole (written beside it, then renamed over it): a run killed at
// any moment leaves the last mark it wrote, never an empty or partial one.

#include <filesystem>
#include <list>
#include <string>
#include <vector>

namespace fxrun {

// Exit codes of folder faults.
inline constexpr int kBadFolderOption = 64;  // a file where a folder is wanted, or a folder not ours
inline constexpr int kCannotWrite = 73;      // a folder that cannot be made or written
inline constexpr int kInUse = 75;            // the folder is held by another run

// A folder held for this run: an advisory lock (flock) on the folder itself, which the kernel lets
// go when the process ends, however it ends (a killed run leaves nothing behind), and which the
// run's children do not inherit.
class FolderHold {
 public:
  FolderHold() = default;
  FolderHold(const FolderHold&) = delete;
  FolderHold& operator=(const FolderHold&) = delete;
  ~FolderHold() { release(); }

  // Holds `dir` (an existing folder), letting go of what was held before: 0, kInUse when another
  // run holds it, or kCannotWrite when it cannot be opened or locked; `why` names `what`. Held
  // `shared`, it refuses only a run that holds it alone (and keeps such a run from taking it).
  int take(const std::filesystem::path& dir, const std::string& what, std::string& why, bool shared = false);
  void release();
  // Whether this holds the folder `dir` names (the same folder under any name).
  bool holds(const std::filesystem::path& dir) const;

 private:
  int fd_ = -1;
};

class OutFolder {
 public:
  static constexpr const char* kMark = ".fxclient-made";

  // Whether a name is one the runner writes into its out folder.
  static bool isRunnerName(const std::string& name);

  // Holds `dir` for this run, made when missing: 0, or an exit code with `why`. Nothing in it is
  // read or changed.
  int hold(const std::filesystem::path& dir, std::string& why);
  // Takes the held folder for this run: 0, or an exit code with `why`. Nothing is deleted or made
  // unless the folder is taken; what the last run listed goes then, except what lies in `keep`.
  int claim(bool byDefault, const std::vector<std::filesystem::path>& keep, std::string& why);
  // Lists `name` in the mark before it is made; false when the mark cannot be written.
  bool note(const std::string& name);
  const std::filesystem::path& path() const { return dir_; }

 private:
  // Replaces the mark whole (never writing into the file that stands at its name).
  bool writeMark(const std::vector<std::string>& names) const;
  std::filesystem::path dir_;
  std::vector<std::string> names_;
  FolderHold hold_;
};

// Holds, shared, every existing folder above `dir` up to the root, except those lying in `own` (the
// folders this run holds alone) and those `around` holds already: 0, or kInUse with `why` when
// another run holds one of them alone (`dir` lies inside that run's folder). A folder that cannot
// be opened or locked is passed over: no run can hold it either.
int holdAround(const std::filesystem::path& dir, const std::string& option,
               const std::vector<std::filesystem::path>& own, std::list<FolderHold>& around, std::string& why);

// Checks a folder option before anything starts: 0 when `dir` is (or has been made) a folder the
// run can write into; else an exit code with `why`.
int prepareFolder(const std::filesystem::path& dir, const std::string& option, std::string& why);
// Whether `dir` names something that is not a folder (64 with `why`), else 0; nothing is made.
int refuseNonFolder(const std::filesystem::path& dir, const std::string& option, std::string& why);

}  // namespace fxrun
