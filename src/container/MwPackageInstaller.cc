#include "container/MwPackageInstaller.h"

#include <cstdlib>

#include "platform/foundation/FileManager.h"

namespace container {

bool MwPackageInstaller::install(const Path& archive, const Path& target, const Path& previous,
                                 const pf::ZipLimits& limits, pf::Error* error) {
  const Path parent = target.parent_path();
  if (!pf::FileManager::createDirectory(parent, true, error)) return false;
  std::string pattern = (parent / ("." + target.filename().string() + ".stage-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    if (error) *error = pf::posixError(errno, "staging folder");
    return false;
  }
  const Path staging = pattern;
  if (!pf::ZipReader::unpack(archive, staging, limits, error)) {
    pf::FileManager::removeItem(staging);
    return false;
  }
  const bool replacing = std::filesystem::is_directory(std::filesystem::symlink_status(target));
  if (replacing ? !pf::FileManager::exchangeItems(staging, target, error)
                : !pf::FileManager::moveItem(staging, target, error)) {
    pf::FileManager::removeItem(staging);
    return false;
  }
  if (!replacing) return true;
  // The staging path now holds the old tree.
  if (previous.empty()) {
    pf::FileManager::removeItem(staging);
    return true;
  }
  if (pf::FileManager::fileExists(previous) || std::filesystem::is_symlink(previous))
    pf::FileManager::removeItem(previous);
  if (!pf::FileManager::moveItem(staging, previous)) pf::FileManager::removeItem(staging);
  return true;
}

}  // namespace container
