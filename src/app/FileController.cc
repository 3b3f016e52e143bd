#include "app/FileController.h"

#include <sys/stat.h>

#include <deque>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Sandbox.h"
#include "platform/security/Digest.h"

namespace app {
namespace {

using pf::FileManager;

std::string libraryPath() { return pf::Sandbox::library().string(); }

enum class Kind { Missing, File, Folder, LinkedFolder };

// The kind of the entry without entering a link; a link to a folder is told apart.
Kind kindOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Kind::Missing;
  if (S_ISDIR(st.st_mode)) return Kind::Folder;
  if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Kind::LinkedFolder;
  return Kind::File;
}

bool collectFiles(const std::string& folder, const std::string* suffix, bool deep, std::vector<std::string>& out) {
  auto names = FileManager::contentsOfDirectory(folder);
  if (!names) return false;
  for (const auto& name : *names) {
    std::string full = folder + "/" + name;
    switch (kindOf(full)) {
      case Kind::Folder:
        if (deep) collectFiles(full, suffix, deep, out);
        break;
      case Kind::File:
        if (!suffix || (name.size() >= suffix->size() && name.ends_with(*suffix))) out.push_back(full);
        break;
      case Kind::LinkedFolder:
      case Kind::Missing:
        break;
    }
  }
  return true;
}

}  // namespace

FileController& FileController::sharedInstance() {
  static FileController instance;
  return instance;
}

std::string FileController::path(Slot slot) {
  pf::MutexLock lock(mutex_);
  auto& kept = paths_[slot];
  if (!kept) {
    switch (slot) {
      case kApp: kept = pf::Bundle::main()->bundlePath().string(); break;
      case kDoc: kept = pf::Sandbox::documents().string(); break;
      case kLibPref: kept = libraryPath() + "/Preference"; break;
      case kLibCache: kept = libraryPath() + "/Caches"; break;
      case kTmp: kept = libraryPath() + "/tmp"; break;
      case kLib: kept = libraryPath(); break;
      case kSlotCount: break;
    }
  }
  return kept.value_or(std::string());
}

std::string FileController::appPath() { return sharedInstance().path(kApp); }
std::string FileController::docPath() { return sharedInstance().path(kDoc); }
std::string FileController::libPrefPath() { return sharedInstance().path(kLibPref); }
std::string FileController::libCachePath() { return sharedInstance().path(kLibCache); }
std::string FileController::tmpPath() { return sharedInstance().path(kTmp); }
std::string FileController::libPath() { return sharedInstance().path(kLib); }

void FileController::resetForTesting() {
  auto& shared = sharedInstance();
  pf::MutexLock lock(shared.mutex_);
  for (auto& kept : shared.paths_) kept.reset();
}

std::optional<std::string> FileController::resPath(std::string_view fileName) {
  std::string name(fileName);
  std::size_t dot = name.rfind('.');
  std::string type = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (dot != std::string::npos) name.resize(dot);
  auto found = pf::Bundle::main()->pathForResource(name, type);
  if (!found) return std::nullopt;
  return found->string();
}

bool FileController::touchDirectory(const std::string& path) {
  if (FileManager::fileExists(path)) return FileManager::isDirectory(path);
  return FileManager::createDirectory(path, true);
}

bool FileController::touchFile(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (path.empty() || slash == std::string::npos) return false;
  std::string parent = path.substr(0, slash);
  if (!parent.empty() && !touchDirectory(parent)) return false;
  if (FileManager::fileExists(path)) return !FileManager::isDirectory(path);
  // Somebody may create it between the check and here: what then stands there decides.
  if (FileManager::createFileIfAbsent(path)) return true;
  return FileManager::fileExists(path) && !FileManager::isDirectory(path);
}

std::optional<std::string> FileController::fileMD5(const std::string& path) {
  // A regular file only: a FIFO or a device must not stall the caller.
  auto md5 = pf::digestOfFile(pf::DigestAlgorithm::Md5, path);
  if (!md5) return std::nullopt;
  return pf::hexEncode(*md5, false);
}

std::optional<std::vector<std::string>> FileController::allFilesAtPath(const std::string& folder,
                                                                       std::string_view type, bool needSearchDir) {
  std::string suffix = "." + std::string(type);
  std::vector<std::string> out;
  if (!collectFiles(folder, &suffix, needSearchDir, out)) return std::nullopt;
  return out;
}

std::optional<std::vector<std::string>> FileController::allFilesAtPath(const std::string& folder,
                                                                       bool needSearchSubDir) {
  std::vector<std::string> out;
  if (!collectFiles(folder, nullptr, needSearchSubDir, out)) return std::nullopt;
  return out;
}

std::uint64_t FileController::sizeAtPath(const std::string& path, bool diskMode) {
  std::uint64_t total = 0;
  std::deque<std::string> work{path};
  while (!work.empty()) {
    std::string current = std::move(work.front());
    work.pop_front();
    auto attributes = FileManager::attributesOfItem(current);
    if (!attributes) continue;
    if (attributes->type == pf::FileType::Directory) {
      auto names = FileManager::contentsOfDirectory(current);
      if (!names) continue;
      for (auto it = names->rbegin(); it != names->rend(); ++it) work.push_front(current + "/" + *it);
      continue;
    }
    total += diskMode ? attributes->allocatedSize : attributes->size;
  }
  return total;
}

bool FileController::skipFileBackupForItemAtURL(const pf::Url& url) {
  if (!url.isFileUrl()) return false;
  auto path = url.filePath();
  if (!FileManager::fileExists(path)) return false;
  return FileManager::setExtendedAttribute(path, kBackupAttribute, pf::Bytes{1});
}

}  // namespace app
