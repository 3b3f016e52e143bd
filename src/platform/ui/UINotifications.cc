#include "platform/ui/UINotifications.h"

#include <mutex>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace pf {

namespace {

// Removes its observer from the default centre when the last owner lets go.
struct Observation {
  ObserverToken token = 0;
  ~Observation() { NotificationCenter::defaultCenter().removeObserver(token); }
};

struct AccessibilityLog {
  Mutex mutex;
  std::vector<AccessibilityPost> posts PF_GUARDED_BY(mutex);
};
AccessibilityLog& accessibilityLog() {
  static AccessibilityLog log;
  return log;
}

}  // namespace

void postUINotification(const std::string& name, const void* object) {
  // The senders (device, application) are process-wide singletons: observers match by name.
  (void)object;
  NotificationCenter::defaultCenter().post(name);
}

UIObservation observeUINotification(const std::string& name, std::function<void(const void* object)> handler) {
  auto token = NotificationCenter::defaultCenter().addObserver(
      name, AnyObject(), [handler = std::move(handler)](const Notification&) { handler(nullptr); });
  auto observation = std::make_shared<Observation>();
  observation->token = token;
  return observation;
}

void postAccessibilityNotification(const std::string& notification, std::optional<std::string> argument) {
  auto& log = accessibilityLog();
  MutexLock lock(log.mutex);
  log.posts.push_back({notification, std::move(argument)});
}

std::vector<AccessibilityPost> accessibilityPosts() {
  auto& log = accessibilityLog();
  MutexLock lock(log.mutex);
  return log.posts;
}

void clearAccessibilityPosts() {
  auto& log = accessibilityLog();
  MutexLock lock(log.mutex);
  log.posts.clear();
}

}  // namespace pf
