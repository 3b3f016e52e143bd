#pragma once
// Whether a host name, an address or the network in general can be reached, as a status of four
// values reported through a property (with a change hook), a block and a notification, all on
// the main thread. Over pf::NetworkReachability scheduled on the main run loop in the common modes.
//
// The report block holds the manager weakly: a callback that arrives after the manager has gone
// touches nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/Reachability.h"

namespace appnet {

enum class TnqNetworkReachabilityStatus : std::int64_t {
  Unknown = -1,
  NotReachable = 0,
  ReachableViaWWAN = 1,
  ReachableViaWiFi = 2,
};

// Posted on the main queue with no object and the status (a number) under the key below.
inline constexpr const char* kTnqNetworkingReachabilityDidChangeNotification = "com.tnq.networking.reachability.change";
inline constexpr const char* kTnqNetworkingReachabilityNotificationStatusItem = "TnqNetReachabilityNotificationStatusItem";

// The localized text of a status (string table "TnqNet"; any other value counts as unknown).
std::string TnqStringFromNetworkReachabilityStatus(TnqNetworkReachabilityStatus status);
TnqNetworkReachabilityStatus TnqNetworkReachabilityStatusForFlags(pf::ReachabilityFlags flags);

class TnqNetworkReachabilityManager : public std::enable_shared_from_this<TnqNetworkReachabilityManager> {
 public:
  using StatusBlock = std::function<void(TnqNetworkReachabilityStatus status)>;

  // Made once per process for the zero IPv4 address (the network in general).
  static std::shared_ptr<TnqNetworkReachabilityManager> sharedManager();
  // Host name (association 3); nullptr when no reference can be made.
  static std::shared_ptr<TnqNetworkReachabilityManager> managerForDomain(const std::string& domain);
  // Address (association 1); nullptr when no reference can be made.
  static std::shared_ptr<TnqNetworkReachabilityManager> managerForAddress(const sockaddr* address);
  // initWithReachability: (association 0); nullptr for no reference.
  static std::shared_ptr<TnqNetworkReachabilityManager> make(std::shared_ptr<pf::NetworkReachability> reachability);

  ~TnqNetworkReachabilityManager();
  TnqNetworkReachabilityManager(const TnqNetworkReachabilityManager&) = delete;
  TnqNetworkReachabilityManager& operator=(const TnqNetworkReachabilityManager&) = delete;

  TnqNetworkReachabilityStatus networkReachabilityStatus() const;
  bool isReachable() const;
  bool isReachableViaWWAN() const;
  bool isReachableViaWiFi() const;
  const std::shared_ptr<pf::NetworkReachability>& networkReachability() const { return reachability_; }
  std::uint64_t networkReachabilityAssociation() const { return association_; }

  void startMonitoring();
  void stopMonitoring();
  void setReachabilityStatusChangeBlock(StatusBlock block);
  std::string localizedNetworkReachabilityStatusString() const;

  // Told after every change of networkReachabilityStatus (and so of the three reachable
  // properties), with the new status; the stand-in for observing those keys.
  void setStatusChangeHook(StatusBlock hook);

 private:
  TnqNetworkReachabilityManager(std::shared_ptr<pf::NetworkReachability> reachability, std::uint64_t association);
  void report(TnqNetworkReachabilityStatus status);

  const std::shared_ptr<pf::NetworkReachability> reachability_;
  const std::uint64_t association_;
  mutable pf::Mutex mutex_;
  TnqNetworkReachabilityStatus status_ PF_GUARDED_BY(mutex_) = TnqNetworkReachabilityStatus::Unknown;
  StatusBlock block_ PF_GUARDED_BY(mutex_);
  StatusBlock hook_ PF_GUARDED_BY(mutex_);
};

}  // namespace appnet
