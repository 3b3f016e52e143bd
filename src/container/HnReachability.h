#pragma once
// Reachability monitors of the HTTP engine (HnReachability) and of the container's start-up
// (BrelReachability, BrelReachability.h): one design over pf::NetworkReachability, reporting
// changes by blocks (on the monitor's serial queue) and by a notification (on the main queue, the
// monitor as object).
//
// Unlike the design they come from, a change callback already queued when the monitor stops or
// goes away is dropped instead of reaching a freed monitor, and the blocks are read and replaced
// under a lock (they may be set on one thread while a change runs on the serial queue).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/Reachability.h"

namespace container {

inline constexpr const char* kHnReachabilityChangedNotification = "kHnReachabilityChangedNotification";

namespace detail {

// Statuses of currentReachabilityStatus.
enum ReachabilityStatus : std::int32_t { kNotReachable = 0, kReachableViaWWAN = 1, kReachableViaWiFi = 2 };

// The shared design; Self is the monitor class (its notification name and its release differ).
template <class Self>
class BasicReachability : public std::enable_shared_from_this<Self> {
 public:
  using Block = std::function<void(Self& monitor)>;

  // A monitor for a host name; nullptr when no reference can be made for it.
  static std::shared_ptr<Self> reachabilityWithHostname(const std::string& hostname) {
    return reachabilityWithReachabilityRef(pf::NetworkReachability::createWithName(hostname));
  }
  // A monitor for an address; nullptr when no reference can be made for it.
  static std::shared_ptr<Self> reachabilityWithAddress(const sockaddr* address) {
    return reachabilityWithReachabilityRef(pf::NetworkReachability::createWithAddress(address));
  }
  // The network in general (0.0.0.0).
  static std::shared_ptr<Self> reachabilityForInternetConnection() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&zero));
  }
  // The link-local network 169.254.0.0.
  static std::shared_ptr<Self> reachabilityForLocalWiFi() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(0xA9FE0000u);
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&local));
  }
  // initWithReachabilityRef: takes the reference (reachableOnWWAN on); nullptr for none.
  static std::shared_ptr<Self> reachabilityWithReachabilityRef(std::shared_ptr<pf::NetworkReachability> ref) {
    if (!ref) return nullptr;
    return std::shared_ptr<Self>(new Self(std::move(ref)));
  }

  virtual ~BasicReachability() { stopNotifier(); }
  BasicReachability(const BasicReachability&) = delete;
  BasicReachability& operator=(const BasicReachability&) = delete;

  Block reachableBlock() const {
    pf::MutexLock lock(mutex_);
    return reachableBlock_;
  }
  void setReachableBlock(Block block) {
    pf::MutexLock lock(mutex_);
    reachableBlock_ = std::move(block);
  }
  Block unreachableBlock() const {
    pf::MutexLock lock(mutex_);
    return unreachableBlock_;
  }
  void setUnreachableBlock(Block block) {
    pf::MutexLock lock(mutex_);
    unreachableBlock_ = std::move(block);
  }
  bool reachableOnWWAN() const { return reachableOnWWAN_.load(); }
  void setReachableOnWWAN(bool on) { reachableOnWWAN_ = on; }
  std::shared_ptr<pf::DispatchQueue> reachabilitySerialQueue() const {
    pf::MutexLock lock(mutex_);
    return serialQueue_;
  }
  // The monitor itself while notifying, else null.
  std::shared_ptr<Self> reachabilityObject() const {
    pf::MutexLock lock(mutex_);
    return self_;
  }

  // Starts reporting changes; false when the callback or the queue cannot be set.
  bool startNotifier() {
    auto self = this->shared_from_this();
    auto queue = pf::DispatchQueue::makeSerial("container.reachability");
    {
      pf::MutexLock lock(mutex_);
      self_ = self;
      serialQueue_ = queue;
    }
    std::weak_ptr<Self> weak = self;
    bool ok = ref_->setCallback([weak](pf::NetworkReachability&, pf::ReachabilityFlags flags) {
      if (auto monitor = weak.lock()) monitor->reachabilityChanged(flags);
    });
    if (ok) {
      ok = ref_->setDispatchQueue(queue);
      if (!ok) ref_->setCallback(nullptr);
    }
    if (!ok) {
      pf::MutexLock lock(mutex_);
      serialQueue_.reset();
      self_.reset();
    }
    return ok;
  }

  // Once it returns, no change callback runs any more (unless it is called from one).
  void stopNotifier() {
    ref_->setCallback(nullptr);
    ref_->setDispatchQueue(nullptr);
    std::shared_ptr<Self> self;
    std::shared_ptr<pf::DispatchQueue> queue;
    {
      pf::MutexLock lock(mutex_);
      queue.swap(serialQueue_);
      self.swap(self_);
    }
    // A callback already taken from the queue finishes before the monitor counts as stopped.
    if (queue && !queue->isCurrent()) queue->sync([] {});
  }

  bool isReachableWithFlags(pf::ReachabilityFlags flags) const {
    if (!(flags & pf::kReachabilityReachable)) return false;
    const auto both = pf::kReachabilityConnectionRequired | pf::kReachabilityTransientConnection;
    if ((flags & both) == both) return false;
    if ((flags & pf::kReachabilityIsWWAN) && !reachableOnWWAN()) return false;
    return true;
  }
  bool isReachable() const {
    auto flags = ref_->flags();
    return flags && isReachableWithFlags(*flags);
  }
  bool isReachableViaWWAN() const {
    return has(pf::kReachabilityReachable | pf::kReachabilityIsWWAN);
  }
  bool isReachableViaWiFi() const {
    auto flags = ref_->flags();
    return flags && (*flags & pf::kReachabilityReachable) && !(*flags & pf::kReachabilityIsWWAN);
  }
  bool connectionRequired() const { return has(pf::kReachabilityConnectionRequired); }
  bool isConnectionRequired() const { return connectionRequired(); }
  bool isConnectionOnDemand() const {
    auto flags = ref_->flags();
    return flags && (*flags & pf::kReachabilityConnectionRequired) &&
           (*flags & (pf::kReachabilityConnectionOnTraffic | pf::kReachabilityConnectionOnDemand));
  }
  bool isInterventionRequired() const {
    return has(pf::kReachabilityConnectionRequired | pf::kReachabilityInterventionRequired);
  }
  std::int32_t currentReachabilityStatus() const {
    if (!isReachable()) return kNotReachable;
    return isReachableViaWiFi() ? kReachableViaWiFi : kReachableViaWWAN;
  }
  pf::ReachabilityFlags reachabilityFlags() const { return ref_->flags().value_or(0); }
  // "Cellular", "WiFi" or "No Connection" from the main bundle's default string table.
  std::string currentReachabilityString() const;
  // "WR ctiCDld" style: each flag's letter when set, '-' when not.
  std::string currentReachabilityFlags() const;

  // The change callback (on the serial queue): the matching block, then the notification on
  // the main queue.
  void reachabilityChanged(pf::ReachabilityFlags flags) {
    auto self = this->shared_from_this();
    Block block = isReachableWithFlags(flags) ? reachableBlock() : unreachableBlock();
    if (block) block(*self);
    std::weak_ptr<Self> weak = self;
    pf::DispatchQueue::main()->async([weak] {
      if (auto monitor = weak.lock())
        pf::NotificationCenter::defaultCenter().post(Self::kChangedNotification, pf::AnyObject(monitor));
    });
  }

 protected:
  explicit BasicReachability(std::shared_ptr<pf::NetworkReachability> ref) : ref_(std::move(ref)) {}
  const std::shared_ptr<pf::NetworkReachability>& ref() const { return ref_; }
  void clearBlocks() {
    Block a, b;
    pf::MutexLock lock(mutex_);
    a.swap(reachableBlock_);
    b.swap(unreachableBlock_);
  }

 private:
  bool has(pf::ReachabilityFlags all) const {
    auto flags = ref_->flags();
    return flags && (*flags & all) == all;
  }

  const std::shared_ptr<pf::NetworkReachability> ref_;
  mutable pf::Mutex mutex_;
  Block reachableBlock_ PF_GUARDED_BY(mutex_);
  Block unreachableBlock_ PF_GUARDED_BY(mutex_);
  std::atomic<bool> reachableOnWWAN_{true};
  std::shared_ptr<pf::DispatchQueue> serialQueue_;
  std::shared_ptr<Self> self_;
};

std::string reachabilityStatusString(std::int32_t status);
std::string reachabilityFlagsText(pf::ReachabilityFlags flags);

template <class Self>
std::string BasicReachability<Self>::currentReachabilityString() const {
  return reachabilityStatusString(currentReachabilityStatus());
}

template <class Self>
std::string BasicReachability<Self>::currentReachabilityFlags() const {
  return reachabilityFlagsText(reachabilityFlags());
}

}  // namespace detail

class HnReachability final : public detail::BasicReachability<HnReachability> {
 public:
  static constexpr const char* kChangedNotification = kHnReachabilityChangedNotification;
  const std::shared_ptr<pf::NetworkReachability>& reachabilityRef() const { return ref(); }

 private:
  friend class detail::BasicReachability<HnReachability>;
  using BasicReachability::BasicReachability;
};

}  // namespace container
