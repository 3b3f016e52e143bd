#pragma once
// Pasteboards: the general one and named ones, shared by every application of the device (here:
// process-wide), holding one item of bytes per type. Thread-safe.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace pf {

class Pasteboard {
 public:
  static constexpr const char* kGeneralName = "general";

  static std::shared_ptr<Pasteboard> general();
  // The pasteboard of that name; made when `create` is set, else nullptr when there is none.
  static std::shared_ptr<Pasteboard> withName(const std::string& name, bool create);
  // Forgets a named pasteboard (its holders keep an orphan).
  static void remove(const std::string& name);
  static void resetAll();  // tests

  const std::string& name() const { return name_; }

  // Replaces the item of that type.
  void setData(Bytes data, const std::string& type);
  std::optional<Bytes> dataForType(const std::string& type) const;
  std::vector<std::string> types() const;
  void clear();
  // Grows with every change.
  long changeCount() const;

  explicit Pasteboard(std::string name) : name_(std::move(name)) {}

 private:
  std::string name_;
  mutable Mutex mutex_;
  std::map<std::string, Bytes> items_ PF_GUARDED_BY(mutex_);
  long changeCount_ PF_GUARDED_BY(mutex_) = 0;
};

}  // namespace pf
