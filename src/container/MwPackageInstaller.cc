#include "container/MwPackageInstaller.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"

namespace container {
namespace {

using Step = MwPackageInstaller::Step;

std::mutex& installMutex() {
  static std::mutex mutex;
  return mutex;
}

// The test hook; set and called under installMutex().
std::function<bool(Step)>& stepHook() {
  static std::function<bool(Step)> hook;
  return hook;
}

// Runs the test hook before a step; false (with *error set) when it fails the step.
bool beginStep(Step step, pf::Error* error) {
  const auto& hook = stepHook();
  if (!hook || hook(step)) return true;
  if (error) *error = pf::posixError(EIO, "package install step " + std::to_string(static_cast<int>(step)));
  return false;
}

// Removes a tree the install made or replaced; a failure is logged when it can be (what is left
// of a staging folder goes at the next install of the same target). Never raises, out of memory
// included.
void removeTree(const std::string& path) noexcept {
  try {
    pf::Error error;
    if (!pf::FileManager::removeItem(path, &error) && error.code != pf::kFileNoSuchFileError)
      pf::logLine("package install: could not remove " + path + ": " + error.localizedDescription());
  } catch (...) {
    try {
      pf::logCurrentException("package install: removing " + path);
    } catch (...) {
    }
  }
}

// Logs the exception being handled and sets *error (when given) to say it. Never raises.
void noteException(pf::Error* error) noexcept {
  try {
    std::string what = "unknown exception";
    try {
      throw;
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    pf::logLine("package install: " + what);
    if (error) *error = pf::posixError(ECANCELED, "package install: " + what);
  } catch (...) {
    if (error) error->code = ECANCELED;
  }
}

constexpr std::string_view kStagingMark = ".stage-";

// The staging folder of an install of `target`: ".<name>.stage-" and six characters of mkdtemp.
std::string stagingPattern(const std::filesystem::path& target) {
  return "." + target.filename().string() + std::string(kStagingMark) + "XXXXXX";
}

// Removes the staging folders that earlier installs of `target` left beside it: installs run one
// at a time, so any there now belongs to one that never finished. Only folders named as this
// target's staging folders go (not another target's, not a file or a link of such a name), each
// logged.
bool removeLeftovers(const std::filesystem::path& target, pf::Error* error) {
  const auto folder = target.parent_path();
  const auto names = pf::FileManager::contentsOfDirectory(folder, error);
  if (!names) return false;
  const std::string own = target.filename().string();
  for (const auto& name : *names) {
    if (pf::FileManager::targetOfTemporaryName(name, kStagingMark) != own) continue;
    const auto path = folder / name;
    const auto found = pf::FileManager::attributesOfItem(path);
    if (!found || found->type != pf::FileType::Directory) continue;
    pf::logLine("package install: removing " + path.string() + ", left by an interrupted install");
    removeTree(path.string());
  }
  return true;
}

// Where an install is. `staging` holds the staging folder's path from the moment mkdtemp made it
// (its storage is taken before) until the folder is moved away: whatever it names at the end goes.
struct Progress {
  std::string staging;
  bool swapped = false;
};

bool runSteps(const std::filesystem::path& archive, const std::filesystem::path& target,
              const std::filesystem::path& previous, const pf::ZipLimits& limits, pf::Error* error,
              Progress& progress) {
  const auto parent = target.parent_path();
  if (!beginStep(Step::Prepare, error) || !pf::FileManager::createDirectory(parent, true, error)) return false;
  if (!beginStep(Step::CleanUp, error) || !removeLeftovers(target, error)) return false;

  if (!beginStep(Step::Stage, error)) return false;
  // mkdtemp fills in the name where the clean-up finds it: nothing between can fail.
  progress.staging = (parent / stagingPattern(target)).string();
  if (!::mkdtemp(progress.staging.data())) {
    const int e = errno;
    progress.staging.clear();
    if (error) *error = pf::posixError(e, "staging folder");
    return false;
  }
  const std::filesystem::path staging = progress.staging;
  if (!beginStep(Step::Unpack, error) || !pf::ZipReader::unpack(archive, staging, limits, error)) return false;
  if (!beginStep(Step::Sync, error) || !pf::FileManager::syncFileSystem(staging, error)) return false;

  if (!beginStep(Step::Swap, error)) return false;
  const auto found = pf::FileManager::attributesOfItem(target);  // a link is no folder to replace
  const bool replacing = found && found->type == pf::FileType::Directory;
  if (replacing ? !pf::FileManager::exchangeItems(staging, target, error)
                : !pf::FileManager::moveItem(staging, target, error))
    return false;
  progress.swapped = true;
  if (!replacing) progress.staging.clear();  // it is the target now
  // From here on the new tree is in place: what fails is logged, and the install stands.
  pf::Error later;
  if (!beginStep(Step::Publish, &later) || !pf::FileManager::syncFolder(parent, &later))
    pf::logLine("package install: could not flush " + parent.string() + ": " + later.localizedDescription());
  if (!replacing) return true;
  // The staging path now holds the old tree.
  if (!beginStep(Step::KeepPrevious, &later)) {
    pf::logLine("package install: old tree not kept: " + later.localizedDescription());
    return true;
  }
  if (previous.empty()) return true;
  removeTree(previous.string());  // an earlier one
  if (pf::FileManager::moveItem(staging, previous, &later)) {
    progress.staging.clear();  // it is the previous tree now
    pf::FileManager::syncFolder(previous.parent_path());
  } else {
    pf::logLine("package install: old tree not kept: " + later.localizedDescription());
  }
  return true;
}

}  // namespace

bool MwPackageInstaller::install(const Path& archive, const Path& target, const Path& previous,
                                 const pf::ZipLimits& limits, pf::Error* error) {
  std::lock_guard lock(installMutex());
  Progress progress;
  bool installed = false;
  try {
    installed = runSteps(archive, target, previous, limits, error, progress);
  } catch (...) {
    installed = progress.swapped;
    noteException(installed ? nullptr : error);
  }
  // The staging path holds the unused new tree, or the old one that was not kept, or nothing.
  if (!progress.staging.empty()) removeTree(progress.staging);
  return installed;
}

void MwPackageInstaller::setStepHookForTesting(std::function<bool(Step)> hook) {
  std::lock_guard lock(installMutex());
  stepHook() = std::move(hook);
}

}  // namespace container
