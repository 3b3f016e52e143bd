#include "platform/net/PeerTrust.h"

namespace pf {

bool evaluatePeerTrust(const std::vector<Bytes>&, const std::string&) {
  return false;  // nothing is trusted until the platform's trust evaluation is wired in
}

}  // namespace pf
