#pragma once
// The interface's notifications (orientation changes), posted and observed by name through the
// platform's default notification centre.

#include <functional>
#include <memory>
#include <string>

namespace pf {

// Posts name with object (the sender), synchronously on the calling thread.
void postUINotification(const std::string& name, const void* object);

// Observes name until the returned token is destroyed.
using UIObservation = std::shared_ptr<void>;
UIObservation observeUINotification(const std::string& name, std::function<void(const void* object)> handler);

}  // namespace pf
