#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/SharedInstance.h"

namespace pf {
namespace {

SharedInstance<UserDefaults> gStandard;

}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::standard() {
  return gStandard.get([] {
    std::string id = Bundle::main()->bundleIdentifier();
    if (id.empty() || id.find('/') != std::string::npos) id = "fxclient";
    return std::make_shared<UserDefaults>(Sandbox::preferences() / (id + ".plist"));
  });
}

void UserDefaults::resetStandard() { gStandard.reset(); }

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {
  // What writes of this file left when the process was killed before their rename.
  const std::string name = file_.filename().string();
  FileManager::removeAtomicWriteLeftovers(file_.parent_path(), [&](std::string_view leftover) { return leftover == name; });
  if (!FileManager::fileExists(file_)) return;
  Error error;
  // A regular file only: a FIFO or a device in its place must not stall the start.
  auto bytes = FileManager::readRegularFile(file_, &error, 64u << 20);
  auto value = bytes ? parsePropertyList(*bytes, nullptr, &error) : std::nullopt;
  if (value && value->is_object()) values_ = std::move(*value);
  else logLine("UserDefaults: starting empty, " + file_.string() + " is unreadable: " + error.localizedDescription());
}

std::optional<Value> UserDefaults::object(std::string_view key) const {
  MutexLock lock(mutex_);
  if (const Value* v = valueForKey(values_, key)) return *v;
  if (const Value* v = valueForKey(registered_, key)) return *v;
  return std::nullopt;
}

bool UserDefaults::setObject(std::string_view key, Value value) {
  if (value.is_null()) return removeObject(key);
  MutexLock lock(mutex_);
  // Only the key's earlier value is kept for an undo: the assignment leaves the key where it was,
  // and a new key is the last one, so the undo leaves the order as the file has it.
  const std::string name(key);
  std::optional<Value> before;
  if (auto found = values_.find(name); found != values_.end()) before = *found;
  values_[name] = std::move(value);
  if (persistLocked()) return true;
  if (before)
    values_[name] = std::move(*before);
  else
    values_.erase(name);
  return false;
}

bool UserDefaults::removeObject(std::string_view key) {
  MutexLock lock(mutex_);
  if (!values_.contains(std::string(key))) return true;
  Value before = values_;  // the whole, so an undo puts the key back where it stood
  values_.erase(std::string(key));
  if (persistLocked()) return true;
  values_ = std::move(before);
  return false;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
  auto v = object(key);
  if (!v) return std::nullopt;
  if (v->is_string()) return v->get<std::string>();
  if (v->is_number() || v->is_boolean()) return description(*v);
  return std::nullopt;
}

bool UserDefaults::boolValue(std::string_view key) const {
  auto v = object(key);
  return v && pf::boolValue(*v);
}

std::int64_t UserDefaults::integerValue(std::string_view key) const {
  auto v = object(key);
  return v ? pf::integerValue(*v) : 0;
}

double UserDefaults::doubleValue(std::string_view key) const {
  auto v = object(key);
  return v ? pf::doubleValue(*v) : 0.0;
}

void UserDefaults::registerDefaults(const Value& dictionary) {
  if (!dictionary.is_object()) return;
  MutexLock lock(mutex_);
  for (const auto& [key, value] : dictionary.items()) registered_[key] = value;
}

Value UserDefaults::dictionaryRepresentation() const {
  MutexLock lock(mutex_);
  Value all = registered_;
  for (const auto& [key, value] : values_.items()) all[key] = value;
  return all;
}

bool UserDefaults::synchronize() {
  MutexLock lock(mutex_);
  return persistLocked();
}

bool UserDefaults::persistLocked() {
  Error error;
  auto bytes = writePropertyList(values_, PropertyListFormat::Binary, &error);
  if (bytes) {
    FileManager::createDirectory(file_.parent_path(), true);
    if (FileManager::writeFile(file_, *bytes, true, &error)) return true;
  }
  logLine("UserDefaults: could not write " + file_.string() + ": " + error.localizedDescription());
  return false;
}

}  // namespace pf
