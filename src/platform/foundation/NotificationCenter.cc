#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <cstdio>

#include "platform/foundation/Operation.h"
#include "platform/foundation/Thread.h"

namespace pf {

std::string description(const AnyObject& object) {
  if (object.isNil()) return "(null)";
  if (const Value* v = object.value()) return description(*v);
  char buf[48];
  std::snprintf(buf, sizeof buf, "<object %p>", object.identity());
  return buf;
}

struct NotificationCenter::Entry {
  ObserverToken token;
  const void* target;
  std::string name;
  AnyObject object;
  NotificationHandler handler;
  std::shared_ptr<OperationQueue> queue;
  std::function<bool()> expired;
  std::atomic<bool> removed{false};

  bool matches(const Notification& n) const {
    return (name.empty() || name == n.name) && (object.isNil() || object == n.object);
  }
};

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* center = new NotificationCenter();  // outlives every static observer
  return *center;
}

void NotificationCenter::resetDefaultCenter() {
  NotificationCenter& center = defaultCenter();
  MutexLock lock(center.mutex_);
  for (auto& e : center.entries_) e->removed = true;
  center.entries_.clear();
}

ObserverToken NotificationCenter::addEntry(const void* target, std::string name, AnyObject object,
                                           NotificationHandler handler, std::shared_ptr<OperationQueue> queue,
                                           std::function<bool()> expired) {
  auto entry = std::make_shared<Entry>();
  entry->target = target;
  entry->name = std::move(name);
  entry->object = std::move(object);
  entry->handler = std::move(handler);
  entry->queue = std::move(queue);
  entry->expired = std::move(expired);
  MutexLock lock(mutex_);
  entry->token = nextToken_++;
  entries_.push_back(entry);
  return entry->token;
}

ObserverToken NotificationCenter::addObserver(std::string name, AnyObject object, NotificationHandler handler,
                                              std::shared_ptr<OperationQueue> queue) {
  return addEntry(nullptr, std::move(name), std::move(object), std::move(handler), std::move(queue), nullptr);
}

ObserverToken NotificationCenter::addObserver(const void* target, std::string name, AnyObject object,
                                              NotificationHandler handler) {
  return addEntry(target, std::move(name), std::move(object), std::move(handler), nullptr, nullptr);
}

void NotificationCenter::removeObserver(ObserverToken token) {
  MutexLock lock(mutex_);
  std::erase_if(entries_, [&](const std::shared_ptr<Entry>& e) {
    if (e->token != token) return false;
    e->removed = true;
    return true;
  });
}

void NotificationCenter::removeObserver(const void* target, std::string_view name, const AnyObject& object) {
  if (!target) return;
  MutexLock lock(mutex_);
  std::erase_if(entries_, [&](const std::shared_ptr<Entry>& e) {
    if (e->target != target) return false;
    if (!name.empty() && e->name != name) return false;
    if (!object.isNil() && !(e->object == object)) return false;
    e->removed = true;
    return true;
  });
}

void NotificationCenter::post(std::string name, AnyObject object, Value userInfo) {
  post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<std::shared_ptr<Entry>> matching;
  {
    MutexLock lock(mutex_);
    // Observers whose target is gone are forgotten on the way.
    std::erase_if(entries_, [](const std::shared_ptr<Entry>& e) {
      if (!e->expired || !e->expired()) return false;
      e->removed = true;
      return true;
    });
    for (const auto& e : entries_)
      if (e->matches(notification)) matching.push_back(e);
  }
  for (const auto& e : matching) {
    if (e->removed) continue;
    bool onQueue = !e->queue || OperationQueue::current() == e->queue ||
                   (e->queue == OperationQueue::main() && Thread::isMainThread());
    if (onQueue) {
      e->handler(notification);
      continue;
    }
    auto operation = BlockOperation::make([e, notification] {
      if (!e->removed) e->handler(notification);
    });
    e->queue->addOperation(operation);
    operation->waitUntilFinished();
  }
}

bool NotificationCenter::hasObserversFor(std::string_view name) const {
  MutexLock lock(mutex_);
  return std::any_of(entries_.begin(), entries_.end(), [&](const std::shared_ptr<Entry>& entry) {
    return !entry->removed && (entry->name.empty() || entry->name == name);
  });
}

std::size_t NotificationCenter::observerCount() const {
  MutexLock lock(mutex_);
  return entries_.size();
}

}  // namespace pf
