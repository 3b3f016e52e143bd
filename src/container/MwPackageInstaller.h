#pragma once
// Installs a zip package as a folder: the archive is unpacked into a fresh staging folder beside
// the target and checked in full (pf::ZipReader), flushed to disk, and only then swapped in with
// one exchange step (the folder that holds it flushed after), so readers see the old tree or the
// new one, never a mix, also after a power loss. Every road ends one of two ways, exceptions
// included: the new tree in place (true), or the target byte for byte as it was and an error
// (false); the staging folder is gone either way, the clean-up itself never raises. The folders
// that interrupted earlier installs of the same target left beside it (".<name>.stage-XXXXXX",
// folders only, each removal logged) are removed first. Installs run one at a time.

#include <filesystem>
#include <functional>

#include "platform/foundation/Error.h"
#include "platform/foundation/ZipReader.h"

namespace container {

class MwPackageInstaller {
 public:
  using Path = std::filesystem::path;

  // Replaces (or creates) `target` with the archive's contents. When `previous` is given, the old
  // tree goes there (an earlier one at that place is removed); else the old tree is removed.
  static bool install(const Path& archive, const Path& target, const Path& previous = {},
                      const pf::ZipLimits& limits = {}, pf::Error* error = nullptr);

  // The steps of an install, in order.
  enum class Step {
    Prepare,      // the folder that holds the target
    CleanUp,      // staging folders earlier installs left
    Stage,        // a fresh staging folder
    Unpack,       // the archive into it
    Sync,         // the new tree flushed to disk
    Swap,         // the new tree in the target's place
    Publish,      // the swap flushed to disk
    KeepPrevious  // the old tree moved to `previous`, or removed
  };
  // Called before each step; a hook that answers false fails the step as a failing system call
  // would, one that raises raises from it. Empty: none. Setting it waits for a running install.
  static void setStepHookForTesting(std::function<bool(Step)> hook);
};

}  // namespace container
