#include "platform/foundation/Bundle.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SharedInstance.h"

namespace pf {
namespace {

namespace fs = std::filesystem;

SharedInstance<Bundle> gMain;

fs::path defaultMainPath() {
  if (const char* env = std::getenv(Bundle::kPathVariable); env && *env) return env;
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : exe.parent_path();
}

constexpr std::uint64_t kMaxTableBytes = 16u << 20;

}  // namespace

std::shared_ptr<Bundle> Bundle::main() {
  return gMain.get([] { return std::make_shared<Bundle>(defaultMainPath()); });
}

void Bundle::setMainPath(const fs::path& path) {
  gMain.exchange(std::make_shared<Bundle>(path.empty() ? defaultMainPath() : path));
}

std::shared_ptr<Bundle> Bundle::at(const fs::path& path) {
  if (!FileManager::isDirectory(path)) return nullptr;
  return std::make_shared<Bundle>(path);
}

Bundle::Bundle(fs::path path) : path_(std::move(path)) {}

std::vector<std::string> Bundle::preferredLocalizations() const {
  {
    MutexLock lock(mutex_);
    if (!languages_.empty()) return languages_;
  }
  std::vector<std::string> languages;
  if (const Value* region = objectForInfoDictionaryKey("CFBundleDevelopmentRegion"); region && region->is_string())
    languages.push_back(region->get<std::string>());
  if (std::find(languages.begin(), languages.end(), "en") == languages.end()) languages.push_back("en");
  return languages;
}

void Bundle::setPreferredLocalizations(std::vector<std::string> languages) {
  MutexLock lock(mutex_);
  languages_ = std::move(languages);
  tables_.clear();
}

std::optional<fs::path> Bundle::pathForResource(std::string_view name, std::string_view type,
                                                std::string_view subdirectory) const {
  if (name.empty()) return std::nullopt;
  std::string file(name);
  if (!type.empty()) {
    if (type.front() != '.') file += '.';
    file += type;
  }
  // Stay inside the bundle: no parent steps, and no absolute name or subdirectory (joining an
  // absolute path would replace the bundle's folder).
  if (file.find("..") != std::string::npos || subdirectory.find("..") != std::string::npos) return std::nullopt;
  if (file.front() == '/' || (!subdirectory.empty() && subdirectory.front() == '/')) return std::nullopt;
  fs::path base = subdirectory.empty() ? path_ : path_ / subdirectory;
  std::vector<fs::path> candidates{base / file};
  for (const auto& language : preferredLocalizations()) candidates.push_back(base / (language + ".lproj") / file);
  candidates.push_back(base / "Base.lproj" / file);
  for (const auto& candidate : candidates)
    if (FileManager::fileExists(candidate)) return candidate;
  return std::nullopt;
}

std::vector<fs::path> Bundle::pathsForResources(std::string_view type, std::string_view subdirectory) const {
  fs::path base = subdirectory.empty() ? path_ : path_ / subdirectory;
  std::vector<fs::path> out;
  auto names = FileManager::contentsOfDirectory(base);
  if (!names) return out;
  std::string suffix = type.empty() ? "" : (type.front() == '.' ? std::string(type) : "." + std::string(type));
  for (const auto& name : *names)
    if (suffix.empty() || (name.size() > suffix.size() && name.ends_with(suffix))) out.push_back(base / name);
  return out;
}

const Value& Bundle::infoDictionary() const {
  MutexLock lock(mutex_);
  if (!info_) {
    info_ = Value::object();
    fs::path file = path_ / "Info.plist";
    if (FileManager::fileExists(file)) {
      Error error;
      auto bytes = FileManager::readFile(file, &error, kMaxTableBytes);
      auto value = bytes ? parsePropertyList(*bytes, nullptr, &error) : std::nullopt;
      if (value && value->is_object()) info_ = std::move(*value);
      else logLine("Bundle: unreadable Info.plist: " + error.localizedDescription());
    }
  }
  return *info_;
}

const Value* Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  return valueForKey(infoDictionary(), key);
}

std::string Bundle::bundleIdentifier() const {
  const Value* id = objectForInfoDictionaryKey("CFBundleIdentifier");
  return id && id->is_string() ? id->get<std::string>() : std::string();
}

const Value& Bundle::table(const std::string& name) const {
  auto languages = preferredLocalizations();
  MutexLock lock(mutex_);
  auto it = tables_.find(name);
  if (it != tables_.end()) return it->second;
  // Earlier languages win; every table found contributes the keys the others lack.
  Value merged = Value::object();
  std::vector<fs::path> files;
  for (const auto& language : languages) files.push_back(path_ / (language + ".lproj") / (name + ".strings"));
  files.push_back(path_ / "Base.lproj" / (name + ".strings"));
  files.push_back(path_ / (name + ".strings"));
  for (const auto& file : files) {
    if (!FileManager::fileExists(file)) continue;
    Error error;
    auto bytes = FileManager::readFile(file, &error, kMaxTableBytes);
    auto strings = bytes ? parseStringsTable(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), &error)
                         : std::nullopt;
    if (!strings) {
      logLine("Bundle: unreadable strings table " + file.string() + ": " + error.localizedDescription());
      continue;
    }
    for (const auto& [key, value] : strings->items())
      if (!merged.contains(key)) merged[key] = value;
  }
  return tables_.emplace(name, std::move(merged)).first->second;
}

std::string Bundle::localizedString(std::string_view key, std::string_view value, std::string_view tableName) const {
  const Value& strings = table(tableName.empty() ? "Localizable" : std::string(tableName));
  if (const Value* found = valueForKey(strings, key); found && found->is_string()) return found->get<std::string>();
  return value.empty() ? std::string(key) : std::string(value);
}

}  // namespace pf
