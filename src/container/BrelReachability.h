#pragma once
// The container start-up's reachability monitor: HnReachability's design (HnReachability.h) with
// its own notification, its reference under the name brelReachabilityRef, and a release that also
// clears both blocks.

#include "container/HnReachability.h"

namespace container {

inline constexpr const char* kBrelReachabilityChangedNotification = "kBrelReachabilityChangedNotification";

class BrelReachability final : public detail::BasicReachability<BrelReachability> {
 public:
  static constexpr const char* kChangedNotification = kBrelReachabilityChangedNotification;
  ~BrelReachability() override;
  const std::shared_ptr<pf::NetworkReachability>& brelReachabilityRef() const { return ref(); }

 private:
  friend class detail::BasicReachability<BrelReachability>;
  using BasicReachability::BasicReachability;
};

}  // namespace container
