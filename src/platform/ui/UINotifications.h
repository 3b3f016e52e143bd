#pragma once
// The interface's notifications (orientation changes), posted and observed by name through the
// platform's default notification centre.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pf {

// Posts name with object (the sender), synchronously on the calling thread.
void postUINotification(const std::string& name, const void* object);

// Observes name until the returned token is destroyed.
using UIObservation = std::shared_ptr<void>;
UIObservation observeUINotification(const std::string& name, std::function<void(const void* object)> handler);

// Accessibility notifications with their argument (a text or none). Nothing speaks them here:
// every post is recorded, for tests to read.
inline constexpr const char* kAccessibilityScreenChangedNotification = "UIAccessibilityScreenChangedNotification";
struct AccessibilityPost {
  std::string notification;
  std::optional<std::string> argument;
};
void postAccessibilityNotification(const std::string& notification, std::optional<std::string> argument);
std::vector<AccessibilityPost> accessibilityPosts();
void clearAccessibilityPosts();

}  // namespace pf
