#include "container/HnReachability.h"

#include "platform/foundation/Bundle.h"

namespace container::detail {

std::string reachabilityStatusString(std::int32_t status) {
  const char* key = status == kReachableViaWWAN ? "Cellular" : status == kReachableViaWiFi ? "WiFi" : "No Connection";
  auto bundle = pf::Bundle::main();
  return bundle ? bundle->localizedString(key, "") : std::string(key);
}

std::string reachabilityFlagsText(pf::ReachabilityFlags flags) {
  auto mark = [flags](pf::ReachabilityFlags flag, char letter) { return (flags & flag) ? letter : '-'; };
  std::string text;
  text += mark(pf::kReachabilityIsWWAN, 'W');
  text += mark(pf::kReachabilityReachable, 'R');
  text += ' ';
  text += mark(pf::kReachabilityConnectionRequired, 'c');
  text += mark(pf::kReachabilityTransientConnection, 't');
  text += mark(pf::kReachabilityInterventionRequired, 'i');
  text += mark(pf::kReachabilityConnectionOnTraffic, 'C');
  text += mark(pf::kReachabilityConnectionOnDemand, 'D');
  text += mark(pf::kReachabilityIsLocalAddress, 'l');
  text += mark(pf::kReachabilityIsDirect, 'd');
  return text;
}

}  // namespace container::detail
