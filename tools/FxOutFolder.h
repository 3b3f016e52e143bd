#pragma once
// The runner's out folder. Whatever the runner writes there it first lists in the folder's mark
// (".fxclient-made", one name a line), and the next run deletes only what that mark lists: a
// folder it did not make is never emptied. A folder holding something without a mark is refused,
// unless it is the default folder holding only names the runner writes (made before there was a
// mark); so is one whose mark is not a plain file. Folders the user named (--home, --keys) are
// never deleted (and leave the mark: they are the user's from then on), nor the runner's own
// keys, which every run reuses.
//
// A run holds its out folder and its home for its whole life (RunHolds): a second run that names
// either is refused at once, before it reads, makes or changes anything. It also holds, shared,
// every folder around them: no run's folder lies inside another's, so what a run removes in its
// out folder is never a folder another run uses, whichever starts first. The holds are records in
// a folder of the runner's own, never locks on the user's folders, so a lock another program
// takes on those never refuses a run.
//
// The mark is only ever replaced whole (written beside it, then renamed over it): a run killed at
// any moment leaves the last mark it wrote, never an empty or partial one.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fxrun {

// Exit codes of folder faults.
inline constexpr int kDeadlinePassed = 2;    // the run's deadline passed while it waited
inline constexpr int kBadFolderOption = 64;  // a file where a folder is wanted, or a folder not ours
inline constexpr int kCannotWrite = 73;      // a folder that cannot be made or written
inline constexpr int kInUse = 75;            // the folder is held by another run

// This run's holds against the other runs of fxclient of the same user on the same /tmp (runs of
// another user, or with a /tmp of their own, do not see them). They live in the runner's holds
// folder (/tmp/fxclient-UID, the same for every run of the user's), which must be a folder of the
// user's that no one else can write, not a link. Each run going on has one record there, "run-*",
// listing the folders it holds by device and inode: alone (its out folder and its home) or shared
// (every folder around them). The record is locked (flock) by its run and so dies with it, however
// it ends: a run that ends removes it, and a record whose lock is free is a killed run's, removed
// by the next run that reads it; what is no record there (a link, a FIFO, a socket, a file the
// user may not read) is passed over. Records are read and written, and the folders the options
// name made or removed, only under the set-up lock (a file of the holds folder, taken for
// milliseconds): of two runs started together, the second sees the whole holds of the first. The
// run keeps two descriptors however many folders it holds.
class RunHolds {
 public:
  struct Folder {
    std::filesystem::path dir;
    std::string option;  // the option that named it, for messages
    bool held;           // held alone by this run (else only made and tried)
    bool tried;          // tried by writing a file there once made
  };
  // How long a run waits for the set-up lock, which another run keeps for milliseconds (less
  // when the run's deadline comes first).
  static constexpr double kSetUpWait = 5;

  RunHolds() = default;
  RunHolds(const RunHolds&) = delete;
  RunHolds& operator=(const RunHolds&) = delete;
  ~RunHolds();

  // Takes this run's holds and makes its folders, in turn, when missing: 0, or an exit code with
  // `why`. kInUse, before anything is made, when a held folder is, lies in or holds one another
  // run holds alone, or when the set-up lock stays taken for kSetUpWait; kDeadlinePassed when it
  // stays taken until the run's deadline, `secondsLeft` from now; kCannotWrite when the holds
  // folder is not the user's alone or a folder cannot be made, tried or held (no descriptor left,
  // no room). A refused run has removed every folder it made.
  int take(const std::vector<Folder>& folders, double secondsLeft, std::string& why);
  // Removes the folders take() made, deepest first, each only while it is still empty and the
  // same folder: for a run refused after take(), which leaves the tree as it found it.
  void undo();

  // A folder a run made.
  struct Made {
    std::filesystem::path path;
    dev_t dev;
    ino_t ino;
  };

 private:
  int openFolder(std::string& why);
  int lockSetUp(double secondsLeft, std::string& why);
  void unlockSetUp();
  int record(const std::vector<const Folder*>& held, std::string& why);
  void removeMade();

  std::filesystem::path where_;  // the holds folder
  int folder_ = -1;              // the holds folder, open
  int setUp_ = -1;               // the set-up lock while taken
  int record_ = -1;              // this run's record, locked for the run's whole life
  std::string recordName_;       // its name in the holds folder
  std::vector<Made> made_;       // the folders take() made, outermost first
};

class OutFolder {
 public:
  static constexpr const char* kMark = ".fxclient-made";

  // Whether a name is one the runner writes into its out folder.
  static bool isRunnerName(const std::string& name);

  // Takes `dir` (an existing folder this run holds) for this run: 0, or an exit code with `why`.
  // Nothing is deleted or made unless the folder is taken; what the last run listed goes then,
  // except what lies in `keep`.
  int claim(const std::filesystem::path& dir, bool byDefault, const std::vector<std::filesystem::path>& keep,
            std::string& why);
  // Lists `name` in the mark before it is made; false when the mark cannot be written.
  bool note(const std::string& name);
  const std::filesystem::path& path() const { return dir_; }

 private:
  // Replaces the mark whole (never writing into the file that stands at its name).
  bool writeMark(const std::vector<std::string>& names) const;
  std::filesystem::path dir_;
  std::vector<std::string> names_;
};

// A path as the system resolves it: made absolute, links and ".." followed as far as it exists,
// the rest as given, without a trailing "/".
std::filesystem::path resolved(const std::filesystem::path& path);

// Checks a folder option before anything starts: 0 when `dir` is (or has been made) a folder the
// run can write into; else an exit code with `why`.
int prepareFolder(const std::filesystem::path& dir, const std::string& option, std::string& why);
// Whether `dir` names something that is not a folder (64 with `why`), else 0; nothing is made.
int refuseNonFolder(const std::filesystem::path& dir, const std::string& option, std::string& why);

}  // namespace fxrun
