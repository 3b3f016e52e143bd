#pragma once
// Installs a zip package as a folder: the archive is unpacked into a fresh staging folder beside
// the target and checked in full (pf::ZipReader), and only then swapped in with one exchange step,
// so readers see the old tree or the new one, never a mix. A failure leaves the target byte for
// byte as it was and removes the staging folder.

#include <filesystem>

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
};

}  // namespace container
