#pragma once
// An application package folder: resources by name and type, its information dictionary
// (Info.plist, any property-list format) and localized strings from "<language>.lproj/<table>.strings".
// The main bundle is the folder named by FX_BUNDLE, or one set through setMainPath(), or else the
// executable's folder. Thread-safe.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

namespace pf {

class Bundle {
 public:
  static constexpr const char* kPathVariable = "FX_BUNDLE";

  static std::shared_ptr<Bundle> main();
  // Replaces the main bundle by the folder at `path` (an empty path returns to the default).
  static void setMainPath(const std::filesystem::path& path);
  // The bundle at a folder, or null when there is no folder.
  static std::shared_ptr<Bundle> at(const std::filesystem::path& path);

  explicit Bundle(std::filesystem::path path);

  const std::filesystem::path& bundlePath() const { return path_; }

  // "<name>.<type>" (or "<name>" when the type is empty) in the subdirectory, in the preferred
  // localizations' ".lproj" folders, then in "Base.lproj"; nullopt when there is none.
  std::optional<std::filesystem::path> pathForResource(std::string_view name, std::string_view type,
                                                       std::string_view subdirectory = {}) const;
  // Every file of the type directly in the subdirectory, sorted.
  std::vector<std::filesystem::path> pathsForResources(std::string_view type, std::string_view subdirectory = {}) const;

  // Info.plist as a dictionary (empty when missing or unreadable).
  const Value& infoDictionary() const;
  const Value* objectForInfoDictionaryKey(std::string_view key) const;
  std::string bundleIdentifier() const;

  // The translation of `key` in the table ("Localizable" when empty); when there is none, `value`
  // when it is not empty, else the key.
  std::string localizedString(std::string_view key, std::string_view value = {}, std::string_view table = {}) const;

  // The languages looked in, most preferred first (default: the development region of
  // Info.plist, then "en").
  std::vector<std::string> preferredLocalizations() const;
  void setPreferredLocalizations(std::vector<std::string> languages);

 private:
  const Value& table(const std::string& name) const;

  std::filesystem::path path_;
  mutable Mutex mutex_;
  mutable std::optional<Value> info_ PF_GUARDED_BY(mutex_);
  mutable std::unordered_map<std::string, Value> tables_ PF_GUARDED_BY(mutex_);
  std::vector<std::string> languages_ PF_GUARDED_BY(mutex_);
};

}  // namespace pf
