#pragma once
// Reachability: whether a host name or an address can be reached, from the kernel's routes
// (rtnetlink), with change callbacks delivered on a dispatch queue or a run loop.
//
// Flags keep the platform's values. From the routes:
//  - an address is Reachable when the kernel has a route to it (not unreachable, prohibited or a
//    black hole); IsDirect when the route has no gateway; IsLocalAddress when it is one of this
//    machine's addresses (or goes out through the loopback interface); IsWWAN when the route goes
//    out through a "wwan*" interface;
//  - the zero address (0.0.0.0, ::) stands for the network in general: Reachable when a default
//    route exists;
//  - a host name is not resolved (no traffic leaves the machine): a numeric name is its address,
//    "localhost" is 127.0.0.1, any other name has the flags of the network in general.
// The flags come from a provider: the kernel's by default, or a fake installed by tests
// (FakeReachabilityProvider).
//
// Callbacks: a callback queued for delivery checks, when it runs, that the reachability object
// still exists and is still scheduled with the same callback; one queued before an
// unschedule, a callback change or the object's end is dropped.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace pf {

class DispatchQueue;

using ReachabilityFlags = std::uint32_t;
inline constexpr ReachabilityFlags kReachabilityTransientConnection = 1u << 0;
inline constexpr ReachabilityFlags kReachabilityReachable = 1u << 1;
inline constexpr ReachabilityFlags kReachabilityConnectionRequired = 1u << 2;
inline constexpr ReachabilityFlags kReachabilityConnectionOnTraffic = 1u << 3;
inline constexpr ReachabilityFlags kReachabilityInterventionRequired = 1u << 4;
inline constexpr ReachabilityFlags kReachabilityConnectionOnDemand = 1u << 5;
inline constexpr ReachabilityFlags kReachabilityIsLocalAddress = 1u << 16;
inline constexpr ReachabilityFlags kReachabilityIsDirect = 1u << 17;
inline constexpr ReachabilityFlags kReachabilityIsWWAN = 1u << 18;

// What a reachability object watches.
struct ReachabilityTarget {
  // A host name as given, or empty for an address target.
  std::string name;
  // The address (for a numeric or "localhost" name too); nullopt for other names.
  std::optional<sockaddr_storage> address;

  bool isGeneral() const;  // the network in general (zero address, or a name that is not resolved)
  std::string description() const;  // the name, or the address as text
};

class ReachabilityProvider {
 public:
  virtual ~ReachabilityProvider() = default;
  // The current flags, nullopt when they cannot be read.
  virtual std::optional<ReachabilityFlags> flags(const ReachabilityTarget& target) = 0;
  // `changed` is called (from any thread) whenever flags may have changed; nullptr stops it.
  virtual void setChangeHandler(std::function<void()> changed) = 0;
};

// A provider whose answers the test sets.
class FakeReachabilityProvider : public ReachabilityProvider {
 public:
  // Flags for targets described as `description` (ReachabilityTarget::description()); "*" for
  // every other target. Unset targets answer nullopt (flags cannot be read).
  void setFlags(const std::string& description, std::optional<ReachabilityFlags> flags);
  // Sets the flags and announces a change.
  void change(const std::string& description, std::optional<ReachabilityFlags> flags);
  void notifyChange();

  std::optional<ReachabilityFlags> flags(const ReachabilityTarget& target) override;
  void setChangeHandler(std::function<void()> changed) override;

 private:
  Mutex mutex_;
  std::map<std::string, std::optional<ReachabilityFlags>> flags_ PF_GUARDED_BY(mutex_);
  std::function<void()> changed_ PF_GUARDED_BY(mutex_);
};

class NetworkReachability : public std::enable_shared_from_this<NetworkReachability> {
 public:
  using Callback = std::function<void(NetworkReachability& target, ReachabilityFlags flags)>;

  // nullptr for an empty name, one longer than 253 bytes or one with characters no host name has.
  static std::shared_ptr<NetworkReachability> createWithName(std::string_view name);
  // nullptr for a null address or a family other than IPv4 and IPv6.
  static std::shared_ptr<NetworkReachability> createWithAddress(const sockaddr* address);

  // The provider of every reachability object (nullptr restores the kernel's).
  static void setProvider(std::shared_ptr<ReachabilityProvider> provider);
  static std::shared_ptr<ReachabilityProvider> provider();

  ~NetworkReachability();
  NetworkReachability(const NetworkReachability&) = delete;
  NetworkReachability& operator=(const NetworkReachability&) = delete;

  const ReachabilityTarget& target() const { return target_; }
  // The current flags, read synchronously; nullopt when they cannot be read.
  std::optional<ReachabilityFlags> flags() const;

  // The change callback (nullptr removes it). Always succeeds.
  bool setCallback(Callback callback);
  // Where callbacks run: a dispatch queue (nullptr removes it) or a run loop in a mode. Changes
  // are reported once scheduled; a name target also gets its current flags right after
  // scheduling (as a resolved name would). False when there is no callback to schedule.
  bool setDispatchQueue(std::shared_ptr<DispatchQueue> queue);
  bool scheduleWithRunLoop(std::shared_ptr<RunLoop> runLoop, const RunLoopMode& mode);
  bool unscheduleFromRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode);

 private:
  explicit NetworkReachability(ReachabilityTarget target);
  void scheduled(bool wasScheduled) PF_EXCLUDES(mutex_);
  void checkForChange(bool force);
  friend struct ReachabilityRegistry;

  const ReachabilityTarget target_;
  mutable Mutex mutex_;
  std::shared_ptr<Callback> callback_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<DispatchQueue> queue_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<RunLoop> runLoop_ PF_GUARDED_BY(mutex_);
  std::vector<RunLoopMode> modes_ PF_GUARDED_BY(mutex_);
  std::uint64_t generation_ PF_GUARDED_BY(mutex_) = 0;  // changes with every scheduling or callback change
  std::optional<ReachabilityFlags> lastFlags_ PF_GUARDED_BY(mutex_);
};

}  // namespace pf
