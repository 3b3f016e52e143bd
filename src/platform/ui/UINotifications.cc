#include "platform/ui/UINotifications.h"

#include <map>
#include <mutex>
#include <vector>

namespace pf {

namespace {

struct Observer {
  std::string name;
  std::function<void(const void*)> handler;
};

struct Registry {
  std::mutex mutex;
  std::vector<std::weak_ptr<Observer>> observers;
};

Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

}  // namespace

void postUINotification(const std::string& name, const void* object) {
  std::vector<std::shared_ptr<Observer>> targets;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase_if(r.observers, [](auto& w) { return w.expired(); });
    for (auto& w : r.observers)
      if (auto o = w.lock(); o && o->name == name) targets.push_back(o);
  }
  for (auto& o : targets) o->handler(object);
}

UIObservation observeUINotification(const std::string& name, std::function<void(const void*)> handler) {
  auto o = std::make_shared<Observer>(Observer{name, std::move(handler)});
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.observers.push_back(o);
  return o;
}

}  // namespace pf
