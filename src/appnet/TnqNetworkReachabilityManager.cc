#include "appnet/TnqNetworkReachabilityManager.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace appnet {

namespace {

void postStatus(TnqNetworkReachabilityStatus status) {
  pf::NotificationCenter::defaultCenter().post(
      kTnqNetworkingReachabilityDidChangeNotification, nullptr,
      pf::Value{{kTnqNetworkingReachabilityNotificationStatusItem, static_cast<std::int64_t>(status)}});
}

}  // namespace

std::string TnqStringFromNetworkReachabilityStatus(TnqNetworkReachabilityStatus status) {
  const char* key = "Unknown";
  switch (status) {
    case TnqNetworkReachabilityStatus::NotReachable: key = "Not Reachable"; break;
    case TnqNetworkReachabilityStatus::ReachableViaWWAN: key = "Reachable via WWAN"; break;
    case TnqNetworkReachabilityStatus::ReachableViaWiFi: key = "Reachable via WiFi"; break;
    default: break;
  }
  auto bundle = pf::Bundle::main();
  return bundle ? bundle->localizedString(key, "", "TnqNet") : std::string(key);
}

TnqNetworkReachabilityStatus TnqNetworkReachabilityStatusForFlags(pf::ReachabilityFlags flags) {
  bool reachable = flags & pf::kReachabilityReachable;
  bool needsConnection = flags & pf::kReachabilityConnectionRequired;
  bool automatic = flags & (pf::kReachabilityConnectionOnDemand | pf::kReachabilityConnectionOnTraffic);
  bool withoutUser = automatic && !(flags & pf::kReachabilityInterventionRequired);
  bool networkReachable = reachable && (!needsConnection || withoutUser);
  if (!networkReachable) return TnqNetworkReachabilityStatus::NotReachable;
  return (flags & pf::kReachabilityIsWWAN) ? TnqNetworkReachabilityStatus::ReachableViaWWAN
                                           : TnqNetworkReachabilityStatus::ReachableViaWiFi;
}

std::shared_ptr<TnqNetworkReachabilityManager> TnqNetworkReachabilityManager::sharedManager() {
  // Lives for the whole run (never torn down at exit, when the main run loop may be gone).
  static auto* shared = new std::shared_ptr<TnqNetworkReachabilityManager>([] {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    return managerForAddress(reinterpret_cast<const sockaddr*>(&zero));
  }());
  return *shared;
}

std::shared_ptr<TnqNetworkReachabilityManager> TnqNetworkReachabilityManager::managerForDomain(const std::string& domain) {
  auto ref = pf::NetworkReachability::createWithName(domain);
  if (!ref) return nullptr;
  return std::shared_ptr<TnqNetworkReachabilityManager>(new TnqNetworkReachabilityManager(std::move(ref), 3));
}

std::shared_ptr<TnqNetworkReachabilityManager> TnqNetworkReachabilityManager::managerForAddress(const sockaddr* address) {
  auto ref = pf::NetworkReachability::createWithAddress(address);
  if (!ref) return nullptr;
  return std::shared_ptr<TnqNetworkReachabilityManager>(new TnqNetworkReachabilityManager(std::move(ref), 1));
}

std::shared_ptr<TnqNetworkReachabilityManager> TnqNetworkReachabilityManager::make(
    std::shared_ptr<pf::NetworkReachability> reachability) {
  if (!reachability) return nullptr;
  return std::shared_ptr<TnqNetworkReachabilityManager>(new TnqNetworkReachabilityManager(std::move(reachability), 0));
}

TnqNetworkReachabilityManager::TnqNetworkReachabilityManager(std::shared_ptr<pf::NetworkReachability> reachability,
                                                             std::uint64_t association)
    : reachability_(std::move(reachability)), association_(association) {}

TnqNetworkReachabilityManager::~TnqNetworkReachabilityManager() {
  stopMonitoring();
  reachability_->setCallback(nullptr);
}

TnqNetworkReachabilityStatus TnqNetworkReachabilityManager::networkReachabilityStatus() const {
  pf::MutexLock lock(mutex_);
  return status_;
}

bool TnqNetworkReachabilityManager::isReachable() const { return isReachableViaWWAN() || isReachableViaWiFi(); }

bool TnqNetworkReachabilityManager::isReachableViaWWAN() const {
  return networkReachabilityStatus() == TnqNetworkReachabilityStatus::ReachableViaWWAN;
}

bool TnqNetworkReachabilityManager::isReachableViaWiFi() const {
  return networkReachabilityStatus() == TnqNetworkReachabilityStatus::ReachableViaWiFi;
}

void TnqNetworkReachabilityManager::setReachabilityStatusChangeBlock(StatusBlock block) {
  pf::MutexLock lock(mutex_);
  block_ = std::move(block);
}

void TnqNetworkReachabilityManager::setStatusChangeHook(StatusBlock hook) {
  pf::MutexLock lock(mutex_);
  hook_ = std::move(hook);
}

std::string TnqNetworkReachabilityManager::localizedNetworkReachabilityStatusString() const {
  return TnqStringFromNetworkReachabilityStatus(networkReachabilityStatus());
}

void TnqNetworkReachabilityManager::report(TnqNetworkReachabilityStatus status) {
  StatusBlock hook, block;
  {
    pf::MutexLock lock(mutex_);
    bool changed = status_ != status;
    status_ = status;
    if (changed) hook = hook_;
    block = block_;
  }
  if (hook) hook(status);
  if (block) block(status);
}

void TnqNetworkReachabilityManager::startMonitoring() {
  stopMonitoring();
  std::weak_ptr<TnqNetworkReachabilityManager> weak = weak_from_this();
  auto reportBlock = [weak](TnqNetworkReachabilityStatus status) {
    if (auto manager = weak.lock()) manager->report(status);
  };
  reachability_->setCallback([reportBlock](pf::NetworkReachability&, pf::ReachabilityFlags flags) {
    auto status = TnqNetworkReachabilityStatusForFlags(flags);
    reportBlock(status);
    pf::DispatchQueue::main()->async([status] { postStatus(status); });
  });
  reachability_->scheduleWithRunLoop(pf::RunLoop::main(), pf::kRunLoopCommonModes);
  if (association_ == 3) return;
  // The current state at once (a host name's first state comes from its first callback).
  pf::DispatchQueue::global(pf::DispatchQueue::Priority::Background)->async([self = shared_from_this(), reportBlock] {
    auto status = TnqNetworkReachabilityStatusForFlags(self->reachability_->flags().value_or(0));
    pf::DispatchQueue::main()->async([self, reportBlock, status] {
      reportBlock(status);
      postStatus(status);
    });
  });
}

void TnqNetworkReachabilityManager::stopMonitoring() {
  reachability_->unscheduleFromRunLoop(pf::RunLoop::main(), pf::kRunLoopCommonModes);
}

}  // namespace appnet
