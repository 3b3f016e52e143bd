#pragma once
// The trust decision of a TLS client: the peer's chain (DER, leaf first) evaluated by the
// platform's server trust against the system's anchors and the required name (empty: none).

#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace pf {

bool evaluatePeerTrust(const std::vector<Bytes>& chain, const std::string& peerName);

}  // namespace pf
