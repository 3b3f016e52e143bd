#include "platform/ui/Pasteboard.h"

#include <unordered_map>

namespace pf {
namespace {

struct Registry {
  Mutex mutex;
  std::unordered_map<std::string, std::shared_ptr<Pasteboard>> boards PF_GUARDED_BY(mutex);
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

std::shared_ptr<Pasteboard> Pasteboard::general() { return withName(kGeneralName, true); }

std::shared_ptr<Pasteboard> Pasteboard::withName(const std::string& name, bool create) {
  auto& r = registry();
  MutexLock lock(r.mutex);
  auto it = r.boards.find(name);
  if (it != r.boards.end()) return it->second;
  if (!create) return nullptr;
  auto board = std::make_shared<Pasteboard>(name);
  r.boards.emplace(name, board);
  return board;
}

void Pasteboard::remove(const std::string& name) {
  auto& r = registry();
  MutexLock lock(r.mutex);
  r.boards.erase(name);
}

void Pasteboard::resetAll() {
  auto& r = registry();
  MutexLock lock(r.mutex);
  r.boards.clear();
}

void Pasteboard::setData(Bytes data, const std::string& type) {
  MutexLock lock(mutex_);
  items_[type] = std::move(data);
  ++changeCount_;
}

std::optional<Bytes> Pasteboard::dataForType(const std::string& type) const {
  MutexLock lock(mutex_);
  auto it = items_.find(type);
  if (it == items_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> Pasteboard::types() const {
  MutexLock lock(mutex_);
  std::vector<std::string> out;
  for (const auto& [type, data] : items_) out.push_back(type);
  return out;
}

void Pasteboard::clear() {
  MutexLock lock(mutex_);
  items_.clear();
  ++changeCount_;
}

long Pasteboard::changeCount() const {
  MutexLock lock(mutex_);
  return changeCount_;
}

}  // namespace pf
