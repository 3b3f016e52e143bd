#pragma once
// The runner's out folder. Whatever the runner writes there it first lists in the folder's mark
// (".fxclient-made", one name a line), and the next run deletes only what that mark lists: a
// folder it did not make is never emptied. A folder holding something without a mark is refused,
// unless it is the default folder holding only names the runner writes (made before there was a
// mark); so is one whose mark is not a plain file. Folders the user named (--home, --keys) are
// never deleted (and leave the mark: they are the user's from then on), nor the runner's own
// keys, which every run reuses.

#include <filesystem>
#include <string>
#include <vector>

namespace fxrun {

// Exit codes of folder faults.
inline constexpr int kBadFolderOption = 64;  // a file where a folder is wanted, or a folder not ours
inline constexpr int kCannotWrite = 73;      // a folder that cannot be made or written

class OutFolder {
 public:
  static constexpr const char* kMark = ".fxclient-made";

  // Whether a name is one the runner writes into its out folder.
  static bool isRunnerName(const std::string& name);

  // Takes `dir` for this run: 0, or an exit code with `why`. Nothing is deleted or made unless
  // the folder is taken; what the last run listed goes then, except what lies in `keep`.
  int claim(const std::filesystem::path& dir, bool byDefault, const std::vector<std::filesystem::path>& keep,
            std::string& why);
  // Lists `name` in the mark before it is made; false when the mark cannot be written.
  bool note(const std::string& name);
  const std::filesystem::path& path() const { return dir_; }

 private:
  // Atomically: the mark replaces whatever stood at its name instead of writing into it.
  bool writeMark(const std::vector<std::string>& names, bool atomically = false) const;
  std::filesystem::path dir_;
  std::vector<std::string> names_;
};

// Checks a folder option before anything starts: 0 when `dir` is (or has been made) a folder the
// run can write into; else an exit code with `why`.
int prepareFolder(const std::filesystem::path& dir, const std::string& option, std::string& why);
// Whether `dir` names something that is not a folder (64 with `why`), else 0; nothing is made.
int refuseNonFolder(const std::filesystem::path& dir, const std::string& option, std::string& why);

}  // namespace fxrun
