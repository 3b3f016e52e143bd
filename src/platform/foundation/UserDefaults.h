#pragma once
// User defaults: a dictionary of values persisted as a binary property list in
// Library/Preferences/<bundle identifier>.plist, written (atomically) on every change so that
// nothing set is lost. A change whose write fails is undone (and logged): what the defaults answer
// is what the file holds. Registered defaults answer for keys that were never set and are not
// persisted. Thread-safe.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

namespace pf {

class UserDefaults {
 public:
  // The shared defaults of the main bundle's identifier ("fxclient" without one) in the sandbox.
  static std::shared_ptr<UserDefaults> standard();
  // Forgets the shared instance; the next standard() reads the file of the current sandbox.
  static void resetStandard();

  // Defaults kept in `file` (read now when it exists; an unreadable file starts empty). The
  // temporary files that killed writes of it left beside it are removed.
  explicit UserDefaults(std::filesystem::path file);

  std::optional<Value> object(std::string_view key) const;
  // Stores the value; null removes the key (the platform's nil). Either stays only when written:
  // true when the file holds the change (a removal of an absent key writes nothing).
  bool setObject(std::string_view key, Value value);
  bool removeObject(std::string_view key);

  // Strings as they are, numbers as their description; nullopt otherwise.
  std::optional<std::string> string(std::string_view key) const;
  bool boolValue(std::string_view key) const;            // boolValue of the object, false when absent
  std::int64_t integerValue(std::string_view key) const;  // integerValue, 0 when absent
  double doubleValue(std::string_view key) const;
  void setBool(std::string_view key, bool value) { setObject(key, Value(value)); }
  void setInteger(std::string_view key, std::int64_t value) { setObject(key, Value(value)); }
  void setDouble(std::string_view key, double value) { setObject(key, Value(value)); }

  void registerDefaults(const Value& dictionary);
  // Registered defaults overlaid with what was set.
  Value dictionaryRepresentation() const;
  // Writes the file again; false when writing fails.
  bool synchronize();

  const std::filesystem::path& file() const { return file_; }

 private:
  bool persistLocked() PF_REQUIRES(mutex_);

  std::filesystem::path file_;
  mutable Mutex mutex_;
  Value values_ PF_GUARDED_BY(mutex_) = Value::object();
  Value registered_ PF_GUARDED_BY(mutex_) = Value::object();
};

}  // namespace pf
