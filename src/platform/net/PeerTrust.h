#pragma once
// The trust decision of a TLS client: the peer's chain (DER, leaf first) evaluated by the
// platform's server trust as a TLS server for the required name (empty: no name), against the
// system's anchors, or only against `anchors` (DER) when some are given.

#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace pf {

bool evaluatePeerTrust(const std::vector<Bytes>& chain, const std::string& peerName,
                       const std::vector<Bytes>& anchors);

}  // namespace pf
