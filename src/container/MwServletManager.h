#pragma once
// The registry from servlet names ("chart.do") to servlet classes. Classes are known by name in
// pf::ClassRegistry<MwServlet> (filled by registration functions); the manager keeps the class name
// under the servlet name and makes a new instance per page call. Thread-safe.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "container/MwServlet.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace container {

using MwServletClasses = pf::ClassRegistry<MwServlet>;

// The servlet name every server call goes to.
inline constexpr const char* kServerServletName = "server.do";

class MwServletManager {
 public:
  static MwServletManager& getInstance();

  // Keeps the class name under the servlet name (replacing an earlier entry) when a servlet class of
  // that name is known; otherwise does nothing. Answers whether it registered.
  bool registerServletWithName(const std::string& name, const std::string& servletClass);
  void unregisterServletNamed(const std::string& name);
  // The class name registered under the servlet name.
  std::optional<std::string> classNameForServlet(const std::string& name) const;

  // A new instance for a call: the servlet registered under the name for a client call (scheme 1),
  // the one under "server.do" for a server call (scheme 2); null when none is registered.
  std::shared_ptr<MwServlet> getServletWithName(const std::string& name, int scheme) const;

  // Tests: no servlet names (the known classes stay).
  static void resetForTesting();

 private:
  MwServletManager() = default;
  mutable pf::Mutex mutex_;
  std::map<std::string, std::string, std::less<>> servlets_ PF_GUARDED_BY(mutex_);
};

// Makes the container's own servlet classes known by name ("MwServerServlet"). Idempotent.
void registerContainerServletClasses();

}  // namespace container
