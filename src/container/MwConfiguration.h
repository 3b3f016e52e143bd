#pragma once
// Values of the application package's "System.plist" by key (read once, on first use), with the
// keys this system adds for start-up (see docs/resources.md):
//   "list"         array whose first entry is the server base URL
//   "probe-hosts"  array of "host:port" texts: the network probe's host and its fallback
//   "front-url"    the front-end server's base URL (ends in "/front/")
//   "parameters", "timeout"   as the package gives them
// Thread-safe.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

namespace container {

struct MwProbeHost {
  std::string host;
  std::uint16_t port = 0;
};

class MwConfiguration {
 public:
  static MwConfiguration& getInstance();

  std::optional<pf::Value> valueForKey(std::string_view key) const;
  void setValue(pf::Value value, std::string_view key);

  // "list"'s first entry when it is text.
  std::optional<std::string> serverBaseUrl() const;
  // The "probe-hosts" entries that parse as "host:port" (port 1 to 65535), in order.
  std::vector<MwProbeHost> probeHosts() const;
  // "front-url" when it is text.
  std::optional<std::string> frontUrl() const;

  // Tests: forget every value; the next use reads "System.plist" again.
  static void resetForTesting();

 private:
  MwConfiguration() = default;
  void loadLocked() const PF_REQUIRES(mutex_);
  mutable pf::Mutex mutex_;
  mutable std::optional<pf::Value> values_ PF_GUARDED_BY(mutex_);
};

}  // namespace container
