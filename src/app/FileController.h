#pragma once
// Sandbox paths and file helpers of the app. The shared instance keeps each path once computed
// (under a lock, so any thread may read them); the file helpers answer by their result only.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/Url.h"

namespace app {

class FileController {
 public:
  static FileController& sharedInstance();

  // The application package folder (the main bundle's).
  static std::string appPath();
  static std::string docPath();
  // Library + "/Preference".
  static std::string libPrefPath();
  // Library + "/Caches".
  static std::string libCachePath();
  // Library + "/tmp".
  static std::string tmpPath();
  static std::string libPath();
  // Forgets the kept paths, so that they follow a new home (tests).
  static void resetForTesting();

  // The main bundle's resource "name.ext".
  static std::optional<std::string> resPath(std::string_view fileName);

  // True when a folder stands at the path or was created (with its parents); false for a file.
  static bool touchDirectory(const std::string& path);
  // Creates the parent folders, then true when a file stands at the path or an empty one was
  // created; an existing file is never truncated, a folder at the path is false.
  static bool touchFile(const std::string& path);

  // MD5 of the file's contents, 32 lower-case hexadecimal digits; nullopt unless the path names a
  // regular file of at most 512 MiB that reads (a FIFO or a device is never opened for reading).
  static std::optional<std::string> fileMD5(const std::string& path);
  static std::optional<std::string> tnqGetFileMD5WithPath(const std::string& path) { return fileMD5(path); }

  // Full paths of the files of the folder whose names end in "." + type, and of its sub-folders'
  // (at any depth, after the sub-folder's place) when asked. Linked folders are never entered.
  static std::optional<std::vector<std::string>> allFilesAtPath(const std::string& folder, std::string_view type,
                                                                bool needSearchDir);
  static std::optional<std::vector<std::string>> allFilesAtPath(const std::string& folder, bool needSearchSubDir);

  // Total bytes of the file or of every file below the folder (links not followed): lengths, or
  // allocated blocks x 512 in disk mode.
  static std::uint64_t sizeAtPath(const std::string& path, bool diskMode);

  // Marks an existing file as excluded from backups.
  static bool skipFileBackupForItemAtURL(const pf::Url& url);
  static constexpr const char* kBackupAttribute = "com.apple.MobileBackup";

 private:
  enum Slot { kApp, kDoc, kLibPref, kLibCache, kTmp, kLib, kSlotCount };
  FileController() = default;
  std::string path(Slot slot);

  pf::Mutex mutex_;
  std::optional<std::string> paths_[kSlotCount] PF_GUARDED_BY(mutex_);
};

// Resources of the application package as files of their own: none (every path is a folder).
class ResourceFilesRead {
 public:
  static bool isDirectory(std::string_view path) { return true; }
  static std::string readPath(std::string_view path) { return {}; }
};

}  // namespace app
